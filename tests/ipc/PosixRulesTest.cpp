// Rules of the POSIX backend: private folders and files, plain names, and a
// mutex that exists only while it is held.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <filesystem>

#include "ipc/IpcTestSupport.h"
#include "platform/FileSystem.h"
#include "platform/MessagePipe.h"
#include "platform/NamedMutex.h"
#include "platform/Process.h"
#include "platform/SharedMemory.h"
#include "platform/System.h"

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
  const fs::path memory = FindRuntimeFile(shmName + ".shm");
  ASSERT_FALSE(memory.empty());
  EXPECT_EQ(fs::status(memory).permissions() & mask, fs::perms::owner_read | fs::perms::owner_write);
  shm.reset();
  EXPECT_FALSE(fs::exists(memory)) << "the last holder removes the name";
  EXPECT_TRUE(mutex->Release());

  // Log files, whatever the umask.
  const fs::path log = memory.parent_path() / (UniqueName("UDRATESTLOG") + ".log");
  const mode_t before = umask(0);
  LogAppendFile file;
  ASSERT_EQ(file.CreateNew(log.string()), CreateResult::kCreated);
  umask(before);
  EXPECT_EQ(fs::status(log).permissions() & mask, fs::perms::owner_read | fs::perms::owner_write);
  file.Close();
  fs::remove(log);
}

// Whatever sits under an object's name and is not this user's own private
// plain file is refused, never opened and never changed.
TEST(PosixRules, ForeignOrOpenObjectsAreRefused) {
  if (!OnPosix()) GTEST_SKIP() << "POSIX backend only";
  const std::string probe = UniqueName("UDRATESTFOREIGNPROBE");
  auto anchor = SharedMemory::Create("Global\\" + probe, 4096);
  ASSERT_NE(anchor, nullptr);
  const fs::path folder = FindRuntimeFile(probe + ".shm").parent_path();
  ASSERT_FALSE(folder.empty());

  const std::string open = UniqueName("UDRATESTOPENMODE");
  std::ofstream(folder / (open + ".shm")) << "planted";
  fs::permissions(folder / (open + ".shm"), fs::perms::owner_read | fs::perms::owner_write | fs::perms::others_read);
  int error = 0;
  EXPECT_EQ(SharedMemory::Create("Global\\" + open, 4096, &error), nullptr);
  EXPECT_EQ(error, EACCES);
  EXPECT_EQ(SharedMemory::Open("Global\\" + open, false), nullptr);
  EXPECT_EQ(fs::file_size(folder / (open + ".shm")), 7u) << "a refused file is left as it was";

  const std::string linked = UniqueName("UDRATESTLINKED");
  fs::create_symlink(folder / (open + ".shm"), folder / (linked + ".shm"));
  EXPECT_EQ(SharedMemory::Create("Global\\" + linked, 4096), nullptr);

  if (geteuid() == 0) {
    // Running as root: plant a file that another user owns.
    const std::string foreign = UniqueName("UDRATESTFOREIGN");
    std::ofstream(folder / (foreign + ".shm")) << "planted";
    fs::permissions(folder / (foreign + ".shm"), fs::perms::owner_read | fs::perms::owner_write);
    ASSERT_EQ(chown((folder / (foreign + ".shm")).c_str(), 65534, 65534), 0);
    EXPECT_EQ(SharedMemory::Create("Global\\" + foreign, 4096, &error), nullptr);
    EXPECT_EQ(error, EACCES);
    fs::remove(folder / (foreign + ".shm"));
  }
  fs::remove(folder / (open + ".shm"));
  fs::remove(folder / (linked + ".shm"));
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

// A process that has ended but was not collected yet is not running: the
// store clears a killed writer's files by it, and the host ends its games by it.
TEST(PosixRules, AZombieIsNotARunningProcess) {
  if (!OnPosix()) GTEST_SKIP() << "POSIX backend only";
  EXPECT_TRUE(ProcessRunning(getpid()));
  EXPECT_FALSE(ProcessRunning(0));
  EXPECT_FALSE(ProcessRunning(-5));
  EXPECT_FALSE(ProcessRunning(int64_t(1) << 40));
  const pid_t child = fork();
  if (child == 0) _exit(0);
  ASSERT_GT(child, 0);
  for (int i = 0; i < 200 && ProcessRunning(child); ++i) SleepMs(10);
  EXPECT_FALSE(ProcessRunning(child)) << "ended, not yet collected";
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_FALSE(ProcessRunning(child));
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
