// Decodes arbitrary bytes as a received QOSCSPkg, and re-encodes what decoded:
// whatever decodes must encode again, to no more bytes than were read (a
// string may hold an early NUL, so the bytes themselves may shrink).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "qos/Packer.h"
#include "qos/QosLibs.h"
#include "qos/QosPacket.h"

using namespace udra::qos;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static std::unique_ptr<QOSCSPkg> pkg(new QOSCSPkg());
  static std::vector<uint8_t> out(kQosMaxPacket);
  if (DecodeQosPacket(data, size, *pkg) != 0) return 0;

  size_t len = 0;
  if (EncodeQosPacket(*pkg, out.data(), out.size(), len) != 0) std::abort();
  if (len > size) std::abort();

  // The same bytes with the version argument varied directly.
  for (uint32_t version : {0u, 9u, 10u, 11u}) {
    size_t recordSize = sizeof(*pkg);
    size_t inSize = size;
    Unpack(FindMeta(QosCsLib(), "QOSCSPkg"), pkg.get(), &recordSize, data, &inSize, version);
  }
  return 0;
}
