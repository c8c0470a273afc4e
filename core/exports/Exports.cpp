// The library's two exports.
#define UDRA_BUILDING_LIBRARY
#include <new>

#include "core/ResourceManager.h"

#if defined(_WIN32)
#define UDRA_EXPORT
#else
#define UDRA_EXPORT __attribute__((visibility("default")))
#endif

namespace {

udra::ResourceManager* g_manager = nullptr;

}  // namespace

// The first call builds the manager, later calls return it. After
// ReleaseResourceManager the manager is forgotten, so a later call builds a
// new one instead of handing out a freed object. A construction that fails
// yields null rather than an exception crossing into the game.
extern "C" UDRA_EXPORT IResourceManager* GetResourceManager(void) {
  if (!g_manager) {
    try {
      g_manager = new udra::ResourceManager();
    } catch (...) {
      g_manager = nullptr;
    }
  }
  return g_manager;
}

extern "C" UDRA_EXPORT void ReleaseResourceManager(IResourceManager* manager) {
  if (!manager) return;
  if (manager == g_manager) g_manager = nullptr;
  manager->DeletingDestructor(1);
}
