// The staged UDRAHostApp.exe in a temporary installation, downloading from a
// private nginx on 127.0.0.1 into the real store, driven over its pipe.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <set>
#include <thread>

#include "HostTestEnv.h"
#include "host/HostErrors.h"
#include "platform/NamedMutex.h"

namespace udra::hosttest {
namespace {

const char kIni[] =
    "[Host]\nMaxParallel=8\nMaxRetries=1\nRetryDelay=50\nConnectTimeout=2\n"
    "LowSpeedTimeout=1\nLowSpeedLimit=1\nResumeMinSize=65536\n";

std::string LowerCase(std::string text) {
  for (char& c : text) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return text;
}

class HostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(nginx.Start()) << "nginx did not start";
  }
  void StartHost(const std::string& ini = kIni) {
    install = std::make_unique<Installation>(ini);
    ASSERT_TRUE(install->StartHost());
    ASSERT_TRUE(client.Connect(install->key()));
  }
  std::map<int32_t, SyncReturnFields> ById(const std::vector<SyncReturnFields>& list) {
    std::map<int32_t, SyncReturnFields> out;
    for (const auto& r : list) out[r.syncId] = r;
    return out;
  }

  test::TempDir work;
  Nginx nginx{work.path()};
  std::unique_ptr<Installation> install;
  PipeClient client;
};

TEST_F(HostTest, DownloadsHundredsOfFilesIntoTheStore) {
  StartHost();
  std::map<std::string, std::string> files;
  for (int i = 0; i < 300; ++i) {
    const size_t size = i % 100 == 7 ? 200000 : static_cast<size_t>(i * 131 % 40000);  // a few resumable ones
    const std::string name = "Data\\f" + std::to_string(i) + ".bin";
    files[name] = RandomBytes(size, static_cast<uint32_t>(i));
    const std::string digest = nginx.Put("c/f" + std::to_string(i) + ".bin", files[name]);
    ASSERT_TRUE(client.SendSync(i + 1, name, nginx.Url("c/f" + std::to_string(i) + ".bin"),
                                static_cast<int32_t>(size), i % 2 ? digest : LowerCase(digest)));
  }
  // A second request for a name in flight shares its transfer and gets its own answer.
  ASSERT_TRUE(client.SendSync(1000, "data\\F5.BIN", nginx.Url("c/f5.bin"), static_cast<int32_t>(files["Data\\f5.bin"].size()),
                              Md5Hex(files["Data\\f5.bin"])));
  auto answers = ById(client.WaitReturns(301, 30000));
  ASSERT_EQ(answers.size(), 301u);
  for (const auto& [id, r] : answers) {
    EXPECT_TRUE(r.ok) << id << " " << r.errorText;
  }
  EXPECT_EQ(answers[1000].name, "data\\F5.BIN");
  EXPECT_EQ(answers[1000].reportedSize, static_cast<int32_t>(files["Data\\f5.bin"].size()));

  StoreReader store(install->folder());
  ASSERT_TRUE(store.ok());
  for (const auto& [name, content] : files) {
    std::string stored;
    ASSERT_TRUE(store.Read(name, stored)) << name;
    ASSERT_EQ(stored, content) << name;
  }
  EXPECT_EQ(TableDoneBytes(install->key(), "data\\f107.bin"), 200000);

  // A name the store holds with the digest asked for is answered at once,
  // without a request to the server.
  const size_t before = nginx.AccessLog().size();
  ASSERT_TRUE(client.SendSync(2000, "DATA\\F7.BIN", nginx.Url("c/f7.bin"), 1, LowerCase(Md5Hex(files["Data\\f7.bin"]))));
  auto again = client.WaitReturns(1, 5000);
  ASSERT_EQ(again.size(), 1u);
  EXPECT_TRUE(again[0].ok);
  EXPECT_EQ(again[0].reportedSize, 200000);
  EXPECT_EQ(nginx.AccessLog().size(), before);

  // Stored under another digest (another content version), it is fetched
  // again; these bytes do not match the digest asked for, so the request
  // fails and the stored entry stays as it was.
  ASSERT_TRUE(client.SendSync(2001, "DATA\\F7.BIN", nginx.Url("c/f7.bin"), 200000, "00000000000000000000000000000000"));
  again = client.WaitReturns(1, 5000);
  ASSERT_EQ(again.size(), 1u);
  EXPECT_FALSE(again[0].ok);
  EXPECT_GT(nginx.AccessLog().size(), before);
  std::string stored;
  ASSERT_TRUE(store.Read("Data\\f7.bin", stored));
  EXPECT_EQ(stored, files["Data\\f7.bin"]);
}

TEST_F(HostTest, FailuresAreAnsweredWithCodeAndKind) {
  StartHost();
  StalledPort stalled;
  const std::string body = RandomBytes(5000, 1);
  const std::string digest = nginx.Put("ok.bin", body);
  const std::string zero(32, '0');
  ASSERT_TRUE(client.SendSync(1, "missing", nginx.Url("nothing-here.bin"), 10, zero));
  ASSERT_TRUE(client.SendSync(2, "broken", nginx.Url("err500/x.bin"), 10, zero));
  ASSERT_TRUE(client.SendSync(3, "wrongdigest", nginx.Url("ok.bin"), 5000, zero));
  ASSERT_TRUE(client.SendSync(4, "truncated", nginx.Url("ok.bin"), 6000, digest));
  ASSERT_TRUE(client.SendSync(5, "toolong", nginx.Url("ok.bin"), 4000, digest));
  ASSERT_TRUE(client.SendSync(6, "stalled", "http://127.0.0.1:" + std::to_string(stalled.port()) + "/x", 10, zero));
  ASSERT_TRUE(client.SendSync(7, "baddigest", nginx.Url("ok.bin"), 5000, "not-a-digest"));
  ASSERT_TRUE(client.SendSync(8, "fromfile", "file://" + nginx.root() + "/ok.bin", 5000, digest));
  ASSERT_TRUE(client.SendSync(9, "badscheme", "ftp://127.0.0.1/ok.bin", 5000, digest));
  ASSERT_TRUE(client.SendSync(10, "noscheme", "v1/Data/ok.bin", 5000, digest));
  auto r = ById(client.WaitReturns(10, 20000));
  ASSERT_EQ(r.size(), 10u);
  auto expectFailure = [&](int32_t id, uint16_t code, uint16_t kind) {
    EXPECT_FALSE(r[id].ok) << id;
    EXPECT_EQ(r[id].errCode, code) << id << " " << r[id].errorText;
    EXPECT_EQ(r[id].errKind, kind) << id << " " << r[id].errorText;
    EXPECT_FALSE(r[id].errorText.empty()) << id;
  };
  expectFailure(1, 22, host::kKindNetwork);
  expectFailure(2, 22, host::kKindNetwork);
  expectFailure(3, 0, host::kKindContent);
  expectFailure(4, 23, host::kKindContent);  // the announced length already differs
  expectFailure(5, 23, host::kKindContent);
  expectFailure(6, 28, host::kKindNetwork);  // low-speed timeout
  expectFailure(7, 0, host::kKindContent);
  expectFailure(9, 1, host::kKindNetwork);   // unsupported protocol
  expectFailure(10, 3, host::kKindContent);  // refused before any lookup of "v1"
  EXPECT_NE(r[10].errorText.find("no scheme"), std::string::npos) << r[10].errorText;
  // A person reading the answer learns what was fetched and what the server said.
  EXPECT_NE(r[1].errorText.find("(HTTP 404)"), std::string::npos) << r[1].errorText;
  EXPECT_NE(r[1].errorText.find(nginx.Url("nothing-here.bin")), std::string::npos) << r[1].errorText;
  EXPECT_NE(r[4].errorText.find("6000"), std::string::npos) << r[4].errorText;
  EXPECT_TRUE(r[8].ok) << r[8].errorText;
  // The 500 was tried twice (MaxRetries=1), the 404 once.
  const std::string log = nginx.AccessLog();
  auto count = [&](const std::string& what) {
    size_t n = 0;
    for (size_t at = log.find(what); at != std::string::npos; at = log.find(what, at + 1)) ++n;
    return n;
  };
  EXPECT_EQ(count("/err500/x.bin 500"), 2u);
  EXPECT_EQ(count("/nothing-here.bin 404"), 1u);
  StoreReader store(install->folder());
  std::string stored;
  EXPECT_FALSE(store.Read("wrongdigest", stored));
  EXPECT_FALSE(store.Read("truncated", stored));
  EXPECT_TRUE(store.Read("fromfile", stored));
}

TEST_F(HostTest, PausePriorityCancelAndTick) {
  StartHost("[Host]\nMaxParallel=1\nLowSpeedTimeout=5\n");
  std::map<std::string, std::string> digests;
  for (const char* n : {"a", "b", "c", "d"}) digests[n] = nginx.Put(std::string("q/") + n, RandomBytes(1000, n[0]));
  ASSERT_TRUE(client.Send(MakeHostFlag(0x101)));  // bit 0: pause
  ASSERT_TRUE(client.SendSync(1, "a", nginx.Url("q/a"), 1000, digests["a"], 1));
  ASSERT_TRUE(client.SendSync(2, "b", nginx.Url("q/b"), 1000, digests["b"], 5));
  ASSERT_TRUE(client.SendSync(3, "c", nginx.Url("q/c"), 1000, digests["c"], 1));
  ASSERT_TRUE(client.SendSync(4, "d", nginx.Url("q/d"), 1000, digests["d"], 1));
  ASSERT_TRUE(client.Send(MakeSetPriority(nginx.Url("q/d").c_str(), 9)));
  ASSERT_TRUE(client.Send(MakeCancelFile(nginx.Url("q/c").c_str(), 3)));
  ASSERT_TRUE(client.Send(MakeTick()));
  PipeMsg values;
  ASSERT_TRUE(client.Receive(values, 5000));
  ASSERT_EQ(PipeMsgCmd(values), CMD_HOST_VALUES);
  EXPECT_EQ(ReadInt32At(values, 10), 3);  // three downloads waiting
  PipeMsg uin;
  ASSERT_TRUE(MakeSetUin("abc 123\r\nX-Evil: 1", uin));
  ASSERT_TRUE(client.Send(uin));
  ASSERT_TRUE(client.Send(MakeHostFlag(0)));
  auto done = client.WaitReturns(3, 10000);
  ASSERT_EQ(done.size(), 3u);
  std::set<int32_t> answered;
  for (const auto& d : done) answered.insert(d.syncId);
  EXPECT_EQ(answered, (std::set<int32_t>{1, 2, 4}));
  // One transfer at a time, in priority order (answers may come in another
  // order: the digests are checked on several threads).
  const std::string log = nginx.AccessLog();
  const size_t d = log.find("/q/d "), b = log.find("/q/b "), a = log.find("/q/a ");
  ASSERT_NE(a, std::string::npos);
  EXPECT_LT(d, b);
  EXPECT_LT(b, a);
  // The cancelled one is never answered and never fetched.
  EXPECT_TRUE(client.WaitReturns(1, 500).empty());
  EXPECT_EQ(nginx.AccessLog().find("/q/c "), std::string::npos);
  // The user id travels in the User-Agent, reduced to characters that cannot break the header.
  EXPECT_NE(nginx.AccessLog().find("/q/a 200 \"-\" \"UDRAHostApp/1.0.0.1 uin/abc123X-Evil1\""), std::string::npos);
  ASSERT_TRUE(client.Send(MakeTick()));
  bool sawIdleValues = false;
  for (int i = 0; i < 5 && !sawIdleValues; ++i) {
    PipeMsg msg;
    if (!client.Receive(msg, 2000)) break;
    if (msg.cmd == CMD_HOST_VALUES) sawIdleValues = ReadInt32At(msg, 10) == 0;
  }
  EXPECT_TRUE(sawIdleValues);
}

TEST_F(HostTest, CancelStopsOnlyATransferNobodyElseWants) {
  StartHost();
  const std::string big = RandomBytes(3 << 20, 9);
  const std::string digest = nginx.Put("slow/big.bin", big);
  const std::string url = nginx.Url("slow/big.bin");
  ASSERT_TRUE(client.SendSync(1, "big", url, static_cast<int32_t>(big.size()), digest));
  ASSERT_TRUE(client.SendSync(2, "big", url, static_cast<int32_t>(big.size()), digest));
  ASSERT_TRUE(client.Send(MakeCancelFile(url.c_str(), 1)));
  auto r = client.WaitReturns(1, 10000);
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].syncId, 2);
  EXPECT_TRUE(r[0].ok);

  const std::string other = RandomBytes(3 << 20, 10);
  const std::string otherDigest = nginx.Put("slow/other.bin", other);
  const std::string otherUrl = nginx.Url("slow/other.bin");
  ASSERT_TRUE(client.SendSync(3, "other", otherUrl, static_cast<int32_t>(other.size()), otherDigest));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  ASSERT_TRUE(client.Send(MakeCancelFile(otherUrl.c_str(), 3)));
  EXPECT_TRUE(client.WaitReturns(1, 2500).empty());
  const int32_t stoppedAt = TableDoneBytes(install->key(), "other");
  EXPECT_GT(stoppedAt, 0);
  EXPECT_LT(stoppedAt, static_cast<int32_t>(other.size()));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(TableDoneBytes(install->key(), "other"), stoppedAt);
}

TEST_F(HostTest, KilledHostResumesThePartialFile) {
  StartHost();
  const std::string big = RandomBytes(6 << 20, 11);
  const std::string digest = nginx.Put("slow/resume.bin", big);
  const std::string url = nginx.Url("slow/resume.bin");
  ASSERT_TRUE(client.SendSync(1, "Big\\Resume.bin", url, static_cast<int32_t>(big.size()), digest));
  uint32_t offset = 0;
  int32_t done = 0;
  for (int i = 0; i < 100 && done < (1 << 20); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    done = TableDoneBytes(install->key(), "big\\resume.bin", &offset);
  }
  ASSERT_GE(done, 1 << 20);
  install->KillHost();
  EXPECT_FALSE(platform::NamedMutex::Exists(install->key()));

  ASSERT_TRUE(install->StartHost());
  ASSERT_TRUE(client.Connect(install->key()));
  ASSERT_TRUE(client.SendSync(2, "Big\\Resume.bin", url, static_cast<int32_t>(big.size()), digest));
  auto r = client.WaitReturns(1, 15000);
  ASSERT_EQ(r.size(), 1u);
  EXPECT_TRUE(r[0].ok) << r[0].errorText;
  uint32_t offsetAfter = 1;
  EXPECT_EQ(TableDoneBytes(install->key(), "big\\resume.bin", &offsetAfter), static_cast<int32_t>(big.size()));
  EXPECT_EQ(offsetAfter, offset);  // the entry kept its place across the restart
  EXPECT_NE(nginx.AccessLog().find("/slow/resume.bin 206 \"bytes="), std::string::npos);
  StoreReader store(install->folder());
  std::string stored;
  ASSERT_TRUE(store.Read("big\\resume.bin", stored));
  EXPECT_TRUE(stored == big);
}

TEST_F(HostTest, OneHostPerInstallationAndItEndsWithTheGame) {
  install = std::make_unique<Installation>(kIni);
  ASSERT_TRUE(install->StartHost());
  const pid_t game = fork();
  if (game == 0) {
    pause();
    _exit(0);
  }
  ASSERT_TRUE(client.Connect(install->key(), 5000, game));
  EXPECT_TRUE(platform::NamedMutex::Exists(install->key()));

  auto second = platform::Process::Launch(install->folder() + "/UDRAHostApp.exe", install->folder());
  ASSERT_TRUE(second);
  EXPECT_TRUE(second->Wait(5000));  // it tries its claim for 2 s first
  EXPECT_EQ(second->exitCode(), 0);
  EXPECT_FALSE(install->host()->Wait(1500));  // the game still runs

  kill(game, SIGKILL);
  int status = 0;
  waitpid(game, &status, 0);
  ASSERT_TRUE(install->host()->Wait(4000));
  EXPECT_EQ(install->host()->exitCode(), 0);
  EXPECT_FALSE(platform::NamedMutex::Exists(install->key()));
}

TEST_F(HostTest, WithoutHelloTheHostStaysWhileAConnectionIsOpen) {
  install = std::make_unique<Installation>("[Host]\nNoGameExit=1\n");
  ASSERT_TRUE(install->StartHost());
  ASSERT_TRUE(client.Connect(install->key(), 5000, -1));
  EXPECT_FALSE(install->host()->Wait(2500));
  client.Disconnect();
  EXPECT_TRUE(install->host()->Wait(4000));
}

}  // namespace
}  // namespace udra::hosttest
