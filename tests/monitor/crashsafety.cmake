# Crash safety of the settings file: a child process writes it (and saves a pane) in a
# loop the way the main window does, and the tests kill it at random moments.
add_executable(crashsafety_settingswriter ${CMAKE_CURRENT_LIST_DIR}/crashsafety/settingswriter.cpp)
target_link_libraries(crashsafety_settingswriter PRIVATE brisemer_monitor)

brisemer_add_test(test_monitor_crashsafety
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/crashsafety/crashsafety_test.cpp
  LIBS brisemer_monitor
  LABELS monitor
  TIMEOUT 300)
target_compile_definitions(test_monitor_crashsafety
  PRIVATE CRASHSAFETY_WRITER="$<TARGET_FILE:crashsafety_settingswriter>")
add_dependencies(test_monitor_crashsafety crashsafety_settingswriter)
