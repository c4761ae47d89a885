# Installation in the standard places, and a .deb package that pulls in Qt and a Japanese font.
include(GNUInstallDirs)

install(TARGETS corvalin RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/data/corvalin.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/data/corvalin.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(DIRECTORY ${CMAKE_BINARY_DIR}/icons/ DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME corvalin)
set(CPACK_PACKAGE_VENDOR "Corvalin developers")
set(CPACK_PACKAGE_CONTACT "Corvalin developers <corvalin@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Gathers downloaded pictures into one folder under serial numbers")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The xcb platform plugin and the JPEG reader come with libqt6gui6; the captions need a Japanese font.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6gui6, fonts-noto-cjk | fonts-ipafont-gothic | fonts-vlgothic")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)
