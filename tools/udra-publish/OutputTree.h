// Writes into the content tree so that no file ever appears half-written under
// its final name: new bytes go to a temporary name beside it and are renamed
// into place; a reused stored file is hard-linked (or copied) the same way.
#pragma once

#include <cstdint>
#include <filesystem>
#include <unordered_set>
#include <string>
#include <vector>

namespace udra::publish {

class OutputTree {
 public:
  explicit OutputTree(std::filesystem::path root) : root_(std::move(root)) {}

  // root/relative (slash separators) gets `data`. With `flush` the bytes are
  // on the disk before the rename.
  bool Write(const std::string& relative, const std::vector<uint8_t>& data, bool flush,
             std::string& error);

  // root/to becomes the stored file root/from: a hard link where the file
  // system allows, else a copy with from's modification time. `linked` tells
  // which.
  bool Reuse(const std::string& from, const std::string& to, bool& linked, std::string& error);

  // Makes everything written so far durable (before the catalogue that names
  // it is put in place).
  bool Flush(std::string& error);

  const std::filesystem::path& Root() const { return root_; }

 private:
  bool MakeParent(const std::filesystem::path& path, std::string& error);
  bool WriteTemporary(const std::filesystem::path& final, const std::vector<uint8_t>& data,
                      bool flush, std::filesystem::path& temp);
  bool LinkTemporary(const std::filesystem::path& from, const std::filesystem::path& final,
                     std::filesystem::path& temp);

  std::filesystem::path root_;
  std::unordered_set<std::string> folders_;  // known to exist (generic form)
  unsigned counter_ = 0;
};

}  // namespace udra::publish
