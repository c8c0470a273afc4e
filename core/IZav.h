// The archive store's binary interface: the object that "ZAV.dll" hands out
// through GetZAV and takes back through ReleaseZAV.
//
// The library calls the store only by virtual-table slot, so the slot order
// below is the binary interface and must never change:
//
//   0 DeletingDestructor   6 PutEntry          12 GetEntrySize        18 HasEntry
//   1 Create               7 PutEntries        13 GetEntrySizeByName  19 MoveEntryFromFile
//                                                                     20 GetEntrySizes
//                                                                     21 reserved
//   2 Load                 8 PutEntryFromFile  14 GetEntryCount       22 GetErrorCode
//   3 Close                9 RemoveEntry       15 ReadEntryAt
//   4 OpenEntry           10 ListEntries       16 Checkpoint
//   5 ReadEntry           11 reserved          17 Exists
//
// Slot 0 is one virtual function taking the deleting flag, laid out as the
// Windows compiler lays out a virtual destructor. A C++ virtual destructor
// would take two slots under the Itanium ABI and shift every other slot, so
// the interface declares none; objects are given back through ReleaseZAV. On
// 32-bit Windows the members use __thiscall (the compiler's default for member
// functions there) and the exports are plain cdecl functions.
//
// Slots 1-5, 12, 13, 17, 18 and 22 are what the library calls. The others are
// the write side that the downloader host uses, plus reserved slots that keep
// the library's numbers exact; a reserved slot returns false and does nothing.
//
// Conventions: names and paths are NUL-terminated byte strings; "bool" is one
// byte; entry names compare ASCII case-insensitively; an entry holds at most
// 1,000,000,000 bytes (the database engine's limit for one value; larger ones
// are refused with kZavErrArgument). No operation throws.
#pragma once

#include <cstdint>

namespace udra {

// Error codes reported by GetErrorCode(kZavLastError).
enum ZavErrorCode : int32_t {
  kZavOk = 0,
  kZavErrUnreadable = 1,   // the store cannot be opened or read (missing, no permission, I/O error)
  kZavErrDamaged = 2,      // not a store database, or its structure is damaged
  kZavErrDiskFull = 3,     // less free space than the reserved size, or the disk filled up on a write
  kZavErrVersion = 4,      // a store of another format version
  kZavErrArgument = 5,     // a null, empty or over-long argument, an unknown or stale handle
  kZavErrNotOpen = 6,      // no store is open (Create/Load not called, or Close called)
  kZavErrNotFound = 7,     // no such entry
  kZavErrTooSmall = 8,     // the caller's buffer cannot hold the entry; nothing was written
  kZavErrBusy = 9,         // another process held the store's lock for too long
  kZavErrIo = 10,          // any other failure of the database or the file system
  kZavErrChanged = 11,     // the entry behind a handle was replaced or removed since OpenEntry
};

// Selectors of GetErrorCode.
enum ZavErrorSelector : int32_t {
  kZavLastError = 1,       // the store's own code above (the library asks for this one)
  kZavLastSqliteError = 2, // the database engine's extended result code of the last failure
};

// Create's flag.
enum ZavCreateFlag : int32_t {
  kZavCreateNew = 0,       // create a store; an existing one is opened as it is, never replaced
  kZavCreateRebuild = 1,   // replace whatever is at the path with a new, empty store
};

// Greatest length in bytes of an entry name.
constexpr uint32_t kZavMaxNameLength = 1024;

// One complete entry for PutEntries.
struct ZavEntryData {
  const char* name;
  const void* data;  // may be null when size is 0
  uint32_t size;
};

// Called by ListEntries once per entry; return false to stop early.
typedef bool (*ZavListCallback)(void* context, const char* name, int32_t size);

class IZav {
 public:
  // 0: bit 0 of flags set frees the object. Callers use ReleaseZAV instead.
  virtual void DeletingDestructor(unsigned int flags) = 0;

  // 1: creates the store in the folder `path` (see ZavCreateFlag). Refused with
  // kZavErrDiskFull when the disk has less than reservedSize bytes free.
  virtual bool Create(const char* path, int32_t flag, uint32_t reservedSize) = 0;
  // 2: opens the existing store in the folder `path`. On false, GetErrorCode
  // tells 1 (unreadable), 2 (damaged) or 4 (other version).
  virtual bool Load(const char* path) = 0;
  // 3: closes the store; true also when none was open.
  virtual bool Close() = 0;

  // 4: a handle to a complete entry, -1 when absent. Handles hold no open
  // resources and need no closing; a bounded number stay valid (the oldest
  // are forgotten). mode and flags are accepted and ignored.
  virtual int32_t OpenEntry(const char* name, int32_t mode, int32_t flags) = 0;
  // 5: copies the whole entry. In: *inoutSize is the buffer's size; out: the
  // bytes delivered. When the entry is larger than the buffer nothing is
  // written, *inoutSize is set to 0 and the result is false (kZavErrTooSmall).
  // A handle always reads the entry whose size GetEntrySize reported: when
  // the entry was replaced or removed since OpenEntry the read fails
  // (kZavErrChanged) and a new OpenEntry sees the current one.
  virtual bool ReadEntry(int32_t handle, void* buffer, uint32_t* inoutSize) = 0;

  // 6: stores one complete entry, replacing one of the same name. Readers see
  // either the old entry or the whole new one, never a part.
  virtual bool PutEntry(const char* name, const void* data, uint32_t size) = 0;
  // 7: stores several complete entries in one commit: all become visible
  // together, or none does. A name given twice keeps the later entry.
  virtual bool PutEntries(const ZavEntryData* entries, uint32_t count) = 0;
  // 8: stores the whole content of the file `filePath` as one entry, without
  // holding it in memory.
  virtual bool PutEntryFromFile(const char* name, const char* filePath) = 0;
  // 9: removes an entry; true also when it did not exist.
  virtual bool RemoveEntry(const char* name) = 0;
  // 10: calls `callback` for every entry in name order; returns the number of
  // entries visited, -1 on failure. The callback must not call the store.
  virtual int32_t ListEntries(ZavListCallback callback, void* context) = 0;
  // 11
  virtual bool Reserved11() = 0;

  // 12: the size of the entry behind a handle, -1 for an unknown handle.
  virtual int32_t GetEntrySize(int32_t handle) = 0;
  // 13: the size of an entry, -1 when absent.
  virtual int32_t GetEntrySizeByName(const char* name) = 0;
  // 14: the number of entries, -1 on failure.
  virtual int32_t GetEntryCount() = 0;
  // 15: copies up to *inoutSize bytes of the entry from `offset`; out: the
  // bytes delivered (0 at or past the end).
  virtual bool ReadEntryAt(int32_t handle, uint32_t offset, void* buffer, uint32_t* inoutSize) = 0;
  // 16: folds the write-ahead log back into the database when no reader needs it.
  virtual bool Checkpoint() = 0;

  // 17: true when a store exists in the folder `path`.
  virtual bool Exists(const char* path) = 0;
  // 18: true when the store holds the entry.
  virtual bool HasEntry(const char* name) = 0;
  // 19: as PutEntryFromFile, but the store may take the file over instead of
  // copying it (a large file on the store's file system is moved into it).
  // On success the file is gone from `filePath`; on failure it is left
  // there. The caller must not write to the file during or after the call.
  virtual bool MoveEntryFromFile(const char* name, const char* filePath) = 0;
  // 20: the sizes of `count` entries, all read from one state of the store
  // (one read transaction, so much cheaper than one GetEntrySizeByName per
  // name while another connection writes): sizes[i] is the size of
  // names[i], or -1 when it is absent or not a valid name. False, with
  // every size -1, when the store cannot be read.
  virtual bool GetEntrySizes(const char* const* names, uint32_t count, int32_t* sizes) = 0;
  // 21
  virtual bool Reserved21() = 0;

  // 22: see ZavErrorSelector; -1 for an unknown selector.
  virtual int32_t GetErrorCode(int32_t which) = 0;

 protected:
  ~IZav() {}
};

// Number of slots of IZav's virtual table.
constexpr int kZavSlotCount = 23;

static_assert(sizeof(bool) == 1, "the store's results are one-byte bools");

extern "C" {
// Export names looked up in "ZAV.dll".
typedef IZav* (*GetZavFn)();
typedef void (*ReleaseZavFn)(IZav* store);
}

constexpr const char kZavModuleName[] = "ZAV.dll";
constexpr const char kGetZavExport[] = "GetZAV";
constexpr const char kReleaseZavExport[] = "ReleaseZAV";
// The store's folder beside the library.
constexpr const char kZavFolderName[] = "UDRADownload";

}  // namespace udra
