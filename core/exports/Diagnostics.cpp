// Introspection for the tools on platforms where the library may export more
// than its two entry points.
#define UDRA_BUILDING_LIBRARY
#include "udra/Diagnostics.h"

#include <cstdio>

#include "core/ResourceManager.h"
#include "util/Paths.h"

namespace {

template <size_t N>
void Copy(char (&out)[N], const std::string& text) {
  std::snprintf(out, N, "%s", text.c_str());
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int udra_get_manager_info(IResourceManager* manager,
                                                                              UDRAManagerInfo* info) {
  if (!manager || !info) return -1;
  const auto* m = static_cast<const udra::ResourceManager*>(manager);
  std::string folder;
  udra::ModuleFolder(folder);
  Copy(info->version, m->version());
  Copy(info->uin, m->uin());
  Copy(info->clientGuid, m->clientGuid());
  Copy(info->versionSection, m->config().section());
  Copy(info->fileListPath, m->config().FileListPath());
  Copy(info->moduleFolder, folder);
  Copy(info->downloadUrlRoot, m->config().DownloadUrlRoot());
  return 0;
}

extern "C" __attribute__((visibility("default"))) int udra_attach_store_and_catalogue(IResourceManager* manager,
                                                                                   uint32_t cacheLimit) {
  if (!manager) return -1;
  return static_cast<udra::ResourceManager*>(manager)->AttachStoreAndCatalogue(cacheLimit) ? 0 : -1;
}
