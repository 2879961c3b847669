# Plants each kind of fault the layer check must find into a copy of the
# tree (or, for the order, gives it a wrong order) and expects the check
# (CHECK) to fail with the fault's own message. LAYERS, TARGETS and
# SOURCE_DIR are the real check's; WORK_DIR holds the copy, which passes
# the check before anything is planted.
cmake_minimum_required(VERSION 3.25) # for the policies of if(IN_LIST) and list()

#   name | planted file | its include | another order | what the check says
set(faults
    "higher layer in the same target|src/boxes/Planted.hpp|#include \"drawing/DrawingFrame.hpp\"||includes a higher layer"
    "higher layer in another target|src/image/Planted.cpp|#include \"app/MainWindow.hpp\"||includes a higher layer"
    "relative include|src/base/Planted.hpp|#include \"../app/Explorer.hpp\"||includes with a relative path"
    "relative include of its own folder|src/app/Planted.cpp|  #  include \"../app/Explorer.hpp\"||includes with a relative path"
    "angle brackets|src/base/Planted.hpp|#include <app/Explorer.hpp>||in angle brackets"
    "angle brackets from the tools|tools/cli/Planted.cpp|#include <image/PngFile.hpp>||in angle brackets"
    "a lower folder not linked|src/video/Planted.cpp|#include \"image/ImagePlan.hpp\"||includes image \\(spirell_image\\), which its target \\(spirell_video[,)]"
    "the tools reach into the window|tools/cli/Planted.hpp|#include \"app/MainWindow.hpp\"||which its target \\(spirell_render_tool\\) does not link"
    "a folder of no target|src/stray/Planted.hpp|#include \"base/Errors.hpp\"||built into no target"
    "an order against the links|||base boxes formulas lanes drawing image files video animation app cli tools|the order puts files at or above image, yet spirell_image \\(image\\) links spirell_files"
)

set(tree ${WORK_DIR}/tree)
file(REMOVE_RECURSE ${tree})
file(COPY ${SOURCE_DIR}/src ${SOURCE_DIR}/tools DESTINATION ${tree})
execute_process(
    COMMAND ${CMAKE_COMMAND} "-DLAYERS=${LAYERS}" -DTARGETS=${TARGETS} -DSOURCE_DIR=${tree} -P ${CHECK}
    RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "the copy fails the check before anything is planted:\n${output}")
endif()

set(failures 0)
foreach(fault ${faults})
    string(REPLACE "|" ";" fields "${fault}")
    list(GET fields 0 name)
    list(GET fields 1 planted)
    list(GET fields 2 include)
    list(GET fields 3 order)
    list(GET fields 4 expected)
    if(order)
        string(REPLACE " " ";" order "${order}")
    else()
        set(order ${LAYERS})
    endif()

    if(planted)
        file(WRITE ${tree}/${planted} "#pragma once\n\n${include}\n")
    endif()
    execute_process(
        COMMAND ${CMAKE_COMMAND} "-DLAYERS=${order}" -DTARGETS=${TARGETS}
                -DSOURCE_DIR=${tree} -P ${CHECK}
        RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
    string(REGEX REPLACE "[ \t\n]+" " " flat "${output}")
    if(result EQUAL 0)
        message(SEND_ERROR "${name}: the check passed")
        math(EXPR failures "${failures} + 1")
    elseif(NOT flat MATCHES "${expected}")
        message(SEND_ERROR "${name}: the check failed, but not with \"${expected}\":\n${output}")
        math(EXPR failures "${failures} + 1")
    else()
        message(STATUS "${name}: refused")
    endif()
    if(planted)
        file(REMOVE_RECURSE ${tree}/${planted})
    endif()
endforeach()

file(REMOVE_RECURSE ${tree})
if(failures GREATER 0)
    message(FATAL_ERROR "${failures} planted faults passed the layer check or failed it for another reason")
endif()
