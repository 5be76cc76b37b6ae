# Benchmark of the main window under a flood on both channels:
# bench_monitor [recordings folder] [seconds]. Run it with bench/monitor.sh.
add_executable(bench_monitor ${CMAKE_CURRENT_LIST_DIR}/monitor.cpp)
target_link_libraries(bench_monitor PRIVATE brisemer_monitor)
target_include_directories(bench_monitor PRIVATE ${PROJECT_SOURCE_DIR}/comm/platform)
target_compile_definitions(bench_monitor PRIVATE BRISEMER_RECORDINGS="${PROJECT_SOURCE_DIR}/tests/data/nmea")
