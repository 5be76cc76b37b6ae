# Benchmark of the replay tool: bench_replay [recording] (flood throughput, pacing accuracy).
add_executable(bench_replay ${CMAKE_CURRENT_LIST_DIR}/replay.cpp)
target_compile_definitions(bench_replay PRIVATE
  BRISEMER_REPLAY_EXE="$<TARGET_FILE:brisemer-replay>"
  BRISEMER_NMEA_DATA="${BRISEMER_NMEA_DATA}")
set_target_properties(bench_replay PROPERTIES AUTOMOC OFF)
add_dependencies(bench_replay brisemer-replay)
