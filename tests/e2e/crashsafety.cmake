# The real program killed while it writes its settings file or saves a pane: the settings
# file is the old one or the new one, never torn. Each case is a CTest test of its own.
find_package(Python3 REQUIRED COMPONENTS Interpreter)

set(CRASHSAFETY_E2E_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/test_crashsafety_e2e.py)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CRASHSAFETY_E2E_SCRIPT})
execute_process(COMMAND ${Python3_EXECUTABLE} ${CRASHSAFETY_E2E_SCRIPT} --list
  OUTPUT_VARIABLE CRASHSAFETY_E2E_CASES
  RESULT_VARIABLE CRASHSAFETY_E2E_LIST_RESULT
  OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT CRASHSAFETY_E2E_LIST_RESULT EQUAL 0 OR CRASHSAFETY_E2E_CASES STREQUAL "")
  message(FATAL_ERROR "cannot list the end-to-end tests of ${CRASHSAFETY_E2E_SCRIPT}")
endif()
string(REPLACE "\n" ";" CRASHSAFETY_E2E_CASES "${CRASHSAFETY_E2E_CASES}")

foreach(case IN LISTS CRASHSAFETY_E2E_CASES)
  add_test(NAME e2e.${case}
    COMMAND ${Python3_EXECUTABLE} ${CRASHSAFETY_E2E_SCRIPT} --brisemer $<TARGET_FILE:brisemer> ${case})
  set_tests_properties(e2e.${case} PROPERTIES LABELS e2e TIMEOUT 300)
endforeach()
