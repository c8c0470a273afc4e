#include "CodecTestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>

#include "codec/StoredEntry.h"
#include "codec/Tea.h"
#include "platform/System.h"

namespace udra::test {

const LzmaCodec& StagedCodec() {
  static const LzmaCodec codec = LzmaCodec::Bind(UDRA_STAGE_DIR);
  return codec;
}

Bytes Lzma86Of(const Bytes& data, int filterMode) {
  const LzmaCodec& codec = StagedCodec();
  if (codec.encode == nullptr) {
    ADD_FAILURE() << "LZMA.DLL not staged in " << UDRA_STAGE_DIR;
    return {};
  }
  Bytes out(data.size() + data.size() / 8 + 1024);
  size_t len = out.size();
  EXPECT_EQ(codec.encode(out.data(), &len, data.data(), data.size(), 5, 0, filterMode), 0);
  out.resize(len);
  return out;
}

Bytes StoredOf(const Bytes& data, int filterMode) {
  const Bytes stream = Lzma86Of(data, filterMode);
  return BuildStoredEntry(EntryKey(), stream.data(), stream.size(), data.size());
}

bool Decode(const Bytes& entry, int32_t limit, Bytes& out, const LzmaCodec& codec) {
  char* result = reinterpret_cast<char*>(1);
  int32_t size = limit;
  const bool ok = DecodeEntry(codec, entry.data(), uint32_t(entry.size()), &result, &size);
  std::unique_ptr<char[]> owned(result);
  if (!ok) {
    EXPECT_EQ(result, nullptr);
    EXPECT_EQ(size, 0);
    return false;
  }
  out.assign(result, result + size);
  return true;
}

Bytes ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string MakeTempFolder(const char* tag) {
  // Unique across the test processes ctest runs side by side.
  static int counter = 0;
  const auto path = std::filesystem::temp_directory_path() /
                    (std::string("udra-codec-") + tag + "-" + std::to_string(platform::CurrentProcessId()) + "-" +
                     std::to_string(counter++));
  std::filesystem::remove_all(path);
  std::filesystem::create_directories(path);
  return path.string();
}

void RemoveTree(const std::string& path) {
  std::error_code ec;
  std::filesystem::remove_all(path, ec);
}

}  // namespace udra::test
