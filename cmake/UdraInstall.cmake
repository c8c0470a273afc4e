# cmake --install: the library, its public headers and a package configuration
# so that a Linux game can find_package(UDRAClient).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

install(TARGETS UDRAClient EXPORT UDRAClientTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
target_include_directories(UDRAClient INTERFACE $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/include/udra DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(EXPORT UDRAClientTargets NAMESPACE UDRAClient::
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/UDRAClient)
configure_package_config_file(${CMAKE_SOURCE_DIR}/cmake/UDRAClientConfig.cmake.in
  ${CMAKE_BINARY_DIR}/UDRAClientConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/UDRAClient)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/UDRAClientConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/UDRAClientConfig.cmake ${CMAKE_BINARY_DIR}/UDRAClientConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/UDRAClient)
