# The rest of the port component's operations: the stored configuration and its store,
# the configuration dialog, the plug-and-play probe and data processors on a real port.
# Ports and their threads run in all of them: labelled "threads".
find_package(Qt6 REQUIRED COMPONENTS Test)
set(_portops_support
  ${CMAKE_CURRENT_LIST_DIR}/port/commtestutil.cpp
  ${CMAKE_CURRENT_LIST_DIR}/port/commtestutil.h
  ${CMAKE_CURRENT_LIST_DIR}/port/ptylinestate.cpp
  ${CMAKE_CURRENT_LIST_DIR}/port/ptylinestate.h)
brisemer_add_test(test_comm_storedconfig
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/portops/test_storedconfig.cpp ${_portops_support}
  LABELS threads TIMEOUT 60)
brisemer_add_test(test_comm_configdialog
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/portops/test_configdialog.cpp ${_portops_support}
  LIBS Qt6::Test
  LABELS threads TIMEOUT 60)
brisemer_add_test(test_comm_pnp
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/portops/test_pnp.cpp ${_portops_support}
  LABELS threads TIMEOUT 120)
brisemer_add_test(test_comm_processor_port
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/portops/test_processor_port.cpp ${_portops_support}
  LABELS threads TIMEOUT 60)
foreach(_t test_comm_storedconfig test_comm_configdialog test_comm_pnp test_comm_processor_port)
  target_include_directories(${_t} PRIVATE ${CMAKE_CURRENT_LIST_DIR}/port)
endforeach()
