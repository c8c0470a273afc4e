// Message pipes of the POSIX backend: AF_UNIX SOCK_SEQPACKET sockets (one
// message per send, message boundaries kept) in the user's private runtime
// folder. An outstanding operation is carried out by the waiter when poll
// reports the socket ready; until then nothing blocks.
#include "platform/MessagePipe.h"

#include <errno.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "platform/posix/NativeWait.h"
#include "platform/posix/RuntimeFolder.h"

namespace udra::platform {
namespace {

class Completion : public Waitable {
 public:
  detail::NativeWait* nativeWait() override { return &native; }
  detail::NativeWait native;
};

bool Retry(int err) {
  return err == EAGAIN || err == EWOULDBLOCK || err == EINTR;
}

bool SocketAddress(const std::string& key, sockaddr_un& addr, int* error) {
  const std::string path = posix::RuntimePath(key, ".pipe");
  if (path.empty() || path.size() >= sizeof addr.sun_path) {
    if (error) *error = path.empty() ? errno : ENAMETOOLONG;
    return false;
  }
  memset(&addr, 0, sizeof addr);
  addr.sun_family = AF_UNIX;
  memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  return true;
}

class SocketPipe : public MessagePipe {
 public:
  explicit SocketPipe(int fd) : fd_(fd) {
    read_.native.consume = &SocketPipe::TryRead;
    read_.native.context = this;
    write_.native.consume = &SocketPipe::TryWrite;
    write_.native.context = this;
    write_.native.events = POLLOUT;
  }
  ~SocketPipe() override { close(fd_); }

  bool StartRead() override {
    if (readState_ == State::Outstanding) return Refuse(EBUSY);
    readState_ = State::Outstanding;
    read_.native.fd = fd_;
    return true;
  }

  Waitable& readCompletion() override { return read_; }

  IoStatus ReadResult(const uint8_t** data, size_t* size) override {
    const IoStatus status = TakeResult(readState_, readError_);
    if (status == IoStatus::Done) {
      if (data) *data = readBuffer_;
      if (size) *size = readSize_;
    }
    return status;
  }

  IoStatus StartWrite(const void* data, size_t size) override {
    if (!data || size == 0 || size > kMaxWriteSize) return Refuse(EINVAL), IoStatus::Failed;
    if (writeState_ == State::Outstanding) return Refuse(EBUSY), IoStatus::Failed;
    memcpy(writeBuffer_, data, size);
    writeSize_ = size;
    const ssize_t sent = send(fd_, writeBuffer_, size, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (sent == static_cast<ssize_t>(size)) return IoStatus::Done;
    if (sent < 0 && Retry(errno)) {
      writeState_ = State::Outstanding;
      write_.native.fd = fd_;
      return IoStatus::Pending;
    }
    Refuse(sent < 0 ? errno : EIO);
    return IoStatus::Failed;
  }

  Waitable& writeCompletion() override { return write_; }

  IoStatus WriteResult(size_t* written) override {
    const IoStatus status = TakeResult(writeState_, writeError_);
    if (status == IoStatus::Done && written) *written = writeSize_;
    return status;
  }

  int error() const override { return error_; }

 private:
  enum class State { Idle, Outstanding, Done, Failed };

  // The result of a read or a write once its completion was signalled: the
  // operation goes back to idle; asking when none was started is refused.
  IoStatus TakeResult(State& state, int failure) {
    switch (state) {
      case State::Outstanding:
        return IoStatus::Pending;
      case State::Done:
        state = State::Idle;
        return IoStatus::Done;
      case State::Failed:
        state = State::Idle;
        error_ = failure;
        return IoStatus::Failed;
      case State::Idle:
        break;
    }
    Refuse(EINVAL);
    return IoStatus::Failed;
  }

  bool Refuse(int err) {
    error_ = err;
    return false;
  }

  // Completes the outstanding read once the socket is readable.
  static bool TryRead(void* context) {
    auto* self = static_cast<SocketPipe*>(context);
    if (self->readState_ != State::Outstanding) return false;
    iovec iov{self->readBuffer_, sizeof self->readBuffer_};
    msghdr header{};
    header.msg_iov = &iov;
    header.msg_iovlen = 1;
    const ssize_t got = recvmsg(self->fd_, &header, MSG_DONTWAIT);
    if (got < 0 && Retry(errno)) return false;
    if (got < 0) {
      self->FailRead(errno);
    } else if (got == 0) {
      self->FailRead(EPIPE);  // the peer closed its end
    } else if (header.msg_flags & MSG_TRUNC) {
      self->FailRead(EMSGSIZE);  // longer than any record: the rest is gone
    } else {
      self->readSize_ = static_cast<size_t>(got);
      self->readState_ = State::Done;
    }
    self->read_.native.fd = -1;
    return true;
  }

  void FailRead(int err) {
    readError_ = err;
    readState_ = State::Failed;
  }

  // Completes the pending write once the socket takes data again.
  static bool TryWrite(void* context) {
    auto* self = static_cast<SocketPipe*>(context);
    if (self->writeState_ != State::Outstanding) return false;
    const ssize_t sent = send(self->fd_, self->writeBuffer_, self->writeSize_, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (sent < 0 && Retry(errno)) return false;
    if (sent == static_cast<ssize_t>(self->writeSize_)) {
      self->writeState_ = State::Done;
    } else {
      self->writeError_ = sent < 0 ? errno : EIO;
      self->writeState_ = State::Failed;
    }
    self->write_.native.fd = -1;
    return true;
  }

  int fd_;
  int error_ = 0;
  Completion read_;
  State readState_ = State::Idle;
  int readError_ = 0;
  size_t readSize_ = 0;
  uint8_t readBuffer_[kMaxMessageSize];
  Completion write_;
  State writeState_ = State::Idle;
  int writeError_ = 0;
  size_t writeSize_ = 0;
  uint8_t writeBuffer_[kMaxWriteSize];
};

class SocketServer : public PipeServer {
 public:
  SocketServer(int fd, std::string path) : fd_(fd), path_(std::move(path)) {
    pending_.native.fd = fd_;
    pending_.native.events = POLLIN;
    pending_.native.consume = [](void*) { return true; };  // stays signalled until accepted
  }
  ~SocketServer() override {
    close(fd_);
    unlink(path_.c_str());
  }

  Waitable& connectionPending() override { return pending_; }

  std::unique_ptr<MessagePipe> Accept(uint32_t timeoutMs) override {
    Waitable* one[] = {&pending_};
    if (WaitForAny(one, 1, timeoutMs) != 0) return nullptr;
    const int fd = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return nullptr;
    return std::make_unique<SocketPipe>(fd);
  }

 private:
  int fd_;
  std::string path_;
  Completion pending_;
};

}  // namespace

std::unique_ptr<MessagePipe> MessagePipe::Connect(const std::string& key, int* error) {
  sockaddr_un addr;
  if (!SocketAddress(key, addr, error)) return nullptr;
  const int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    if (error) *error = errno;
    return nullptr;
  }
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    if (error) *error = errno;
    close(fd);
    return nullptr;
  }
  return std::make_unique<SocketPipe>(fd);
}

std::unique_ptr<PipeServer> PipeServer::Create(const std::string& key, int* error) {
  sockaddr_un addr;
  if (!SocketAddress(key, addr, error)) return nullptr;
  const int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    if (error) *error = errno;
    return nullptr;
  }
  // A socket file nobody listens on is left over from a server that died;
  // one that answers belongs to a live server and is not taken over.
  const int probe = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  if (probe >= 0) {
    const bool live = connect(probe, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    close(probe);
    if (live) {
      if (error) *error = EADDRINUSE;
      close(fd);
      return nullptr;
    }
  }
  unlink(addr.sun_path);
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, 16) != 0) {
    if (error) *error = errno;
    close(fd);
    return nullptr;
  }
  return std::make_unique<SocketServer>(fd, addr.sun_path);
}

}  // namespace udra::platform
