# Compiles a German locale, whose decimal point is a comma, into DIR, so that
# tests can run under it with LOCPATH=DIR whether or not the system has one.
if(EXISTS "${DIR}/de_DE.UTF-8/LC_NUMERIC")
    return()
endif()
file(MAKE_DIRECTORY "${DIR}")
# -c: the locale sources draw harmless warnings that would otherwise fail it.
execute_process(COMMAND localedef -c -i de_DE -f UTF-8 "${DIR}/de_DE.UTF-8"
                RESULT_VARIABLE status ERROR_VARIABLE errors)
if(NOT EXISTS "${DIR}/de_DE.UTF-8/LC_NUMERIC")
    message(FATAL_ERROR "localedef could not make de_DE.UTF-8 (${status}): ${errors}")
endif()
