#include "hostlink/ShareState.h"

#include <gtest/gtest.h>

#include <cstring>

#include "hostlink/ChildRoles.h"
#include "hostlink/HostlinkTestSupport.h"
#include "platform/Sync.h"
#include "support/TempDir.h"

namespace udra {
namespace {

using hostlinktest::UniqueKey;

struct FakeHostState {
  explicit FakeHostState(const std::string& key)
      : memory(platform::SharedMemory::Create(ShareState::MappingName(key), 4096)),
        word(memory ? static_cast<uint8_t*>(memory->MapView(0, 0)) : nullptr) {}
  void Set(uint32_t value) { std::memcpy(word, &value, sizeof value); }
  std::unique_ptr<platform::SharedMemory> memory;
  uint8_t* word;
};

TEST(ShareState, OpensTheHostsMappingAndCopiesTheStateWord) {
  const std::string key = UniqueKey("HLSTATE");
  FakeHostState host(key);
  ASSERT_NE(host.word, nullptr);
  ShareState state(key);
  EXPECT_FALSE(state.Refresh());  // not open yet
  ASSERT_TRUE(state.Open());
  host.Set(0x01020304);
  ASSERT_TRUE(state.Refresh());
  EXPECT_EQ(state.stateWord, 0x01020304u);
  host.Set(0);
  ASSERT_TRUE(state.Refresh());
  EXPECT_EQ(state.stateWord, 0u);
  EXPECT_EQ(state.copySize, 4u);

  // The copy released the mutex: the host can take it at once.
  auto mutex = platform::NamedMutex::CreateOrOpen(ShareState::MutexName(key), false);
  ASSERT_NE(mutex, nullptr);
  EXPECT_EQ(mutex->Wait(0), platform::NamedMutex::WaitResult::Acquired);
  mutex->Release();

  state.Close();
  EXPECT_FALSE(state.Refresh());
}

TEST(ShareState, OpenNeedsTheMappingButAlwaysMakesTheMutex) {
  const std::string key = UniqueKey("HLSTATENONE");
  ShareState state(key);
  EXPECT_FALSE(state.Open());
  EXPECT_FALSE(state.Refresh());
  // The mutex was created all the same; a later host opens the same one.
  auto mutex = platform::NamedMutex::CreateOrOpen(ShareState::MutexName(key), false);
  EXPECT_NE(mutex, nullptr);
}

TEST(ShareState, AHostThatKeepsTheMutexDoesNotBlockTheCopyForEver) {
  const std::string key = UniqueKey("HLSTATEHELD");
  FakeHostState host(key);
  host.Set(7);
  ShareState state(key);
  ASSERT_TRUE(state.Open());
  auto holder = platform::Thread::Start([&] {
    auto mutex = platform::NamedMutex::CreateOrOpen(ShareState::MutexName(key), true);
    platform::SleepMs(3000);
    return mutex ? 0 : 1;
  });
  platform::SleepMs(200);
  EXPECT_TRUE(state.Refresh());  // after at most a second's wait
  EXPECT_EQ(state.stateWord, 7u);
  EXPECT_FALSE(holder->Wait(0));  // the holder still holds it
  EXPECT_TRUE(holder->Wait(10000));
  EXPECT_EQ(holder->exitCode(), 0);
}

TEST(ShareState, AnAbandonedMutexIsTakenCopiedAndReleased) {
  const std::string key = UniqueKey("HLSTATEDEAD");
  FakeHostState host(key);
  host.Set(0xABCD);
  test::TempDir dir;
  {
    hostlinktest::MutexHolder dying(dir.path(), ShareState::MutexName(key));
    ASSERT_NE(dying.process, nullptr);
    ASSERT_EQ(dying.WaitReady(), "held");
    ASSERT_TRUE(dying.process->Terminate());
    ASSERT_TRUE(dying.process->Wait(5000));
  }
  ShareState state(key);
  ASSERT_TRUE(state.Open());
  ASSERT_TRUE(state.Refresh());
  EXPECT_EQ(state.stateWord, 0xABCDu);
  // Released after the copy: the next taker finds it free and not abandoned.
  auto mutex = platform::NamedMutex::CreateOrOpen(ShareState::MutexName(key), false);
  ASSERT_NE(mutex, nullptr);
  EXPECT_EQ(mutex->Wait(0), platform::NamedMutex::WaitResult::Acquired);
  mutex->Release();
}

}  // namespace
}  // namespace udra
