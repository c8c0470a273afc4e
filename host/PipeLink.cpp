#include "host/PipeLink.h"

#include <cctype>
#include <vector>

#include "host/ProcessProbe.h"
#include "platform/System.h"

namespace udra::host {
namespace {

// A user id goes into the User-Agent header: only characters that cannot
// break the header are kept.
std::string HeaderSafe(const std::string& text) {
  std::string out;
  for (char c : text)
    if (isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '_' || c == '-' || c == '@') out += c;
  return out;
}

}  // namespace

PipeLink::PipeLink(Outbox& outbox, platform::Event& wake, DownloadEngine& engine, const Logger& log,
                   int noGameExitSeconds)
    : outbox_(outbox),
      wake_(wake),
      engine_(engine),
      log_(log),
      noGameExitMs_(static_cast<uint32_t>(noGameExitSeconds) * 1000u) {}

bool PipeLink::Create(const std::string& instanceKey) {
  int error = 0;
  server_ = platform::PipeServer::Create(instanceKey, &error);
  if (!server_) log_.Format(Logger::E, "PipeLink::Create() failed, error %d", error);
  return server_ != nullptr;
}

void PipeLink::Run(const std::atomic<bool>& stop) {
  aloneSince_ = platform::TickCount();
  uint32_t lastCheck = aloneSince_;
  while (!stop) {
    std::vector<platform::Waitable*> objects{&wake_, &server_->connectionPending()};
    int readIndex = -1, writeIndex = -1;
    if (pipe_) {
      readIndex = static_cast<int>(objects.size());
      objects.push_back(&pipe_->readCompletion());
      if (writePending_) {
        writeIndex = static_cast<int>(objects.size());
        objects.push_back(&pipe_->writeCompletion());
      }
    }
    const int w = platform::WaitForAny(objects.data(), objects.size(), 250);
    if (w == 1) {
      Accept();
    } else if (w >= 0 && w == readIndex) {
      OnRead();
    } else if (w >= 0 && w == writeIndex) {
      OnWriteDone();
    } else if (w == platform::kWaitFailed) {
      platform::SleepMs(10);
    }
    Drain();
    const uint32_t now = platform::TickCount();
    if (now - lastCheck >= 1000) {
      lastCheck = now;
      if (GameGone(now)) return;
    }
  }
}

// The game is known by the process id of its CMD_HELLO. A library that
// reconnects after a host restart sends no CMD_HELLO: without an id the host
// stays while a connection is open and ends once none has been open for
// NoGameExit seconds (counted from the start or from the last disconnect).
bool PipeLink::GameGone(uint32_t now) {
  if (gamePid_ == 0) {
    if (pipe_) {
      aloneSince_ = now;
      return false;
    }
    if (now - aloneSince_ < noGameExitMs_) return false;
    log_.Write(Logger::T, "PipeLink: no game is connected, the host ends");
    return true;
  }
  if (ProcessAlive(gamePid_)) return false;
  log_.Format(Logger::T, "PipeLink: game process %d has ended, the host ends", gamePid_);
  return true;
}

void PipeLink::Accept() {
  std::unique_ptr<platform::MessagePipe> pipe = server_->Accept(0);
  if (!pipe) return;
  if (pipe_) log_.Write(Logger::T, "PipeLink: a new connection replaces the old one");
  pipe_ = std::move(pipe);
  writePending_ = false;
  if (!pipe_->StartRead()) DropConnection("StartRead", pipe_->error());
}

void PipeLink::DropConnection(const char* why, int error) {
  log_.Format(Logger::W, "PipeLink: connection closed (%s, %d)", why, error);
  pipe_.reset();
  writePending_ = false;
  aloneSince_ = platform::TickCount();
}

void PipeLink::OnRead() {
  const uint8_t* data = nullptr;
  size_t size = 0;
  const platform::IoStatus status = pipe_->ReadResult(&data, &size);
  if (status == platform::IoStatus::Pending) return;
  if (status == platform::IoStatus::Failed) return DropConnection("read", pipe_->error());
  PipeMsg msg;
  // The length must be the command's own: a record with another length is
  // not read at all (its fields could lie beyond what was sent).
  if (PipeMsgFromWire(data, size, msg) && PipeMsgLen(msg) == PipeMsgLength(PipeMsgCmd(msg)))
    Dispatch(msg);
  else
    log_.Format(Logger::W, "PipeLink: malformed record of %zu bytes ignored", size);
  if (!pipe_->StartRead()) DropConnection("StartRead", pipe_->error());
}

void PipeLink::Dispatch(const PipeMsg& msg) {
  EngineCommand command;
  switch (PipeMsgCmd(msg)) {
    case CMD_HELLO: {
      const int32_t pid = ReadInt32At(msg, 6);
      log_.Format(Logger::T, "PipeLink: CMD_HELLO from process %d", pid);
      if (pid > 0) gamePid_ = pid;
      return;
    }
    case CMD_TICK:
      command.type = EngineCommand::Tick;
      break;
    case CMD_SYNC_FILE:
      command.type = EngineCommand::SyncFile;
      command.sync = ReadSyncFile(msg);
      break;
    case CMD_CANCEL_FILE:
      command.type = EngineCommand::Cancel;
      command.urlRecord = ReadUrlRecord(msg);
      break;
    case CMD_SET_PRIORITY:
      command.type = EngineCommand::SetPriority;
      command.urlRecord = ReadUrlRecord(msg);
      break;
    case CMD_HOST_FLAG:
      command.type = EngineCommand::Flag;
      command.flag = ReadByteValue(msg);
      break;
    case CMD_SET_UIN:
      command.type = EngineCommand::Uin;
      command.uin = HeaderSafe(ReadUin(msg));
      break;
    default:
      return;  // the host's own records and unknown commands
  }
  engine_.Post(std::move(command));
}

void PipeLink::OnWriteDone() {
  writePending_ = false;
  size_t written = 0;
  const platform::IoStatus status = pipe_->WriteResult(&written);
  if (status == platform::IoStatus::Pending) {
    writePending_ = true;
    return;
  }
  if (status == platform::IoStatus::Failed || written != PipeMsgLen(inFlight_))
    return DropConnection("write", pipe_->error());
  hasInFlight_ = false;
}

// Writes queued records until one is pending. A record that a broken
// connection did not take stays for the next connection.
void PipeLink::Drain() {
  while (pipe_ && !writePending_) {
    if (!hasInFlight_) {
      if (!outbox_.Take(inFlight_)) return;
      hasInFlight_ = true;
    }
    switch (pipe_->StartWrite(&inFlight_, PipeMsgLen(inFlight_))) {
      case platform::IoStatus::Done:
        hasInFlight_ = false;
        break;
      case platform::IoStatus::Pending:
        writePending_ = true;
        return;
      case platform::IoStatus::Failed:
        return DropConnection("write", pipe_->error());
    }
  }
}

void PipeLink::Flush(uint32_t timeoutMs) {
  const uint32_t start = platform::TickCount();
  while (pipe_ && (hasInFlight_ || outbox_.size() > 0) && platform::TickCount() - start < timeoutMs) {
    Drain();
    if (writePending_) {
      platform::Waitable* one[] = {&pipe_->writeCompletion()};
      if (platform::WaitForAny(one, 1, 100) == 0) OnWriteDone();
    }
  }
}

}  // namespace udra::host
