# 32-bit Windows with MinGW-w64 (the shipped DLL).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The static Windows builds of SQLite, liblzma and libcurl that
# scripts/build-mingw-deps.sh installs: UDRA_MINGW_DEPS (a cache variable or
# the environment) names their prefix, searched before the MinGW sysroot.
if(NOT UDRA_MINGW_DEPS AND DEFINED ENV{UDRA_MINGW_DEPS} AND NOT "$ENV{UDRA_MINGW_DEPS}" STREQUAL "")
  set(UDRA_MINGW_DEPS "$ENV{UDRA_MINGW_DEPS}" CACHE PATH "Prefix of the static MinGW builds of SQLite, liblzma and libcurl")
endif()
if(UDRA_MINGW_DEPS)
  if(NOT IS_DIRECTORY "${UDRA_MINGW_DEPS}/lib")
    message(FATAL_ERROR "UDRA_MINGW_DEPS=${UDRA_MINGW_DEPS} holds no libraries: run scripts/build-mingw-deps.sh")
  endif()
  list(PREPEND CMAKE_FIND_ROOT_PATH "${UDRA_MINGW_DEPS}")
  list(PREPEND CMAKE_PREFIX_PATH "${UDRA_MINGW_DEPS}")
  list(REMOVE_DUPLICATES CMAKE_FIND_ROOT_PATH)
  list(REMOVE_DUPLICATES CMAKE_PREFIX_PATH)
  # try_compile() projects read this file again: they get the prefix too.
  list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES UDRA_MINGW_DEPS)
endif()
