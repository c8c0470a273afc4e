// The store's last error, shared by its readers and writers.
#pragma once

#include <atomic>
#include <mutex>
#include <string>

#include "core/IZav.h"

namespace udra::store {

class ErrorState {
 public:
  // Records a failure. A failure that shows the database damaged also leaves
  // the damage marker (when one is set), so that the next Load reports the
  // store as damaged and its owner rebuilds it.
  void Fail(ZavErrorCode code, int sqliteResult = 0);
  // Records a failure of the database engine, classified by its result code.
  void FailSqlite(int sqliteResult);
  void Clear();

  int32_t code() const { return code_.load(); }
  int32_t sqliteResult() const { return sqlite_.load(); }

  void SetDamageMarker(const std::string& path);

 private:
  std::atomic<int32_t> code_{kZavOk};
  std::atomic<int32_t> sqlite_{0};
  std::mutex markerMutex_;
  std::string marker_;
};

// Throughout the store: a usable entry or folder name.
bool IsValidName(const char* name);

}  // namespace udra::store
