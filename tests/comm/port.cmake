# The serial port component: settings, event processing, transfers through real
# pseudo-terminals, sending and waits. All start port threads: labelled "threads".
set(_port_support port/commtestutil.cpp port/commtestutil.h)
brisemer_add_test(test_comm_settings SOURCES port/test_comm_settings.cpp ${_port_support} LABELS threads TIMEOUT 60)
brisemer_add_test(test_comm_events SOURCES port/test_comm_events.cpp ${_port_support} LABELS threads TIMEOUT 60)
brisemer_add_test(test_comm_pty
  SOURCES port/test_comm_pty.cpp port/ptylinestate.cpp port/ptylinestate.h ${_port_support}
  LABELS threads TIMEOUT 180)
brisemer_add_test(test_comm_send SOURCES port/test_comm_send.cpp ${_port_support} LABELS threads TIMEOUT 120)
brisemer_add_test(test_comm_return
  SOURCES port/test_comm_return.cpp port/ptylinestate.cpp port/ptylinestate.h ${_port_support}
  LABELS threads TIMEOUT 120)
