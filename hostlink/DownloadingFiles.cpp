#include "hostlink/DownloadingFiles.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "util/Paths.h"

namespace udra {
namespace {

constexpr uint64_t kHeaderSize = 12;  // entryLength, doneBytes, the host's 4 bytes

uint32_t LoadU32(const uint8_t* at) {
  return uint32_t(at[0]) | uint32_t(at[1]) << 8 | uint32_t(at[2]) << 16 | uint32_t(at[3]) << 24;
}

int32_t LoadI32(const uint8_t* at) {
  return static_cast<int32_t>(LoadU32(at));
}

char FoldAscii(char c) {
  return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

// The entry's name is the bytes of its name field up to the first NUL, or
// the whole field when it has none; compared without ASCII letter case.
bool NameMatches(const uint8_t* field, uint64_t fieldSize, const std::string& name) {
  const void* nul = std::memchr(field, 0, fieldSize);
  const uint64_t length = nul ? static_cast<uint64_t>(static_cast<const uint8_t*>(nul) - field) : fieldSize;
  if (length != name.size()) return false;
  for (size_t i = 0; i < name.size(); ++i)
    if (FoldAscii(static_cast<char>(field[i])) != FoldAscii(name[i])) return false;
  return true;
}

}  // namespace

DownloadingFiles::DownloadingFiles() = default;

DownloadingFiles::DownloadingFiles(std::string key) : m_key(std::move(key)) {}

std::string DownloadingFiles::TableName(const std::string& key) {
  return "Global\\DownloadingFileInfos_" + key;
}

bool DownloadingFiles::Open() {
  Close();
  m_sharedSpaces = platform::SharedMemory::Open(TableName(m_key ? *m_key : InstanceKey()), false);
  if (!m_sharedSpaces) return false;
  uint64_t span = kTableSpan;
  void* view = m_sharedSpaces->MapView(0, static_cast<size_t>(span));
  if (!view) {
    const uint64_t total = m_sharedSpaces->size();
    if (total > 0 && total < span) {
      span = total;
      view = m_sharedSpaces->MapView(0, static_cast<size_t>(span));
    }
  }
  if (view) {
    m_view = static_cast<const uint8_t*>(view);
    m_viewSize = span;
  }
  return true;
}

void DownloadingFiles::Close() {
  if (m_view) m_sharedSpaces->UnmapView(const_cast<uint8_t*>(m_view));
  m_view = nullptr;
  m_viewSize = 0;
  m_sharedSpaces.reset();
}

DownloadingFiles::~DownloadingFiles() { Close(); }

bool DownloadingFiles::GetDownloadedBytesAt(const std::string& name, uint64_t& hint, int32_t& out) {
  if (!m_sharedSpaces) return false;
  if (hint != 0 && ReadAt(hint - 1, name, out) == Entry::Read) return true;
  uint64_t offset = 0;
  if (!Lookup(name, out, offset)) {
    hint = 0;
    return false;
  }
  hint = offset + 1;
  return true;
}

bool DownloadingFiles::GetDownloadedBytes(const std::string& name, int32_t& out, const StoredSizes* store) {
  if (store && store->hasEntry && store->entrySizeByName && store->hasEntry(name)) {
    out = store->entrySizeByName(name);
    return out != -1;
  }
  if (!m_sharedSpaces) return false;
  uint64_t offset = 0;
  return Lookup(name, out, offset);
}

bool DownloadingFiles::Lookup(const std::string& name, int32_t& out, uint64_t& offset) {
  const auto known = m_downloadingFiles.find(name);
  if (known != m_downloadingFiles.end()) {
    const Entry read = ReadAt(known->second, name, out);
    offset = known->second;
    if (read != Entry::Reused) return read == Entry::Read;
    // The host gave the entry of an ended download to another name: look
    // for the name afresh.
    m_downloadingFiles.erase(known);
  }
  if (!Search(name, out, offset)) return false;
  m_downloadingFiles.emplace(name, offset);
  return true;
}

DownloadingFiles::Entry DownloadingFiles::ReadAt(uint64_t offset, const std::string& name, int32_t& out) {
  if (m_view && offset < m_viewSize && m_viewSize - offset >= kHeaderSize + name.size() + 1) {
    const uint8_t* entry = m_view + offset;
    if (!NameMatches(entry + kHeaderSize, name.size() + 1, name)) return Entry::Reused;
    out = LoadI32(entry + 4);
    return Entry::Read;
  }
  const uint64_t start = offset / platform::SharedMemory::kViewAlignment * platform::SharedMemory::kViewAlignment;
  // The entry's header and its name with the NUL.
  const uint64_t need = (offset - start) + kHeaderSize + name.size() + 1;
  uint64_t length = std::max(need, (offset - start) + kEntrySpan);
  auto* view = static_cast<const uint8_t*>(m_sharedSpaces->MapView(start, static_cast<size_t>(length)));
  if (!view) {
    // An entry close to the end of the mapping is read from a shorter view,
    // as long as that still holds the entry's first 8 bytes.
    const uint64_t total = m_sharedSpaces->size();
    if (total <= start || total - start >= length || total - start < need) return Entry::Failed;
    length = total - start;
    view = static_cast<const uint8_t*>(m_sharedSpaces->MapView(start, static_cast<size_t>(length)));
    if (!view) return Entry::Failed;
  }
  const uint8_t* entry = view + (offset - start);
  const bool same = NameMatches(entry + kHeaderSize, name.size() + 1, name);
  const int32_t done = LoadI32(entry + 4);
  if (!m_sharedSpaces->UnmapView(const_cast<uint8_t*>(view))) return Entry::Failed;
  if (!same) return Entry::Reused;
  out = done;
  return Entry::Read;
}

bool DownloadingFiles::Search(const std::string& name, int32_t& out, uint64_t& offset) {
  uint64_t span = m_view ? m_viewSize : kTableSpan;
  const uint8_t* view = m_view;
  if (!view) view = static_cast<const uint8_t*>(m_sharedSpaces->MapView(0, static_cast<size_t>(span)));
  if (!view) {
    // A mapping smaller than the table's limit is walked within its own size.
    const uint64_t total = m_sharedSpaces->size();
    if (total == 0 || total >= span) return false;
    span = total;
    view = static_cast<const uint8_t*>(m_sharedSpaces->MapView(0, static_cast<size_t>(span)));
    if (!view) return false;
  }
  bool found = false;
  int32_t done = 0;
  uint64_t at = 0;
  // Each entry must lie wholly inside the view; one that does not, or that
  // is too short to hold its header, ends the walk as the end of the table.
  while (span - at >= 4) {
    const uint32_t entryLength = LoadU32(view + at);
    if (entryLength == 0 || entryLength < kHeaderSize || entryLength > span - at) break;
    if (NameMatches(view + at + kHeaderSize, entryLength - kHeaderSize, name)) {
      done = LoadI32(view + at + 4);
      offset = at;
      found = true;
      break;
    }
    at += entryLength;
  }
  if (view != m_view && !m_sharedSpaces->UnmapView(const_cast<uint8_t*>(view))) return false;
  if (!found) return false;
  out = done;
  return true;
}

}  // namespace udra
