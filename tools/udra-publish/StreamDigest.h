// MD5 over a file read chunk by chunk, as the hashing threads need it. Where
// the build has OpenSSL's libcrypto it hashes (several times faster than a
// portable implementation); elsewhere, as in the Windows build that links
// nothing beside the system, the project's own MD5 does.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace udra::publish {

class StreamDigest {
 public:
  StreamDigest();
  ~StreamDigest();
  StreamDigest(const StreamDigest&) = delete;
  StreamDigest& operator=(const StreamDigest&) = delete;

  void Reset();
  void Update(const void* data, size_t size);
  // 32 upper-case hexadecimal digits; empty on failure. Starts over afterwards.
  std::string FinalHex();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace udra::publish
