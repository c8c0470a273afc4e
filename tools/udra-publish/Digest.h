// MD5 through libcrypto, for the digests the catalogue carries: the source
// files' (hashed on several threads) and the stored forms'.
#pragma once

#include <cstddef>
#include <string>

struct evp_md_ctx_st;

namespace udra::publish {

// One running digest; reusable: Start begins the next one. Not shared between
// threads.
class Md5Stream {
 public:
  Md5Stream();
  ~Md5Stream();
  Md5Stream(const Md5Stream&) = delete;
  Md5Stream& operator=(const Md5Stream&) = delete;

  void Start();
  void Update(const void* data, size_t size);
  // The digest as 32 upper-case hexadecimal digits, written into `hex`.
  void Finish(std::string& hex);

 private:
  evp_md_ctx_st* ctx_;
};

// The digest of `size` bytes as 32 upper-case hexadecimal digits.
std::string Md5Hex(const void* data, size_t size);

}  // namespace udra::publish
