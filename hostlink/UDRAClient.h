// The library's end of the message pipe to the downloader host.
//
// The client opens the pipe the host created, runs one listen thread that
// does all pipe input and output, keeps a queue of outgoing records that any
// thread may append to, and hands every record it receives to its listener
// (the manager). When the pipe breaks, the listen thread asks the listener to
// restart the host and reconnects, all under the listener's lock.
//
// Lifetime rules kept here:
//  - A record leaves the queue only once the pipe took all its bytes; a
//    record being written when the pipe breaks is written again on the new
//    pipe. At most one read and one write are outstanding.
//  - Once the listen thread has ended by itself (a failed recovery), SendMsg
//    refuses records, so memory stays bounded while no host runs.
//  - Stop waits 5 s for the listen thread and then proceeds; what the thread
//    uses (events, pipe, queue) is shared with it and goes only when both
//    are done with it. Stop also cancels a background connect.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "hostlink/LaunchBudget.h"
#include "hostlink/PipeMsg.h"
#include "hostlink/UDRAClientListener.h"
#include "platform/Window.h"

namespace udra {

namespace platform {
class Thread;
}

class UDRAClient {
 public:
  static constexpr int kAsyncConnectAttempts = 500;
  static constexpr int kReconnectAttempts = 500;
  static constexpr uint32_t kConnectIntervalMs = 100;
  static constexpr uint32_t kStopWaitMs = 5000;
  // Starts of a new host within one recovery, when each ends before its
  // pipe appears.
  static constexpr int kLaunchesPerRecovery = 3;

  // The pipe of this installation: named by InstanceKey of ModuleFolder.
  UDRAClient();
  // The pipe of a given key (tools and tests that play the host).
  explicit UDRAClient(std::string pipeKey);
  ~UDRAClient();
  UDRAClient(const UDRAClient&) = delete;
  UDRAClient& operator=(const UDRAClient&) = delete;

  // Opens the pipe with at most `attempts` tries 100 ms apart, starts the
  // listen thread and queues CMD_HELLO. False for a null listener, when
  // already started (or starting), or when the pipe cannot be opened.
  bool Start(int attempts, UDRAClientListener* listener);
  // Runs Start(500, listener) on a connect thread, which then sends
  // MSG_PIPE_CONNECTED (wParam 1 connected, 0 failed) to `window`. False when
  // the thread cannot be started or Start would be refused at once.
  bool StartAsync(UDRAClientListener* listener, platform::WindowHandle window);
  // Queues a copy of the whole 823-byte record and wakes the listen thread.
  // False (with an error line) without a running listen thread, or for a
  // record whose len is not a record length (6 to 823).
  bool SendMsg(const PipeMsg& msg);
  // Ends the listen thread (waiting at most 5 s) and empties the queue;
  // always true. Must not be called with the listener's lock held, or the
  // listen thread cannot finish its wake-up within the 5 s.
  bool Stop();

  // Waits at most `timeoutMs` for the listen thread to end; true when it has
  // ended, with its exit code (0 after a stop, -1 after a failure). False
  // when it runs on or none was started.
  bool WaitListenThread(uint32_t timeoutMs, int* exitCode = nullptr);

 private:
  struct Link;
  class ListenLoop;

  // Start's steps: claim the client for one start, then connect and start
  // the listen thread.
  std::shared_ptr<Link> BeginStart(UDRAClientListener* listener);
  bool FinishStart(const std::shared_ptr<Link>& link, int attempts, const std::function<bool()>& giveUp = nullptr);
  // The listen thread's routine (UDRAClientListen.cpp): 0 after an orderly
  // stop, -1 after a failure.
  int ListenThreadMain(const std::shared_ptr<Link>& link);
  bool PipeKey(std::string& key) const;
  // Opens the pipe into `link` with at most `attempts` tries 100 ms apart;
  // no other wait. Gives up early once the link is cancelled or `giveUp`
  // says there is nothing to wait for (it is asked before each retry).
  bool ConnectPipe(Link& link, int attempts, const std::function<bool()>& giveUp = nullptr);
  // Recovery after a pipe failure (listen thread, listener's lock held):
  // restart the host through the listener, close the pipe, reconnect. The
  // starts are spaced by the launch budget; its waits are spent without the
  // lock, so the game's calls are not held by them.
  bool ProcessHostAppCrush(Link& link);
  // Waits `ms` with the listener's lock let go; false when the client was
  // stopped meanwhile.
  bool WaitUnlocked(Link& link, uint32_t ms);

  const std::optional<std::string> m_pipeKey;

  std::mutex m_stateMu;  // guards the members below; never held while taking the listener's lock
  std::shared_ptr<Link> m_link;
  std::shared_ptr<platform::Thread> m_hListenThread;
  std::shared_ptr<platform::Thread> m_hConnectThread;
  bool m_starting = false;
  platform::WindowHandle m_hNotifyWnd = nullptr;
  uint32_t m_notifyMsg = 0;
  // Threads that outlived Stop's wait; the destructor gives them a last wait.
  std::vector<std::shared_ptr<platform::Thread>> m_lingering;
  // Host starts by recoveries; only the listen thread uses it.
  LaunchBudget m_launches;
};

}  // namespace udra
