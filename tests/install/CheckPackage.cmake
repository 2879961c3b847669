# Builds the Debian package of the build in BUILD_DIR with cpack, in WORK_DIR,
# and checks it: it holds the files of the install tree under /usr, with the
# manual pages compressed and the copyright and changelog a Debian package
# has, its dependencies name the libraries dpkg-shlibdeps found as well as
# what the programs only load at run time, and Debian's package checker,
# lintian, finds neither errors nor warnings.
# Usage: cmake -DCPACK=... -DBUILD_DIR=... -DWORK_DIR=... -DEXPECTED=...
#              -DPACKAGE=... -DVERSION=... -DDOCDIR=... -DLINTIAN=... -P CheckPackage.cmake
cmake_minimum_required(VERSION 3.25)

file(REMOVE_RECURSE "${WORK_DIR}")
execute_process(COMMAND "${CPACK}" -G DEB -B "${WORK_DIR}" --config "${BUILD_DIR}/CPackConfig.cmake"
    RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "cpack failed:\n${output}")
endif()
file(GLOB packages "${WORK_DIR}/*.deb")
list(LENGTH packages count)
if(NOT count EQUAL 1)
    message(FATAL_ERROR "cpack made ${count} packages: ${packages}")
endif()
get_filename_component(name "${packages}" NAME)
if(NOT name MATCHES "^${PACKAGE}_${VERSION}_[a-z0-9]+\\.deb$")
    message(FATAL_ERROR "the package is called ${name}")
endif()

set(problems "")
macro(problem text)
    string(APPEND problems "  ${text}\n")
endmacro()

function(field name result)
    execute_process(COMMAND dpkg-deb --field "${packages}" ${name}
        OUTPUT_VARIABLE value OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
    set(${result} "${value}" PARENT_SCOPE)
endfunction()

field(Package package)
field(Version version)
if(NOT package STREQUAL PACKAGE OR NOT version STREQUAL VERSION)
    problem("the package is ${package} ${version}, not ${PACKAGE} ${VERSION}")
endif()

# C and Qt's widgets, libpng and SLEEF show that dpkg-shlibdeps ran, and
# FFmpeg's libraries that it read the video module too; the SVG icon engine
# and xdg-open are loaded or started at run time only.
field(Depends depends)
foreach(needed libc6 libqt6widgets6 libpng16-16 libsleef[0-9]+ libavcodec[0-9]+ libavformat[0-9]+
        libqt6svg6 xdg-utils)
    if(NOT depends MATCHES "(^|, )${needed}[a-z0-9]*( |,|$)")
        problem("Depends lacks ${needed}: ${depends}")
    endif()
endforeach()
if(depends MATCHES "-dev( |,|$)")
    problem("Depends names a development package: ${depends}")
endif()

# The same files as the install tree, under /usr, and the programs executable.
execute_process(COMMAND dpkg-deb --contents "${packages}"
    OUTPUT_VARIABLE listing COMMAND_ERROR_IS_FATAL ANY)
string(REPLACE "\n" ";" listing "${listing}")
set(files "")
foreach(line ${listing})
    if(line MATCHES "^(-[^ ]+) +root/root +[0-9]+ [^ ]+ [^ ]+ \\./(.*)$")
        set(mode "${CMAKE_MATCH_1}")
        set(path "${CMAKE_MATCH_2}")
        list(APPEND files "${path}")
        if(path MATCHES "^usr/bin/" AND NOT mode STREQUAL "-rwxr-xr-x")
            problem("${path} has mode ${mode}")
        endif()
    elseif(line MATCHES "^-")
        problem("not a root-owned file: ${line}")
    endif()
endforeach()
file(STRINGS "${EXPECTED}" expected)
list(TRANSFORM expected REPLACE "(/man1/.*\\.1)$" "\\1.gz")
list(APPEND expected "${DOCDIR}/copyright" "${DOCDIR}/changelog.gz")
list(TRANSFORM expected PREPEND "usr/")
list(SORT expected)
list(SORT files)
if(NOT files STREQUAL expected)
    problem("the package holds\n    ${files}\n  instead of\n    ${expected}")
endif()

execute_process(COMMAND "${LINTIAN}" "${packages}" OUTPUT_VARIABLE findings ERROR_VARIABLE ignored
    RESULT_VARIABLE result)
string(REGEX MATCHALL "(^|\n)[EW]: [^\n]*" flagged "${findings}")
if(flagged OR NOT result EQUAL 0)
    problem("lintian (status ${result}) found:${flagged}")
endif()

if(problems)
    message(FATAL_ERROR "The package ${name} has problems:\n${problems}")
endif()
