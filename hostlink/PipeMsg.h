// The fixed-layout record exchanged with the downloader host, its commands
// and the window messages that carry host events inside the library.
//
// A record is a plain little-endian memory image without padding: uint16
// len, int32 cmd, payload. Only `len` bytes travel on the pipe; inside the
// library a record always occupies the full 823-byte block, zero-filled
// where nothing was written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace udra {

#pragma pack(push, 1)
struct PipeMsg {
  uint16_t len;
  int32_t cmd;
  uint8_t payload[817];
};
#pragma pack(pop)

constexpr size_t kPipeMsgSize = 823;
static_assert(sizeof(PipeMsg) == kPipeMsgSize, "PipeMsg is 823 bytes");
static_assert(offsetof(PipeMsg, cmd) == 2, "cmd at offset 2");
static_assert(offsetof(PipeMsg, payload) == 6, "payload at offset 6");

enum PipeCmd : int32_t {
  CMD_SYNC_FILE = 0,
  CMD_RESERVED_1 = 1,
  CMD_SYNC_RETURN = 2,
  CMD_CANCEL_FILE = 3,
  CMD_SET_PRIORITY = 4,
  CMD_HOST_FLAG = 5,
  CMD_TICK = 6,
  CMD_HOST_VALUES = 7,
  CMD_SET_UIN = 8,
  CMD_HELLO = 9,
  CMD_HOST_EVENT = 10,
};

// Window messages of the host link (all with lParam 0).
constexpr uint32_t MSG_PIPE_MESSAGE = 0x464;    // wParam: heap copy of a record (NewPipeMsgCopy)
constexpr uint32_t MSG_PIPE_CONNECTED = 0x465;  // wParam: 1 connected, 0 failed
constexpr uint32_t WM_SYNC_RETURN = 0x506B;     // wParam: sync id
constexpr uint32_t WM_HOST_EVENT = 0x506C;      // wParam: the host's event value
constexpr uint32_t WM_INIT_RESULT = 0x506D;     // wParam: 1 success, 0 failure

// The length of a record of `cmd`, header included (6 for unknown commands).
uint16_t PipeMsgLength(int32_t cmd);

// Sizes of the text fields, terminating NUL included.
constexpr size_t kNameField = 256;
constexpr size_t kUrlField = 512;
constexpr size_t kDigestField = 33;
constexpr size_t kUinField = 100;
constexpr size_t kErrorTextField = 512;

// Builders. Each gives a zero-filled record with `cmd` and `len` set. A text
// longer than its field is cut to the field (size less one byte for the NUL);
// a null text is written as empty.
PipeMsg MakeSyncFile(int32_t syncId, const char* name, const char* url, int32_t priority, int32_t userParam,
                     int32_t packedSize, const char* packedDigest);
PipeMsg MakeCancelFile(const char* url, int32_t syncId);
PipeMsg MakeSetPriority(const char* url, int32_t priority);
PipeMsg MakeHostFlag(int32_t flag);  // carries the low 8 bits
PipeMsg MakeTick();
// False for a null user id (nothing to send); else the id, cut to 99 bytes.
bool MakeSetUin(const char* uin, PipeMsg& out);
PipeMsg MakeHello(uint32_t processId);
// The host's records.
PipeMsg MakeSyncReturn(int32_t syncId, const char* name, int32_t reportedSize, bool ok, uint16_t errCode,
                       uint16_t errKind, const char* errorText);
PipeMsg MakeHostValues(int32_t value1, int32_t value2);
PipeMsg MakeHostEvent(int32_t value);

// Readers. Text fields are read up to their size even without a NUL.
struct SyncFileFields {
  int32_t syncId;
  std::string name;
  std::string url;
  int32_t priority;
  int32_t userParam;
  int32_t packedSize;
  std::string packedDigest;
};
struct SyncReturnFields {
  int32_t syncId;
  std::string name;
  int32_t reportedSize;
  bool ok;
  uint16_t errCode;
  uint16_t errKind;
  uint32_t errWord;  // errCode and errKind as one little-endian word (errKind high)
  std::string errorText;
};
struct UrlFields {
  std::string url;
  int32_t value;  // the sync id of CMD_CANCEL_FILE, the priority of CMD_SET_PRIORITY
};

SyncFileFields ReadSyncFile(const PipeMsg& msg);
SyncReturnFields ReadSyncReturn(const PipeMsg& msg);
UrlFields ReadUrlRecord(const PipeMsg& msg);  // CMD_CANCEL_FILE and CMD_SET_PRIORITY
uint8_t ReadByteValue(const PipeMsg& msg);      // CMD_HOST_FLAG and CMD_TICK
std::string ReadUin(const PipeMsg& msg);
// The int32 at `offset` (6 for CMD_HELLO and CMD_HOST_EVENT, 6 and 10 for
// CMD_HOST_VALUES); 0 when the offset lies outside the record.
int32_t ReadInt32At(const PipeMsg& msg, size_t offset);
// The header fields, read little-endian.
int32_t PipeMsgCmd(const PipeMsg& msg);
uint16_t PipeMsgLen(const PipeMsg& msg);

// Reads one record off the wire: accepted only when `size` equals the `len`
// in the data (and the data holds at least the header). The record is
// zero-filled past `size`.
bool PipeMsgFromWire(const uint8_t* data, size_t size, PipeMsg& out);

// Heap copies that travel as wParam of MSG_PIPE_MESSAGE: whoever takes the
// message frees the copy with FreePipeMsgCopy (or owns it through
// TakePipeMsgCopy). Only copies made by NewPipeMsgCopy and not yet freed are
// known: any other value (null, a stray address, a copy already freed) is no
// record, and freeing it does nothing.
uintptr_t NewPipeMsgCopy(const PipeMsg& msg);  // 0 when out of memory
bool IsPipeMsgCopy(uintptr_t wParam);
const PipeMsg* PipeMsgOfParam(uintptr_t wParam);  // null unless a live copy
std::unique_ptr<PipeMsg> TakePipeMsgCopy(uintptr_t wParam);
void FreePipeMsgCopy(uintptr_t wParam);

}  // namespace udra
