// The statistics component's binary interface: the object that
// "UDRAStats.dll" hands out through GetUDRAStats and takes back through
// ReleaseUDRAStats.
//
// The library calls the object only by virtual-table slot, so the slot order
// below is the binary interface and must never change:
//
//   0 DeletingDestructor   3 SetHostValue2   6 FileDone
//   1 StartStats           4 SetHostValue1   7 FileFailed
//   2 StopStats            5 FileRequested   8 FileCancelled
//
// Slot 0 is one virtual function taking the deleting flag, laid out as the
// Windows compiler lays out a virtual destructor. A C++ virtual destructor
// would take two slots under the Itanium ABI and shift every other slot, so
// the interface declares none; objects are given back through
// ReleaseUDRAStats. The library never calls slot 0. On 32-bit Windows the
// members use __thiscall (the compiler's default for member functions there)
// and the exports are plain cdecl functions.
//
// Conventions: names and texts are NUL-terminated byte strings in the ANSI
// code page; every number is 32 bits; "bool" is one byte. The only result the
// library relies on is StartStats's. No operation throws.
#pragma once

#include <cstdint>

namespace udra {

class IUDRAStats {
 public:
  // 0: bit 0 of flags set frees the object. Callers use ReleaseUDRAStats.
  virtual void DeletingDestructor(unsigned int flags) = 0;

  // 1: begins a statistics session. Non-zero makes the manager reset its two
  // host values to 0.
  virtual bool StartStats() = 0;
  // 2: ends the session (before ReleaseUDRAStats).
  virtual void StopStats() = 0;

  // 3 and 4: the host's two values, handed over once a second.
  virtual void SetHostValue2(int32_t value) = 0;
  virtual void SetHostValue1(int32_t value) = 0;

  // 5: a download request for `name` was sent.
  virtual void FileRequested(const char* name, int32_t packedSize, int32_t priority) = 0;
  // 6: `name` was downloaded; `elapsedMs` counts from the start of its sync.
  virtual void FileDone(const char* name, int32_t reportedSize, uint32_t elapsedMs, int32_t priority) = 0;
  // 7: `name` failed; `errorValue` is the host's error code (low half) and
  // kind (high half); `text` the host's message, " ID: " and the sync id.
  virtual void FileFailed(const char* name, int32_t reportedSize, uint32_t errorValue, const char* text,
                          int32_t priority) = 0;
  // 8: the request for `name` was cancelled.
  virtual void FileCancelled(const char* name, int32_t priority) = 0;

 protected:
  ~IUDRAStats() {}
};

// Number of slots of IUDRAStats's virtual table.
constexpr int kStatsSlotCount = 9;

static_assert(sizeof(bool) == 1, "StartStats's result is a one-byte bool");

extern "C" {
// Export names looked up in "UDRAStats.dll".
typedef IUDRAStats* (*GetUDRAStatsFn)();
typedef void (*ReleaseUDRAStatsFn)(IUDRAStats* stats);
}

constexpr const char kStatsModuleName[] = "UDRAStats.dll";
constexpr const char kGetStatsExport[] = "GetUDRAStats";
constexpr const char kReleaseStatsExport[] = "ReleaseUDRAStats";

}  // namespace udra
