# Tests of what the channel text pane puts on screen as lines arrive: the view moved by
# whole lines and the scroll bars repainted only when they change must show exactly what
# a full paint shows. The pane's sources are compiled in, as for the pane's own tests.
find_package(Qt6 REQUIRED COMPONENTS Test)
brisemer_add_test(test_paneview
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/paneview/test_paneview.cpp
    ${PROJECT_SOURCE_DIR}/monitor/linestore.cpp
    ${PROJECT_SOURCE_DIR}/monitor/linestore.h
    ${PROJECT_SOURCE_DIR}/monitor/memopane.cpp
    ${PROJECT_SOURCE_DIR}/monitor/memopane.h
  LIBS Qt6::Test
  LABELS monitor)
target_include_directories(test_paneview PRIVATE ${PROJECT_SOURCE_DIR}/monitor)
