# SPDX-License-Identifier: MIT
# Debian packages through CPack (scripts/package runs it): one package per
# install component, named and split as Debian names and splits them.
# Run-time dependencies of the programs come from dpkg-shlibdeps; the
# development package's come from the package that owns the Qt found here.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vxpanel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR Morvaleq)
set(CPACK_PACKAGE_CONTACT "VX panel team <maintainers@users.noreply.c-seed-449f0876.example>")
set(CPACK_PACKAGE_HOMEPAGE_URL https://vxpanel.example.org/)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL ${VX_COMPONENTS})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${VX_DEB_RELEASE})
set(CPACK_DEBIAN_PACKAGE_SOURCE vxpanel)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)

foreach(component ${VX_COMPONENTS})
  string(TOUPPER ${component} C)
  set(CPACK_DEBIAN_${C}_PACKAGE_NAME ${VX_PACKAGE_${component}})
endforeach()

set(CPACK_COMPONENT_PANEL_DESCRIPTION "control panel for ultrasonic power generators
The VX generator control panel sets an ultrasonic power generator's working
values (frequency, power, pulse width, sweeping, tracking, power level) over
a serial line, starts and stops it, and shows its measured values and state
while polling it every 50 ms.  The serial port and its line settings are
chosen in a setup dialog and stored per user.")
set(CPACK_COMPONENT_PANEL_DEPENDS l10n)
set(CPACK_DEBIAN_PANEL_PACKAGE_SUGGESTS ${VX_PACKAGE_sim})

set(CPACK_COMPONENT_SIM_DESCRIPTION "simulated ultrasonic generator on a pseudo-terminal
vxgen-sim plays an ultrasonic power generator on a new pseudo-terminal and
answers the control panel as the hardware would, for demonstrations,
training and tests without hardware.  Reply delays, lost, garbled, late or
stray bytes and a hung-up line can be simulated.")

set(CPACK_COMPONENT_TERM_DESCRIPTION "serial terminal with timestamps, hex view, log and reconnect
vxterm talks to a device on a serial line in a VT100, VT52 or plain-text
terminal: key by key, or a whole line with the ending the device wants.
Received lines can carry their arrival time to the millisecond, binary
devices show as hex rows, and a log gets every line as it arrives.  Lamps
show the connection, the traffic and the modem lines; DTR, RTS and a break
are a click away.  When a USB adapter is pulled out, vxterm says so and
opens the port again as soon as it is back.")
set(CPACK_COMPONENT_TERM_DEPENDS l10n)
set(CPACK_DEBIAN_TERM_PACKAGE_SECTION comm)
set(CPACK_DEBIAN_TERM_PACKAGE_SUGGESTS ${VX_PACKAGE_sim})

set(CPACK_COMPONENT_L10N_DESCRIPTION "translations of the serial port component
The message catalogs of the serial port component's error texts and setup
dialog (text domain cport), used by the control panel and by every program
built with the component.")
set(CPACK_DEBIAN_L10N_PACKAGE_ARCHITECTURE all)
set(CPACK_DEBIAN_L10N_PACKAGE_SECTION localization)

set(CPACK_COMPONENT_DEV_DESCRIPTION "serial port component for C++ programs - development files
A serial port object with its settings, blocking and overlapped transfers,
line status and control, and an event thread with notifications, and a
VT100/VT52 terminal emulation, in standard C++ with a Linux driver (library
cport); a Qt 6 setup dialog and its selectors (library cport_qt).  This
package holds the static libraries, their headers, the CMake package
(find_package(CPort)), a pkg-config file, and vtreplay, which shows what a
captured byte stream leaves on the emulation's screen.")
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_RECOMMENDS ${VX_PACKAGE_l10n})

# Whoever builds against cport_qt needs the Qt this build found again: the
# package that owns it is asked for, not written down here.
if(TARGET cport_qt)
  find_program(DPKG_QUERY_EXECUTABLE dpkg-query)
  if(DPKG_QUERY_EXECUTABLE AND Qt6Widgets_DIR)
    execute_process(COMMAND ${DPKG_QUERY_EXECUTABLE} -S ${Qt6Widgets_DIR}/Qt6WidgetsConfig.cmake
      OUTPUT_VARIABLE qt_owner ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
    string(REGEX REPLACE ":.*" "" qt_owner "${qt_owner}")
    if(qt_owner)
      set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS ${qt_owner})
    endif()
  endif()
endif()

include(CPack)
