// The udra tool's commands.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "JsonText.h"

namespace udra::tool {

struct Options {
  std::string dir;            // the installation folder
  std::string url;            // URL root; empty: the installation's configured root
  uint32_t cacheLimit = 64u << 20;
  int32_t priority = 0;
  uint32_t timeoutSeconds = 600;
  bool json = false;
  bool repair = false;
  std::vector<std::string> paths;
};

int InfoCommand(const Options& options);
int InitCommand(const Options& options);
int ListCommand(const Options& options);
int StatCommand(const Options& options);
int CatCommand(const Options& options);
int SyncCommand(const Options& options);
int ExtractCommand(const Options& options);
int VerifyCommand(const Options& options);
int PreDownloadCommand(const Options& options);


}  // namespace udra::tool
