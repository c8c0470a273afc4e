// A report sent to the real udra-qosd collector.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "TempFolder.h"
#include "log/Logger.h"
#include "platform/Socket.h"
#include "qos/QosReport.h"
#include "support/Collector.h"

namespace udra::qos {
namespace {

std::string Qosd() { return JoinPath(UDRA_STAGE_DIR, "udra-qosd"); }

TEST(Qosd, HelpDescribesTheOptions) {
  FILE* p = popen((Qosd() + " --help").c_str(), "r");
  ASSERT_NE(p, nullptr);
  std::string text;
  char buf[256];
  while (std::fgets(buf, sizeof(buf), p)) text += buf;
  EXPECT_EQ(pclose(p), 0);
  EXPECT_NE(text.find("--collector"), std::string::npos);
  EXPECT_NE(text.find("--port"), std::string::npos);
}

TEST(Qosd, PrintsEveryReportRecordAndCountsGarbage) {
  const std::string folder = test::TempFolder();
  const std::string errFile = JoinPath(folder, "qosd.err");
  const uint16_t port = udra::test::FreeUdpPort();
  ASSERT_NE(port, 0);
  const std::string command = Qosd() + " --port " + std::to_string(port) +
                              " --max-records 3 --idle-exit 20 --score 5 2>" + errFile;
  FILE* out = popen(command.c_str(), "r");
  ASSERT_NE(out, nullptr);
  std::string err;
  ASSERT_TRUE(udra::test::WaitUntilListening(errFile, 5000, err)) << err;

  platform::SocketHandle junk = platform::SocketCreate(platform::SocketKind::Datagram);
  uint32_t loopback = 0;
  platform::SocketParseDotted("127.0.0.1", loopback);
  EXPECT_EQ(platform::SocketSendTo(junk, "junk", 4, loopback, port), 4);
  platform::SocketClose(junk);

  Logger log("QosdTest", "");
  QosReportInput input(log);
  input.version = "UDRA v1.0.0.7";
  input.uin = "12345";
  input.clientGuid = "{GUID}";
  input.usePercentage = 57;
  input.heavyPaths = {"data\\\xD6\xD0\xCE\xC4.pak"};  // GBK text
  input.missingPaths = {"a\"b\\c"};
  input.host = "127.0.0.1";
  input.port = port;
  EXPECT_TRUE(QosReport(input));

  std::vector<std::string> lines;
  char buf[4096];
  while (std::fgets(buf, sizeof(buf), out)) lines.push_back(buf);
  EXPECT_EQ(pclose(out), 0);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].rfind("{\"kind\":0,\"qos_id\":2003,\"ints\":[0,57],\"strings\":[\"UDRA v1.0.0.7\",\"12345\","
                           "\"{GUID}\",\"\"],\"sender\":\"127.0.0.1:",
                           0),
            0u)
      << lines[0];
  EXPECT_NE(lines[1].find("\"kind\":1,"), std::string::npos);
  EXPECT_NE(lines[1].find("\"data\\\\\xE4\xB8\xAD\xE6\x96\x87.pak\""), std::string::npos) << lines[1];
  EXPECT_NE(lines[2].find("\"a\\\"b\\\\c\""), std::string::npos) << lines[2];
  EXPECT_NE(lines[2].find("\"time\":"), std::string::npos);

  platform::ReadWholeFile(errFile, err);
  EXPECT_NE(err.find("undecodable datagram of 4 bytes"), std::string::npos) << err;
  EXPECT_NE(err.find("3 report records, 1 undecodable datagrams"), std::string::npos) << err;
}

TEST(Qosd, StopsOnSigtermWithItsCount) {
  const std::string folder = test::TempFolder();
  const std::string errFile = JoinPath(folder, "qosd.err");
  const uint16_t port = udra::test::FreeUdpPort();
  ASSERT_NE(port, 0);
  const std::string command = "timeout -s TERM 1 " + Qosd() + " --port " + std::to_string(port) +
                              " --idle-exit 30 2>" + errFile;
  EXPECT_NE(std::system(command.c_str()), -1);
  std::string err;
  platform::ReadWholeFile(errFile, err);
  EXPECT_NE(err.find("0 report records, 0 undecodable datagrams"), std::string::npos) << err;
}

}  // namespace
}  // namespace udra::qos
