// MD5 over a stream of bytes, and of one byte range at once. Linux builds
// take them from OpenSSL's libcrypto (several times faster than a portable
// implementation, which matters at the speed of a local network: every
// downloaded byte is hashed); where there is no libcrypto the project's own
// MD5 serves. The build picks one of the two implementation files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

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

  // The 16-byte digest of `size` bytes.
  static void Digest(const void* data, size_t size, uint8_t digest[16]);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace udra::host
