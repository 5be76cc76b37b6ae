# The serial device's own input queue in front of the kernel's tty buffer, on real
# pseudo-terminals: order and completeness through both queues, purges, readers woken
# by the waiting thread, and what a device that is gone had delivered.
brisemer_add_test(readahead_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/readahead/readahead_test.cpp
  LABELS threads
  TIMEOUT 180)
