// Reading the members of a package through the real library against reading
// the same members' stored bytes as files of their own (measured in the same
// run, rounds alternating).
//
// The installation holds one package of 200 members of 64 KiB each and, as
// the baseline, the same 200 stored forms as separate entries. A round gets a
// new manager attached to the store (no host) and reads every file whole:
//   package, first   each member once: the session's first read of the
//                    package checks its whole stored form (MD5) once, every
//                    member is then read and decoded on its own;
//   package, again   the members read again; the cache limit of one byte
//                    drops each member's content on CloseFile, so each is read
//                    from the store and decoded again;
//   alone, first / alone, again   the same for the separate entries (each
//                    checked on its first read).
// Figures are milliseconds per member, medians over the rounds; the aim is a
// package member within 1.2x of its bytes read alone.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "codec/LzmaCodec.h"
#include "codec/StoredEntry.h"
#include "core/IZavDigests.h"
#include "platform/FileSystem.h"
#include "platform/Module.h"
#include "udra/Diagnostics.h"
#include "udra/IResourceManager.h"
#include "util/Md5.h"

#include "BenchStore.h"
#include "GameContent.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

constexpr int kMembers = 200;
constexpr size_t kMemberSize = 64u << 10;

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n == 0 ? 0 : n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

void Put32(Bytes& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i)));
}

struct Content {
  Bytes decoded;
  std::string digest;
  std::vector<Bytes> entries;  // stored form of each member
  Bytes package;
  std::vector<std::string> memberKeys, aloneKeys;
};

// Content that compresses about as game data does: a quarter noise.
Bytes MemberContent(uint32_t seed) {
  Bytes out = udra::bench::GameContent(kMemberSize);
  uint32_t x = seed * 2654435761u + 1;
  for (size_t i = 0; i < out.size(); i += 4) {
    x = x * 1103515245u + 12345u;
    if ((x >> 16) % 4 == 0) out[i] = uint8_t(x >> 8);
  }
  return out;
}

bool MakeContent(Content& c) {
  udra::LzmaCodec codec = udra::LzmaCodec::Bind(UDRA_STAGE_DIR);
  if (codec.encode == nullptr) return false;
  c.decoded = MemberContent(7);
  c.digest = udra::Md5::HexDigest(c.decoded.data(), c.decoded.size());
  Bytes stream(kMemberSize + kMemberSize / 8 + 4096);
  size_t len = stream.size();
  if (codec.encode(stream.data(), &len, c.decoded.data(), c.decoded.size(), 5, 0, 0) != 0) return false;
  stream.resize(len);
  std::vector<std::string> names;
  size_t directory = 8;
  for (int i = 0; i < kMembers; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "m%03d.dat", i);
    names.push_back(name);
    directory += 13 + names.back().size();
    c.entries.push_back(udra::BuildStoredEntry(udra::EntryKey(), stream.data(), stream.size(), uint32_t(i + 1)));
    c.memberKeys.push_back("Bench\\Pack\\" + names.back());
    c.aloneKeys.push_back("Bench\\Alone\\" + names.back());
  }
  c.package = {'P', 'A', 'C', 'K'};
  Put32(c.package, kMembers);
  size_t offset = directory;
  for (int i = 0; i < kMembers; ++i) {
    c.package.push_back(1);
    Put32(c.package, uint32_t(c.entries[i].size()));
    Put32(c.package, uint32_t(offset));
    Put32(c.package, uint32_t(names[i].size()));
    c.package.insert(c.package.end(), names[i].begin(), names[i].end());
    offset += c.entries[i].size();
  }
  for (const Bytes& e : c.entries) c.package.insert(c.package.end(), e.begin(), e.end());
  return true;
}

bool WriteInstallation(const fs::path& dir, const Content& c) {
  std::error_code ec;
  fs::remove_all(dir, ec);
  fs::create_directories(dir / "home", ec);
  for (const char* file : {"libUDRAClient.so", "ZAV.dll", "LZMA.DLL"}) {
    fs::copy_file(fs::path(UDRA_STAGE_DIR) / file, dir / file, ec);
    if (ec) return false;
  }
  const std::string ini = "[ResPool]\r\nReservedSize=0\r\n";
  if (!udra::platform::WriteWholeFile((dir / "UDRAHostApp.ini").string(), ini.data(), ini.size())) return false;
  const std::string zero(32, '0');
  const std::string packDigest = udra::Md5::HexDigest(c.package.data(), c.package.size());
  const std::string packSize = std::to_string(c.package.size());
  std::string list = "Bench|-1|0|" + zero + "|" + zero + "|v1|:\r\n";
  list += "Bench\\Alone|-1|0|" + zero + "|" + zero + "|v1|:\r\n";
  list += "Bench\\Pack|-1|" + packSize + "|" + zero + "|" + packDigest + "|v1|Bench\\Pack.pack\r\n";
  const std::string size = std::to_string(kMemberSize);
  for (int i = 0; i < kMembers; ++i) {
    list += c.aloneKeys[i] + "|" + size + "|" + std::to_string(c.entries[i].size()) + "|" + c.digest + "|" +
            udra::Md5::HexDigest(c.entries[i].data(), c.entries[i].size()) + "|v1|:\r\n";
    list += c.memberKeys[i] + "|" + size + "|" + packSize + "|" + c.digest + "|" + packDigest +
            "|v1|Bench\\Pack.pack\r\n";
  }
  if (!udra::platform::WriteWholeFile((dir / "FileList.dat").string(), list.data(), list.size())) return false;

  std::vector<std::string> memberDigests;
  for (int i = 0; i < kMembers; ++i)
    memberDigests.push_back(udra::Md5::HexDigest(c.entries[i].data(), c.entries[i].size()));
  std::vector<udra::ZavDigestEntry> entries{
      {"Bench\\Pack.pack", c.package.data(), uint32_t(c.package.size()), packDigest.c_str()}};
  for (int i = 0; i < kMembers; ++i)
    entries.push_back(
        {c.aloneKeys[i].c_str(), c.entries[i].data(), uint32_t(c.entries[i].size()), memberDigests[i].c_str()});
  return FillBenchStore(dir, entries);
}

// Milliseconds per file to read `keys` whole through `m`; negative on failure.
double ReadEach(IResourceManager* m, const std::vector<std::string>& keys, const Content& c, bool compare) {
  std::vector<char> buffer(kMemberSize + 1);
  const auto start = Clock::now();
  for (const std::string& key : keys) {
    const int32_t h = m->OpenFile(key.c_str(), "r");
    uint32_t n = uint32_t(buffer.size());
    const bool ok = h != -1 && m->ReadOpenFile(h, buffer.data(), &n, 0);
    if (h != -1) m->CloseFile(h);
    if (!ok || n != kMemberSize || (compare && std::memcmp(buffer.data(), c.decoded.data(), n) != 0)) {
      std::fprintf(stderr, "reading %s failed\n", key.c_str());
      return -1;
    }
  }
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count() / double(keys.size());
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = 5;
  for (int i = 1; i + 1 < argc; ++i)
    if (std::strcmp(argv[i], "--rounds") == 0) rounds = std::max(1, std::atoi(argv[i + 1]));

  Content c;
  if (!MakeContent(c)) {
    std::fprintf(stderr, "LZMA.DLL not found in %s\n", UDRA_STAGE_DIR);
    return 1;
  }
  const fs::path dir = fs::path(UDRA_BINARY_DIR) / "bench-package-read";
  if (!WriteInstallation(dir, c)) {
    std::fprintf(stderr, "cannot lay out the installation in %s\n", dir.c_str());
    return 1;
  }
  setenv("XDG_CONFIG_HOME", (dir / "home").c_str(), 1);
  udra::platform::ModuleHandle lib = udra::platform::LoadModule((dir / "libUDRAClient.so").string());
  auto get = reinterpret_cast<UDRA_GetResourceManagerFn>(udra::platform::ModuleSymbol(lib, "GetResourceManager"));
  auto release =
      reinterpret_cast<UDRA_ReleaseResourceManagerFn>(udra::platform::ModuleSymbol(lib, "ReleaseResourceManager"));
  auto attach = reinterpret_cast<UDRA_AttachFn>(udra::platform::ModuleSymbol(lib, "udra_attach_store_and_catalogue"));
  if (!get || !release || !attach) {
    std::fprintf(stderr, "cannot load %s\n", (dir / "libUDRAClient.so").c_str());
    return 1;
  }

  std::vector<double> packFirst, packAgain, aloneFirst, aloneAgain;
  for (int r = 0; r < rounds; ++r) {
    for (int pass = 0; pass < 2; ++pass) {
      const bool package = (pass + r) % 2 == 0;  // alternate which goes first
      IResourceManager* m = get();
      if (!m || attach(m, 1) != 0) {
        std::fprintf(stderr, "attaching to the store failed\n");
        return 1;
      }
      const std::vector<std::string>& keys = package ? c.memberKeys : c.aloneKeys;
      const double first = ReadEach(m, keys, c, r == 0);
      const double again = ReadEach(m, keys, c, false);
      release(m);
      if (first < 0 || again < 0) return 1;
      (package ? packFirst : aloneFirst).push_back(first);
      (package ? packAgain : aloneAgain).push_back(again);
    }
  }
  const double pf = Median(packFirst), pa = Median(packAgain), af = Median(aloneFirst), aa = Median(aloneAgain);
  std::printf("Package members read through libUDRAClient.so against the same stored bytes as files of their own\n"
              "%d members of %zu KiB, package of %.1f MB; %d rounds, medians of ms per member.\n\n",
              kMembers, kMemberSize >> 10, double(c.package.size()) / 1e6, rounds);
  std::printf("%-8s | %12s %12s | %8s\n", "read", "package", "alone", "ratio");
  std::printf("%-8s | %9.3f ms %9.3f ms | %7.3fx\n", "first", pf, af, pf / af);
  std::printf("%-8s | %9.3f ms %9.3f ms | %7.3fx\n", "again", pa, aa, pa / aa);
  std::printf("\npackage member / stored alone, first read: %.3fx (aim <= 1.2)\n", pf / af);
  return 0;
}
