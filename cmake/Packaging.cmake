# Installation in the standard places, and a .deb package that pulls in Qt and a Japanese font and
# that the distribution's package checker accepts as it stands.
include(GNUInstallDirs)

set(CORVALIN_MAINTAINER "Corvalin developers <developers@corvalin.example.org>")

# The version is set once, in the project() call; the changelog and the AppStream release must
# name it too, or the package would describe another version than it holds.
file(STRINGS ${PROJECT_SOURCE_DIR}/data/debian/changelog changelog_top LIMIT_COUNT 1)
file(READ ${PROJECT_SOURCE_DIR}/data/${CORVALIN_ID}.metainfo.xml metainfo)
if(NOT changelog_top MATCHES "^corvalin \\(${PROJECT_VERSION}\\) "
   OR NOT metainfo MATCHES "<release version=\"${PROJECT_VERSION}\"")
    message(FATAL_ERROR "data/debian/changelog and the AppStream release must name version ${PROJECT_VERSION} first")
endif()

# Documentation is compressed as Debian policy asks: maximum compression, no time stamp inside.
find_program(GZIP gzip REQUIRED)
function(corvalin_gzip source output)
    add_custom_command(OUTPUT ${output}
        COMMAND ${GZIP} -9n -c ${source} > ${output}
        DEPENDS ${source}
        COMMENT "Compressing ${source}")
endfunction()
corvalin_gzip(${PROJECT_SOURCE_DIR}/data/corvalin.1 ${CMAKE_BINARY_DIR}/corvalin.1.gz)
corvalin_gzip(${PROJECT_SOURCE_DIR}/data/debian/changelog ${CMAKE_BINARY_DIR}/changelog.gz)
add_custom_target(corvalin_docs ALL DEPENDS ${CMAKE_BINARY_DIR}/corvalin.1.gz ${CMAKE_BINARY_DIR}/changelog.gz)

install(TARGETS corvalin RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/data/${CORVALIN_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/data/${CORVALIN_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${PROJECT_SOURCE_DIR}/data/corvalin.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(DIRECTORY ${CMAKE_BINARY_DIR}/icons/ DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor)
install(FILES ${CMAKE_BINARY_DIR}/corvalin.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_BINARY_DIR}/changelog.gz ${PROJECT_SOURCE_DIR}/data/debian/copyright
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/corvalin)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME corvalin)
set(CPACK_PACKAGE_VENDOR "Corvalin developers")
set(CPACK_PACKAGE_CONTACT ${CORVALIN_MAINTAINER})
set(CPACK_PACKAGE_HOMEPAGE_URL "https://corvalin.example.org/")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Gathers downloaded pictures into one folder under serial numbers")
set(CPACK_PACKAGE_DESCRIPTION
    "For people who download pictures into many child folders of one parent folder:
with one click Corvalin gathers every picture (JPEG and BMP) from all those
folders into one destination folder, each under a running six-digit serial
number, and puts the files that are not pictures and, if asked, the emptied
folders in the Trash. It can strip those serial numbers again and prepares
numbered, empty download folders. Its interface is Japanese.

Corvalin never replaces a file, and any failure stops the run with a message
that names the file and the reason. The command line (corvalin gather,
corvalin strip) runs the same engine without a window, for scripts and timers.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The libraries the program links (Qt Network among them, through which a second start reaches
# the running window, and Qt D-Bus, which sends the notification at the end of a long run) are
# found by dpkg-shlibdeps. The xcb platform plugin and the JPEG reader come
# with libqt6gui6, which it finds too; the captions need a Japanese font, and the previews of WebP
# and TIFF pictures the readers of the image-format plugins.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-noto-cjk | fonts-ipafont-gothic | fonts-vlgothic, qt6-image-formats-plugins")
# The system's reasons inside the Japanese messages ("許可がありません") come from the C library's
# own translations, which Debian ships apart.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libc-l10n")
# The program is stripped and its debug symbols go into a package of their own (-dbgsym), which
# needs a build with them (RelWithDebInfo); a build without gets a plainly stripped program.
if(CMAKE_BUILD_TYPE MATCHES "^(RelWithDebInfo|Debug)$")
    set(CPACK_DEBIAN_DEBUGINFO_PACKAGE ON)
else()
    set(CPACK_STRIP_FILES ON)
endif()
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)
