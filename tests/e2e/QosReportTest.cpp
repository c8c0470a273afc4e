// The QoS report a shut-down sends, received by udra-qosd.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <sstream>
#include <thread>

#include "EndToEndFixture.h"

namespace udra::e2e {
namespace {

int FreeUdpPort() {
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
  close(fd);
  return ntohs(address.sin_port);
}

TEST(QosReportTest, ShutDownSendsTheSummaryAndTheMissingFiles) {
  const int port = FreeUdpPort();
  EndToEnd env({{"Maps/m.map", "map"}, {"Data/a.txt", "a"}}, "", "",
               "[ZEPH]\nReportInterval=1\nServerHost=127.0.0.1\nServerPort=" + std::to_string(port) + "\n");
  ASSERT_TRUE(env.ready());
  const std::string out = env.install() / "qosd.json";
  const std::string command = std::string(UDRA_STAGE_DIR) + "/udra-qosd --port " + std::to_string(port) +
                              " --collector 127.0.0.1:" + std::to_string(port) +
                              " --max-records 2 --idle-exit 20 > " + out + " 2>/dev/null &";
  ASSERT_EQ(std::system(command.c_str()), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // let it bind

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
