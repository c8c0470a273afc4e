#include "components/stats/StatsTable.h"

#include <cinttypes>
#include <cstdio>

namespace udra::stats {

namespace {

std::string Printable(const char* text, size_t limit) {
  std::string out;
  if (!text) return out;
  for (; *text && out.size() < limit; ++text) {
    const unsigned char c = static_cast<unsigned char>(*text);
    out.push_back(c < 0x20 || c == 0x7F ? '?' : static_cast<char>(c));
  }
  return out;
}

void AppendFigures(std::string& out, const FileFigures& f) {
  char line[256];
  std::snprintf(line, sizeof line, "%u\t%u\t%u\t%u\t%" PRId64 "\t%" PRId64 "\t%" PRIu64, f.requested, f.done,
                f.failed, f.cancelled, f.requestedBytes, f.doneBytes, f.doneMs);
  out += line;
}

}  // namespace

void StatsTable::Reset() { *this = StatsTable(); }

FileFigures* StatsTable::Slot(const char* name) {
  // A name longer than any download name the library sends is kept cut.
  std::string key = Printable(name, 1024);
  auto it = files_.find(key);
  if (it != files_.end()) return &it->second;
  if (files_.size() >= kMaxNames) {
    ++untrackedEvents_;
    return nullptr;
  }
  return &files_.emplace(std::move(key), FileFigures()).first->second;
}

void StatsTable::Requested(const char* name, int32_t packedSize) {
  for (FileFigures* f : {Slot(name), &totals_}) {
    if (!f) continue;
    ++f->requested;
    f->requestedBytes += packedSize;
  }
}

void StatsTable::Done(const char* name, int32_t reportedSize, uint32_t elapsedMs) {
  for (FileFigures* f : {Slot(name), &totals_}) {
    if (!f) continue;
    ++f->done;
    f->doneBytes += reportedSize;
    f->doneMs += elapsedMs;
  }
}

void StatsTable::Failed(const char* name, int32_t, uint32_t errorValue, const char* text) {
  for (FileFigures* f : {Slot(name), &totals_}) {
    if (!f) continue;
    ++f->failed;
    f->lastError = errorValue;
    f->lastErrorText = Printable(text, kMaxErrorText);
  }
}

void StatsTable::Cancelled(const char* name) {
  for (FileFigures* f : {Slot(name), &totals_}) {
    if (f) ++f->cancelled;
  }
}

std::string StatsTable::Summary() const {
  std::string out = "UDRAStats summary\n";
  char line[160];
  std::snprintf(line, sizeof line, "HostValue1\t%d\nHostValue2\t%d\n", hostValue1_, hostValue2_);
  out += line;
  out += "Totals\t";
  AppendFigures(out, totals_);
  std::snprintf(line, sizeof line, "\nUntrackedEvents\t%" PRIu64 "\nFiles\t%zu\n", untrackedEvents_, files_.size());
  out += line;
  out += "name\trequested\tdone\tfailed\tcancelled\trequestedBytes\tdoneBytes\tdoneMs\tlastError\tlastErrorText\n";
  for (const auto& [name, f] : files_) {
    out += name;
    out += '\t';
    AppendFigures(out, f);
    std::snprintf(line, sizeof line, "\t0x%08X\t", f.lastError);
    out += line;
    out += f.lastErrorText;
    out += '\n';
  }
  return out;
}

}  // namespace udra::stats
