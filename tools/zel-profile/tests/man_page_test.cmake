# Checks that the manual page MAN_PAGE was made and describes every command of the tool.
cmake_minimum_required(VERSION 3.25)
if(NOT EXISTS ${MAN_PAGE})
  message(FATAL_ERROR "no manual page at ${MAN_PAGE}")
endif()
file(READ ${MAN_PAGE} page)
foreach(expected "\n\\.TH ZEL-PROFILE \"1\"" "\n\\.SH COMMANDS\n" "\"zel-profile query\"" "\"zel-profile diff\""
                 "\"zel-profile generate\"" "--group-by kind\\|kernel" "--fail-above" "--clock-hz")
  if(NOT page MATCHES "${expected}")
    message(FATAL_ERROR "the manual page lacks '${expected}'")
  endif()
endforeach()
