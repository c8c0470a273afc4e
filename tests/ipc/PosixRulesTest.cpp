// Rules of the POSIX backend: private folders and files, plain names, and a
// mutex that exists only while it is held.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "ipc/IpcTestSupport.h"
#include "platform/FileSystem.h"
#include "platform/MessagePipe.h"
#include "platform/NamedMutex.h"
#include "platform/SharedMemory.h"

namespace udra::platform {
namespace {

namespace fs = std::filesystem;
using ipctest::UniqueName;

bool OnPosix() {
  return PathSeparator() == '/';
}

// Where the backend keeps lock files and sockets (the folder that holds `file`).
fs::path FindRuntimeFile(const std::string& file) {
  std::vector<fs::path> candidates;
  if (const char* xdg = std::getenv("XDG_RUNTIME_DIR")) candidates.push_back(fs::path(xdg) / "udra");
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator("/tmp", ec)) {
    if (entry.path().filename().string().rfind("udra-", 0) == 0) candidates.push_back(entry.path());
  }
  for (const auto& folder : candidates) {
    if (fs::exists(folder / file, ec)) return folder / file;
  }
  return {};
}

TEST(PosixRules, ObjectsAreClosedToOtherUsers) {
  if (!OnPosix()) GTEST_SKIP() << "POSIX backend only";
  const fs::perms mask = fs::perms::all;
  const std::string mutexName = UniqueName("UDRATESTPERM");
  auto mutex = NamedMutex::CreateOrOpen("Global\\" + mutexName, true);
  ASSERT_NE(mutex, nullptr);
  const fs::path lock = FindRuntimeFile(mutexName + ".lock");
  ASSERT_FALSE(lock.empty());
  EXPECT_EQ(fs::status(lock).permissions() & mask, fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(fs::symlink_status(lock.parent_path()).permissions() & mask, fs::perms::owner_all);

  const std::string key = UniqueName("UDRATESTPERMPIPE");
  auto server = PipeServer::Create(key);
  ASSERT_NE(server, nullptr);
  EXPECT_FALSE(FindRuntimeFile(key + ".pipe").empty());

  const std::string shmName = UniqueName("UDRATESTPERMSHM");
  auto shm = SharedMemory::Create("Global\\" + shmName, 4096);
  ASSERT_NE(shm, nullptr);
  EXPECT_EQ(fs::status(fs::path("/dev/shm") / shmName).permissions() & mask,
            fs::perms::owner_read | fs::perms::owner_write);
  shm.reset();
  EXPECT_FALSE(fs::exists(fs::path("/dev/shm") / shmName)) << "the creator removes the name";
  EXPECT_TRUE(mutex->Release());
}

TEST(PosixRules, NamesThatAreNotPlainAreRefused) {
  if (!OnPosix()) GTEST_SKIP() << "POSIX backend only";
  for (const std::string bad : {"", "a/b", "..", "Global\\..", "Global\\a\\b", "Global\\"}) {
    EXPECT_EQ(NamedMutex::CreateOrOpen(bad, false), nullptr) << bad;
    EXPECT_FALSE(NamedMutex::Exists(bad)) << bad;
    EXPECT_EQ(SharedMemory::Create(bad, 4096), nullptr) << bad;
  }
  // A pipe key is a file name of its own (no "Global\\" form).
  for (const std::string bad : {"", "a/b", "..", "."}) {
    EXPECT_EQ(PipeServer::Create(bad), nullptr) << bad;
    EXPECT_EQ(MessagePipe::Connect(bad), nullptr) << bad;
  }
}

TEST(PosixRules, MutexExistsOnlyWhileHeld) {
  if (!OnPosix()) GTEST_SKIP() << "POSIX backend only";
  const std::string name = UniqueName("UDRATESTHELD");
  auto mutex = NamedMutex::CreateOrOpen(name, false);
  ASSERT_NE(mutex, nullptr);
  EXPECT_FALSE(NamedMutex::Exists(name));  // open but not held
  ASSERT_EQ(mutex->Wait(0), NamedMutex::WaitResult::Acquired);
  EXPECT_TRUE(NamedMutex::Exists(name));
  mutex.reset();  // destroyed while held: released with it
  EXPECT_FALSE(NamedMutex::Exists(name));
}

}  // namespace
}  // namespace udra::platform
