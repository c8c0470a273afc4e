// The file operations of the manager: open, read, seek, close and the
// size/folder/presence queries on catalogued files, the folder listing, and
// the content cache that holds each file's decoded bytes once for all of its
// handles.
//
// The manager owns one instance and forwards its interface slots to it. Calls
// that the manager's interface may override (IsFolder and IsFileInArchive from
// OpenFile, QueryOpenFileSize from ReadOpenFile, QueryFileSize from
// SeekOpenFile and IsOpenFileAtEnd) go back through that interface while the
// manager's re-entrant lock is held.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "resources/ContentDecoder.h"
#include "resources/FileList.h"
#include "resources/PathRules.h"
#include "resources/UseRecord.h"
#include "udra/IResourceManager.h"

namespace udra {

struct OpenFileRecord {
  uint64_t position = 0;
  char path[kKeyLimit] = {};
};

struct CacheEntry {
  std::unique_ptr<char[]> data;  // null until the first read
  uint32_t size = 0;
  uint32_t lastUse = 0;          // tick of the last open or read
  int32_t useCount = 0;          // handles open on the path
  bool trimmable = false;        // listed in the trim order (kept by FileOperations)
};

class FileOperations {
 public:
  // Answers whether the archive store holds an entry; false when no store is
  // loaded (an empty function counts as no store).
  using HasEntryFn = std::function<bool(const std::string& name)>;
  // Decodes the content of a key given its catalogued size.
  using ContentLoader = std::function<DecodedContent(const std::string& key, int32_t catalogSize)>;
  using TickSource = std::function<uint32_t()>;

  static constexpr size_t kMaxMissingFiles = 100;
  static constexpr uint32_t kNeverTrimmedTick = 0xFFFFFFFFu;

  FileOperations(std::recursive_mutex& lock, const FileList& fileList, UseRecord& useRecord,
                 IResourceManager& self, HasEntryFn hasEntry, ContentLoader loadContent,
                 TickSource tick = TickSource());
  FileOperations(const FileOperations&) = delete;
  FileOperations& operator=(const FileOperations&) = delete;

  int32_t OpenFile(const char* path, const char* mode);
  bool ReadOpenFile(int32_t handle, void* buffer, uint32_t* inoutSize, int32_t unused);
  bool TellOpenFile(int32_t handle, uint64_t* position);
  bool SeekOpenFile(int32_t handle, int64_t offset, int32_t origin);
  bool IsOpenFileAtEnd(int32_t handle);
  bool CloseFile(int32_t handle);
  bool QueryOpenFileSize(int32_t handle, int32_t* size);
  bool QueryFileSize(const char* path, int32_t* size);
  bool IsFileInArchive(const char* path);
  bool IsFolder(const char* path);
  int32_t ListFiles(const char* path, FileInfo** out);
  void FreeFileList(FileInfo* array);
  bool SetCacheLimit(int32_t bytes);

  // Initialisation: sets the cache limit, forgets every handle and the
  // missing-file set, and releases anything still cached.
  void Reset(uint32_t cacheLimit);
  // Uninitialisation: releases every handle and cache entry with its data.
  void ReleaseAll();

  // Paths OpenFile found missing from the archive store (at most 100).
  std::set<std::string> MissingFiles() const;
  uint32_t cacheLimit() const;
  uint64_t cacheBytes() const;
  size_t openFileCount() const;
  size_t cacheEntryCount() const;
  // A copy of the cache entry's bookkeeping (without the data); false when
  // the path has no entry.
  bool CacheInfo(const std::string& path, uint32_t& size, uint32_t& lastUse, int32_t& useCount,
                 bool& loaded) const;

 private:
  using Lock = std::lock_guard<std::recursive_mutex>;

  using CacheMap = std::map<std::string, CacheEntry, std::less<>>;

  int32_t NextHandle();
  void TrimCache();
  // Every change of an entry's use count or last use goes through here, so
  // that the trim order lists exactly the entries a trim may remove.
  template <typename Change>
  void UpdateEntry(CacheMap::iterator it, Change change);
  void Unlist(CacheMap::iterator it);
  void List(CacheMap::iterator it);
  void FillInfo(FileInfo& info, std::string_view key) const;

  std::recursive_mutex& m_lock;
  const FileList& m_fileList;
  UseRecord& m_useRecord;
  IResourceManager& m_self;
  HasEntryFn m_hasEntry;
  ContentLoader m_loadContent;
  TickSource m_tick;

  std::map<int32_t, OpenFileRecord> m_openFiles;
  CacheMap m_fileCache;  // byte order, case-sensitive
  // The entries a trim may remove (use count 0, last use not the never-trimmed
  // tick), in the order it removes them: least recent use first, on a tie the
  // path first in byte order. The paths point at m_fileCache's keys.
  struct TrimOrder {
    bool operator()(const std::pair<uint32_t, const std::string*>& a,
                    const std::pair<uint32_t, const std::string*>& b) const {
      return a.first != b.first ? a.first < b.first : *a.second < *b.second;
    }
  };
  std::set<std::pair<uint32_t, const std::string*>, TrimOrder> m_trimOrder;
  uint32_t m_cacheLimit = 0;
  // Sum of the cached sizes; 64 bits so it cannot wrap on a 64-bit process.
  uint64_t m_cacheBytes = 0;
  std::set<std::string> m_missingFiles;
};

}  // namespace udra
