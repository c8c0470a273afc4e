#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "hostlink/PipeMsg.h"

namespace udra {
namespace {

const uint8_t* Raw(const PipeMsg& m) {
  return reinterpret_cast<const uint8_t*>(&m);
}

int32_t I32(const PipeMsg& m, size_t off) {
  const uint8_t* p = Raw(m) + off;
  return static_cast<int32_t>(p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24);
}

std::string Text(const PipeMsg& m, size_t off) {
  return reinterpret_cast<const char*>(Raw(m) + off);
}

TEST(PipeMsg, LengthTable) {
  const uint16_t expected[] = {823, 7, 787, 522, 522, 7, 7, 14, 106, 10, 10};
  for (int32_t cmd = 0; cmd <= 10; ++cmd) EXPECT_EQ(PipeMsgLength(cmd), expected[cmd]) << cmd;
  for (int32_t cmd : {11, -1, 12345, INT32_MIN, INT32_MAX}) EXPECT_EQ(PipeMsgLength(cmd), 6) << cmd;
}

TEST(PipeMsg, SyncFileLayout) {
  const PipeMsg m = MakeSyncFile(-5, "data\\a.pak", "http://h/x%20y", 3, 0x11223344, 777,
                                 "0123456789ABCDEF0123456789ABCDEF");
  EXPECT_EQ(Raw(m)[0], 823 & 0xFF);
  EXPECT_EQ(Raw(m)[1], 823 >> 8);
  EXPECT_EQ(I32(m, 2), CMD_SYNC_FILE);
  EXPECT_EQ(I32(m, 6), -5);
  EXPECT_EQ(Text(m, 10), "data\\a.pak");
  EXPECT_EQ(Text(m, 266), "http://h/x%20y");
  EXPECT_EQ(I32(m, 778), 3);
  EXPECT_EQ(I32(m, 782), 0x11223344);
  EXPECT_EQ(I32(m, 786), 777);
  EXPECT_EQ(Text(m, 790), "0123456789ABCDEF0123456789ABCDEF");
  EXPECT_EQ(Raw(m)[822], 0);
  EXPECT_EQ(Raw(m)[10 + 11], 0);  // unused tail of the name is zero
  const SyncFileFields f = ReadSyncFile(m);
  EXPECT_EQ(f.syncId, -5);
  EXPECT_EQ(f.name, "data\\a.pak");
  EXPECT_EQ(f.userParam, 0x11223344);
  EXPECT_EQ(f.packedDigest, "0123456789ABCDEF0123456789ABCDEF");
}

TEST(PipeMsg, SmallCommands) {
  const PipeMsg flag = MakeHostFlag(0x1FF);
  EXPECT_EQ(PipeMsgLen(flag), 7);
  EXPECT_EQ(Raw(flag)[6], 0xFF);
  EXPECT_EQ(ReadByteValue(flag), 0xFF);

  const PipeMsg tick = MakeTick();
  EXPECT_EQ(PipeMsgCmd(tick), CMD_TICK);
  EXPECT_EQ(PipeMsgLen(tick), 7);
  EXPECT_EQ(Raw(tick)[6], 0);

  const PipeMsg hello = MakeHello(4242);
  EXPECT_EQ(PipeMsgLen(hello), 10);
  EXPECT_EQ(I32(hello, 6), 4242);

  const PipeMsg values = MakeHostValues(-1, 70000);
  EXPECT_EQ(PipeMsgLen(values), 14);
  EXPECT_EQ(ReadInt32At(values, 6), -1);
  EXPECT_EQ(ReadInt32At(values, 10), 70000);
  EXPECT_EQ(ReadInt32At(values, 820), 0);  // would pass the end

  const PipeMsg event = MakeHostEvent(99);
  EXPECT_EQ(PipeMsgCmd(event), CMD_HOST_EVENT);
  EXPECT_EQ(I32(event, 6), 99);

  const PipeMsg cancel = MakeCancelFile("u", 17);
  EXPECT_EQ(PipeMsgLen(cancel), 522);
  EXPECT_EQ(I32(cancel, 518), 17);
  const PipeMsg prio = MakeSetPriority("u2", -3);
  EXPECT_EQ(ReadUrlRecord(prio).url, "u2");
  EXPECT_EQ(ReadUrlRecord(prio).value, -3);
}

TEST(PipeMsg, SyncReturnFieldsAtOddOffsets) {
  const PipeMsg m = MakeSyncReturn(-1, "pkg\\b.pak", 1234, false, 22, 2, "HTTP error");
  EXPECT_EQ(PipeMsgLen(m), 787);
  EXPECT_EQ(Raw(m)[270], 0);
  EXPECT_EQ(Raw(m)[271], 22);
  EXPECT_EQ(Raw(m)[273], 2);
  const SyncReturnFields f = ReadSyncReturn(m);
  EXPECT_EQ(f.syncId, -1);
  EXPECT_EQ(f.name, "pkg\\b.pak");
  EXPECT_EQ(f.reportedSize, 1234);
  EXPECT_FALSE(f.ok);
  EXPECT_EQ(f.errCode, 22);
  EXPECT_EQ(f.errKind, 2);
  EXPECT_EQ(f.errWord, 0x00020016u);
  EXPECT_EQ(f.errorText, "HTTP error");
}

TEST(PipeMsg, LongTextsAreCutToTheirField) {
  const std::string name(300, 'n'), url(600, 'u'), digest(40, 'd'), uin(150, 'i');
  const PipeMsg m = MakeSyncFile(1, name.c_str(), url.c_str(), 0, 0, 0, digest.c_str());
  const SyncFileFields f = ReadSyncFile(m);
  EXPECT_EQ(f.name, std::string(255, 'n'));
  EXPECT_EQ(f.url, std::string(511, 'u'));
  EXPECT_EQ(f.packedDigest, std::string(32, 'd'));
  EXPECT_EQ(I32(m, 778), 0);  // neighbours untouched
  EXPECT_EQ(Raw(m)[265], 0);

  PipeMsg set;
  ASSERT_TRUE(MakeSetUin(uin.c_str(), set));
  EXPECT_EQ(PipeMsgLen(set), 106);
  EXPECT_EQ(ReadUin(set), std::string(99, 'i'));
  EXPECT_FALSE(MakeSetUin(nullptr, set));

  const PipeMsg empty = MakeSyncFile(1, nullptr, nullptr, 0, 0, 0, nullptr);
  EXPECT_EQ(ReadSyncFile(empty).name, "");
}

TEST(PipeMsg, ReceivedTextsWithoutNulStopAtTheirField) {
  PipeMsg m = MakeSyncReturn(1, "x", 0, true, 0, 0, "");
  uint8_t* raw = reinterpret_cast<uint8_t*>(&m);
  memset(raw + 10, 'A', 256);   // name field full, no NUL
  memset(raw + 275, 'B', 548);  // error text and every byte after it
  const SyncReturnFields f = ReadSyncReturn(m);
  EXPECT_EQ(f.name, std::string(256, 'A'));
  EXPECT_EQ(f.errorText, std::string(512, 'B'));
  memset(raw + 6, 'C', 817);
  EXPECT_EQ(ReadUin(m), std::string(100, 'C'));
  EXPECT_EQ(ReadSyncFile(m).packedDigest, std::string(33, 'C'));
}

TEST(PipeMsg, WireRecordsMustMatchTheirLength) {
  const PipeMsg hello = MakeHello(1);
  PipeMsg out;
  ASSERT_TRUE(PipeMsgFromWire(Raw(hello), 10, out));
  EXPECT_EQ(PipeMsgCmd(out), CMD_HELLO);
  EXPECT_EQ(Raw(out)[10], 0);
  EXPECT_FALSE(PipeMsgFromWire(Raw(hello), 9, out));   // short record
  EXPECT_FALSE(PipeMsgFromWire(Raw(hello), 11, out));  // longer than its len
  const PipeMsg full = MakeSyncFile(1, "a", "b", 0, 0, 0, "c");
  EXPECT_TRUE(PipeMsgFromWire(Raw(full), 823, out));
  EXPECT_FALSE(PipeMsgFromWire(Raw(full), 5, out));
  EXPECT_FALSE(PipeMsgFromWire(nullptr, 10, out));
  uint8_t big[900] = {};
  big[0] = 900 & 0xFF;
  big[1] = 900 >> 8;
  EXPECT_FALSE(PipeMsgFromWire(big, sizeof big, out));
}

TEST(PipeMsg, HeapCopiesTravelAsWParam) {
  const PipeMsg event = MakeHostEvent(5);
  const uintptr_t w = NewPipeMsgCopy(event);
  ASSERT_NE(w, 0u);
  EXPECT_EQ(memcmp(PipeMsgOfParam(w), &event, sizeof event), 0);
  FreePipeMsgCopy(w);
  FreePipeMsgCopy(0);
}

}  // namespace
}  // namespace udra
