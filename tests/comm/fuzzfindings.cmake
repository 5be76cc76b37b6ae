# Inputs that fuzzing (fuzz/) found mishandled, kept as regression tests.
brisemer_add_test(fuzzfindings_comm_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/fuzzfindings/portmap_findings_test.cpp
  LABELS platform
  TIMEOUT 60)
