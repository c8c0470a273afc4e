// What the host and the store leave on disk is the installation's user's
// alone, whatever the umask lets through; a runtime folder that others could
// have touched is refused with a reason a log can show.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "HostTestEnv.h"
#include "ScriptedServer.h"
#include "platform/posix/RuntimeFolder.h"
#include "util/Md5.h"

namespace udra::hosttest {
namespace {
namespace fs = std::filesystem;

unsigned ModeOf(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0 ? static_cast<unsigned>(st.st_mode & 07777) : 01000000;
}

class UmaskScope {
 public:
  explicit UmaskScope(mode_t mask) : old_(umask(mask)) {}
  ~UmaskScope() { umask(old_); }

 private:
  mode_t old_;
};

TEST(HostPrivacy, StoreAndPartialFilesAreForTheUserOnly) {
  const UmaskScope mask(0);  // the widest: nothing narrows the modes the code asks for
  test::TempDir work;
  Nginx nginx(work.path() + "/nginx");
  ASSERT_TRUE(nginx.Start());
  const std::string big = RandomBytes(3 << 19, 7);  // large enough to be an entry file of its own
  const std::string bigDigest = nginx.Put("big.bin", big);
  const std::string small = RandomBytes(3000, 8);
  const std::string smallDigest = nginx.Put("small.bin", small);
  // Sends half the rest of the file and hangs up: the partial file stays.
  const std::string cut = RandomBytes(400000, 9);
  ScriptedServer server([&](const ScriptedRequest&, int, ScriptedConnection& c) {
    c.Send("HTTP/1.1 200 OK\r\nContent-Length: 400000\r\n\r\n" + cut.substr(0, 200000));
  });

  Installation install("[Host]\nMaxRetries=0\nResumeMinSize=65536\n");
  ASSERT_TRUE(install.StartHost());
  PipeClient client;
  ASSERT_TRUE(client.Connect(install.key()));
  ASSERT_TRUE(client.SendSync(1, "big", nginx.Url("big.bin"), static_cast<int32_t>(big.size()), bigDigest));
  ASSERT_TRUE(client.SendSync(2, "small", nginx.Url("small.bin"), static_cast<int32_t>(small.size()), smallDigest));
  ASSERT_TRUE(client.SendSync(3, "cut", server.Url("cut"), 400000, Md5Hex(cut)));
  const auto answers = client.WaitReturns(3, 20000);
  ASSERT_EQ(answers.size(), 3u);
  for (const auto& a : answers) EXPECT_EQ(a.ok, a.syncId != 3) << a.syncId << " " << a.errorText;

  const std::string store = install.folder() + "/UDRADownload";
  EXPECT_EQ(ModeOf(store), 0700u);
  for (const char* file : {"/ZAV.db", "/ZAV.db-wal", "/ZAV.db-shm"}) EXPECT_EQ(ModeOf(store + file), 0600u) << file;
  EXPECT_EQ(ModeOf(store + "/ZAV.files"), 0700u);
  size_t entryFiles = 0;
  for (const auto& e : fs::recursive_directory_iterator(store + "/ZAV.files")) {
    EXPECT_EQ(ModeOf(e.path().string()), e.is_directory() ? 0700u : 0600u) << e.path();
    entryFiles += e.is_regular_file() ? 1 : 0;
  }
  EXPECT_EQ(entryFiles, 1u);  // the large entry, moved in from its partial file
  EXPECT_EQ(ModeOf(store + "/HostTemp"), 0700u);
  size_t parts = 0;
  for (const auto& e : fs::directory_iterator(store + "/HostTemp")) {
    EXPECT_EQ(ModeOf(e.path().string()), 0600u) << e.path();
    ++parts;
  }
  EXPECT_EQ(parts, 1u);  // the cut one, kept for a resume
}

// A partial file or its folder left open to others by an earlier host is
// closed when it is used again.
TEST(HostPrivacy, WiderPartialFilesAreNarrowedWhenResumed) {
  test::TempDir work;
  const std::string body = RandomBytes(300000, 10);
  ScriptedServer server([&](const ScriptedRequest& q, int, ScriptedConnection& c) {
    const std::string range = q.Header("Range");
    if (range == "bytes=1000-")
      c.Answer(206, "Content-Range: bytes 1000-299999/300000\r\nContent-Length: 299000\r\n", body.substr(1000));
    else
      c.Answer(200, "Content-Length: 300000\r\n", body);
  });
  Installation install("[Host]\nResumeMinSize=65536\n");
  ASSERT_TRUE(install.StartHost());
  PipeClient client;
  ASSERT_TRUE(client.Connect(install.key()));
  ASSERT_TRUE(client.Send(MakeTick()));
  PipeMsg values;
  ASSERT_TRUE(client.Receive(values, 5000));  // the store exists now
  const std::string temp = install.folder() + "/UDRADownload/HostTemp";
  fs::create_directories(temp);
  chmod(temp.c_str(), 0755);
  // The host names a partial file by the MD5 of the lower-case name and the upper-case digest.
  std::string key = "wide|" + Md5Hex(body);
  for (char& ch : key) ch = static_cast<char>(toupper(static_cast<unsigned char>(ch)));
  key.replace(0, 4, "wide");
  const std::string part = temp + "/" + Md5::HexDigest(key.data(), key.size()) + ".part";
  std::ofstream(part, std::ios::binary) << body.substr(0, 1000);
  chmod(part.c_str(), 0644);

  ASSERT_TRUE(client.SendSync(1, "wide", server.Url("wide"), 300000, Md5Hex(body)));
  const auto answers = client.WaitReturns(1, 20000);
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_TRUE(answers[0].ok) << answers[0].errorText;
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].Header("Range"), "bytes=1000-");  // it was the partial file above that was used
  EXPECT_EQ(ModeOf(temp), 0700u);
}

class RuntimeFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* old = getenv("XDG_RUNTIME_DIR")) saved_ = old;
    had_ = getenv("XDG_RUNTIME_DIR") != nullptr;
    setenv("XDG_RUNTIME_DIR", base.path().c_str(), 1);
  }
  void TearDown() override {
    if (had_)
      setenv("XDG_RUNTIME_DIR", saved_.c_str(), 1);
    else
      unsetenv("XDG_RUNTIME_DIR");
  }
  test::TempDir base;
  std::string saved_;
  bool had_ = false;
};

TEST_F(RuntimeFolderTest, ARefusedFolderIsExplained) {
  const std::string folder = base.path() + "/udra";
  // Missing: made, private, nothing to explain.
  EXPECT_EQ(platform::posix::RuntimeFolder(), folder);
  EXPECT_EQ(ModeOf(folder), 0700u);
  EXPECT_EQ(platform::posix::RuntimeFolderProblem(), "");

  chmod(folder.c_str(), 0755);  // as if someone had made it open to all
  EXPECT_EQ(platform::posix::RuntimeFolder(), "");
  std::string problem = platform::posix::RuntimeFolderProblem();
  EXPECT_NE(problem.find(folder), std::string::npos) << problem;
  EXPECT_NE(problem.find("0755"), std::string::npos) << problem;
  EXPECT_NE(problem.find("refused"), std::string::npos) << problem;
  EXPECT_EQ(ModeOf(folder), 0755u);  // refused, not repaired

  rmdir(folder.c_str());
  const std::string elsewhere = base.path() + "/elsewhere";
  mkdir(elsewhere.c_str(), 0700);
  ASSERT_EQ(symlink(elsewhere.c_str(), folder.c_str()), 0);
  EXPECT_EQ(platform::posix::RuntimeFolder(), "");
  problem = platform::posix::RuntimeFolderProblem();
  EXPECT_NE(problem.find("symbolic link"), std::string::npos) << problem;

  unlink(folder.c_str());
  std::ofstream(folder) << "x";
  problem = platform::posix::RuntimeFolderProblem();
  EXPECT_NE(problem.find("not a folder"), std::string::npos) << problem;
}

}  // namespace
}  // namespace udra::hosttest
