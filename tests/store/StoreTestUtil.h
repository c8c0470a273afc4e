// Helpers shared by the store's tests.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/Process.h"
#include "platform/System.h"

namespace udra::store::test {

// A fresh folder below the system's temporary folder, removed afterwards.
class TempDir {
 public:
  TempDir() {
    static std::atomic<unsigned> counter{0};
    const std::filesystem::path path = std::filesystem::temp_directory_path() /
        ("zavtest-" + std::to_string(platform::CurrentProcessId()) + "-" + std::to_string(counter++));
    std::error_code ec;
    std::filesystem::remove_all(path, ec);  // left by an earlier process of the same id
    if (std::filesystem::create_directory(path, ec)) path_ = path.string();
  }
  ~TempDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // The store folder the library would use inside this folder.
  std::string Store() const { return path_ + "/UDRADownload"; }
  std::string Database() const { return Store() + "/ZAV.db"; }

 private:
  std::string path_;
};

// The id of a process that does not run (as a writer's that has ended).
inline long DeadProcessId() {
  long pid = 0x3ffffff0;
  while (platform::ProcessRunning(pid)) pid -= 4;
  return pid;
}

// Whether a file that is open (as SQLite opens its database) can be removed
// on the file system below `folder`: POSIX yes, Windows no.
inline bool OpenFilesCanBeRemoved(const std::string& folder) {
  const std::filesystem::path probe = std::filesystem::path(folder) / "open-probe";
  std::ofstream(probe) << "x";
  std::error_code ec;
  bool removed = false;
  {
    std::ifstream open(probe);
    removed = std::filesystem::remove(probe, ec);
  }
  std::filesystem::remove(probe, ec);
  return removed;
}

// Content that checks itself: a 4-byte version and 4-byte size, then bytes
// that follow from the name's seed and the version.
inline std::vector<uint8_t> MakeContent(uint32_t seed, uint32_t version, uint32_t size) {
  std::vector<uint8_t> out(size < 8 ? 8 : size);
  std::memcpy(out.data(), &version, 4);
  std::memcpy(out.data() + 4, &size, 4);
  uint32_t x = seed * 2654435761u + version * 40503u + 1;
  for (size_t i = 8; i < out.size(); ++i) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    out[i] = static_cast<uint8_t>(x);
  }
  return out;
}

// True when `data` is exactly what MakeContent made for `seed`.
inline bool IsWholeContent(uint32_t seed, const uint8_t* data, size_t size) {
  if (size < 8) return false;
  uint32_t version = 0;
  uint32_t declared = 0;
  std::memcpy(&version, data, 4);
  std::memcpy(&declared, data + 4, 4);
  if (declared != size) return false;
  std::vector<uint8_t> expected = MakeContent(seed, version, declared);
  return std::memcmp(expected.data(), data, size) == 0;
}

}  // namespace udra::store::test
