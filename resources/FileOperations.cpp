#include "resources/FileOperations.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

#include "platform/System.h"

namespace udra {
namespace {

// Handles of the whole process: the first is 0, the counter is never reset.
std::atomic<uint32_t> g_lastHandle{0xFFFFFFFFu};

bool KeyOf(const char* path, NormalPath& normal, std::string_view& key) {
  normal = NormalizePath(path);
  return CatalogueKey(normal.view(), key);
}

// Copies text into a fixed field, cut to leave room for the terminator.
void CopyField(char* field, size_t fieldSize, std::string_view text) {
  const size_t n = std::min(text.size(), fieldSize - 1);
  std::memcpy(field, text.data(), n);
  field[n] = '\0';
}

}  // namespace

FileOperations::FileOperations(std::recursive_mutex& lock, const FileList& fileList, UseRecord& useRecord,
                               IResourceManager& self, HasEntryFn hasEntry, ContentLoader loadContent,
                               TickSource tick)
    : m_lock(lock),
      m_fileList(fileList),
      m_useRecord(useRecord),
      m_self(self),
      m_hasEntry(std::move(hasEntry)),
      m_loadContent(std::move(loadContent)),
      m_tick(std::move(tick)) {
  if (!m_tick) m_tick = [] { return platform::TickCount(); };
}

int32_t FileOperations::NextHandle() {
  // -1 is never a handle; after a wrap of the counter a handle still open is
  // skipped rather than issued twice.
  for (;;) {
    const int32_t handle = static_cast<int32_t>(++g_lastHandle);
    if (handle != -1 && m_openFiles.find(handle) == m_openFiles.end()) return handle;
  }
}

int32_t FileOperations::OpenFile(const char* path, const char* mode) {
  if (path == nullptr || mode == nullptr || std::strcmp(mode, "r") != 0) return -1;
  NormalPath normal;
  std::string_view keyView;
  if (!KeyOf(path, normal, keyView)) return -1;
  const std::string key(keyView);

  Lock lock(m_lock);
  if (m_self.IsFolder(key.c_str())) return -1;
  if (!m_self.IsFileInArchive(key.c_str())) {
    if (m_missingFiles.size() < kMaxMissingFiles) m_missingFiles.insert(key);
    return -1;
  }
  const int32_t handle = NextHandle();
  OpenFileRecord& record = m_openFiles[handle];
  record.position = 0;
  CopyField(record.path, sizeof record.path, key);

  auto cached = m_fileCache.find(key);
  if (cached != m_fileCache.end()) {
    UpdateEntry(cached, [](CacheEntry& entry) { ++entry.useCount; });
  } else {
    CacheEntry& entry = m_fileCache[key];
    entry.lastUse = m_tick();
    entry.useCount = 1;
  }
  m_useRecord.RecordUse(key);
  return handle;
}

bool FileOperations::ReadOpenFile(int32_t handle, void* buffer, uint32_t* inoutSize, int32_t /*unused*/) {
  if (handle == -1 || buffer == nullptr || inoutSize == nullptr || *inoutSize == 0) return false;
  Lock lock(m_lock);
  auto open = m_openFiles.find(handle);
  if (open == m_openFiles.end()) return false;
  const std::string_view path(open->second.path);
  auto cached = m_fileCache.find(path);
  if (cached == m_fileCache.end()) return false;
  const uint32_t now = m_tick();
  UpdateEntry(cached, [now](CacheEntry& entry) { entry.lastUse = now; });

  int32_t size = 0;
  if (!m_self.QueryOpenFileSize(handle, &size)) return false;
  // The query went through the interface; look the records up again in case
  // an override changed the tables.
  open = m_openFiles.find(handle);
  if (open == m_openFiles.end()) return false;
  cached = m_fileCache.find(path);
  if (cached == m_fileCache.end()) return false;
  CacheEntry& entry = cached->second;
  if (size == 0) {
    *inoutSize = 0;
    return true;
  }
  // A negative size (a folder entry) names no readable content.
  if (size < 0) return false;

  if (!entry.data) {
    if (!m_loadContent) return false;
    DecodedContent content;
    try {
      content = m_loadContent(std::string(path), size);
    } catch (...) {
      return false;  // a loader that throws (out of memory) is a failed load
    }
    // Here the catalogued size is above 0: content that comes out empty is
    // a failed read, or a read-until-end loop would never end.
    if (content.outcome == DecodedContent::Outcome::Empty) return false;
    if (content.outcome != DecodedContent::Outcome::Bytes || !content.data ||
        content.size != static_cast<uint32_t>(size)) {
      return false;
    }
    entry.data = std::move(content.data);
    entry.size = content.size;
    m_cacheBytes += entry.size;
  }

  // The copy is bounded by the cached data as well as by the size the
  // interface reports, so a size that changed since the load cannot read
  // past the data.
  const uint64_t position = open->second.position;
  const uint64_t end = std::min<uint64_t>(static_cast<uint32_t>(size), entry.size);
  const uint64_t available = position < end ? end - position : 0;
  const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(*inoutSize, available));
  if (n > 0) std::memcpy(buffer, entry.data.get() + position, n);
  *inoutSize = n;
  open->second.position = position + n;
  return true;
}

bool FileOperations::TellOpenFile(int32_t handle, uint64_t* position) {
  if (handle == -1 || position == nullptr) return false;
  Lock lock(m_lock);
  auto open = m_openFiles.find(handle);
  if (open == m_openFiles.end()) {
    *position = 0;
    return false;
  }
  *position = open->second.position;
  return true;
}

bool FileOperations::SeekOpenFile(int32_t handle, int64_t offset, int32_t origin) {
  if (handle == -1 || origin < 0 || origin > 2) return false;
  Lock lock(m_lock);
  auto open = m_openFiles.find(handle);
  if (open == m_openFiles.end()) return false;
  int32_t size = 0;
  if (!m_self.QueryFileSize(open->second.path, &size)) return false;
  // The record may have gone if the query re-entered and closed the handle.
  open = m_openFiles.find(handle);
  if (open == m_openFiles.end()) return false;

  // Bases are below 2^32 and 2^64 positions are impossible, so a checked sum
  // in 64 bits is exact.
  int64_t base = 0;
  if (origin == 1) base = static_cast<int64_t>(std::min<uint64_t>(open->second.position, UINT32_MAX));
  if (origin == 2) base = size;
  if (offset > std::numeric_limits<int64_t>::max() - base) return false;
  const int64_t target = base + offset;
  if (target < 0 || target > static_cast<int64_t>(size)) return false;
  open->second.position = static_cast<uint64_t>(target);
  return true;
}

bool FileOperations::IsOpenFileAtEnd(int32_t handle) {
  if (handle == -1) return false;
  Lock lock(m_lock);
  auto open = m_openFiles.find(handle);
  if (open == m_openFiles.end()) return false;
  int32_t size = 0;
  if (!m_self.QueryFileSize(open->second.path, &size)) return false;
  open = m_openFiles.find(handle);
  return open != m_openFiles.end() && size >= 0 && open->second.position == static_cast<uint64_t>(size);
}

bool FileOperations::CloseFile(int32_t handle) {
  if (handle == -1) return false;
  Lock lock(m_lock);
  auto open = m_openFiles.find(handle);
  if (open == m_openFiles.end()) return false;
  auto cached = m_fileCache.find(std::string_view(open->second.path));
  if (cached == m_fileCache.end()) return false;
  UpdateEntry(cached, [](CacheEntry& entry) { --entry.useCount; });
  m_openFiles.erase(open);
  TrimCache();
  return true;
}

bool FileOperations::QueryOpenFileSize(int32_t handle, int32_t* size) {
  if (handle == -1 || size == nullptr) return false;
  Lock lock(m_lock);
  auto open = m_openFiles.find(handle);
  if (open == m_openFiles.end()) return false;
  return m_fileList.size(open->second.path, *size);
}

bool FileOperations::QueryFileSize(const char* path, int32_t* size) {
  if (path == nullptr || size == nullptr) return false;
  Lock lock(m_lock);
  const NormalPath normal = NormalizePath(path);
  int32_t catalogued = 0;
  if (!m_fileList.size(normal.view(), catalogued) || catalogued == -1) return false;
  *size = catalogued;
  return true;
}

bool FileOperations::IsFileInArchive(const char* path) {
  if (!m_hasEntry || path == nullptr) return false;
  NormalPath normal;
  std::string_view key;
  if (!KeyOf(path, normal, key)) return false;
  FileListEntry entry;
  if (m_fileList.find(key, entry) && !entry.packageName.empty()) {
    return m_hasEntry(std::string(entry.packageName));
  }
  return m_hasEntry(std::string(normal.view()));
}

bool FileOperations::IsFolder(const char* path) {
  if (path == nullptr) return false;
  Lock lock(m_lock);
  return m_fileList.isFolder(NormalizePath(path).view());
}

void FileOperations::FillInfo(FileInfo& info, std::string_view key) const {
  std::memset(&info, 0, sizeof info);
  FileListEntry entry;
  if (!m_fileList.find(key, entry)) return;
  DigestToBytes(entry.digest, info.digest);
  DigestToBytes(entry.packedDigest, info.packedDigest);
  CopyField(info.packageName, sizeof info.packageName, entry.packageName);
  CopyField(info.key, sizeof info.key, key);
  if (entry.size == -1) {
    info.flags = entry.packageName.empty() ? UDRA_FILEINFO_FOLDER : UDRA_FILEINFO_PACKAGED_FOLDER;
  } else {
    info.flags = UDRA_FILEINFO_FILE;
  }
  info.packedSize = entry.packedSize;
  info.size = entry.size;
}

int32_t FileOperations::ListFiles(const char* path, FileInfo** out) {
  if (path == nullptr || out == nullptr) return 0;
  Lock lock(m_lock);
  *out = nullptr;
  NormalPath normal;
  std::string_view key;
  FileListEntry entry;
  if (!KeyOf(path, normal, key) || !m_fileList.find(key, entry)) return 0;

  std::vector<std::string_view> keys;
  if (entry.size == -1) {
    m_fileList.ForEachBelow(key, [&keys](const FileListEntry& e) { keys.push_back(e.name); });
  } else {
    keys.push_back(key);
  }
  // The array's byte size must fit 32 bits; a list that does not, or an
  // allocation that fails, gives the empty result rather than an exception.
  if (keys.empty() || keys.size() > UINT32_MAX / sizeof(FileInfo)) return 0;
  FileInfo* array = new (std::nothrow) FileInfo[keys.size()];
  if (array == nullptr) return 0;
  for (size_t i = 0; i < keys.size(); ++i) FillInfo(array[i], keys[i]);
  *out = array;
  return static_cast<int32_t>(keys.size());
}

void FileOperations::FreeFileList(FileInfo* array) { delete[] array; }

bool FileOperations::SetCacheLimit(int32_t bytes) {
  if (bytes == 0) return false;
  Lock lock(m_lock);
  m_cacheLimit = static_cast<uint32_t>(bytes);
  TrimCache();
  return true;
}

void FileOperations::Unlist(CacheMap::iterator it) {
  if (!it->second.trimmable) return;
  m_trimOrder.erase({it->second.lastUse, &it->first});
  it->second.trimmable = false;
}

void FileOperations::List(CacheMap::iterator it) {
  CacheEntry& entry = it->second;
  if (entry.trimmable || entry.useCount != 0 || entry.lastUse == kNeverTrimmedTick) return;
  m_trimOrder.insert({entry.lastUse, &it->first});
  entry.trimmable = true;
}

template <typename Change>
void FileOperations::UpdateEntry(CacheMap::iterator it, Change change) {
  Unlist(it);
  change(it->second);
  List(it);
}

// Each step takes the first entry of the trim order: the entry with use count
// 0 and the smallest last-use tick (unsigned; on a tie the path first in byte
// order), never one whose tick is the never-trimmed one. A trim costs the
// entries it removes, not the size of the cache.
void FileOperations::TrimCache() {
  while (m_cacheBytes > m_cacheLimit && !m_trimOrder.empty()) {
    const auto victim = m_fileCache.find(*m_trimOrder.begin()->second);
    m_trimOrder.erase(m_trimOrder.begin());
    if (victim == m_fileCache.end()) continue;  // cannot happen: the order lists only cached paths
    if (victim->second.data) m_cacheBytes -= victim->second.size;
    m_fileCache.erase(victim);
  }
}

void FileOperations::Reset(uint32_t cacheLimit) {
  Lock lock(m_lock);
  m_openFiles.clear();
  m_trimOrder.clear();
  m_fileCache.clear();
  m_missingFiles.clear();
  m_cacheBytes = 0;
  m_cacheLimit = cacheLimit;
}

void FileOperations::ReleaseAll() {
  Lock lock(m_lock);
  m_openFiles.clear();
  m_trimOrder.clear();
  m_fileCache.clear();
  m_cacheBytes = 0;
}

std::set<std::string> FileOperations::MissingFiles() const {
  Lock lock(m_lock);
  return m_missingFiles;
}

uint32_t FileOperations::cacheLimit() const {
  Lock lock(m_lock);
  return m_cacheLimit;
}

uint64_t FileOperations::cacheBytes() const {
  Lock lock(m_lock);
  return m_cacheBytes;
}

size_t FileOperations::openFileCount() const {
  Lock lock(m_lock);
  return m_openFiles.size();
}

size_t FileOperations::cacheEntryCount() const {
  Lock lock(m_lock);
  return m_fileCache.size();
}

bool FileOperations::CacheInfo(const std::string& path, uint32_t& size, uint32_t& lastUse, int32_t& useCount,
                               bool& loaded) const {
  Lock lock(m_lock);
  auto it = m_fileCache.find(path);
  if (it == m_fileCache.end()) return false;
  size = it->second.size;
  lastUse = it->second.lastUse;
  useCount = it->second.useCount;
  loaded = it->second.data != nullptr;
  return true;
}

}  // namespace udra
