#include "resources/CataloguePreload.h"

namespace udra {

CataloguePreload::Stamp CataloguePreload::StampOf(const std::string& path) {
  Stamp stamp;
  stamp.size = platform::RegularFileSize(path);
  stamp.known = stamp.size >= 0 && platform::IdentityOf(path, stamp.identity);
  return stamp;
}

void CataloguePreload::Start(const std::string& path) {
  Discard();
  // The stamp is taken before the read: a file replaced while it is read
  // no longer matches it at Take.
  stamp_ = StampOf(path);
  if (!stamp_.known) return;
  path_ = path;
  list_ = std::make_unique<FileList>();
  thread_ = platform::Thread::Start([this] {
    parsed_ = list_->load(path_);
    return 0;
  });
  if (!thread_) Discard();
}

void CataloguePreload::Join() {
  if (!thread_) return;
  thread_->Wait(platform::kInfinite);
  thread_.reset();
}

bool CataloguePreload::Take(const std::string& path, FileList& list, bool& parsed) {
  Join();
  const bool usable = list_ && path == path_ && StampOf(path) == stamp_;
  if (usable) {
    list.TakeLoaded(*list_);
    parsed = parsed_;
  }
  Discard();
  return usable;
}

void CataloguePreload::Discard() {
  Join();
  list_.reset();
  path_.clear();
  stamp_ = Stamp();
  parsed_ = false;
}

}  // namespace udra
