# The ring check against planted trees: each case is one file with one
# include, and whether the check must pass. The last three stay within one
# ring: production code may not reach a folder ordered above its own (the
# start of a folder cycle), a test may.
#   cmake -DCHECKER=tests/check_rings.cmake -DWORK=<scratch folder> -P tests/check_rings_test.cmake

# file | include | expected ("pass" or "fail")
set(_cases
  "service/a.cpp|spool/message.h|pass"
  "config/tests/a_test.cpp|tests/support/test_harness.h|pass"
  "mx/tests/a_test.cpp|tests/support/test_environment.h|pass"
  "log/a.cpp|service/form.h|fail"
  "base/a.h|log/logs.h|fail"
  "spool/tests/a_test.cpp|qt/qt_socket.h|fail"
  "spool/a.cpp|tests/support/test_harness.h|fail"
  "tests/support/a.cpp|shell/dialogs.h|fail"
  "newfolder/a.cpp|base/program.h|fail"
  "shell/a.cpp|qt/main_form.h|pass"
  "app/main.cpp|shell/desktop_shell.h|pass"
  "service/a.cpp|delivery/queue_scan.h|pass"
  "service/a.cpp|qt/qt_socket.h|fail"
  "update/a.cpp|shell/desktop_shell.h|fail"
  "qt/tests/a_test.cpp|shell/desktop_shell.h|fail"
  "delivery/a.cpp|service/startup.h|fail"
  "mx/a.cpp|relay/form.h|fail"
  "log/tests/a_test.cpp|config/configuration.h|fail"
  "log/tests/a_test.cpp|tests/support/test_environment.h|pass"
)

get_filename_component(CHECKER "${CHECKER}" ABSOLUTE)
set(_failures 0)
set(_i 0)
foreach(_case ${_cases})
  string(REPLACE "|" ";" _parts "${_case}")
  list(GET _parts 0 _file)
  list(GET _parts 1 _include)
  list(GET _parts 2 _want)
  math(EXPR _i "${_i} + 1")
  set(_root "${WORK}/case${_i}")
  file(REMOVE_RECURSE "${_root}")
  file(WRITE "${_root}/${_file}" "// planted\n#include <string>\n  #  include \"${_include}\"\n")
  execute_process(COMMAND ${CMAKE_COMMAND} -DROOT=${_root} -P ${CHECKER}
    RESULT_VARIABLE _rc OUTPUT_QUIET ERROR_QUIET)
  if(_rc EQUAL 0)
    set(_got pass)
  else()
    set(_got fail)
  endif()
  if(NOT _got STREQUAL _want)
    message(SEND_ERROR "${_file} including ${_include}: check gave ${_got}, want ${_want}")
    math(EXPR _failures "${_failures} + 1")
  endif()
endforeach()
file(REMOVE_RECURSE "${WORK}")
if(_failures GREATER 0)
  message(FATAL_ERROR "${_failures} planted case(s) misjudged")
endif()
