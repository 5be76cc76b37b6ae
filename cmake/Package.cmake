# The Debian package (cpack -G DEB, run by scripts/package): everything `cmake --install`
# puts in place, under /usr, with the runtime dependencies read from the binaries by
# dpkg-shlibdeps.
if(NOT BRISEMER_INSTALLABLE)
  return()
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME brisemer)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_CONTACT "${BRISEMER_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "test the serial links of a ship's GPS receiver and AIS transponder")
# CPack puts the summary before it as the synopsis line.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Brisemer listens on two serial ports at once, the GPS channel (4800 baud by
default) and the AIS channel (38400 baud by default), and shows every line
received in that channel's pane as soon as its carriage return arrives. A link
analysis tells whether each link is healthy. The interface is in French.
.
The package also holds brisemer-replay, which plays NMEA and AIS recordings
into pseudo-terminals, brisemer-ports, which lists the serial ports and USB
adapters, brisemer-analyse, which analyses capture files, and the serial
component and indicator libraries for Qt 6 with their headers, CMake package
and pkg-config files.")
set(CPACK_DEBIAN_PACKAGE_SECTION comm)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${BRISEMER_HOMEPAGE}")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Loaded at run time, where dpkg-shlibdeps cannot see them: Qt's X11 platform plugin, the
# fonts the window's layout is measured in and Qt's French catalogue for its own dialogs.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, fonts-liberation, qt6-translations-l10n")
# The libraries' unversioned names and CMake files point at the headers of Qt.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "qt6-base-dev")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The libraries' cache is refreshed by dpkg's ldconfig trigger; CPack would otherwise
# call ldconfig from scripts of its own, which our own scripts replace.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/dist/debian/triggers
    ${PROJECT_SOURCE_DIR}/dist/debian/postinst ${PROJECT_SOURCE_DIR}/dist/debian/postrm)
include(CPack)
