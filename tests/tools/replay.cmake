# The NMEA/AIS replay tool: its parts on their own, and the real executable serving
# real pseudo-terminals.

brisemer_add_test(replay_units_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/replay_units_test.cpp
  LIBS brisemer_replay_core
  LABELS tools
  TIMEOUT 60)

brisemer_add_test(replay_tool_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/replay_tool_test.cpp ${CMAKE_CURRENT_LIST_DIR}/replayprocess.cpp
          ${CMAKE_CURRENT_LIST_DIR}/replayprocess.h
  LABELS tools
  TIMEOUT 120)
target_compile_definitions(replay_tool_test PRIVATE
  BRISEMER_REPLAY_EXE="$<TARGET_FILE:brisemer-replay>"
  BRISEMER_NMEA_DATA="${BRISEMER_NMEA_DATA}")
add_dependencies(replay_tool_test brisemer-replay)

# What a script does first: ask for the usage text.
add_test(NAME replay_help COMMAND brisemer-replay --help)
set_tests_properties(replay_help PROPERTIES PASS_REGULAR_EXPRESSION "Usage: brisemer-replay .*--port COMn:BAUD:FILE"
                                            LABELS tools)
