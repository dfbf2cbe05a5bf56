include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# Installed programs find the installed library beside them, wherever the
# prefix is moved, with no environment variable.
set(CMAKE_INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")

install(TARGETS xelmdapi EXPORT xelmdapiTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
target_include_directories(xelmdapi INTERFACE $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
install(EXPORT xelmdapiTargets NAMESPACE xelmdapi::
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/xelmdapi)
configure_package_config_file(${CMAKE_SOURCE_DIR}/cmake/xelmdapiConfig.cmake.in
  ${CMAKE_BINARY_DIR}/xelmdapiConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/xelmdapi)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/xelmdapiConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/xelmdapiConfig.cmake ${CMAKE_BINARY_DIR}/xelmdapiConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/xelmdapi)
# The pkg-config file names the prefix given at install time (cmake --install
# --prefix, make install PREFIX=...), not the one known when configuring.
install(CODE "
  set(XELMD_PC_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
  set(CMAKE_INSTALL_LIBDIR \"${CMAKE_INSTALL_LIBDIR}\")
  set(CMAKE_INSTALL_INCLUDEDIR \"${CMAKE_INSTALL_INCLUDEDIR}\")
  set(PROJECT_VERSION \"${PROJECT_VERSION}\")
  configure_file(\"${CMAKE_SOURCE_DIR}/cmake/xelmdapi.pc.in\"
    \"${CMAKE_BINARY_DIR}/xelmdapi.pc\" @ONLY)")
install(FILES ${CMAKE_BINARY_DIR}/xelmdapi.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
