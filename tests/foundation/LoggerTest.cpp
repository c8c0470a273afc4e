#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <regex>
#include <thread>

#include "foundation/LoggerFixture.h"
#include "log/Logger.h"
#include "log/LogFile.h"
#include "platform/FileSystem.h"
#include "platform/System.h"
#include "support/OsSupport.h"
#include "support/TempDir.h"
#include "util/Paths.h"

namespace udra {
namespace {

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

TEST_F(LoggerTest, OpeningKeepsTheEightNewestOlderFiles) {
  Config("[Default]\nWriteToLogFile=E\n");
  ASSERT_TRUE(platform::MakeDirectories(Logs()));
  for (int i = 0; i < 11; ++i) {
    dir.Write("Logs/rm.dll2020010" + std::to_string(i) + ".log", "old");
    std::this_thread::sleep_for(kAfterAClockTick);
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
  if (test::kOnWindows) GTEST_SKIP() << "debugger lines go to OutputDebugStringA on Windows, not to standard error";
  Config("[Default]\nOutputDebugString=T\n");
  test::SetEnv("UDRA_DEBUG_OUTPUT", "1");
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
