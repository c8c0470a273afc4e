#include "Digest.h"

#include <openssl/evp.h>

#include <stdexcept>

namespace udra::publish {

Md5Stream::Md5Stream() : ctx_(EVP_MD_CTX_new()) {
  // The digest type is looked up once here; Start reuses it.
  if (ctx_ == nullptr || EVP_DigestInit_ex(ctx_, EVP_md5(), nullptr) != 1) {
    EVP_MD_CTX_free(ctx_);
    throw std::runtime_error("MD5 is not available from libcrypto");
  }
}

Md5Stream::~Md5Stream() { EVP_MD_CTX_free(ctx_); }

void Md5Stream::Start() {
  if (EVP_DigestInit_ex(ctx_, nullptr, nullptr) != 1) throw std::runtime_error("MD5 failed in libcrypto");
}

void Md5Stream::Update(const void* data, size_t size) {
  if (size != 0 && EVP_DigestUpdate(ctx_, data, size) != 1) throw std::runtime_error("MD5 failed in libcrypto");
}

void Md5Stream::Finish(std::string& hex) {
  unsigned char raw[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(ctx_, raw, &length) != 1 || length != 16) throw std::runtime_error("MD5 failed in libcrypto");
  static const char kDigits[] = "0123456789ABCDEF";
  hex.resize(32);
  for (unsigned i = 0; i < 16; ++i) {
    hex[2 * i] = kDigits[raw[i] >> 4];
    hex[2 * i + 1] = kDigits[raw[i] & 15];
  }
}

std::string Md5Hex(const void* data, size_t size) {
  thread_local Md5Stream stream;
  stream.Start();
  stream.Update(data, size);
  std::string hex;
  stream.Finish(hex);
  return hex;
}

}  // namespace udra::publish
