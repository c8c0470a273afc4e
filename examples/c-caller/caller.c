/* A C program that drives the resource manager through all 29 slots of its
 * table, in the order a game would:
 *
 *   c-caller URL_ROOT FILE
 *
 * FILE is a catalogued file (GBK bytes; ASCII names need no conversion). It
 * is synced, read, sought in and extracted; the program prints one line per
 * slot and exits 0 when each answered as documented. */
#define _POSIX_C_SOURCE 200809L /* nanosleep */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <udra/IResourceManager.h>
#include <udra/MessageWindow.h>

static int g_initResult = -1;
static int32_t g_syncReturned = -1;
static int g_failures = 0;

static intptr_t callback(udra_hwnd wnd, uint32_t message, uintptr_t wparam, intptr_t lparam) {
  if (message == UDRA_WM_INIT_RESULT) g_initResult = (int)wparam;
  if (message == UDRA_WM_SYNC_RETURN) g_syncReturned = (int32_t)wparam;
  return udra_default_window_proc(wnd, message, wparam, lparam);
}

static void check(int slot, const char* what, int ok) {
  printf("%-4s slot %2d %s\n", ok ? "ok" : "BAD", slot, what);
  if (!ok) ++g_failures;
}

/* Dispatches messages until *flag leaves -1 (or, for syncs, equals want). */
static int pump(const int* initFlag, const int32_t* syncFlag, int32_t want, int seconds) {
  const time_t deadline = time(NULL) + seconds;
  for (;;) {
    udra_msg msg;
    while (udra_peek_message(&msg, 1) > 0) udra_dispatch_message(&msg);
    if (initFlag && *initFlag != -1) return 1;
    if (syncFlag && *syncFlag == want) return 1;
    if (time(NULL) > deadline) return 0;
    {
      struct timespec frame = {0, 10 * 1000 * 1000};
      nanosleep(&frame, NULL);
    }
  }
}

int main(int argc, char** argv) {
  IResourceManager* m;
  const IResourceManagerVtbl* v;
  udra_hwnd wnd;
  char text[64];
  int32_t size = -2, syncId, handle;
  uint64_t position = 1;
  FileInfo* list = NULL;
  int32_t count;
  SyncInfo info;

  if (argc < 3) {
    fprintf(stderr, "usage: c-caller URL_ROOT FILE\n");
    return 2;
  }
  m = GetResourceManager();
  wnd = udra_create_message_window(callback, NULL);
  if (!m || !wnd) return 1;
  v = m->vtbl;

  /* Before start-up. */
  memset(text, 'x', sizeof text);
  check(17, "GetErrorInfo: empty text, code 0", v->GetErrorInfo(m, text, sizeof text) == 0 && text[0] == 0);
  check(19, "Reserved: false", !v->Reserved(m, 1, 2));
  check(26, "SetCallbackHWnd", (v->SetCallbackHWnd(m, wnd), 1));
  check(1, "Initialize", v->Initialize(m, argv[1], 16 << 20) && pump(&g_initResult, NULL, 0, 120) &&
                             g_initResult == 1);
  if (g_initResult != 1) {
    v->Uninitialize(m);
    ReleaseResourceManager(m);
    return 1;
  }

  /* The catalogue: no download needed. */
  check(12, "IsFolder: a file is none", !v->IsFolder(m, argv[2]));
  check(10, "QueryFileSize", v->QueryFileSize(m, argv[2], &size) && size >= 0);
  count = v->ListFiles(m, argv[2], &list);
  check(27, "ListFiles: one record for a file", count == 1 && list && list[0].flags == UDRA_FILEINFO_FILE &&
                                                     list[0].size == size);
  v->FreeFileList(m, list);
  check(28, "FreeFileList", 1);

  /* Download the file. */
  g_syncReturned = -1;
  syncId = v->StartSync(m, argv[2], wnd, 0, 77);
  check(13, "StartSync", syncId != -1);
  check(16, "SetSyncPriority", (v->SetSyncPriority(m, syncId, 5), 1)); /* false once the sync has ended */
  pump(NULL, &g_syncReturned, syncId, 600);
  check(15, "GetSyncInfo: done, userParam kept", v->GetSyncInfo(m, syncId, &info) &&
                                                     info.state == UDRA_SYNC_DONE && info.userParam == 77);
  check(14, "CancelSync of an ended sync changes nothing",
        (v->CancelSync(m, syncId), v->GetSyncInfo(m, syncId, &info) && info.state == UDRA_SYNC_DONE));
  check(11, "IsFileInArchive", v->IsFileInArchive(m, argv[2]));

  /* Read it. */
  handle = v->OpenFile(m, argv[2], "r");
  check(3, "OpenFile", handle != -1);
  {
    int32_t openSize = -1;
    uint32_t got = (uint32_t)size + 1;
    char* bytes = (char*)malloc((size_t)size + 1);
    check(9, "QueryOpenFileSize", v->QueryOpenFileSize(m, handle, &openSize) && openSize == size);
    check(4, "ReadOpenFile: the whole file", bytes && v->ReadOpenFile(m, handle, bytes, &got, 0) &&
                                                 got == (uint32_t)size);
    free(bytes);
  }
  check(5, "TellOpenFile: at the end", v->TellOpenFile(m, handle, &position) && position == (uint64_t)size);
  check(7, "IsOpenFileAtEnd", v->IsOpenFileAtEnd(m, handle));
  check(6, "SeekOpenFile: back to the start, not past the end",
        v->SeekOpenFile(m, handle, 0, 0) && !v->SeekOpenFile(m, handle, 1, 2));
  check(8, "CloseFile", v->CloseFile(m, handle) && !v->CloseFile(m, handle));
  check(20, "SetCacheLimit: 0 refused", !v->SetCacheLimit(m, 0) && v->SetCacheLimit(m, 8 << 20));
  check(23, "ExtractFile", v->ExtractFile(m, argv[2]));

  /* The host. */
  check(24, "SetUin", v->SetUin(m, "example.player"));
  check(18, "SendHostFlag: resume", v->SendHostFlag(m, 0));
  check(25, "RefreshShareState", (v->RefreshShareState(m), 1)); /* true while the host holds downloads */
  check(21, "GetHostValue2", v->GetHostValue2(m) >= 0);
  check(22, "GetHostValue1", v->GetHostValue1(m) >= 0);

  check(2, "Uninitialize", v->Uninitialize(m));
  /* Slot 0 through the export, which also forgets the manager. */
  ReleaseResourceManager(m);
  check(0, "DeletingDestructor (ReleaseResourceManager)", 1);
  udra_destroy_window(wnd);
  printf("%s\n", g_failures ? "c-caller: some slots answered wrongly" : "c-caller: all 29 slots answered");
  return g_failures ? 1 : 0;
}
