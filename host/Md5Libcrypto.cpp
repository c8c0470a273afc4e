#include <openssl/evp.h>

#include "host/Md5Stream.h"
#include "util/Md5.h"

namespace udra::host {

struct Md5Stream::State {
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  bool ok = false;
  ~State() { EVP_MD_CTX_free(ctx); }
};

Md5Stream::Md5Stream() : state_(std::make_unique<State>()) { Reset(); }

Md5Stream::~Md5Stream() = default;

void Md5Stream::Reset() { state_->ok = state_->ctx && EVP_DigestInit_ex(state_->ctx, EVP_md5(), nullptr) == 1; }

void Md5Stream::Update(const void* data, size_t size) {
  if (state_->ok && size) state_->ok = EVP_DigestUpdate(state_->ctx, data, size) == 1;
}

std::string Md5Stream::FinalHex() {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  const bool ok = state_->ok && EVP_DigestFinal_ex(state_->ctx, digest, &length) == 1 && length == 16;
  Reset();
  return ok ? Md5::ToHex(digest) : std::string();
}

void Md5Stream::Digest(const void* data, size_t size, uint8_t digest[16]) {
  unsigned int length = 0;
  if (EVP_Digest(data, size, digest, &length, EVP_md5(), nullptr) == 1 && length == 16) return;
  Md5 md5;  // libcrypto without MD5 (a restricted build): the portable one
  md5.Update(data, size);
  md5.Final(digest);
}

}  // namespace udra::host
