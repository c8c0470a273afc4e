// The store's virtual-table slots are the binary interface: these tests call
// by slot number, as a caller built by another compiler does.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "StoreTestUtil.h"
#include "core/IZav.h"
#include "platform/Module.h"

namespace udra::store::test {
namespace {

// Calls slot `slot` of `object`'s virtual table with the given arguments,
// the object passed as a member call passes it (ZAV_SLOT_CALL, from the
// build: __thiscall on 32-bit Windows, this in ECX and the callee popping).
template <typename R, typename... Args>
R CallSlot(IZav* object, int slot, Args... args) {
  using Fn = R(ZAV_SLOT_CALL*)(IZav*, Args...);
  void** table = *reinterpret_cast<void***>(object);
  return reinterpret_cast<Fn>(table[slot])(object, args...);
}

// Records which of its operations ran.
class SlotProbe final : public IZav {
 public:
  int last = -1;

  void DeletingDestructor(unsigned int) override { last = 0; }
  bool Create(const char*, int32_t, uint32_t) override { return Hit(1); }
  bool Load(const char*) override { return Hit(2); }
  bool Close() override { return Hit(3); }
  int32_t OpenEntry(const char*, int32_t, int32_t) override { return Hit(4); }
  bool ReadEntry(int32_t, void*, uint32_t*) override { return Hit(5); }
  bool PutEntry(const char*, const void*, uint32_t) override { return Hit(6); }
  bool PutEntries(const ZavEntryData*, uint32_t) override { return Hit(7); }
  bool PutEntryFromFile(const char*, const char*) override { return Hit(8); }
  bool RemoveEntry(const char*) override { return Hit(9); }
  int32_t ListEntries(ZavListCallback, void*) override { return Hit(10); }
  bool Reserved11() override { return Hit(11); }
  int32_t GetEntrySize(int32_t) override { return Hit(12); }
  int32_t GetEntrySizeByName(const char*) override { return Hit(13); }
  int32_t GetEntryCount() override { return Hit(14); }
  bool ReadEntryAt(int32_t, uint32_t, void*, uint32_t*) override { return Hit(15); }
  bool Checkpoint() override { return Hit(16); }
  bool Exists(const char*) override { return Hit(17); }
  bool HasEntry(const char*) override { return Hit(18); }
  bool MoveEntryFromFile(const char*, const char*) override { return Hit(19); }
  bool GetEntrySizes(const char* const*, uint32_t, int32_t*) override { return Hit(20); }
  bool Reserved21() override { return Hit(21); }
  int32_t GetErrorCode(int32_t) override { return Hit(22); }

 private:
  int Hit(int slot) {
    last = slot;
    return 1;
  }
};

TEST(StoreSlots, EveryOperationSitsInItsSlot) {
  SlotProbe probe;
  IZav* p = &probe;
  uint32_t n = 0;
  auto expect = [&](int slot) {
    EXPECT_EQ(probe.last, slot);
    probe.last = -1;
  };
  CallSlot<void>(p, 0, 0u), expect(0);
  CallSlot<bool>(p, 1, "x", int32_t{0}, uint32_t{0}), expect(1);
  CallSlot<bool>(p, 2, "x"), expect(2);
  CallSlot<bool>(p, 3), expect(3);
  CallSlot<int32_t>(p, 4, "x", int32_t{1}, int32_t{0}), expect(4);
  CallSlot<bool>(p, 5, int32_t{0}, static_cast<void*>(nullptr), &n), expect(5);
  CallSlot<bool>(p, 6, "x", static_cast<const void*>(nullptr), uint32_t{0}), expect(6);
  CallSlot<bool>(p, 7, static_cast<const ZavEntryData*>(nullptr), uint32_t{0}), expect(7);
  CallSlot<bool>(p, 8, "x", "y"), expect(8);
  CallSlot<bool>(p, 9, "x"), expect(9);
  CallSlot<int32_t>(p, 10, static_cast<ZavListCallback>(nullptr), static_cast<void*>(nullptr)), expect(10);
  CallSlot<bool>(p, 11), expect(11);
  CallSlot<int32_t>(p, 12, int32_t{0}), expect(12);
  CallSlot<int32_t>(p, 13, "x"), expect(13);
  CallSlot<int32_t>(p, 14), expect(14);
  CallSlot<bool>(p, 15, int32_t{0}, uint32_t{0}, static_cast<void*>(nullptr), &n), expect(15);
  CallSlot<bool>(p, 16), expect(16);
  CallSlot<bool>(p, 17, "x"), expect(17);
  CallSlot<bool>(p, 18, "x"), expect(18);
  CallSlot<bool>(p, 19, "x", "y"), expect(19);
  CallSlot<bool>(p, 20, static_cast<const char* const*>(nullptr), uint32_t{0}, static_cast<int32_t*>(nullptr)),
      expect(20);
  CallSlot<bool>(p, 21), expect(21);
  CallSlot<int32_t>(p, 22, int32_t{1}), expect(22);
}

// The staged "ZAV.dll" driven through its exports and slot numbers only, in
// the order the library uses it.
TEST(StoreSlots, StagedLibraryWorksThroughItsVirtualTable) {
  platform::ModuleHandle module = platform::LoadModule(UDRA_STAGE_DIR "/ZAV.dll");
  ASSERT_NE(module, nullptr);
  auto get = reinterpret_cast<GetZavFn>(platform::ModuleSymbol(module, kGetZavExport));
  auto release = reinterpret_cast<ReleaseZavFn>(platform::ModuleSymbol(module, kReleaseZavExport));
  ASSERT_NE(get, nullptr);
  ASSERT_NE(release, nullptr);
  IZav* zav = get();
  ASSERT_NE(zav, nullptr);

  TempDir dir;
  const std::string store = dir.Store();
  EXPECT_FALSE(CallSlot<bool>(zav, 17, store.c_str()));
  EXPECT_TRUE(CallSlot<bool>(zav, 1, store.c_str(), int32_t{0}, uint32_t{1024}));
  EXPECT_TRUE(CallSlot<bool>(zav, 17, store.c_str()));

  const std::string content = "stored bytes";
  EXPECT_TRUE(CallSlot<bool>(zav, 6, "Data\\A.pak", static_cast<const void*>(content.data()),
                             static_cast<uint32_t>(content.size())));
  EXPECT_TRUE(CallSlot<bool>(zav, 18, "data\\a.PAK"));
  EXPECT_FALSE(CallSlot<bool>(zav, 18, "data\\b.pak"));
  EXPECT_EQ(CallSlot<int32_t>(zav, 13, "DATA\\A.PAK"), static_cast<int32_t>(content.size()));
  EXPECT_EQ(CallSlot<int32_t>(zav, 13, "missing"), -1);

  int32_t handle = CallSlot<int32_t>(zav, 4, "data\\a.pak", int32_t{1}, int32_t{0});
  ASSERT_GE(handle, 0);
  int32_t size = CallSlot<int32_t>(zav, 12, handle);
  ASSERT_EQ(size, static_cast<int32_t>(content.size()));
  std::vector<char> buffer(static_cast<size_t>(size));
  uint32_t inout = static_cast<uint32_t>(size);
  EXPECT_TRUE(CallSlot<bool>(zav, 5, handle, static_cast<void*>(buffer.data()), &inout));
  EXPECT_EQ(std::string(buffer.data(), inout), content);
  EXPECT_EQ(CallSlot<int32_t>(zav, 4, "missing", int32_t{1}, int32_t{0}), -1);

  EXPECT_TRUE(CallSlot<bool>(zav, 3));
  EXPECT_FALSE(CallSlot<bool>(zav, 2, (dir.path() + "/elsewhere").c_str()));
  EXPECT_EQ(CallSlot<int32_t>(zav, 22, int32_t{1}), kZavErrUnreadable);
  EXPECT_TRUE(CallSlot<bool>(zav, 2, store.c_str()));
  EXPECT_EQ(CallSlot<int32_t>(zav, 22, int32_t{1}), kZavOk);
  EXPECT_TRUE(CallSlot<bool>(zav, 18, "DATA\\A.PAK"));
  EXPECT_TRUE(CallSlot<bool>(zav, 3));
  release(zav);
  platform::FreeModule(module);
}

}  // namespace
}  // namespace udra::store::test
