// Every published file read back through the manager's file operations.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "InstallFixture.h"
#include "core/IZav.h"
#include "platform/FileSystem.h"
#include "platform/Module.h"

namespace udra {
namespace {

std::string RandomBytes(size_t size, uint32_t seed) {
  std::mt19937 rng(seed);
  std::string out(size, '\0');
  for (char& c : out) c = char(rng() % 7 == 0 ? rng() : 'a' + rng() % 4);  // compressible, not trivially
  return out;
}

const std::map<std::string, std::string>& Files() {
  static const std::map<std::string, std::string> files = {
      {"Data/a.txt", "hello, world\r\n"},
      {"Data/empty.txt", ""},
      {"Data/big.bin", RandomBytes(700000, 1)},
      {"Data/Pack/x.txt", "member x"},
      {"Data/Pack/sub/y.bin", RandomBytes(50000, 2)},
      {"Data/Pack/z.txt", ""},
      {"Maps/deep/nested/m.map", RandomBytes(4097, 3)},
      {"\xE8\xB5\x84\xE6\xBA\x90.txt", "gbk name"},  // 资源.txt, catalogued in GBK
  };
  return files;
}

std::string KeyOf(std::string path) {
  for (char& c : path)
    if (c == '/') c = '\\';
  if (path == "\xE8\xB5\x84\xE6\xBA\x90.txt") return "\xD7\xCA\xD4\xB4.txt";
  return path;
}

class ReadingTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { install = new test::Installation(Files(), {"Data/Pack"}); }
  static void TearDownTestSuite() {
    delete install;
    install = nullptr;
  }
  void SetUp() override { manager = install->Open(1 << 20); }
  void TearDown() override { install->Release(); }

  std::string ReadAll(int32_t handle, std::mt19937& rng) {
    std::string out;
    for (;;) {
      char buffer[70000];
      uint32_t size = 1 + rng() % sizeof buffer;
      if (!manager->ReadOpenFile(handle, buffer, &size, 0)) return "<read failed>";
      if (size == 0) return out;
      out.append(buffer, size);
    }
  }

  static test::Installation* install;
  IResourceManager* manager = nullptr;
};
test::Installation* ReadingTest::install = nullptr;

TEST_F(ReadingTest, EveryFileReadsBackInRandomChunks) {
  std::mt19937 rng(7);
  for (const auto& [path, bytes] : Files()) {
    const std::string key = KeyOf(path);
    const int32_t handle = manager->OpenFile(key.c_str(), "r");
    ASSERT_NE(handle, -1) << path;
    int32_t size = -2;
    ASSERT_TRUE(manager->QueryOpenFileSize(handle, &size));
    EXPECT_EQ(size_t(size), bytes.size()) << path;
    EXPECT_EQ(ReadAll(handle, rng), bytes) << path;
    EXPECT_TRUE(manager->IsOpenFileAtEnd(handle));
    if (!bytes.empty()) {
      // Random seeks read the same bytes again.
      for (int i = 0; i < 5; ++i) {
        const int64_t at = int64_t(rng() % bytes.size());
        ASSERT_TRUE(manager->SeekOpenFile(handle, at, 0));
        char buffer[64];
        uint32_t n = sizeof buffer;
        ASSERT_TRUE(manager->ReadOpenFile(handle, buffer, &n, 0));
        EXPECT_EQ(std::string(buffer, n), bytes.substr(size_t(at), n)) << path << " at " << at;
      }
      EXPECT_FALSE(manager->SeekOpenFile(handle, 1, 2));
      EXPECT_TRUE(manager->SeekOpenFile(handle, 0, 2));
      EXPECT_TRUE(manager->IsOpenFileAtEnd(handle));
    }
    EXPECT_TRUE(manager->CloseFile(handle));
  }
}

TEST_F(ReadingTest, LookupsIgnoreCaseAndSeparators) {
  for (const char* spelling : {"data\\A.TXT", "Data/a.txt", "\\Data\\a.txt\\", "\"Data//a.txt\""}) {
    const int32_t handle = manager->OpenFile(spelling, "r");
    EXPECT_NE(handle, -1) << spelling;
    manager->CloseFile(handle);
  }
  EXPECT_EQ(manager->OpenFile("Data\\a.txt", "rb"), -1);
  EXPECT_EQ(manager->OpenFile("Data", "r"), -1);
  EXPECT_EQ(manager->OpenFile("Data\\absent.txt", "r"), -1);
  EXPECT_TRUE(manager->IsFolder("data"));
  EXPECT_TRUE(manager->IsFileInArchive("Data\\Pack\\x.txt"));
}

TEST_F(ReadingTest, ListFilesOfAFolderStoredAsPackage) {
  FileInfo* list = nullptr;
  const int32_t count = manager->ListFiles("Data\\Pack", &list);
  ASSERT_EQ(count, 4);  // sub, sub\y.bin, x.txt, z.txt
  EXPECT_STREQ(list[0].key, "Data\\Pack\\sub");
  EXPECT_EQ(list[0].flags, uint32_t(UDRA_FILEINFO_PACKAGED_FOLDER));
  EXPECT_STREQ(list[1].key, "Data\\Pack\\sub\\y.bin");
  EXPECT_EQ(list[1].flags, uint32_t(UDRA_FILEINFO_FILE));
  EXPECT_STREQ(list[1].packageName, "Data\\Pack.pack");
  manager->FreeFileList(list);
  FileInfo* folder = nullptr;
  ASSERT_EQ(manager->ListFiles("Data", &folder), 8);
  EXPECT_STREQ(folder[0].key, "Data\\a.txt");
  EXPECT_EQ(folder[0].size, 14);
  EXPECT_EQ(folder[3].flags, uint32_t(UDRA_FILEINFO_PACKAGED_FOLDER));  // Data\Pack
  manager->FreeFileList(folder);
}

// A second store object on the installation's store, as the host's would be.
class StoreWriter {
 public:
  explicit StoreWriter(const std::string& folder) {
    module_ = platform::LoadModule(folder + "/ZAV.dll");
    get_ = reinterpret_cast<GetZavFn>(platform::ModuleSymbol(module_, kGetZavExport));
    release_ = reinterpret_cast<ReleaseZavFn>(platform::ModuleSymbol(module_, kReleaseZavExport));
    zav = get_ ? get_() : nullptr;
    if (zav && !zav->Load((folder + "/UDRADownload").c_str())) zav = nullptr;
  }
  ~StoreWriter() {
    if (zav) {
      zav->Close();
      release_(zav);
    }
    platform::FreeModule(module_);
  }
  std::string Get(const char* name) {
    const int32_t h = zav->OpenEntry(name, 1, 0);
    std::string bytes(size_t(std::max(zav->GetEntrySize(h), 0)), '\0');
    uint32_t n = uint32_t(bytes.size());
    if (h == -1 || !zav->ReadEntry(h, bytes.data(), &n)) return "";
    return bytes;
  }
  IZav* zav = nullptr;

 private:
  platform::ModuleHandle module_ = nullptr;
  GetZavFn get_ = nullptr;
  ReleaseZavFn release_ = nullptr;
};

// The package's members are read one by one through the directory kept from
// the first; a package replaced in the store meanwhile (same size, other
// bytes) is never read through that directory: it is checked again, fails
// against the catalogue, and is dropped so that a sync fetches it again.
TEST_F(ReadingTest, APackageReplacedBehindItsKeptDirectoryIsCheckedAgain) {
  std::mt19937 rng(5);
  const int32_t x = manager->OpenFile("Data\\Pack\\x.txt", "r");
  ASSERT_NE(x, -1);
  EXPECT_EQ(ReadAll(x, rng), "member x");
  manager->CloseFile(x);

  StoreWriter writer(install->folder().path());
  ASSERT_NE(writer.zav, nullptr);
  const std::string original = writer.Get("Data\\Pack.pack");
  ASSERT_GT(original.size(), 1000u);
  std::string replaced = original;
  for (size_t i = replaced.size() - 600; i < replaced.size() - 100; ++i) replaced[i] = char(replaced[i] ^ 0x5A);
  ASSERT_TRUE(writer.zav->PutEntry("Data\\Pack.pack", replaced.data(), uint32_t(replaced.size())));

  const int32_t y = manager->OpenFile("Data\\Pack\\sub\\y.bin", "r");
  ASSERT_NE(y, -1);
  char buffer[16];
  uint32_t n = sizeof buffer;
  EXPECT_FALSE(manager->ReadOpenFile(y, buffer, &n, 0));
  manager->CloseFile(y);
  EXPECT_FALSE(manager->IsFileInArchive("Data\\Pack\\x.txt"));  // dropped

  // Put back for the other tests: read afresh, every member is whole again.
  ASSERT_TRUE(writer.zav->PutEntry("Data\\Pack.pack", original.data(), uint32_t(original.size())));
  install->Release();
  manager = install->Open(1 << 20);
  for (const char* key : {"Data\\Pack\\sub\\y.bin", "Data\\Pack\\x.txt"}) {
    const int32_t h = manager->OpenFile(key, "r");
    ASSERT_NE(h, -1) << key;
    EXPECT_NE(ReadAll(h, rng), "<read failed>") << key;
    manager->CloseFile(h);
  }
}

TEST_F(ReadingTest, ExtractFileWritesBelowTheStoreFolderOnly) {
  ASSERT_TRUE(manager->ExtractFile("Data/a.txt"));
  EXPECT_EQ(install->folder().Read("UDRADownload/Data/a.txt"), "hello, world\r\n");
  ASSERT_TRUE(manager->ExtractFile("Data\\Pack\\sub\\y.bin"));
  EXPECT_EQ(install->folder().Read("UDRADownload/Data/Pack/sub/y.bin"), Files().at("Data/Pack/sub/y.bin"));
  EXPECT_TRUE(manager->ExtractFile("Data\\empty.txt"));
  EXPECT_FALSE(platform::FileExists(install->folder() / "UDRADownload/Data/empty.txt"));
  EXPECT_FALSE(manager->ExtractFile("Data"));
  EXPECT_FALSE(manager->ExtractFile("Data\\absent.txt"));
}

TEST_F(ReadingTest, UninitializeSavesTheUseRecord) {
  const int32_t handle = manager->OpenFile("Maps\\deep\\nested\\m.map", "r");
  ASSERT_NE(handle, -1);
  manager->CloseFile(handle);
  EXPECT_TRUE(manager->Uninitialize());
  const std::string record = install->folder().Read("UDRADownload/ResUseRec.db");
  EXPECT_NE(record.find("Maps\\deep\\nested\\m.map|1|"), std::string::npos) << record;
  EXPECT_NE(record.find("|0\r\n"), std::string::npos);
}

}  // namespace
}  // namespace udra
