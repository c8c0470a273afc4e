/*
 * UDRA client: the resource-manager interface a game uses.
 *
 * The game loads the library (UDRAClient.dll / libUDRAClient.so), calls
 * GetResourceManager() once and from then on calls the manager through this
 * abstract interface. The slot order of the virtual table is part of the binary
 * interface: games built by other compilers call the slots by index.
 */
#ifndef UDRA_IRESOURCEMANAGER_H
#define UDRA_IRESOURCEMANAGER_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* A window handle. On Windows this is an HWND; on other platforms a handle of
 * the library's own message system (see udra/MessageWindow.h). */
typedef void* UDRA_HWND;

/* Window messages posted to the game. All carry lParam 0. */
#define UDRA_WM_SYNC_RETURN 0x506B /* wParam: sync id */
#define UDRA_WM_HOST_EVENT 0x506C  /* wParam: the host's event value */
#define UDRA_WM_INIT_RESULT 0x506D /* wParam: 1 success, 0 failure */

/* Sync states read from UDRASyncInfo.state. */
enum {
  UDRA_SYNC_ERROR_OTHER = 0,
  UDRA_SYNC_RUNNING = 1,
  UDRA_SYNC_DONE = 2,
  UDRA_SYNC_FAILED = 4,
  UDRA_SYNC_ERROR_CODE22 = 6,
  UDRA_SYNC_CANCELLED = 7,
  UDRA_SYNC_ERROR_KIND1 = 8,
  UDRA_SYNC_ERROR_KIND2 = 9,
  UDRA_SYNC_ERROR_KIND3 = 11
};

/* FileInfo.flags */
#define UDRA_FILEINFO_FOLDER 1
#define UDRA_FILEINFO_PACKAGED_FOLDER 3
#define UDRA_FILEINFO_FILE 4

#pragma pack(push, 1)
/* One element of the array that ListFiles hands out (556 bytes). */
typedef struct FileInfo {
  char key[256];
  char packageName[256];
  uint32_t flags;
  uint8_t packedDigest[16];
  uint8_t digest[16];
  int32_t size;       /* -1 for a folder */
  int32_t packedSize;
} FileInfo;

/* Progress record of a sync (276 bytes). */
typedef struct SyncInfo {
  char name[256];
  int32_t totalSize;
  int32_t doneSize;
  int32_t priority;
  int32_t userParam;
  int32_t state;
} SyncInfo;
#pragma pack(pop)

#ifdef __cplusplus
} /* extern "C" */
#endif

#ifdef __cplusplus
static_assert(sizeof(FileInfo) == 556, "FileInfo is 556 bytes");
static_assert(offsetof(FileInfo, flags) == 512, "FileInfo layout");
static_assert(offsetof(FileInfo, packedDigest) == 516, "FileInfo layout");
static_assert(offsetof(FileInfo, digest) == 532, "FileInfo layout");
static_assert(offsetof(FileInfo, size) == 548, "FileInfo layout");
static_assert(offsetof(FileInfo, packedSize) == 552, "FileInfo layout");
static_assert(sizeof(SyncInfo) == 276, "SyncInfo is 276 bytes");
static_assert(offsetof(SyncInfo, totalSize) == 256, "SyncInfo layout");
static_assert(offsetof(SyncInfo, state) == 272, "SyncInfo layout");

/*
 * The manager interface: 29 slots in this order on every platform.
 *
 * Slot 0 is a single virtual function taking the deleting flag (bit 0: free
 * the memory), laid out as the Windows compiler lays out a virtual destructor.
 * A C++ virtual destructor would take two slots under the Itanium ABI and
 * shift every other slot, so the interface declares none; games release the
 * manager through ReleaseResourceManager. On 32-bit Windows the members use
 * __thiscall, the compiler's default for member functions there.
 *
 * Rules for every slot:
 * - Paths are catalogued paths ("Data\Maps\town.map"; '/' works as well,
 *   any letter case) as NUL-terminated bytes in the ANSI code page, GBK (code
 *   page 936) on every platform: convert UTF-8 names before passing them. A
 *   path of 256 bytes or more names nothing.
 * - Any thread may call; the manager serialises the calls. But Initialize
 *   creates a hidden window owned by its calling thread, and that thread must
 *   keep dispatching window messages (GetMessage/DispatchMessage on Windows,
 *   udra/MessageWindow.h elsewhere) for start-up, syncs and host records to
 *   complete. WM_INIT_RESULT, WM_SYNC_RETURN and WM_HOST_EVENT are posted,
 *   carry no pointer, and need nothing freed.
 * - Failure is reported by the result only (false, -1, 0); nothing throws.
 * - Memory: the only block handed to the game is ListFiles' array, released
 *   with FreeFileList. Read bytes are copied into the caller's buffer.
 *
 * The order of calls a game makes: GetResourceManager; SetCallbackHWnd;
 * Initialize; wait for WM_INIT_RESULT; the file, sync and query slots;
 * Uninitialize; ReleaseResourceManager.
 */
class IResourceManager {
 public:
  /* 0: destroys the manager; bit 0 of `flags` frees its memory. Games call
   * ReleaseResourceManager instead. */
  virtual void DeletingDestructor(unsigned int flags) = 0;
  /* 1: brings the manager up: hidden window, archive store (UDRADownload),
   * downloader host (launched when not running), pipe, catalogue.
   * `urlRoot` is where the published tree is served (http://, https:// or
   * file://; the catalogue's URL folder and the file name are appended);
   * `cacheLimit` bounds the decoded-content cache in bytes (unsigned). Both
   * must be non-zero. True means started or still starting: the outcome
   * arrives as WM_INIT_RESULT (1 up, 0 failed, see Logs/) at the window of
   * SetCallbackHWnd. False means it failed at once. A second Initialize
   * without Uninitialize is refused. */
  virtual bool Initialize(const char* urlRoot, int32_t cacheLimit) = 0;
  /* 2: releases what Initialize acquired and saves the resource-use record;
   * open handles end. Call it on the thread that called Initialize. False
   * when something could not be released. */
  virtual bool Uninitialize() = 0;
  /* 3: opens a catalogued file that the store holds; `mode` must be "r".
   * Returns a handle (0 and up), or -1: not catalogued, a folder, or not
   * downloaded yet (sync it first). */
  virtual int32_t OpenFile(const char* path, const char* mode) = 0;
  /* 4: reads up to *inoutSize bytes at the handle's position into `buffer`;
   * *inoutSize becomes the count read (0 at the end, still true). The first
   * read decodes the whole file into the cache. False for a bad handle or
   * content that fails its check. The last argument is unused. */
  virtual bool ReadOpenFile(int32_t handle, void* buffer, uint32_t* inoutSize, int32_t unused) = 0;
  /* 5: the handle's read position into *position. */
  virtual bool TellOpenFile(int32_t handle, uint64_t* position) = 0;
  /* 6: moves the read position: `origin` 0 from the start, 1 from the
   * current position, 2 from the end. A target outside 0..size fails and
   * leaves the position. */
  virtual bool SeekOpenFile(int32_t handle, int64_t offset, int32_t origin) = 0;
  /* 7: true when the position is at the file's catalogued size. */
  virtual bool IsOpenFileAtEnd(int32_t handle) = 0;
  /* 8: closes the handle; its cached content may be dropped once no handle
   * uses it and the cache is above its limit. */
  virtual bool CloseFile(int32_t handle) = 0;
  /* 9: the catalogued size of the file behind a handle. */
  virtual bool QueryOpenFileSize(int32_t handle, int32_t* size) = 0;
  /* 10: the catalogued size of a file (false for a folder or an unknown
   * path; *size is then untouched). Needs no download. */
  virtual bool QueryFileSize(const char* path, int32_t* size) = 0;
  /* 11: whether the archive store holds the file (its package for a
   * packaged file), i.e. whether OpenFile can succeed. */
  virtual bool IsFileInArchive(const char* path) = 0;
  /* 12: whether the catalogued path is a folder. */
  virtual bool IsFolder(const char* path) = 0;
  /* 13: starts downloading a file, or every file below a folder, that the
   * store lacks. Returns the sync id at once, or -1 for an unknown path. When
   * the sync ends (at once when nothing is missing), WM_SYNC_RETURN (wParam:
   * the id) is posted to `notifyWnd`, which also becomes the callback window.
   * A higher `priority` is served first; `userParam` comes back in
   * GetSyncInfo. */
  virtual int32_t StartSync(const char* path, UDRA_HWND notifyWnd, int32_t priority, int32_t userParam) = 0;
  /* 14: cancels a running sync (its state becomes UDRA_SYNC_CANCELLED). */
  virtual void CancelSync(int32_t syncId) = 0;
  /* 15: the sync's record: state (UDRA_SYNC_*), bytes in total and done,
   * priority, userParam. False for an unknown id. */
  virtual bool GetSyncInfo(int32_t syncId, SyncInfo* out) = 0;
  /* 16: changes a running sync's priority for its downloads not yet done. */
  virtual bool SetSyncPriority(int32_t syncId, int32_t priority) = 0;
  /* 17: copies the status text into `buffer` (at most bufferSize bytes,
   * terminated) and returns the status code; always "" and 0 here. */
  virtual int32_t GetErrorInfo(char* buffer, int32_t bufferSize) = 0;
  /* 18: sends the low byte of `value` to the host: bit 0 set pauses
   * downloading, clear resumes. False when the host link is down. */
  virtual bool SendHostFlag(int32_t value) = 0;
  /* 19: does nothing and returns false. */
  virtual bool Reserved(int32_t a, int32_t b) = 0;
  /* 20: sets the content-cache limit in bytes (unsigned; 0 is refused) and
   * drops unused cached content above it. */
  virtual bool SetCacheLimit(int32_t bytes) = 0;
  /* 21: downloads the host holds (queued, running or being stored). */
  virtual int32_t GetHostValue2() = 0;
  /* 22: bytes the host received per second over the last second. */
  virtual int32_t GetHostValue1() = 0;
  /* 23: writes a downloaded file's decoded bytes to UDRADownload/<path> in
   * the installation folder (never outside it; never over the store's own
   * files). True for an empty file without writing. */
  virtual bool ExtractFile(const char* path) = 0;
  /* 24: the user id (letters, digits, ". _ - @"; at most 99 bytes) sent to
   * the host, which adds it to its User-Agent. Null is refused. */
  virtual bool SetUin(const char* uin) = 0;
  /* 25: rereads the state the host shares; true while the host holds any
   * download. */
  virtual bool RefreshShareState() = 0;
  /* 26: the window that receives WM_INIT_RESULT and WM_HOST_EVENT. Call it
   * before Initialize. */
  virtual void SetCallbackHWnd(UDRA_HWND hwnd) = 0;
  /* 27: lists a catalogued file (one record) or everything below a folder
   * (files and folders, all depths, catalogue order) into a new array in
   * *outArray and returns the count; 0 with a null array when the path is
   * unknown. Release the array with FreeFileList. Needs no download. */
  virtual int32_t ListFiles(const char* pathOrFolder, FileInfo** outArray) = 0;
  /* 28: frees an array from ListFiles; null is allowed. */
  virtual void FreeFileList(FileInfo* array) = 0;

 protected:
  ~IResourceManager() {}
};
#else
/*
 * C callers see the manager as a pointer to its table of slots, in the order
 * and with the meaning documented for the C++ class above; every slot takes
 * the manager as its first argument:
 *
 *     IResourceManager* m = GetResourceManager();
 *     m->vtbl->SetCallbackHWnd(m, wnd);
 *     m->vtbl->Initialize(m, "file:///srv/game", 64 << 20);
 *
 * On 32-bit Windows the slots are __thiscall, which only GCC and Clang can
 * declare in C; MSVC's C compiler gets no table there.
 */
#if defined(_WIN32) && (defined(__i386__) || defined(_M_IX86))
#if defined(__GNUC__)
#define UDRA_THISCALL __attribute__((thiscall))
#endif
#else
#define UDRA_THISCALL
#endif
typedef struct IResourceManager IResourceManager;
#ifdef UDRA_THISCALL
typedef unsigned char udra_bool; /* the one-byte bool of the C++ slots */
typedef struct IResourceManagerVtbl {
  void(UDRA_THISCALL* DeletingDestructor)(IResourceManager* self, unsigned int flags);
  udra_bool(UDRA_THISCALL* Initialize)(IResourceManager* self, const char* urlRoot, int32_t cacheLimit);
  udra_bool(UDRA_THISCALL* Uninitialize)(IResourceManager* self);
  int32_t(UDRA_THISCALL* OpenFile)(IResourceManager* self, const char* path, const char* mode);
  udra_bool(UDRA_THISCALL* ReadOpenFile)(IResourceManager* self, int32_t handle, void* buffer, uint32_t* inoutSize,
                                         int32_t unused);
  udra_bool(UDRA_THISCALL* TellOpenFile)(IResourceManager* self, int32_t handle, uint64_t* position);
  udra_bool(UDRA_THISCALL* SeekOpenFile)(IResourceManager* self, int32_t handle, int64_t offset, int32_t origin);
  udra_bool(UDRA_THISCALL* IsOpenFileAtEnd)(IResourceManager* self, int32_t handle);
  udra_bool(UDRA_THISCALL* CloseFile)(IResourceManager* self, int32_t handle);
  udra_bool(UDRA_THISCALL* QueryOpenFileSize)(IResourceManager* self, int32_t handle, int32_t* size);
  udra_bool(UDRA_THISCALL* QueryFileSize)(IResourceManager* self, const char* path, int32_t* size);
  udra_bool(UDRA_THISCALL* IsFileInArchive)(IResourceManager* self, const char* path);
  udra_bool(UDRA_THISCALL* IsFolder)(IResourceManager* self, const char* path);
  int32_t(UDRA_THISCALL* StartSync)(IResourceManager* self, const char* path, UDRA_HWND notifyWnd, int32_t priority,
                                    int32_t userParam);
  void(UDRA_THISCALL* CancelSync)(IResourceManager* self, int32_t syncId);
  udra_bool(UDRA_THISCALL* GetSyncInfo)(IResourceManager* self, int32_t syncId, SyncInfo* out);
  udra_bool(UDRA_THISCALL* SetSyncPriority)(IResourceManager* self, int32_t syncId, int32_t priority);
  int32_t(UDRA_THISCALL* GetErrorInfo)(IResourceManager* self, char* buffer, int32_t bufferSize);
  udra_bool(UDRA_THISCALL* SendHostFlag)(IResourceManager* self, int32_t value);
  udra_bool(UDRA_THISCALL* Reserved)(IResourceManager* self, int32_t a, int32_t b);
  udra_bool(UDRA_THISCALL* SetCacheLimit)(IResourceManager* self, int32_t bytes);
  int32_t(UDRA_THISCALL* GetHostValue2)(IResourceManager* self);
  int32_t(UDRA_THISCALL* GetHostValue1)(IResourceManager* self);
  udra_bool(UDRA_THISCALL* ExtractFile)(IResourceManager* self, const char* path);
  udra_bool(UDRA_THISCALL* SetUin)(IResourceManager* self, const char* uin);
  udra_bool(UDRA_THISCALL* RefreshShareState)(IResourceManager* self);
  void(UDRA_THISCALL* SetCallbackHWnd)(IResourceManager* self, UDRA_HWND hwnd);
  int32_t(UDRA_THISCALL* ListFiles)(IResourceManager* self, const char* pathOrFolder, FileInfo** outArray);
  void(UDRA_THISCALL* FreeFileList)(IResourceManager* self, FileInfo* array);
} IResourceManagerVtbl;
struct IResourceManager {
  const IResourceManagerVtbl* vtbl;
};
#endif
#endif

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#define UDRA_API __declspec(dllimport)
#elif defined(__GNUC__)
#define UDRA_API __attribute__((visibility("default")))
#else
#define UDRA_API
#endif

#ifndef UDRA_BUILDING_LIBRARY
/* The one manager of the process, built by the first call (later calls
 * return the same pointer); null when it cannot be built. Make the first
 * call from one thread. */
UDRA_API IResourceManager* GetResourceManager(void);
/* Destroys the manager (null is ignored); call Uninitialize first. A later
 * GetResourceManager builds a new one. */
UDRA_API void ReleaseResourceManager(IResourceManager* manager);
#endif

/* Types for games that bind the exports at run time. */
typedef IResourceManager* (*UDRA_GetResourceManagerFn)(void);
typedef void (*UDRA_ReleaseResourceManagerFn)(IResourceManager*);

#ifdef __cplusplus
}
#endif

#endif /* UDRA_IRESOURCEMANAGER_H */
