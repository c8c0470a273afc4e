// A store of the original kind for the tests: the project's store, but
// exporting only GetZAV and ReleaseZAV, without the digest extension.
#include "components/store/ZavStore.h"

extern "C" __attribute__((visibility("default"))) udra::IZav* GetZAV() {
  try {
    return new udra::store::ZavStore();
  } catch (...) {
    return nullptr;
  }
}

extern "C" __attribute__((visibility("default"))) void ReleaseZAV(udra::IZav* store) {
  if (store != nullptr) store->DeletingDestructor(1);
}
