#include "PreviousVersion.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <string_view>
#include <system_error>

#include "Catalogue.h"
#include "Utf8Path.h"

namespace fs = std::filesystem;

namespace udra::publish {
namespace {

constexpr size_t kColumns = 7;

// Readers trim blanks and slashes from every column.
std::string_view TrimColumn(std::string_view s) {
  const char* set = " \t\r\n\\/";
  const size_t b = s.find_first_not_of(set);
  if (b == std::string_view::npos) return {};
  return s.substr(b, s.find_last_not_of(set) - b + 1);
}

// Readers skip empty columns, so "a||b" has two. Up to kColumns are kept;
// the count goes on.
size_t Columns(std::string_view line, std::string_view (&out)[kColumns]) {
  size_t count = 0, start = 0;
  while (start <= line.size()) {
    size_t end = line.find('|', start);
    if (end == std::string_view::npos) end = line.size();
    const std::string_view column = TrimColumn(line.substr(start, end - start));
    if (!column.empty()) {
      if (count < kColumns) out[count] = column;
      ++count;
    }
    start = end + 1;
  }
  return count;
}

bool ParseInt(std::string_view column, int64_t& value) {
  const std::string text(column);
  errno = 0;
  char* end = nullptr;
  const long long v = std::strtoll(text.c_str(), &end, 10);
  if (end == text.c_str() || *end != '\0' || errno == ERANGE) return false;
  value = v;
  return true;
}

bool ParseDigest(std::string_view text, std::string& digest) {
  if (text.size() != 32) return false;
  digest.assign(text);
  for (char& c : digest) {
    if (c >= 'a' && c <= 'f') c = char(c - 'a' + 'A');
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
  }
  return true;
}

std::string AnsiPath(const std::string& folder, const std::string& name) {
  const std::string folderUtf8 = folder.empty() ? "" : ToUtf8(folder);
  const std::string nameUtf8 = ToUtf8(name);
  if ((!folder.empty() && folderUtf8.empty()) || nameUtf8.empty()) return "";
  return JoinBelowRoot(folderUtf8, nameUtf8);
}

}  // namespace

std::string FoldCase(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  }
  return text;
}

std::string JoinBelowRoot(const std::string& folder, const std::string& name) {
  std::string out;
  out.reserve(folder.size() + name.size() + 1);
  for (const std::string* text : {&folder, &name}) {
    const std::string_view whole(*text);
    size_t start = 0;
    while (start <= whole.size()) {
      size_t end = whole.find_first_of("/\\", start);
      if (end == std::string_view::npos) end = whole.size();
      const std::string_view part = whole.substr(start, end - start);
      if (part == "." || part == "..") return "";
      if (!part.empty()) {
        if (!out.empty()) out += '/';
        out += part;
      }
      start = end + 1;
    }
  }
  return out;
}

bool PreviousVersion::Load(const fs::path& path, std::string& error) {
  std::error_code ec;
  const bool present = fs::exists(path, ec);
  if (ec) {
    error = "cannot read the previous catalogue " + TextOf(path) + ": " + ec.message();
    return false;
  }
  if (!present) return true;
  std::ifstream in(path, std::ios::binary);
  std::string text;
  if (in) text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (!in || in.bad()) {
    error = "cannot read the previous catalogue " + TextOf(path);
    return false;
  }
  exists_ = true;
  size_t start = 0, number = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    ++number;
    const std::string_view line = std::string_view(text).substr(start, end - start);
    if (line.find_first_not_of(" \t\r") != std::string_view::npos && !AddLine(line, error)) {
      error = "the previous catalogue " + TextOf(path) + ", line " + std::to_string(number) +
              ": " + error + "; move it away to publish a new tree";
      return false;
    }
    start = end + 1;
  }
  return true;
}

PreviousDownload& PreviousVersion::DownloadFor(const std::string& name, const std::string& path,
                                               bool& isNew) {
  const auto found = index_.emplace(FoldCase(name), downloads_.size());
  isNew = found.second;
  if (isNew) {
    downloads_.emplace_back();
    downloads_.back().name = name;
    downloads_.back().path = path;
  }
  PreviousDownload& download = downloads_[found.first->second];
  if (download.path != path) download.consistent = false;
  return download;
}

bool PreviousVersion::AddLine(std::string_view line, std::string& error) {
  std::string_view cols[kColumns];
  const size_t count = Columns(line, cols);
  if (count != kColumns) {
    error = "expected 7 columns, found " + std::to_string(count);
    return false;
  }
  int64_t size = 0, packedSize = 0;
  std::string digest, packedDigest;
  if (!ParseInt(cols[1], size) || !ParseInt(cols[2], packedSize) || size < -1 || packedSize < 0) {
    error = "bad size column";
    return false;
  }
  if (!ParseDigest(cols[3], digest) || !ParseDigest(cols[4], packedDigest)) {
    error = "bad digest column";
    return false;
  }
  const std::string urlFolder(cols[5] == "/" ? std::string_view() : cols[5]);
  const std::string package(cols[6] == ":" ? std::string_view() : cols[6]);
  // Lines of one version name the same few folders, mostly one after another.
  if (urlFolder != lastUrlFolder_ || urlFolders_.empty()) {
    const std::string folderUtf8 = JoinBelowRoot(urlFolder.empty() ? "" : ToUtf8(urlFolder), "");
    if (std::find(urlFolders_.begin(), urlFolders_.end(), folderUtf8) == urlFolders_.end()) {
      urlFolders_.push_back(folderUtf8);
    }
    lastUrlFolder_ = urlFolder;
  }
  if (size < 0) return true;  // a folder: nothing stored
  const std::string name(package.empty() ? cols[0] : std::string_view(package));
  bool isNew = false;
  PreviousDownload& download = DownloadFor(name, AnsiPath(urlFolder, name), isNew);
  if (isNew) {
    download.package = !package.empty();
    download.packedSize = packedSize;
    download.packedDigest = std::move(packedDigest);
  } else if (!download.package || package.empty() || download.packedSize != packedSize ||
             download.packedDigest != packedDigest) {
    download.consistent = false;  // listed twice, or members that disagree
  }
  if (package.empty()) {
    download.size = size;
    download.digest = std::move(digest);
  } else if (!download.members.emplace(std::string(cols[0]), PreviousMember{size, std::move(digest)}).second) {
    download.consistent = false;
  }
  return true;
}

const PreviousDownload* PreviousVersion::Find(const std::string& name) const {
  const auto found = index_.find(FoldCase(name));
  return found == index_.end() ? nullptr : &downloads_[found->second];
}

}  // namespace udra::publish
