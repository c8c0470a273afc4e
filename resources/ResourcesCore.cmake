# The catalogue, path rules, URL encoder, packages, use record and file
# operations as a library of their own, for the tests, benchmarks and fuzzers
# of this folder (the same sources are part of udra_impl).
if(NOT TARGET udra_resources_core)
  set(_rc ${CMAKE_SOURCE_DIR}/resources)
  add_library(udra_resources_core STATIC
    ${_rc}/CataloguePreload.cpp ${_rc}/KeyOrder.cpp ${_rc}/KeySort.cpp ${_rc}/PathRules.cpp ${_rc}/UrlEncode.cpp ${_rc}/FileList.cpp ${_rc}/Package.cpp
    ${_rc}/PackageCache.cpp
    ${_rc}/ContentDecoder.cpp ${_rc}/EntryChecks.cpp ${_rc}/UseRecord.cpp ${_rc}/FileOperations.cpp)
  target_link_libraries(udra_resources_core PUBLIC udra_base)
  target_compile_options(udra_resources_core PRIVATE ${UDRA_GBK_FLAGS})
endif()
