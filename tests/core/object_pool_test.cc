#include "core/object_pool.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

namespace qm {
namespace {

TEST(ObjectPool, SeventeenObjectsMakeTwoBlocksAndOneEmptyBlockIsKept) {
  ObjectPool pool("Test", 200, 8, 16);
  std::vector<void*> objects;
  for (int i = 0; i < 17; ++i) objects.push_back(pool.Alloc());
  EXPECT_EQ(pool.BlockCount(), 2);
  EXPECT_EQ(pool.AvailableBlockCount(), 1);  // the full block left the list
  EXPECT_EQ(pool.LiveCount(), 17);
  for (void* object : objects) pool.Free(object);
  EXPECT_EQ(pool.LiveCount(), 0);
  EXPECT_EQ(pool.BlockCount(), 1);
  EXPECT_TRUE(pool.HasEmptyBlock());

  // Making and dropping one object again and again reuses the kept block.
  for (int i = 0; i < 100; ++i) pool.Free(pool.Alloc());
  EXPECT_EQ(pool.BlockCount(), 1);
}

TEST(ObjectPool, FreeingIntoAFullBlockReusesThatSlotNext) {
  ObjectPool pool("Test", 24, 8, 4);
  void* objects[8];
  for (void*& object : objects) object = pool.Alloc();  // two full blocks
  EXPECT_EQ(pool.AvailableBlockCount(), 0);
  pool.Free(objects[1]);
  EXPECT_EQ(pool.AvailableBlockCount(), 1);
  EXPECT_EQ(pool.Alloc(), objects[1]);
  pool.Free(objects[6]);
  pool.Free(objects[2]);  // its block goes to the head of the list
  EXPECT_EQ(pool.Alloc(), objects[2]);
  EXPECT_EQ(pool.Alloc(), objects[6]);
  EXPECT_EQ(pool.LiveCount(), 8);
  for (void* object : objects) pool.Free(object);
}

// Every alignment: objects sit objectOffset (8 rounded up to the alignment) past their
// slot start, are aligned, do not overlap (every byte written; the sanitizer build
// would catch an overrun) and go back to their own pool through FreeObject.
TEST(ObjectPool, ObjectsAreAlignedAndFindTheirPool) {
  struct Case {
    size_t alignment, objectSize;
    int32_t offset;
    int64_t slotSize;
  };
  const Case cases[] = {{8, 3, 8, 16}, {8, 100, 8, 112}, {16, 40, 16, 64}, {64, 8, 64, 128}, {128, 200, 128, 384}};
  for (const Case& c : cases) {
    ObjectPool pool("Aligned", c.objectSize, c.alignment, 16);
    EXPECT_EQ(pool.ObjectOffset(), c.offset);
    EXPECT_EQ(pool.SlotSize(), c.slotSize);
    std::vector<unsigned char*> objects;
    for (int i = 0; i < 40; ++i) {
      auto* object = static_cast<unsigned char*>(pool.Alloc());
      EXPECT_EQ(reinterpret_cast<uintptr_t>(object) % c.alignment, 0u);
      std::memset(object, 0xEE, c.objectSize);
      objects.push_back(object);
    }
    EXPECT_EQ(objects[1] - objects[0], c.slotSize);  // bump order within a block
    for (size_t i = 0; i < objects.size(); i += 3) ObjectPool::FreeObject(objects[i]);
    for (size_t i = 0; i < objects.size(); ++i) {
      if (i % 3 != 0) {
        EXPECT_EQ(ObjectPool::OwnerOf(objects[i]), &pool);
        ObjectPool::FreeObject(objects[i]);
      }
    }
    EXPECT_EQ(pool.LiveCount(), 0);
    EXPECT_EQ(pool.BlockCount(), 1);
  }
}

struct Pooled {
  static constexpr const char* kPoolName = "Pooled";
  static inline int live = 0;
  static void* operator new(size_t bytes) { return PoolOf<Pooled>().Alloc(bytes); }
  static void operator delete(void* object) { ObjectPool::FreeObject(object); }
  explicit Pooled(int v) : value(v) { ++live; }
  ~Pooled() { --live; }
  int value;
  char payload[52];
};

TEST(PoolGroup, ClassesTakeObjectsFromTheirNamedGroup) {
  PoolGroup& group = PoolOf<Pooled>();
  EXPECT_STREQ(group.Current().Name(), "Pooled");
  Pooled* made = new Pooled(5);
  Pooled* placed = PoolNew<Pooled>(group, 6);
  EXPECT_EQ(group.Current().LiveCount(), 2);
  EXPECT_EQ(made->value + placed->value, 11);
  EXPECT_EQ(ObjectPool::OwnerOf(made), &group.Pool(0));
  delete made;
  PoolDelete(group, placed);
  EXPECT_EQ(Pooled::live, 0);
  EXPECT_EQ(group.LiveCount(), 0);
}

// A thread uses the pool at its index AND 3, and an object goes back to the pool that
// made it, whichever thread frees it.
TEST(PoolGroup, ThreadIndexSelectsThePool) {
  PoolGroup group("Indexed", 32, 8, 16);
  EXPECT_EQ(&group.Current(), &group.Pool(0));
  void* fromPool1 = nullptr;
  std::thread worker([&] {
    SetThreadPoolIndex(5);
    EXPECT_EQ(&group.Current(), &group.Pool(1));
    fromPool1 = group.Alloc(32);
  });
  worker.join();
  EXPECT_EQ(ThreadPoolIndex(), -1);
  EXPECT_EQ(group.Pool(1).LiveCount(), 1);
  ObjectPool::FreeObject(fromPool1);
  EXPECT_EQ(group.Pool(1).LiveCount(), 0);
  EXPECT_EQ(group.Pool(0).BlockCount(), 0);
}

TEST(ObjectPool, TeardownFreesEveryBlockAndThePoolStaysUsable) {
  ObjectPool pool("Teardown", 64, 8, 16);
  for (int i = 0; i < 40; ++i) pool.Alloc();  // left live on purpose
  EXPECT_EQ(pool.BlockCount(), 3);
  TeardownAllPools();
  EXPECT_EQ(pool.BlockCount(), 0);
  EXPECT_EQ(pool.AvailableBlockCount(), 0);
  pool.Free(pool.Alloc());
  EXPECT_EQ(pool.BlockCount(), 1);
}

}  // namespace
}  // namespace qm
