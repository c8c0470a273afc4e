// Message pipes of the Win32 backend: named pipes "\\.\Pipe\" + key in
// message mode with overlapped ReadFile/WriteFile; each completion is an
// auto-reset event.
#include "platform/MessagePipe.h"

#include <windows.h>

#include <cstring>

#include "platform/win32/NativeWait.h"

namespace udra::platform {
namespace {

std::string PipeName(const std::string& key) {
  return "\\\\.\\Pipe\\" + key;
}

class HandleWait : public Waitable {
 public:
  detail::NativeWait* nativeWait() override { return &native; }
  detail::NativeWait native;
};

class NamedPipe : public MessagePipe {
 public:
  explicit NamedPipe(HANDLE pipe) : pipe_(pipe) {}
  ~NamedPipe() override {
    // The system writes into the buffers until an outstanding operation has
    // ended: cancel and wait before they go.
    if (readArmed_ || writePending_) {
      CancelIo(pipe_);
      DWORD count = 0;
      if (readArmed_) GetOverlappedResult(pipe_, &readOv_, &count, TRUE);
      if (writePending_) GetOverlappedResult(pipe_, &writeOv_, &count, TRUE);
    }
    CloseHandle(pipe_);
  }

  bool valid() const { return readDone_.valid() && writeDone_.valid(); }

  bool StartRead() override {
    if (readArmed_) return Refuse(ERROR_BUSY);
    memset(readBuffer_, 0, sizeof readBuffer_);
    memset(&readOv_, 0, sizeof readOv_);
    readOv_.hEvent = readDone_.nativeWait()->handle;
    if (!ReadFile(pipe_, readBuffer_, sizeof readBuffer_, nullptr, &readOv_)) {
      const DWORD err = GetLastError();
      if (err == ERROR_MORE_DATA) {
        SetEvent(readOv_.hEvent);  // ended at once; the result reports the error
      } else if (err != ERROR_IO_PENDING) {
        return Refuse(err);
      }
    }
    readArmed_ = true;
    return true;
  }

  Waitable& readCompletion() override { return readDone_; }

  IoStatus ReadResult(const uint8_t** data, size_t* size) override {
    if (!readArmed_) return Refuse(ERROR_INVALID_PARAMETER), IoStatus::Failed;
    DWORD count = 0;
    if (!GetOverlappedResult(pipe_, &readOv_, &count, FALSE)) {
      const DWORD err = GetLastError();
      if (err == ERROR_IO_INCOMPLETE) return IoStatus::Pending;
      readArmed_ = false;
      Refuse(err);
      return IoStatus::Failed;
    }
    readArmed_ = false;
    if (data) *data = readBuffer_;
    if (size) *size = count;
    return IoStatus::Done;
  }

  IoStatus StartWrite(const void* data, size_t size) override {
    if (!data || size == 0 || size > kMaxWriteSize) return Refuse(ERROR_INVALID_PARAMETER), IoStatus::Failed;
    if (writePending_) return Refuse(ERROR_BUSY), IoStatus::Failed;
    memcpy(writeBuffer_, data, size);
    memset(&writeOv_, 0, sizeof writeOv_);
    writeOv_.hEvent = writeDone_.nativeWait()->handle;
    DWORD count = 0;
    if (WriteFile(pipe_, writeBuffer_, static_cast<DWORD>(size), &count, &writeOv_)) {
      // Ended at once; the event is signalled all the same and must not be
      // taken for the end of the next write.
      ResetEvent(writeOv_.hEvent);
      if (count == size) return IoStatus::Done;
      Refuse(ERROR_WRITE_FAULT);
      return IoStatus::Failed;
    }
    const DWORD err = GetLastError();
    if (err == ERROR_IO_PENDING) {
      writePending_ = true;
      return IoStatus::Pending;
    }
    Refuse(err);
    return IoStatus::Failed;
  }

  Waitable& writeCompletion() override { return writeDone_; }

  IoStatus WriteResult(size_t* written) override {
    if (!writePending_) return Refuse(ERROR_INVALID_PARAMETER), IoStatus::Failed;
    DWORD count = 0;
    if (!GetOverlappedResult(pipe_, &writeOv_, &count, FALSE)) {
      const DWORD err = GetLastError();
      if (err == ERROR_IO_INCOMPLETE) return IoStatus::Pending;
      writePending_ = false;
      Refuse(err);
      return IoStatus::Failed;
    }
    writePending_ = false;
    if (written) *written = count;
    return IoStatus::Done;
  }

  int error() const override { return static_cast<int>(error_); }

 private:
  bool Refuse(DWORD err) {
    error_ = err;
    return false;
  }

  HANDLE pipe_;
  DWORD error_ = 0;
  Event readDone_;
  Event writeDone_;
  OVERLAPPED readOv_ = {};
  OVERLAPPED writeOv_ = {};
  bool readArmed_ = false;
  bool writePending_ = false;
  uint8_t readBuffer_[kMaxMessageSize];
  uint8_t writeBuffer_[kMaxWriteSize];
};

// Keeps one pipe instance listening at all times, so that a client's
// CreateFileA finds one without WaitNamedPipe.
class NamedPipeServer : public PipeServer {
 public:
  explicit NamedPipeServer(std::string name) : name_(std::move(name)) {
    pending_.native.handle = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  }
  ~NamedPipeServer() override { CloseInstance(); if (pending_.native.handle) CloseHandle(pending_.native.handle); }

  bool Listen(bool first, int* error) {
    if (!pending_.native.handle) return Fail(error);
    DWORD mode = PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED;
    if (first) mode |= FILE_FLAG_FIRST_PIPE_INSTANCE;
    instance_ = CreateNamedPipeA(name_.c_str(), mode,
                                 PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
                                 PIPE_UNLIMITED_INSTANCES, 4096, 4096, 0, nullptr);
    if (instance_ == INVALID_HANDLE_VALUE) return Fail(error);
    memset(&connectOv_, 0, sizeof connectOv_);
    connectOv_.hEvent = pending_.native.handle;
    ResetEvent(connectOv_.hEvent);
    if (!ConnectNamedPipe(instance_, &connectOv_)) {
      const DWORD err = GetLastError();
      if (err == ERROR_PIPE_CONNECTED) {
        SetEvent(connectOv_.hEvent);
      } else if (err != ERROR_IO_PENDING) {
        CloseInstance();
        return Fail(error);
      }
    }
    return true;
  }

  Waitable& connectionPending() override { return pending_; }

  std::unique_ptr<MessagePipe> Accept(uint32_t timeoutMs) override {
    if (instance_ == INVALID_HANDLE_VALUE && !Listen(false, nullptr)) return nullptr;
    if (WaitForSingleObject(pending_.native.handle, timeoutMs) != WAIT_OBJECT_0) return nullptr;
    DWORD count = 0;
    if (!GetOverlappedResult(instance_, &connectOv_, &count, FALSE) && GetLastError() != ERROR_PIPE_CONNECTED) {
      CloseInstance();
      Listen(false, nullptr);
      return nullptr;
    }
    auto pipe = std::make_unique<NamedPipe>(instance_);
    instance_ = INVALID_HANDLE_VALUE;
    Listen(false, nullptr);
    if (!pipe->valid()) return nullptr;
    return pipe;
  }

 private:
  static bool Fail(int* error) {
    if (error) *error = static_cast<int>(GetLastError());
    return false;
  }

  void CloseInstance() {
    if (instance_ == INVALID_HANDLE_VALUE) return;
    CancelIo(instance_);
    DWORD count = 0;
    GetOverlappedResult(instance_, &connectOv_, &count, TRUE);
    CloseHandle(instance_);
    instance_ = INVALID_HANDLE_VALUE;
  }

  std::string name_;
  HANDLE instance_ = INVALID_HANDLE_VALUE;
  OVERLAPPED connectOv_ = {};
  HandleWait pending_;
};

}  // namespace

std::unique_ptr<MessagePipe> MessagePipe::Connect(const std::string& key, int* error) {
  HANDLE pipe = CreateFileA(PipeName(key).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_FLAG_OVERLAPPED, nullptr);
  if (pipe == INVALID_HANDLE_VALUE) {
    if (error) *error = static_cast<int>(GetLastError());
    return nullptr;
  }
  DWORD mode = PIPE_READMODE_MESSAGE;
  if (SetNamedPipeHandleState(pipe, &mode, nullptr, nullptr) != 1) {
    if (error) *error = static_cast<int>(GetLastError());
    CloseHandle(pipe);
    return nullptr;
  }
  auto result = std::make_unique<NamedPipe>(pipe);
  if (!result->valid()) {
    if (error) *error = static_cast<int>(GetLastError());
    return nullptr;
  }
  return result;
}

std::unique_ptr<PipeServer> PipeServer::Create(const std::string& key, int* error) {
  // Another server's pipe answers (or is busy); only a missing pipe is free.
  // FILE_FLAG_FIRST_PIPE_INSTANCE says the same where it is honoured.
  if (WaitNamedPipeA(PipeName(key).c_str(), 1) || GetLastError() != ERROR_FILE_NOT_FOUND) {
    if (error) *error = ERROR_PIPE_BUSY;
    return nullptr;
  }
  auto server = std::make_unique<NamedPipeServer>(PipeName(key));
  if (!server->Listen(true, error)) return nullptr;
  return server;
}

}  // namespace udra::platform
