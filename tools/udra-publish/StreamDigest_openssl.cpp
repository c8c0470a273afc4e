#include <openssl/evp.h>

#include "StreamDigest.h"
#include "util/Md5.h"

namespace udra::publish {

struct StreamDigest::State {
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  bool ok = false;
  ~State() { EVP_MD_CTX_free(ctx); }
};

StreamDigest::StreamDigest() : state_(std::make_unique<State>()) { Reset(); }
StreamDigest::~StreamDigest() = default;

void StreamDigest::Reset() {
  state_->ok = state_->ctx && EVP_DigestInit_ex(state_->ctx, EVP_md5(), nullptr) == 1;
}

void StreamDigest::Update(const void* data, size_t size) {
  if (state_->ok && size) state_->ok = EVP_DigestUpdate(state_->ctx, data, size) == 1;
}

std::string StreamDigest::FinalHex() {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  const bool ok = state_->ok && EVP_DigestFinal_ex(state_->ctx, digest, &length) == 1 && length == 16;
  Reset();
  return ok ? Md5::ToHex(digest) : std::string();
}

}  // namespace udra::publish
