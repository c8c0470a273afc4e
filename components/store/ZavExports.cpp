// The two exports of "ZAV.dll".
#include "components/store/ZavStore.h"

#define ZAV_EXPORT extern "C" __attribute__((visibility("default")))

ZAV_EXPORT udra::IZav* GetZAV() {
  try {
    return new udra::store::ZavStore();
  } catch (...) {
    return nullptr;
  }
}

ZAV_EXPORT void ReleaseZAV(udra::IZav* store) {
  if (store != nullptr) store->DeletingDestructor(1);
}

// The digest extension of a store from GetZAV above (the same object).
ZAV_EXPORT udra::IZavDigests* GetZAVDigests(udra::IZav* store) {
  return store != nullptr ? static_cast<udra::store::ZavStore*>(store) : nullptr;
}
