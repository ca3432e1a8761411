#include "core/object_pool.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

namespace qm {
namespace {

// A full block leaves the list of blocks with room and comes back when one of its
// objects is freed; of the emptied blocks one is kept.
TEST(ObjectPool, BlocksWithRoomAreListedAndOneEmptyBlockIsKept) {
  ObjectPool pool("Test", 200, 8, 16);
  std::vector<void*> objects;
  for (int i = 0; i < 17; ++i) objects.push_back(pool.Alloc());
  EXPECT_EQ(pool.BlockCount(), 2);
  EXPECT_EQ(pool.AvailableBlockCount(), 1);
  pool.Free(objects[1]);
  EXPECT_EQ(pool.AvailableBlockCount(), 2);
  EXPECT_EQ(pool.Alloc(), objects[1]);
  for (void* object : objects) pool.Free(object);
  EXPECT_EQ(pool.LiveCount(), 0);
  EXPECT_EQ(pool.BlockCount(), 1);
  EXPECT_TRUE(pool.HasEmptyBlock());
  for (int i = 0; i < 100; ++i) pool.Free(pool.Alloc());  // reuses the kept block
  EXPECT_EQ(pool.BlockCount(), 1);
}

// Every alignment: objects are aligned, do not overlap (every byte written; the
// sanitizer build would catch an overrun) and go back to their own pool through
// FreeObject.
TEST(ObjectPool, ObjectsAreAlignedAndFindTheirPool) {
  for (const auto& [alignment, objectSize] : {std::pair<size_t, size_t>{8, 3}, {16, 40}, {128, 200}}) {
    ObjectPool pool("Aligned", objectSize, alignment, 16);
    std::vector<unsigned char*> objects;
    for (int i = 0; i < 40; ++i) {
      auto* object = static_cast<unsigned char*>(pool.Alloc());
      EXPECT_EQ(reinterpret_cast<uintptr_t>(object) % alignment, 0u);
      std::memset(object, 0xEE, objectSize);
      objects.push_back(object);
    }
    EXPECT_GE(objects[1] - objects[0], static_cast<ptrdiff_t>(objectSize + 8));  // room for the slot header
    for (size_t i = 0; i < objects.size(); i += 3) ObjectPool::FreeObject(objects[i]);
    for (size_t i = 0; i < objects.size(); ++i) {
      if (i % 3 != 0) {
        EXPECT_EQ(ObjectPool::OwnerOf(objects[i]), &pool);
        ObjectPool::FreeObject(objects[i]);
      }
    }
    EXPECT_EQ(pool.LiveCount(), 0);
  }
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
  pool.Free(pool.Alloc());
  EXPECT_EQ(pool.BlockCount(), 1);
}

}  // namespace
}  // namespace qm
