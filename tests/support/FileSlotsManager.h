// A manager whose file slots go to a FileOperations, as the real manager's
// do; the other slots do nothing.
#pragma once

#include "resources/FileOperations.h"
#include "support/NullManager.h"

namespace udra::test {

class FileSlotsManager : public NullManager {
 public:
  int32_t OpenFile(const char* p, const char* m) override { return files().OpenFile(p, m); }
  bool ReadOpenFile(int32_t h, void* b, uint32_t* s, int32_t u) override { return files().ReadOpenFile(h, b, s, u); }
  bool TellOpenFile(int32_t h, uint64_t* p) override { return files().TellOpenFile(h, p); }
  bool SeekOpenFile(int32_t h, int64_t o, int32_t w) override { return files().SeekOpenFile(h, o, w); }
  bool IsOpenFileAtEnd(int32_t h) override { return files().IsOpenFileAtEnd(h); }
  bool CloseFile(int32_t h) override { return files().CloseFile(h); }
  bool QueryOpenFileSize(int32_t h, int32_t* s) override { return files().QueryOpenFileSize(h, s); }
  bool QueryFileSize(const char* p, int32_t* s) override { return files().QueryFileSize(p, s); }
  bool IsFileInArchive(const char* p) override { return files().IsFileInArchive(p); }
  bool IsFolder(const char* p) override { return files().IsFolder(p); }
  bool SetCacheLimit(int32_t b) override { return files().SetCacheLimit(b); }
  int32_t ListFiles(const char* p, FileInfo** o) override { return files().ListFiles(p, o); }
  void FreeFileList(FileInfo* a) override { files().FreeFileList(a); }

 protected:
  // The operations the slots go to; made by the derived class, which owns
  // what they work on.
  virtual FileOperations& files() = 0;
};

}  // namespace udra::test
