# A port linked to a terminal edit: real Qt edits driven with QTest and a real port on a
# pseudo-terminal. The port's threads run: labelled "threads".
find_package(Qt6 REQUIRED COMPONENTS Test)
brisemer_add_test(test_comm_terminal
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/terminal/test_terminal.cpp
    ${CMAKE_CURRENT_LIST_DIR}/port/commtestutil.cpp
    ${CMAKE_CURRENT_LIST_DIR}/port/commtestutil.h
  LIBS Qt6::Test
  LABELS threads
  TIMEOUT 60)
target_include_directories(test_comm_terminal PRIVATE ${CMAKE_CURRENT_LIST_DIR}/port)
