// The host over https from a private nginx with a self-signed certificate:
// trusted only through [Host] CaFile, and with HTTP/2 the transfers share one
// connection as streams.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <vector>

#include "HostTestEnv.h"
#include "host/HostSettings.h"

namespace udra::hosttest {
namespace {

constexpr long kPeerFailedVerification = 60;  // CURLE_PEER_FAILED_VERIFICATION
constexpr long kBadCaFile = 77;               // CURLE_SSL_CACERT_BADFILE

const char kIni[] = "[Host]\nMaxParallel=8\nMaxRetries=2\nRetryDelay=50\nConnectTimeout=5\nResumeMinSize=65536\n";

class HostTlsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(MakeSelfSignedCertificate(work.path(), cert, key));
    nginx.EnableTls(cert, key);
    ASSERT_TRUE(nginx.Start()) << "nginx did not start";
  }
  void StartHost(const std::string& ini) {
    install = std::make_unique<Installation>(ini);
    ASSERT_TRUE(install->StartHost());
    ASSERT_TRUE(client.Connect(install->key()));
  }
  // Puts `count` files below tls/ and asks the host for all of them at once;
  // the last one is large enough for a partial file.
  std::map<int32_t, SyncReturnFields> SyncFiles(int count, const std::string& folder = "tls", size_t size = 16384) {
    for (int i = 0; i < count; ++i) {
      const std::string content = RandomBytes(i + 1 == count ? 300000 : size + i, static_cast<uint32_t>(i));
      const std::string path = folder + "/f" + std::to_string(i) + ".bin";
      files["Data\\f" + std::to_string(i) + ".bin"] = content;
      EXPECT_TRUE(client.SendSync(i + 1, "Data\\f" + std::to_string(i) + ".bin", nginx.TlsUrl(path),
                                  static_cast<int32_t>(content.size()), nginx.Put(path, content)));
    }
    std::map<int32_t, SyncReturnFields> byId;
    for (const auto& r : client.WaitReturns(static_cast<size_t>(count), 30000)) byId[r.syncId] = r;
    return byId;
  }

  test::TempDir work;
  std::string cert, key;
  Nginx nginx{work.path() + "/nginx"};
  std::unique_ptr<Installation> install;
  PipeClient client;
  std::map<std::string, std::string> files;
};

TEST_F(HostTlsTest, TrustsTheCaFileAndMultiplexesOverOneHttp2Connection) {
  // A relative CaFile is found in the installation folder.
  StartHost(std::string(kIni) + "CaFile=server-ca.pem\n");
  std::filesystem::copy_file(cert, install->folder() + "/server-ca.pem");
  const auto answers = SyncFiles(24);
  ASSERT_EQ(answers.size(), 24u);
  for (const auto& [id, r] : answers) EXPECT_TRUE(r.ok) << id << " " << r.errorText;

  StoreReader store(install->folder());
  ASSERT_TRUE(store.ok());
  for (const auto& [name, content] : files) {
    std::string stored;
    ASSERT_TRUE(store.Read(name, stored)) << name;
    EXPECT_EQ(stored, content) << name;
  }
  // Every request went as HTTP/2, and all of them on one connection: the
  // transfers that started together waited for the first connection instead
  // of each opening its own.
  std::istringstream log(nginx.TlsLog());
  std::set<std::string> connections;
  int requests = 0;
  for (std::string protocol, connection, uri, status, end, seconds;
       log >> protocol >> connection >> uri >> status >> end >> seconds; ++requests) {
    EXPECT_EQ(protocol, "HTTP/2.0") << uri;
    EXPECT_EQ(status, "200") << uri;
    connections.insert(connection);
  }
  EXPECT_EQ(requests, 24);
  EXPECT_EQ(connections.size(), 1u);
}

// Over HTTP/2 the transfers are streams of one connection, and up to
// MaxStreams of them run at once, beyond the MaxParallel that bounds
// connections. Seen from the server: the most requests in progress at one
// moment, each lasting about half a second at its rate limit.
TEST_F(HostTlsTest, RunsMoreStreamsThanMaxParallelOverOneConnection) {
  StartHost("[Host]\nMaxParallel=2\nMaxStreams=8\nResumeMinSize=65536\nCaFile=" + cert + "\n");
  const auto answers = SyncFiles(12, "slow", 128 << 10);
  ASSERT_EQ(answers.size(), 12u);
  for (const auto& [id, r] : answers) EXPECT_TRUE(r.ok) << id << " " << r.errorText;

  std::vector<std::pair<double, int>> edges;  // +1 where a request began, -1 where it ended
  std::set<std::string> connections;
  std::istringstream log(nginx.TlsLog());
  for (std::string protocol, connection, uri, status, end, seconds;
       log >> protocol >> connection >> uri >> status >> end >> seconds;) {
    connections.insert(connection);
    edges.emplace_back(std::stod(end) - std::stod(seconds), 1);
    edges.emplace_back(std::stod(end), -1);
  }
  ASSERT_EQ(edges.size(), 24u) << nginx.TlsLog();
  std::sort(edges.begin(), edges.end());
  int running = 0, most = 0;
  for (const auto& edge : edges) most = std::max(most, running += edge.second);
  EXPECT_EQ(connections.size(), 1u);
  EXPECT_GT(most, 2) << "no more streams than MaxParallel ran at once";
  EXPECT_LE(most, 8);

  // MaxStreams is clamped and never below MaxParallel.
  const std::string ini = work.path() + "/streams.ini";
  std::ofstream(ini) << "[Host]\nMaxParallel=20\nMaxStreams=4\n";
  EXPECT_EQ(host::LoadHostSettings(ini).maxStreams, 20);
  std::ofstream(ini) << "[Host]\nMaxStreams=1000\n";
  EXPECT_EQ(host::LoadHostSettings(ini).maxStreams, 128);
  std::ofstream(ini) << "[Host]\n";
  EXPECT_EQ(host::LoadHostSettings(ini).maxStreams, 64);
}

TEST_F(HostTlsTest, RefusesTheServerWithoutItsCertificateAndWithAMissingCaFile) {
  // No CaFile: the self-signed certificate is not trusted. A failed
  // verification is not tried again (a retry cannot cure it), and nothing
  // reaches the store or the server's log.
  StartHost(kIni);
  auto answers = SyncFiles(3);
  ASSERT_EQ(answers.size(), 3u);
  for (const auto& [id, r] : answers) {
    EXPECT_FALSE(r.ok) << id;
    EXPECT_EQ(r.errKind, 0) << id;
    EXPECT_EQ(r.errCode, kPeerFailedVerification) << id << " " << r.errorText;
  }
  {
    StoreReader store(install->folder());
    ASSERT_TRUE(store.ok());
    std::string stored;
    for (const auto& [name, content] : files) EXPECT_FALSE(store.Read(name, stored)) << name;
  }
  EXPECT_EQ(nginx.TlsLog(), "");

  // A CaFile that names no file fails every https download; it never falls
  // back to trusting anything else.
  client.Disconnect();
  install.reset();
  files.clear();
  StartHost(std::string(kIni) + "CaFile=" + work.path() + "/missing.pem\n");
  answers = SyncFiles(2);
  ASSERT_EQ(answers.size(), 2u);
  for (const auto& [id, r] : answers) {
    EXPECT_FALSE(r.ok) << id;
    EXPECT_EQ(r.errCode, kBadCaFile) << id << " " << r.errorText;
  }
}

TEST(HostSettingsTest, CaFileIsTakenFromTheInstallationFolderUnlessAbsolute) {
  test::TempDir dir;
  const std::string ini = dir.path() + "/UDRAHostApp.ini";
  EXPECT_EQ(host::LoadHostSettings(ini).caFile, "");
  std::ofstream(ini) << "[Host]\nCaFile=certs/ca.pem\n";
  EXPECT_EQ(host::LoadHostSettings(ini).caFile, dir.path() + "/certs/ca.pem");
  std::ofstream(ini) << "[host]\ncafile=\"/etc/private/ca.pem\"\n";
  EXPECT_EQ(host::LoadHostSettings(ini).caFile, "/etc/private/ca.pem");
  std::ofstream(ini) << "[Host]\nCaFile=\n";
  EXPECT_EQ(host::LoadHostSettings(ini).caFile, "");
}

}  // namespace
}  // namespace udra::hosttest
