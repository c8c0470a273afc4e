#include "resources/ContentDecoder.h"

#include <cstring>
#include <new>
#include <string>

#include "platform/Sync.h"
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

// Stored entries of at least this size are checked on a second thread while
// the calling thread deciphers and decodes them: the check then costs the
// first read next to nothing. Smaller ones are checked first, where a thread
// would cost more than it saves.
constexpr uint32_t kConcurrentCheckSize = 64u << 10;

// The check of one stored entry, run on its own thread or, when none can be
// started, at once on the calling one. The stored bytes must stay untouched
// and alive until Passed returns, which waits for the thread.
class PendingCheck {
 public:
  PendingCheck(const StoredCheck& check, const char* data, uint32_t size) {
    thread_ = platform::Thread::Start([this, &check, data, size] {
      passed_ = Run(check, data, size);
      return 0;
    });
    if (!thread_) passed_ = Run(check, data, size);
  }
  ~PendingCheck() { Join(); }
  PendingCheck(const PendingCheck&) = delete;
  PendingCheck& operator=(const PendingCheck&) = delete;

  bool Passed() {
    Join();
    return passed_;
  }

 private:
  static bool Run(const StoredCheck& check, const char* data, uint32_t size) {
    try {
      return check(data, size);
    } catch (...) {
      return false;  // out of memory: the bytes count as not checked
    }
  }
  void Join() {
    if (thread_) thread_->Wait(platform::kInfinite);
    thread_.reset();
  }

  bool passed_ = false;
  std::unique_ptr<platform::Thread> thread_;
};

// The decoded content of the stored bytes of `key` (the package, for a
// packaged file), not checked here.
DecodedContent DecodeStored(const EntryDecoder& decode, std::string_view key, std::string_view packageName,
                            int32_t catalogSize, const char* stored, int32_t storedSize) {
  const char* entryData = stored;
  int32_t entryLength = storedSize;
  if (!packageName.empty()) {
    PackageDirectory directory;
    if (!directory.Parse(reinterpret_cast<const uint8_t*>(stored), size_t(storedSize))) return Damaged();
    PackageMember member;
    if (!directory.Find(PackageMemberName(packageName, key), member)) return Damaged();
    // An empty member is the file only when the catalogue says it is empty.
    if (member.size == 0) return catalogSize == 0 ? Empty() : Damaged();
    entryData = stored + member.offset;
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

}  // namespace

DecodedContent DecodeContent(IEntryReader& store, const EntryDecoder& decode, std::string_view key,
                             std::string_view packageName, int32_t catalogSize, const StoredCheck& check) {
  if (catalogSize < 0 || !decode) return Failed();
  const std::string fetchName(!packageName.empty() ? packageName : key);

  const int32_t handle = store.OpenEntry(fetchName.c_str(), 1, 0);
  if (handle == -1) return Failed();
  const int32_t storedSize = store.GetEntrySize(handle);
  if (storedSize < 0) return Failed();
  if (storedSize == 0) {
    if (catalogSize == 0) return Empty();
    // An empty entry for a file the catalogue says has bytes can never give
    // them: it is damaged. The check still sees it, so that the caller can
    // tell these bytes are not the catalogue's.
    if (check) check("", 0);
    return Damaged();
  }

  std::unique_ptr<char[]> stored(new (std::nothrow) char[size_t(storedSize)]);
  if (!stored) return Failed();
  uint32_t delivered = uint32_t(storedSize);
  // A short read is a failed read: the entry's bytes are incomplete.
  if (!store.ReadEntry(handle, stored.get(), &delivered) || delivered != uint32_t(storedSize)) {
    return Failed();
  }
  if (!check) return DecodeStored(decode, key, packageName, catalogSize, stored.get(), storedSize);
  if (uint32_t(storedSize) < kConcurrentCheckSize) {
    if (!check(stored.get(), uint32_t(storedSize))) return Damaged();
    return DecodeStored(decode, key, packageName, catalogSize, stored.get(), storedSize);
  }
  // Decoded while being checked: whatever the decode gave, bytes that fail
  // the check make the outcome Damaged, as when the check comes first. Only
  // the decoder reads unchecked bytes, and it is made for damaged input.
  PendingCheck pending(check, stored.get(), uint32_t(storedSize));
  DecodedContent content = DecodeStored(decode, key, packageName, catalogSize, stored.get(), storedSize);
  if (!pending.Passed()) return Damaged();
  return content;
}

}  // namespace udra
