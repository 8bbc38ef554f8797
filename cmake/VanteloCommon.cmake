# vantelo_common: the settings every target of the program takes, in the main
# build and in the fuzz targets' own build alike: C++20, Qt's strict string
# and connection rules, warnings as errors, and the sources' include folder.
function(vantelo_add_common version)
    add_library(vantelo_common INTERFACE)
    target_compile_features(vantelo_common INTERFACE cxx_std_20)
    target_compile_definitions(vantelo_common INTERFACE
        QT_NO_CAST_FROM_ASCII
        QT_NO_CAST_TO_ASCII
        QT_NO_CONTEXTLESS_CONNECT
        QT_NO_FOREACH
        VANTELO_VERSION="${version}")
    target_compile_options(vantelo_common INTERFACE -Wall -Wextra -Wpedantic -Werror -Wold-style-cast)
    target_include_directories(vantelo_common INTERFACE ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/../src)
endfunction()
