#include "StreamDigest.h"

#include "util/Md5.h"

namespace udra::publish {

struct StreamDigest::State {
  Md5 md5;
};

StreamDigest::StreamDigest() : state_(std::make_unique<State>()) {}
StreamDigest::~StreamDigest() = default;

void StreamDigest::Reset() { state_->md5 = Md5(); }
void StreamDigest::Update(const void* data, size_t size) { state_->md5.Update(data, size); }

std::string StreamDigest::FinalHex() {
  uint8_t digest[16];
  state_->md5.Final(digest);
  Reset();
  return Md5::ToHex(digest);
}

}  // namespace udra::publish
