#include "host/Md5Stream.h"
#include "util/Md5.h"

namespace udra::host {

struct Md5Stream::State {
  Md5 md5;
};

Md5Stream::Md5Stream() : state_(std::make_unique<State>()) {}

Md5Stream::~Md5Stream() = default;

void Md5Stream::Reset() { state_->md5 = Md5(); }

void Md5Stream::Update(const void* data, size_t size) {
  if (size) state_->md5.Update(data, size);
}

std::string Md5Stream::FinalHex() {
  uint8_t digest[16];
  state_->md5.Final(digest);
  Reset();
  return Md5::ToHex(digest);
}

void Md5Stream::Digest(const void* data, size_t size, uint8_t digest[16]) {
  Md5 md5;
  md5.Update(data, size);
  md5.Final(digest);
}

}  // namespace udra::host
