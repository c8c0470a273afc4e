// A minimal game on the UDRA client:
//
//   game URL_ROOT [FOLDER [FILE]]
//
// starts the resource manager against the content published at URL_ROOT,
// downloads FOLDER (default Data) through the downloader host, writes FILE
// (default Data/readme.txt) to standard output, and shuts down. Progress goes
// to standard error. The installation the library belongs to (its folder,
// with FileList.dat, the companions and the INI files) is the one it was
// linked against.
#include <udra/IResourceManager.h>
#include <udra/MessageWindow.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace {

// What the callback window has been told.
struct Notifications {
  int initResult = -1;        // WM_INIT_RESULT: 1 up, 0 failed
  int32_t syncReturned = -1;  // the id of the last WM_SYNC_RETURN
};
Notifications g_seen;

intptr_t CallbackProc(udra_hwnd wnd, uint32_t message, uintptr_t wparam, intptr_t lparam) {
  if (message == UDRA_WM_INIT_RESULT) g_seen.initResult = int(wparam);
  if (message == UDRA_WM_SYNC_RETURN) g_seen.syncReturned = int32_t(wparam);
  return udra_default_window_proc(wnd, message, wparam, lparam);
}

// A game's frame loop, shortened: dispatch every waiting message (the
// manager's own hidden window needs them too), then "render" until `done`.
template <typename Done>
bool PumpUntil(Done done, int seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (!done()) {
    udra_msg msg;
    while (udra_peek_message(&msg, 1) > 0) udra_dispatch_message(&msg);
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));  // one frame
  }
  return true;
}

int Run(IResourceManager* manager, udra_hwnd window, const char* urlRoot, const char* folder, const char* file) {
  // Start-up: the result arrives as WM_INIT_RESULT on this thread's window.
  manager->SetCallbackHWnd(window);
  if (!manager->Initialize(urlRoot, 64 << 20) || !PumpUntil([] { return g_seen.initResult != -1; }, 120) ||
      g_seen.initResult != 1) {
    std::fprintf(stderr, "game: the resource manager did not start (see Logs/ in the installation)\n");
    return 1;
  }
  std::fprintf(stderr, "game: started\n");

  // Download the folder; the host reports through WM_SYNC_RETURN.
  const int32_t sync = manager->StartSync(folder, window, 0, 0);
  if (sync == -1) {
    std::fprintf(stderr, "game: %s is not catalogued\n", folder);
    return 1;
  }
  SyncInfo info{};
  const bool returned = PumpUntil(
      [&] {
        manager->GetSyncInfo(sync, &info);  // progress, as a loading screen would show it
        return g_seen.syncReturned == sync;
      },
      600);
  manager->GetSyncInfo(sync, &info);
  if (!returned || info.state != UDRA_SYNC_DONE) {
    std::fprintf(stderr, "game: sync of %s ended in state %d\n", folder, int(info.state));
    return 1;
  }
  std::fprintf(stderr, "game: synced %s (%d bytes)\n", folder, int(info.totalSize));

  // Read the file back like an ordinary file.
  const int32_t handle = manager->OpenFile(file, "r");
  int32_t size = 0;
  if (handle == -1 || !manager->QueryOpenFileSize(handle, &size)) {
    std::fprintf(stderr, "game: cannot open %s\n", file);
    return 1;
  }
  std::vector<char> bytes(size_t(size) + 1);
  uint32_t got = uint32_t(bytes.size());
  const bool read = manager->ReadOpenFile(handle, bytes.data(), &got, 0);
  manager->CloseFile(handle);
  if (!read || got != uint32_t(size)) {
    std::fprintf(stderr, "game: reading %s failed\n", file);
    return 1;
  }
  std::fwrite(bytes.data(), 1, got, stdout);
  std::fprintf(stderr, "game: read %s (%u bytes)\n", file, got);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: game URL_ROOT [FOLDER [FILE]]\n");
    return 2;
  }
  // Catalogued paths are GBK bytes; these ASCII defaults need no conversion.
  const char* folder = argc > 2 ? argv[2] : "Data";
  const char* file = argc > 3 ? argv[3] : "Data/readme.txt";

  IResourceManager* manager = GetResourceManager();
  udra_hwnd window = udra_create_message_window(&CallbackProc, nullptr);
  if (!manager || !window) {
    std::fprintf(stderr, "game: no resource manager\n");
    return 1;
  }
  int status = Run(manager, window, argv[1], folder, file);
  // Whatever Initialize reached, Uninitialize releases (on this thread).
  if (!manager->Uninitialize()) {
    std::fprintf(stderr, "game: Uninitialize failed\n");
    status = 1;
  }
  ReleaseResourceManager(manager);
  udra_destroy_window(window);
  if (status == 0) std::fprintf(stderr, "game: shut down\n");
  return status;
}
