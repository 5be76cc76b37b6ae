# The real program against real recordings: each case starts Xvfb, brisemer-replay and a
# copy of brisemer, clicks and types through the windows with xdotool and compares the
# saved panes and settings file byte for byte with what was sent. Every test case of the
# script becomes a CTest test of its own, so they run in parallel.
find_package(Python3 REQUIRED COMPONENTS Interpreter)

set(E2E_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/test_brisemer_e2e.py)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${E2E_SCRIPT})
execute_process(COMMAND ${Python3_EXECUTABLE} ${E2E_SCRIPT} --list
  OUTPUT_VARIABLE E2E_CASES
  RESULT_VARIABLE E2E_LIST_RESULT
  OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT E2E_LIST_RESULT EQUAL 0 OR E2E_CASES STREQUAL "")
  message(FATAL_ERROR "cannot list the end-to-end tests of ${E2E_SCRIPT}")
endif()
string(REPLACE "\n" ";" E2E_CASES "${E2E_CASES}")

foreach(case IN LISTS E2E_CASES)
  add_test(NAME e2e.${case}
    COMMAND ${Python3_EXECUTABLE} ${E2E_SCRIPT}
      --brisemer $<TARGET_FILE:brisemer>
      --replay $<TARGET_FILE:brisemer-replay>
      --data ${BRISEMER_NMEA_DATA}
      ${case})
  set_tests_properties(e2e.${case} PROPERTIES LABELS e2e TIMEOUT 300)
endforeach()
