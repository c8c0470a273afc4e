#include "hostlink/PipeMsg.h"

#include <cstring>
#include <mutex>
#include <new>
#include <unordered_set>

namespace udra {
namespace {

// Field offsets of the commands.
constexpr size_t kOffId = 6;
constexpr size_t kOffName = 10;
constexpr size_t kOffSyncUrl = 266;
constexpr size_t kOffPriority = 778;
constexpr size_t kOffUserParam = 782;
constexpr size_t kOffPackedSize = 786;
constexpr size_t kOffDigest = 790;
constexpr size_t kOffReportedSize = 266;
constexpr size_t kOffOk = 270;
constexpr size_t kOffErrCode = 271;
constexpr size_t kOffErrKind = 273;
constexpr size_t kOffErrorText = 275;
constexpr size_t kOffUrl = 6;
constexpr size_t kOffUrlValue = 518;
constexpr size_t kOffValue = 6;
constexpr size_t kOffValue2 = 10;

static_assert(kOffDigest + kDigestField == 823, "CMD_SYNC_FILE fills the record");
static_assert(kOffErrorText + kErrorTextField == 787, "CMD_SYNC_RETURN is 787 bytes");
static_assert(kOffUrlValue + 4 == 522, "CMD_CANCEL_FILE is 522 bytes");
static_assert(kOffValue + kUinField == 106, "CMD_SET_UIN is 106 bytes");

uint8_t* Bytes(PipeMsg& msg) {
  return reinterpret_cast<uint8_t*>(&msg);
}
const uint8_t* Bytes(const PipeMsg& msg) {
  return reinterpret_cast<const uint8_t*>(&msg);
}

void Put16(PipeMsg& msg, size_t offset, uint16_t v) {
  uint8_t* p = Bytes(msg) + offset;
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

void Put32(PipeMsg& msg, size_t offset, int32_t value) {
  const uint32_t v = static_cast<uint32_t>(value);
  uint8_t* p = Bytes(msg) + offset;
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

uint16_t Get16(const PipeMsg& msg, size_t offset) {
  const uint8_t* p = Bytes(msg) + offset;
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

uint32_t GetU32(const PipeMsg& msg, size_t offset) {
  const uint8_t* p = Bytes(msg) + offset;
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

// Copies at most field - 1 bytes so that a NUL always ends the text; the
// rest of the field stays zero.
void PutText(PipeMsg& msg, size_t offset, size_t field, const char* text) {
  if (!text) return;
  const size_t n = strnlen(text, field - 1);
  memcpy(Bytes(msg) + offset, text, n);
}

// Reads a received text field without going past it, NUL or not.
std::string GetText(const PipeMsg& msg, size_t offset, size_t field) {
  const char* p = reinterpret_cast<const char*>(Bytes(msg) + offset);
  return std::string(p, strnlen(p, field));
}

PipeMsg Blank(int32_t cmd) {
  PipeMsg msg;
  memset(&msg, 0, sizeof msg);
  Put16(msg, 0, PipeMsgLength(cmd));
  Put32(msg, 2, cmd);
  return msg;
}

}  // namespace

uint16_t PipeMsgLength(int32_t cmd) {
  static const uint16_t kLengths[] = {823, 7, 787, 522, 522, 7, 7, 14, 106, 10, 10};
  if (cmd < 0 || cmd > CMD_HOST_EVENT) return 6;
  return kLengths[cmd];
}

PipeMsg MakeSyncFile(int32_t syncId, const char* name, const char* url, int32_t priority, int32_t userParam,
                     int32_t packedSize, const char* packedDigest) {
  PipeMsg msg = Blank(CMD_SYNC_FILE);
  Put32(msg, kOffId, syncId);
  PutText(msg, kOffName, kNameField, name);
  PutText(msg, kOffSyncUrl, kUrlField, url);
  Put32(msg, kOffPriority, priority);
  Put32(msg, kOffUserParam, userParam);
  Put32(msg, kOffPackedSize, packedSize);
  PutText(msg, kOffDigest, kDigestField, packedDigest);
  return msg;
}

PipeMsg MakeCancelFile(const char* url, int32_t syncId) {
  PipeMsg msg = Blank(CMD_CANCEL_FILE);
  PutText(msg, kOffUrl, kUrlField, url);
  Put32(msg, kOffUrlValue, syncId);
  return msg;
}

PipeMsg MakeSetPriority(const char* url, int32_t priority) {
  PipeMsg msg = Blank(CMD_SET_PRIORITY);
  PutText(msg, kOffUrl, kUrlField, url);
  Put32(msg, kOffUrlValue, priority);
  return msg;
}

PipeMsg MakeHostFlag(int32_t flag) {
  PipeMsg msg = Blank(CMD_HOST_FLAG);
  Bytes(msg)[kOffValue] = static_cast<uint8_t>(flag & 0xFF);
  return msg;
}

PipeMsg MakeTick() {
  return Blank(CMD_TICK);
}

bool MakeSetUin(const char* uin, PipeMsg& out) {
  if (!uin) return false;
  out = Blank(CMD_SET_UIN);
  PutText(out, kOffValue, kUinField, uin);
  return true;
}

PipeMsg MakeHello(uint32_t processId) {
  PipeMsg msg = Blank(CMD_HELLO);
  Put32(msg, kOffValue, static_cast<int32_t>(processId));
  return msg;
}

PipeMsg MakeSyncReturn(int32_t syncId, const char* name, int32_t reportedSize, bool ok, uint16_t errCode,
                       uint16_t errKind, const char* errorText) {
  PipeMsg msg = Blank(CMD_SYNC_RETURN);
  Put32(msg, kOffId, syncId);
  PutText(msg, kOffName, kNameField, name);
  Put32(msg, kOffReportedSize, reportedSize);
  Bytes(msg)[kOffOk] = ok ? 1 : 0;
  Put16(msg, kOffErrCode, errCode);
  Put16(msg, kOffErrKind, errKind);
  PutText(msg, kOffErrorText, kErrorTextField, errorText);
  return msg;
}

PipeMsg MakeHostValues(int32_t value1, int32_t value2) {
  PipeMsg msg = Blank(CMD_HOST_VALUES);
  Put32(msg, kOffValue, value1);
  Put32(msg, kOffValue2, value2);
  return msg;
}

PipeMsg MakeHostEvent(int32_t value) {
  PipeMsg msg = Blank(CMD_HOST_EVENT);
  Put32(msg, kOffValue, value);
  return msg;
}

SyncFileFields ReadSyncFile(const PipeMsg& msg) {
  SyncFileFields f;
  f.syncId = ReadInt32At(msg, kOffId);
  f.name = GetText(msg, kOffName, kNameField);
  f.url = GetText(msg, kOffSyncUrl, kUrlField);
  f.priority = ReadInt32At(msg, kOffPriority);
  f.userParam = ReadInt32At(msg, kOffUserParam);
  f.packedSize = ReadInt32At(msg, kOffPackedSize);
  f.packedDigest = GetText(msg, kOffDigest, kDigestField);
  return f;
}

SyncReturnFields ReadSyncReturn(const PipeMsg& msg) {
  SyncReturnFields f;
  f.syncId = ReadInt32At(msg, kOffId);
  f.name = GetText(msg, kOffName, kNameField);
  f.reportedSize = ReadInt32At(msg, kOffReportedSize);
  f.ok = Bytes(msg)[kOffOk] != 0;
  f.errCode = Get16(msg, kOffErrCode);
  f.errKind = Get16(msg, kOffErrKind);
  f.errWord = GetU32(msg, kOffErrCode);
  f.errorText = GetText(msg, kOffErrorText, kErrorTextField);
  return f;
}

UrlFields ReadUrlRecord(const PipeMsg& msg) {
  return UrlFields{GetText(msg, kOffUrl, kUrlField), ReadInt32At(msg, kOffUrlValue)};
}

uint8_t ReadByteValue(const PipeMsg& msg) {
  return Bytes(msg)[kOffValue];
}

std::string ReadUin(const PipeMsg& msg) {
  return GetText(msg, kOffValue, kUinField);
}

int32_t ReadInt32At(const PipeMsg& msg, size_t offset) {
  if (offset > kPipeMsgSize - 4) return 0;
  return static_cast<int32_t>(GetU32(msg, offset));
}

int32_t PipeMsgCmd(const PipeMsg& msg) {
  return static_cast<int32_t>(GetU32(msg, 2));
}

uint16_t PipeMsgLen(const PipeMsg& msg) {
  return Get16(msg, 0);
}

bool PipeMsgFromWire(const uint8_t* data, size_t size, PipeMsg& out) {
  if (!data || size < 6 || size > kPipeMsgSize) return false;
  const uint16_t len = static_cast<uint16_t>(data[0] | (data[1] << 8));
  if (len != size) return false;
  memset(&out, 0, sizeof out);
  memcpy(&out, data, size);
  return true;
}

namespace {

// The copies handed out and not yet freed. MSG_PIPE_MESSAGE can be posted to
// the hidden window by anyone who can reach it (on Windows any process of the
// desktop), so its wParam is only an address once it is found here: anything
// else is ignored, never read or freed.
struct CopyRegistry {
  std::mutex mu;
  std::unordered_set<uintptr_t> live;
};

CopyRegistry& Copies() {
  static CopyRegistry* registry = new CopyRegistry;  // outlives every static user
  return *registry;
}

}  // namespace

uintptr_t NewPipeMsgCopy(const PipeMsg& msg) {
  PipeMsg* copy = new (std::nothrow) PipeMsg(msg);
  if (!copy) return 0;
  const uintptr_t value = reinterpret_cast<uintptr_t>(copy);
  CopyRegistry& r = Copies();
  try {
    std::lock_guard<std::mutex> guard(r.mu);
    r.live.insert(value);
  } catch (...) {
    delete copy;  // an unregistered copy could never be freed
    return 0;
  }
  return value;
}

bool IsPipeMsgCopy(uintptr_t wParam) {
  if (wParam == 0) return false;
  CopyRegistry& r = Copies();
  std::lock_guard<std::mutex> guard(r.mu);
  return r.live.count(wParam) != 0;
}

const PipeMsg* PipeMsgOfParam(uintptr_t wParam) {
  return IsPipeMsgCopy(wParam) ? reinterpret_cast<const PipeMsg*>(wParam) : nullptr;
}

std::unique_ptr<PipeMsg> TakePipeMsgCopy(uintptr_t wParam) {
  if (wParam == 0) return nullptr;
  CopyRegistry& r = Copies();
  std::lock_guard<std::mutex> guard(r.mu);
  if (r.live.erase(wParam) == 0) return nullptr;
  return std::unique_ptr<PipeMsg>(reinterpret_cast<PipeMsg*>(wParam));
}

void FreePipeMsgCopy(uintptr_t wParam) { TakePipeMsgCopy(wParam); }

}  // namespace udra
