// Each figure has its baseline in the same run:
//   BM_PostMessage        vs BM_PlainQueue      one producer, one consumer thread
//   BM_PipeRoundTrip      vs BM_SocketPairRoundTrip   823-byte record out and back
#include <benchmark/benchmark.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "hostlink/PipeMsg.h"
#include "platform/MessagePipe.h"
#include "platform/Sync.h"
#include "platform/System.h"
#include "platform/Window.h"

namespace {

using namespace udra;
using namespace udra::platform;

constexpr int kBatch = 1000;
constexpr uint32_t kCount = kWmUser + 1;
constexpr uint32_t kStop = kWmUser + 2;

std::atomic<int> g_handled{0};

intptr_t CountingProc(WindowHandle wnd, uint32_t msg, uintptr_t wParam, intptr_t lParam) {
  if (msg == kCount) g_handled.fetch_add(1, std::memory_order_release);
  if (msg == kStop) PostQuit(0);
  return DefaultWindowProc(wnd, msg, wParam, lParam);
}

void BM_PostMessage(benchmark::State& state) {
  static const bool registered = RegisterWindowClass("udra_bench_class", &CountingProc);
  if (!registered) {
    state.SkipWithError("class");
    return;
  }
  std::atomic<WindowHandle> wnd{nullptr};
  std::thread consumer([&] {
    wnd = CreateMessageWindow("udra_bench_class");
    WindowMessage msg;
    while (GetWindowMessage(msg) > 0) DispatchWindowMessage(msg);
    DestroyMessageWindow(wnd);
  });
  while (!wnd.load()) std::this_thread::yield();
  for (auto _ : state) {
    g_handled = 0;
    for (int i = 0; i < kBatch; ++i) PostWindowMessage(wnd, kCount, static_cast<uintptr_t>(i), 0);
    while (g_handled.load(std::memory_order_acquire) < kBatch) std::this_thread::yield();
  }
  PostWindowMessage(wnd, kStop, 0, 0);
  consumer.join();
  state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_PostMessage)->UseRealTime();

// The least a cross-thread queue costs: a deque under a mutex with a
// condition variable.
void BM_PlainQueue(benchmark::State& state) {
  std::mutex mu;
  std::condition_variable cv;
  std::deque<WindowMessage> queue;
  std::atomic<int> handled{0};
  std::thread consumer([&] {
    for (;;) {
      std::unique_lock<std::mutex> lock(mu);
      cv.wait(lock, [&] { return !queue.empty(); });
      const WindowMessage m = queue.front();
      queue.pop_front();
      lock.unlock();
      if (m.message == kStop) return;
      handled.fetch_add(1, std::memory_order_release);
    }
  });
  for (auto _ : state) {
    handled = 0;
    for (int i = 0; i < kBatch; ++i) {
      std::lock_guard<std::mutex> lock(mu);
      queue.push_back(WindowMessage{nullptr, kCount, static_cast<uintptr_t>(i), 0});
      cv.notify_all();
    }
    while (handled.load(std::memory_order_acquire) < kBatch) std::this_thread::yield();
  }
  {
    std::lock_guard<std::mutex> lock(mu);
    queue.push_back(WindowMessage{nullptr, kStop, 0, 0});
    cv.notify_all();
  }
  consumer.join();
  state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_PlainQueue)->UseRealTime();

// Reads one message through the completion, then writes one.
bool ReadMessage(MessagePipe& pipe, const uint8_t** data, size_t* size) {
  if (!pipe.StartRead()) return false;
  Waitable* w[] = {&pipe.readCompletion()};
  return WaitForAny(w, 1, kInfinite) == 0 && pipe.ReadResult(data, size) == IoStatus::Done;
}

bool WriteMessage(MessagePipe& pipe, const void* data, size_t size) {
  const IoStatus s = pipe.StartWrite(data, size);
  if (s != IoStatus::Pending) return s == IoStatus::Done;
  Waitable* w[] = {&pipe.writeCompletion()};
  size_t written = 0;
  return WaitForAny(w, 1, kInfinite) == 0 && pipe.WriteResult(&written) == IoStatus::Done;
}

void BM_PipeRoundTrip(benchmark::State& state) {
  const std::string key = "UDRABENCH" + std::to_string(CurrentProcessId());
  auto server = PipeServer::Create(key);
  auto client = server ? MessagePipe::Connect(key) : nullptr;
  auto host = client ? server->Accept(5000) : nullptr;
  if (!host) {
    state.SkipWithError("pipe");
    return;
  }
  std::thread echo([&] {
    const uint8_t* data = nullptr;
    size_t size = 0;
    while (ReadMessage(*host, &data, &size) && WriteMessage(*host, data, size)) {
    }
  });
  const PipeMsg record = MakeSyncFile(1, "data\\file.pak", "http://127.0.0.1/file.pak", 0, 0, 1, "digest");
  for (auto _ : state) {
    const uint8_t* data = nullptr;
    size_t size = 0;
    if (!WriteMessage(*client, &record, sizeof record) || !ReadMessage(*client, &data, &size) || size != sizeof record) {
      state.SkipWithError("round trip");
      break;
    }
  }
  client.reset();  // the echo thread's read fails and it ends
  echo.join();
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PipeRoundTrip)->UseRealTime();

// The same exchange over a bare blocking SEQPACKET socket pair.
void BM_SocketPairRoundTrip(benchmark::State& state) {
  int fds[2];
  if (socketpair(AF_UNIX, SOCK_SEQPACKET, 0, fds) != 0) {
    state.SkipWithError("socketpair");
    return;
  }
  std::thread echo([&] {
    uint8_t buffer[823];
    for (;;) {
      const ssize_t n = recv(fds[1], buffer, sizeof buffer, 0);
      if (n <= 0 || send(fds[1], buffer, static_cast<size_t>(n), MSG_NOSIGNAL) != n) return;
    }
  });
  const PipeMsg record = MakeSyncFile(1, "data\\file.pak", "http://127.0.0.1/file.pak", 0, 0, 1, "digest");
  uint8_t buffer[823];
  for (auto _ : state) {
    if (send(fds[0], &record, sizeof record, MSG_NOSIGNAL) != static_cast<ssize_t>(sizeof record) ||
        recv(fds[0], buffer, sizeof buffer, 0) != static_cast<ssize_t>(sizeof record)) {
      state.SkipWithError("round trip");
      break;
    }
  }
  shutdown(fds[0], SHUT_RDWR);
  echo.join();
  close(fds[0]);
  close(fds[1]);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SocketPairRoundTrip)->UseRealTime();

}  // namespace
