# Benchmark of the link analysis on its own: bench_analysis [lines] [chunk bytes].
# Run it with bench/analysis.sh.
add_executable(bench_analysis ${CMAKE_CURRENT_LIST_DIR}/analysis.cpp)
target_link_libraries(bench_analysis PRIVATE brisemer_analysis)
target_compile_definitions(bench_analysis PRIVATE BRISEMER_NMEA_DATA="${BRISEMER_NMEA_DATA}")
set_target_properties(bench_analysis PROPERTIES AUTOMOC OFF)
