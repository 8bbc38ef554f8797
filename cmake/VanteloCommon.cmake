# vantelo_common: the settings every target of the program takes, in the main
# build and in the fuzz targets' own build alike: C++20, Qt's strict string
# rules, warnings as errors, the version (the project's, its one source) and
# the sources' include folder.
function(vantelo_add_common version)
    # A build with no version of its own (the fuzz targets') is version 0.0.0.
    set(major 0)
    set(minor 0)
    set(patch 0)
    if(version MATCHES "^([0-9]+)\\.([0-9]+)\\.([0-9]+)")
        set(major ${CMAKE_MATCH_1})
        set(minor ${CMAKE_MATCH_2})
        set(patch ${CMAKE_MATCH_3})
    endif()
    add_library(vantelo_common INTERFACE)
    target_compile_features(vantelo_common INTERFACE cxx_std_20)
    target_compile_definitions(vantelo_common INTERFACE
        QT_NO_CAST_FROM_ASCII
        QT_NO_CAST_TO_ASCII
        QT_NO_FOREACH
        VANTELO_VERSION="${version}"
        VANTELO_VERSION_MAJOR=${major}
        VANTELO_VERSION_MINOR=${minor}
        VANTELO_VERSION_PATCH=${patch})
    target_compile_options(vantelo_common INTERFACE -Wall -Wextra -Wpedantic -Werror -Wold-style-cast)
    target_include_directories(vantelo_common INTERFACE ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/../src)
endfunction()
