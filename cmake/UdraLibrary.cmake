# The library: portable code in its folders, the platform backend beneath it.
# Every .cpp of a folder belongs to its target, so adding a file needs no edit here.

find_package(Threads REQUIRED)

function(_udra_glob out)
  set(_all)
  foreach(_dir ${ARGN})
    file(GLOB _files CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${_dir}/*.cpp)
    list(APPEND _all ${_files})
  endforeach()
  set(${out} ${_all} PARENT_SCOPE)
endfunction()

# Platform layer: one backend chosen by the build.
_udra_glob(_platform_sources platform platform/${UDRA_PLATFORM})
add_library(udra_platform STATIC ${_platform_sources})
target_include_directories(udra_platform PUBLIC ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/include)
target_link_libraries(udra_platform PUBLIC Threads::Threads)
if(UDRA_PLATFORM STREQUAL "posix")
  target_link_libraries(udra_platform PUBLIC ${CMAKE_DL_LIBS} rt)
else()
  target_link_libraries(udra_platform PUBLIC version shell32 ole32 user32 advapi32 ws2_32)
endif()

# Texts of the system are GBK bytes in the binary (most log messages are Chinese).
set(UDRA_GBK_FLAGS -finput-charset=UTF-8 -fexec-charset=GBK)

# Shared helpers, logging and configuration: used by the library, the host and the tools.
_udra_glob(_base_sources util log config)
add_library(udra_base STATIC ${_base_sources})
target_link_libraries(udra_base PUBLIC udra_platform)
target_compile_options(udra_base PRIVATE ${UDRA_GBK_FLAGS})

# The rest of the library.
_udra_glob(_impl_sources core codec hostlink resources qos)
add_library(udra_impl STATIC ${_impl_sources})
target_link_libraries(udra_impl PUBLIC udra_base)
target_compile_options(udra_impl PRIVATE ${UDRA_GBK_FLAGS})
target_compile_definitions(udra_impl PUBLIC
  UDRA_ENTRY_KEY_0=${UDRA_ENTRY_KEY_0} UDRA_ENTRY_KEY_1=${UDRA_ENTRY_KEY_1}
  UDRA_ENTRY_KEY_2=${UDRA_ENTRY_KEY_2} UDRA_ENTRY_KEY_3=${UDRA_ENTRY_KEY_3})

# The shared library the game loads: exactly the two exports (plus, on POSIX,
# the small message-window API a game needs to pump messages).
add_library(UDRAClient SHARED ${CMAKE_SOURCE_DIR}/core/exports/Exports.cpp)
target_link_libraries(UDRAClient PRIVATE
  "$<LINK_LIBRARY:WHOLE_ARCHIVE,udra_impl>" udra_base udra_platform)
target_compile_options(UDRAClient PRIVATE ${UDRA_GBK_FLAGS})
set_target_properties(UDRAClient PROPERTIES CXX_VISIBILITY_PRESET hidden C_VISIBILITY_PRESET hidden
  VISIBILITY_INLINES_HIDDEN ON)
if(WIN32)
  set_target_properties(UDRAClient PROPERTIES PREFIX "" OUTPUT_NAME UDRAClient)
  target_sources(UDRAClient PRIVATE ${CMAKE_SOURCE_DIR}/core/exports/UDRAClient.def)
  target_link_options(UDRAClient PRIVATE -Wl,--kill-at)
else()
  target_sources(UDRAClient PRIVATE ${CMAKE_SOURCE_DIR}/core/exports/Diagnostics.cpp)
  target_link_options(UDRAClient PRIVATE
    -Wl,--version-script=${CMAKE_SOURCE_DIR}/core/exports/UDRAClient.map -Wl,--no-undefined)
  set_property(TARGET UDRAClient APPEND PROPERTY LINK_DEPENDS ${CMAKE_SOURCE_DIR}/core/exports/UDRAClient.map)
  # A versioned SONAME: a game linked against it records libUDRAClient.so.1,
  # while an installation folder keeps the plain name its tools load by path.
  set_target_properties(UDRAClient PROPERTIES VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})
endif()
if(WIN32)
  udra_stage(UDRAClient)
else()
  # The staging folder holds the library under its plain name (tests copy it
  # into installation folders) and the SONAME as a link to the same file, so
  # a game linked against the stage loads the one copy.
  add_custom_command(TARGET UDRAClient POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:UDRAClient> ${UDRA_STAGE_DIR}/libUDRAClient.so
    COMMAND ${CMAKE_COMMAND} -E create_symlink libUDRAClient.so ${UDRA_STAGE_DIR}/$<TARGET_SONAME_FILE_NAME:UDRAClient>
    VERBATIM)
endif()
