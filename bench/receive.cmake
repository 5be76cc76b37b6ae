# Benchmark of the serial port's receive path: bench_receive [flood s] [paced lines] [idle s].
# Run it with bench/receive.sh.
add_executable(bench_receive ${CMAKE_CURRENT_LIST_DIR}/receive.cpp)
target_link_libraries(bench_receive PRIVATE nrcomm Qt6::Widgets)
