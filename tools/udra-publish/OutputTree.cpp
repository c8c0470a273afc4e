#include "OutputTree.h"

#include <fstream>
#include <system_error>

#include "DurableFile.h"
#include "PreviousVersion.h"
#include "Utf8Path.h"

namespace fs = std::filesystem;

namespace udra::publish {
namespace {

// Temporary names carry the process id and a counter; a name that exists
// already (another run's leftover or, unlikely, a real file) is never
// written, the next counter is tried instead.
constexpr unsigned kTemporaryAttempts = 64;

fs::path TemporaryName(const fs::path& final, unsigned long pid, unsigned counter) {
  fs::path temp = final;
  temp += ".tmp" + std::to_string(pid) + "." + std::to_string(counter);
  return temp;
}

bool ReadStored(const fs::path& path, std::vector<uint8_t>& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

}  // namespace

bool OutputTree::MakeParent(const fs::path& path, std::string& error) {
  const fs::path parent = path.parent_path();
  std::string key = parent.generic_u8string();
  std::lock_guard<std::mutex> lock(mutex_);
  if (folders_.count(key) != 0) return true;
  std::error_code ec;
  fs::create_directories(parent, ec);
  if (ec || !fs::is_directory(parent, ec)) {
    error = "cannot create folder " + TextOf(parent);
    return false;
  }
  folders_.insert(std::move(key));
  // Any folder from here up to OUT (and OUT's own entry) may be new.
  for (fs::path folder = parent; !folder.empty(); folder = folder.parent_path()) {
    changed_.insert(folder);
    if (folder == root_) break;
  }
  const fs::path above = root_.parent_path();
  changed_.insert(above.empty() ? fs::path(".") : above);
  return true;
}

void OutputTree::Written(const fs::path& final, bool flushed) {
  std::lock_guard<std::mutex> lock(mutex_);
  changed_.insert(final.parent_path());
  if (!flushed) unflushed_.push_back(final);
}

bool OutputTree::WriteTemporary(const fs::path& final, const std::vector<uint8_t>& data,
                                bool flush, fs::path& temp) {
  for (unsigned i = 0; i < kTemporaryAttempts; ++i) {
    temp = TemporaryName(final, ProcessId(), counter_++);
    switch (CreateNewFile(temp, data.data(), data.size(), flush)) {
      case CreateResult::kCreated: return true;
      case CreateResult::kExists: continue;
      case CreateResult::kFailed: return false;
    }
  }
  return false;
}

bool OutputTree::LinkTemporary(const fs::path& from, const fs::path& final, fs::path& temp) {
  for (unsigned i = 0; i < kTemporaryAttempts; ++i) {
    temp = TemporaryName(final, ProcessId(), counter_++);
    std::error_code ec;
    fs::create_hard_link(from, temp, ec);
    if (!ec) return true;
    if (ec != std::errc::file_exists) return false;
  }
  return false;
}

bool OutputTree::Write(const std::string& relative, const std::vector<uint8_t>& data, bool flush,
                       std::string& error) {
  const fs::path final = root_ / PathOf(relative);
  if (!MakeParent(final, error)) return false;
  fs::path temp;
  if (!WriteTemporary(final, data, flush, temp)) {
    error = "cannot write " + TextOf(final);
    return false;
  }
  if (!ReplaceFile(temp, final)) {
    std::error_code ec;
    fs::remove(temp, ec);
    error = "cannot rename into place: " + TextOf(final);
    return false;
  }
  return true;
}

bool OutputTree::Reuse(const std::string& from, const std::string& to, bool& linked,
                       std::string& error) {
  const fs::path source = root_ / PathOf(from), final = root_ / PathOf(to);
  if (!MakeParent(final, error)) return false;
  std::error_code ec;
  // A link is complete the moment it exists, so it may go straight to the
  // final name; only a name that exists already (a retried publish) needs
  // the detour through a temporary name.
  fs::create_hard_link(source, final, ec);
  linked = !ec;
  fs::path temp;
  if (ec == std::errc::file_exists && LinkTemporary(source, final, temp)) {
    if (ReplaceFile(temp, final)) {
      linked = true;
    } else {
      fs::remove(temp, ec);
    }
  }
  if (!linked) {
    std::vector<uint8_t> data;
    if (!ReadStored(source, data)) {
      error = "cannot read " + TextOf(source);
      return false;
    }
    const fs::file_time_type modified = fs::last_write_time(source, ec);
    if (!WriteTemporary(final, data, false, temp)) {
      error = "cannot write " + TextOf(final);
      return false;
    }
    if (!ec) fs::last_write_time(temp, modified, ec);
    if (!ReplaceFile(temp, final)) {
      fs::remove(temp, ec);
      error = "cannot rename into place: " + TextOf(final);
      return false;
    }
  }
  // A link adds a folder entry only; a copy is new bytes as well.
  Written(final, linked);
  return true;
}

bool OutputTree::Flush(std::string& error) {
  std::vector<fs::path> files, folders;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    files.swap(unflushed_);
    folders.assign(changed_.begin(), changed_.end());
    changed_.clear();
  }
  if (!FlushWritten(files, folders)) {
    error = "cannot flush the content tree to disk: " + TextOf(root_);
    return false;
  }
  return true;
}

ReuseOutcome ReusePrevious(OutputTree& tree, const PreviousDownload& old, const std::string& to,
                           std::string& error) {
  if (!old.consistent || old.path.empty()) return ReuseOutcome::kInconsistent;
  // One look: file_size fails for anything but a (linked-to) regular file.
  std::error_code ec;
  const uint64_t size = fs::file_size(tree.Root() / PathOf(old.path), ec);
  if (ec || size != uint64_t(old.packedSize)) return ReuseOutcome::kMissing;
  bool linked = false;
  if (!tree.Reuse(old.path, to, linked, error)) return ReuseOutcome::kFailed;
  return linked ? ReuseOutcome::kLinked : ReuseOutcome::kCopied;
}

const char* ReuseProblem(ReuseOutcome outcome) {
  switch (outcome) {
    case ReuseOutcome::kInconsistent:
      return "is not one consistent stored file in the previous catalogue";
    case ReuseOutcome::kMissing: return "is missing or not of its catalogued size";
    default: return nullptr;
  }
}

}  // namespace udra::publish
