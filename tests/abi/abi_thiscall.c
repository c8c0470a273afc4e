/*
 * The 32-bit Windows binary interface from the caller's side: a plain C
 * program loads UDRAClient.dll from a fresh installation folder and calls all
 * 29 slots of the manager by index the way MSVC code calls them (through
 * thiscall_i686.S), checking after every call that the callee popped its
 * arguments and kept EBX, ESI, EDI and EBP. It checks the answers of a fresh
 * manager, a failed Initialize without "ZAV.dll" and its log lines, and the
 * record layouts as this compiler lays them out for a 32-bit caller.
 * Ignores its arguments (the Wine runner passes GoogleTest options).
 */
#include <windows.h>

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "udra/IResourceManager.h"

/* What the stub reports about one call. */
struct UdraAbiCall {
  uint32_t edx;
  int32_t espChange;
  uint32_t ebx, esi, edi, ebp;
};
uint32_t udra_abi_call(const void* fn, void* self, const uint32_t* args, uint32_t count, struct UdraAbiCall* out);

/* The record layouts a 32-bit caller compiles against. */
_Static_assert(sizeof(void*) == 4, "a 32-bit caller");
_Static_assert(sizeof(FileInfo) == 556, "FileInfo size");
_Static_assert(offsetof(FileInfo, key) == 0, "FileInfo.key");
_Static_assert(offsetof(FileInfo, packageName) == 256, "FileInfo.packageName");
_Static_assert(offsetof(FileInfo, flags) == 512, "FileInfo.flags");
_Static_assert(offsetof(FileInfo, packedDigest) == 516, "FileInfo.packedDigest");
_Static_assert(offsetof(FileInfo, digest) == 532, "FileInfo.digest");
_Static_assert(offsetof(FileInfo, size) == 548, "FileInfo.size");
_Static_assert(offsetof(FileInfo, packedSize) == 552, "FileInfo.packedSize");
_Static_assert(sizeof(SyncInfo) == 276, "SyncInfo size");
_Static_assert(offsetof(SyncInfo, name) == 0, "SyncInfo.name");
_Static_assert(offsetof(SyncInfo, totalSize) == 256, "SyncInfo.totalSize");
_Static_assert(offsetof(SyncInfo, doneSize) == 260, "SyncInfo.doneSize");
_Static_assert(offsetof(SyncInfo, priority) == 264, "SyncInfo.priority");
_Static_assert(offsetof(SyncInfo, userParam) == 268, "SyncInfo.userParam");
_Static_assert(offsetof(SyncInfo, state) == 272, "SyncInfo.state");

static int g_failures = 0;
static int g_calls = 0;

#define CHECK(cond)                                                         \
  do {                                                                      \
    if (!(cond)) {                                                          \
      fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
      ++g_failures;                                                         \
    }                                                                       \
  } while (0)

/* Calls slot `slot` of `self` with `count` stack arguments and checks the
 * discipline: `callerPops` is set for the cdecl exports. */
static uint32_t CallChecked(const char* what, const void* fn, void* self, const uint32_t* args, uint32_t count,
                            int callerPops, uint32_t* edx) {
  struct UdraAbiCall call;
  memset(&call, 0xEE, sizeof call);
  const uint32_t eax = udra_abi_call(fn, self, args, count, &call);
  const int32_t expected = callerPops ? -(int32_t)(4 * count) : 0;
  ++g_calls;
  if (call.espChange != expected || call.ebx != 0x0B0B0B0Bu || call.esi != 0x05151515u || call.edi != 0x0D1D1D1Du ||
      call.ebp != 0x0BADF00Du) {
    fprintf(stderr, "%s: stack changed by %d (expected %d), ebx %08lx esi %08lx edi %08lx ebp %08lx\n", what,
            (int)call.espChange, (int)expected, (unsigned long)call.ebx, (unsigned long)call.esi,
            (unsigned long)call.edi, (unsigned long)call.ebp);
    ++g_failures;
  }
  if (edx) *edx = call.edx;
  return eax;
}

static void** g_slots;
static void* g_manager;

static uint32_t Slot(int slot, const uint32_t* args, uint32_t count) {
  char what[32];
  snprintf(what, sizeof what, "slot %d", slot);
  return CallChecked(what, g_slots[slot], g_manager, args, count, 0, NULL);
}
/* The one-byte bool of a slot: only AL is defined. */
static int SlotBool(int slot, const uint32_t* args, uint32_t count) { return (int)(Slot(slot, args, count) & 0xFF); }

#define ARGS(...) ((const uint32_t[]){__VA_ARGS__}), (uint32_t)(sizeof((const uint32_t[]){__VA_ARGS__}) / 4)
#define NOARGS NULL, 0
#define U(p) ((uint32_t)(uintptr_t)(p))

static int WriteText(const char* path, const char* text) {
  FILE* f = fopen(path, "wb");
  if (!f) return 0;
  fputs(text, f);
  return fclose(f) == 0;
}

/* Every log file of the folder, one after the other. */
static size_t ReadLogs(const char* folder, char* out, size_t size) {
  char pattern[MAX_PATH];
  snprintf(pattern, sizeof pattern, "%s\\Logs\\*.log", folder);
  WIN32_FIND_DATAA found;
  HANDLE find = FindFirstFileA(pattern, &found);
  size_t used = 0;
  if (find == INVALID_HANDLE_VALUE) return 0;
  do {
    char path[MAX_PATH];
    snprintf(path, sizeof path, "%s\\Logs\\%s", folder, found.cFileName);
    FILE* f = fopen(path, "rb");
    if (!f) continue;
    used += fread(out + used, 1, size - 1 - used, f);
    fclose(f);
  } while (used < size - 1 && FindNextFileA(find, &found));
  FindClose(find);
  out[used] = '\0';
  return used;
}

static void FreshManager(HWND window) {
  char text[64];
  memset(text, 'x', sizeof text);
  CHECK(Slot(17, ARGS(U(text), sizeof text)) == 0); /* GetErrorInfo */
  CHECK(text[0] == '\0');
  CHECK(SlotBool(19, ARGS(1, 2)) == 0);    /* Reserved */
  CHECK(Slot(21, NOARGS) == 0);            /* GetHostValue2 */
  CHECK(Slot(22, NOARGS) == 0);            /* GetHostValue1 */
  Slot(26, ARGS(U(window)));               /* SetCallbackHWnd */

  /* No catalogue yet: every path names nothing, no handle exists. */
  CHECK((int32_t)Slot(3, ARGS(U("a.txt"), U("r"))) == -1); /* OpenFile */
  char buffer[16];
  uint32_t size = sizeof buffer;
  CHECK(SlotBool(4, ARGS(0, U(buffer), U(&size), 0)) == 0); /* ReadOpenFile */
  uint64_t position = 77;
  CHECK(SlotBool(5, ARGS(0, U(&position))) == 0); /* TellOpenFile */
  /* SeekOpenFile: a 64-bit offset takes two stack words, low word first; the
   * callee must pop four words. */
  CHECK(SlotBool(6, ARGS(0, 0x00000010u, 0x00000001u, 0)) == 0);
  CHECK(SlotBool(7, ARGS(0)) == 0); /* IsOpenFileAtEnd */
  CHECK(SlotBool(8, ARGS(0)) == 0); /* CloseFile */
  int32_t fileSize = 55;
  CHECK(SlotBool(9, ARGS(0, U(&fileSize))) == 0); /* QueryOpenFileSize */
  CHECK(SlotBool(10, ARGS(U("a.txt"), U(&fileSize))) == 0); /* QueryFileSize */
  CHECK(fileSize == 55);
  CHECK(SlotBool(11, ARGS(U("a.txt"))) == 0); /* IsFileInArchive */
  CHECK(SlotBool(12, ARGS(U("a.txt"))) == 0); /* IsFolder */

  /* Syncs: nothing to sync, no sync to ask about. */
  CHECK((int32_t)Slot(13, ARGS(U("a.txt"), U(window), 1, 7)) == -1); /* StartSync */
  Slot(14, ARGS(5));                                                 /* CancelSync */
  SyncInfo info;
  memset(&info, 0x5A, sizeof info);
  CHECK(SlotBool(15, ARGS(5, U(&info))) == 0); /* GetSyncInfo */
  CHECK(SlotBool(16, ARGS(5, 3)) == 0);        /* SetSyncPriority */

  CHECK(SlotBool(18, ARGS(1)) == 0);          /* SendHostFlag: no host link */
  CHECK(SlotBool(20, ARGS(0)) == 0);          /* SetCacheLimit: 0 is refused */
  CHECK(SlotBool(20, ARGS(1u << 20)) != 0);
  CHECK(SlotBool(23, ARGS(U("a.txt"))) == 0); /* ExtractFile */
  CHECK(SlotBool(24, ARGS(0)) == 0);          /* SetUin: null is refused */
  CHECK(SlotBool(24, ARGS(U("player.1"))) == 0); /* stored, but no host to send it to */
  CHECK(SlotBool(25, NOARGS) == 0);           /* RefreshShareState */

  FileInfo* list = (FileInfo*)(uintptr_t)1;
  CHECK((int32_t)Slot(27, ARGS(U("a.txt"), U(&list))) == 0); /* ListFiles */
  CHECK(list == NULL);
  Slot(28, ARGS(0)); /* FreeFileList(NULL) */
}

static void FailedInitialize(const char* folder, HWND window) {
  CHECK(SlotBool(1, ARGS(0, 1u << 20)) == 0);                 /* no URL root */
  CHECK(SlotBool(1, ARGS(U("file:///C:/content"), 0)) == 0);  /* no cache limit */
  /* No "ZAV.dll" in the folder: fails at once. */
  CHECK(SlotBool(1, ARGS(U("file:///C:/content"), 1u << 20)) == 0);
  /* A failure reported at once is not also posted as WM_INIT_RESULT 1. */
  MSG msg;
  while (PeekMessageA(&msg, window, 0, 0, PM_REMOVE)) CHECK(!(msg.message == UDRA_WM_INIT_RESULT && msg.wParam == 1));

  static char logs[1 << 16];
  ReadLogs(folder, logs, sizeof logs);
  CHECK(strstr(logs, "[ResourceManager][T]ResourceManager::Initialize() begin\n") != NULL);
  CHECK(strstr(logs, "[ResourceManager][T]ResourceManager::Initialize() LoadLibrary ZAV.dll\n") != NULL);
  /* "ResourceManager::Initialize()中装载ZAV.dll失败" in code page 936. */
  CHECK(strstr(logs, "[ResourceManager][E]ResourceManager::Initialize()\xD6\xD0\xD7\xB0\xD4\xD8ZAV.dll\xCA\xA7\xB0\xDC\n") !=
        NULL);
  if (g_failures) fprintf(stderr, "log files:\n%s\n", logs);
}

int main(void) {
  char exe[MAX_PATH], source[MAX_PATH], folder[MAX_PATH], library[MAX_PATH], path[MAX_PATH];
  DWORD n = GetModuleFileNameA(NULL, exe, sizeof exe);
  CHECK(n > 0 && n < sizeof exe);
  *strrchr(exe, '\\') = '\0';
  snprintf(source, sizeof source, "%s\\UDRAClient.dll", exe);

  /* A fresh installation folder with the library and a log configuration. */
  char temp[MAX_PATH];
  GetTempPathA(sizeof temp, temp);
  snprintf(folder, sizeof folder, "%sudra-abi-%lu", temp, (unsigned long)GetCurrentProcessId());
  CreateDirectoryA(folder, NULL);
  snprintf(library, sizeof library, "%s\\UDRAClient.dll", folder);
  if (!CopyFileA(source, library, FALSE)) {
    fprintf(stderr, "cannot copy %s to %s\n", source, library);
    return 1;
  }
  snprintf(path, sizeof path, "%s\\LogConfig.ini", folder);
  CHECK(WriteText(path, "[Default]\r\nWriteToLogFile=ETVW\r\n"));

  HMODULE module = LoadLibraryA(library);
  if (!module) {
    fprintf(stderr, "cannot load %s\n", library);
    return 1;
  }
  FARPROC get = GetProcAddress(module, "GetResourceManager");
  FARPROC release = GetProcAddress(module, "ReleaseResourceManager");
  CHECK(get && release);
  if (!get || !release) return 1;

  /* The exports are cdecl: the caller removes the arguments. */
  g_manager = (void*)(uintptr_t)CallChecked("GetResourceManager", (const void*)get, NULL, NULL, 0, 1, NULL);
  CHECK(g_manager != NULL);
  if (!g_manager) return 1;
  CHECK((void*)(uintptr_t)CallChecked("GetResourceManager", (const void*)get, NULL, NULL, 0, 1, NULL) == g_manager);
  CallChecked("ReleaseResourceManager(NULL)", (const void*)release, NULL, ARGS(0), 1, NULL);
  g_slots = *(void***)g_manager;

  HWND window = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, NULL, NULL, NULL);
  CHECK(window != NULL);

  FreshManager(window);
  FailedInitialize(folder, window);
  Slot(2, NOARGS); /* Uninitialize after the failed start */
  /* Slot 0, the deleting destructor: flag 1 frees the manager. The export's
   * record still names it, so nothing calls GetResourceManager afterwards. */
  Slot(0, ARGS(1));

  if (window) DestroyWindow(window);
  /* Like a game, keep the library loaded until the process ends. */
  if (g_failures) {
    fprintf(stderr, "abi: %d of the checks failed\n", g_failures);
    return 1;
  }
  printf("abi: %d calls, all 29 slots with the __thiscall discipline; fresh manager, failed start and layouts as expected\n",
         g_calls);
  return 0;
}
