#include "core/ResourceManager.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "hostlink/ClientGuid.h"
#include "platform/FileVersion.h"
#include "util/Paths.h"

namespace udra {

ResourceManager::ResourceManager() : m_log("ResourceManager") {
  std::string folder;
  if (ModuleFolder(folder)) m_config.Load(folder);
  m_log.Write(Logger::T, "OK");
  m_version = ReadHostVersion();
  m_uin = "NOT SET UIN";
  m_clientGuid = GetClientGuid();
}

ResourceManager::~ResourceManager() = default;

std::string ResourceManager::ReadHostVersion() {
  std::string folder;
  if (!ModuleFolder(folder)) return "UDRA Unknown version";
  uint16_t v[4] = {0, 0, 0, 0};
  if (!platform::ReadFileVersion(JoinPath(folder, "UDRAHostApp.exe"), v)) v[0] = v[1] = v[2] = v[3] = 0;
  char text[100];
  std::snprintf(text, sizeof text, "UDRA v%hu.%hu.%hu.%hu", v[0], v[1], v[2], v[3]);
  return text;
}

void ResourceManager::DeletingDestructor(unsigned int flags) {
  this->~ResourceManager();
  if (flags & 1) ::operator delete(this);
}

bool ResourceManager::Initialize(const char* urlRoot, int32_t cacheLimit) {
  if (!urlRoot || !cacheLimit) return false;
  return false;
}

bool ResourceManager::Uninitialize() { return false; }

int32_t ResourceManager::OpenFile(const char*, const char*) { return -1; }
bool ResourceManager::ReadOpenFile(int32_t, void*, uint32_t*, int32_t) { return false; }
bool ResourceManager::TellOpenFile(int32_t, uint64_t*) { return false; }
bool ResourceManager::SeekOpenFile(int32_t, int64_t, int32_t) { return false; }
bool ResourceManager::IsOpenFileAtEnd(int32_t) { return false; }
bool ResourceManager::CloseFile(int32_t) { return false; }
bool ResourceManager::QueryOpenFileSize(int32_t, int32_t*) { return false; }
bool ResourceManager::QueryFileSize(const char*, int32_t*) { return false; }
bool ResourceManager::IsFileInArchive(const char*) { return false; }
bool ResourceManager::IsFolder(const char*) { return false; }
int32_t ResourceManager::StartSync(const char*, UDRA_HWND, int32_t, int32_t) { return -1; }
void ResourceManager::CancelSync(int32_t) {}
bool ResourceManager::GetSyncInfo(int32_t, SyncInfo*) { return false; }
bool ResourceManager::SetSyncPriority(int32_t, int32_t) { return false; }

int32_t ResourceManager::GetErrorInfo(char* buffer, int32_t bufferSize) {
  std::lock_guard<std::recursive_mutex> guard(m_lock);
  if (buffer && bufferSize > 0) std::snprintf(buffer, size_t(bufferSize), "%s", m_lastErrorText.c_str());
  return m_lastErrorCode;
}

bool ResourceManager::SendHostFlag(int32_t) { return false; }
bool ResourceManager::Reserved(int32_t, int32_t) { return false; }
bool ResourceManager::SetCacheLimit(int32_t) { return false; }
int32_t ResourceManager::GetHostValue2() { return m_hostValue2; }
int32_t ResourceManager::GetHostValue1() { return m_hostValue1; }
bool ResourceManager::ExtractFile(const char*) { return false; }
bool ResourceManager::SetUin(const char*) { return false; }
bool ResourceManager::RefreshShareState() { return false; }
void ResourceManager::SetCallbackHWnd(UDRA_HWND hwnd) { m_hCallbackHWnd = hwnd; }
int32_t ResourceManager::ListFiles(const char*, FileInfo** outArray) {
  if (outArray) *outArray = nullptr;
  return 0;
}
void ResourceManager::FreeFileList(FileInfo* array) { delete[] array; }

}  // namespace udra
