#include <cstdio>

#include "Commands.h"
#include "LibraryHandle.h"
#include "udra/Diagnostics.h"

namespace udra::tool {

int InfoCommand(const Options& options) {
  LibraryHandle library;
  std::string error;
  if (!library.Open(options.dir, error)) {
    std::fprintf(stderr, "udra: %s\n", error.c_str());
    return 1;
  }
  auto getInfo = reinterpret_cast<UDRA_GetManagerInfoFn>(library.Symbol("udra_get_manager_info"));
  UDRAManagerInfo info{};
  if (!getInfo || getInfo(library.manager(), &info) != 0) {
    std::fprintf(stderr, "udra: the library gives no manager information\n");
    return 1;
  }
  const std::string fileList = *info.fileListPath ? info.fileListPath : "FileList.dat";
  if (options.json) {
    std::printf("{\"folder\":%s,\"version\":%s,\"uin\":%s,\"clientGuid\":%s,\"versionSection\":%s,\"fileList\":%s}\n",
                JsonStringFromAnsi(info.moduleFolder).c_str(), JsonString(info.version).c_str(),
                JsonString(info.uin).c_str(), JsonString(info.clientGuid).c_str(),
                JsonStringFromAnsi(info.versionSection).c_str(), JsonStringFromAnsi(fileList).c_str());
  } else {
    std::printf("folder:          %s\nversion:         %s\nuser id:         %s\nclient GUID:     %s\n"
                "version section: %s\nfile list:       %s\n",
                info.moduleFolder, info.version, info.uin, info.clientGuid, info.versionSection,
                fileList.c_str());
  }
  return 0;
}

}  // namespace udra::tool
