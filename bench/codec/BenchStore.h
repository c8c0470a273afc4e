// The store of a benchmark's installation, written through the "ZAV.dll" the
// library will load from that folder: created, then every entry put with its
// digest.
#pragma once

#include <filesystem>
#include <vector>

#include "core/IZav.h"
#include "core/IZavDigests.h"
#include "platform/Module.h"

inline bool FillBenchStore(const std::filesystem::path& dir, const std::vector<udra::ZavDigestEntry>& entries) {
  udra::platform::ModuleHandle zavModule = udra::platform::LoadModule((dir / "ZAV.dll").string());
  auto get = reinterpret_cast<udra::GetZavFn>(udra::platform::ModuleSymbol(zavModule, udra::kGetZavExport));
  auto release = reinterpret_cast<udra::ReleaseZavFn>(udra::platform::ModuleSymbol(zavModule, udra::kReleaseZavExport));
  auto digests = reinterpret_cast<udra::GetZavDigestsFn>(
      udra::platform::ModuleSymbol(zavModule, udra::kGetZavDigestsExport));
  if (!get || !release || !digests) return false;
  udra::IZav* zav = get();
  udra::IZavDigests* ext = zav ? digests(zav) : nullptr;
  bool ok = ext && zav->Create((dir / "UDRADownload").string().c_str(), 0, 0);
  for (const udra::ZavDigestEntry& e : entries) ok = ok && ext->PutEntriesWithDigests(&e, 1);
  if (zav) {
    ok = zav->Close() && ok;
    release(zav);
  }
  return ok;
}
