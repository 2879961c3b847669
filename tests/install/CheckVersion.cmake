# Runs an installed PROGRAM with --version, without a display, and expects the
# one line EXPECTED on standard output, nothing on standard error and status 0.
# Usage: cmake -DPROGRAM=... -DEXPECTED=... -P CheckVersion.cmake
cmake_minimum_required(VERSION 3.25)

execute_process(
    COMMAND "${CMAKE_COMMAND}" -E env --unset=DISPLAY --unset=WAYLAND_DISPLAY
            QT_QPA_PLATFORM=xcb "${PROGRAM}" --version
    RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE errors)
if(NOT result STREQUAL "0")
    message(FATAL_ERROR "${PROGRAM} --version ended with ${result}:\n${errors}")
endif()
if(NOT output STREQUAL "${EXPECTED}\n")
    message(FATAL_ERROR "${PROGRAM} --version printed \"${output}\", expected \"${EXPECTED}\"")
endif()
if(NOT errors STREQUAL "")
    message(FATAL_ERROR "${PROGRAM} --version wrote to standard error:\n${errors}")
endif()
