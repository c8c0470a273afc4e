// The QoS report a shut-down sends, received by udra-qosd.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <sstream>
#include <thread>

#include "EndToEndFixture.h"
#include "support/Collector.h"

namespace udra::e2e {
namespace {

TEST(QosReportTest, ShutDownSendsTheSummaryAndTheMissingFiles) {
  const int port = test::FreeUdpPort();
  ASSERT_NE(port, 0);
  EndToEnd env({{"Maps/m.map", "map"}, {"Data/a.txt", "a"}}, "", "",
               "[ZEPH]\nReportInterval=1\nServerHost=127.0.0.1\nServerPort=" + std::to_string(port) + "\n");
  ASSERT_TRUE(env.ready());
  const std::string out = env.install() / "qosd.json";
  const std::string command = std::string(UDRA_STAGE_DIR) + "/udra-qosd --port " + std::to_string(port) +
                              " --collector 127.0.0.1:" + std::to_string(port) +
                              " --max-records 2 --idle-exit 20 > " + out + " 2>" + out + ".err &";
  ASSERT_EQ(std::system(command.c_str()), 0);
  std::string err;
  ASSERT_TRUE(test::WaitUntilListening(out + ".err", 10000, err)) << err;

  env.Start();
  IResourceManager* m = env.manager();
  EXPECT_EQ(m->OpenFile("Maps/m.map", "r"), -1);  // catalogued, not downloaded: reported as missing
  ASSERT_TRUE(env.session().Shutdown());

  std::string lines;
  for (int i = 0; i < 100 && std::count(lines.begin(), lines.end(), '\n') < 2; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    lines = env.install().Read("qosd.json");
  }
  std::istringstream stream(lines);
  std::string summary, missing;
  std::getline(stream, summary);
  std::getline(stream, missing);
  EXPECT_NE(summary.find("\"kind\":0"), std::string::npos) << summary;
  EXPECT_NE(summary.find("UDRA v1.0.0.1"), std::string::npos) << summary;
  EXPECT_NE(summary.find("NOT SET UIN"), std::string::npos) << summary;
  EXPECT_NE(missing.find("\"kind\":2"), std::string::npos) << missing;
  EXPECT_NE(missing.find("Maps\\\\m.map"), std::string::npos) << missing;
  EXPECT_EQ(env.install().Read("UDRAClient.ini").find("LastReport=0") != std::string::npos, true);
}

}  // namespace
}  // namespace udra::e2e
