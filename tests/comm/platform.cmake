# The platform layer: the fake serial device, the Linux serial device on pseudo-terminals,
# termios2 line settings and the serial-port map.
brisemer_add_test(fakeport_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/fakeport_test.cpp
  LABELS threads
  TIMEOUT 60)
brisemer_add_test(posixport_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/posixport_test.cpp
  LABELS threads
  TIMEOUT 60)
brisemer_add_test(termios2_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/termios2_test.cpp
  LABELS platform
  TIMEOUT 60)
brisemer_add_test(portmap_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/portmap_test.cpp
  LABELS platform
  TIMEOUT 60)
