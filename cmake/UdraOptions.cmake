# Build options and the platform backend.

if(WIN32)
  set(UDRA_PLATFORM win32)
  set(_udra_companions_default OFF)
else()
  set(UDRA_PLATFORM posix)
  set(_udra_companions_default ON)
endif()

option(UDRA_BUILD_COMPANIONS "Build the store, LZMA module, statistics, host and tools" ${_udra_companions_default})
option(UDRA_BUILD_TESTS "Build the unit and integration tests" ON)
option(UDRA_BUILD_BENCHMARKS "Build the benchmarks in bench/" OFF)
option(UDRA_BUILD_FUZZERS "Build the libFuzzer targets (needs clang)" OFF)
set(UDRA_SANITIZE "" CACHE STRING "Sanitizers to build with: address,undefined or thread")

# The 16-byte key of stored entries, 32 hexadecimal digits (four big-endian words).
set(UDRA_ENTRY_KEY "3A9C17E56B20D4F1C58E0B3791F46A2D" CACHE STRING "Key of stored entries")
if(NOT UDRA_ENTRY_KEY MATCHES "^[0-9A-Fa-f]+$")
  message(FATAL_ERROR "UDRA_ENTRY_KEY must be 32 hexadecimal digits")
endif()
string(LENGTH "${UDRA_ENTRY_KEY}" _udra_key_len)
if(NOT _udra_key_len EQUAL 32)
  message(FATAL_ERROR "UDRA_ENTRY_KEY must be 32 hexadecimal digits")
endif()
foreach(_i 0 1 2 3)
  math(EXPR _off "${_i} * 8")
  string(SUBSTRING "${UDRA_ENTRY_KEY}" ${_off} 8 _word)
  set(UDRA_ENTRY_KEY_${_i} "0x${_word}u")
endforeach()

if(UDRA_SANITIZE)
  add_compile_options(-fsanitize=${UDRA_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${UDRA_SANITIZE})
endif()

if(MINGW)
  # The DLL must need nothing beside it.
  add_link_options(-static -static-libgcc -static-libstdc++)
endif()
