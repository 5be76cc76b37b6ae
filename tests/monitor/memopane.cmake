# Tests of the channel text pane (monitor/memopane, monitor/linestore), including what it
# puts on screen as lines arrive: the view moved by whole lines and the scroll bars
# repainted only when they change must show exactly what a full paint shows. The pane's
# sources are compiled in directly so that these tests depend on nothing else of the program.
find_package(Qt6 REQUIRED COMPONENTS Test)
brisemer_add_test(test_memopane
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/memopane/test_linestore.cpp
    ${CMAKE_CURRENT_LIST_DIR}/memopane/test_memopane.cpp
    ${CMAKE_CURRENT_LIST_DIR}/memopane/test_paneview.cpp
    ${PROJECT_SOURCE_DIR}/monitor/linestore.cpp
    ${PROJECT_SOURCE_DIR}/monitor/linestore.h
    ${PROJECT_SOURCE_DIR}/monitor/memopane.cpp
    ${PROJECT_SOURCE_DIR}/monitor/memopaneedit.cpp
    ${PROJECT_SOURCE_DIR}/monitor/memopanelayout.cpp
    ${PROJECT_SOURCE_DIR}/monitor/memopanelayout.h
    ${PROJECT_SOURCE_DIR}/monitor/memopaneview.cpp
    ${PROJECT_SOURCE_DIR}/monitor/panescrollbar.h
    ${PROJECT_SOURCE_DIR}/monitor/memopane.h
  LIBS Qt6::Test
  LABELS monitor)
target_include_directories(test_memopane PRIVATE ${PROJECT_SOURCE_DIR}/monitor)
