# Checks every include of src/ and tools/ against the targets' links.
#
# TARGETS names a file, written by file(GENERATE) at the build's generation,
# that calls layer_target(NAME SOURCE_DIR SOURCES LINKS) once for each target
# built from src/ or tools/ and sets project_dir to the folder those sources
# came from. LAYERS is the order of the folders, from the bottom up; a folder
# is the first folder under src/ or tools/ (tools' own files form the folder
# "tools"), named as includes name it. SOURCE_DIR is the tree to check, the
# project's own or a copy of it.
#
# A file may include headers of its own folder, of lower folders built into
# the same target, and of the folders of every target its target links,
# directly or through others. The order must agree with the links: a target's
# folders rank above those of every target it links. Includes of the
# project's folders are written "folder/File.hpp": never with "../", never in
# angle brackets, so that every include names the folder it reaches into.
cmake_minimum_required(VERSION 3.25) # for the policies of if(IN_LIST) and list()
set(layers ${LAYERS})
set(roots src tools)

# The folder a path relative to the project lies in, or "" outside src/ and tools/.
function(folder_of relative out)
    set(folder "")
    if(relative MATCHES "^([^/]+)/(.*)$" AND CMAKE_MATCH_1 IN_LIST roots)
        set(root ${CMAKE_MATCH_1})
        if(CMAKE_MATCH_2 MATCHES "^([^/]+)/")
            set(folder ${CMAKE_MATCH_1})
        else()
            set(folder ${root})
        endif()
    endif()
    set(${out} "${folder}" PARENT_SCOPE)
endfunction()

set(all_targets "")
function(layer_target name source_dir sources links)
    set(folders "")
    foreach(source ${sources})
        if(NOT IS_ABSOLUTE "${source}")
            set(source "${source_dir}/${source}")
        endif()
        file(RELATIVE_PATH relative "${project_dir}" "${source}")
        folder_of("${relative}" folder)
        if(folder)
            list(APPEND folders ${folder})
            set_property(GLOBAL APPEND PROPERTY "targets_of_${folder}" ${name})
        endif()
    endforeach()
    list(REMOVE_DUPLICATES folders)
    set_property(GLOBAL PROPERTY "folders_of_${name}" ${folders})
    set_property(GLOBAL PROPERTY "links_of_${name}" ${links})
    set_property(GLOBAL APPEND PROPERTY all_targets ${name})
endfunction()

include(${TARGETS})
get_property(all_targets GLOBAL PROPERTY all_targets)

# The targets a target links, directly or through others, itself not included.
function(reachable_from target out)
    set(reached "")
    set(pending ${target})
    while(pending)
        list(POP_FRONT pending current)
        get_property(links GLOBAL PROPERTY "links_of_${current}")
        foreach(link ${links})
            if(link IN_LIST all_targets AND NOT link IN_LIST reached AND NOT link STREQUAL target)
                list(APPEND reached ${link})
                list(APPEND pending ${link})
            endif()
        endforeach()
    endwhile()
    set(${out} "${reached}" PARENT_SCOPE)
endfunction()

foreach(target ${all_targets})
    reachable_from(${target} reached)
    set_property(GLOBAL PROPERTY "reached_from_${target}" ${reached})
    # The order against the links.
    get_property(own_folders GLOBAL PROPERTY "folders_of_${target}")
    foreach(linked ${reached})
        get_property(linked_folders GLOBAL PROPERTY "folders_of_${linked}")
        foreach(own ${own_folders})
            list(FIND layers ${own} own_rank)
            foreach(below ${linked_folders})
                list(FIND layers ${below} below_rank)
                # A folder may be in two targets, the program and its library.
                if(own_rank GREATER_EQUAL 0 AND below_rank GREATER_EQUAL own_rank
                   AND NOT below STREQUAL own)
                    message(SEND_ERROR "the order puts ${below} at or above ${own}, yet "
                        "${target} (${own}) links ${linked} (${below})")
                endif()
            endforeach()
        endforeach()
    endforeach()
endforeach()

# The folders a file in folder may include.
function(allowed_for folder out)
    list(FIND layers ${folder} rank)
    get_property(targets GLOBAL PROPERTY "targets_of_${folder}")
    set(allowed ${folder})
    foreach(target ${targets})
        get_property(same GLOBAL PROPERTY "folders_of_${target}")
        foreach(other ${same})
            list(FIND layers ${other} other_rank)
            if(other_rank LESS rank)
                list(APPEND allowed ${other})
            endif()
        endforeach()
        get_property(reached GLOBAL PROPERTY "reached_from_${target}")
        foreach(linked ${reached})
            get_property(linked_folders GLOBAL PROPERTY "folders_of_${linked}")
            list(APPEND allowed ${linked_folders})
        endforeach()
    endforeach()
    set(${out} "${allowed}" PARENT_SCOPE)
endfunction()

set(project_folders "")
foreach(target ${all_targets})
    get_property(folders GLOBAL PROPERTY "folders_of_${target}")
    list(APPEND project_folders ${folders})
endforeach()
list(REMOVE_DUPLICATES project_folders)

set(sources "")
foreach(root ${roots})
    file(GLOB_RECURSE found ${SOURCE_DIR}/${root}/*.cpp ${SOURCE_DIR}/${root}/*.hpp)
    list(APPEND sources ${found})
endforeach()
set(checked_folders "")
foreach(file ${sources})
    file(RELATIVE_PATH shown ${SOURCE_DIR} ${file})
    folder_of("${shown}" folder)
    if(NOT folder IN_LIST project_folders)
        message(SEND_ERROR "${shown}: its folder ${folder} is built into no target")
        continue()
    endif()
    if(NOT folder IN_LIST layers)
        message(SEND_ERROR "${shown}: its folder ${folder} has no place in the layer order")
        continue()
    endif()
    list(APPEND checked_folders ${folder})
    allowed_for(${folder} allowed)
    file(STRINGS ${file} includes REGEX "^[ \t]*#[ \t]*include")
    foreach(line ${includes})
        if(line MATCHES "^[ \t]*#[ \t]*include[ \t]*[\"<]\\.\\.?/")
            message(SEND_ERROR "${shown} includes with a relative path: ${line}")
        elseif(line MATCHES "^[ \t]*#[ \t]*include[ \t]*<([^/>]+)/"
               AND CMAKE_MATCH_1 IN_LIST project_folders)
            message(SEND_ERROR "${shown} includes the project's own header in angle brackets: ${line}")
        elseif(line MATCHES "^[ \t]*#[ \t]*include[ \t]*\"([^/\"]+)/"
               AND CMAKE_MATCH_1 IN_LIST project_folders
               AND NOT CMAKE_MATCH_1 IN_LIST allowed)
            set(used ${CMAKE_MATCH_1})
            list(FIND layers ${folder} own_rank)
            list(FIND layers ${used} used_rank)
            get_property(own_targets GLOBAL PROPERTY "targets_of_${folder}")
            get_property(used_targets GLOBAL PROPERTY "targets_of_${used}")
            list(REMOVE_DUPLICATES own_targets)
            list(REMOVE_DUPLICATES used_targets)
            list(JOIN own_targets ", " own_targets)
            list(JOIN used_targets ", " used_targets)
            if(used_rank GREATER own_rank)
                message(SEND_ERROR "${shown} includes a higher layer: ${line}")
            else()
                message(SEND_ERROR "${shown} includes ${used} (${used_targets}), which its "
                    "target (${own_targets}) does not link: ${line}")
            endif()
        endif()
    endforeach()
endforeach()

foreach(layer ${layers})
    if(NOT layer IN_LIST checked_folders)
        message(SEND_ERROR "no sources in the layer ${layer}")
    endif()
endforeach()
message(STATUS "every include keeps to its layer and its target's links")
