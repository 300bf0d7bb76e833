# Writes the manual page OUTPUT of the tool PROGRAM with help2man (HELP2MAN): the tool's --help
# and --version, and a COMMANDS section holding the help of every command its help lists, so that
# the page describes each command's options and new commands appear without further work.
cmake_minimum_required(VERSION 3.25)
execute_process(COMMAND ${PROGRAM} help OUTPUT_VARIABLE help RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${PROGRAM} help failed: ${status}")
endif()
string(REGEX MATCH "\nSubcommands:\n(.*)" listing "${help}")
string(REGEX MATCHALL "\n  [a-z][a-z-]*" commands "${CMAKE_MATCH_1}")

# roff: a backslash is written \e, and a line must not begin with a control character.
function(roff_text text out)
  string(REPLACE "\\" "\\e" text "${text}")
  string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

set(include "[COMMANDS]\n")
foreach(command IN LISTS commands)
  string(STRIP "${command}" command)
  if(command STREQUAL "help")
    continue()
  endif()
  execute_process(COMMAND ${PROGRAM} help ${command} OUTPUT_VARIABLE text RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${PROGRAM} help ${command} failed: ${status}")
  endif()
  roff_text("${text}" text)
  string(APPEND include ".SS \"zel-profile ${command}\"\n.nf\n${text}.fi\n")
endforeach()
file(WRITE ${OUTPUT}.include "${include}")

execute_process(
  COMMAND ${HELP2MAN} --no-info --no-discard-stderr --section=1
          "--name=query execution profiles of a many-tile processor"
          --include=${OUTPUT}.include --output=${OUTPUT} ${PROGRAM}
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "help2man failed: ${status}")
endif()
