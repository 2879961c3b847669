# Installs the build in BUILD_DIR into PREFIX, which is emptied first so that
# nothing from an earlier run can pass for an installed file.
# Usage: cmake -DBUILD_DIR=... -DPREFIX=... -P InstallTree.cmake
cmake_minimum_required(VERSION 3.25)

file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
    RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "cmake --install failed: ${result}")
endif()
