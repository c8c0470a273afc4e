#include "resources/ContentDecoder.h"

#include <cstring>
#include <new>
#include <string>

#include "resources/Package.h"

namespace udra {
namespace {

DecodedContent Failed() { return DecodedContent{}; }

DecodedContent Damaged() {
  DecodedContent content;
  content.damaged = true;
  return content;
}

DecodedContent Empty() {
  DecodedContent content;
  content.outcome = DecodedContent::Outcome::Empty;
  return content;
}

}  // namespace

DecodedContent DecodeContent(IEntryReader& store, const EntryDecoder& decode, std::string_view key,
                             std::string_view packageName, int32_t catalogSize, const StoredCheck& check) {
  if (catalogSize < 0 || !decode) return Failed();
  const bool packaged = !packageName.empty();
  const std::string fetchName(packaged ? packageName : key);

  const int32_t handle = store.OpenEntry(fetchName.c_str(), 1, 0);
  if (handle == -1) return Failed();
  const int32_t storedSize = store.GetEntrySize(handle);
  if (storedSize < 0) return Failed();
  if (storedSize == 0) return Empty();

  std::unique_ptr<char[]> stored(new (std::nothrow) char[size_t(storedSize)]);
  if (!stored) return Failed();
  uint32_t delivered = uint32_t(storedSize);
  // A short read is a failed read: the entry's bytes are incomplete.
  if (!store.ReadEntry(handle, stored.get(), &delivered) || delivered != uint32_t(storedSize)) {
    return Failed();
  }
  if (check && !check(stored.get(), uint32_t(storedSize))) return Damaged();

  const char* entryData = stored.get();
  int32_t entryLength = storedSize;
  std::unique_ptr<char[]> memberCopy;
  if (packaged) {
    PackageDirectory directory;
    if (!directory.Parse(reinterpret_cast<const uint8_t*>(stored.get()), size_t(storedSize))) return Damaged();
    PackageMember member;
    if (!directory.Find(PackageMemberName(packageName, key), member)) return Damaged();
    if (member.size == 0) return Empty();
    memberCopy.reset(new (std::nothrow) char[size_t(member.size)]);
    if (!memberCopy) return Failed();
    std::memcpy(memberCopy.get(), stored.get() + member.offset, size_t(member.size));
    stored.reset();
    entryData = memberCopy.get();
    entryLength = member.size;
  }

  char* decoded = nullptr;
  int32_t decodedSize = catalogSize;
  const bool ok = decode(entryData, entryLength, &decoded, &decodedSize);
  std::unique_ptr<char[]> owned(decoded);
  if (!ok || !owned || decodedSize != catalogSize) return Damaged();

  DecodedContent content;
  content.outcome = DecodedContent::Outcome::Bytes;
  content.data = std::move(owned);
  content.size = uint32_t(catalogSize);
  return content;
}

}  // namespace udra
