#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "hostlink/PipeMsg.h"
#include "ipc/IpcTestSupport.h"
#include "platform/MessagePipe.h"
#include "platform/Sync.h"

namespace udra::platform {
namespace {

using ipctest::UniqueName;

// A connected server/client pair on a fresh key.
struct PipePair {
  PipePair() {
    key = UniqueName("UDRATESTPIPE");
    server = PipeServer::Create(key);
    if (!server) return;
    client = MessagePipe::Connect(key);
    if (client) host = server->Accept(5000);
  }
  bool ok() const { return server && client && host; }

  std::string key;
  std::unique_ptr<PipeServer> server;
  std::unique_ptr<MessagePipe> client;
  std::unique_ptr<MessagePipe> host;  // the server's end
};

// Reads one message, waiting for the completion.
IoStatus ReadOne(MessagePipe& pipe, std::vector<uint8_t>& out, uint32_t timeoutMs = 5000) {
  if (!pipe.StartRead()) return IoStatus::Failed;
  Waitable* w[] = {&pipe.readCompletion()};
  if (WaitForAny(w, 1, timeoutMs) != 0) return IoStatus::Pending;
  const uint8_t* data = nullptr;
  size_t size = 0;
  const IoStatus s = pipe.ReadResult(&data, &size);
  if (s == IoStatus::Done) out.assign(data, data + size);
  return s;
}

// Writes one message, waiting for it if it does not complete at once.
bool WriteOne(MessagePipe& pipe, const void* data, size_t size) {
  const IoStatus s = pipe.StartWrite(data, size);
  if (s != IoStatus::Pending) return s == IoStatus::Done;
  Waitable* w[] = {&pipe.writeCompletion()};
  if (WaitForAny(w, 1, 5000) != 0) return false;
  size_t written = 0;
  return pipe.WriteResult(&written) == IoStatus::Done && written == size;
}

TEST(MessagePipe, ConnectWithoutServerFails) {
  int error = 0;
  EXPECT_EQ(MessagePipe::Connect(UniqueName("UDRATESTNONE"), &error), nullptr);
  EXPECT_NE(error, 0);
}

TEST(MessagePipe, SecondServerForTheSameKeyIsRefused) {
  PipePair pair;
  ASSERT_TRUE(pair.ok());
  EXPECT_EQ(PipeServer::Create(pair.key), nullptr);
}

TEST(MessagePipe, TenRecordsArriveInOrderAsTenMessages) {
  PipePair pair;
  ASSERT_TRUE(pair.ok());
  std::vector<PipeMsg> sent;
  for (int i = 0; i < 10; ++i) {
    sent.push_back(i % 2 ? MakeHello(static_cast<uint32_t>(i)) : MakeSyncFile(i, "n", "u", i, 0, 0, "d"));
  }
  // The host reads while the records go out (a pipe buffers only so much).
  std::vector<std::vector<uint8_t>> received(10);
  auto reader = Thread::Start([&] {
    for (auto& got : received) {
      if (ReadOne(*pair.host, got) != IoStatus::Done) return 0;
    }
    return 1;
  });
  for (const PipeMsg& record : sent) ASSERT_TRUE(WriteOne(*pair.client, &record, PipeMsgLen(record)));
  ASSERT_TRUE(reader->Wait(10000));
  ASSERT_EQ(reader->exitCode(), 1);
  for (int i = 0; i < 10; ++i) {
    const std::vector<uint8_t>& got = received[i];
    ASSERT_EQ(got.size(), PipeMsgLen(sent[i])) << i;
    PipeMsg record;
    ASSERT_TRUE(PipeMsgFromWire(got.data(), got.size(), record));
    EXPECT_EQ(memcmp(&record, &sent[i], sizeof record), 0) << i;
  }
  // And back the other way.
  const PipeMsg reply = MakeHostValues(1, 2);
  ASSERT_TRUE(WriteOne(*pair.host, &reply, PipeMsgLen(reply)));
  std::vector<uint8_t> got;
  ASSERT_EQ(ReadOne(*pair.client, got), IoStatus::Done);
  EXPECT_EQ(got.size(), 14u);
}

TEST(MessagePipe, OverlongMessageIsAReadErrorAndShortRecordIsRefused) {
  PipePair pair;
  ASSERT_TRUE(pair.ok());
  std::vector<uint8_t> big(900, 0x5A);
  big[0] = 900 & 0xFF;
  big[1] = 900 >> 8;
  ASSERT_TRUE(WriteOne(*pair.host, big.data(), big.size()));
  std::vector<uint8_t> got;
  EXPECT_EQ(ReadOne(*pair.client, got), IoStatus::Failed);
  EXPECT_NE(pair.client->error(), 0);

  // A record shorter than its len arrives as a message but is no record.
  PipeMsg pair2 = MakeSyncFile(1, "a", "b", 0, 0, 0, "c");
  PipePair fresh;
  ASSERT_TRUE(fresh.ok());
  ASSERT_TRUE(WriteOne(*fresh.host, &pair2, 100));
  ASSERT_EQ(ReadOne(*fresh.client, got), IoStatus::Done);
  EXPECT_EQ(got.size(), 100u);
  PipeMsg record;
  EXPECT_FALSE(PipeMsgFromWire(got.data(), got.size(), record));
}

TEST(MessagePipe, PeerThatGoesAwayIsAnError) {
  PipePair pair;
  ASSERT_TRUE(pair.ok());
  // A read outstanding when the peer goes completes with an error.
  ASSERT_TRUE(pair.client->StartRead());
  const IoStatus early = pair.client->ReadResult(nullptr, nullptr);
  EXPECT_EQ(early, IoStatus::Pending);
  pair.host.reset();
  Waitable* w[] = {&pair.client->readCompletion()};
  ASSERT_EQ(WaitForAny(w, 1, 5000), 0);
  EXPECT_EQ(pair.client->ReadResult(nullptr, nullptr), IoStatus::Failed);
  EXPECT_NE(pair.client->error(), 0);
  // So does a write.
  const PipeMsg tick = MakeTick();
  EXPECT_FALSE(WriteOne(*pair.client, &tick, PipeMsgLen(tick)));
}

TEST(MessagePipe, PendingWriteCompletesOnceThePeerReads) {
  PipePair pair;
  ASSERT_TRUE(pair.ok());
  const PipeMsg record = MakeSyncFile(7, "name", "url", 0, 0, 0, "digest");
  size_t done = 0;
  IoStatus s = IoStatus::Done;
  while (done < 100000 && (s = pair.client->StartWrite(&record, sizeof record)) == IoStatus::Done) ++done;
  ASSERT_EQ(s, IoStatus::Pending) << "after " << done << " writes";
  // Only one write may be outstanding.
  EXPECT_EQ(pair.client->StartWrite(&record, sizeof record), IoStatus::Failed);
  EXPECT_EQ(pair.client->WriteResult(nullptr), IoStatus::Pending);

  // The completion waits together with other events and is told apart.
  Event stop, send;
  Waitable* all[] = {&stop, &send, &pair.client->readCompletion(), &pair.client->writeCompletion()};
  ASSERT_TRUE(pair.client->StartRead());
  EXPECT_EQ(WaitForAny(all, 4, 50), kWaitTimeout);
  ASSERT_TRUE(send.Set());
  EXPECT_EQ(WaitForAny(all, 4, 5000), 1);

  std::vector<uint8_t> got;
  for (size_t i = 0; i < done; ++i) ASSERT_EQ(ReadOne(*pair.host, got), IoStatus::Done) << i;
  ASSERT_EQ(WaitForAny(all, 4, 5000), 3);
  size_t written = 0;
  ASSERT_EQ(pair.client->WriteResult(&written), IoStatus::Done);
  EXPECT_EQ(written, sizeof record);
  ASSERT_EQ(ReadOne(*pair.host, got), IoStatus::Done);
  EXPECT_EQ(got.size(), sizeof record);

  // The outstanding read is still there and ends with the host's reply.
  const PipeMsg event = MakeHostEvent(3);
  ASSERT_TRUE(WriteOne(*pair.host, &event, PipeMsgLen(event)));
  ASSERT_EQ(WaitForAny(all, 4, 5000), 2);
  const uint8_t* data = nullptr;
  size_t size = 0;
  ASSERT_EQ(pair.client->ReadResult(&data, &size), IoStatus::Done);
  EXPECT_EQ(size, 10u);
}

TEST(MessagePipe, WritesOfBadSizeAreRefused) {
  PipePair pair;
  ASSERT_TRUE(pair.ok());
  uint8_t byte = 0;
  EXPECT_EQ(pair.client->StartWrite(&byte, 0), IoStatus::Failed);
  std::vector<uint8_t> huge(MessagePipe::kMaxWriteSize + 1);
  EXPECT_EQ(pair.client->StartWrite(huge.data(), huge.size()), IoStatus::Failed);
  EXPECT_EQ(pair.client->WriteResult(nullptr), IoStatus::Failed);  // nothing outstanding
}

TEST(Events, AutoResetAndTimeout) {
  Event a, b;
  ASSERT_TRUE(a.valid() && b.valid());
  Waitable* both[] = {&a, &b};
  EXPECT_EQ(WaitForAny(both, 2, 0), kWaitTimeout);
  b.Set();
  a.Set();
  EXPECT_EQ(WaitForAny(both, 2, 0), 0);  // the lowest index first
  EXPECT_EQ(WaitForAny(both, 2, 0), 1);
  EXPECT_EQ(WaitForAny(both, 2, 0), kWaitTimeout);
  a.Set();
  a.Reset();
  EXPECT_EQ(WaitForAny(both, 2, 0), kWaitTimeout);
  EXPECT_EQ(WaitForAny(both, 0, 0), kWaitFailed);

  auto setter = Thread::Start([&] {
    SleepMs(20);
    b.Set();
    return 17;
  });
  ASSERT_NE(setter, nullptr);
  EXPECT_EQ(WaitForAny(both, 2, kInfinite), 1);
  ASSERT_TRUE(setter->Wait(kInfinite));
  EXPECT_EQ(setter->exitCode(), 17);
}

TEST(Threads, WaitTimesOutAndALiveThreadMayOutliveItsObject) {
  auto gate = std::make_shared<Event>();
  auto thread = Thread::Start([gate] {
    Waitable* w[] = {gate.get()};
    return WaitForAny(w, 1, kInfinite) == 0 ? 1 : 0;
  });
  ASSERT_NE(thread, nullptr);
  EXPECT_FALSE(thread->Wait(30));
  thread.reset();  // still running: it goes on alone
  gate->Set();
  SleepMs(50);
}

}  // namespace
}  // namespace udra::platform
