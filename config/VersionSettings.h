// The version set of "UDRAConfig.ini": where the file list lies, the download
// URL root and the packages to fetch ahead of time, chosen by the installed
// game version with section "VER_Default" as the fallback of each key.
#pragma once

#include <string>
#include <vector>

namespace udra {
namespace platform {
class ProfileFile;
}

class VersionSettings {
 public:
  VersionSettings() = default;

  // Reads the INI files resolved against `folder` (the library's folder).
  void Load(const std::string& folder);

  const std::string& section() const { return section_; }
  const std::string& FileListPath() const { return fileListPath_; }
  const std::string& DownloadUrlRoot() const { return downloadUrlRoot_; }
  const std::vector<std::string>& PreDownloadPackages() const { return preDownloadPackages_; }

  // The version section named by a "file;section;key" pointer, given the
  // folder the pointer's file is resolved against.
  static std::string ChooseSection(const std::string& folder, const std::string& pointer);

 private:
  std::string ReadVersionKey(const platform::ProfileFile& config, const char* key) const;
  void LoadPreDownloadPackages(const std::string& folder, const platform::ProfileFile& config);

  std::string section_;
  std::string fileListPath_;
  std::string downloadUrlRoot_;
  std::vector<std::string> preDownloadPackages_;
};

}  // namespace udra
