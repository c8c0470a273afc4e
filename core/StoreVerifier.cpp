#include "core/StoreVerifier.h"

#include <algorithm>
#include <map>
#include <new>

#include "resources/EntryChecks.h"
#include "resources/PathRules.h"
#include "util/Md5.h"

namespace udra {
namespace {

std::string Folded(std::string_view name) {
  std::string out(name);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

// Serves one entry already read into memory to the content decoder.
class MemoryEntry : public IEntryReader {
 public:
  explicit MemoryEntry(const std::vector<char>& bytes) : bytes_(bytes) {}
  int32_t OpenEntry(const char*, int32_t, int32_t) override { return 0; }
  int32_t GetEntrySize(int32_t) override { return int32_t(bytes_.size()); }
  bool ReadEntry(int32_t, void* buffer, uint32_t* inoutSize) override {
    if (*inoutSize < bytes_.size()) return false;
    std::copy(bytes_.begin(), bytes_.end(), static_cast<char*>(buffer));
    *inoutSize = uint32_t(bytes_.size());
    return true;
  }

 private:
  const std::vector<char>& bytes_;
};

}  // namespace

const char* VerifyKindName(VerifyFinding::Kind kind) {
  switch (kind) {
    case VerifyFinding::Kind::Stale: return "stale";
    case VerifyFinding::Kind::Damaged: return "damaged";
    case VerifyFinding::Kind::Broken: return "broken";
    case VerifyFinding::Kind::Unnamed: return "unnamed";
  }
  return "unknown";
}

// A download name in scope: what its stored form must be, and the catalogued
// files it holds.
struct StoreVerifier::Target {
  std::string name;
  std::string packedDigest;
  int32_t packedSize = 0;
  std::string packageName;  // empty for a file stored on its own
  std::vector<FileListEntry> files;
  bool held = false;  // the store has an entry for it
};

bool StoreVerifier::Run(const std::vector<std::string>& paths, bool repair, const FindingFn& finding,
                        const ProgressFn& progress, VerifySummary& summary) {
  summary = VerifySummary{};
  IEntryDigests* digests = store_.digests();
  if (!digests) return false;

  // Download names in scope, by their case-folded name (store names fold case).
  std::map<std::string, Target> targets;
  auto add = [&targets](const FileListEntry& e) {
    if (e.size == -1) return;
    const std::string_view name = e.packageName.empty() ? e.name : e.packageName;
    Target& t = targets[Folded(name)];
    if (t.name.empty()) t = Target{std::string(name), std::string(e.packedDigest), e.packedSize,
                                   std::string(e.packageName), {}, false};
    t.files.push_back(e);
  };
  if (paths.empty()) {
    catalogue_.ForEach(add);
  } else {
    for (const std::string& path : paths) {
      const NormalPath normal = NormalizePath(path.c_str());
      FileListEntry entry;
      if (!catalogue_.find(normal.view(), entry)) continue;
      if (entry.size == -1)
        catalogue_.ForEachBelow(normal.view(), add);
      else
        add(entry);
    }
  }

  struct Row {
    std::string name, digest;
    int32_t size;
  };
  std::vector<Row> rows;
  const bool listed = digests->ListDigests(
      [](void* c, const char* name, int32_t size, const char* digest) {
        static_cast<std::vector<Row>*>(c)->push_back({name, digest, size});
      },
      &rows);
  if (!listed) return false;

  std::vector<std::string> remove;
  std::vector<VerifyFinding> found;
  size_t inScope = 0;
  for (const Row& row : rows) {
    auto it = targets.find(Folded(row.name));
    if (it == targets.end() && !paths.empty()) continue;
    ++inScope;
  }
  uint32_t done = 0;
  for (const Row& row : rows) {
    auto it = targets.find(Folded(row.name));
    if (it == targets.end() && !paths.empty()) continue;
    ++summary.entries;
    VerifyFinding f{VerifyFinding::Kind::Unnamed, row.name, "no catalogue entry names it", false};
    bool good = false;
    if (it != targets.end()) {
      good = CheckEntry(row.name, row.size, row.digest, it->second, f);
      it->second.held = true;
    }
    if (good) {
      ++summary.verified;
    } else {
      ++summary.problems;
      found.push_back(f);
      remove.push_back(row.name);
    }
    if (progress) progress(++done, uint32_t(inScope));
  }
  for (const auto& [folded, target] : targets)
    if (!target.held) ++summary.missing;

  const bool removed = repair && !remove.empty() && digests->RemoveEntries(remove);
  for (VerifyFinding& f : found) {
    f.repaired = removed;
    if (removed) ++summary.repaired;
    if (finding) finding(f);
  }
  return true;
}

bool StoreVerifier::CheckEntry(const std::string& name, int32_t size, const std::string& digest,
                               const Target& target, VerifyFinding& finding) {
  finding.kind = VerifyFinding::Kind::Stale;
  if (!digest.empty() && !SameDigest(digest, target.packedDigest)) {
    finding.detail = "stored with digest " + digest + ", the catalogue has " + target.packedDigest;
    return false;
  }
  if (size != target.packedSize) {
    finding.detail = "stored with " + std::to_string(size) + " bytes, the catalogue has " +
                     std::to_string(target.packedSize);
    return false;
  }
  finding.kind = VerifyFinding::Kind::Broken;
  const int32_t handle = store_.OpenEntry(name.c_str(), 1, 0);
  const int32_t storedSize = handle == -1 ? -1 : store_.GetEntrySize(handle);
  if (storedSize != size) {
    finding.detail = "its bytes cannot be read (a large entry's file missing or cut short)";
    return false;
  }
  std::vector<char> stored;
  try {
    stored.resize(size_t(storedSize));
  } catch (const std::bad_alloc&) {
    finding.detail = "too large to check in memory";
    return false;
  }
  uint32_t delivered = uint32_t(storedSize);
  if (storedSize > 0 && (!store_.ReadEntry(handle, stored.data(), &delivered) || delivered != uint32_t(storedSize))) {
    finding.detail = "its bytes cannot be read";
    return false;
  }
  finding.kind = VerifyFinding::Kind::Damaged;
  const std::string md5 = Md5::HexDigest(stored.data(), stored.size());
  if (!SameDigest(md5, target.packedDigest)) {
    finding.detail = "its bytes have MD5 " + md5 + ", the catalogue " + target.packedDigest;
    return false;
  }
  if (!CheckFiles(stored, target, finding)) return false;
  if (digest.empty()) store_.SetEntryDigest(name, size, md5);  // learnt: a store of the previous format
  return true;
}

// Every catalogued file the entry holds decodes to the catalogue's size and MD5.
bool StoreVerifier::CheckFiles(const std::vector<char>& stored, const Target& target, VerifyFinding& finding) {
  MemoryEntry entry(stored);
  for (const FileListEntry& file : target.files) {
    const DecodedContent content = DecodeContent(entry, decode_, file.name, file.packageName, file.size);
    const std::string key(file.name);
    if (content.outcome == DecodedContent::Outcome::Failed ||
        (content.outcome == DecodedContent::Outcome::Empty && file.size != 0)) {
      finding.detail = key + " does not decode to its catalogued " + std::to_string(file.size) + " bytes";
      return false;
    }
    const std::string md5 = content.outcome == DecodedContent::Outcome::Bytes
                                ? Md5::HexDigest(content.data.get(), content.size)
                                : Md5::HexDigest("", 0);
    if (!SameDigest(md5, file.digest)) {
      finding.detail = key + " decodes to MD5 " + md5 + ", the catalogue has " + std::string(file.digest);
      return false;
    }
  }
  return true;
}

}  // namespace udra
