# SPDX-License-Identifier: MIT
# Installed for program authors: the libraries, the headers their public
# headers include (no driver's, no test's) in one folder, a CMake package and
# a pkg-config file.  Everything is found relative to the installed tree.
set(CPORT_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/CPort)
set_target_properties(cport PROPERTIES EXPORT_NAME cport)
install(TARGETS cport EXPORT CPortTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev)
install(FILES ${CPORT_PUBLIC_HEADERS} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/cport COMPONENT dev)
install(EXPORT CPortTargets NAMESPACE CPort:: DESTINATION ${CPORT_CMAKEDIR} COMPONENT dev)
if(TARGET cport_qt)
  install(TARGETS cport_qt EXPORT CPortQtTargets
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev)
  install(FILES ${CPORT_QT_PUBLIC_HEADERS} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/cport COMPONENT dev)
  install(EXPORT CPortQtTargets NAMESPACE CPort:: DESTINATION ${CPORT_CMAKEDIR} COMPONENT dev)
endif()

# A stripped install (cmake --install --strip, and so the packages) drops the
# libraries' debugging sections too, as Debian ships static libraries.
set(cport_archives $<TARGET_FILE_NAME:cport>)
if(TARGET cport_qt)
  list(APPEND cport_archives $<TARGET_FILE_NAME:cport_qt>)
endif()
install(CODE "
  if(CMAKE_INSTALL_DO_STRIP)
    foreach(a ${cport_archives})
      execute_process(COMMAND \"${CMAKE_STRIP}\" --strip-debug --remove-section=.comment --enable-deterministic-archives
                      \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/\${a}\" COMMAND_ERROR_IS_FATAL ANY)
    endforeach()
  endif()" COMPONENT dev)

include(CMakePackageConfigHelpers)
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/CPortConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/CPortConfig.cmake INSTALL_DESTINATION ${CPORT_CMAKEDIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/CPortConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/CPortConfig.cmake ${CMAKE_CURRENT_BINARY_DIR}/CPortConfigVersion.cmake
  DESTINATION ${CPORT_CMAKEDIR} COMPONENT dev)

# pkg-config finds the prefix from the file's own place, so that the tree
# can be moved.
file(RELATIVE_PATH CPORT_PC_TO_PREFIX ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
string(REGEX REPLACE "/$" "" CPORT_PC_TO_PREFIX "${CPORT_PC_TO_PREFIX}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/cport.pc.in ${CMAKE_CURRENT_BINARY_DIR}/cport.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/cport.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)
