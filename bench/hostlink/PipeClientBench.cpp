// Round trips per second: the pipe client (queue, listen thread, lock, the
// record checks and the listener call) against the bare transport, a
// SOCK_SEQPACKET socket pair between two threads exchanging the same bytes.
#include <benchmark/benchmark.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "hostlink/PipeMsg.h"
#include "hostlink/UDRAClient.h"
#include "platform/MessagePipe.h"
#include "platform/Sync.h"
#include "platform/System.h"

namespace udra {
namespace {

// Answers every CMD_TICK with CMD_HOST_VALUES until the client goes.
void ServeTicks(platform::PipeServer& server) {
  auto pipe = server.Accept(10000);
  if (!pipe) return;
  const PipeMsg values = MakeHostValues(1, 2);
  for (;;) {
    if (!pipe->StartRead()) return;
    platform::Waitable* read[] = {&pipe->readCompletion()};
    if (platform::WaitForAny(read, 1, 10000) != 0) return;
    const uint8_t* data = nullptr;
    size_t size = 0;
    if (pipe->ReadResult(&data, &size) != platform::IoStatus::Done) return;
    PipeMsg msg;
    if (!PipeMsgFromWire(data, size, msg) || PipeMsgCmd(msg) != CMD_TICK) continue;
    platform::IoStatus status = pipe->StartWrite(&values, PipeMsgLen(values));
    if (status == platform::IoStatus::Pending) {
      platform::Waitable* write[] = {&pipe->writeCompletion()};
      if (platform::WaitForAny(write, 1, 10000) != 0) return;
      status = pipe->WriteResult(nullptr);
    }
    if (status != platform::IoStatus::Done) return;
  }
}

class CountingListener : public UDRAClientListener {
 public:
  void OnRecvMsg(const PipeMsg& msg) override {
    if (PipeMsgCmd(msg) != CMD_HOST_VALUES) return;
    std::lock_guard<std::mutex> guard(mu_);
    ++replies_;
    cv_.notify_one();
  }
  bool SendMsg(const PipeMsg&) override { return false; }
  bool RestartHostApp() override { return false; }

  bool WaitReplies(uint64_t count) {
    std::unique_lock<std::mutex> lock(mu_);
    return cv_.wait_for(lock, std::chrono::seconds(10), [&] { return replies_ >= count; });
  }

 private:
  std::mutex mu_;
  std::condition_variable cv_;
  uint64_t replies_ = 0;
};

void BM_PipeClientTickRoundTrip(benchmark::State& state) {
  const std::string key = "UDRABENCH" + std::to_string(platform::CurrentProcessId());
  auto server = platform::PipeServer::Create(key);
  if (!server) {
    state.SkipWithError("no pipe server");
    return;
  }
  std::thread host([&] { ServeTicks(*server); });
  CountingListener listener;
  UDRAClient client(key);
  if (!client.Start(1, &listener)) {
    state.SkipWithError("no connection");
    host.join();
    return;
  }
  const PipeMsg tick = MakeTick();
  uint64_t sent = 0;
  for (auto _ : state) {
    client.SendMsg(tick);
    if (!listener.WaitReplies(++sent)) {
      state.SkipWithError("no reply");
      break;
    }
  }
  client.Stop();
  host.join();
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_PipeClientTickRoundTrip)->UseRealTime();

// Baseline: the same 7 bytes out and 14 back over a bare socket pair.
void BM_SocketPairPingPong(benchmark::State& state) {
  int fds[2];
  if (socketpair(AF_UNIX, SOCK_SEQPACKET, 0, fds) != 0) {
    state.SkipWithError("socketpair");
    return;
  }
  std::thread echo([fd = fds[1]] {
    const PipeMsg values = MakeHostValues(1, 2);
    uint8_t buffer[kPipeMsgSize];
    while (recv(fd, buffer, sizeof buffer, 0) > 0)
      if (send(fd, &values, PipeMsgLen(values), MSG_NOSIGNAL) < 0) break;
  });
  const PipeMsg tick = MakeTick();
  uint8_t buffer[kPipeMsgSize];
  for (auto _ : state) {
    if (send(fds[0], &tick, PipeMsgLen(tick), MSG_NOSIGNAL) < 0 || recv(fds[0], buffer, sizeof buffer, 0) <= 0) {
      state.SkipWithError("socket pair broke");
      break;
    }
  }
  shutdown(fds[0], SHUT_RDWR);
  echo.join();
  close(fds[0]);
  close(fds[1]);
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_SocketPairPingPong)->UseRealTime();

}  // namespace
}  // namespace udra
