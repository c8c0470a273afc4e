// The generic packer: walks a message description (MetaLib.h) to encode an
// in-memory record into its big-endian wire form and to decode it back.
#pragma once

#include <cstddef>
#include <cstdint>

#include "qos/MetaLib.h"

namespace udra::qos {

// Result codes (negative as 32-bit values).
constexpr int32_t kPackBadArgument = static_cast<int32_t>(0x82010464);  // description, buffer or length missing
constexpr int32_t kPackBadVersion = static_cast<int32_t>(0x82010401);   // below the base version
constexpr int32_t kPackNoSpace = static_cast<int32_t>(0x82010402);      // output full / input ends early
constexpr int32_t kPackBadCount = static_cast<int32_t>(0x82010403);     // array count out of range
constexpr int32_t kPackTooDeep = static_cast<int32_t>(0x82010404);      // nesting deeper than kMaxPackDepth
constexpr int32_t kPackBadString = static_cast<int32_t>(0x82010406);    // no terminator / length out of range
constexpr int32_t kPackShortRecord = static_cast<int32_t>(0x82010407);  // in-memory record too short

constexpr int kMaxPackDepth = 32;

// Encodes `record` (*recordSize bytes) into `out` (*outSize bytes). A version
// of 0 or above the description's current version means the current one.
// On return *outSize holds the bytes written and *recordSize the bytes of the
// record consumed; both are 0 on failure. Returns 0 or a negative code. A
// description's version field is written with the version in use; the record
// itself is never modified.
int32_t Pack(const MetaDesc* desc, uint8_t* out, size_t* outSize, const void* record,
             size_t* recordSize, uint32_t version);

// Decodes `in` (*inSize bytes) into `record` (*recordSize bytes), which is
// cleared first. On return *recordSize holds the bytes of the record filled and
// *inSize the bytes consumed; both are 0 on failure.
int32_t Unpack(const MetaDesc* desc, void* record, size_t* recordSize, const uint8_t* in,
               size_t* inSize, uint32_t version);

}  // namespace udra::qos
