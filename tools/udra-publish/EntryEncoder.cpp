#include "EntryEncoder.h"

#include "Lzma86.h"
#include "codec/Lzma86Api.h"
#include "codec/StoredEntry.h"
#include "codec/Tea.h"
#include "util/Md5.h"

namespace udra::publish {
namespace {

uint64_t SeedOf(const std::vector<uint8_t>& data) {
  Md5 md5;
  md5.Update(data.data(), data.size());
  uint8_t digest[16];
  md5.Final(digest);
  uint64_t seed = 0;
  for (int i = 0; i < 8; ++i) seed = (seed << 8) | digest[i];
  return seed;
}

}  // namespace

bool EncodeEntry(const EncoderSettings& settings, const std::vector<uint8_t>& data,
                 std::vector<uint8_t>& stored, std::string& error) {
  // LZMA rarely grows data by more than a few percent; retry once larger.
  size_t capacity = lzma86::kHeaderSize + data.size() + data.size() / 16 + 4096;
  std::vector<uint8_t> stream;
  int res = lzma86::kErrorOutputEof;
  for (int attempt = 0; attempt < 2 && res == lzma86::kErrorOutputEof; ++attempt) {
    stream.resize(capacity);
    size_t length = capacity;
    res = lzma86::Encode(stream.data(), &length, data.data(), data.size(), settings.level, 0,
                         settings.filterMode);
    if (res == lzma86::kOk) stream.resize(length);
    capacity *= 2;
  }
  if (res != lzma86::kOk) {
    error = "LZMA compression failed with code " + std::to_string(res);
    return false;
  }
  stored = BuildStoredEntry(EntryKey(), stream.data(), stream.size(), SeedOf(data));
  return true;
}

bool WrapLzma86(const std::vector<uint8_t>& stream, std::vector<uint8_t>& stored,
                std::string& error) {
  uint64_t size = 0;
  if (lzma86::GetUnpackSize(stream.data(), stream.size(), &size) != lzma86::kOk) {
    error = "not an LZMA86 stream: shorter than its 14-byte header";
    return false;
  }
  if (stream[0] > 1 || stream[1] >= 9 * 5 * 5) {
    error = "not an LZMA86 stream: unknown filter or LZMA properties";
    return false;
  }
  stored = BuildStoredEntry(EntryKey(), stream.data(), stream.size(), SeedOf(stream));
  return true;
}

}  // namespace udra::publish
