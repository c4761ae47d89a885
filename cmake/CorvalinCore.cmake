# Stops the configuration when a source file of `target` has an include that matches `pattern`
# (a regular expression for the part after the opening < or "); `rule` says why it may not.
function(corvalin_refuse_includes target pattern rule)
    get_target_property(sources ${target} SOURCES)
    get_target_property(source_dir ${target} SOURCE_DIR)
    foreach(source IN LISTS sources)
        cmake_path(ABSOLUTE_PATH source BASE_DIRECTORY "${source_dir}" OUTPUT_VARIABLE file)
        file(STRINGS "${file}" includes REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"]${pattern}")
        if(includes)
            message(FATAL_ERROR "${file} belongs to ${target}, which ${rule}: ${includes}")
        endif()
    endforeach()
endfunction()

# The rules and the runs live in libraries that link no Qt, so they can be tested and benchmarked
# without a window. Those libraries get no Qt include path, so a Qt include there does not compile;
# this check says so in plain words at configure time, before the compiler does.
function(corvalin_forbid_qt target)
    corvalin_refuse_includes(${target} "(Q[A-Za-z]|qt)" "must not use Qt")
    get_target_property(libs ${target} LINK_LIBRARIES)
    foreach(lib IN LISTS libs)
        if(lib MATCHES "^Qt")
            message(FATAL_ERROR "${target} must not link ${lib}")
        endif()
    endforeach()
endfunction()

# The command line needs no display: it links Qt Core and nothing else of Qt, and uses no widget
# code. Only Qt Core's include path reaches it, so a widget include does not compile either.
function(corvalin_allow_only_qt_core target)
    corvalin_refuse_includes(${target} "[a-z]+/ui/" "must not use widget code")
    get_target_property(libs ${target} LINK_LIBRARIES)
    foreach(lib IN LISTS libs)
        if(lib MATCHES "^Qt" AND NOT lib STREQUAL "Qt6::Core")
            message(FATAL_ERROR "${target} must not link ${lib}: it runs without a display")
        endif()
    endforeach()
endfunction()
