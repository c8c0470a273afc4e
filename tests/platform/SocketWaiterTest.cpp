#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/Socket.h"
#include "platform/SocketWaiter.h"

namespace udra::platform {
namespace {

constexpr uint32_t kLoopback = 0x0100007F;  // 127.0.0.1 in network byte order

class SocketWaiterTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(SocketStartup()); }
  void TearDown() override { SocketCleanup(); }

  // A datagram socket on the loopback address and its port.
  static SocketHandle Bound(uint16_t& port) {
    const SocketHandle s = SocketCreate(SocketKind::Datagram);
    if (s == kInvalidSocket || !SocketBind(s, kLoopback, 0) || !SocketLocalPort(s, port)) return kInvalidSocket;
    return s;
  }

  static int64_t MsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
  }
};

TEST_F(SocketWaiterTest, AWakeUpEndsAWaitOnceAndIsThenUsedUp) {
  auto waiter = SocketWaiter::Create();
  ASSERT_TRUE(waiter);
  std::vector<ReadySocket> ready;
  auto start = std::chrono::steady_clock::now();
  std::thread ringer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    waiter->Wake();
  });
  waiter->Wait({}, 10000, ready);
  ringer.join();
  EXPECT_LT(MsSince(start), 5000);
  EXPECT_TRUE(ready.empty());

  // Several rings before a wait wake that one wait only.
  waiter->Wake();
  waiter->Wake();
  waiter->Wait({}, 10000, ready);
  start = std::chrono::steady_clock::now();
  waiter->Wait({}, 100, ready);
  EXPECT_GE(MsSince(start), 80);
}

TEST_F(SocketWaiterTest, ReportsWhatEachSocketIsReadyForAndAClosedOneAsInvalid) {
  auto waiter = SocketWaiter::Create();
  ASSERT_TRUE(waiter);
  uint16_t quietPort = 0, busyPort = 0;
  const SocketHandle quiet = Bound(quietPort), busy = Bound(busyPort);
  ASSERT_NE(quiet, kInvalidSocket);
  ASSERT_NE(busy, kInvalidSocket);
  ASSERT_EQ(SocketSendTo(quiet, "x", 1, kLoopback, busyPort), 1);

  std::vector<ReadySocket> ready;
  waiter->Wait({{quiet, true, false}, {busy, true, false}}, 5000, ready);
  ASSERT_EQ(ready.size(), 1u);
  EXPECT_EQ(ready[0].socket, busy);
  EXPECT_TRUE(ready[0].readable);
  EXPECT_FALSE(ready[0].writable || ready[0].failed || ready[0].invalid);

  ready.clear();
  waiter->Wait({{quiet, false, true}}, 5000, ready);
  ASSERT_EQ(ready.size(), 1u);
  EXPECT_TRUE(ready[0].writable);
  EXPECT_FALSE(ready[0].readable);

  // A socket closed without being taken out is named; once it is taken out
  // the others are served again.
  SocketClose(quiet);
  ready.clear();
  waiter->Wait({{quiet, true, false}, {busy, true, false}}, 5000, ready);
  bool sawInvalid = false;
  for (const ReadySocket& r : ready) sawInvalid |= r.socket == quiet && r.invalid;
  EXPECT_TRUE(sawInvalid);
  ready.clear();
  waiter->Wait({{busy, true, false}}, 5000, ready);
  ASSERT_EQ(ready.size(), 1u);
  EXPECT_TRUE(ready[0].readable);
  SocketClose(busy);
}

}  // namespace
}  // namespace udra::platform
