#include "hostlink/ClientGuid.h"

#include "platform/FileSystem.h"
#include "platform/Profile.h"
#include "platform/System.h"
#include "util/Paths.h"

namespace udra {

std::string CommonIniPath() {
  const std::string folder = platform::AppDataFolder();
  if (folder.empty()) return {};
  return JoinPath(folder, "Pellarn\\Vastrim\\Common.ini");
}

std::string ReadClientGuid() {
  const std::string path = CommonIniPath();
  if (path.empty() || !platform::FileExists(path)) return {};
  std::string guid;
  platform::ReadProfileString(path, "QOS", "GUID", guid, 1024);
  return guid;
}

void WriteClientGuid(const std::string& guid) {
  // Without an application-data folder there is no file to write: the GUID
  // then lives for this run only.
  const std::string path = CommonIniPath();
  if (path.empty()) return;
  if (!platform::FileExists(path)) platform::MakeDirectories(ParentFolder(path));
  platform::WriteProfileString(path, "QOS", "GUID", guid.c_str());
}

std::string GetClientGuid() {
  std::string guid = ReadClientGuid();
  if (!guid.empty()) return guid;
  guid = platform::NewGuidText();
  if (guid.size() > 38) guid.resize(38);
  WriteClientGuid(guid);
  return guid;
}

}  // namespace udra
