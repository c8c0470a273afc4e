#include "config/VersionSettings.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "platform/FileSystem.h"
#include "platform/Profile.h"
#include "util/Paths.h"

namespace udra {
namespace {

constexpr size_t kValueBuffer = 260;
const char kDefaultSection[] = "VER_Default";

std::string ReadString(const platform::ProfileFile& file, const char* section, const char* key) {
  std::string value;
  file.ReadString(section, key, value, kValueBuffer);
  return value;
}

// True when `key` is `prefix` followed by a number as "%d" writes one (no
// sign, no leading zero), compared like every key name: ASCII letters in any
// case.
bool NumberedKey(const std::string& key, const char* prefix, long long& number) {
  const size_t length = std::strlen(prefix);
  if (key.size() <= length || key.size() > length + 10) return false;
  const auto fold = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
  for (size_t i = 0; i < length; ++i)
    if (fold(key[i]) != fold(prefix[i])) return false;
  if (key[length] == '0' && key.size() > length + 1) return false;
  number = 0;
  for (size_t i = length; i < key.size(); ++i) {
    if (key[i] < '0' || key[i] > '9') return false;
    number = number * 10 + (key[i] - '0');
  }
  return true;
}

// Appends the non-empty values of keys "<prefix>0" .. "<prefix><count-1>" in
// the order of their numbers. The section's keys are walked once instead of
// asking for every number below the count, so a count of any size costs
// only what the file holds and needs no cap.
void ReadNumbered(const platform::ProfileFile& file, const char* section, const char* prefix, int count,
                  std::vector<std::string>& out) {
  if (count <= 0) return;
  std::vector<std::pair<long long, std::string>> items;
  for (const std::string& key : file.KeyNames(section)) {
    long long number;
    if (!NumberedKey(key, prefix, number) || number >= count) continue;
    std::string value = ReadString(file, section, key.c_str());
    if (!value.empty()) items.emplace_back(number, std::move(value));
  }
  std::stable_sort(items.begin(), items.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  for (size_t i = 0; i < items.size(); ++i) {
    // A name spelt twice in different case is one key; its first value counts.
    if (i > 0 && items[i].first == items[i - 1].first) continue;
    out.push_back(std::move(items[i].second));
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
  const std::string version = ReadString(platform::ProfileFile(versionFile), section.c_str(), key.c_str());
  return version.empty() ? kDefaultSection : "VER_" + version;
}

std::string VersionSettings::ReadVersionKey(const platform::ProfileFile& config, const char* key) const {
  std::string value;
  if (!config.ReadString(section_.c_str(), key, value, kValueBuffer))
    config.ReadString(kDefaultSection, key, value, kValueBuffer);
  return value;
}

void VersionSettings::Load(const std::string& folder) {
  const platform::ProfileFile config(JoinPath(folder, "UDRAConfig.ini"));
  section_ = ChooseSection(folder, ReadString(config, "VersionConfig", "UDRAVersion"));
  fileListPath_ = ReadVersionKey(config, "FileListPath");
  downloadUrlRoot_ = ReadVersionKey(config, "DownloadUrlRoot");
  LoadPreDownloadPackages(folder, config);
}

void VersionSettings::LoadPreDownloadPackages(const std::string& folder, const platform::ProfileFile& config) {
  preDownloadPackages_.clear();
  const std::string userListPath =
      JoinPath(folder, ReadString(platform::ProfileFile(JoinPath(folder, "UIOptions.ini")), "OptionPreDown", "PreDownPath"));
  {
    const platform::ProfileFile userList(userListPath);
    ReadNumbered(userList, "Index", "Index", userList.ReadInt("Setting", "Num", 0), preDownloadPackages_);
  }
  if (!preDownloadPackages_.empty()) return;

  // The version set's own list: from the version section, or wholly from
  // VER_Default when the version section has no count.
  std::string value;
  const char* itemSection = section_.c_str();
  if (!config.ReadString(itemSection, "PreDownloadPackageCount", value, kValueBuffer)) itemSection = kDefaultSection;
  const int count = config.ReadInt(itemSection, "PreDownloadPackageCount", 0);
  ReadNumbered(config, itemSection, "PreDownloadPackage", count, preDownloadPackages_);
}

}  // namespace udra
