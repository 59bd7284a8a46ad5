# Installation: the library with its soname links and headers, the I2C and utility libraries it
# and the update program need at run time, the program and its man page, a pkg-config file and a
# CMake package config for libfusekit.
include(CMakePackageConfigHelpers)

install(TARGETS fusekit boardi2c EXPORT fusekitTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT development)
install(FILES lib/fusekit.h lib/result_code.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/fusekit COMPONENT development)
install(TARGETS boardutil
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_SKIP)
if(TARGET fuseupdate)
  install(TARGETS fuseupdate RUNTIME DESTINATION ${CMAKE_INSTALL_SBINDIR} COMPONENT runtime)
  install(FILES updater/fuseupdate.8 DESTINATION ${CMAKE_INSTALL_MANDIR}/man8 COMPONENT runtime)
endif()

# The pkg-config file finds its prefix from its own place, so that a staged or relocated install
# (DESTDIR, --prefix at install time) stays usable.
file(RELATIVE_PATH pc_to_prefix "/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/")
set(FUSEKIT_PC_PREFIX "\${pcfiledir}/${pc_to_prefix}")
configure_file(cmake/fusekit.pc.in ${PROJECT_BINARY_DIR}/fusekit.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/fusekit.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT development)

set(config_dir ${CMAKE_INSTALL_LIBDIR}/cmake/fusekit)
install(EXPORT fusekitTargets NAMESPACE fusekit:: DESTINATION ${config_dir}
  COMPONENT development)
configure_package_config_file(cmake/fusekitConfig.cmake.in
  ${PROJECT_BINARY_DIR}/fusekitConfig.cmake INSTALL_DESTINATION ${config_dir})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/fusekitConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/fusekitConfig.cmake
  ${PROJECT_BINARY_DIR}/fusekitConfigVersion.cmake
  DESTINATION ${config_dir} COMPONENT development)
