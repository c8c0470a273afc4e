#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <regex>
#include <thread>

#include "log/LogFile.h"
#include "log/Logger.h"
#include "platform/FileSystem.h"
#include "support/TempDir.h"
#include "util/Paths.h"

namespace udra {
namespace {

// A fake installation folder: the logger is told the library lies in it.
class LoggerTest : public ::testing::Test {
 protected:
  void SetUp() override { logfile::ResetForTesting(); }
  void TearDown() override { logfile::ResetForTesting(); }

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

TEST_F(LoggerTest, LongLinesAreCutAt1023Characters) {
  Config("[Default]\nWriteToLogFile=E\n");
  Logger log("L", Module());
  log.Write(Logger::E, std::string(2000, 'a').c_str());
  const std::string text = OnlyLogText();
  EXPECT_EQ(text.size(), 1023u);
  EXPECT_EQ(text.back(), 'a');  // the newline is cut off with the rest
}

TEST_F(LoggerTest, AFormatPastTheFrameLimitLosesItsTail) {
  Config("[Default]\nWriteToLogFile=E\n");
  Logger log("L", Module());
  const std::string format = std::string(300, 'f') + "%d";
  log.Format(Logger::E, format.c_str(), 7);
  const std::string text = OnlyLogText();
  EXPECT_EQ(text.find('7', text.find("[E]")), std::string::npos);
  EXPECT_LT(text.size(), 300u);
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
