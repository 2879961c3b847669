# Checks that no source includes a layer above its own. The layers of src/,
# from the bottom up, are in LAYERS; a file may include headers of its own
# layer and of those below it. The tools stand above every layer but the
# window. SOURCE_DIR is the project's source folder.
set(layers ${LAYERS})
list(LENGTH layers layer_count)

function(check_file file own_rank)
    file(STRINGS ${file} includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
    foreach(line ${includes})
        if(line MATCHES "\"([^/\"]+)/")
            list(FIND layers "${CMAKE_MATCH_1}" rank)
            if(rank GREATER own_rank)
                file(RELATIVE_PATH shown ${SOURCE_DIR} ${file})
                message(SEND_ERROR "${shown} includes a higher layer: ${line}")
            endif()
        endif()
    endforeach()
endfunction()

set(rank 0)
foreach(layer ${layers})
    file(GLOB_RECURSE sources ${SOURCE_DIR}/src/${layer}/*.cpp ${SOURCE_DIR}/src/${layer}/*.hpp)
    if(NOT sources)
        message(SEND_ERROR "no sources in the layer ${layer}")
    endif()
    foreach(file ${sources})
        check_file(${file} ${rank})
    endforeach()
    math(EXPR rank "${rank} + 1")
endforeach()

file(GLOB_RECURSE tool_sources ${SOURCE_DIR}/tools/*.cpp ${SOURCE_DIR}/tools/*.hpp)
list(FIND layers app app_rank)
math(EXPR below_app "${app_rank} - 1")
foreach(file ${tool_sources})
    check_file(${file} ${below_app})
endforeach()
message(STATUS "every include keeps to its layer")
