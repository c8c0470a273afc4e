// Start-up with a 1,000,000-entry catalogue and a store holding an entry for
// every download name the catalogue has: the start-up without the reconcile
// (opening the store as the manager does, loading FileList.dat with its MD5)
// against the reconcile alone (EntryChecks::Reconcile over the real ZAV.dll
// through the manager's ArchiveStore), all digests matching; then the same
// with a catalogue in which 1% of the download names have another packed
// digest (those entries are removed, and put back afterwards outside the
// timing); and, for reference, the whole udra_attach_store_and_catalogue of
// the real libUDRAClient.so (store, catalogue and reconcile).
//
// The catalogue has the layout udra-publish writes (ten top folders, two of
// them with GBK names, 100 regions, ten sets each, every eighth set packaged),
// but the stored entries are tiny (16 to 64 bytes) so that the store of
// 870,000 entries is quick to write; the reconcile reads no entry's bytes.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "core/ArchiveStore.h"
#include "core/IZav.h"
#include "core/IZavDigests.h"
#include "platform/Module.h"
#include "resources/EntryChecks.h"
#include "resources/FileList.h"
#include "udra/Diagnostics.h"
#include "udra/IResourceManager.h"
#include "util/Md5.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

constexpr size_t kEntries = 1000000;
constexpr int kRegions = 100;
constexpr size_t kStaleEvery = 100;  // 1% of the download names

struct Top {
  const char* name;  // GBK
  const char* extension;
};
constexpr Top kTops[] = {{"Data", ".dat"},    {"Maps", ".map"},    {"Sound", ".ogg"},  {"Textures", ".dds"},
                         {"Models", ".mdl"},  {"UI", ".xml"},      {"Scripts", ".lua"}, {"Effects", ".eff"},
                         {"\xBD\xC7\xC9\xAB", ".ani"}, {"\xB3\xA1\xBE\xB0", ".scn"}};
constexpr const char* kSets[] = {"Common", "Forest", "Desert", "Castle", "Dungeon",
                                 "City",   "Coast",  "Snow",   "Swamp",  "Cave"};
constexpr const char* kStems[] = {"tree_oak", "rock",  "wall_stone", "door", "npc_guard",
                                  "hero",     "sky",   "water_flow", "fire", "grass_tall"};
constexpr size_t kFolders = std::size(kTops) * (1 + kRegions * (1 + std::size(kSets)));
constexpr char kNoDigest[] = "00000000000000000000000000000000";

// The stored bytes of the i-th download name: 16 to 64 bytes.
std::string StoredBytes(size_t i) {
  std::string out(16 + i % 49, '\0');
  uint64_t z = i * 0x9E3779B97F4A7C15ull + 1;
  for (char& c : out) {
    z ^= z >> 29;
    z *= 0xBF58476D1CE4E5B9ull;
    c = char(z >> 56);
  }
  return out;
}

struct Download {
  std::string name;
  std::string digest;  // of StoredBytes(index)
  size_t index;
};

// Writes the catalogue (and, with `stale`, the one in which every 100th
// download name has another packed digest) and lists the download names.
bool WriteCatalogues(const std::string& path, const std::string& stalePath, std::vector<Download>& downloads,
                     uint64_t& bytes) {
  std::ofstream out(path, std::ios::binary), staleOut(stalePath, std::ios::binary);
  if (!out || !staleOut) return false;
  bytes = 0;
  auto other = [](std::string d) {
    d[0] = d[0] == 'A' ? 'B' : 'A';
    return d;
  };
  auto line = [&](const std::string& name, int64_t size, int64_t packedSize, const std::string& packedDigest,
                  bool stale, const std::string& package) {
    std::string text = name + '|' + std::to_string(size) + '|' + std::to_string(packedSize) + '|' +
                       (size < 0 ? std::string(kNoDigest) : udra::Md5::HexDigest(name.data(), name.size())) + '|';
    const std::string tail = "|v1|" + (package.empty() ? std::string(":") : package) + "\r\n";
    const std::string a = text + packedDigest + tail;
    const std::string b = text + (stale ? other(packedDigest) : packedDigest) + tail;
    out.write(a.data(), std::streamsize(a.size()));
    staleOut.write(b.data(), std::streamsize(b.size()));
    bytes += a.size();
  };
  auto addDownload = [&](const std::string& name) -> const Download& {
    const size_t index = downloads.size();
    const std::string stored = StoredBytes(index);
    downloads.push_back({name, udra::Md5::HexDigest(stored.data(), stored.size()), index});
    return downloads.back();
  };
  const size_t leaves = std::size(kTops) * kRegions * std::size(kSets);
  const size_t files = kEntries - kFolders;
  size_t leaf = 0;
  for (const Top& top : kTops) {
    line(top.name, -1, 0, kNoDigest, false, "");
    for (int r = 0; r < kRegions; ++r) {
      char region[16];
      std::snprintf(region, sizeof region, "Region%03d", r);
      const std::string regionPath = std::string(top.name) + "\\" + region;
      line(regionPath, -1, 0, kNoDigest, false, "");
      for (const char* set : kSets) {
        const std::string setPath = regionPath + "\\" + set;
        const bool packaged = leaf % 8 == 0;
        const std::string package = packaged ? setPath + ".pack" : "";
        line(setPath, -1, 0, kNoDigest, false, package);
        Download packageEntry;
        if (packaged) packageEntry = addDownload(package);
        const size_t count = files / leaves + (leaf < files % leaves ? 1 : 0);
        for (size_t f = 0; f < count; ++f) {
          char name[64];
          std::snprintf(name, sizeof name, "\\%s_%05zu%s", kStems[(leaf + f) % std::size(kStems)], f, top.extension);
          const int64_t size = 200 + int64_t((leaf * 7919 + f * 104729) % 400000);
          if (packaged) {
            line(setPath + name, size, int64_t(StoredBytes(packageEntry.index).size()), packageEntry.digest,
                 packageEntry.index % kStaleEvery == 0, package);
          } else {
            const Download& d = addDownload(setPath + name);
            line(d.name, size, int64_t(StoredBytes(d.index).size()), d.digest, d.index % kStaleEvery == 0, "");
          }
        }
        ++leaf;
      }
    }
  }
  return bool(out) && bool(staleOut);
}

struct ZavModule {
  udra::platform::ModuleHandle module = nullptr;
  udra::GetZavFn get = nullptr;
  udra::ReleaseZavFn release = nullptr;
  udra::GetZavDigestsFn digests = nullptr;
  bool Load(const std::string& path) {
    module = udra::platform::LoadModule(path);
    get = reinterpret_cast<udra::GetZavFn>(udra::platform::ModuleSymbol(module, udra::kGetZavExport));
    release = reinterpret_cast<udra::ReleaseZavFn>(udra::platform::ModuleSymbol(module, udra::kReleaseZavExport));
    digests = reinterpret_cast<udra::GetZavDigestsFn>(udra::platform::ModuleSymbol(module, udra::kGetZavDigestsExport));
    return get && release && digests;
  }
};

// Puts the entries of `downloads` selected by `pick` into the store at
// `storePath` (creating it when `create`), in batches.
template <typename Pick>
bool PutEntries(ZavModule& zavModule, const std::string& storePath, bool create, const std::vector<Download>& downloads,
                Pick pick) {
  udra::IZav* zav = zavModule.get();
  udra::IZavDigests* ext = zav ? zavModule.digests(zav) : nullptr;
  bool ok = ext && (create ? zav->Create(storePath.c_str(), 0, 0) : zav->Load(storePath.c_str()));
  constexpr size_t kBatch = 20000;
  std::vector<std::string> bytes;
  std::vector<udra::ZavDigestEntry> batch;
  for (size_t at = 0; ok && at < downloads.size(); at += kBatch) {
    bytes.clear();
    batch.clear();
    for (size_t i = at; i < std::min(downloads.size(), at + kBatch); ++i) {
      if (pick(downloads[i])) bytes.push_back(StoredBytes(downloads[i].index));
    }
    size_t b = 0;
    for (size_t i = at; i < std::min(downloads.size(), at + kBatch); ++i) {
      if (!pick(downloads[i])) continue;
      const std::string& data = bytes[b++];
      batch.push_back({downloads[i].name.c_str(), data.data(), uint32_t(data.size()), downloads[i].digest.c_str()});
    }
    if (!batch.empty()) ok = ext->PutEntriesWithDigests(batch.data(), uint32_t(batch.size()));
  }
  if (zav) {
    ok = zav->Close() && ok;
    zavModule.release(zav);
  }
  return ok;
}

struct StartUpRun {
  double startUp = -1;    // store opened + catalogue loaded
  double reconcile = -1;  // EntryChecks::Reconcile
  udra::ReconcileResult result;
};

// What the manager does at start-up, without and then with the reconcile.
StartUpRun StartUp(const fs::path& install, const std::string& catalogue) {
  StartUpRun run;
  const auto start = Clock::now();
  udra::ArchiveStore store;
  const std::string storePath = (install / "UDRADownload").string();
  if (!store.LoadModule(install.string()) || !store.AcquireStore() || !store.zav()->Exists(storePath.c_str()) ||
      !store.zav()->Load(storePath.c_str()))
    return run;
  udra::FileList list;
  if (!list.load(catalogue)) return run;
  run.startUp = Seconds(start);
  const auto reconcileStart = Clock::now();
  udra::EntryChecks checks;
  checks.Attach(store.digests());
  run.result = checks.Reconcile(list);
  run.reconcile = Seconds(reconcileStart);
  checks.Reset();
  store.CloseAndRelease();
  return run;
}

// Listing the store's digests alone, with a visit that does nothing.
double ListOnly(const fs::path& install, size_t& visited) {
  udra::ArchiveStore store;
  const std::string storePath = (install / "UDRADownload").string();
  if (!store.LoadModule(install.string()) || !store.AcquireStore() || !store.zav()->Load(storePath.c_str()))
    return -1;
  visited = 0;
  const auto start = Clock::now();
  const bool ok = store.digests() && store.digests()->ListDigests(
                                         [](void* c, const char*, int32_t, const char*) { ++*static_cast<size_t*>(c); },
                                         &visited);
  const double s = Seconds(start);
  store.CloseAndRelease();
  return ok ? s : -1;
}

// The reconcile's catalogue side alone: the packages collected and every
// download name looked up, as the reconcile does for each listed entry.
double LookupsOnly(const std::string& catalogue, const std::vector<Download>& downloads, size_t& found) {
  udra::FileList list;
  if (!list.load(catalogue)) return -1;
  found = 0;
  const auto start = Clock::now();
  const std::vector<udra::EntryChecks::Expected> packages = udra::EntryChecks::CollectPackages(list);
  size_t cursor = 0;
  for (const Download& d : downloads) {
    udra::EntryChecks::Expected expected;
    if (udra::EntryChecks::ExpectedOf(list, d.name, packages, cursor, expected) && udra::SameDigest(expected.digest, d.digest))
      ++found;
  }
  return Seconds(start);
}

// udra_attach_store_and_catalogue of a new manager of the real library.
struct Library {
  udra::platform::ModuleHandle module = nullptr;
  UDRA_GetResourceManagerFn get = nullptr;
  UDRA_ReleaseResourceManagerFn release = nullptr;
  UDRA_AttachFn attach = nullptr;
  bool Load(const std::string& path) {
    module = udra::platform::LoadModule(path);
    get = reinterpret_cast<UDRA_GetResourceManagerFn>(udra::platform::ModuleSymbol(module, "GetResourceManager"));
    release = reinterpret_cast<UDRA_ReleaseResourceManagerFn>(udra::platform::ModuleSymbol(module, "ReleaseResourceManager"));
    attach = reinterpret_cast<UDRA_AttachFn>(udra::platform::ModuleSymbol(module, "udra_attach_store_and_catalogue"));
    return get && release && attach;
  }
  double Attach() {
    IResourceManager* m = get();
    if (!m) return -1;
    const auto start = Clock::now();
    const bool ok = attach(m, 1 << 20) == 0;
    const double s = Seconds(start);
    release(m);
    return ok ? s : -1;
  }
};

}  // namespace

int main(int argc, char** argv) {
  int runs = 5;
  std::string profile;  // --profile list|lookups|reconcile: runs only that, twenty times, for a profiler
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], "--runs") == 0) runs = std::max(1, std::atoi(argv[i + 1]));
    if (std::strcmp(argv[i], "--profile") == 0) profile = argv[i + 1];
  }

  const fs::path install = fs::path(UDRA_BINARY_DIR) / "bench-reconcile";
  std::error_code ec;
  fs::remove_all(install, ec);
  fs::create_directories(install / "home", ec);
  for (const char* file : {"libUDRAClient.so", "ZAV.dll", "LZMA.DLL"}) {
    fs::copy_file(fs::path(UDRA_STAGE_DIR) / file, install / file, ec);
    if (ec) {
      std::fprintf(stderr, "cannot copy %s from %s: %s\n", file, UDRA_STAGE_DIR, ec.message().c_str());
      return 1;
    }
  }
  setenv("XDG_CONFIG_HOME", (install / "home").c_str(), 1);
  std::ofstream(install / "UDRAHostApp.ini") << "[ResPool]\r\nReservedSize=0\r\n";

  const std::string catalogue = (install / "FileList.dat").string();
  const std::string staleCatalogue = (install / "FileList-stale.dat").string();
  const std::string storePath = (install / "UDRADownload").string();
  std::vector<Download> downloads;
  uint64_t catalogueBytes = 0;
  auto start = Clock::now();
  if (!WriteCatalogues(catalogue, staleCatalogue, downloads, catalogueBytes)) {
    std::fprintf(stderr, "cannot write the catalogues in %s\n", install.c_str());
    return 1;
  }
  const double generated = Seconds(start);
  ZavModule zavModule;
  if (!zavModule.Load((install / "ZAV.dll").string())) return 1;
  start = Clock::now();
  if (!PutEntries(zavModule, storePath, true, downloads, [](const Download&) { return true; })) {
    std::fprintf(stderr, "cannot fill the store %s\n", storePath.c_str());
    return 1;
  }
  const double filled = Seconds(start);
  const size_t staleCount = size_t(std::count_if(downloads.begin(), downloads.end(),
                                                 [](const Download& d) { return d.index % kStaleEvery == 0; }));
  std::printf("Start-up with a %zu-entry FileList.dat (%.1f MB) and a store of %zu entries, one per download name\n"
              "(catalogue written in %.1f s, store filled in %.1f s; not measured). %d runs, medians.\n\n",
              kEntries, double(catalogueBytes) / 1e6, downloads.size(), generated, filled, runs);

  Library library;
  if (!library.Load((install / "libUDRAClient.so").string())) {
    std::fprintf(stderr, "cannot load the library\n");
    return 1;
  }

  if (!profile.empty()) {
    double total = 0;
    for (int i = 0; i < 20; ++i) {
      size_t n = 0;
      if (profile == "list") total += ListOnly(install, n);
      if (profile == "lookups") total += LookupsOnly(catalogue, downloads, n);
      if (profile == "reconcile") total += StartUp(install, catalogue).reconcile;
    }
    std::printf("%s: %.1f ms per run\n", profile.c_str(), total / 20 * 1e3);
    return 0;
  }
  std::vector<double> base, reconcile, staleBase, staleReconcile, listOnly, lookups, attach;
  bool ok = true;
  StartUp(install, catalogue);  // warms the page cache
  for (int r = 0; r < runs && ok; ++r) {
    const StartUpRun current = StartUp(install, catalogue);
    if (current.startUp < 0 || !current.result.listed || current.result.checked != downloads.size() ||
        current.result.stale != 0 || current.result.unknown != 0) {
      std::fprintf(stderr, "start-up with the current catalogue: failed or wrong result (checked %zu, stale %zu)\n",
                   current.result.checked, current.result.stale);
      ok = false;
      break;
    }
    base.push_back(current.startUp);
    reconcile.push_back(current.reconcile);

    size_t visited = 0;
    const double l = ListOnly(install, visited);
    if (l < 0 || visited != downloads.size()) {
      std::fprintf(stderr, "listing the digests failed (%zu visited)\n", visited);
      ok = false;
      break;
    }
    listOnly.push_back(l);

    size_t found = 0;
    const double k = LookupsOnly(catalogue, downloads, found);
    if (k < 0 || found != downloads.size()) {
      std::fprintf(stderr, "looking the download names up failed (%zu found)\n", found);
      ok = false;
      break;
    }
    lookups.push_back(k);

    const double a = library.Attach();
    if (a < 0) {
      std::fprintf(stderr, "udra_attach_store_and_catalogue failed\n");
      ok = false;
      break;
    }
    attach.push_back(a);

    const StartUpRun stale = StartUp(install, staleCatalogue);
    if (stale.startUp < 0 || stale.result.stale != staleCount || stale.result.removed != staleCount) {
      std::fprintf(stderr, "start-up with the 1%% stale catalogue: failed or wrong result (stale %zu, removed %zu)\n",
                   stale.result.stale, stale.result.removed);
      ok = false;
      break;
    }
    staleBase.push_back(stale.startUp);
    staleReconcile.push_back(stale.reconcile);
    // Put the removed entries back for the next run.
    if (!PutEntries(zavModule, storePath, false, downloads,
                    [](const Download& d) { return d.index % kStaleEvery == 0; })) {
      std::fprintf(stderr, "cannot put the removed entries back\n");
      ok = false;
      break;
    }
    std::printf("  run %d: start-up %.0f ms + reconcile %.0f ms (listing alone %.0f ms, lookups alone %.0f ms); 1%% stale: %.0f ms + %.0f ms;"
                " library attach %.0f ms\n",
                r + 1, current.startUp * 1e3, current.reconcile * 1e3, l * 1e3, k * 1e3, stale.startUp * 1e3,
                stale.reconcile * 1e3, a * 1e3);
  }
  if (!ok) return 1;
  const double b = Median(base), rc = Median(reconcile), sb = Median(staleBase), sr = Median(staleReconcile);
  std::printf("\n%-62s %9.1f ms\n", "start-up without reconcile (store opened, FileList.dat + MD5)", b * 1e3);
  std::printf("%-62s %9.1f ms  (+%.1f%%, aim <= 25%%)\n", "reconcile, all digests matching", rc * 1e3, rc / b * 100);
  std::printf("%-62s %9.1f ms\n", "  of which listing the store's digests (visit doing nothing)", Median(listOnly) * 1e3);
  std::printf("%-62s %9.1f ms\n", "  of which the catalogue lookups (every download name)", Median(lookups) * 1e3);
  std::printf("%-62s %9.1f ms  (+%.1f%% of %.1f ms; %zu removed)\n", "reconcile, 1% stale", sr * 1e3, sr / sb * 100,
              sb * 1e3, staleCount);
  std::printf("%-62s %9.1f ms\n", "udra_attach_store_and_catalogue of the library (all matching)",
              Median(attach) * 1e3);
  std::printf("\nstart-up with reconcile / without: %.3f (%.2fx the speed)\n", (b + rc) / b, b / (b + rc));
  return 0;
}
