#include "config/VersionSettings.h"

#include <cstdio>

#include "platform/FileSystem.h"
#include "platform/Profile.h"
#include "util/Paths.h"

namespace udra {
namespace {

constexpr size_t kValueBuffer = 260;
const char kDefaultSection[] = "VER_Default";
// Numbered lists are read key by key; a count beyond this is a damaged file.
constexpr int kMaxListItems = 4096;

std::string ReadString(const std::string& file, const char* section, const char* key) {
  std::string value;
  platform::ReadProfileString(file, section, key, value, kValueBuffer);
  return value;
}

// Appends the non-empty values of keys "<format>0" .. "<format><count-1>".
void ReadNumbered(const std::string& file, const char* section, const char* format, int count,
                  std::vector<std::string>& out) {
  if (count > kMaxListItems) count = kMaxListItems;
  for (int i = 0; i < count; ++i) {
    char key[32];
    std::snprintf(key, sizeof key, format, i);
    std::string value = ReadString(file, section, key);
    if (!value.empty()) out.push_back(std::move(value));
  }
}

}  // namespace

std::string VersionSettings::ChooseSection(const std::string& folder, const std::string& pointer) {
  if (pointer.empty()) return kDefaultSection;
  // file ; section ; key — runs of ';' count as one separator.
  const size_t firstEnd = pointer.find(';');
  if (firstEnd == std::string::npos) return "VER_NoVersionFile";
  const std::string file = pointer.substr(0, firstEnd);
  const size_t sectionBegin = pointer.find_first_not_of(';', firstEnd);
  const size_t sectionEnd = sectionBegin == std::string::npos ? std::string::npos : pointer.find(';', sectionBegin);
  const size_t keyBegin = sectionEnd == std::string::npos ? std::string::npos : pointer.find_first_not_of(';', sectionEnd);
  const std::string versionFile = JoinPath(folder, file);
  if (sectionEnd == std::string::npos || keyBegin == std::string::npos || !platform::FileExists(versionFile))
    return "VER_NoVersionFile";
  const std::string section = pointer.substr(sectionBegin, sectionEnd - sectionBegin);
  const size_t keyEnd = pointer.find(';', keyBegin);
  const std::string key = pointer.substr(keyBegin, keyEnd == std::string::npos ? std::string::npos : keyEnd - keyBegin);
  const std::string version = ReadString(versionFile, section.c_str(), key.c_str());
  return version.empty() ? kDefaultSection : "VER_" + version;
}

std::string VersionSettings::ReadVersionKey(const std::string& config, const char* key) const {
  std::string value;
  if (!platform::ReadProfileString(config, section_.c_str(), key, value, kValueBuffer))
    platform::ReadProfileString(config, kDefaultSection, key, value, kValueBuffer);
  return value;
}

void VersionSettings::Load(const std::string& folder) {
  const std::string config = JoinPath(folder, "UDRAConfig.ini");
  section_ = ChooseSection(folder, ReadString(config, "VersionConfig", "UDRAVersion"));
  fileListPath_ = ReadVersionKey(config, "FileListPath");
  downloadUrlRoot_ = ReadVersionKey(config, "DownloadUrlRoot");
  LoadPreDownloadPackages(folder, config);
}

void VersionSettings::LoadPreDownloadPackages(const std::string& folder, const std::string& config) {
  preDownloadPackages_.clear();
  const std::string userList = JoinPath(folder, ReadString(JoinPath(folder, "UIOptions.ini"), "OptionPreDown", "PreDownPath"));
  ReadNumbered(userList, "Index", "Index%d", platform::ReadProfileInt(userList, "Setting", "Num", 0),
               preDownloadPackages_);
  if (!preDownloadPackages_.empty()) return;

  // The version set's own list: from the version section, or wholly from
  // VER_Default when the version section has no count.
  std::string value;
  const char* itemSection = section_.c_str();
  if (!platform::ReadProfileString(config, itemSection, "PreDownloadPackageCount", value, kValueBuffer))
    itemSection = kDefaultSection;
  const int count = platform::ReadProfileInt(config, itemSection, "PreDownloadPackageCount", 0);
  ReadNumbered(config, itemSection, "PreDownloadPackage%d", count, preDownloadPackages_);
}

}  // namespace udra
