#include "platform/SharedMemory.h"

#include <windows.h>

#include <mutex>
#include <unordered_set>

namespace udra::platform {
namespace {

class FileMapping : public SharedMemory {
 public:
  FileMapping(HANDLE mapping, bool writable, uint64_t size) : mapping_(mapping), writable_(writable), size_(size) {}
  ~FileMapping() override {
    for (void* view : views_) UnmapViewOfFile(view);
    CloseHandle(mapping_);
  }

  void* MapView(uint64_t offset, size_t length) override {
    if (offset % kViewAlignment) return nullptr;
    const DWORD access = writable_ ? (FILE_MAP_READ | FILE_MAP_WRITE) : FILE_MAP_READ;
    void* view = MapViewOfFile(mapping_, access, static_cast<DWORD>(offset >> 32),
                               static_cast<DWORD>(offset & 0xFFFFFFFFu), length);
    if (!view) return nullptr;
    std::lock_guard<std::mutex> lock(mu_);
    views_.insert(view);
    return view;
  }

  bool UnmapView(void* view) override {
    std::lock_guard<std::mutex> lock(mu_);
    if (!views_.erase(view)) return false;
    return UnmapViewOfFile(view) == 1;
  }

  uint64_t size() const override {
    if (size_) return size_;
    // An opened mapping does not tell its size: a whole view does (in pages).
    void* view = MapViewOfFile(mapping_, FILE_MAP_READ, 0, 0, 0);
    if (!view) return 0;
    MEMORY_BASIC_INFORMATION info = {};
    const uint64_t size = VirtualQuery(view, &info, sizeof info) ? info.RegionSize : 0;
    UnmapViewOfFile(view);
    return size;
  }

 private:
  HANDLE mapping_;
  bool writable_;
  uint64_t size_;
  std::mutex mu_;
  std::unordered_set<void*> views_;
};

}  // namespace

std::unique_ptr<SharedMemory> SharedMemory::Create(const std::string& name, uint64_t size, int* error) {
  if (size == 0) {
    if (error) *error = ERROR_INVALID_PARAMETER;
    return nullptr;
  }
  HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, static_cast<DWORD>(size >> 32),
                                      static_cast<DWORD>(size & 0xFFFFFFFFu), name.c_str());
  if (!mapping) {
    if (error) *error = static_cast<int>(GetLastError());
    return nullptr;
  }
  return std::make_unique<FileMapping>(mapping, true, 0);
}

std::unique_ptr<SharedMemory> SharedMemory::Open(const std::string& name, bool writable) {
  HANDLE mapping = OpenFileMappingA(writable ? (FILE_MAP_READ | FILE_MAP_WRITE) : FILE_MAP_READ, FALSE, name.c_str());
  if (!mapping) return nullptr;
  return std::make_unique<FileMapping>(mapping, writable, 0);
}

}  // namespace udra::platform
