// The logger tests' fake installation folder and helpers.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "log/LogFile.h"
#include "platform/FileSystem.h"
#include "support/TempDir.h"

namespace udra {

// File times come from a clock that moves in ticks (on Linux 4-10 ms, on
// Windows about 16 ms): files written this far apart never share a time.
constexpr std::chrono::milliseconds kAfterAClockTick{25};

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

inline std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size() - 1;
    lines.push_back(text.substr(at, end + 1 - at));
    at = end + 1;
  }
  return lines;
}

}  // namespace udra
