include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

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
configure_file(${CMAKE_SOURCE_DIR}/cmake/xelmdapi.pc.in ${CMAKE_BINARY_DIR}/xelmdapi.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/xelmdapi.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
