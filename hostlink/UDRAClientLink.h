// What the pipe client shares with its listen thread. The thread holds its
// own reference, so a thread that outlives Stop's wait still has its events,
// its pipe and the queue until it has ended.
#pragma once

#include <atomic>
#include <deque>
#include <memory>
#include <mutex>

#include "hostlink/PipeMsg.h"
#include "hostlink/UDRAClient.h"
#include "platform/MessagePipe.h"
#include "platform/Sync.h"

namespace udra {

struct UDRAClient::Link {
  platform::Event stopEvent;  // set to make the listen thread end
  platform::Event sendEvent;  // set after each append to the queue

  // The listener's m_lock: guards everything below that is not atomic.
  std::recursive_mutex* lock = nullptr;
  UDRAClientListener* listener = nullptr;
  std::deque<PipeMsg> queue;  // full 823-byte records waiting to be written
  // True while a listen thread writes the queue: set before the thread
  // starts, cleared when it ends by itself and when Stop lets it go.
  bool listening = false;
  // Set by Stop once it has let the thread go: the thread then no longer
  // touches the client or the listener.
  bool detached = false;

  // The open pipe. Written by the starting thread before the listen thread
  // exists and afterwards only by the listen thread itself.
  std::unique_ptr<platform::MessagePipe> pipe;

  // Set by Stop: connecting gives up and no listen thread is started.
  std::atomic<bool> cancel{false};
};

}  // namespace udra
