# Small helpers shared by the folders' CMake files.

# Adds every direct subfolder of DIR that has a CMakeLists.txt.
function(udra_add_subdirectories dir)
  file(GLOB _children LIST_DIRECTORIES true ${CMAKE_SOURCE_DIR}/${dir}/*)
  list(SORT _children)
  foreach(_child ${_children})
    if(IS_DIRECTORY ${_child} AND EXISTS ${_child}/CMakeLists.txt)
      add_subdirectory(${_child})
    endif()
  endforeach()
endfunction()

# Puts a built target into the staging folder that looks like an installation.
function(udra_stage target)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:${target}> ${UDRA_STAGE_DIR}/
    VERBATIM)
endfunction()

# Builds a companion as a shared object with a fixed file name ("ZAV.dll",
# "LZMA.DLL", ...): the deployment folder looks the same on every platform.
function(udra_companion target file_name)
  set_target_properties(${target} PROPERTIES PREFIX "" SUFFIX "" OUTPUT_NAME ${file_name}
    CXX_VISIBILITY_PRESET hidden C_VISIBILITY_PRESET hidden)
  udra_stage(${target})
endfunction()

# A companion's export list: a .def file on Windows (undecorated cdecl
# names, exactly these), an ELF version script, when it has one, elsewhere.
function(udra_export_list target def_file map_file)
  if(WIN32)
    target_sources(${target} PRIVATE ${def_file})
  elseif(map_file)
    target_link_options(${target} PRIVATE -Wl,--version-script=${CMAKE_CURRENT_SOURCE_DIR}/${map_file})
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${map_file})
  endif()
endfunction()

# One GoogleTest executable; its tests are registered with CTest.
function(udra_add_gtest name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main GTest::gmock Threads::Threads)
  target_compile_definitions(${name} PRIVATE UDRA_STAGE_DIR="${UDRA_STAGE_DIR}"
    UDRA_SOURCE_DIR="${CMAKE_SOURCE_DIR}" UDRA_BINARY_DIR="${CMAKE_BINARY_DIR}")
  if(CMAKE_CROSSCOMPILING)
    return()
  endif()
  include(GoogleTest)
  # One label per executable: a list would be split into separate arguments.
  set(_label unit)
  if(T_LABELS)
    list(GET T_LABELS 0 _label)
  endif()
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300 LABELS ${_label})
endfunction()
