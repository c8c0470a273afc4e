// The two exports of "ZAV.dll".
#include <new>

#include "components/store/ZavStore.h"

#define ZAV_EXPORT extern "C" __attribute__((visibility("default")))

ZAV_EXPORT udra::IZav* GetZAV() { return new (std::nothrow) udra::store::ZavStore(); }

ZAV_EXPORT void ReleaseZAV(udra::IZav* store) {
  if (store != nullptr) store->DeletingDestructor(1);
}
