# Benchmark of the channel text pane: bench_memopane [data folder] [megabytes].
# Run it with bench/memopane.sh.
add_executable(bench_memopane
  ${CMAKE_CURRENT_LIST_DIR}/memopane.cpp
  ${PROJECT_SOURCE_DIR}/monitor/linestore.cpp
  ${PROJECT_SOURCE_DIR}/monitor/linestore.h
  ${PROJECT_SOURCE_DIR}/monitor/memopane.cpp
  ${PROJECT_SOURCE_DIR}/monitor/memopaneedit.cpp
  ${PROJECT_SOURCE_DIR}/monitor/memopanelayout.cpp
  ${PROJECT_SOURCE_DIR}/monitor/memopanelayout.h
  ${PROJECT_SOURCE_DIR}/monitor/memopaneview.cpp
  ${PROJECT_SOURCE_DIR}/monitor/panescrollbar.h
  ${PROJECT_SOURCE_DIR}/monitor/memopane.h)
target_include_directories(bench_memopane PRIVATE ${PROJECT_SOURCE_DIR}/monitor)
target_link_libraries(bench_memopane PRIVATE nrcomm Qt6::Widgets)
