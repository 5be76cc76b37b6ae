# Tests of the monitor application: the settings file, the port parameters, line assembly,
# the error guard, and the forms driven through their controls.
find_package(Qt6 REQUIRED COMPONENTS Test)
brisemer_add_test(test_monitor_logic
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/app/test_settingsfile.cpp
    ${CMAKE_CURRENT_LIST_DIR}/app/test_lineassembler.cpp
    ${CMAKE_CURRENT_LIST_DIR}/app/test_handlerguard.cpp
    ${CMAKE_CURRENT_LIST_DIR}/app/test_helpform.cpp
    ${CMAKE_CURRENT_LIST_DIR}/app/test_french.cpp
  LIBS brisemer_monitor Qt6::Test
  LABELS monitor)
brisemer_add_test(test_monitor_window
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/app/monitortestkit.h
    ${CMAKE_CURRENT_LIST_DIR}/app/test_mainform.cpp
    ${CMAKE_CURRENT_LIST_DIR}/app/test_dialogs.cpp
    ${CMAKE_CURRENT_LIST_DIR}/app/test_comparm.cpp
    ${CMAKE_CURRENT_LIST_DIR}/app/test_linkanalysishost.cpp
    ${CMAKE_CURRENT_LIST_DIR}/app/tsan_options.cpp
  LIBS brisemer_monitor Qt6::Test
  LABELS monitor threads
  TIMEOUT 180)

# The application object's guard needs an application of its own: a main of its own.
add_executable(test_monitor_guardedapp ${CMAKE_CURRENT_LIST_DIR}/app/test_guardedapp.cpp)
target_link_libraries(test_monitor_guardedapp PRIVATE brisemer_monitor GTest::gtest)
gtest_discover_tests(test_monitor_guardedapp
  DISCOVERY_MODE PRE_TEST
  PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" LABELS "monitor" TIMEOUT 60)
