// One running download of a job: a libcurl easy handle and where its bytes
// go (memory for small files, a resumable ".part" file for large ones), with
// the table's doneBytes kept current. The MD5 is checked afterwards, off the
// download thread (DigestChecker).
#pragma once

#include "host/CurlApi.h"

#include <memory>
#include <string>

#include "host/DownloadTable.h"
#include "platform/AppendFile.h"

namespace udra::host {

struct TransferSetup {
  std::string url;
  std::string userAgent;
  int64_t expectedSize = 0;
  std::string partPath;  // empty: keep the bytes in memory
  int connectTimeout = 10;
  int lowSpeedTimeout = 10;
  int lowSpeedLimit = 64;
  int64_t maxRecvSpeed = 0;
  std::string caFile;  // certificates https servers are verified against; empty: libcurl's default
};

enum class SinkError {
  None,
  TooLong,        // more bytes than the rest of the file
  SizeAnnounced,  // Content-Length or Content-Range names another size
  WriteFailed,    // the partial file could not be written
  RangeRefused,   // a resumed request was not answered with the rest of the file
};

class Transfer {
 public:
  Transfer(DownloadTable& table, uint32_t tableOffset);
  ~Transfer();
  Transfer(const Transfer&) = delete;
  Transfer& operator=(const Transfer&) = delete;

  // Prepares the easy handle (taken over; reset here). False when the
  // partial file cannot be opened.
  bool Setup(CURL* easy, const TransferSetup& setup);
  CURL* easy() const { return easy_; }
  // Gives the handle back (the caller keeps it for reuse); the partial file
  // is closed and kept.
  CURL* Release();

  int64_t resumedFrom() const { return resumedFrom_; }
  int64_t received() const { return received_; }  // resumed part included
  SinkError sinkError() const { return sinkError_; }
  const char* errorText() const { return errorBuffer_; }
  bool inMemory() const { return setup_.partPath.empty(); }
  std::string& memory() { return memory_; }
  const std::string& partPath() const { return setup_.partPath; }
  // The Retry-After of the last response in seconds (a date is turned into
  // the seconds from now, 0 when past), -1 when it had none or an
  // unreadable one.
  int64_t retryAfterSeconds() const { return retryAfter_; }
  // A resumed request that the server did not continue: it refused the
  // range (416), answered with the whole file, or with another part of it.
  // The partial file is of no use with this server then. `code` is the
  // transfer's result, `status` its last HTTP status.
  bool RangeRefused(CURLcode code, long status) const;
  // Closes the partial file once the transfer has ended; false (with
  // sinkError WriteFailed) when its last bytes could not be written.
  bool Finish();
  // Bytes taken since the last call (for the speed figure).
  int64_t TakeNewBytes();
  void SetMaxRecvSpeed(int64_t bytesPerSecond);

 private:
  static size_t OnWrite(char* data, size_t size, size_t count, void* self);
  static size_t OnHeader(char* data, size_t size, size_t count, void* self);
  size_t Write(const char* data, size_t size);
  void Header(const char* data, size_t size);
  bool CheckFirstBytes();
  bool IsHttp() const;
  bool OpenPart();
  void StartWriteback(int64_t end);

  DownloadTable& table_;
  uint32_t tableOffset_;
  CURL* easy_ = nullptr;
  TransferSetup setup_;
  std::unique_ptr<platform::AppendFile> part_;
  std::string memory_;
  int64_t resumedFrom_ = 0;
  int64_t received_ = 0;
  int64_t writebackFrom_ = 0;  // the partial file's bytes before this are on their way to the disk
  int64_t newBytes_ = 0;
  bool checkedLength_ = false;
  int64_t retryAfter_ = -1;
  int64_t rangeStart_ = -1;  // of the last response's Content-Range, -1 without one
  int64_t rangeTotal_ = -1;  // its complete length, -1 without one or when unknown ("*")
  SinkError sinkError_ = SinkError::None;
  char errorBuffer_[CURL_ERROR_SIZE] = {};
};

}  // namespace udra::host
