# What `cmake --install` puts in place: the four commands, the two libraries with their
# public headers, the lamp module, the CMake package and the pkg-config files. The desktop
# entry, icons, metadata and manual pages come from dist/. Sanitizer and fuzzing builds
# install nothing.
if(NOT BRISEMER_INSTALLABLE)
  return()
endif()

include(CMakePackageConfigHelpers)

install(TARGETS brisemer brisemer-replay brisemer-ports brisemer-analyse
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# Headers keep the source tree's folders, so the libraries' own includes
# ("platform/nrserialapi.h", "lamp3d/nrlamp3dapi.h") resolve as in the build.
set(BRISEMER_INCLUDE_ROOT ${CMAKE_INSTALL_INCLUDEDIR}/brisemer)
file(GLOB _comm_headers ${PROJECT_SOURCE_DIR}/comm/*.h)
file(GLOB _comm_platform_headers ${PROJECT_SOURCE_DIR}/comm/platform/*.h)
file(GLOB _indicators_headers ${PROJECT_SOURCE_DIR}/indicators/*.h)
install(FILES ${_comm_headers} DESTINATION ${BRISEMER_INCLUDE_ROOT}/comm)
install(FILES ${_comm_platform_headers} DESTINATION ${BRISEMER_INCLUDE_ROOT}/comm/platform)
install(FILES ${_indicators_headers} DESTINATION ${BRISEMER_INCLUDE_ROOT}/indicators)
install(FILES ${PROJECT_SOURCE_DIR}/indicators/lamp3d/nrlamp3dapi.h
        DESTINATION ${BRISEMER_INCLUDE_ROOT}/indicators/lamp3d)

install(TARGETS nrcomm EXPORT BrisemerCommTargets LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(TARGETS indicators EXPORT BrisemerIndicatorsTargets LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
# Loaded by the indicator library from its own folder's brisemer/ (nrlamp3d.cpp).
install(TARGETS nrlamp3d LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}/brisemer)

set(BRISEMER_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Brisemer)
install(EXPORT BrisemerCommTargets NAMESPACE Brisemer:: DESTINATION ${BRISEMER_CMAKE_DIR})
install(EXPORT BrisemerIndicatorsTargets NAMESPACE Brisemer:: DESTINATION ${BRISEMER_CMAKE_DIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/BrisemerConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/BrisemerConfig.cmake
                              INSTALL_DESTINATION ${BRISEMER_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/BrisemerConfigVersion.cmake
                                 COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/BrisemerConfig.cmake ${PROJECT_BINARY_DIR}/BrisemerConfigVersion.cmake
        DESTINATION ${BRISEMER_CMAKE_DIR})

# Relative to the .pc file's own folder, so that a tree unpacked elsewhere works too.
file(RELATIVE_PATH BRISEMER_PC_TO_PREFIX ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
string(REGEX REPLACE "/$" "" BRISEMER_PC_TO_PREFIX "${BRISEMER_PC_TO_PREFIX}")
foreach(_pc brisemer-comm brisemer-indicators)
  configure_file(${PROJECT_SOURCE_DIR}/dist/${_pc}.pc.in ${PROJECT_BINARY_DIR}/${_pc}.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/${_pc}.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endforeach()
