#include "components/store/ErrorState.h"

#include <cstdio>
#include <cstring>

#include "components/store/StoreSchema.h"

namespace udra::store {

void ErrorState::Fail(ZavErrorCode code, int sqliteResult) {
  code_.store(code);
  sqlite_.store(sqliteResult);
  if (code != kZavErrDamaged) return;
  std::lock_guard<std::mutex> lock(markerMutex_);
  if (marker_.empty()) return;
  FILE* f = std::fopen(marker_.c_str(), "wb");
  if (f != nullptr) std::fclose(f);
}

void ErrorState::FailSqlite(int sqliteResult) {
  ZavErrorCode code = ErrorCodeOf(sqliteResult);
  Fail(code == kZavOk ? kZavErrIo : code, sqliteResult);
}

void ErrorState::Clear() {
  code_.store(kZavOk);
  sqlite_.store(0);
}

void ErrorState::SetDamageMarker(const std::string& path) {
  std::lock_guard<std::mutex> lock(markerMutex_);
  marker_ = path;
}

bool IsValidName(const char* name) {
  if (name == nullptr || name[0] == '\0') return false;
  return strnlen(name, kZavMaxNameLength + 1) <= kZavMaxNameLength;
}

}  // namespace udra::store
