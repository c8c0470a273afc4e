// An installation folder with published content already in its store.
#pragma once

#include <map>
#include <string>
#include <vector>

#include <memory>

#include "GameSession.h"
#include "platform/Module.h"
#include "support/TempDir.h"
#include "udra/IResourceManager.h"

namespace udra::test {

class Installation {
 public:
  // Publishes `files` (relative path with '/' → bytes) with udra-publish,
  // packaging the folders in `packages`, and lays out an installation whose
  // store holds every published entry.
  Installation(const std::map<std::string, std::string>& files, const std::vector<std::string>& packages);
  ~Installation();

  // Loads the library from the installation and brings it up with a real
  // Initialize (the host starts; every file is already in the store).
  IResourceManager* Open(uint32_t cacheLimit);
  void Release();

  const TempDir& folder() const { return install_; }

 private:
  void FillStore(const std::string& published);

  TempDir work_, install_, home_;
  std::unique_ptr<tool::GameSession> session_;
};

}  // namespace udra::test
