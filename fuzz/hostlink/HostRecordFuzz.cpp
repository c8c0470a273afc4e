// Arbitrary bytes as a record received by the host: taken off the wire,
// checked against its command's length, and read with the reader the host
// uses for that command. What is read stays within its field, and a text
// shorter than its field survives being written into a record again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "hostlink/PipeMsg.h"

using namespace udra;

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

// A text read from a field of `field` bytes: at most that long, no NUL inside.
void CheckText(const std::string& text, size_t field) {
  Check(text.size() <= field);
  Check(text.find('\0') == std::string::npos);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  PipeMsg msg;
  if (!PipeMsgFromWire(data, size, msg)) return 0;
  Check(size >= 6 && size <= kPipeMsgSize && PipeMsgLen(msg) == size);
  const auto* raw = reinterpret_cast<const uint8_t*>(&msg);
  Check(memcmp(raw, data, size) == 0);
  for (size_t i = size; i < kPipeMsgSize; ++i) Check(raw[i] == 0);
  // Offsets anywhere, also past the record, read without leaving it.
  for (size_t offset : {size_t{0}, size - 4, size, size_t{819}, size_t{820}, kPipeMsgSize}) ReadInt32At(msg, offset);

  // The host reads only records of their command's own length.
  if (PipeMsgLen(msg) != PipeMsgLength(PipeMsgCmd(msg))) return 0;
  switch (PipeMsgCmd(msg)) {
    case CMD_SYNC_FILE: {
      const SyncFileFields f = ReadSyncFile(msg);
      CheckText(f.name, kNameField);
      CheckText(f.url, kUrlField);
      CheckText(f.packedDigest, kDigestField);
      if (f.name.size() < kNameField && f.url.size() < kUrlField && f.packedDigest.size() < kDigestField) {
        const SyncFileFields g = ReadSyncFile(MakeSyncFile(f.syncId, f.name.c_str(), f.url.c_str(), f.priority,
                                                           f.userParam, f.packedSize, f.packedDigest.c_str()));
        Check(g.syncId == f.syncId && g.name == f.name && g.url == f.url && g.priority == f.priority &&
              g.userParam == f.userParam && g.packedSize == f.packedSize && g.packedDigest == f.packedDigest);
      }
      break;
    }
    case CMD_CANCEL_FILE:
    case CMD_SET_PRIORITY: {
      const UrlFields f = ReadUrlRecord(msg);
      CheckText(f.url, kUrlField);
      if (f.url.size() < kUrlField) {
        const UrlFields g = ReadUrlRecord(PipeMsgCmd(msg) == CMD_CANCEL_FILE ? MakeCancelFile(f.url.c_str(), f.value)
                                                                             : MakeSetPriority(f.url.c_str(), f.value));
        Check(g.url == f.url && g.value == f.value);
      }
      break;
    }
    case CMD_HOST_FLAG:
    case CMD_TICK:
      ReadByteValue(msg);
      break;
    case CMD_SET_UIN: {
      const std::string uin = ReadUin(msg);
      CheckText(uin, kUinField);
      PipeMsg again;
      if (uin.size() < kUinField) Check(MakeSetUin(uin.c_str(), again) && ReadUin(again) == uin);
      break;
    }
    case CMD_HELLO:
      ReadInt32At(msg, 6);
      break;
    case CMD_SYNC_RETURN: {  // the library's side of the same pipe
      const SyncReturnFields f = ReadSyncReturn(msg);
      CheckText(f.name, kNameField);
      CheckText(f.errorText, kErrorTextField);
      Check(f.errWord == (static_cast<uint32_t>(f.errKind) << 16 | f.errCode));
      break;
    }
    default:
      break;
  }
  return 0;
}
