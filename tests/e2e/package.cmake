# The Debian package as a user gets it: packed from this build by CPack, unpacked into a
# scratch root, the installed program run and quit there, and a program of another
# project built against the unpacked libraries and run on a pseudo-terminal.
if(NOT BRISEMER_INSTALLABLE)
  return()
endif()
find_package(Python3 REQUIRED COMPONENTS Interpreter)
add_test(NAME package.installed
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/test_package_e2e.py
    --cpack ${CMAKE_CPACK_COMMAND}
    --config ${PROJECT_BINARY_DIR}/CPackConfig.cmake
    --cmake ${CMAKE_COMMAND}
    --consumer ${CMAKE_CURRENT_LIST_DIR}/consumer)
set_tests_properties(package.installed PROPERTIES LABELS package TIMEOUT 300)
