// The version a publish replaces, read back from OUT/FileList.dat: which
// downloads it serves from where, so that unchanged content is reused and
// nothing it still serves gets overwritten.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace udra::publish {

struct PreviousMember {
  int64_t size = 0;
  std::string digest;  // upper-case hexadecimal
};

// One file on the server: a file stored on its own or a package.
struct PreviousDownload {
  std::string name;  // ANSI: the file's key or the package name
  // Below OUT, UTF-8 with slash separators; empty when the columns do not
  // name a path inside OUT (such a download is never reused).
  std::string path;
  int64_t packedSize = 0;
  std::string packedDigest;
  bool package = false;
  int64_t size = 0;    // a file on its own: its size and digest
  std::string digest;
  std::map<std::string, PreviousMember> members;  // a package: member key -> size, digest
  // False when its lines disagree (packed columns, URL folder, a name listed
  // twice): then it is not reused.
  bool consistent = true;
};

class PreviousVersion {
 public:
  // Reads the catalogue at `path`; a missing file leaves the version empty.
  // False with `error` when it exists but cannot be read or a line does not
  // parse: publishing over a catalogue that is not understood could break
  // what it serves.
  bool Load(const std::filesystem::path& path, std::string& error);

  bool Exists() const { return exists_; }
  // The download of that name, ASCII case ignored; null when absent.
  const PreviousDownload* Find(const std::string& name) const;
  const std::vector<PreviousDownload>& Downloads() const { return downloads_; }
  // The URL folders its lines name (UTF-8, slash separators, "" for the root).
  const std::vector<std::string>& UrlFolders() const { return urlFolders_; }

 private:
  bool AddLine(std::string_view line, std::string& error);
  PreviousDownload& DownloadFor(const std::string& name, const std::string& path, bool& isNew);

  bool exists_ = false;
  std::vector<PreviousDownload> downloads_;
  std::unordered_map<std::string, size_t> index_;  // folded name -> downloads_
  std::vector<std::string> urlFolders_;
  std::string lastUrlFolder_;  // ANSI, as the last line gave it
};

// ASCII letters folded to lower case, as catalogue lookups compare names.
std::string FoldCase(std::string text);

// `folder` and `name` (either separator) joined into a path below OUT with
// slash separators; empty when a part is "." or "..", or nothing is left.
std::string JoinBelowRoot(const std::string& folder, const std::string& name);

}  // namespace udra::publish
