# In-process soaks of the main window on pseudo-terminals and the replay tool: a port
# opened and closed over and over, and devices vanishing, while data flows. Short by
# default; BRISEMER_SOAK_CYCLES and BRISEMER_SOAK_VANISHINGS make them long.
find_package(Qt6 REQUIRED COMPONENTS Test)
brisemer_add_test(test_soak
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/soakkit.cpp
    ${CMAKE_CURRENT_LIST_DIR}/soakkit.h
    ${CMAKE_CURRENT_LIST_DIR}/test_openclose.cpp
    ${CMAKE_CURRENT_LIST_DIR}/test_vanish.cpp
    ${PROJECT_SOURCE_DIR}/tests/monitor/app/monitortestkit.h
    ${PROJECT_SOURCE_DIR}/tests/monitor/app/tsan_options.cpp
    ${PROJECT_SOURCE_DIR}/tests/tools/replayprocess.cpp
    ${PROJECT_SOURCE_DIR}/tests/tools/replayprocess.h
  LIBS brisemer_monitor Qt6::Test
  LABELS soak threads
  TIMEOUT 900)
target_include_directories(test_soak PRIVATE
  ${PROJECT_SOURCE_DIR}/tests/monitor/app
  ${PROJECT_SOURCE_DIR}/tests/tools)
target_compile_definitions(test_soak PRIVATE
  BRISEMER_REPLAY_EXE="$<TARGET_FILE:brisemer-replay>"
  BRISEMER_NMEA_DATA="${BRISEMER_NMEA_DATA}")
add_dependencies(test_soak brisemer-replay)
