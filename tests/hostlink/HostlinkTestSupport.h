// A scripted host for the pipe client tests: its pipe server, synchronous
// reads and writes on the host's end, and a listener that records what the
// client hands it.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "hostlink/PipeMsg.h"
#include "hostlink/UDRAClientListener.h"
#include "platform/MessagePipe.h"
#include "platform/Sync.h"
#include "platform/System.h"
#include "support/Polling.h"

namespace udra::hostlinktest {

// A key no other test (or other run) uses at the same time.
inline std::string UniqueKey(const char* prefix) { return test::UniqueName(prefix); }
using test::WaitUntil;

// One message from the host's end; false on failure or after `timeoutMs`.
inline bool ReadMessage(platform::MessagePipe& pipe, std::vector<uint8_t>& out, uint32_t timeoutMs = 10000) {
  if (!pipe.StartRead()) return false;
  platform::Waitable* one[] = {&pipe.readCompletion()};
  if (platform::WaitForAny(one, 1, timeoutMs) != 0) return false;
  const uint8_t* data = nullptr;
  size_t size = 0;
  if (pipe.ReadResult(&data, &size) != platform::IoStatus::Done) return false;
  out.assign(data, data + size);
  return true;
}

inline bool ReadRecord(platform::MessagePipe& pipe, PipeMsg& msg, uint32_t timeoutMs = 10000) {
  std::vector<uint8_t> bytes;
  return ReadMessage(pipe, bytes, timeoutMs) && PipeMsgFromWire(bytes.data(), bytes.size(), msg);
}

inline bool WriteMessage(platform::MessagePipe& pipe, const void* data, size_t size) {
  const platform::IoStatus status = pipe.StartWrite(data, size);
  if (status == platform::IoStatus::Done) return true;
  if (status != platform::IoStatus::Pending) return false;
  platform::Waitable* one[] = {&pipe.writeCompletion()};
  size_t written = 0;
  return platform::WaitForAny(one, 1, 10000) == 0 && pipe.WriteResult(&written) == platform::IoStatus::Done &&
         written == size;
}

inline bool WriteRecord(platform::MessagePipe& pipe, const PipeMsg& msg) {
  return WriteMessage(pipe, &msg, PipeMsgLen(msg));
}

// The host's pipe server.
class FakeHost {
 public:
  explicit FakeHost(const std::string& key) : server_(platform::PipeServer::Create(key)) {}
  bool ok() const { return server_ != nullptr; }
  std::unique_ptr<platform::MessagePipe> Accept(uint32_t timeoutMs = 10000) {
    return server_ ? server_->Accept(timeoutMs) : nullptr;
  }

 private:
  std::unique_ptr<platform::PipeServer> server_;
};

// Records what the client hands over; RestartHostApp runs `restart`.
class FakeListener : public UDRAClientListener {
 public:
  void OnRecvMsg(const PipeMsg& msg) override {
    std::lock_guard<std::mutex> guard(mu_);
    received_.push_back(msg);
    cv_.notify_all();
  }
  bool SendMsg(const PipeMsg&) override { return false; }
  bool RestartHostApp() override {
    ++restarts;
    return restart ? restart() : false;
  }
  bool HostLaunchEnded() override { return launchEnded && launchEnded(); }

  bool WaitReceived(size_t count, uint32_t timeoutMs = 10000) {
    std::unique_lock<std::mutex> lock(mu_);
    return cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return received_.size() >= count; });
  }
  std::vector<PipeMsg> received() {
    std::lock_guard<std::mutex> guard(mu_);
    return received_;
  }

  std::function<bool()> restart;
  std::function<bool()> launchEnded;
  std::atomic<int> restarts{0};

 private:
  std::mutex mu_;
  std::condition_variable cv_;
  std::vector<PipeMsg> received_;
};

}  // namespace udra::hostlinktest
