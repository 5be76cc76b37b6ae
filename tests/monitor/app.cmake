# Tests of the monitor application: the settings file, the port parameters, line assembly,
# the error guard, and the forms driven through their controls.
find_package(Qt6 REQUIRED COMPONENTS Test)
brisemer_add_test(test_monitor_logic
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/app/test_settingsfile.cpp
    ${CMAKE_CURRENT_LIST_DIR}/app/test_lineassembler.cpp
    ${CMAKE_CURRENT_LIST_DIR}/app/test_handlerguard.cpp
    ${CMAKE_CURRENT_LIST_DIR}/app/test_helpform.cpp
  LIBS brisemer_monitor Qt6::Test
  LABELS monitor)
brisemer_add_test(test_monitor_window
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/app/monitortestkit.h
    ${CMAKE_CURRENT_LIST_DIR}/app/test_mainform.cpp
    ${CMAKE_CURRENT_LIST_DIR}/app/test_comparm.cpp
  LIBS brisemer_monitor Qt6::Test
  LABELS monitor threads
  TIMEOUT 180)
