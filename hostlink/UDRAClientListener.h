// The receiving side of the pipe client: the manager derives from it. It owns
// the manager's one re-entrant lock, which the pipe client also uses to guard
// its outgoing queue and which its listen thread holds while it handles a
// wake-up (a received record, a finished write, a whole host recovery).
#pragma once

#include <mutex>

#include "hostlink/PipeMsg.h"

namespace udra {

class UDRAClientListener {
 public:
  UDRAClientListener() = default;
  virtual ~UDRAClientListener() = default;
  UDRAClientListener(const UDRAClientListener&) = delete;
  UDRAClientListener& operator=(const UDRAClientListener&) = delete;

  // One record from the host, already length-checked; called on the listen
  // thread with m_lock held.
  virtual void OnRecvMsg(const PipeMsg& msg) = 0;
  // Queues one record for the host.
  virtual bool SendMsg(const PipeMsg& msg) = 0;
  // Called on the listen thread, m_lock held, after the pipe broke: make
  // sure the old host is gone and start a new one. True when one started.
  virtual bool RestartHostApp() = 0;
  // Whether the host RestartHostApp started has ended again while no other
  // host serves the installation: the reconnect then has nothing to wait
  // for. Asked on the listen thread with m_lock held.
  virtual bool HostLaunchEnded() { return false; }
  // Called on the thread of a background connect between its failed pipe
  // attempts, without m_lock: the chance to start a host when the one that
  // was there has ended meanwhile.
  virtual void WhileWaitingForPipe() {}

  // The manager's one lock; re-entrant for its holder.
  std::recursive_mutex m_lock;
};

}  // namespace udra
