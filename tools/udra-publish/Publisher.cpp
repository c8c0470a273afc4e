#include "Publisher.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <limits>
#include <system_error>
#include <unordered_set>

#include "DurableFile.h"
#include "PackageWriter.h"
#include "Progress.h"
#include "SourceReader.h"
#include "Utf8Path.h"
#include "util/Md5.h"

namespace fs = std::filesystem;

namespace udra::publish {
namespace {

constexpr uint64_t kMaxFileSize = uint64_t(std::numeric_limits<int32_t>::max());
// Catalogue lookups treat keys of 256 bytes or more as absent.
constexpr size_t kMaxKeyLength = 255;

// Replaces either separator by `sep`, collapses runs and trims separators and
// blanks at both ends.
std::string Normalise(const std::string& in, char sep) {
  std::string out;
  for (char c : in) {
    const bool isSep = c == '/' || c == '\\';
    if (isSep) {
      if (!out.empty() && out.back() != sep) out += sep;
    } else {
      out += c;
    }
  }
  while (!out.empty() && (out.back() == sep || out.back() == ' ')) out.pop_back();
  size_t start = 0;
  while (start < out.size() && out[start] == ' ') ++start;
  return out.substr(start);
}

bool HasDotDot(const std::string& path, char sep) {
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find(sep, start);
    if (end == std::string::npos) end = path.size();
    const std::string part = path.substr(start, end - start);
    if (part == ".." || part == ".") return true;
    start = end + 1;
  }
  return false;
}

// Names that FileList.dat cannot carry unchanged: its column separator,
// control characters, and blanks at either end (readers trim them).
const char* NameProblem(const std::string& name) {
  if (name.find('|') != std::string::npos) return "contains '|'";
  for (unsigned char c : name) {
    if (c < 0x20 || c == 0x7F) return "contains a control character";
  }
  if (name.front() == ' ' || name.back() == ' ') return "begins or ends with a space";
  return nullptr;
}

bool IsBelow(const std::string& key, const std::string& folder) {
  return key.size() > folder.size() + 1 && key.compare(0, folder.size(), folder) == 0 &&
         key[folder.size()] == '\\';
}

}  // namespace

Publisher::Publisher(PublishOptions options)
    : options_(std::move(options)), tree_(PathOf(options_.output)) {}

bool Publisher::Run(std::string& error) {
  try {
    if (!CheckOptions(error) || !Scan(error) || !AssignPackages(error) ||
        !previous_.Load(PathOf(options_.output) / kFileList, error) || !CheckLayout(error)) {
      return false;
    }
    uint64_t total = 0;
    size_t files = 0;
    for (const Item& item : items_) {
      if (!item.folder) {
        total += item.size;
        ++files;
      }
    }
    Progress progress(options_.progress, total, files);
    progress_ = &progress;
    if (previous_.Exists()) {
      // Only a previous version makes digests worth having before encoding.
      // Files stored on their own are put in place by the hashing threads
      // when unchanged; package members are only hashed.
      std::vector<HashJob> jobs(items_.size());
      for (size_t i = 0; i < items_.size(); ++i) {
        const Item& item = items_[i];
        if (item.folder) continue;
        jobs[i].path = item.path;
        jobs[i].size = item.size;
        if (item.package >= 0) continue;
        const PreviousDownload* old = previous_.Find(item.key);
        if (old != nullptr && !old->package) {
          jobs[i].previous = old;
          jobs[i].to = StoredPath(item.relative);
        }
      }
      ahead_ = std::make_unique<DigestAhead>(std::move(jobs), kMaxFileSize, tree_);
    }
    bool ok = PublishFiles(error);
    for (size_t i = 0; ok && i < packages_.size(); ++i) ok = PublishPackage(i, error);
    ahead_.reset();
    progress.Finish();
    progress_ = nullptr;
    if (!ok) return false;
    CountRemoved();
    if (!WriteFileList(error)) return false;
    return !options_.prune || PruneTree(error);
  } catch (const std::exception& e) {
    ahead_.reset();
    progress_ = nullptr;
    error = e.what();
    return false;
  }
}

bool Publisher::CheckOptions(std::string& error) {
  std::error_code ec;
  sourceRoot_ = fs::canonical(PathOf(options_.source), ec);
  if (ec || !fs::is_directory(sourceRoot_)) {
    error = "source folder not found: " + options_.source;
    return false;
  }
  const fs::path out = fs::weakly_canonical(PathOf(options_.output), ec);
  if (ec) {
    error = "bad output folder: " + options_.output;
    return false;
  }
  // Compared part by part, so that either separator and a trailing one are
  // alike on every system.
  const fs::path inside = out.lexically_relative(sourceRoot_);
  if (!inside.empty() && *inside.begin() != "..") {
    error = "the output folder must not lie inside the source folder";
    return false;
  }
  urlFolderUtf8_ = Normalise(options_.urlFolder, '/');
  if (!urlFolderUtf8_.empty()) {
    if (const char* problem = NameProblem(urlFolderUtf8_)) {
      error = "URL folder " + std::string(problem);
      return false;
    }
    if (HasDotDot(urlFolderUtf8_, '/')) {
      error = "URL folder must not contain '.' or '..' parts";
      return false;
    }
    urlFolderKey_ = ToAnsi(urlFolderUtf8_);
    if (urlFolderKey_.empty()) {
      error = "URL folder cannot be written in the ANSI code page";
      return false;
    }
  }
  stats_.urlFolder = urlFolderUtf8_;
  return true;
}

bool Publisher::Scan(std::string& error) {
  std::error_code ec;
  fs::recursive_directory_iterator it(sourceRoot_, fs::directory_options::none, ec), end;
  // The catalogue name of the folder being listed at each depth.
  std::vector<std::string> folders;
  for (; !ec && it != end; it.increment(ec)) {
    const fs::directory_entry& entry = *it;
    // The entry's type comes with the folder listing; only links need a look
    // at what they point to. A regular file needs one more for its size.
    const bool link = entry.is_symlink(ec);
    if (ec) break;
    const fs::file_type type =
        link ? entry.status(ec).type()
             : entry.is_directory(ec)
                   ? fs::file_type::directory
                   : (!ec && entry.is_regular_file(ec)) ? fs::file_type::regular
                                                        : fs::file_type::unknown;
    if (ec) break;
    if (type != fs::file_type::directory && type != fs::file_type::regular) continue;
    const fs::path& path = entry.path();
    if (type == fs::file_type::directory && link) {
      std::fprintf(stderr, "udra-publish: skipping linked folder %s\n", TextOf(path).c_str());
      continue;
    }
    const size_t depth = size_t(it.depth());
    std::string relative = TextOf(path.filename());
    if (relative.find('\\') != std::string::npos) {
      error = "name contains a backslash: " + TextOf(path);
      return false;
    }
    if (depth > 0) relative = folders[depth - 1] + '\\' + relative;
    uint64_t size = 0;
    if (type == fs::file_type::directory) {
      folders.resize(depth + 1);
      folders[depth] = relative;
    } else {
      size = entry.file_size(ec);
      if (ec) break;
    }
    if (!AddItem(path, std::move(relative), type == fs::file_type::directory, size, error)) {
      return false;
    }
  }
  if (ec) {
    error = "cannot read the source folder: " + ec.message();
    return false;
  }
  std::sort(items_.begin(), items_.end(),
            [](const Item& a, const Item& b) { return KeyLess(a.key, b.key); });
  for (size_t i = 1; i < items_.size(); ++i) {
    if (SameKey(items_[i - 1].key, items_[i].key)) {
      error = "names differ only in letter case: " + items_[i - 1].relative + " and " +
              items_[i].relative;
      return false;
    }
  }
  return true;
}

bool Publisher::AddItem(const fs::path& path, std::string relative, bool folder, uint64_t size,
                        std::string& error) {
  if (const char* problem = NameProblem(relative)) {
    error = "name " + std::string(problem) + ": " + relative;
    return false;
  }
  Item item;
  item.key = ToAnsi(relative);
  item.relative = std::move(relative);
  if (item.key.empty()) {
    error = "name cannot be written in the ANSI code page: " + item.relative;
    return false;
  }
  if (item.key.size() > kMaxKeyLength) {
    error = "name longer than 255 bytes: " + item.relative;
    return false;
  }
  if (!folder && size > kMaxFileSize) {
    error = "file larger than 2 GiB: " + item.relative;
    return false;
  }
  item.path = path;
  item.folder = folder;
  item.size = size;
  items_.push_back(std::move(item));
  return true;
}

bool Publisher::AssignPackages(std::string& error) {
  for (const std::string& option : options_.packages) {
    const std::string relative = Normalise(option, '\\');
    const auto found = std::find_if(items_.begin(), items_.end(), [&](const Item& item) {
      return item.folder && item.relative == relative;
    });
    if (relative.empty() || found == items_.end()) {
      error = "package folder not found in the source: " + option;
      return false;
    }
    if (found->package >= 0) {
      error = "package folders must not overlap: " + option;
      return false;
    }
    Package package;
    package.relative = relative;
    package.folderKey = found->key;
    package.name = found->key + kPackageSuffix;
    if (package.name.size() > kMaxKeyLength) {
      error = "package name longer than 255 bytes: " + relative;
      return false;
    }
    const int index = int(packages_.size());
    for (Item& item : items_) {
      if (SameKey(item.key, package.name)) {
        error = "the package name is taken by a source file: " + item.relative;
        return false;
      }
      if (item.key != package.folderKey && !IsBelow(item.key, package.folderKey)) continue;
      if (item.package >= 0) {
        error = "package folders must not overlap: " + option;
        return false;
      }
      item.package = index;
    }
    packages_.push_back(std::move(package));
  }
  return true;
}

void Publisher::Advance(const Item& item) {
  if (progress_ != nullptr) progress_->Advance(item.size, item.relative);
}

bool Publisher::PublishFiles(std::string& error) {
  for (size_t index = 0; index < items_.size(); ++index) {
    const Item& item = items_[index];
    CatalogueLine line;
    line.name = item.key;
    line.urlFolder = urlFolderKey_;
    if (item.package >= 0) line.packageName = packages_[size_t(item.package)].name;
    if (item.folder) {
      line.size = -1;
      line.digest = kNoDigest;
      line.packedDigest = kNoDigest;
      lines_.push_back(std::move(line));
      ++stats_.folders;
      continue;
    }
    if (item.package >= 0) continue;  // written with its package
    const PreviousDownload* old = previous_.Find(item.key);
    bool reused = false;
    uint64_t size = 0;
    if (old != nullptr && !old->package && ahead_ != nullptr) {
      // The hashing thread compared it with the previous version and, when
      // unchanged, put the previous stored form in place already.
      const HashResult& hashed = ahead_->Get(index);
      if (hashed.reuse != ReuseOutcome::kNotTried) {
        size = hashed.size;
        line.digest = hashed.digest;
        if (!Reused(*old, hashed.reuse, hashed.error, reused, error)) return false;
      }
    }
    if (reused) {
      line.size = int64_t(size);
      line.packedSize = old->packedSize;
      line.packedDigest = old->packedDigest;
    } else {
      // The catalogue describes the bytes encoded now, whatever was hashed
      // before.
      std::vector<uint8_t> data, stored;
      if (!ReadSource(item, data, error)) return false;
      size = data.size();
      line.size = int64_t(size);
      line.digest = Md5::HexDigest(data.data(), data.size());
      if (!EncodeEntry(options_.encoder, data, stored, error)) {
        error += ": " + item.relative;
        return false;
      }
      if (!WriteOutput(item.relative, stored, error)) return false;
      line.packedSize = int64_t(stored.size());
      line.packedDigest = Md5::HexDigest(stored.data(), stored.size());
    }
    CountDownload(item.key, StoredPath(item.relative), reused, uint64_t(line.packedSize));
    lines_.push_back(std::move(line));
    ++stats_.files;
    stats_.inputBytes += size;
    stats_.outputBytes += uint64_t(lines_.back().packedSize);
    Advance(item);
  }
  return true;
}

bool Publisher::PublishPackage(size_t index, std::string& error) {
  Package& package = packages_[index];
  const PreviousDownload* old = previous_.Find(package.name);
  if (old != nullptr && old->package) {
    bool reused = false;
    if (!ReusePackage(index, *old, reused, error)) return false;
    if (reused) return true;
  }
  PackageWriter writer;
  std::vector<CatalogueLine> members;
  for (const Item& item : items_) {
    if (item.package != int(index) || item.folder) continue;
    std::vector<uint8_t> data, stored;
    if (!ReadSource(item, data, error)) return false;
    if (!EncodeEntry(options_.encoder, data, stored, error)) {
      error += ": " + item.relative;
      return false;
    }
    // Members are named relative to the package folder.
    const std::string member = item.key.substr(package.folderKey.size() + 1);
    if (!writer.Add(member, std::move(stored))) {
      error = "package member name longer than 256 bytes: " + item.relative;
      return false;
    }
    CatalogueLine line;
    line.name = item.key;
    line.size = int64_t(data.size());
    line.digest = Md5::HexDigest(data.data(), data.size());
    line.urlFolder = urlFolderKey_;
    line.packageName = package.name;
    members.push_back(std::move(line));
    ++stats_.files;
    stats_.inputBytes += data.size();
    Advance(item);
  }
  std::vector<uint8_t> container;
  if (!writer.Build(container)) {
    error = "package larger than 2 GiB: " + package.relative;
    return false;
  }
  if (!WriteOutput(package.relative + kPackageSuffix, container, error)) return false;
  package.packedSize = int64_t(container.size());
  package.packedDigest = Md5::HexDigest(container.data(), container.size());
  for (CatalogueLine& line : members) {
    line.packedSize = package.packedSize;
    line.packedDigest = package.packedDigest;
    lines_.push_back(std::move(line));
  }
  ++stats_.packages;
  stats_.outputBytes += container.size();
  CountDownload(package.name, StoredPath(package.relative + kPackageSuffix), false,
                container.size());
  return true;
}

// A package is unchanged when it has exactly the previous package's members
// (names compared byte for byte: they are written into the container) with
// the same sizes and digests.
bool Publisher::ReusePackage(size_t index, const PreviousDownload& old, bool& reused,
                             std::string& error) {
  reused = false;
  Package& package = packages_[index];
  std::vector<CatalogueLine> members;
  std::vector<const Item*> memberItems;
  for (size_t i = 0; i < items_.size(); ++i) {
    const Item& item = items_[i];
    if (item.package != int(index) || item.folder) continue;
    const auto found = old.members.find(item.key);
    CatalogueLine line;
    uint64_t size = 0;
    if (found == old.members.end() || !Digested(i, size, line.digest) ||
        found->second.size != int64_t(size) || found->second.digest != line.digest) {
      return true;
    }
    line.name = item.key;
    line.size = int64_t(size);
    members.push_back(std::move(line));
    memberItems.push_back(&item);
  }
  if (members.size() != old.members.size()) return true;
  const std::string path = package.relative + kPackageSuffix;
  const bool ok = TryReuse(old, path, reused, error);
  if (!ok || !reused) return ok;
  package.packedSize = old.packedSize;
  package.packedDigest = old.packedDigest;
  for (CatalogueLine& line : members) {
    line.packedSize = package.packedSize;
    line.packedDigest = package.packedDigest;
    line.urlFolder = urlFolderKey_;
    line.packageName = package.name;
    stats_.inputBytes += uint64_t(line.size);
    lines_.push_back(std::move(line));
  }
  for (const Item* item : memberItems) Advance(*item);
  stats_.files += members.size();
  ++stats_.packages;
  stats_.outputBytes += uint64_t(package.packedSize);
  CountDownload(package.name, StoredPath(path), true, uint64_t(package.packedSize));
  return true;
}

bool Publisher::ReadSource(const Item& item, std::vector<uint8_t>& data, std::string& error) {
  if (!ReadSourceFile(item.path, item.size, data)) {
    error = "cannot read " + item.relative;
    return false;
  }
  if (data.size() > kMaxFileSize) {
    error = "file larger than 2 GiB: " + item.relative;
    return false;
  }
  return true;
}

bool Publisher::Digested(size_t index, uint64_t& size, std::string& digest) {
  if (ahead_ == nullptr) return false;
  const HashResult& hashed = ahead_->Get(index);
  if (!hashed.hashed) return false;
  size = hashed.size;
  digest = hashed.digest;
  return true;
}

bool Publisher::WriteOutput(const std::string& relativeUtf8, const std::vector<uint8_t>& data,
                            std::string& error) {
  return tree_.Write(StoredPath(relativeUtf8), data, false, error);
}

// The stored files reach the disk first, then the version's own catalogue
// copy, then OUT/FileList.dat replaces the previous one in one rename: a
// publish stopped at any point leaves the previous catalogue and everything
// it names in place.
bool Publisher::WriteFileList(std::string& error) {
  std::sort(lines_.begin(), lines_.end(),
            [](const CatalogueLine& a, const CatalogueLine& b) { return KeyLess(a.name, b.name); });
  std::string text;
  for (const CatalogueLine& line : lines_) text += FormatLine(line);
  const std::vector<uint8_t> bytes(text.begin(), text.end());
  std::error_code ec;
  fs::create_directories(PathOf(options_.output), ec);
  if (!tree_.Flush(error)) return false;
  if (!urlFolderUtf8_.empty()) {
    if (!tree_.Write(StoredPath(kFileList), bytes, true, error)) return false;
    if (!FlushFolder(PathOf(options_.output) / PathOf(urlFolderUtf8_))) {
      error = "cannot flush folder " + urlFolderUtf8_;
      return false;
    }
  }
  if (!tree_.Write(kFileList, bytes, true, error)) return false;
  if (!FlushFolder(PathOf(options_.output))) {
    error = "cannot flush folder " + options_.output;
    return false;
  }
  return true;
}

}  // namespace udra::publish
