// The host's table of downloads in progress, read without a lock from the
// shared mapping "Global\DownloadingFileInfos_" + InstanceKey.
//
// The table is a run of entries from offset 0: uint32 entryLength (bytes to
// the next entry; 0 ends the table), int32 doneBytes, 4 bytes of the host's,
// then the NUL-terminated download name. The host keeps a published entry in
// place, so the offset where a name was found is remembered and read directly
// from then on; the name there is checked on every read, since the host may
// give the entry of an ended download to another name once its table is
// full. Whatever the host wrote, nothing is read outside the view.
//
// The first 10 MiB stay mapped while the table is open, so a read costs no
// system call.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "platform/SharedMemory.h"
#include "resources/KeyOrder.h"

namespace udra {

// The archive store as the progress query needs it: a stored entry is
// complete and its stored size counts as its bytes done.
struct StoredSizes {
  std::function<bool(const std::string& name)> hasEntry;
  std::function<int32_t(const std::string& name)> entrySizeByName;  // -1 when unknown
};

class DownloadingFiles {
 public:
  // The table lies within the first 10 MiB of the mapping; a search maps no
  // more than that.
  static constexpr uint64_t kTableSpan = 10485760;
  // Bytes mapped beyond a remembered entry's offset when it is read again.
  static constexpr uint64_t kEntrySpan = 1024;

  // The table of this installation (InstanceKey of ModuleFolder).
  DownloadingFiles();
  // The table of `key` (tools and tests).
  explicit DownloadingFiles(std::string key);
  ~DownloadingFiles();
  DownloadingFiles(const DownloadingFiles&) = delete;
  DownloadingFiles& operator=(const DownloadingFiles&) = delete;

  static std::string TableName(const std::string& key);

  // One attempt to open the table read-only (the caller retries).
  bool Open();
  // Closes the table; the remembered offsets stay.
  void Close();
  bool IsOpen() const { return m_sharedSpaces != nullptr; }

  // Bytes done for one download name: the stored size when the store holds
  // it (store may be null), else the entry's doneBytes. False, `out`
  // untouched, when the name is in neither or the table cannot be read.
  bool GetDownloadedBytes(const std::string& name, int32_t& out, const StoredSizes* store);

  // The table's count for one download name, read first at `hint` (an
  // entry offset + 1 an earlier call left there; 0 for none), which is set
  // to where the name was found. For callers that read the same names over
  // and over: a name whose entry stayed in place costs one read of the
  // table and no look-up. False, `out` untouched, when the table does not
  // know the name.
  bool GetDownloadedBytesAt(const std::string& name, uint64_t& hint, int32_t& out);

  // How many names have a remembered offset.
  size_t rememberedCount() const { return m_downloadingFiles.size(); }

 private:
  enum class Entry { Read, Reused, Failed };
  Entry ReadAt(uint64_t offset, const std::string& name, int32_t& out);
  bool Search(const std::string& name, int32_t& out, uint64_t& offset);
  bool Lookup(const std::string& name, int32_t& out, uint64_t& offset);

  const std::optional<std::string> m_key;
  std::unique_ptr<platform::SharedMemory> m_sharedSpaces;
  // The table's first kTableSpan bytes (or the whole of a smaller mapping),
  // mapped while the table is open, so that reads need no view of their own;
  // null when it could not be mapped (each read then maps its own).
  const uint8_t* m_view = nullptr;
  uint64_t m_viewSize = 0;
  std::map<std::string, uint64_t, KeyOrder> m_downloadingFiles;
};

}  // namespace udra
