# The benchmark build of the program, brisemer-probe: the program with the instruments of
# bench/programprobe.* (timestamps of paints, deliveries and refreshes) attached from its
# own main().
# bench/program.py runs it beside the shipped brisemer.
add_executable(brisemer-probe
  ${CMAKE_CURRENT_LIST_DIR}/probemain.cpp
  ${CMAKE_CURRENT_LIST_DIR}/programprobe.cpp
  ${CMAKE_CURRENT_LIST_DIR}/programprobe.h
  ${CMAKE_CURRENT_LIST_DIR}/probeio.cpp
  ${CMAKE_CURRENT_LIST_DIR}/probeio.h)
target_include_directories(brisemer-probe PRIVATE ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(brisemer-probe PRIVATE brisemer_monitor)
