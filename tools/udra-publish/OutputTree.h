// Writes into the content tree so that no file ever appears half-written under
// its final name: new bytes go to a temporary name beside it and are renamed
// into place; a reused stored file is hard-linked (or copied) the same way.
// Write and Reuse may be called from several threads at once.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <set>
#include <string>
#include <unordered_set>
#include <vector>

namespace udra::publish {

struct PreviousDownload;

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
  // it is put in place): the files written and the folders whose entries
  // changed, nothing else on the file system.
  bool Flush(std::string& error);

  const std::filesystem::path& Root() const { return root_; }

 private:
  bool MakeParent(const std::filesystem::path& path, std::string& error);
  bool WriteTemporary(const std::filesystem::path& final, const std::vector<uint8_t>& data,
                      bool flush, std::filesystem::path& temp);
  bool LinkTemporary(const std::filesystem::path& from, const std::filesystem::path& final,
                     std::filesystem::path& temp);
  void Written(const std::filesystem::path& final, bool flushed);

  std::filesystem::path root_;
  std::mutex mutex_;                          // guards the three below
  std::unordered_set<std::string> folders_;   // known to exist (generic form)
  std::set<std::filesystem::path> changed_;   // folders whose entries changed
  std::vector<std::filesystem::path> unflushed_;  // files written without flush
  std::atomic<unsigned> counter_{0};
};

// How an unchanged download's previous stored form was put in place.
enum class ReuseOutcome {
  kNotTried,
  kLinked,
  kCopied,
  kInconsistent,  // its catalogue lines disagree, or it names no path inside OUT
  kMissing,       // missing or not of its catalogued size
  kFailed,        // linking and copying both failed: an error
};

// Puts `old`'s stored file at the new version's `to` (below OUT), provided it
// is one consistent download still there with its catalogued size.
ReuseOutcome ReusePrevious(OutputTree& tree, const PreviousDownload& old, const std::string& to,
                           std::string& error);

// The warning for kInconsistent and kMissing; null for the others.
const char* ReuseProblem(ReuseOutcome outcome);

}  // namespace udra::publish
