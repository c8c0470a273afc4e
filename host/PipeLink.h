// The host's end of the pipe: accepts the game's connection (one game at a
// time; a new connection replaces the old one), reads its records, hands the
// commands to the engine (which answers CMD_TICK after the commands that came
// before it), and writes the outgoing records in order, one pipe message
// each. It also watches the game process named by CMD_HELLO and ends the host
// once that process is gone.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "host/DownloadEngine.h"
#include "host/Outbox.h"
#include "hostlink/PipeMsg.h"
#include "log/Logger.h"
#include "platform/MessagePipe.h"
#include "platform/Sync.h"

namespace udra::host {

class PipeLink {
 public:
  PipeLink(Outbox& outbox, platform::Event& wake, DownloadEngine& engine, const Logger& log, int noGameExitSeconds);

  bool Create(const std::string& instanceKey);
  // Serves until the game has gone or `stop` is set; checks both at least
  // every second.
  void Run(const std::atomic<bool>& stop);
  // Writes what is still queued, for at most `timeoutMs`.
  void Flush(uint32_t timeoutMs);

 private:
  void Accept();
  void OnRead();
  void OnWriteDone();
  void Drain();
  void Dispatch(const PipeMsg& msg);
  void DropConnection(const char* why, int error);
  bool GameGone(uint32_t now);

  Outbox& outbox_;
  platform::Event& wake_;
  DownloadEngine& engine_;
  const Logger& log_;
  const uint32_t noGameExitMs_;
  std::unique_ptr<platform::PipeServer> server_;
  std::unique_ptr<platform::MessagePipe> pipe_;
  bool writePending_ = false;
  bool hasInFlight_ = false;
  PipeMsg inFlight_{};
  int32_t gamePid_ = 0;
  uint32_t aloneSince_ = 0;  // since when no connection is open
};

}  // namespace udra::host
