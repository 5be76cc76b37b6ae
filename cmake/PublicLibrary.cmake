# brisemer_public_library(target component SOURCES ...): one of the libraries other
# programs link, as Brisemer::<component> and libbrisemer-<component>.so, its headers found
# in the source folder while building and under include/brisemer/<component> once installed.
function(brisemer_public_library target component)
  cmake_parse_arguments(L "" "" "SOURCES" ${ARGN})
  add_library(${target} ${BRISEMER_LIBRARY_TYPE} ${L_SOURCES})
  add_library(Brisemer::${component} ALIAS ${target})
  set_target_properties(${target} PROPERTIES OUTPUT_NAME brisemer-${component} EXPORT_NAME ${component}
                        VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})
  target_include_directories(${target} PUBLIC $<BUILD_INTERFACE:${CMAKE_CURRENT_SOURCE_DIR}>
                             $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}/brisemer/${component}>)
endfunction()
