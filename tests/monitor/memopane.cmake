# Tests of the channel text pane (monitor/memopane, monitor/linestore). The pane's sources
# are compiled in directly so that these tests depend on nothing else of the program.
find_package(Qt6 REQUIRED COMPONENTS Test)
brisemer_add_test(test_memopane
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/memopane/test_linestore.cpp
    ${CMAKE_CURRENT_LIST_DIR}/memopane/test_memopane.cpp
    ${PROJECT_SOURCE_DIR}/monitor/linestore.cpp
    ${PROJECT_SOURCE_DIR}/monitor/linestore.h
    ${PROJECT_SOURCE_DIR}/monitor/memopane.cpp
    ${PROJECT_SOURCE_DIR}/monitor/memopane.h
  LIBS Qt6::Test
  LABELS monitor)
target_include_directories(test_memopane PRIVATE ${PROJECT_SOURCE_DIR}/monitor)
