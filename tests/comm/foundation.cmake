# Tests of the component base: component model, notification list, log sink, I/O base,
# data processor, timer, worker thread, formatting and code page.
brisemer_add_test(test_foundation
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/foundation/testio.h
    ${CMAKE_CURRENT_LIST_DIR}/foundation/test_notifylist.cpp
    ${CMAKE_CURRENT_LIST_DIR}/foundation/test_baseio.cpp
    ${CMAKE_CURRENT_LIST_DIR}/foundation/test_dataprocessor.cpp
    ${CMAKE_CURRENT_LIST_DIR}/foundation/test_text.cpp
  LABELS foundation)
brisemer_add_test(test_foundation_threads
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/foundation/testio.h
    ${CMAKE_CURRENT_LIST_DIR}/foundation/test_timer.cpp
    ${CMAKE_CURRENT_LIST_DIR}/foundation/test_threadio.cpp
  LABELS foundation threads)
