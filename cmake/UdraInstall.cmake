# cmake --install: on Linux a complete installation folder a game can start
# as it is, plus what a game needs to build against it.
#
#   PREFIX/lib/udra/   the installation folder: libUDRAClient.so (SONAME
#                      libUDRAClient.so.1), ZAV.dll, LZMA.DLL, UDRAStats.dll,
#                      UDRAHostApp.exe and the INI files. The library treats
#                      its own folder as the installation, so everything it
#                      loads or reads sits beside it; Logs/ and UDRADownload/
#                      appear there at run time.
#   PREFIX/bin/        udra, udra-publish, udra-qosd
#   PREFIX/include/udra/, PREFIX/lib/cmake/UDRAClient/, PREFIX/lib/pkgconfig/UDRAClient.pc
#
# INI files already in the installation folder are kept: they hold the
# operator's settings and values the library writes (UDRAClient.ini's
# LastReport).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(UDRA_INSTALL_FOLDER "${CMAKE_INSTALL_LIBDIR}/udra" CACHE STRING
  "Installation folder (library, companions, INI files), relative to the prefix")
if(IS_ABSOLUTE "${UDRA_INSTALL_FOLDER}")
  message(FATAL_ERROR "UDRA_INSTALL_FOLDER must be relative to the install prefix")
endif()

if(WIN32)
  set(UDRA_INSTALLATION_DIR ${CMAKE_INSTALL_BINDIR})
  install(TARGETS UDRAClient EXPORT UDRAClientTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
else()
  set(UDRA_INSTALLATION_DIR ${UDRA_INSTALL_FOLDER})
  install(TARGETS UDRAClient EXPORT UDRAClientTargets LIBRARY DESTINATION ${UDRA_INSTALL_FOLDER})
  foreach(_companion zav_store udra_lzma_dll udra_stats_dll)
    if(TARGET ${_companion})
      install(TARGETS ${_companion} LIBRARY DESTINATION ${UDRA_INSTALL_FOLDER})
    endif()
  endforeach()
  if(TARGET udra_host)
    install(TARGETS udra_host RUNTIME DESTINATION ${UDRA_INSTALL_FOLDER})
  endif()
  foreach(_tool udra-publish udra-qosd)
    if(TARGET ${_tool})
      install(TARGETS ${_tool} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    endif()
  endforeach()
  # The INI files with their comments, only where none is yet.
  foreach(_ini UDRAConfig.ini UDRAClient.ini UDRAHostApp.ini LogConfig.ini)
    install(CODE "
      set(_target \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${UDRA_INSTALL_FOLDER}/${_ini}\")
      if(EXISTS \"\${_target}\")
        message(STATUS \"Kept: \${_target}\")
      else()
        file(INSTALL \"${CMAKE_SOURCE_DIR}/installation/${_ini}\"
             DESTINATION \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${UDRA_INSTALL_FOLDER}\"
             FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
      endif()")
  endforeach()

  # pkg-config: relative to the .pc file, so the prefix may move.
  file(RELATIVE_PATH _pc_to_prefix "/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/")
  string(REGEX REPLACE "/$" "" _pc_to_prefix "${_pc_to_prefix}")
  configure_file(${CMAKE_SOURCE_DIR}/cmake/UDRAClient.pc.in ${CMAKE_BINARY_DIR}/UDRAClient.pc @ONLY)
  install(FILES ${CMAKE_BINARY_DIR}/UDRAClient.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endif()

target_include_directories(UDRAClient INTERFACE $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/include/udra DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(EXPORT UDRAClientTargets NAMESPACE UDRAClient::
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/UDRAClient)
configure_package_config_file(${CMAKE_SOURCE_DIR}/cmake/UDRAClientConfig.cmake.in
  ${CMAKE_BINARY_DIR}/UDRAClientConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/UDRAClient
  PATH_VARS UDRA_INSTALLATION_DIR)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/UDRAClientConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/UDRAClientConfig.cmake ${CMAKE_BINARY_DIR}/UDRAClientConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/UDRAClient)
