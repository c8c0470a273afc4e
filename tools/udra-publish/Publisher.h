// Publishes a folder of game files as a new version of a content tree: every
// download at OUT/urlFolder/name, the version's catalogue at
// OUT/urlFolder/FileList.dat, and OUT/FileList.dat, which clients read,
// switched over last. Content the previous version (the one OUT/FileList.dat
// described) stores unchanged is linked, not stored again.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "Catalogue.h"
#include "EntryEncoder.h"
#include "OutputTree.h"
#include "PreviousVersion.h"
#include "Pruner.h"
#include "SourceReader.h"

namespace udra::publish {

constexpr char kFileList[] = "FileList.dat";
constexpr char kPackageSuffix[] = ".pack";  // 5 characters: readers cut them off

struct PublishOptions {
  std::string source;                 // folder to publish
  std::string output;                 // content tree to write
  std::string urlFolder;              // UTF-8, either separator; may be empty
  std::vector<std::string> packages;  // folders below `source` stored as packages
  EncoderSettings encoder;
  bool progress = false;
  bool prune = false;                 // remove what neither version names
};

// Downloads (files stored on their own and packages) and their stored bytes.
struct ChangeCount {
  size_t count = 0;
  uint64_t bytes = 0;
};

struct PublishStats {
  size_t files = 0;
  size_t folders = 0;
  size_t packages = 0;
  uint64_t inputBytes = 0;
  uint64_t outputBytes = 0;  // stored bytes of the whole new version
  ChangeCount changed, added, removed, reused;
  size_t linked = 0, copied = 0;  // how the reused downloads were put in place
  // Unchanged, but the previous stored file was missing or had the wrong
  // size, so it was stored anew (and counted as changed).
  size_t storedAnew = 0;
  std::string urlFolder;                     // UTF-8
  std::vector<std::string> previousFolders;  // UTF-8; empty without a previous version
  bool pruned = false;
  PruneResult prune;
};

class Publisher {
 public:
  explicit Publisher(PublishOptions options);
  // False with `error` set on the first problem. Nothing the previous
  // version serves is changed before OUT/FileList.dat is replaced, which
  // happens last and in one step.
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
  bool AddItem(const std::filesystem::path& path, std::string relative, bool folder,
               uint64_t size, std::string& error);
  bool AssignPackages(std::string& error);
  bool CheckLayout(std::string& error);
  bool PublishFiles(std::string& error);
  bool PublishPackage(size_t index, std::string& error);
  bool ReusePackage(size_t index, const PreviousDownload& old, bool& reused, std::string& error);
  bool TryReuse(const PreviousDownload& old, const std::string& relativeUtf8, bool& reused,
                std::string& error);
  bool Reused(const PreviousDownload& old, ReuseOutcome outcome, const std::string& failure,
              bool& reused, std::string& error);
  void CountDownload(const std::string& name, const std::string& path, bool reused,
                     uint64_t storedBytes);
  void CountRemoved();
  bool WriteFileList(std::string& error);
  bool PruneTree(std::string& error);
  bool ReadSource(const Item& item, std::vector<uint8_t>& data, std::string& error);
  // The digest the hashing threads found for items_[index]; false when
  // there is none (no previous version, or the file could not be read).
  bool Digested(size_t index, uint64_t& size, std::string& digest);
  bool WriteOutput(const std::string& relativeUtf8, const std::vector<uint8_t>& data,
                   std::string& error);
  std::string StoredPath(const std::string& relativeUtf8) const;
  void Advance(const Item& item);

  PublishOptions options_;
  std::string urlFolderUtf8_;  // normalised, slash separators
  std::string urlFolderKey_;   // ANSI, for the catalogue
  std::filesystem::path sourceRoot_;
  std::vector<Item> items_;
  std::vector<Package> packages_;
  std::vector<CatalogueLine> lines_;
  std::vector<std::string> downloads_;    // folded names of the new version's downloads
  std::vector<std::string> storedPaths_;  // and their folded paths below OUT
  PreviousVersion previous_;
  std::unique_ptr<DigestAhead> ahead_;
  OutputTree tree_;
  PublishStats stats_;
  class Progress* progress_ = nullptr;
};

}  // namespace udra::publish
