// Introspection for the tools on platforms where the library may export more
// than its two entry points.
#define UDRA_BUILDING_LIBRARY
#include "udra/Diagnostics.h"

#include <cstdio>

#include "core/ResourceManager.h"
#include "resources/PathRules.h"
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

extern "C" __attribute__((visibility("default"))) int udra_get_sync_failure(IResourceManager* manager,
                                                                              int32_t syncId, UDRASyncFailure* out) {
  if (!manager || !out) return -1;
  try {
    udra::SyncRecord record;
    if (!static_cast<const udra::ResourceManager*>(manager)->syncs().Find(syncId, record)) return -1;
    *out = UDRASyncFailure{};
    out->state = record.state;
    out->code = record.errCode;
    out->kind = record.errKind;
    Copy(out->name, record.failedName);
    Copy(out->text, record.errorText);
    return 0;
  } catch (...) {
    return -1;
  }
}

extern "C" __attribute__((visibility("default"))) int udra_catalogue_key(IResourceManager* manager, const char* path,
                                                                           char* out, uint32_t outSize) {
  if (!manager || !path || !out || outSize == 0) return -1;
  const udra::NormalPath normal = udra::NormalizePath(path);
  std::string_view key;
  udra::FileListEntry entry;
  const auto& files = static_cast<const udra::ResourceManager*>(manager)->fileList();
  if (!udra::CatalogueKey(normal.view(), key) || !files.find(key, entry)) return -1;
  std::snprintf(out, outSize, "%.*s", static_cast<int>(entry.name.size()), entry.name.data());
  return 0;
}

extern "C" __attribute__((visibility("default"))) int udra_catalogue_top_level(IResourceManager* manager,
                                                                                 UDRACatalogueKeyFn visit,
                                                                                 void* context) {
  if (!manager) return -1;
  try {
    int count = 0;
    static_cast<const udra::ResourceManager*>(manager)->fileList().ForEach([&](const udra::FileListEntry& e) {
      if (e.name.find('\\') != std::string_view::npos) return;
      ++count;
      if (visit) visit(context, std::string(e.name).c_str());
    });
    return count;
  } catch (...) {
    return -1;
  }
}

extern "C" __attribute__((visibility("default"))) int udra_predownload_list(IResourceManager* manager,
                                                                              UDRACatalogueKeyFn visit, void* context) {
  if (!manager) return -1;
  const auto& names = static_cast<const udra::ResourceManager*>(manager)->config().PreDownloadPackages();
  if (visit)
    for (const std::string& name : names) visit(context, name.c_str());
  return static_cast<int>(names.size());
}

extern "C" __attribute__((visibility("default"))) int udra_attach_store_and_catalogue(IResourceManager* manager,
                                                                                   uint32_t cacheLimit) {
  if (!manager) return -1;
  return static_cast<udra::ResourceManager*>(manager)->AttachStoreAndCatalogue(cacheLimit) ? 0 : -1;
}

extern "C" __attribute__((visibility("default"))) int udra_verify_store(
    IResourceManager* manager, const char* const* paths, uint32_t pathCount, int repair, UDRAVerifyFindingFn finding,
    UDRAVerifyProgressFn progress, void* context, UDRAVerifySummary* summary) {
  if (!manager || (pathCount > 0 && !paths)) return -1;
  try {
    auto* m = static_cast<udra::ResourceManager*>(manager);
    std::vector<std::string> scope;
    for (uint32_t i = 0; i < pathCount; ++i)
      if (paths[i]) scope.emplace_back(paths[i]);
    udra::VerifySummary result;
    const bool ran = m->VerifyStore(
        scope, repair != 0,
        [&](const udra::VerifyFinding& f) {
          if (!finding) return;
          const UDRAVerifyFinding out{udra::VerifyKindName(f.kind), f.name.c_str(), f.detail.c_str(), f.repaired ? 1 : 0};
          finding(context, &out);
        },
        [&](uint32_t done, uint32_t total) {
          if (progress) progress(context, done, total);
        },
        result);
    if (!ran) return m->HasStore() && !m->HasStoreDigests() ? -2 : -1;
    if (summary) *summary = UDRAVerifySummary{result.entries, result.verified, result.missing, result.problems,
                                              result.repaired};
    return 0;
  } catch (...) {
    return -1;
  }
}
