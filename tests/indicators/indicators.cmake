# The LED and the semaphore lamp, drawn offscreen and checked pixel by pixel.
brisemer_add_test(indicators_led_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/led_test.cpp ${CMAKE_CURRENT_LIST_DIR}/indicator_test_util.cpp
  LIBS indicators
  LABELS indicators
  TIMEOUT 60)
brisemer_add_test(indicators_semaphore_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/semaphore_test.cpp ${CMAKE_CURRENT_LIST_DIR}/indicator_test_util.cpp
  LIBS indicators
  LABELS indicators
  TIMEOUT 60)
