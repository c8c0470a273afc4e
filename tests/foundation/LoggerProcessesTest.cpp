// The log file between processes: two processes racing for one file name,
// and the clean-up beside a process that still holds its log open. Both fork
// the test process.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <regex>
#include <set>
#include <thread>

#include "foundation/LoggerFixture.h"
#include "log/Logger.h"
#include "util/Paths.h"

namespace udra {
namespace {

// Runs `body` in a forked child, which ends with its result and runs none of
// the parent's test machinery.
pid_t Fork(const std::function<int()>& body) {
  const pid_t pid = fork();
  if (pid == 0) _exit(body());
  return pid;
}

int WaitFor(pid_t pid) {
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

const platform::LocalTime kSecond{2024, 1, 2, 3, 4, 5};

TEST_F(LoggerTest, TwoProcessesLoggingInTheSameSecondWriteTwoCompleteFiles) {
  Config("[Default]\nWriteToLogFile=E\n");
  constexpr int kLines = 2000;
  // Both processes name their file after the same second, so they race for
  // one name; a pipe releases them together.
  logfile::SetNameTimeForTesting(&kSecond);
  int go[2];
  ASSERT_EQ(pipe(go), 0);
  const auto run = [&] {
    logfile::ResetForTesting();  // a forked child starts as a fresh process would
    char byte;
    if (read(go[0], &byte, 1) != 1) return 1;
    Logger log("L", Module());
    for (int i = 0; i < kLines; ++i) log.Format(Logger::E, "line %d of a process", i);
    return 0;
  };
  const pid_t child = Fork(run);
  ASSERT_GT(child, 0);
  ASSERT_EQ(write(go[1], "gg", 2), 2);
  EXPECT_EQ(run(), 0);
  logfile::ResetForTesting();
  logfile::SetNameTimeForTesting(nullptr);
  EXPECT_EQ(WaitFor(child), 0);
  close(go[0]);
  close(go[1]);

  const auto files = LogFiles();
  ASSERT_EQ(files.size(), 2u);
  std::set<std::string> names, pids;
  for (const auto& file : files) {
    names.insert(FileNameOf(file.path));
    std::string text;
    ASSERT_TRUE(platform::ReadWholeFile(file.path, text));
    const std::vector<std::string> lines = SplitLines(text);
    ASSERT_EQ(lines.size(), size_t(kLines)) << file.path;
    const std::regex form("(\\d+)\t\\d\\d:\\d\\d:\\d\\d\t\\[P(\\d+)\\]\\[T\\d+\\]\\[L\\]\\[E\\]line (\\d+) of a process\n");
    std::string pid;
    for (int i = 0; i < kLines; ++i) {
      std::smatch m;
      ASSERT_TRUE(std::regex_match(lines[i], m, form)) << file.path << ": " << lines[i];
      EXPECT_EQ(m[1], std::to_string(i));
      EXPECT_EQ(m[3], std::to_string(i));
      if (i == 0) pid = m[2];
      EXPECT_EQ(m[2], pid);  // one process per file
    }
    pids.insert(pid);
  }
  EXPECT_EQ(names, (std::set<std::string>{"rm.dll20240102_030405.log", "rm.dll20240102_030405-2.log"}));
  EXPECT_EQ(pids, (std::set<std::string>{std::to_string(getpid()), std::to_string(child)}));
}

TEST_F(LoggerTest, CleanUpSkipsTheLogAnotherProcessHoldsOpen) {
  Config("[Default]\nWriteToLogFile=E\n");
  // The child's log is the oldest file of the folder and stays open.
  const platform::LocalTime longAgo{2000, 1, 1, 0, 0, 0};
  logfile::SetNameTimeForTesting(&longAgo);
  int ready[2], release[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(release), 0);
  const pid_t child = Fork([&] {
    logfile::ResetForTesting();
    close(release[1]);
    Logger log("L", Module());
    log.Write(Logger::E, "still running");
    if (write(ready[1], "r", 1) != 1) return 1;
    char byte;
    return read(release[0], &byte, 1) == 0 ? 0 : 1;  // until the parent closes its end
  });
  ASSERT_GT(child, 0);
  close(release[0]);
  char byte;
  ASSERT_EQ(read(ready[0], &byte, 1), 1);
  logfile::SetNameTimeForTesting(nullptr);
  const std::string childLog = Logs() + "/rm.dll20000101_000000.log";
  ASSERT_TRUE(platform::FileExists(childLog));

  for (int i = 0; i < 11; ++i) {
    std::this_thread::sleep_for(kAfterAClockTick);
    dir.Write("Logs/rm.dll2020010" + std::to_string(i) + ".log", "old");
  }
  std::this_thread::sleep_for(kAfterAClockTick);
  { Logger log("L", Module()); }
  // Eight older closed files, the child's and the new one.
  EXPECT_TRUE(platform::FileExists(childLog));
  EXPECT_EQ(LogFiles().size(), 10u);
  for (int i = 0; i < 3; ++i)
    EXPECT_FALSE(platform::FileExists(dir / ("Logs/rm.dll2020010" + std::to_string(i) + ".log"))) << i;

  close(release[1]);
  EXPECT_EQ(WaitFor(child), 0);
  close(ready[0]);
  close(ready[1]);
  // Once its process has ended the file is an older one like the rest.
  logfile::ResetForTesting();
  std::this_thread::sleep_for(kAfterAClockTick);
  { Logger log("L", Module()); }
  EXPECT_FALSE(platform::FileExists(childLog));
  EXPECT_EQ(LogFiles().size(), 9u);
}
}  // namespace
}  // namespace udra
