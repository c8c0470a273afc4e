#include "host/Md5Stream.h"

#include <openssl/evp.h>

#include "util/Md5.h"

namespace udra::host {

Md5Stream::Md5Stream() : ctx_(EVP_MD_CTX_new()) { Reset(); }

Md5Stream::~Md5Stream() { EVP_MD_CTX_free(ctx_); }

void Md5Stream::Reset() { ok_ = ctx_ && EVP_DigestInit_ex(ctx_, EVP_md5(), nullptr) == 1; }

void Md5Stream::Update(const void* data, size_t size) {
  if (ok_ && size) ok_ = EVP_DigestUpdate(ctx_, data, size) == 1;
}

std::string Md5Stream::FinalHex() {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  const bool ok = ok_ && EVP_DigestFinal_ex(ctx_, digest, &length) == 1 && length == 16;
  Reset();
  return ok ? Md5::ToHex(digest) : std::string();
}

}  // namespace udra::host
