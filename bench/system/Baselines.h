// What the system is compared with, measured in the same run: the curl
// command line against the same server, and reading + MD5 of a file.
// Each returns seconds, or a negative value when the baseline failed.
#pragma once

#include <string>
#include <vector>

namespace udra::sysbench {

// One curl process fetching every URL with --parallel --parallel-max 8,
// each into its own file below `outFolder` (emptied first), or into
// /dev/null when `outFolder` is empty. `workFolder` holds the curl config.
double CurlParallel(const std::vector<std::string>& urls, const std::string& outFolder,
                    const std::string& workFolder);

// curl per URL piped into md5sum, all at once (`parallel`) or one after the other.
double CurlMd5(const std::vector<std::string>& urls, bool parallel, const std::string& workFolder);

// curl per URL, all at once, each writing a file below `outFolder` (on the
// store's disk), then md5sum of that file and `sync` of it: what the host
// does with a large download (partial file, check, flush).
double CurlFilesMd5(const std::vector<std::string>& urls, const std::string& outFolder,
                    const std::string& workFolder);

// Reads the file in 1 MiB pieces and takes its MD5 with libcrypto (what
// md5sum does).
double StreamMd5(const std::string& path, std::string& digest);

// Reads the whole file into one buffer and takes its MD5 with the library's
// own implementation (util/Md5): the least a reader that keeps the bytes
// and uses that MD5 pays. Fresh memory costs a page fault per 4 KiB, which
// is expensive on a virtual machine.
double WholeFileMd5(const std::string& path, std::string& digest);

}  // namespace udra::sysbench
