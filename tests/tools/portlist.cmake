# brisemer-ports' adapter finder on a recorded sysfs tree and a /dev of its own.
brisemer_add_test(portlist_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/portlist_test.cpp
          ${CMAKE_SOURCE_DIR}/tests/comm/discovery/fakesysfs.cpp
          ${CMAKE_SOURCE_DIR}/tests/comm/discovery/fakesysfs.h
  LIBS brisemer_portlist
  LABELS tools
  TIMEOUT 60)
target_include_directories(portlist_test PRIVATE ${CMAKE_SOURCE_DIR}/tests/comm/discovery)
