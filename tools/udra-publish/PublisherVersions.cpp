// The parts of a publish that deal with the previous version: where the new
// version may write, reusing stored files, counting what changed, pruning.
#include <cstdio>
#include <system_error>
#include <unordered_set>

#include "Publisher.h"
#include "Utf8Path.h"

namespace fs = std::filesystem;

namespace udra::publish {

std::string Publisher::StoredPath(const std::string& relativeUtf8) const {
  return JoinBelowRoot(urlFolderUtf8_, relativeUtf8);
}

// Before anything is written: the new version must not overwrite a file the
// previous version serves (its downloads and its catalogue copy), nor an
// earlier version kept beside it, nor the catalogue itself.
bool Publisher::CheckLayout(std::string& error) {
  for (const Item& item : items_) {
    if (SameKey(item.key.substr(0, item.key.find('\\')), kFileList)) {
      error = std::string("a source file or folder named ") + kFileList +
              " would take the catalogue's place: " + item.relative;
      return false;
    }
  }
  if (!previous_.Exists()) return true;
  stats_.previousFolders = previous_.UrlFolders();
  const std::string folded = FoldCase(urlFolderUtf8_);
  std::unordered_set<std::string> occupied;
  for (const std::string& folder : previous_.UrlFolders()) {
    if (FoldCase(folder) == folded) {
      error = "the previous version is served from the URL folder \"" + folder +
              "\": publish the new version under another --url-folder (replacing its files "
              "would break clients still on it)";
      return false;
    }
    occupied.insert(FoldCase(JoinBelowRoot(folder, kFileList)));
  }
  std::error_code ec;
  if (!urlFolderUtf8_.empty() &&
      fs::exists(PathOf(options_.output) / PathOf(StoredPath(kFileList)), ec)) {
    error = "the URL folder \"" + urlFolderUtf8_ +
            "\" holds the catalogue of an earlier version: choose another --url-folder";
    return false;
  }
  for (const PreviousDownload& download : previous_.Downloads()) {
    if (!download.path.empty()) occupied.insert(FoldCase(download.path));
  }
  std::vector<std::string> written;
  for (const Item& item : items_) {
    if (!item.folder && item.package < 0) written.push_back(StoredPath(item.relative));
  }
  for (const Package& package : packages_) {
    written.push_back(StoredPath(package.relative + kPackageSuffix));
  }
  for (const std::string& path : written) {
    if (occupied.count(FoldCase(path)) != 0) {
      error = "the new version would overwrite " + path +
              ", which the previous version serves: choose another --url-folder";
      return false;
    }
  }
  return true;
}

// Puts the previous version's stored form of `old` at the new version's
// `relativeUtf8`, provided it is still there with its catalogued size;
// `reused` false otherwise (the caller then stores it anew).
bool Publisher::TryReuse(const PreviousDownload& old, const std::string& relativeUtf8,
                         bool& reused, std::string& error) {
  std::string failure;
  const ReuseOutcome outcome = ReusePrevious(tree_, old, StoredPath(relativeUtf8), failure);
  return Reused(old, outcome, failure, reused, error);
}

// Counts what ReusePrevious did (here or on a hashing thread) and warns when
// the previous stored form could not be used.
bool Publisher::Reused(const PreviousDownload& old, ReuseOutcome outcome,
                       const std::string& failure, bool& reused, std::string& error) {
  reused = false;
  switch (outcome) {
    case ReuseOutcome::kNotTried: return true;
    case ReuseOutcome::kFailed: error = failure; return false;
    case ReuseOutcome::kLinked: ++stats_.linked; reused = true; return true;
    case ReuseOutcome::kCopied: ++stats_.copied; reused = true; return true;
    case ReuseOutcome::kInconsistent:
    case ReuseOutcome::kMissing: break;
  }
  std::fprintf(stderr, "udra-publish: %s %s; storing it anew\n", ToUtf8(old.name).c_str(),
               ReuseProblem(outcome));
  ++stats_.storedAnew;
  return true;
}

void Publisher::CountDownload(const std::string& name, const std::string& path, bool reused,
                              uint64_t storedBytes) {
  downloads_.push_back(FoldCase(name));
  storedPaths_.push_back(FoldCase(path));
  ChangeCount& count = reused                        ? stats_.reused
                       : previous_.Find(name) != nullptr ? stats_.changed
                                                         : stats_.added;
  ++count.count;
  count.bytes += storedBytes;
}

void Publisher::CountRemoved() {
  const std::unordered_set<std::string> kept(downloads_.begin(), downloads_.end());
  for (const PreviousDownload& download : previous_.Downloads()) {
    if (kept.count(FoldCase(download.name)) != 0) continue;
    ++stats_.removed.count;
    stats_.removed.bytes += uint64_t(download.packedSize);
  }
}

// Keeps what either catalogue names, the two versions' catalogue copies and
// OUT/FileList.dat; everything else below OUT goes.
bool Publisher::PruneTree(std::string& error) {
  std::unordered_set<std::string> keep(storedPaths_.begin(), storedPaths_.end());
  keep.insert(FoldCase(kFileList));
  keep.insert(FoldCase(StoredPath(kFileList)));
  for (const std::string& folder : previous_.UrlFolders()) {
    keep.insert(FoldCase(JoinBelowRoot(folder, kFileList)));
  }
  for (const PreviousDownload& download : previous_.Downloads()) {
    if (!download.path.empty()) keep.insert(FoldCase(download.path));
  }
  stats_.pruned = true;
  if (!Prune(PathOf(options_.output), keep, stats_.prune, error)) {
    error = "the new version is published, but pruning stopped: " + error;
    return false;
  }
  return true;
}

}  // namespace udra::publish
