// Checks the archive store against the catalogue, entry by entry, for the
// operator (udra verify): entries of another content version, entries whose
// stored bytes or decoded files are not what the catalogue describes, large
// entries whose file is missing or cut short, and entries no catalogue entry
// names. Optionally removes what it found, so that the next sync fetches it.
//
// Needs the store's digest extension (a store that lists its entries with
// their sizes and digests).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/ArchiveStore.h"
#include "resources/ContentDecoder.h"
#include "resources/FileList.h"

namespace udra {

struct VerifyFinding {
  enum class Kind { Stale, Damaged, Broken, Unnamed };
  Kind kind;
  std::string name;    // the store entry (a download name)
  std::string detail;  // what was found, for a person
  bool repaired = false;
};

const char* VerifyKindName(VerifyFinding::Kind kind);

struct VerifySummary {
  uint32_t entries = 0;   // store entries looked at
  uint32_t verified = 0;  // of those, found good
  uint32_t missing = 0;   // download names in scope the store does not hold
  uint32_t problems = 0;
  uint32_t repaired = 0;
};

class StoreVerifier {
 public:
  using FindingFn = std::function<void(const VerifyFinding&)>;
  using ProgressFn = std::function<void(uint32_t done, uint32_t total)>;

  StoreVerifier(const FileList& catalogue, ArchiveStore& store, EntryDecoder decode)
      : catalogue_(catalogue), store_(store), decode_(std::move(decode)) {}

  // Checks the entries for the catalogued `paths` (files or folders), or
  // every entry of the store when `paths` is empty (only then are entries
  // that no catalogue entry names reported). With `repair` the entries found
  // wanting are removed. False when the store cannot be listed.
  bool Run(const std::vector<std::string>& paths, bool repair, const FindingFn& finding,
           const ProgressFn& progress, VerifySummary& summary);

 private:
  struct Target;
  bool CheckEntry(const std::string& name, int32_t size, const std::string& digest, const Target& target,
                  VerifyFinding& finding);
  bool CheckFiles(const std::vector<char>& stored, const Target& target, VerifyFinding& finding);

  const FileList& catalogue_;
  ArchiveStore& store_;
  EntryDecoder decode_;
};

}  // namespace udra
