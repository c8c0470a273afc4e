// MD5 over a stream of bytes with OpenSSL's libcrypto (several times faster
// than a portable implementation, which matters at the speed of a local
// network: every downloaded byte is hashed).
#pragma once

#include <cstddef>
#include <string>

typedef struct evp_md_ctx_st EVP_MD_CTX;

namespace udra::host {

class Md5Stream {
 public:
  Md5Stream();
  ~Md5Stream();
  Md5Stream(const Md5Stream&) = delete;
  Md5Stream& operator=(const Md5Stream&) = delete;

  void Reset();
  void Update(const void* data, size_t size);
  // The digest as 32 upper-case hexadecimal digits; empty on failure. The
  // stream starts over afterwards.
  std::string FinalHex();

 private:
  EVP_MD_CTX* ctx_;
  bool ok_ = false;
};

}  // namespace udra::host
