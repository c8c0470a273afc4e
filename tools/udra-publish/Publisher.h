// Publishes a folder of game files: the content tree (every download name at
// OUT/urlFolder/name) and OUT/FileList.dat.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "Catalogue.h"
#include "EntryEncoder.h"

namespace udra::publish {

struct PublishOptions {
  std::string source;                 // folder to publish
  std::string output;                 // content tree to write
  std::string urlFolder;              // UTF-8, either separator; may be empty
  std::vector<std::string> packages;  // folders below `source` stored as packages
  EncoderSettings encoder;
  bool progress = false;
};

struct PublishStats {
  size_t files = 0;
  size_t folders = 0;
  size_t packages = 0;
  uint64_t inputBytes = 0;
  uint64_t outputBytes = 0;
};

class Publisher {
 public:
  explicit Publisher(PublishOptions options);
  // False with `error` set on the first problem; what was written so far
  // stays, FileList.dat is written last.
  bool Run(std::string& error);
  const PublishStats& Stats() const { return stats_; }

 private:
  struct Item {
    std::string relative;  // UTF-8, backslash separators
    std::string key;       // the catalogue key in ANSI bytes
    std::filesystem::path path;
    bool folder = false;
    uint64_t size = 0;
    int package = -1;      // index into packages_
  };
  struct Package {
    std::string folderKey;  // ANSI
    std::string relative;   // UTF-8 folder
    std::string name;       // ANSI download name: folderKey + ".pack"
    int64_t packedSize = 0;
    std::string packedDigest;
  };

  bool CheckOptions(std::string& error);
  bool Scan(std::string& error);
  bool AddItem(const std::filesystem::path& path, bool folder, uint64_t size, std::string& error);
  bool AssignPackages(std::string& error);
  bool PublishFiles(std::string& error);
  bool PublishPackage(size_t index, std::string& error);
  bool WriteFileList(std::string& error);
  bool WriteOutput(const std::string& relativeUtf8, const std::vector<uint8_t>& data,
                   std::string& error);
  void Advance(const Item& item);

  PublishOptions options_;
  std::string urlFolderUtf8_;  // normalised, slash separators
  std::string urlFolderKey_;   // ANSI, for the catalogue
  std::filesystem::path sourceRoot_;
  std::vector<Item> items_;
  std::vector<Package> packages_;
  std::vector<CatalogueLine> lines_;
  PublishStats stats_;
  class Progress* progress_ = nullptr;
};

}  // namespace udra::publish
