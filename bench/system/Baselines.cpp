#include "Baselines.h"

#include <openssl/evp.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "Measure.h"
#include "util/Md5.h"

namespace udra::sysbench {
namespace fs = std::filesystem;

namespace {

double TimeCommand(const std::string& command) {
  const auto start = Clock::now();
  const int status = std::system(command.c_str());
  const double seconds = SecondsSince(start);
  return status == 0 ? seconds : -1;
}

}  // namespace

double CurlParallel(const std::vector<std::string>& urls, const std::string& outFolder,
                    const std::string& workFolder) {
  std::error_code ec;
  if (!outFolder.empty()) fs::remove_all(outFolder, ec);
  const std::string config = workFolder + "/curl-parallel.cfg";
  {
    std::ofstream cfg(config);
    for (size_t i = 0; i < urls.size(); ++i) {
      cfg << "url = \"" << urls[i] << "\"\noutput = \"";
      cfg << (outFolder.empty() ? std::string("/dev/null") : outFolder + "/f" + std::to_string(i) + ".bin") << "\"\n";
    }
    if (!cfg) return -1;
  }
  return TimeCommand("curl -s -f --no-progress-meter --create-dirs --parallel --parallel-max 8 -K '" + config + "'");
}

double CurlMd5(const std::vector<std::string>& urls, bool parallel, const std::string& workFolder) {
  // POSIX sh has no pipefail: a failed curl leaves a mark file, which the
  // script's last line turns into its exit status.
  std::string script;
  for (const std::string& url : urls) {
    const std::string one = "{ curl -s -f '" + url + "' || echo x >> \"$0.failed\"; } | md5sum > /dev/null";
    script += parallel ? one + " &\n" : one + "\n";
  }
  if (parallel) script += "wait\n";
  script += "test ! -e \"$0.failed\"\n";
  const std::string path = workFolder + (parallel ? "/curl-md5-par.sh" : "/curl-md5-seq.sh");
  std::error_code ec;
  fs::remove(path + ".failed", ec);
  {
    std::ofstream out(path);
    out << script;
    if (!out) return -1;
  }
  return TimeCommand("sh '" + path + "'");
}

double CurlFilesMd5(const std::vector<std::string>& urls, const std::string& outFolder,
                    const std::string& workFolder) {
  std::error_code ec;
  fs::remove_all(outFolder, ec);
  fs::create_directories(outFolder, ec);
  std::string script;
  for (size_t i = 0; i < urls.size(); ++i) {
    const std::string file = "'" + outFolder + "/f" + std::to_string(i) + ".bin'";
    script += "{ curl -s -f -o " + file + " '" + urls[i] + "' && md5sum " + file + " > /dev/null && sync " + file +
              "; } || echo x >> \"$0.failed\" &\n";
  }
  script += "wait\ntest ! -e \"$0.failed\"\n";
  const std::string path = workFolder + "/curl-files-md5.sh";
  fs::remove(path + ".failed", ec);
  {
    std::ofstream out(path);
    out << script;
    if (!out) return -1;
  }
  const double seconds = TimeCommand("sh '" + path + "'");
  fs::remove_all(outFolder, ec);
  return seconds;
}

double StreamMd5(const std::string& path, std::string& digest) {
  const auto start = Clock::now();
  std::ifstream in(path, std::ios::binary);
  EVP_MD_CTX* context = EVP_MD_CTX_new();
  if (!in || !context || EVP_DigestInit_ex(context, EVP_md5(), nullptr) != 1) {
    EVP_MD_CTX_free(context);
    return -1;
  }
  std::string buffer(1 << 20, '\0');
  bool ok = true;
  while (ok && in) {
    in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    ok = EVP_DigestUpdate(context, buffer.data(), static_cast<size_t>(in.gcount())) == 1;
  }
  uint8_t raw[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  ok = ok && in.eof() && EVP_DigestFinal_ex(context, raw, &length) == 1 && length == 16;
  EVP_MD_CTX_free(context);
  if (!ok) return -1;
  digest = Md5::ToHex(raw);
  return SecondsSince(start);
}

double WholeFileMd5(const std::string& path, std::string& digest) {
  const auto start = Clock::now();
  std::ifstream in(path, std::ios::binary);
  if (!in) return -1;
  in.seekg(0, std::ios::end);
  const std::streamoff size = in.tellg();
  if (size < 0) return -1;
  in.seekg(0);
  std::string bytes(static_cast<size_t>(size), '\0');
  if (!in.read(bytes.data(), size)) return -1;
  digest = Md5::HexDigest(bytes.data(), bytes.size());
  return SecondsSince(start);
}

}  // namespace udra::sysbench
