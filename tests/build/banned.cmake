# Runs the compiler over banned_calls.cpp: clean without a call, and failing
# with the ban's message for each banned call.
function(compile define out_rc out_err)
  execute_process(COMMAND ${CXX} -std=c++20 -fsyntax-only -I${INC} ${define} ${SRC}
                  RESULT_VARIABLE rc ERROR_VARIABLE err OUTPUT_QUIET)
  set(${out_rc} ${rc} PARENT_SCOPE)
  set(${out_err} "${err}" PARENT_SCOPE)
endfunction()

compile("" rc err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "banned_calls.cpp does not compile without a call:\n${err}")
endif()
foreach(call strcpy strcat strncpy sprintf vsprintf gets strtok localtime gmtime ctime asctime)
  compile(-DCALL_${call} rc err)
  if(rc EQUAL 0 OR NOT err MATCHES "sorry_${call}_is_banned")
    message(FATAL_ERROR "${call} is not banned:\n${err}")
  endif()
endforeach()
