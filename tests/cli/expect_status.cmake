# Runs the words after "--" and prints their standard output and error; when
# the exit status differs from STATUS, says so in words that the test's
# FAIL_REGULAR_EXPRESSION catches (its PASS_REGULAR_EXPRESSION checks the text).
set(command)
set(collect OFF)
math(EXPR last "${CMAKE_ARGC} - 1")
foreach(i RANGE ${last})
  if(collect)
    list(APPEND command "${CMAKE_ARGV${i}}")
  elseif(CMAKE_ARGV${i} STREQUAL "--")
    set(collect ON)
  endif()
endforeach()
execute_process(COMMAND ${command} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
message("${out}${err}")
if(NOT status STREQUAL STATUS)
  message("wrong exit status ${status}, expected ${STATUS}")
endif()
