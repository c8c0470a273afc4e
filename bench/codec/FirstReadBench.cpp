// The first read of a stored file through the real library, entry check
// included, against liblzma decoding the same LZMA body alone (measured in
// the same run, rounds alternating).
//
// An installation folder is laid out beside the build with the staged
// libUDRAClient.so, ZAV.dll and LZMA.DLL, a FileList.dat naming K files of
// each content size, and a store holding their entries, written through the
// store's digest extension (PutEntriesWithDigests) with their packed digests.
// A round gets a new manager (GetResourceManager), attaches it to the store
// and the catalogue (udra_attach_store_and_catalogue: no host) and then:
//   first read   OpenFile + ReadOpenFile of the whole file + CloseFile of each
//                of the K files: the session's first read of each entry, so
//                the store read, the MD5 of the stored bytes compared with the
//                catalogue, the decipher and LZMA.DLL's decode;
//   again        the same files read again: the cache limit of one byte drops
//                each file's content on CloseFile, so each is read from the
//                store and decoded again, now without the check (the entry
//                was verified in this session);
//   liblzma      liblzma's raw LZMA1 decoder on each body alone, into a new
//                buffer of the decoded size.
// Figures are MB/s of decoded bytes, medians over the rounds.
#include <lzma.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
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

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

Bytes Content(size_t size) { return udra::bench::GameContent(size); }

struct SizeCase {
  size_t decoded;
  int files;  // per round
  Bytes content;
  Bytes stream;  // LZMA86
  Bytes entry;   // stored form
  std::string digest, packedDigest;
  std::vector<std::string> names;
};

double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// liblzma's raw decoder on the body of `stream`; false on any failure.
bool LiblzmaDecode(const Bytes& stream, size_t decoded) {
  const uint8_t* props = stream.data() + 1;
  lzma_options_lzma opt;
  lzma_lzma_preset(&opt, 0);
  unsigned d = props[0];
  opt.lc = d % 9;
  d /= 9;
  opt.lp = d % 5;
  opt.pb = d / 5;
  opt.dict_size = std::max<uint32_t>(
      LZMA_DICT_SIZE_MIN, uint32_t(std::min<uint64_t>(decoded, uint32_t(props[1]) | props[2] << 8 |
                                                                   props[3] << 16 | uint32_t(props[4]) << 24)));
  opt.ext_flags = LZMA_LZMA1EXT_ALLOW_EOPM;
  opt.ext_size_low = uint32_t(decoded);
  opt.ext_size_high = 0;
  lzma_filter filters[] = {{LZMA_FILTER_LZMA1EXT, &opt}, {LZMA_VLI_UNKNOWN, nullptr}};
  std::unique_ptr<uint8_t[]> out(new uint8_t[decoded]);
  lzma_stream s = LZMA_STREAM_INIT;
  if (lzma_raw_decoder(&s, filters) != LZMA_OK) return false;
  s.next_in = stream.data() + 14;
  s.avail_in = stream.size() - 14;
  s.next_out = out.get();
  s.avail_out = decoded;
  lzma_ret ret;
  do {
    ret = lzma_code(&s, LZMA_FINISH);
  } while (ret == LZMA_OK && s.avail_out != 0);
  lzma_end(&s);
  volatile uint8_t sink = out[decoded - 1];
  (void)sink;
  return (ret == LZMA_STREAM_END || ret == LZMA_OK) && s.avail_out == 0;
}

class Library {
 public:
  bool Load(const std::string& path) {
    module_ = udra::platform::LoadModule(path);
    if (!module_) return false;
    get_ = reinterpret_cast<UDRA_GetResourceManagerFn>(udra::platform::ModuleSymbol(module_, "GetResourceManager"));
    release_ = reinterpret_cast<UDRA_ReleaseResourceManagerFn>(
        udra::platform::ModuleSymbol(module_, "ReleaseResourceManager"));
    attach_ = reinterpret_cast<UDRA_AttachFn>(udra::platform::ModuleSymbol(module_, "udra_attach_store_and_catalogue"));
    return get_ && release_ && attach_;
  }
  // A new manager attached to the installation's store and catalogue.
  IResourceManager* Session() {
    IResourceManager* m = get_();
    if (m && attach_(m, 1) != 0) {
      release_(m);
      return nullptr;
    }
    return m;
  }
  void End(IResourceManager* m) { release_(m); }

 private:
  udra::platform::ModuleHandle module_ = nullptr;
  UDRA_GetResourceManagerFn get_ = nullptr;
  UDRA_ReleaseResourceManagerFn release_ = nullptr;
  UDRA_AttachFn attach_ = nullptr;
};

// Reads every file of `c` whole through `m`, checking the bytes once per
// round (the comparison is outside the timing); seconds, negative on failure.
double ReadAll(IResourceManager* m, const SizeCase& c, std::vector<char>& buffer, bool compare) {
  double total = 0;
  for (const std::string& name : c.names) {
    const auto start = Clock::now();
    const int32_t h = m->OpenFile(name.c_str(), "r");
    uint32_t n = uint32_t(buffer.size());
    const bool ok = h != -1 && m->ReadOpenFile(h, buffer.data(), &n, 0);
    if (h != -1) m->CloseFile(h);
    total += Seconds(start);
    if (!ok || n != c.decoded) {
      std::fprintf(stderr, "reading %s failed (%u bytes)\n", name.c_str(), n);
      return -1;
    }
    if (compare && std::memcmp(buffer.data(), c.content.data(), c.decoded) != 0) {
      std::fprintf(stderr, "%s read back other bytes\n", name.c_str());
      return -1;
    }
  }
  return total;
}

bool WriteInstallation(const fs::path& dir, std::vector<SizeCase>& cases) {
  std::error_code ec;
  fs::remove_all(dir, ec);
  fs::create_directories(dir / "home", ec);
  for (const char* file : {"libUDRAClient.so", "ZAV.dll", "LZMA.DLL"}) {
    fs::copy_file(fs::path(UDRA_STAGE_DIR) / file, dir / file, ec);
    if (ec) {
      std::fprintf(stderr, "cannot copy %s from %s: %s\n", file, UDRA_STAGE_DIR, ec.message().c_str());
      return false;
    }
  }
  const std::string ini = "[ResPool]\r\nReservedSize=0\r\n";
  if (!udra::platform::WriteWholeFile((dir / "UDRAHostApp.ini").string(), ini.data(), ini.size())) return false;
  const std::string zero(32, '0');
  std::string list = "Bench|-1|0|" + zero + "|" + zero + "|v1|:\r\n";
  for (SizeCase& c : cases) {
    for (int i = 0; i < c.files; ++i) {
      char name[64];
      std::snprintf(name, sizeof name, "Bench\\size%zu_%03d.dat", c.decoded, i);
      c.names.push_back(name);
      list += std::string(name) + "|" + std::to_string(c.decoded) + "|" + std::to_string(c.entry.size()) + "|" +
              c.digest + "|" + c.packedDigest + "|v1|:\r\n";
    }
  }
  if (!udra::platform::WriteWholeFile((dir / "FileList.dat").string(), list.data(), list.size())) return false;

  std::vector<udra::ZavDigestEntry> entries;
  for (const SizeCase& c : cases) {
    for (const std::string& name : c.names)
      entries.push_back({name.c_str(), c.entry.data(), uint32_t(c.entry.size()), c.packedDigest.c_str()});
  }
  return FillBenchStore(dir, entries);
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = 5;
  for (int i = 1; i + 1 < argc; ++i)
    if (std::strcmp(argv[i], "--rounds") == 0) rounds = std::max(1, std::atoi(argv[i + 1]));

  udra::LzmaCodec codec = udra::LzmaCodec::Bind(UDRA_STAGE_DIR);
  if (codec.encode == nullptr) {
    std::fprintf(stderr, "LZMA.DLL not found in %s\n", UDRA_STAGE_DIR);
    return 1;
  }
  std::vector<SizeCase> cases;
  // About 8 MiB of decoded bytes per pass and size.
  const std::pair<size_t, int> kSizes[] = {{64u << 10, 128}, {1u << 20, 8}, {8u << 20, 2}};
  for (const auto& [size, files] : kSizes) {
    SizeCase c;
    c.decoded = size;
    c.files = files;
    c.content = Content(size);
    c.stream.resize(size + size / 8 + 4096);
    size_t len = c.stream.size();
    if (codec.encode(c.stream.data(), &len, c.content.data(), c.content.size(), 5, 0, 0) != 0) return 1;
    c.stream.resize(len);
    c.entry = udra::BuildStoredEntry(udra::EntryKey(), c.stream.data(), c.stream.size(), 7);
    c.digest = udra::Md5::HexDigest(c.content.data(), c.content.size());
    c.packedDigest = udra::Md5::HexDigest(c.entry.data(), c.entry.size());
    cases.push_back(std::move(c));
  }

  const fs::path dir = fs::path(UDRA_BINARY_DIR) / "bench-first-read";
  if (!WriteInstallation(dir, cases)) {
    std::fprintf(stderr, "cannot lay out the installation in %s\n", dir.c_str());
    return 1;
  }
  setenv("XDG_CONFIG_HOME", (dir / "home").c_str(), 1);
  Library library;
  if (!library.Load((dir / "libUDRAClient.so").string())) {
    std::fprintf(stderr, "cannot load %s\n", (dir / "libUDRAClient.so").c_str());
    return 1;
  }

  std::printf("First read of a stored file through libUDRAClient.so (entry check included) against liblzma\n"
              "decoding the same body alone; %d rounds, medians of MB/s of decoded bytes.\n\n", rounds);
  std::printf("%-9s %6s %9s | %12s %12s %12s | %9s %9s %9s\n", "decoded", "files", "stored", "first read",
              "again", "liblzma", "first/lz", "again/lz", "first/agn");
  bool allOk = true;
  double worst = 1e9;
  for (const SizeCase& c : cases) {
    std::vector<char> buffer(c.decoded + 1);
    std::vector<double> first, again, alone;
    const double bytes = double(c.decoded) * c.files;
    for (int r = 0; r < rounds; ++r) {
      IResourceManager* m = library.Session();
      if (!m) {
        std::fprintf(stderr, "attaching to the store failed\n");
        return 1;
      }
      const double f = ReadAll(m, c, buffer, r == 0);
      const double a = ReadAll(m, c, buffer, r == 0);
      library.End(m);
      auto start = Clock::now();
      bool lzOk = true;
      for (int i = 0; i < c.files; ++i) lzOk = LiblzmaDecode(c.stream, c.decoded) && lzOk;
      const double l = Seconds(start);
      if (f < 0 || a < 0 || !lzOk) {
        allOk = false;
        break;
      }
      first.push_back(bytes / f / 1e6);
      again.push_back(bytes / a / 1e6);
      alone.push_back(bytes / l / 1e6);
    }
    if (first.empty()) continue;
    const double mf = Median(first), ma = Median(again), ml = Median(alone);
    worst = std::min(worst, mf / ml);
    char label[16];
    std::snprintf(label, sizeof label, c.decoded >= (1u << 20) ? "%zu MiB" : "%zu KiB",
                  c.decoded >= (1u << 20) ? c.decoded >> 20 : c.decoded >> 10);
    std::printf("%-9s %6d %9zu | %7.1f MB/s %7.1f MB/s %7.1f MB/s | %8.3fx %8.3fx %8.3fx\n", label, c.files,
                c.entry.size(), mf, ma, ml, mf / ml, ma / ml, mf / ma);
  }
  std::printf("\nfirst read / liblzma alone, lowest of the sizes: %.3fx (aim >= 0.92)\n", worst);
  return allOk ? 0 : 1;
}
