#include "host/Transfer.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "platform/AppendFile.h"
#include "util/Paths.h"

namespace udra::host {
namespace {

constexpr int64_t kWritebackStep = 4 << 20;

// ASCII letters compared without case (header names, schemes, units).
char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool StartsWithNoCase(const char* text, size_t size, const char* prefix) {
  for (size_t i = 0; prefix[i]; ++i)
    if (i >= size || LowerAscii(text[i]) != LowerAscii(prefix[i])) return false;
  return true;
}

bool StartsWithNoCase(const std::string& text, const char* prefix) {
  return StartsWithNoCase(text.data(), text.size(), prefix);
}

bool EqualsNoCase(const std::string& text, const char* other) {
  return text.size() == strlen(other) && StartsWithNoCase(text, other);
}

// The bytes without the blanks and line end around them.
std::string Trimmed(const char* data, size_t size) {
  size_t begin = 0, end = size;
  while (begin < end && (data[begin] == ' ' || data[begin] == '\t')) ++begin;
  while (end > begin && (data[end - 1] == ' ' || data[end - 1] == '\t' || data[end - 1] == '\r' ||
                         data[end - 1] == '\n'))
    --end;
  return std::string(data + begin, end - begin);
}

// A whole non-negative decimal number of at most 18 digits; -1 otherwise.
int64_t DecimalOf(const std::string& text) {
  if (text.empty() || text.size() > 18) return -1;
  int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return -1;
    value = value * 10 + (c - '0');
  }
  return value;
}

// Retry-After: delta-seconds or an HTTP date.
int64_t RetryAfterOf(const std::string& value) {
  const int64_t seconds = DecimalOf(value);
  if (seconds >= 0 || value.empty()) return seconds;
  const time_t when = curl_getdate(value.c_str(), nullptr);
  if (when == static_cast<time_t>(-1)) return -1;
  const time_t now = time(nullptr);
  return when > now ? static_cast<int64_t>(when - now) : 0;
}

// Content-Range: "bytes first-last/total" (total may be "*").
void RangeOf(const std::string& value, int64_t* start, int64_t* total) {
  *start = -1;
  *total = -1;
  if (!StartsWithNoCase(value, "bytes ")) return;
  const std::string range = Trimmed(value.data() + 6, value.size() - 6);
  const size_t dash = range.find('-'), slash = range.find('/');
  if (dash == std::string::npos || slash == std::string::npos || slash < dash) return;
  const int64_t first = DecimalOf(range.substr(0, dash));
  const int64_t last = DecimalOf(range.substr(dash + 1, slash - dash - 1));
  if (first < 0 || last < first) return;
  *start = first;
  *total = DecimalOf(range.substr(slash + 1));
}

}  // namespace

Transfer::Transfer(DownloadTable& table, uint32_t tableOffset) : table_(table), tableOffset_(tableOffset) {}

Transfer::~Transfer() = default;

// A partial file shorter than the expected size is resumed: the request asks
// for the rest. Anything else starts over.
// The partial files are the host's own: their folder and the files are open
// to the installation's user only, whatever the process's umask allows. A
// folder or file left with wider modes by an earlier host is narrowed.
bool Transfer::OpenPart() {
  platform::MakePrivateFolder(ParentFolder(setup_.partPath));
  part_ = platform::AppendFile::Open(setup_.partPath);
  if (!part_) return false;
  const int64_t size = part_->size();
  if (size > 0 && size < setup_.expectedSize) {
    resumedFrom_ = size;
  } else if (size != 0 && !part_->Truncate()) {
    part_.reset();
    return false;
  }
  return true;
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
  curl_easy_setopt(easy_, CURLOPT_HEADERFUNCTION, &Transfer::OnHeader);
  curl_easy_setopt(easy_, CURLOPT_HEADERDATA, this);
  // The bytes are stored as the server sends them: nothing is asked for in
  // another encoding, and a Content-Encoding the server sends anyway is not
  // undone. The size and MD5 checks decide whether they are the file.
  curl_easy_setopt(easy_, CURLOPT_HTTP_CONTENT_DECODING, 0L);
  curl_easy_setopt(easy_, CURLOPT_PRIVATE, this);
  // HTTP/2 where TLS negotiates it, HTTP/1.1 otherwise. Over https a new
  // transfer waits for a connection that is still being set up to learn
  // whether it multiplexes, instead of opening one of its own: the transfers
  // to an HTTP/2 server then share one connection as streams (one handshake,
  // one congestion window). Plain http never multiplexes, so nothing waits.
  curl_easy_setopt(easy_, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_2TLS));
  if (StartsWithNoCase(setup_.url, "https:")) curl_easy_setopt(easy_, CURLOPT_PIPEWAIT, 1L);
  if (!setup_.caFile.empty()) curl_easy_setopt(easy_, CURLOPT_CAINFO, setup_.caFile.c_str());
  if (resumedFrom_ > 0) curl_easy_setopt(easy_, CURLOPT_RESUME_FROM_LARGE, static_cast<curl_off_t>(resumedFrom_));
  SetMaxRecvSpeed(setup_.maxRecvSpeed);
  return true;
}

// A transfer held below the stall limit by the bandwidth share would be
// taken for a stalled one: the limit stays well under the share.
void Transfer::SetMaxRecvSpeed(int64_t bytesPerSecond) {
  if (!easy_) return;
  curl_easy_setopt(easy_, CURLOPT_MAX_RECV_SPEED_LARGE, static_cast<curl_off_t>(bytesPerSecond));
  int64_t stall = setup_.lowSpeedLimit;
  if (bytesPerSecond > 0) stall = std::max<int64_t>(1, std::min<int64_t>(stall, bytesPerSecond / 4));
  curl_easy_setopt(easy_, CURLOPT_LOW_SPEED_LIMIT, static_cast<long>(stall));
}

CURL* Transfer::Release() {
  part_.reset();
  CURL* easy = easy_;
  easy_ = nullptr;
  return easy;
}

size_t Transfer::OnWrite(char* data, size_t size, size_t count, void* self) {
  return static_cast<Transfer*>(self)->Write(data, size * count);
}

size_t Transfer::OnHeader(char* data, size_t size, size_t count, void* self) {
  static_cast<Transfer*>(self)->Header(data, size * count);
  return size * count;
}

// Every response (a redirect's too) starts with its status line: what was
// read of an earlier one is forgotten there.
void Transfer::Header(const char* data, size_t size) {
  if (StartsWithNoCase(data, size, "HTTP/")) {
    retryAfter_ = -1;
    rangeStart_ = -1;
    rangeTotal_ = -1;
    return;
  }
  const char* colon = static_cast<const char*>(memchr(data, ':', size));
  if (!colon) return;
  const std::string name = Trimmed(data, static_cast<size_t>(colon - data));
  const std::string value = Trimmed(colon + 1, size - static_cast<size_t>(colon + 1 - data));
  if (EqualsNoCase(name, "Retry-After")) {
    retryAfter_ = RetryAfterOf(value);
  } else if (EqualsNoCase(name, "Content-Range")) {
    RangeOf(value, &rangeStart_, &rangeTotal_);
  }
}

bool Transfer::IsHttp() const {
  const char* scheme = nullptr;
  return curl_easy_getinfo(easy_, CURLINFO_SCHEME, &scheme) == CURLE_OK && scheme &&
         StartsWithNoCase(scheme, strlen(scheme), "http");
}

// Before the first byte is kept: the body must be the rest of the file. A
// resumed HTTP request must get exactly the part asked for (206 from the
// resume point); anything else, a 416's error page or the whole file from
// a server that ignores ranges, must not be appended to the partial file.
// A body announced with another length than the rest of the file can never
// pass the size check: stop before fetching it.
bool Transfer::CheckFirstBytes() {
  if (resumedFrom_ > 0 && IsHttp()) {
    long status = 0;
    curl_easy_getinfo(easy_, CURLINFO_RESPONSE_CODE, &status);
    if (status != 206 || rangeStart_ != resumedFrom_) {
      sinkError_ = SinkError::RangeRefused;
      return false;
    }
  }
  if (resumedFrom_ > 0 && rangeTotal_ >= 0 && rangeTotal_ != setup_.expectedSize) {
    sinkError_ = SinkError::SizeAnnounced;
    return false;
  }
  curl_off_t announced = -1;
  if (curl_easy_getinfo(easy_, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced) == CURLE_OK && announced >= 0 &&
      announced != setup_.expectedSize - resumedFrom_) {
    sinkError_ = SinkError::SizeAnnounced;
    return false;
  }
  return true;
}

bool Transfer::RangeRefused(CURLcode code, long status) const {
  if (resumedFrom_ <= 0) return false;
  if (sinkError_ == SinkError::RangeRefused) return true;
  // libcurl itself gives up on a server without range support, on a file://
  // file shorter than the resume point, and treats a 416 to a resumed request
  // as a success with an empty body.
  if (code == CURLE_RANGE_ERROR || code == CURLE_BAD_DOWNLOAD_RESUME || status == 416) return true;
  // Done without a byte of body (libcurl takes a whole file as long as the
  // partial one for "already complete"): not the rest of the file either.
  return code == CURLE_OK && status != 0 && status != 206;
}

// Returning less than `size` stops the transfer (CURLE_WRITE_ERROR); the
// reason is kept in sinkError_.
size_t Transfer::Write(const char* data, size_t size) {
  if (!checkedLength_) {
    checkedLength_ = true;
    if (!CheckFirstBytes()) return 0;
  }
  if (received_ + static_cast<int64_t>(size) > setup_.expectedSize) {
    sinkError_ = SinkError::TooLong;
    return 0;
  }
  if (part_) {
    if (!part_->Write(data, size)) {
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
  if (part_->Flush()) {
    part_->StartWriteback(writebackFrom_, end - writebackFrom_);
    writebackFrom_ = end;
  }
}

bool Transfer::Finish() {
  if (!part_) return true;
  const bool flushed = part_->Flush();
  part_.reset();
  if (!flushed) sinkError_ = SinkError::WriteFailed;
  return flushed;
}

int64_t Transfer::TakeNewBytes() {
  const int64_t n = newBytes_;
  newBytes_ = 0;
  return n;
}

}  // namespace udra::host
