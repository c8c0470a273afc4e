#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <regex>
#include <set>
#include <thread>

#include "log/LogFile.h"
#include "log/Logger.h"
#include "platform/FileSystem.h"
#include "platform/System.h"
#include "support/TempDir.h"
#include "util/Paths.h"

namespace udra {
namespace {

// A fake installation folder: the logger is told the library lies in it.
class LoggerTest : public ::testing::Test {
 protected:
  void SetUp() override { logfile::ResetForTesting(); }
  void TearDown() override {
    logfile::ResetForTesting();
    logfile::SetNameTimeForTesting(nullptr);
  }

  std::string Module() const { return dir / "rm.dll"; }
  std::string Logs() const { return dir / "Logs"; }
  void Config(const std::string& text) const { dir.Write("LogConfig.ini", text); }
  std::vector<platform::FoundFile> LogFiles() const { return platform::FindFiles(Logs(), "rm.dll", ".log", 64); }
  std::string OnlyLogText() const {
    const auto files = LogFiles();
    EXPECT_EQ(files.size(), 1u);
    std::string text;
    if (!files.empty()) platform::ReadWholeFile(files[0].path, text);
    return text;
  }

  test::TempDir dir;
};

TEST_F(LoggerTest, WithoutConfigurationNothingIsWritten) {
  Logger log("ResourceManager", Module());
  log.Write(Logger::E, "x");
  EXPECT_EQ(log.fileMask(), 0u);
  EXPECT_FALSE(platform::FileExists(Logs()));
}

TEST_F(LoggerTest, MasksFollowDefaultAndLoggerSections) {
  Config("[Default]\nOutputDebugString=ETVDWC\nWriteToLogFile=ETV\n"
         "[Quiet]\nOutputDebugString=\n[Lower]\nWriteToLogFile=et\n[Junk]\nWriteToLogFile=x\n"
         "[Errors]\nWriteToLogFile=E\n");
  EXPECT_EQ(Logger("Other", Module()).odsMask(), 0x3Fu);
  EXPECT_EQ(Logger("Other", Module()).fileMask(), uint32_t(Logger::E | Logger::T | Logger::V));
  EXPECT_EQ(Logger("Quiet", Module()).odsMask(), 0u);  // an empty value switches output off
  EXPECT_EQ(Logger("Lower", Module()).fileMask(), 0u);
  EXPECT_EQ(Logger("Junk", Module()).fileMask(), 0u);
  EXPECT_EQ(Logger("Errors", Module()).fileMask(), uint32_t(Logger::E));
  // Section names are case-insensitive, like every profile lookup.
  EXPECT_EQ(Logger("errors", Module()).fileMask(), uint32_t(Logger::E));
}

TEST_F(LoggerTest, ALongNameStaysEmpty) {
  Logger log(std::string(32, 'n').c_str(), Module());
  EXPECT_STREQ(log.name(), "");
  Logger ok(std::string(31, 'n').c_str(), Module());
  EXPECT_EQ(std::string(ok.name()), std::string(31, 'n'));
}

TEST_F(LoggerTest, FileLinesCarrySequenceTimeProcessAndThread) {
  Config("[Default]\nWriteToLogFile=ETW\n");
  Logger log("ResourceManager", Module());
  log.Write(Logger::T, "ResourceManager::Initialize() begin");
  log.Write(Logger::V, "not written: V is off");
  log.Write(Logger::W, "plain %d stays");
  log.Format(Logger::E, "formatted %d %s", 42, "x");
  const std::string text = OnlyLogText();
  const std::regex line(
      "(\\d+)\t\\d\\d:\\d\\d:\\d\\d\t\\[P\\d+\\]\\[T\\d+\\]\\[ResourceManager\\]\\[([A-Z])\\](.*)\n");
  std::vector<std::string> seqs, tags, messages;
  for (std::sregex_iterator it(text.begin(), text.end(), line), end; it != end; ++it) {
    seqs.push_back((*it)[1]);
    tags.push_back((*it)[2]);
    messages.push_back((*it)[3]);
  }
  EXPECT_EQ(seqs, (std::vector<std::string>{"0", "1", "2"}));
  EXPECT_EQ(tags, (std::vector<std::string>{"T", "W", "E"}));
  EXPECT_EQ(messages, (std::vector<std::string>{"ResourceManager::Initialize() begin", "plain %d stays",
                                                "formatted 42 x"}));
  EXPECT_EQ(LogSequence(), 3);
}

TEST_F(LoggerTest, FileNameHasModuleNameAndLocalTime) {
  Config("[Default]\nWriteToLogFile=E\n");
  Logger log("L", Module());
  const auto files = LogFiles();
  ASSERT_EQ(files.size(), 1u);
  EXPECT_TRUE(std::regex_match(FileNameOf(files[0].path), std::regex("rm\\.dll\\d{8}_\\d{6}\\.log")))
      << files[0].path;
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size() - 1;
    lines.push_back(text.substr(at, end + 1 - at));
    at = end + 1;
  }
  return lines;
}

TEST_F(LoggerTest, LongLinesAreCutAt1023CharactersAndKeepTheirNewline) {
  Config("[Default]\nWriteToLogFile=E\n");
  Logger log("L", Module());
  log.Write(Logger::E, std::string(2000, 'a').c_str());
  log.Format(Logger::E, "%s", std::string(2000, 'b').c_str());
  log.Write(Logger::E, "after");
  const std::vector<std::string> lines = SplitLines(OnlyLogText());
  ASSERT_EQ(lines.size(), 3u);  // the next line is not glued to a cut one
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(lines[i].size(), 1023u) << i;
    EXPECT_EQ(lines[i].back(), '\n') << i;
    EXPECT_EQ(lines[i][lines[i].size() - 2], i == 0 ? 'a' : 'b') << i;
  }
  EXPECT_EQ(lines[2].substr(0, 2), "2\t");
  EXPECT_NE(lines[2].find("[E]after\n"), std::string::npos);
}

TEST_F(LoggerTest, ACutNeverSplitsADoubleByteCharacter) {
  Config("[Default]\nWriteToLogFile=E\n");
  // "\xD6\xD0" is one GBK character; with one ASCII byte in front, the cut
  // falls once in the middle of a character and once between two.
  for (const std::string lead : {"", "x"}) {
    logfile::ResetForTesting();
    for (const auto& f : LogFiles()) platform::RemoveFile(f.path);
    Logger fresh("L", Module());
    std::string message = lead;
    for (int i = 0; i < 600; ++i) message += "\xD6\xD0";
    fresh.Write(Logger::E, message.c_str());
    const std::string text = OnlyLogText();
    ASSERT_GE(text.size(), 1022u);
    EXPECT_EQ(text.back(), '\n');
    const size_t start = text.find("[E]") + 3 + lead.size();
    EXPECT_EQ((text.size() - 1 - start) % 2, 0u) << "a lead byte is left before the newline";
  }
}

TEST_F(LoggerTest, AFormatPastTheFrameLimitLosesItsTail) {
  Config("[Default]\nWriteToLogFile=E\n");
  Logger log("L", Module());
  const std::string format = std::string(300, 'f') + "%d";
  log.Format(Logger::E, format.c_str(), 7);
  const std::string text = OnlyLogText();
  EXPECT_EQ(text.find('7', text.find("[E]")), std::string::npos);
  EXPECT_LT(text.size(), 300u);
  EXPECT_EQ(text.back(), '\n');
}

TEST_F(LoggerTest, AFormatCutInsideAConversionDropsIt) {
  Config("[Default]\nWriteToLogFile=E\n");
  Logger log("L", Module());
  // The frame "[T<id>][L][E]" is followed by the format; place a conversion
  // so that the 255-character limit falls inside it, whatever the thread id.
  const std::string frame = "[T" + std::to_string(platform::CurrentThreadId()) + "][L][E]";
  for (const char* conversion : {"%", "%.2", "%-08"}) {
    for (size_t shift = 0; shift < 5; ++shift) {
      const std::string format = std::string(254 - frame.size() - shift, 'f') + conversion + "s|%s|";
      log.Format(Logger::E, format.c_str(), "ARG", "ARG");
    }
  }
  const std::vector<std::string> lines = SplitLines(OnlyLogText());
  EXPECT_EQ(lines.size(), 15u);
  for (const std::string& line : lines) {
    ASSERT_EQ(line.back(), '\n');
    // What follows the filler is the expansion of whole conversions only.
    const std::string rest = line.substr(line.find_last_of('f') + 1);
    EXPECT_EQ(rest.find_first_not_of("ARG| \n"), std::string::npos) << line;
  }
}

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

TEST_F(LoggerTest, OpenersInTheSameSecondNeverShareOrReplaceAFile) {
  Config("[Default]\nWriteToLogFile=E\n");
  logfile::SetNameTimeForTesting(&kSecond);
  dir.Write("Logs/rm.dll20240102_030405.log", "a run that failed at start\n");
  {
    Logger log("L", Module());
    log.Write(Logger::E, "second");
  }
  logfile::ResetForTesting();
  Logger("L", Module()).Write(Logger::E, "third");
  logfile::ResetForTesting();
  logfile::SetNameTimeForTesting(nullptr);

  EXPECT_EQ(dir.Read("Logs/rm.dll20240102_030405.log"), "a run that failed at start\n");
  EXPECT_NE(dir.Read("Logs/rm.dll20240102_030405-2.log").find("[E]second\n"), std::string::npos);
  EXPECT_NE(dir.Read("Logs/rm.dll20240102_030405-3.log").find("[E]third\n"), std::string::npos);
  EXPECT_EQ(LogFiles().size(), 3u);
}

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
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    dir.Write("Logs/rm.dll2020010" + std::to_string(i) + ".log", "old");
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(5));
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
  std::this_thread::sleep_for(std::chrono::milliseconds(5));
  { Logger log("L", Module()); }
  EXPECT_FALSE(platform::FileExists(childLog));
  EXPECT_EQ(LogFiles().size(), 9u);
}

TEST_F(LoggerTest, OpeningKeepsTheEightNewestOlderFiles) {
  Config("[Default]\nWriteToLogFile=E\n");
  ASSERT_TRUE(platform::MakeDirectories(Logs()));
  for (int i = 0; i < 11; ++i) {
    dir.Write("Logs/rm.dll2020010" + std::to_string(i) + ".log", "old");
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  dir.Write("Logs/other.dll20200101.log", "keep");
  Logger log("L", Module());
  const auto files = LogFiles();
  EXPECT_EQ(files.size(), 9u);
  for (int i = 0; i < 3; ++i)
    EXPECT_FALSE(platform::FileExists(dir / ("Logs/rm.dll2020010" + std::to_string(i) + ".log"))) << i;
  EXPECT_TRUE(platform::FileExists(dir / "Logs/rm.dll20200103.log"));
  EXPECT_TRUE(platform::FileExists(dir / "Logs/other.dll20200101.log"));
}

TEST_F(LoggerTest, AnUncreatableFolderDropsFileLinesSilently) {
  Config("[Default]\nWriteToLogFile=E\n");
  dir.Write("Logs", "a file where the folder should be");
  Logger log("L", Module());
  log.Write(Logger::E, "dropped");
  EXPECT_EQ(LogSequence(), 0);
}

TEST_F(LoggerTest, DebugOutputLineForm) {
  Config("[Default]\nOutputDebugString=T\n");
  setenv("UDRA_DEBUG_OUTPUT", "1", 1);
  Logger log("UDRALib", Module());
  ::testing::internal::CaptureStderr();
  log.Write(Logger::T, "hello");
  log.Write(Logger::E, "not shown");
  const std::string out = ::testing::internal::GetCapturedStderr();
  EXPECT_TRUE(std::regex_match(out, std::regex("\\[T\\d+\\]\\[UDRALib\\]\\[T\\]hello\n"))) << out;
  EXPECT_EQ(LogSequence(), 0);  // debugger lines are not counted
}

}  // namespace
}  // namespace udra
