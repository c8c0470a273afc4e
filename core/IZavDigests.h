// The archive store's digest extension: what "ZAV.dll" knows of each entry
// beyond its bytes, reached through the optional export GetZAVDigests.
//
// Every entry may carry the packed digest (MD5 of its stored bytes, 32
// hexadecimal digits) that its writer verified it against. The library uses it
// to follow the catalogue across content versions (an entry whose digest is
// not the catalogue's is stale) and to drop entries it found damaged; the host
// records it with every download and uses it to tell a current entry from a
// stale one of the same name.
//
// A store without the export is a store of the original kind: the library
// then does without (GetZAVDigests is looked up by name, like GetZAV).
//
// Binary interface, as for IZav: the slot order below never changes; members
// use __thiscall on 32-bit Windows; the export is a plain cdecl function;
// "bool" is one byte; the callback is a plain cdecl function. The object
// belongs to the store it was obtained for and lives as long as that store
// object; it is never released on its own. No operation throws.
//
//   0 GetVersion              4 ListDigests
//   1 PutEntriesWithDigests   5 SetEntryDigest
//   2 MoveEntryFromFileWithDigest  6 RemoveEntries
//   3 GetEntryDigests
#pragma once

#include <cstdint>

#include "core/IZav.h"

namespace udra {

// Version of the extension that GetVersion reports.
constexpr int32_t kZavDigestsVersion = 1;
// Room for a digest and its terminator.
constexpr uint32_t kZavDigestField = 33;

// One complete entry for PutEntriesWithDigests. `digest` is 32 hexadecimal
// digits (either case; stored upper-case), or null when it is not known.
struct ZavDigestEntry {
  const char* name;
  const void* data;  // may be null when size is 0
  uint32_t size;
  const char* digest;
};

// A digest as GetEntryDigests reports it: upper-case, "" when not known.
struct ZavDigestText {
  char text[kZavDigestField];
};

// Called by ListDigests once per entry with its size and digest ("" when not
// known); return false to stop early. The callback may call the store.
typedef bool (*ZavDigestCallback)(void* context, const char* name, int32_t size, const char* digest);

class IZavDigests {
 public:
  // 0: kZavDigestsVersion.
  virtual int32_t GetVersion() = 0;
  // 1: as IZav::PutEntries, each entry recording its digest (or none).
  virtual bool PutEntriesWithDigests(const ZavDigestEntry* entries, uint32_t count) = 0;
  // 2: as IZav::MoveEntryFromFile, recording `digest` (or none when null).
  virtual bool MoveEntryFromFileWithDigest(const char* name, const char* filePath, const char* digest) = 0;
  // 3: the sizes and digests of `count` entries from one state of the store:
  // sizes[i] is -1 when names[i] is absent (its digest then ""), digests[i]
  // "" when the entry's digest is not known. False, with every size -1, when
  // the store cannot be read. `digests` may be null.
  virtual bool GetEntryDigests(const char* const* names, uint32_t count, int32_t* sizes,
                               ZavDigestText* digests) = 0;
  // 4: calls `callback` for every entry, in name order, without reading the
  // entries' bytes (read in pages: an entry written or removed meanwhile may or may not be
  // seen); the number of entries visited, -1 on failure.
  virtual int32_t ListDigests(ZavDigestCallback callback, void* context) = 0;
  // 5: records `digest` for the entry `name`, provided it still holds `size`
  // bytes (a reader verified those bytes). False when the entry is absent or
  // of another size, or the digest is not 32 hexadecimal digits.
  virtual bool SetEntryDigest(const char* name, int32_t size, const char* digest) = 0;
  // 6: removes `count` entries in one commit; true also for names that did
  // not exist. Invalid names are skipped.
  virtual bool RemoveEntries(const char* const* names, uint32_t count) = 0;

 protected:
  ~IZavDigests() {}
};

constexpr int kZavDigestsSlotCount = 7;

extern "C" {
// The extension of a store object from the same module's GetZAV; null for a
// null store.
typedef IZavDigests* (*GetZavDigestsFn)(IZav* store);
}

constexpr const char kGetZavDigestsExport[] = "GetZAVDigests";

// True when `text` is exactly 32 hexadecimal digits.
inline bool IsDigestText(const char* text) {
  if (text == nullptr) return false;
  for (int i = 0; i < 32; ++i) {
    const char c = text[i];
    const bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    if (!hex) return false;
  }
  return text[32] == '\0';
}

}  // namespace udra
