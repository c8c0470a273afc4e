// The content the download measurements sync: folders of random, barely
// compressible files published with udra-publish into the server's root.
//
// liblzma needs about 7 s per 32 MiB of random bytes here even at level 0,
// so a set may publish only its first `distinct` files and repeat their
// stored entries under the remaining names (udra-publish writes the same
// entry for the same bytes, so the tree is the one it would write). Every
// name is still a separate download for the system and for curl.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace udra::sysbench {

struct DataSet {
  std::string folder;  // catalogue folder, also the folder below the URL folder
  int count = 0;
  int distinct = 0;  // files with bytes of their own (0: all)
  size_t size = 0;   // bytes of each file
  // Filled by Publish:
  std::vector<std::string> urls;            // the stored entries as served
  std::vector<int32_t> packedSizes;         // their sizes
  std::vector<std::string> packedDigests;   // their MD5s
  uint64_t servedBytes = 0;                 // the sum of packedSizes, what a download moves
  std::string firstDigest;                  // MD5 of file 0's bytes, to check a sync
  std::string FileKey(int i) const { return folder + "\\f" + std::to_string(i) + ".bin"; }
};

// Writes the sets' files below `srcFolder` and publishes them, stored with
// LZMA level 0, into `wwwRoot` (URL folder "v1", catalogue
// wwwRoot/FileList.dat); `serverUrl` is the URL of wwwRoot with a trailing
// slash. False with `error` set on failure.
bool Publish(const std::string& srcFolder, const std::string& wwwRoot, const std::string& serverUrl,
             const std::vector<DataSet*>& sets, std::string& error);

}  // namespace udra::sysbench
