# Runs PROGRAM with ARGUMENTS (separated by "|"), its standard input read from the file STDIN when
# given, and checks its exit status and, when given, that its standard output and standard error
# match the regular expressions STDOUT and STDERR.
string(REPLACE "|" ";" arguments "${ARGUMENTS}")
set(input)
if(STDIN)
  set(input INPUT_FILE ${STDIN})
endif()
execute_process(COMMAND ${PROGRAM} ${arguments} ${input} RESULT_VARIABLE status
                OUTPUT_VARIABLE output ERROR_VARIABLE errors)
if(NOT status STREQUAL EXPECTED_STATUS)
  message(FATAL_ERROR "exit status ${status}, expected ${EXPECTED_STATUS}\n"
                      "stdout:\n${output}\nstderr:\n${errors}")
endif()
if(STDOUT AND NOT output MATCHES "${STDOUT}")
  message(FATAL_ERROR "standard output does not match '${STDOUT}':\n${output}")
endif()
if(STDERR AND NOT errors MATCHES "${STDERR}")
  message(FATAL_ERROR "standard error does not match '${STDERR}':\n${errors}")
endif()
