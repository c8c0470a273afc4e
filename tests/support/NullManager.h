// Managers for tests and benchmarks that need an IResourceManager beside the
// part they drive: every slot fails or does nothing until a fake overrides it.
#pragma once

#include "udra/IResourceManager.h"

namespace udra::test {

class NullManager : public IResourceManager {
 public:
  void DeletingDestructor(unsigned int) override {}
  bool Initialize(const char*, int32_t) override { return false; }
  bool Uninitialize() override { return false; }
  int32_t OpenFile(const char*, const char*) override { return -1; }
  bool ReadOpenFile(int32_t, void*, uint32_t*, int32_t) override { return false; }
  bool TellOpenFile(int32_t, uint64_t*) override { return false; }
  bool SeekOpenFile(int32_t, int64_t, int32_t) override { return false; }
  bool IsOpenFileAtEnd(int32_t) override { return false; }
  bool CloseFile(int32_t) override { return false; }
  bool QueryOpenFileSize(int32_t, int32_t*) override { return false; }
  bool QueryFileSize(const char*, int32_t*) override { return false; }
  bool IsFileInArchive(const char*) override { return false; }
  bool IsFolder(const char*) override { return false; }
  int32_t StartSync(const char*, UDRA_HWND, int32_t, int32_t) override { return -1; }
  void CancelSync(int32_t) override {}
  bool GetSyncInfo(int32_t, SyncInfo*) override { return false; }
  bool SetSyncPriority(int32_t, int32_t) override { return false; }
  int32_t GetErrorInfo(char*, int32_t) override { return 0; }
  bool SendHostFlag(int32_t) override { return false; }
  bool Reserved(int32_t, int32_t) override { return false; }
  bool SetCacheLimit(int32_t) override { return false; }
  int32_t GetHostValue2() override { return 0; }
  int32_t GetHostValue1() override { return 0; }
  bool ExtractFile(const char*) override { return false; }
  bool SetUin(const char*) override { return false; }
  bool RefreshShareState() override { return false; }
  void SetCallbackHWnd(UDRA_HWND) override {}
  int32_t ListFiles(const char*, FileInfo**) override { return 0; }
  void FreeFileList(FileInfo*) override {}
};

}  // namespace udra::test
