#include "host/PipeLink.h"

#include <algorithm>
#include <cctype>
#include <vector>

#include "platform/Process.h"
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

PipeLink::~PipeLink() {
  for (auto& c : connections_) outbox_.Close(c->id);
}

bool PipeLink::Create(const std::string& instanceKey) {
  int error = 0;
  server_ = platform::PipeServer::Create(instanceKey, &error);
  if (!server_) log_.Format(Logger::E, "PipeLink::Create() failed, error %d", error);
  return server_ != nullptr;
}

void PipeLink::Run(const std::atomic<bool>& stop) {
  aloneSince_ = platform::TickCount();
  uint32_t lastCheck = aloneSince_;
  size_t rotate = 0;
  while (!stop) {
    // The wait reports the first ready object: the connections take turns
    // at being first, so a busy game cannot starve the others.
    std::vector<platform::Waitable*> objects{&wake_};
    std::vector<std::pair<Connection*, bool>> owners{{nullptr, false}};  // connection, is-write
    const bool canAccept = connections_.size() < kMaxConnections;
    if (canAccept) {
      objects.push_back(&server_->connectionPending());
      owners.push_back({nullptr, false});
    } else if (!fullLogged_) {
      fullLogged_ = true;
      log_.Format(Logger::W, "PipeLink: %u games are connected; a further one waits",
                  static_cast<unsigned>(connections_.size()));
    }
    const size_t n = connections_.size();
    for (size_t k = 0; k < n; ++k) {
      Connection& c = *connections_[(k + rotate) % n];
      objects.push_back(&c.pipe->readCompletion());
      owners.push_back({&c, false});
      if (c.writePending) {
        objects.push_back(&c.pipe->writeCompletion());
        owners.push_back({&c, true});
      }
    }
    ++rotate;
    const int w = platform::WaitForAny(objects.data(), objects.size(), 250);
    if (w == 1 && canAccept) {
      Accept();
    } else if (w > 0) {
      Connection& c = *owners[static_cast<size_t>(w)].first;
      if (owners[static_cast<size_t>(w)].second)
        OnWriteDone(c);
      else
        OnRead(c);
    } else if (w == platform::kWaitFailed) {
      platform::SleepMs(10);
    }
    for (auto& c : connections_)
      if (c->pipe) Drain(*c);
    Sweep();
    const uint32_t now = platform::TickCount();
    if (now - lastCheck >= 1000) {
      lastCheck = now;
      if (GamesGone(now)) break;
    }
  }
  // An ending host takes no more games: one that connected now would be cut
  // off as soon as the host has finished, and would find the host's objects
  // gone with it. Such a game finds no pipe and starts the next host.
  server_.reset();
}

bool PipeLink::GamesGone(uint32_t now) {
  for (auto& c : connections_) {
    if (c->gamePid > 0 && !platform::ProcessRunning(c->gamePid)) {
      log_.Format(Logger::T, "PipeLink: game process %d has ended", c->gamePid);
      DropConnection(*c, "game ended", 0);
    }
  }
  Sweep();
  for (auto it = games_.begin(); it != games_.end();) it = platform::ProcessRunning(*it) ? std::next(it) : games_.erase(it);
  if (!connections_.empty()) {
    aloneSince_ = now;
    return false;
  }
  if (helloSeen_ && games_.empty()) {
    log_.Write(Logger::T, "PipeLink: the last game has ended, the host ends");
    return true;
  }
  if (now - aloneSince_ < noGameExitMs_) return false;
  log_.Write(Logger::T, "PipeLink: no game is connected, the host ends");
  return true;
}

void PipeLink::Accept() {
  std::unique_ptr<platform::MessagePipe> pipe = server_->Accept(0);
  if (!pipe) return;
  auto c = std::make_unique<Connection>();
  c->id = nextId_++;
  if (nextId_ == 0) nextId_ = 1;
  c->pipe = std::move(pipe);
  outbox_.Open(c->id);
  EngineCommand command;
  command.type = EngineCommand::Connected;
  command.connection = c->id;
  engine_.Post(std::move(command));
  log_.Format(Logger::T, "PipeLink: connection %u opened (%u open)", c->id,
              static_cast<unsigned>(connections_.size() + 1));
  Connection& added = *c;
  connections_.push_back(std::move(c));
  if (!added.pipe->StartRead()) DropConnection(added, "StartRead", added.pipe->error());
}

void PipeLink::DropConnection(Connection& c, const char* why, int error) {
  if (!c.pipe) return;
  log_.Format(Logger::W, "PipeLink: connection %u closed (%s, %d)", c.id, why, error);
  c.pipe.reset();
  outbox_.Close(c.id);
  EngineCommand command;
  command.type = EngineCommand::Disconnected;
  command.connection = c.id;
  engine_.Post(std::move(command));
  aloneSince_ = platform::TickCount();
}

void PipeLink::Sweep() {
  const size_t before = connections_.size();
  connections_.erase(std::remove_if(connections_.begin(), connections_.end(),
                                    [](const std::unique_ptr<Connection>& c) { return !c->pipe; }),
                     connections_.end());
  if (connections_.size() < before) fullLogged_ = false;
}

void PipeLink::OnRead(Connection& c) {
  const uint8_t* data = nullptr;
  size_t size = 0;
  const platform::IoStatus status = c.pipe->ReadResult(&data, &size);
  if (status == platform::IoStatus::Pending) return;
  if (status == platform::IoStatus::Failed) return DropConnection(c, "read", c.pipe->error());
  PipeMsg msg;
  // The length must be the command's own: a record with another length is
  // not read at all (its fields could lie beyond what was sent).
  if (PipeMsgFromWire(data, size, msg) && PipeMsgLen(msg) == PipeMsgLength(PipeMsgCmd(msg)))
    Dispatch(c, msg);
  else
    log_.Format(Logger::W, "PipeLink: malformed record of %u bytes ignored", static_cast<unsigned>(size));
  if (!c.pipe->StartRead()) DropConnection(c, "StartRead", c.pipe->error());
}

void PipeLink::Dispatch(Connection& c, const PipeMsg& msg) {
  EngineCommand command;
  command.connection = c.id;
  switch (PipeMsgCmd(msg)) {
    case CMD_HELLO: {
      const int32_t pid = ReadInt32At(msg, 6);
      log_.Format(Logger::T, "PipeLink: CMD_HELLO from process %d on connection %u", pid, c.id);
      if (pid > 0) {
        c.gamePid = pid;
        games_.insert(pid);
        helloSeen_ = true;
      }
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

void PipeLink::OnWriteDone(Connection& c) {
  c.writePending = false;
  size_t written = 0;
  const platform::IoStatus status = c.pipe->WriteResult(&written);
  if (status == platform::IoStatus::Pending) {
    c.writePending = true;
    return;
  }
  if (status == platform::IoStatus::Failed || written != PipeMsgLen(c.inFlight))
    return DropConnection(c, "write", c.pipe->error());
  c.hasInFlight = false;
}

// Writes the connection's queued records until one is pending.
void PipeLink::Drain(Connection& c) {
  while (c.pipe && !c.writePending) {
    if (!c.hasInFlight) {
      if (!outbox_.Take(c.id, c.inFlight)) return;
      c.hasInFlight = true;
    }
    switch (c.pipe->StartWrite(&c.inFlight, PipeMsgLen(c.inFlight))) {
      case platform::IoStatus::Done:
        c.hasInFlight = false;
        break;
      case platform::IoStatus::Pending:
        c.writePending = true;
        return;
      case platform::IoStatus::Failed:
        return DropConnection(c, "write", c.pipe->error());
    }
  }
}

void PipeLink::Flush(uint32_t timeoutMs) {
  const uint32_t start = platform::TickCount();
  for (auto& c : connections_) {
    while (c->pipe && (c->hasInFlight || outbox_.size(c->id) > 0) && platform::TickCount() - start < timeoutMs) {
      Drain(*c);
      if (c->writePending) {
        platform::Waitable* one[] = {&c->pipe->writeCompletion()};
        if (platform::WaitForAny(one, 1, 100) == 0) OnWriteDone(*c);
      }
    }
  }
}

}  // namespace udra::host
