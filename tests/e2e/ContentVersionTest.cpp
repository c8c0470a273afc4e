// An installation that follows its game's content versions: version 1 synced,
// version 2 published beside it with the real udra-publish, the installation
// switched over and synced again, then switched back; and entries damaged in
// the store, which must never be served and must heal with the next sync.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "EndToEndFixture.h"
#include "util/Md5.h"

namespace udra::e2e {
namespace {
namespace fs = std::filesystem;

using Files = std::map<std::string, std::string>;

// Large enough to be kept as a file of its own in the store.
constexpr size_t kLargeSize = (1 << 20) + 200000;

Files Version1() {
  return {
      {"Data/same.txt", "unchanged in every version"},
      {"Data/samesize.txt", "version one bytes"},
      {"Data/resized.txt", hosttest::RandomBytes(3000, 11)},
      {"Data/removed.txt", "only in version one"},
      {"Data/big.bin", hosttest::RandomBytes(kLargeSize, 12)},
      {"Pack/a.txt", "member a"},
      {"Pack/b.bin", hosttest::RandomBytes(20000, 13)},
  };
}

Files Version2() {
  Files files = Version1();
  files["Data/samesize.txt"] = "version TWO bytes";
  files["Data/resized.txt"] = hosttest::RandomBytes(4500, 21);
  files["Data/big.bin"] = hosttest::RandomBytes(kLargeSize, 22);
  files["Pack/b.bin"] = hosttest::RandomBytes(20000, 23);
  files["Data/added.txt"] = "new in version two";
  files.erase("Data/removed.txt");
  return files;
}

// The paths the server was asked for since `offset` bytes of its log.
std::multiset<std::string> RequestsSince(hosttest::Nginx& server, size_t offset) {
  std::istringstream log(server.AccessLog().substr(offset));
  std::multiset<std::string> paths;
  std::string line;
  while (std::getline(log, line)) paths.insert(line.substr(0, line.find(' ')));
  return paths;
}

// Runs the udra tool on the installation; its exit status and standard output.
int RunUdra(const std::string& install, const std::string& args, std::string& out) {
  const std::string command = std::string(UDRA_STAGE_DIR) + "/udra " + args + " --dir " + install + " 2>/dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return -1;
  out.clear();
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  const int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class ContentVersionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    env = std::make_unique<EndToEnd>(Version1(), "Pack");
    ASSERT_TRUE(env->ready());
    env->Start();
    ASSERT_EQ(env->session().initResult(), 1);
  }

  void SyncAll() {
    for (const char* folder : {"Data", "Pack"}) {
      SyncInfo info{};
      ASSERT_TRUE(env->SyncAndWait(folder, info)) << folder;
      EXPECT_EQ(info.state, UDRA_SYNC_DONE) << folder;
      EXPECT_EQ(info.doneSize, info.totalSize) << folder;
    }
  }

  void ExpectContent(const Files& files) {
    for (const auto& [name, bytes] : files) EXPECT_TRUE(env->ReadFile(name) == bytes) << name;
  }

  std::unique_ptr<EndToEnd> env;
};

TEST_F(ContentVersionTest, UpdateFetchesOnlyWhatChangedAndServesTheNewBytes) {
  SyncAll();
  ExpectContent(Version1());
  const std::string version1List = env->install().Read("FileList.dat");

  ASSERT_TRUE(env->Publish(Version2(), "Pack", "v2"));
  // The operator's check sees what the new catalogue makes stale.
  std::string out;
  EXPECT_EQ(RunUdra(env->install().path(), "verify", out), 1);
  for (const char* name : {"Data\\samesize.txt", "Data\\resized.txt", "Data\\big.bin", "Pack.pack"})
    EXPECT_NE(out.find(std::string("stale    ") + name + ":"), std::string::npos) << name << "\n" << out;
  EXPECT_NE(out.find("unnamed  Data\\removed.txt"), std::string::npos) << out;
  size_t logged = env->server().AccessLog().size();
  env->Restart();
  ASSERT_EQ(env->session().initResult(), 1);
  // Changed entries count as missing as soon as the new catalogue is loaded.
  EXPECT_TRUE(env->manager()->IsFileInArchive("Data/same.txt"));
  EXPECT_FALSE(env->manager()->IsFileInArchive("Data/samesize.txt"));
  EXPECT_FALSE(env->manager()->IsFileInArchive("Pack/a.txt"));  // its package changed
  EXPECT_EQ(env->manager()->OpenFile("Data/big.bin", "r"), -1);
  SyncAll();
  EXPECT_EQ(RequestsSince(env->server(), logged),
            (std::multiset<std::string>{"/v2/Data/added.txt", "/v2/Data/big.bin", "/v2/Data/resized.txt",
                                        "/v2/Data/samesize.txt", "/v2/Pack.pack"}));
  ExpectContent(Version2());

  // Back to version 1: its entries that version 2 replaced are fetched again;
  // the one version 2 dropped from the catalogue stayed in the store.
  env->install().Write("FileList.dat", version1List);
  logged = env->server().AccessLog().size();
  env->Restart();
  ASSERT_EQ(env->session().initResult(), 1);
  SyncAll();
  EXPECT_EQ(RequestsSince(env->server(), logged),
            (std::multiset<std::string>{"/v1/Data/big.bin", "/v1/Data/resized.txt", "/v1/Data/samesize.txt",
                                        "/v1/Pack.pack"}));
  ExpectContent(Version1());
}

// Changes one byte in the middle of a stored entry, wherever the store keeps it.
void FlipStoredByte(const std::string& installFolder, const std::string& name) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open((installFolder + "/UDRADownload/ZAV.db").c_str(), &db), SQLITE_OK);
  sqlite3_stmt* stmt = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT id, size, file FROM entries WHERE name = ?1", -1, &stmt, nullptr),
            SQLITE_OK);
  sqlite3_bind_text(stmt, 1, name.c_str(), -1, SQLITE_TRANSIENT);
  ASSERT_EQ(sqlite3_step(stmt), SQLITE_ROW) << name;
  const int64_t id = sqlite3_column_int64(stmt, 0);
  const int64_t size = sqlite3_column_int64(stmt, 1);
  const unsigned char* file = sqlite3_column_text(stmt, 2);
  if (file != nullptr) {
    std::fstream f(installFolder + "/UDRADownload/ZAV.files/" + reinterpret_cast<const char*>(file),
                   std::ios::in | std::ios::out | std::ios::binary);
    f.seekg(size / 2);
    const char c = static_cast<char>(f.get() ^ 0x20);
    f.seekp(size / 2);
    f.put(c);
  } else {
    sqlite3_blob* blob = nullptr;
    ASSERT_EQ(sqlite3_blob_open(db, "main", "entries", "data", id, 1, &blob), SQLITE_OK);
    unsigned char c = 0;
    sqlite3_blob_read(blob, &c, 1, int(size / 2));
    c ^= 0x20;
    sqlite3_blob_write(blob, &c, 1, int(size / 2));
    sqlite3_blob_close(blob);
  }
  sqlite3_finalize(stmt);
  sqlite3_close(db);
}

TEST_F(ContentVersionTest, DamagedEntriesAreNeverServedAndHealWithTheNextSync) {
  SyncAll();
  env->session().Shutdown();
  const std::string folder = env->install().path();
  for (const char* name : {"Data\\samesize.txt", "Data\\big.bin", "Pack.pack"}) FlipStoredByte(folder, name);
  // udra verify finds them first, and only them.
  std::string out;
  EXPECT_EQ(RunUdra(folder, "verify --json", out), 1);
  for (const char* name : {"Data\\\\samesize.txt", "Data\\\\big.bin", "Pack.pack"})
    EXPECT_NE(out.find(std::string("{\"kind\":\"damaged\",\"name\":\"") + name + "\""), std::string::npos) << name << "\n" << out;
  EXPECT_NE(out.find("\"problems\":3,\"repaired\":0}"), std::string::npos) << out;
  env->Restart();
  ASSERT_EQ(env->session().initResult(), 1);

  for (const char* name : {"Data/samesize.txt", "Data/big.bin", "Pack/b.bin"}) {
    EXPECT_TRUE(env->manager()->IsFileInArchive(name)) << name;  // not known to be damaged yet
    EXPECT_EQ(env->ReadFile(name), "<read failed>") << name;
    EXPECT_FALSE(env->manager()->IsFileInArchive(name)) << name;  // dropped by the failed read
    EXPECT_EQ(env->manager()->OpenFile(name, "r"), -1) << name;
  }
  EXPECT_EQ(env->manager()->OpenFile("Pack/a.txt", "r"), -1);  // the whole package went
  EXPECT_EQ(env->ReadFile("Data/same.txt"), Version1().at("Data/same.txt"));

  const size_t logged = env->server().AccessLog().size();
  SyncAll();
  EXPECT_EQ(RequestsSince(env->server(), logged),
            (std::multiset<std::string>{"/v1/Data/big.bin", "/v1/Data/samesize.txt", "/v1/Pack.pack"}));
  ExpectContent(Version1());
}

// A content fault on the server, not in the store: the stored bytes are the
// catalogue's (the publish went wrong), so dropping them would only fetch the
// same bytes again. The read fails and the entry is kept.
TEST_F(ContentVersionTest, EntryMatchingTheCatalogueButNotDecodingIsKept) {
  env->session().Shutdown();
  const std::string served = env->server().root() + "/v1/Data/resized.txt";
  std::string bytes;
  {
    std::ifstream in(served, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  ASSERT_GT(bytes.size(), 100u);
  bytes.resize(bytes.size() / 2);  // cut: the stream cannot decode
  std::ofstream(served, std::ios::binary | std::ios::trunc) << bytes;
  // Its catalogue line now describes the cut bytes.
  std::string list = env->install().Read("FileList.dat");
  const size_t line = list.find("Data\\resized.txt|");
  ASSERT_NE(line, std::string::npos);
  const size_t end = list.find('\n', line);
  std::vector<std::string> columns;
  std::stringstream fields(list.substr(line, end - line));
  for (std::string column; std::getline(fields, column, '|');) columns.push_back(column);
  ASSERT_GE(columns.size(), 6u);
  columns[2] = std::to_string(bytes.size());
  columns[4] = Md5::HexDigest(bytes.data(), bytes.size());
  std::string patched;
  for (const std::string& column : columns) patched += (patched.empty() ? "" : "|") + column;
  list.replace(line, end - line, patched);
  env->install().Write("FileList.dat", list);

  env->Restart();
  ASSERT_EQ(env->session().initResult(), 1);
  SyncInfo info{};
  ASSERT_TRUE(env->SyncAndWait("Data/resized.txt", info));
  EXPECT_EQ(info.state, UDRA_SYNC_DONE);
  EXPECT_EQ(env->ReadFile("Data/resized.txt"), "<read failed>");
  EXPECT_TRUE(env->manager()->IsFileInArchive("Data/resized.txt"));
  EXPECT_EQ(env->ReadFile("Data/resized.txt"), "<read failed>");
  EXPECT_TRUE(env->manager()->IsFileInArchive("Data/resized.txt"));
}

TEST_F(ContentVersionTest, VerifyRepairRemovesWhatItFoundAndTheNextSyncRestoresIt) {
  SyncAll();
  env->session().Shutdown();
  const std::string folder = env->install().path();
  FlipStoredByte(folder, "Data\\resized.txt");
  std::string out;
  EXPECT_EQ(RunUdra(folder, "verify --repair Data", out), 0) << out;  // all that was wrong is removed
  EXPECT_NE(out.find("damaged  Data\\resized.txt"), std::string::npos) << out;
  EXPECT_EQ(RunUdra(folder, "verify", out), 0) << out;
  EXPECT_NE(out.find("not downloaded yet: 1"), std::string::npos) << out;

  env->Restart();
  ASSERT_EQ(env->session().initResult(), 1);
  EXPECT_FALSE(env->manager()->IsFileInArchive("Data/resized.txt"));
  SyncAll();
  ExpectContent(Version1());
}

TEST_F(ContentVersionTest, StoreOfThePreviousFormatKeepsItsEntriesAndLearnsTheirDigests) {
  SyncAll();
  env->session().Shutdown();
  // What the previous store version left: no digests at all.
  const std::string database = env->install().path() + "/UDRADownload/ZAV.db";
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(database.c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, "DROP TABLE digests; PRAGMA user_version=2;", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(db);

  // Version 2 arrives with the upgrade. Entries of unknown digest whose size
  // changed are stale at once; one that kept its size is found out by its
  // first read, which drops it. Nothing stale is ever served.
  ASSERT_TRUE(env->Publish(Version2(), "Pack", "v2"));
  env->Restart();
  ASSERT_EQ(env->session().initResult(), 1);
  EXPECT_FALSE(env->manager()->IsFileInArchive("Data/resized.txt"));
  EXPECT_TRUE(env->manager()->IsFileInArchive("Data/samesize.txt"));
  EXPECT_EQ(env->ReadFile("Data/samesize.txt"), "<read failed>");
  EXPECT_FALSE(env->manager()->IsFileInArchive("Data/samesize.txt"));
  for (const auto& [name, bytes] : Version2()) {
    const std::string read = env->ReadFile(name);
    EXPECT_TRUE(read == bytes || read == "<read failed>" || read == "<cannot open>") << name;
  }
  SyncAll();
  ExpectContent(Version2());

  // The unchanged entry's digest was recorded when it was first read.
  env->session().Shutdown();
  ASSERT_EQ(sqlite3_open(database.c_str(), &db), SQLITE_OK);
  sqlite3_stmt* stmt = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT count(*) FROM digests WHERE name = 'Data\\same.txt'", -1, &stmt, nullptr),
            SQLITE_OK);
  ASSERT_EQ(sqlite3_step(stmt), SQLITE_ROW);
  EXPECT_EQ(sqlite3_column_int(stmt, 0), 1);
  sqlite3_finalize(stmt);
  sqlite3_close(db);
}

}  // namespace
}  // namespace udra::e2e
