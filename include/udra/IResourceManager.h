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
 */
class IResourceManager {
 public:
  virtual void DeletingDestructor(unsigned int flags) = 0;                          /* 0 */
  virtual bool Initialize(const char* urlRoot, int32_t cacheLimit) = 0;            /* 1 */
  virtual bool Uninitialize() = 0;                                                  /* 2 */
  virtual int32_t OpenFile(const char* path, const char* mode) = 0;                 /* 3 */
  virtual bool ReadOpenFile(int32_t handle, void* buffer, uint32_t* inoutSize, int32_t unused) = 0; /* 4 */
  virtual bool TellOpenFile(int32_t handle, uint64_t* position) = 0;               /* 5 */
  virtual bool SeekOpenFile(int32_t handle, int64_t offset, int32_t origin) = 0;   /* 6 */
  virtual bool IsOpenFileAtEnd(int32_t handle) = 0;                                /* 7 */
  virtual bool CloseFile(int32_t handle) = 0;                                      /* 8 */
  virtual bool QueryOpenFileSize(int32_t handle, int32_t* size) = 0;               /* 9 */
  virtual bool QueryFileSize(const char* path, int32_t* size) = 0;                 /* 10 */
  virtual bool IsFileInArchive(const char* path) = 0;                              /* 11 */
  virtual bool IsFolder(const char* path) = 0;                                     /* 12 */
  virtual int32_t StartSync(const char* path, UDRA_HWND notifyWnd, int32_t priority, int32_t userParam) = 0; /* 13 */
  virtual void CancelSync(int32_t syncId) = 0;                                     /* 14 */
  virtual bool GetSyncInfo(int32_t syncId, SyncInfo* out) = 0;                     /* 15 */
  virtual bool SetSyncPriority(int32_t syncId, int32_t priority) = 0;              /* 16 */
  virtual int32_t GetErrorInfo(char* buffer, int32_t bufferSize) = 0;              /* 17 */
  virtual bool SendHostFlag(int32_t value) = 0;                                    /* 18 */
  virtual bool Reserved(int32_t a, int32_t b) = 0;                                 /* 19 */
  virtual bool SetCacheLimit(int32_t bytes) = 0;                                   /* 20 */
  virtual int32_t GetHostValue2() = 0;                                             /* 21 */
  virtual int32_t GetHostValue1() = 0;                                             /* 22 */
  virtual bool ExtractFile(const char* path) = 0;                                  /* 23 */
  virtual bool SetUin(const char* uin) = 0;                                        /* 24 */
  virtual bool RefreshShareState() = 0;                                            /* 25 */
  virtual void SetCallbackHWnd(UDRA_HWND hwnd) = 0;                                /* 26 */
  virtual int32_t ListFiles(const char* pathOrFolder, FileInfo** outArray) = 0;    /* 27 */
  virtual void FreeFileList(FileInfo* array) = 0;                                  /* 28 */

 protected:
  ~IResourceManager() {}
};
#else
typedef struct IResourceManager IResourceManager;
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
UDRA_API IResourceManager* GetResourceManager(void);
UDRA_API void ReleaseResourceManager(IResourceManager* manager);
#endif

/* Types for games that bind the exports at run time. */
typedef IResourceManager* (*UDRA_GetResourceManagerFn)(void);
typedef void (*UDRA_ReleaseResourceManagerFn)(IResourceManager*);

#ifdef __cplusplus
}
#endif

#endif /* UDRA_IRESOURCEMANAGER_H */
