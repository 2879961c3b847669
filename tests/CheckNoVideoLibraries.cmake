# Fails when a program names one of FFmpeg's libraries among those it needs:
# they are for videos alone, loaded with the video module, and every other run
# would pay for loading them. PROGRAMS lists the programs, MODULE is the video
# module, which must name them (so that the check is known to see them), and
# READELF the tool.
function(video_libraries file result)
    execute_process(COMMAND ${READELF} --dynamic ${file}
        OUTPUT_VARIABLE dynamic COMMAND_ERROR_IS_FATAL ANY)
    string(REGEX MATCHALL "\\(NEEDED\\)[^\n]*\\[lib(avcodec|avformat|avutil|swscale)[^]]*\\]"
        needed "${dynamic}")
    set(${result} "${needed}" PARENT_SCOPE)
endfunction()

video_libraries(${MODULE} needed)
list(LENGTH needed count)
if(NOT count EQUAL 4)
    message(SEND_ERROR "the video module needs ${count} of FFmpeg's four libraries: ${needed}")
endif()
foreach(program ${PROGRAMS})
    video_libraries(${program} needed)
    if(needed)
        message(SEND_ERROR "${program} needs video libraries: ${needed}")
    endif()
endforeach()
