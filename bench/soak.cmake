# Flood soak: brisemer-soak is the program with instruments (bench/soak/soakprobe.h) that
# bench/soak/flood.py runs against the replay tool for minutes (scripts/soak) or, in
# CTest, for seconds (tests/soak/flood.cmake).
# It is the program with the probe attached to the main window from its own main().
add_executable(brisemer-soak
  ${CMAKE_CURRENT_LIST_DIR}/soak/soakmain.cpp
  ${CMAKE_CURRENT_LIST_DIR}/soak/soakprobe.cpp
  ${CMAKE_CURRENT_LIST_DIR}/soak/soakprobe.h
  ${CMAKE_CURRENT_LIST_DIR}/probeio.cpp
  ${CMAKE_CURRENT_LIST_DIR}/probeio.h)
target_include_directories(brisemer-soak PRIVATE ${CMAKE_CURRENT_LIST_DIR}/soak ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(brisemer-soak PRIVATE brisemer_monitor)
