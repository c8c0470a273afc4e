// A large generated FileList.dat in the layout udra-publish writes: top
// folders (two with GBK names), regions, sets, files, every eighth set
// packaged. Sizes and digests are made up; only start-up reads it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace udra::sysbench {

struct CatalogueShape {
  size_t entries = 0;   // lines, folders included
  size_t folders = 0;
  size_t packaged = 0;  // files in packages
  uint64_t bytes = 0;
};

// Writes exactly `entries` lines (at least the 11,010 folder lines) to `path`.
bool WriteCatalogue(const std::string& path, size_t entries, CatalogueShape& shape);

}  // namespace udra::sysbench
