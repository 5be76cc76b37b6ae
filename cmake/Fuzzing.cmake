# BRISEMER_FUZZ=ON builds the libFuzzer targets of fuzz/ (clang only, in a build tree of
# its own such as build-fuzz/). Every target of the tree is then compiled with coverage
# instrumentation, AddressSanitizer and UBSan; only the fuzz targets link libFuzzer's
# driver. scripts/fuzz configures, builds and runs them.
option(BRISEMER_FUZZ "Build the libFuzzer targets in fuzz/ (needs clang)" OFF)

if(BRISEMER_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "BRISEMER_FUZZ needs clang: configure with -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++")
  endif()
  if(NOT BRISEMER_SANITIZE STREQUAL "")
    message(FATAL_ERROR "BRISEMER_FUZZ brings its own sanitizers; leave BRISEMER_SANITIZE empty")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
