// A local message pipe named by an installation key: the server (the host)
// listens, the client (the library) connects. Message mode: every write is
// one message and every read delivers one whole message.
//
// Input and output are asynchronous: at most one read and one write are
// outstanding; their completions are Waitables that a thread waits on
// together with its own events (WaitForAny). A read of a message longer than
// kMaxMessageSize and a peer that went away complete with an error.
//
// Win32: "\\.\Pipe\" + key, overlapped I/O. POSIX: an AF_UNIX SOCK_SEQPACKET
// socket in the user's private runtime folder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/Sync.h"

namespace udra::platform {

enum class IoStatus { Done, Pending, Failed };

class MessagePipe {
 public:
  // The longest message a read accepts (one host record).
  static constexpr size_t kMaxMessageSize = 823;
  // The longest message a write sends; the peer's read decides what it takes.
  static constexpr size_t kMaxWriteSize = 4096;

  // One attempt to open the pipe of `key` (no waiting for the server); null
  // when it does not exist or cannot be opened, with the error in *error.
  static std::unique_ptr<MessagePipe> Connect(const std::string& key, int* error = nullptr);

  virtual ~MessagePipe() = default;

  // Starts reading one message. True: the read is outstanding and
  // readCompletion() will be signalled when it ends (also when it ends at
  // once). False: refused, see error().
  virtual bool StartRead() = 0;
  virtual Waitable& readCompletion() = 0;
  // After the completion: Done with the message (at most kMaxMessageSize
  // bytes, pointer valid until the next StartRead), Pending when it has not
  // ended yet, Failed for a broken pipe or an over-long message.
  virtual IoStatus ReadResult(const uint8_t** data, size_t* size) = 0;

  // Writes one message of 1 to kMaxWriteSize bytes (copied). Done: all
  // bytes were taken at once and nothing will be signalled. Pending:
  // writeCompletion() will be signalled when it ends; no other write may be
  // started before. Failed: see error().
  virtual IoStatus StartWrite(const void* data, size_t size) = 0;
  virtual Waitable& writeCompletion() = 0;
  // After the completion: Done with the number of bytes written, or Failed.
  virtual IoStatus WriteResult(size_t* written) = 0;

  // The system error code of the last failure (GetLastError or errno).
  virtual int error() const = 0;
};

class PipeServer {
 public:
  // Creates the pipe of `key`; null when it cannot be created or another
  // server already serves it.
  static std::unique_ptr<PipeServer> Create(const std::string& key, int* error = nullptr);

  virtual ~PipeServer() = default;

  // Signalled while a client waits to be accepted.
  virtual Waitable& connectionPending() = 0;
  // Waits up to `timeoutMs` for a client; null on timeout or failure.
  virtual std::unique_ptr<MessagePipe> Accept(uint32_t timeoutMs) = 0;
};

}  // namespace udra::platform
