# Checks the object file of each instruction-set width: its only global
# symbol is its own kernel table, it defines no weak symbol the linker could
# take for another width's, and it holds no fused multiply-add instruction.
# WIDTHS is a list of name=object pairs; NM and OBJDUMP are the tools.
foreach(pair ${WIDTHS})
    string(REPLACE "=" ";" parts "${pair}")
    list(GET parts 0 name)
    list(GET parts 1 object)
    execute_process(COMMAND ${NM} --defined-only --extern-only -C ${object}
                    OUTPUT_VARIABLE symbols RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "nm failed on ${object}")
    endif()
    string(STRIP "${symbols}" symbols)
    string(REGEX REPLACE "\n" ";" lines "${symbols}")
    foreach(line ${lines})
        if(NOT line MATCHES " T spirell::lanes::${name}::kernels\\(\\)$")
            message(FATAL_ERROR "${name}: unexpected symbol ${line}")
        endif()
    endforeach()
    list(LENGTH lines count)
    if(NOT count EQUAL 1)
        message(FATAL_ERROR "${name}: expected one global symbol, found ${count}")
    endif()
    execute_process(COMMAND ${OBJDUMP} -d --no-show-raw-insn ${object}
                    OUTPUT_VARIABLE code RESULT_VARIABLE status)
    if(NOT status EQUAL 0 OR NOT code MATCHES "ret")
        message(FATAL_ERROR "objdump failed on ${object}")
    endif()
    if(code MATCHES "vf(n)?m(add|sub)")
        message(FATAL_ERROR "${name}: fused multiply-add instructions")
    endif()
    message(STATUS "${name}: ${object} keeps to itself")
endforeach()
