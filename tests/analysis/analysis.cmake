# The link analysis on crafted bytes and on the recordings, and brisemer-analyse run as
# users run it.
brisemer_add_test(test_linkanalysis
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/test_linkanalysis.cpp
    ${CMAKE_CURRENT_LIST_DIR}/test_analyse_tool.cpp
  LIBS brisemer_analyse_input
  LABELS analysis threads
  TIMEOUT 120)
target_compile_definitions(test_linkanalysis PRIVATE
  BRISEMER_ANALYSE_EXE="$<TARGET_FILE:brisemer-analyse>"
  BRISEMER_NMEA_DATA="${BRISEMER_NMEA_DATA}")
add_dependencies(test_linkanalysis brisemer-analyse)
