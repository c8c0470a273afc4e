#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include "ipc/IpcTestSupport.h"
#include "platform/MessagePipe.h"
#include "platform/Module.h"
#include "platform/NamedMutex.h"
#include "platform/Process.h"
#include "platform/SharedMemory.h"
#include "platform/Sync.h"

namespace udra::platform {
namespace {

namespace fs = std::filesystem;
using ipctest::UniqueName;
using ipctest::WaitUntil;

constexpr uint64_t kAlign = SharedMemory::kViewAlignment;

TEST(SharedMemory, ViewsAtAlignedOffsetsWithAnyLength) {
  const std::string name = "Global\\" + UniqueName("UDRATESTSHM");
  auto owner = SharedMemory::Create(name, 3 * kAlign + 100);
  ASSERT_NE(owner, nullptr);
  auto* all = static_cast<uint8_t*>(owner->MapView(0, 0));
  ASSERT_NE(all, nullptr);
  for (uint64_t i = 0; i < 3 * kAlign + 100; ++i) all[i] = static_cast<uint8_t>(i % 251);

  auto reader = SharedMemory::Open(name, false);
  ASSERT_NE(reader, nullptr);
  EXPECT_GE(reader->size(), 3 * kAlign + 100);
  // A view that starts inside the second granule: map from its start, as a
  // reader of an entry at offset kAlign + 1000 does.
  const uint64_t entry = kAlign + 1000;
  const uint64_t start = entry / kAlign * kAlign;
  auto* view = static_cast<const uint8_t*>(reader->MapView(start, (entry - start) + 1024));
  ASSERT_NE(view, nullptr);
  for (uint64_t i = 0; i < 1024; ++i) ASSERT_EQ(view[entry - start + i], (entry + i) % 251);
  auto* tail = static_cast<const uint8_t*>(reader->MapView(3 * kAlign, 100));
  ASSERT_NE(tail, nullptr);
  EXPECT_EQ(tail[99], (3 * kAlign + 99) % 251);

  EXPECT_EQ(reader->MapView(1000, 16), nullptr);      // not on the granularity
  EXPECT_EQ(reader->MapView(4 * kAlign, 16), nullptr);  // past the end
  int local = 0;
  EXPECT_FALSE(reader->UnmapView(&local));
  EXPECT_TRUE(reader->UnmapView(const_cast<uint8_t*>(view)));
  EXPECT_FALSE(reader->UnmapView(const_cast<uint8_t*>(view)));

  // Writes through another read-write handle are seen by everyone.
  auto writer = SharedMemory::Open(name, true);
  ASSERT_NE(writer, nullptr);
  auto* w = static_cast<uint8_t*>(writer->MapView(2 * kAlign, 0));
  ASSERT_NE(w, nullptr);
  w[5] = 0xEE;
  EXPECT_EQ(all[2 * kAlign + 5], 0xEE);
  EXPECT_TRUE(writer->UnmapView(w));
  EXPECT_TRUE(owner->UnmapView(all));
}

// As with a Win32 mapping, the memory lives while anyone holds it: a host
// that ends leaves it to the game, and the next host finds the same bytes.
TEST(SharedMemory, LivesWhileAnyHolderHoldsIt) {
  const std::string name = "Global\\" + UniqueName("UDRATESTLIFE");
  auto first = SharedMemory::Create(name, kAlign);
  ASSERT_NE(first, nullptr);
  static_cast<uint8_t*>(first->MapView(0, 0))[7] = 0x5A;
  auto reader = SharedMemory::Open(name, false);
  ASSERT_NE(reader, nullptr);
  first.reset();
  auto second = SharedMemory::Create(name, kAlign);
  ASSERT_NE(second, nullptr);
  auto* bytes = static_cast<uint8_t*>(second->MapView(0, 0));
  ASSERT_NE(bytes, nullptr);
  EXPECT_EQ(bytes[7], 0x5A);
  bytes[8] = 0xA5;
  EXPECT_EQ(static_cast<const uint8_t*>(reader->MapView(0, 16))[8], 0xA5) << "one memory for both";
  second.reset();
  reader.reset();
  EXPECT_EQ(SharedMemory::Open(name, false), nullptr) << "gone with its last holder";
}

TEST(SharedMemory, OpeningWhatDoesNotExistFails) {
  EXPECT_EQ(SharedMemory::Open("Global\\" + UniqueName("UDRATESTNOSHM"), false), nullptr);
  EXPECT_EQ(SharedMemory::Create("Global\\" + UniqueName("UDRATESTZERO"), 0), nullptr);
}

// A liveness probe that runs while a host claims its instance mutex never
// makes the claim fail.
TEST(NamedMutex, ProbesNeverStandInTheWayOfATake) {
  const std::string name = UniqueName("UDRATESTPROBE");
  std::atomic<bool> done{false};
  std::thread prober([&] {
    while (!done) NamedMutex::Exists(name);
  });
  int refused = 0;
  for (int i = 0; i < 2000; ++i) {
    auto mutex = NamedMutex::CreateOrOpen(name, true);
    if (!mutex) ++refused;
  }
  done = true;
  prober.join();
  EXPECT_EQ(refused, 0);
}

TEST(NamedMutex, ReentrantForItsThreadAndExclusiveAgainstOthers) {
  const std::string name = "Global\\" + UniqueName("UDRATESTMTX");
  auto mutex = NamedMutex::CreateOrOpen(name, false);
  ASSERT_NE(mutex, nullptr);
  ASSERT_EQ(mutex->Wait(0), NamedMutex::WaitResult::Acquired);
  ASSERT_EQ(mutex->Wait(0), NamedMutex::WaitResult::Acquired);
  EXPECT_TRUE(NamedMutex::Exists(name));

  auto second = NamedMutex::CreateOrOpen(name, false);  // another handle, same mutex
  ASSERT_NE(second, nullptr);
  auto other = Thread::Start([&] {
    const bool timedOut = mutex->Wait(50) == NamedMutex::WaitResult::Timeout &&
                          second->Wait(50) == NamedMutex::WaitResult::Timeout;
    const bool releaseRefused = !mutex->Release();
    return timedOut && releaseRefused ? 1 : 0;
  });
  ASSERT_TRUE(other->Wait(kInfinite));
  EXPECT_EQ(other->exitCode(), 1);

  // The holding thread holds it through every handle, one take each.
  EXPECT_TRUE(mutex->Release());
  EXPECT_EQ(second->Wait(0), NamedMutex::WaitResult::Acquired);
  EXPECT_TRUE(second->Release());
  EXPECT_TRUE(mutex->Release());
  EXPECT_FALSE(mutex->Release());
  auto taker = Thread::Start([&] {
    const bool taken = second->Wait(1000) == NamedMutex::WaitResult::Acquired;
    return taken && second->Release() ? 1 : 0;
  });
  ASSERT_TRUE(taker->Wait(kInfinite));
  EXPECT_EQ(taker->exitCode(), 1);
}

// Starts this test executable again in a helper role (see ChildRoles.cpp).
class Child {
 public:
  Child(const std::string& role, const std::string& argument) {
    folder_ = fs::temp_directory_path() / UniqueName("udra-ipc-child-");
    fs::create_directories(folder_);
    std::ofstream(folder_ / ipctest::kRoleFile) << role << " " << argument << "\n";
    process_ = Process::Launch(ModulePathOf(reinterpret_cast<const void*>(&Child::Ready)), folder_.string());
  }
  ~Child() {
    if (process_ && !process_->Wait(0)) {
      process_->Terminate();
      process_->Wait(10000);
    }
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }
  // What the child reported once it plays its role.
  static std::string Ready(const fs::path& folder) {
    std::ifstream in(folder / ipctest::kReadyFile);
    std::string text;
    in >> text;
    return text;
  }
  std::string WaitReady() {
    std::string text;
    WaitUntil([&] { return !(text = Ready(folder_)).empty(); }, 20000);
    return text;
  }
  Process* process() { return process_.get(); }

 private:
  fs::path folder_;
  std::unique_ptr<Process> process_;
};

TEST(Process, RunsInItsWorkingFolderAndReportsItsExitCode) {
  Child child("exit", "7");
  ASSERT_NE(child.process(), nullptr);
  EXPECT_NE(child.process()->id(), 0u);
  ASSERT_TRUE(child.process()->Wait(20000));
  EXPECT_EQ(child.process()->exitCode(), 7);
  EXPECT_EQ(child.WaitReady(), "exiting");  // it found its role file there
  EXPECT_EQ(Process::Launch((fs::temp_directory_path() / UniqueName("udra-no-such-exe")).string(), ""), nullptr);
}

TEST(NamedMutex, HolderThatIsKilledNoLongerHoldsIt) {
  const std::string name = UniqueName("UDRATESTHOST");
  Child child("hold-mutex", name);
  ASSERT_NE(child.process(), nullptr);
  ASSERT_EQ(child.WaitReady(), "held");
  EXPECT_TRUE(NamedMutex::Exists(name));
  ASSERT_TRUE(child.process()->Terminate());
  ASSERT_TRUE(child.process()->Wait(10000));
  EXPECT_FALSE(NamedMutex::Exists(name));
}

TEST(NamedMutex, MutexOfAKilledHolderIsReportedAbandoned) {
  const std::string name = "Global\\" + UniqueName("UDRATESTABANDON");
  Child child("hold-mutex", name);
  ASSERT_NE(child.process(), nullptr);
  ASSERT_EQ(child.WaitReady(), "held");
  auto mutex = NamedMutex::CreateOrOpen(name, false);
  ASSERT_NE(mutex, nullptr);
  EXPECT_EQ(mutex->Wait(0), NamedMutex::WaitResult::Timeout);
  ASSERT_TRUE(child.process()->Terminate());
  ASSERT_TRUE(child.process()->Wait(10000));
  EXPECT_EQ(mutex->Wait(5000), NamedMutex::WaitResult::Abandoned);
  EXPECT_TRUE(mutex->Release());
  EXPECT_EQ(mutex->Wait(0), NamedMutex::WaitResult::Acquired);  // released in order this time
  EXPECT_TRUE(mutex->Release());
}

TEST(MessagePipe, ServerThatIsKilledBreaksThePipeAndCanBeReplaced) {
  const std::string key = UniqueName("UDRATESTCRASH");
  Child child("serve-pipe", key);
  ASSERT_NE(child.process(), nullptr);
  ASSERT_EQ(child.WaitReady(), "serving");
  auto client = MessagePipe::Connect(key);
  ASSERT_NE(client, nullptr);
  ASSERT_TRUE(client->StartRead());
  ASSERT_TRUE(child.process()->Terminate());
  ASSERT_TRUE(child.process()->Wait(10000));
  Waitable* w[] = {&client->readCompletion()};
  ASSERT_EQ(WaitForAny(w, 1, 10000), 0);
  EXPECT_EQ(client->ReadResult(nullptr, nullptr), IoStatus::Failed);
  auto server = PipeServer::Create(key);
  ASSERT_NE(server, nullptr);
  EXPECT_NE(MessagePipe::Connect(key), nullptr);
}

}  // namespace
}  // namespace udra::platform
