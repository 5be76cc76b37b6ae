# Port discovery and selection: the setup queries on a recorded sysfs tree, the port
# table and device-list loading, the selection box and the device monitor.
find_package(Qt6 REQUIRED COMPONENTS Test)
set(_discovery_support
  ${CMAKE_CURRENT_LIST_DIR}/discovery/fakesysfs.h
  ${CMAKE_CURRENT_LIST_DIR}/discovery/fakesysfs.cpp
  ${CMAKE_CURRENT_LIST_DIR}/discovery/machine.h
  ${CMAKE_CURRENT_LIST_DIR}/discovery/machine.cpp)
brisemer_add_test(test_discovery_setup
  SOURCES
    ${_discovery_support}
    ${CMAKE_CURRENT_LIST_DIR}/discovery/test_udevsetup.cpp
  LABELS discovery)
brisemer_add_test(test_discovery_enum
  SOURCES
    ${_discovery_support}
    ${CMAKE_CURRENT_LIST_DIR}/discovery/listcomponent.h
    ${CMAKE_CURRENT_LIST_DIR}/discovery/test_portenum.cpp
  LABELS discovery)
brisemer_add_test(test_discovery_box
  SOURCES
    ${_discovery_support}
    ${CMAKE_CURRENT_LIST_DIR}/discovery/listcomponent.h
    ${CMAKE_CURRENT_LIST_DIR}/discovery/test_commbox.cpp
    ${CMAKE_CURRENT_LIST_DIR}/discovery/test_devicemonitor.cpp
  LIBS Qt6::Test
  LABELS discovery)
brisemer_add_test(test_discovery_threads
  SOURCES
    ${_discovery_support}
    ${CMAKE_CURRENT_LIST_DIR}/discovery/listcomponent.h
    ${CMAKE_CURRENT_LIST_DIR}/discovery/test_commbox_threads.cpp
  LIBS Qt6::Test
  LABELS discovery threads)
