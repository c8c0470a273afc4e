// When a report is due, and the packets and log lines it is made of.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "TempFolder.h"
#include "log/Logger.h"
#include "platform/Profile.h"
#include "qos/QosReport.h"
#include "qos/QosReportPackets.h"
#include "support/OsSupport.h"

namespace udra::qos {
namespace {

class Schedule : public ::testing::Test {
 protected:
  void SetUp() override { ini = JoinPath(test::TempFolder(), "UDRAClient.ini"); }
  void Set(const char* key, const char* value) { platform::WriteProfileString(ini, "ZEPH", key, value); }
  std::string Last() {
    std::string v;
    platform::ReadProfileString(ini, "ZEPH", "LastReport", v);
    return v;
  }
  std::string ini;
};

TEST_F(Schedule, DefaultIntervalReportsEveryTenthShutDown) {
  for (int i = 1; i <= 9; ++i) EXPECT_FALSE(IsQosReportDue(ini)) << i;  // creates the file
  EXPECT_EQ(Last(), "9");
  EXPECT_TRUE(IsQosReportDue(ini));
  EXPECT_EQ(Last(), "0");
  EXPECT_FALSE(IsQosReportDue(ini));
  EXPECT_FALSE(IsQosReportDue(""));
}

TEST_F(Schedule, IntervalOneZeroAndNegativeCounts) {
  Set("ReportInterval", "1");
  EXPECT_TRUE(IsQosReportDue(ini));
  EXPECT_TRUE(IsQosReportDue(ini));
  EXPECT_EQ(Last(), "0");

  Set("ReportInterval", "0");
  Set("LastReport", "4");
  EXPECT_FALSE(IsQosReportDue(ini));
  EXPECT_EQ(Last(), "4");  // not written

  Set("ReportInterval", "-3");  // counts as 10
  Set("LastReport", "-5");
  EXPECT_FALSE(IsQosReportDue(ini));
  EXPECT_EQ(Last(), "1");
  Set("LastReport", "2147483647");
  EXPECT_FALSE(IsQosReportDue(ini));
  EXPECT_EQ(Last(), "1");
}

TEST_F(Schedule, ServerComesFromTheIni) {
  EXPECT_TRUE(ReadQosServer(ini).host.empty());
  Set("ServerHost", "stats.example");
  EXPECT_EQ(ReadQosServer(ini).host, "stats.example");
  EXPECT_EQ(ReadQosServer(ini).port, 8080);
  Set("ServerPort", "9001");
  EXPECT_EQ(ReadQosServer(ini).port, 9001);
  Set("ServerPort", "70000");
  EXPECT_TRUE(ReadQosServer(ini).host.empty());
}

TEST(QosUsePercentage, CountsOnlyUsedEntries) {
  EXPECT_EQ(QosUsePercentage({}), 0);
  EXPECT_EQ(QosUsePercentage({{0, true}}), 0);
  EXPECT_EQ(QosUsePercentage({{3, true}, {1, true}, {9, false}, {2, true}, {0, true}}), 75);
  EXPECT_EQ(QosUsePercentage({{1, true}, {1, false}, {1, false}}), 33);
}

std::vector<std::string> Paths(size_t n) {
  std::vector<std::string> paths;
  for (size_t i = 0; i < n; ++i) paths.push_back("data\\file" + std::to_string(i) + ".pak");
  return paths;
}

class ReportPackets : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = test::TempFolder();
    const std::string config = JoinPath(folder, "LogConfig.ini");
    platform::WriteProfileString(config, "QosReportTest", "OutputDebugString", "V");
    platform::WriteProfileString(config, "QosReportTest", "WriteToLogFile", "");
    udra::test::SetEnv("UDRA_DEBUG_OUTPUT", "1");
    log.reset(new Logger("QosReportTest", JoinPath(folder, "UDRAClient.so")));
    input.reset(new QosReportInput(*log));
    input->version = "UDRA v1.0.2.3";
    input->uin = "NOT SET UIN";
    input->clientGuid = "{00000000-0000-0000-0000-000000000001}";
    input->fileListDigest = "D41D8CD98F00B204E9800998ECF8427E";
    input->usePercentage = 57;
  }
  void TearDown() override { udra::test::UnsetEnv("UDRA_DEBUG_OUTPUT"); }

  // Sends, recording each packet; the send numbered `failAt` (from 1) fails.
  bool Send(int failAt = 0) {
    return SendReportPackets(*input, [this, failAt](const QOSRep& rep) {
      if (static_cast<int>(sent.size()) + 1 == failAt) return false;
      sent.push_back(rep);
      return true;
    });
  }

  static std::vector<std::string> StringsOf(const QOSCSQosRep& r) {
    std::vector<std::string> out;
    for (int i = 0; i < r.AppendDesc.Comm.StrNum; ++i) out.push_back(r.AppendDesc.Comm.StrList[i]);
    return out;
  }

  std::string folder;
  std::unique_ptr<Logger> log;
  std::unique_ptr<QosReportInput> input;
  std::vector<QOSRep> sent;
};

TEST_F(ReportPackets, SummaryOnlyWhenListsAreEmpty) {
  ::testing::internal::CaptureStderr();
  ASSERT_TRUE(Send());
  const std::string logged = ::testing::internal::GetCapturedStderr();
  ASSERT_EQ(sent.size(), 1u);
  const QOSRep& rep = sent[0];
  EXPECT_EQ(rep.BusinessID, 100);
  EXPECT_STREQ(rep.CltID, "");
  ASSERT_EQ(rep.QosNum, 1);
  EXPECT_EQ(rep.QosList[0].QosID, 2003);
  EXPECT_EQ(rep.QosList[0].AppendDescFlag, 2);
  EXPECT_EQ(rep.QosList[0].AppendDesc.Comm.IntNum, 2);
  EXPECT_EQ(rep.QosList[0].AppendDesc.Comm.IntList[1], 57);
  EXPECT_EQ(StringsOf(rep.QosList[0]),
            (std::vector<std::string>{input->version, input->uin, input->clientGuid, input->fileListDigest}));
  // The lines reach standard error through the POSIX debugger output only;
  // on Windows they go to OutputDebugStringA.
  if (udra::test::kOnWindows) return;
  EXPECT_NE(logged.find("[QosReportTest][V][ZEPH][0]:|0|57|UDRA v1.0.2.3|NOT SET UIN|"
                        "{00000000-0000-0000-0000-000000000001}|D41D8CD98F00B204E9800998ECF8427E|\n"),
            std::string::npos)
      << logged;
}

TEST_F(ReportPackets, ListsAreCutIntoRecordsAndPackets) {
  input->heavyPaths = Paths(7);
  input->missingPaths = Paths(56);
  input->failedPaths = Paths(57);
  ::testing::internal::CaptureStderr();
  ASSERT_TRUE(Send());
  const std::string logged = ::testing::internal::GetCapturedStderr();
  ASSERT_EQ(sent.size(), 1u + 1u + 1u + 2u);
  // 7 heavily used paths: one record with all of them.
  ASSERT_EQ(sent[1].QosNum, 1);
  EXPECT_EQ(sent[1].QosList[0].AppendDesc.Comm.IntList[0], 1);
  EXPECT_EQ(sent[1].QosList[0].AppendDesc.Comm.StrNum, 10);
  EXPECT_EQ(StringsOf(sent[1].QosList[0])[9], "data\\file6.pak");
  // 56 missing paths: 8 full records.
  ASSERT_EQ(sent[2].QosNum, 8);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(sent[2].QosList[i].AppendDesc.Comm.StrNum, 10);
  EXPECT_EQ(StringsOf(sent[2].QosList[7])[9], "data\\file55.pak");
  // 57 failed paths: a full packet, then one record with one path.
  EXPECT_EQ(sent[3].QosNum, 8);
  ASSERT_EQ(sent[4].QosNum, 1);
  EXPECT_EQ(sent[4].QosList[0].AppendDesc.Comm.IntList[0], 3);
  EXPECT_EQ(StringsOf(sent[4].QosList[0]),
            (std::vector<std::string>{input->version, input->uin, input->clientGuid, "data\\file56.pak"}));
  // Logged: the summary, then each list's last packet only.
  // The lines reach standard error through the POSIX debugger output only;
  // on Windows they go to OutputDebugStringA.
  if (udra::test::kOnWindows) return;
  EXPECT_NE(logged.find("[ZEPH][0]:|1|"), std::string::npos);
  EXPECT_NE(logged.find("[ZEPH][7]:|2|"), std::string::npos);
  EXPECT_NE(logged.find("[ZEPH][0]:|3|UDRA v1.0.2.3|NOT SET UIN|{00000000-0000-0000-0000-000000000001}|"
                        "data\\file56.pak|"),
            std::string::npos);
  EXPECT_EQ(logged.find("[ZEPH][1]:|3|"), std::string::npos);
}

TEST_F(ReportPackets, FailedSendEndsTheReport) {
  input->missingPaths = Paths(120);
  input->failedPaths = Paths(3);
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(Send(3));  // summary, first 56 paths, then the second list packet fails
  const std::string logged = ::testing::internal::GetCapturedStderr();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[1].QosNum, 8);
  EXPECT_EQ(logged.find("|2|"), std::string::npos);  // nothing of the list is logged
}

TEST_F(ReportPackets, LongTextIsCutToItsSlot) {
  input->uin = std::string(200, 'u');
  input->missingPaths = {std::string(100, 'a') + std::string(100, 'b'), "short"};
  ASSERT_TRUE(Send());
  const auto summary = StringsOf(sent[0].QosList[0]);
  EXPECT_EQ(summary[1], std::string(127, 'u'));
  const auto list = StringsOf(sent[1].QosList[0]);
  EXPECT_EQ(list[3], std::string(27, 'a') + std::string(100, 'b'));
  EXPECT_EQ(list[4], "short");
}

TEST(QosReport, WithoutHostNothingIsSent) {
  Logger log("QosReportTest", "");
  QosReportInput input(log);
  EXPECT_FALSE(QosReport(input));
}

}  // namespace
}  // namespace udra::qos
