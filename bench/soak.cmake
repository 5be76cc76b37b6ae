# Flood soak: brisemer-soak is the program with instruments (bench/soak/soakprobe.h) that
# bench/soak/flood.py runs against the replay tool for minutes (scripts/soak) or, in
# CTest, for seconds (tests/soak/flood.cmake).
# It is the shipped main() with the probe attached to the main window before it shows.
add_executable(brisemer-soak
  ${PROJECT_SOURCE_DIR}/monitor/main.cpp
  ${CMAKE_CURRENT_LIST_DIR}/soak/soakprobe.cpp
  ${CMAKE_CURRENT_LIST_DIR}/soak/soakprobe.h
  ${CMAKE_CURRENT_LIST_DIR}/probeio.cpp
  ${CMAKE_CURRENT_LIST_DIR}/probeio.h)
target_compile_definitions(brisemer-soak PRIVATE BRISEMER_SOAK_PROBE)
target_include_directories(brisemer-soak PRIVATE ${CMAKE_CURRENT_LIST_DIR}/soak ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(brisemer-soak PRIVATE brisemer_monitor)
