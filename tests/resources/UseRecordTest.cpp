#include <gtest/gtest.h>

#include <clocale>
#include <string>
#include <vector>

#include "platform/FileSystem.h"
#include "resources/UseRecord.h"
#include "util/Paths.h"

namespace udra {
namespace {

class UseRecordTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = JoinPath(UDRA_BINARY_DIR, "resources-userecord-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    file_ = JoinPath(JoinPath(folder_, "UDRADownload"), "ResUseRec.db");
    platform::RemoveFile(file_);
  }
  std::string ReadBack() {
    std::string text;
    EXPECT_TRUE(platform::ReadWholeFile(file_, text));
    return text;
  }

  int64_t now_ = 1700000000;
  UseRecord record_{[this] { return now_; }};
  std::string folder_, file_;
};

TEST_F(UseRecordTest, OpensRequestsAndSave) {
  record_.RecordUse("Data\\a.txt");
  now_ += 10;
  record_.RecordUse("Data\\a.txt");
  record_.RecordUse("Data\\a.txt");
  record_.MarkRequested("Data\\only|requested");
  record_.MarkRequested("Data\\later");
  now_ = 1700000500;
  record_.RecordUse("Data\\later");  // the first open sets the first-use time
  ASSERT_TRUE(record_.Save(file_));
  EXPECT_EQ(ReadBack(),
            "Data\\a.txt|3|1700000000|0\r\n"
            "Data\\later|1|1700000500|1\r\n"
            "Data\\only|requested|0|0|1\r\n");
  EXPECT_FALSE(record_.dirty());
  EXPECT_TRUE(record_.entries().empty());
}

TEST_F(UseRecordTest, CleanSaveWritesNothingButEmpties) {
  ASSERT_TRUE(platform::MakeDirectories(JoinPath(folder_, "UDRADownload")));
  ASSERT_TRUE(platform::WriteWholeFile(file_, "old", 3));
  record_.RecordUse("x");
  ASSERT_TRUE(record_.Save(file_));
  record_.MarkRequested("y");
  UseRecord clean;
  ASSERT_TRUE(clean.Save(file_));
  EXPECT_EQ(ReadBack(), "x|1|1700000000|0\r\n");
}

TEST_F(UseRecordTest, FailedSaveKeepsEntriesAndRestoresLocale) {
  const std::string before = std::setlocale(LC_ALL, nullptr);
  record_.RecordUse("x");
  EXPECT_FALSE(record_.Save("ResUseRec.db"));               // no folder part
  EXPECT_FALSE(record_.Save(JoinPath(folder_, "a|b") + "/ResUseRec.db"));  // folder refused
  EXPECT_TRUE(record_.dirty());
  EXPECT_EQ(record_.entries().size(), 1u);
  ASSERT_TRUE(record_.Save(file_));
  EXPECT_EQ(std::string(std::setlocale(LC_ALL, nullptr)), before);
}

TEST_F(UseRecordTest, RequestedPercentAndFrequent) {
  EXPECT_EQ(record_.GetRequestedPercent(), 0);
  record_.MarkRequested("r");
  EXPECT_EQ(record_.GetRequestedPercent(), 0);  // only requested, never opened
  record_.RecordUse("r");
  record_.RecordUse("a");
  record_.RecordUse("b");
  EXPECT_EQ(record_.GetRequestedPercent(), 33);

  for (int i = 0; i < 199; ++i) record_.RecordUse("f199");
  for (int i = 0; i < 200; ++i) record_.RecordUse("f200");
  std::vector<std::string> frequent;
  record_.CollectFrequent(frequent);
  EXPECT_EQ(frequent, std::vector<std::string>{"f200"});

  UseRecord exact([] { return int64_t(0); });
  for (int i = 0; i < 100; ++i) {
    const std::string path = "p" + std::to_string(i);
    exact.RecordUse(path);
    if (i < 29) exact.MarkRequested(path);
  }
  EXPECT_EQ(exact.GetRequestedPercent(), 29);
}

}  // namespace
}  // namespace udra
