// The host's end of the pipe: serves every game of the installation at once.
// Each accepted connection has its own records in and out: its commands go
// to the engine tagged with the connection, and the engine's answers come
// back through the connection's own queue in the outbox, written in order,
// one pipe message each.
//
// A game is known by the process id of its CMD_HELLO. A connection whose game
// process has ended is closed; the host ends once no connection is open and
// every game that said hello has ended, or after NoGameExit seconds without
// a connection while a game that said hello still lives or none ever did (a
// library that reconnects after a host restart sends no CMD_HELLO).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "host/DownloadEngine.h"
#include "host/Outbox.h"
#include "hostlink/PipeMsg.h"
#include "log/Logger.h"
#include "platform/MessagePipe.h"
#include "platform/Sync.h"

namespace udra::host {

class PipeLink {
 public:
  // Connections served at once; one more waits until one closes.
  static constexpr size_t kMaxConnections = 16;

  PipeLink(Outbox& outbox, platform::Event& wake, DownloadEngine& engine, const Logger& log, int noGameExitSeconds);
  ~PipeLink();

  bool Create(const std::string& instanceKey);
  // Serves until the games have gone or `stop` is set; checks both at least
  // every second. Then closes the pipe to new games; the connected ones are
  // still answered (Flush).
  void Run(const std::atomic<bool>& stop);
  // Writes what is still queued, for at most `timeoutMs`.
  void Flush(uint32_t timeoutMs);

  size_t connectionCount() const { return connections_.size(); }

 private:
  struct Connection {
    uint32_t id = 0;
    std::unique_ptr<platform::MessagePipe> pipe;
    bool writePending = false;
    bool hasInFlight = false;
    PipeMsg inFlight{};
    int32_t gamePid = 0;
  };

  void Accept();
  void OnRead(Connection& c);
  void OnWriteDone(Connection& c);
  void Drain(Connection& c);
  void Dispatch(Connection& c, const PipeMsg& msg);
  // Marks the connection closed; Sweep removes it.
  void DropConnection(Connection& c, const char* why, int error);
  void Sweep();
  bool GamesGone(uint32_t now);

  Outbox& outbox_;
  platform::Event& wake_;
  DownloadEngine& engine_;
  const Logger& log_;
  const uint32_t noGameExitMs_;
  std::unique_ptr<platform::PipeServer> server_;
  std::vector<std::unique_ptr<Connection>> connections_;
  uint32_t nextId_ = 1;
  std::set<int32_t> games_;  // processes that said hello and may still live
  bool helloSeen_ = false;
  bool fullLogged_ = false;
  uint32_t aloneSince_ = 0;  // since when no connection is open
};

}  // namespace udra::host
