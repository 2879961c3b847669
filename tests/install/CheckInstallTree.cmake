# Checks an install tree: it holds exactly the files listed in EXPECTED, and
# they fit together: the desktop entry starts an installed program and names
# an installed icon, the AppStream data names the desktop entry and the
# project's version, both manual pages carry that version, and the licence and
# spirell-render's page are those of the source tree.
# Usage: cmake -DPREFIX=... -DEXPECTED=... -DSOURCE_DIR=... -DAPP_ID=...
#              -DVERSION=... -DBINDIR=... -DMANDIR=... -DDATADIR=... -DDOCDIR=...
#              -P CheckInstallTree.cmake
cmake_minimum_required(VERSION 3.25)

set(problems "")
macro(problem text)
    string(APPEND problems "  ${text}\n")
endmacro()

# Exactly the expected files, so that nothing is lost or installed by mistake.
file(STRINGS "${EXPECTED}" expected)
file(GLOB_RECURSE installed LIST_DIRECTORIES false RELATIVE "${PREFIX}" "${PREFIX}/*")
foreach(path ${expected})
    if(NOT path IN_LIST installed)
        problem("missing: ${path}")
    endif()
endforeach()
foreach(path ${installed})
    if(NOT path IN_LIST expected)
        problem("not expected: ${path}")
    endif()
endforeach()

# No placeholder left unsubstituted in a generated file.
foreach(path ${MANDIR}/man1/spirell.1 ${MANDIR}/man1/spirell-render.1
             ${DATADIR}/metainfo/${APP_ID}.metainfo.xml)
    if(EXISTS "${PREFIX}/${path}")
        file(READ "${PREFIX}/${path}" text)
        if(text MATCHES "@[A-Za-z_]+@")
            problem("${path} still holds ${CMAKE_MATCH_0}")
        endif()
    endif()
endforeach()

set(desktop "${PREFIX}/${DATADIR}/applications/${APP_ID}.desktop")
if(EXISTS "${desktop}")
    file(STRINGS "${desktop}" lines)
    set(exec "")
    set(icon "")
    foreach(line ${lines})
        if(line MATCHES "^Exec=([^ ]+)")
            set(exec "${CMAKE_MATCH_1}")
        elseif(line MATCHES "^Icon=(.+)$")
            set(icon "${CMAKE_MATCH_1}")
        endif()
    endforeach()
    if(NOT EXISTS "${PREFIX}/${BINDIR}/${exec}")
        problem("the desktop entry starts \"${exec}\", which is not in ${BINDIR}")
    endif()
    if(NOT icon STREQUAL APP_ID)
        problem("the desktop entry's icon is \"${icon}\", not the desktop id ${APP_ID}")
    endif()
    if(NOT EXISTS "${PREFIX}/${DATADIR}/icons/hicolor/scalable/apps/${icon}.svg")
        problem("the desktop entry's icon \"${icon}\" is not installed")
    endif()
endif()

set(metainfo "${PREFIX}/${DATADIR}/metainfo/${APP_ID}.metainfo.xml")
if(EXISTS "${metainfo}")
    file(READ "${metainfo}" text)
    if(NOT text MATCHES "<id>([^<]*)</id>" OR NOT CMAKE_MATCH_1 STREQUAL APP_ID)
        problem("the AppStream id is \"${CMAKE_MATCH_1}\", not ${APP_ID}")
    endif()
    set(launchable "")
    if(text MATCHES "<launchable type=\"desktop-id\">([^<]*)</launchable>")
        set(launchable "${CMAKE_MATCH_1}")
    endif()
    if(NOT launchable OR NOT EXISTS "${PREFIX}/${DATADIR}/applications/${launchable}")
        problem("the AppStream data launches \"${launchable}\", not an installed desktop entry")
    endif()
    if(NOT text MATCHES "<release version=\"([^\"]*)\" date=\"[0-9]+-[0-9]+-[0-9]+\""
       OR NOT CMAKE_MATCH_1 STREQUAL VERSION)
        problem("the AppStream release is \"${CMAKE_MATCH_1}\", not ${VERSION} with a date")
    endif()
endif()

foreach(page spirell.1 spirell-render.1)
    set(path "${PREFIX}/${MANDIR}/man1/${page}")
    if(EXISTS "${path}")
        file(STRINGS "${path}" title REGEX "^\\.TH ")
        if(NOT title MATCHES "\"Vortica Spirell ${VERSION}\"")
            problem("${page} has the title line \"${title}\", without version ${VERSION}")
        endif()
    endif()
endforeach()

# Apart from the version in the title line, spirell-render's page is installed
# as written.
function(without_title path result)
    file(READ "${path}" text)
    string(REGEX REPLACE "(^|\n)\\.TH [^\n]*" "\\1" text "${text}")
    set(${result} "${text}" PARENT_SCOPE)
endfunction()
if(EXISTS "${PREFIX}/${MANDIR}/man1/spirell-render.1")
    without_title("${PREFIX}/${MANDIR}/man1/spirell-render.1" installed_page)
    without_title("${SOURCE_DIR}/docs/spirell-render.1" source_page)
    if(NOT installed_page STREQUAL source_page)
        problem("the installed spirell-render.1 differs from docs/spirell-render.1")
    endif()
endif()

if(EXISTS "${PREFIX}/${DOCDIR}/LICENSE")
    file(READ "${PREFIX}/${DOCDIR}/LICENSE" installed_licence)
    file(READ "${SOURCE_DIR}/LICENSE" source_licence)
    if(NOT installed_licence STREQUAL source_licence)
        problem("the installed LICENSE differs from the source tree's")
    endif()
endif()

if(problems)
    message(FATAL_ERROR "The install tree in ${PREFIX} has problems:\n${problems}")
endif()
