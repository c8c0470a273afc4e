#include "host/Transfer.h"

#include <fcntl.h>

#include <cstring>
#include <filesystem>

namespace udra::host {
namespace {

constexpr int64_t kWritebackStep = 4 << 20;

}  // namespace

Transfer::Transfer(DownloadTable& table, uint32_t tableOffset) : table_(table), tableOffset_(tableOffset) {}

Transfer::~Transfer() {
  if (part_) fclose(part_);
}

// A partial file shorter than the expected size is resumed: the request asks
// for the rest. Anything else starts over.
bool Transfer::OpenPart() {
  std::error_code ec;
  const auto size = std::filesystem::file_size(setup_.partPath, ec);
  if (!ec && size > 0 && static_cast<int64_t>(size) < setup_.expectedSize) {
    part_ = fopen(setup_.partPath.c_str(), "ab");
    if (part_) {
      resumedFrom_ = static_cast<int64_t>(size);
      return true;
    }
  }
  part_ = fopen(setup_.partPath.c_str(), "wb");
  return part_ != nullptr;
}

bool Transfer::Setup(CURL* easy, const TransferSetup& setup) {
  setup_ = setup;
  easy_ = easy;
  curl_easy_reset(easy_);
  if (!inMemory()) {
    if (!OpenPart()) return false;
  } else if (setup_.expectedSize > 0) {
    memory_.reserve(static_cast<size_t>(setup_.expectedSize));
  }
  received_ = resumedFrom_;
  writebackFrom_ = resumedFrom_;
  table_.SetDone(tableOffset_, static_cast<int32_t>(received_));

  curl_easy_setopt(easy_, CURLOPT_URL, setup_.url.c_str());
  curl_easy_setopt(easy_, CURLOPT_PROTOCOLS_STR, "http,https,file");
  curl_easy_setopt(easy_, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(easy_, CURLOPT_MAXREDIRS, 5L);
  curl_easy_setopt(easy_, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(easy_, CURLOPT_FAILONERROR, 1L);
  curl_easy_setopt(easy_, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy_, CURLOPT_TCP_KEEPALIVE, 1L);
  curl_easy_setopt(easy_, CURLOPT_CONNECTTIMEOUT, static_cast<long>(setup_.connectTimeout));
  curl_easy_setopt(easy_, CURLOPT_LOW_SPEED_TIME, static_cast<long>(setup_.lowSpeedTimeout));
  curl_easy_setopt(easy_, CURLOPT_LOW_SPEED_LIMIT, static_cast<long>(setup_.lowSpeedLimit));
  curl_easy_setopt(easy_, CURLOPT_USERAGENT, setup_.userAgent.c_str());
  curl_easy_setopt(easy_, CURLOPT_ERRORBUFFER, errorBuffer_);
  curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, &Transfer::OnWrite);
  curl_easy_setopt(easy_, CURLOPT_WRITEDATA, this);
  curl_easy_setopt(easy_, CURLOPT_PRIVATE, this);
  if (resumedFrom_ > 0) curl_easy_setopt(easy_, CURLOPT_RESUME_FROM_LARGE, static_cast<curl_off_t>(resumedFrom_));
  SetMaxRecvSpeed(setup_.maxRecvSpeed);
  return true;
}

void Transfer::SetMaxRecvSpeed(int64_t bytesPerSecond) {
  if (easy_) curl_easy_setopt(easy_, CURLOPT_MAX_RECV_SPEED_LARGE, static_cast<curl_off_t>(bytesPerSecond));
}

CURL* Transfer::Release() {
  if (part_) {
    fclose(part_);
    part_ = nullptr;
  }
  CURL* easy = easy_;
  easy_ = nullptr;
  return easy;
}

size_t Transfer::OnWrite(char* data, size_t size, size_t count, void* self) {
  return static_cast<Transfer*>(self)->Write(data, size * count);
}

// Returning less than `size` stops the transfer (CURLE_WRITE_ERROR); the
// reason is kept in sinkError_.
size_t Transfer::Write(const char* data, size_t size) {
  if (!checkedLength_) {
    checkedLength_ = true;
    curl_off_t announced = -1;
    // A body announced with another length than the rest of the file can
    // never pass the size check: stop before fetching it.
    if (curl_easy_getinfo(easy_, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced) == CURLE_OK && announced >= 0 &&
        announced != setup_.expectedSize - resumedFrom_) {
      sinkError_ = SinkError::SizeAnnounced;
      return 0;
    }
  }
  if (received_ + static_cast<int64_t>(size) > setup_.expectedSize) {
    sinkError_ = SinkError::TooLong;
    return 0;
  }
  if (part_) {
    if (fwrite(data, 1, size, part_) != size) {
      sinkError_ = SinkError::WriteFailed;
      return 0;
    }
    StartWriteback(received_ + static_cast<int64_t>(size));
  } else {
    memory_.append(data, size);
  }
  received_ += static_cast<int64_t>(size);
  newBytes_ += static_cast<int64_t>(size);
  table_.SetDone(tableOffset_, static_cast<int32_t>(received_));
  return size;
}

// The store makes the file durable before taking it; handing its bytes to
// the disk as they come keeps that final flush short, and keeps one large
// file's flush from waiting on the others' data.
void Transfer::StartWriteback(int64_t end) {
  if (end - writebackFrom_ < kWritebackStep) return;
  if (fflush(part_) == 0) {
    sync_file_range(fileno(part_), writebackFrom_, end - writebackFrom_, SYNC_FILE_RANGE_WRITE);
    writebackFrom_ = end;
  }
}

bool Transfer::Finish() {
  if (!part_) return true;
  const bool flushed = fflush(part_) == 0;
  fclose(part_);
  part_ = nullptr;
  if (!flushed) sinkError_ = SinkError::WriteFailed;
  return flushed;
}

int64_t Transfer::TakeNewBytes() {
  const int64_t n = newBytes_;
  newBytes_ = 0;
  return n;
}

}  // namespace udra::host
