# The flood soak in short: brisemer-soak and the replay tool for ten seconds, every byte
# compared (bench/soak/flood.py; scripts/soak runs it for ten minutes). Sanitizer builds
# only report memory and rhythm.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(_flood_options --seconds 10 --segment 4 --refresh-tolerance 1000)
if(BRISEMER_SANITIZE)
  list(APPEND _flood_options --sanitized)
endif()
add_test(NAME soak.flood_short
  COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/bench/soak/flood.py
    --program $<TARGET_FILE:brisemer-soak>
    --replay $<TARGET_FILE:brisemer-replay>
    --data ${BRISEMER_NMEA_DATA}
    ${_flood_options})
set_tests_properties(soak.flood_short PROPERTIES
  LABELS "soak;threads"
  PASS_REGULAR_EXPRESSION "RESULT: PASS"
  TIMEOUT 300)
