// The optional statistics component as the manager uses it: loading
// "UDRAStats.dll", obtaining and starting its object, forwarding the
// statistics calls, and giving everything back at the end.
//
// Every forwarding call does nothing while no object exists, so callers never
// check. The facade takes no lock: the manager calls it from the thread that
// owns its hidden window and from its own operations under its lock.
#pragma once

#include <cstdint>
#include <string>

#include "core/IUDRAStats.h"
#include "platform/Module.h"

namespace udra {

class StatsFacade {
 public:
  StatsFacade() = default;
  ~StatsFacade() { Unload(); }
  StatsFacade(const StatsFacade&) = delete;
  StatsFacade& operator=(const StatsFacade&) = delete;

  // Loads "UDRAStats.dll" from `folder`, obtains its object with GetUDRAStats
  // and calls StartStats. Returns StartStats's result; false also when the
  // module, the export or the object is missing (the component then stays
  // absent, and whatever was loaded is given back). A facade that already
  // holds a component refuses (false) and keeps it: nothing is loaded twice.
  bool Load(const std::string& folder);
  // StopStats, ReleaseUDRAStats (when exported) and freeing the module, each
  // only for what exists. Safe to call repeatedly.
  void Unload();

  bool present() const { return stats_ != nullptr; }

  void SetHostValue2(int32_t value);
  void SetHostValue1(int32_t value);
  void FileRequested(const std::string& name, int32_t packedSize, int32_t priority);
  void FileDone(const std::string& name, int32_t reportedSize, uint32_t elapsedMs, int32_t priority);
  void FileFailed(const std::string& name, int32_t reportedSize, uint32_t errorValue, const std::string& text,
                  int32_t priority);
  void FileCancelled(const std::string& name, int32_t priority);

 private:
  platform::ModuleHandle module_ = nullptr;
  IUDRAStats* stats_ = nullptr;
  ReleaseUDRAStatsFn release_ = nullptr;
};

}  // namespace udra
