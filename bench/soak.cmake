# Flood soak: brisemer-soak is the program with instruments (bench/soak/soakprobe.h) that
# bench/soak/flood.py runs against the replay tool for minutes (scripts/soak) or, in
# CTest, for seconds (tests/soak/flood.cmake).
add_executable(brisemer-soak
  ${CMAKE_CURRENT_LIST_DIR}/soak/soakmain.cpp
  ${CMAKE_CURRENT_LIST_DIR}/soak/soakprobe.cpp
  ${CMAKE_CURRENT_LIST_DIR}/soak/soakprobe.h)
target_link_libraries(brisemer-soak PRIVATE brisemer_monitor)
