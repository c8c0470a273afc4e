// MD5 (RFC 1321).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace udra {

class Md5 {
 public:
  Md5();
  void Update(const void* data, size_t size);
  // Finishes the digest; the object must not be updated afterwards.
  void Final(uint8_t digest[16]);

  // The digest of `size` bytes as 32 upper-case hexadecimal digits.
  static std::string HexDigest(const void* data, size_t size);
  static std::string ToHex(const uint8_t digest[16]);

 private:
  void Transform(const uint8_t block[64]);

  uint32_t state_[4];
  uint64_t length_ = 0;  // bytes seen
  uint8_t buffer_[64];
};

}  // namespace udra
