#include "core/object_pool.h"

#include <cassert>
#include <cstring>

#include "core/allocation.h"

namespace qm {

// The 64-byte header at the start of every block.
struct PoolBlock {
  int64_t bumpIndex;  // next never-used slot
  int64_t liveCount;
  PoolBlock* availablePrev;
  PoolBlock* availableNext;
  unsigned char* freeList;  // first free slot, or null
  PoolBlock* allPrev;
  PoolBlock* allNext;
  ObjectPool* pool;
};
static_assert(sizeof(PoolBlock) == ObjectPool::kHeaderSize, "the block header is 64 bytes");

namespace {

constexpr size_t kBlockPointerBytes = sizeof(PoolBlock*);

constinit std::atomic<uint32_t> poolListLock{0};
constinit ObjectPool* poolListHead = nullptr;
constinit thread_local int32_t threadPoolIndex = -1;

int64_t RoundUp(int64_t value, int64_t alignment) {
  return (value + alignment - 1) & ~(alignment - 1);
}

void SpinLock(std::atomic<uint32_t>& word) {
  for (;;) {
    uint32_t expected = 0;
    if (word.compare_exchange_weak(expected, 1)) return;
    while (word.load(std::memory_order_relaxed) != 0) {
    }
  }
}

void SpinUnlock(std::atomic<uint32_t>& word) {
  word.store(0);
  std::atomic_thread_fence(std::memory_order_seq_cst);
}

// Reads the block pointer stored at `word`.
PoolBlock* BlockOfSlot(const unsigned char* word) {
  PoolBlock* block;
  std::memcpy(&block, word, sizeof(block));
  return block;
}

}  // namespace

ObjectPool::ObjectPool(const char* name, size_t objectSize, size_t alignment, size_t objectsPerBlock)
    : name_(name) {
  assert(alignment != 0 && (alignment & (alignment - 1)) == 0);
  assert(objectsPerBlock >= 1);
  alignment_ = alignment < 8 ? 8 : static_cast<int64_t>(alignment);
  objectSize_ = objectSize < 8 ? 8 : static_cast<int64_t>(objectSize);
  objectsPerBlock_ = objectsPerBlock < 1 ? 1 : static_cast<int64_t>(objectsPerBlock);
  objectOffset_ = static_cast<int32_t>(RoundUp(8, alignment_));
  slotSize_ = RoundUp(objectOffset_ + objectSize_, alignment_);
  headerGap_ = static_cast<int32_t>(RoundUp(headerSize_, alignment_) - headerSize_);
  SpinLock(poolListLock);
  next_ = poolListHead;
  poolListHead = this;
  SpinUnlock(poolListLock);
}

ObjectPool::~ObjectPool() {
  Teardown();
  SpinLock(poolListLock);
  for (ObjectPool** link = &poolListHead; *link != nullptr; link = &(*link)->next_) {
    if (*link == this) {
      *link = next_;
      break;
    }
  }
  SpinUnlock(poolListLock);
}

void ObjectPool::Lock() const {
  SpinLock(lock_);
}
void ObjectPool::Unlock() const {
  SpinUnlock(lock_);
}

unsigned char* ObjectPool::FirstSlot(PoolBlock* block) const {
  return reinterpret_cast<unsigned char*>(block) + headerSize_ + headerGap_;
}

PoolBlock* ObjectPool::NewBlock() {
  const size_t bytes = static_cast<size_t>(headerSize_ + headerGap_ + objectsPerBlock_ * slotSize_);
  auto* block = static_cast<PoolBlock*>(AllocateOrDie(bytes, static_cast<size_t>(alignment_)));
  std::memset(static_cast<void*>(block), 0, sizeof(PoolBlock));
  block->pool = this;
  unsigned char* slot = FirstSlot(block);
  for (int64_t i = 0; i < objectsPerBlock_; ++i, slot += slotSize_) {
    std::memcpy(slot, &block, sizeof(block));
    std::memcpy(slot + objectOffset_ - kBlockPointerBytes, &block, sizeof(block));
  }
  block->allNext = all_;
  if (all_ != nullptr) all_->allPrev = block;
  all_ = block;
  PushAvailable(block);
  return block;
}

void ObjectPool::PushAvailable(PoolBlock* block) {
  block->availablePrev = nullptr;
  block->availableNext = available_;
  if (available_ != nullptr) available_->availablePrev = block;
  available_ = block;
}

void ObjectPool::RemoveAvailable(PoolBlock* block) {
  if (block->availablePrev != nullptr) {
    block->availablePrev->availableNext = block->availableNext;
  } else {
    available_ = block->availableNext;
  }
  if (block->availableNext != nullptr) block->availableNext->availablePrev = block->availablePrev;
  block->availablePrev = nullptr;
  block->availableNext = nullptr;
}

void ObjectPool::RemoveAll(PoolBlock* block) {
  if (block->allPrev != nullptr) {
    block->allPrev->allNext = block->allNext;
  } else {
    all_ = block->allNext;
  }
  if (block->allNext != nullptr) block->allNext->allPrev = block->allPrev;
}

void* ObjectPool::Alloc() {
  Lock();
  PoolBlock* block = available_ != nullptr ? available_ : NewBlock();
  if (block == emptyBlock_) emptyBlock_ = nullptr;
  unsigned char* slot;
  if (block->bumpIndex < objectsPerBlock_) {
    slot = FirstSlot(block) + block->bumpIndex * slotSize_;
    ++block->bumpIndex;
  } else {
    slot = block->freeList;
    assert(slot != nullptr);
    std::memcpy(&block->freeList, slot + objectOffset_, sizeof(block->freeList));
  }
  ++block->liveCount;
  ++live_;
  // A block leaves the available list exactly when its last slot is taken.
  if (block->liveCount == objectsPerBlock_) RemoveAvailable(block);
  Unlock();
  return slot + objectOffset_;
}

void ObjectPool::Free(void* object) {
  if (object == nullptr) return;
  unsigned char* slot = static_cast<unsigned char*>(object) - objectOffset_;
  Lock();
  PoolBlock* block = BlockOfSlot(slot);
  assert(block->pool == this && block->liveCount > 0 && block->liveCount <= objectsPerBlock_);
  --live_;
  // Only full blocks are off the available list.
  if (block->liveCount == objectsPerBlock_) PushAvailable(block);
  --block->liveCount;
  if (block->liveCount > 0) {
    std::memcpy(slot + objectOffset_, &block->freeList, sizeof(block->freeList));
    block->freeList = slot;
    Unlock();
    return;
  }
  PoolBlock* toFree = nullptr;
  if (emptyBlock_ != nullptr) {
    RemoveAvailable(emptyBlock_);
    RemoveAll(emptyBlock_);
    toFree = emptyBlock_;
  }
  emptyBlock_ = block;
  block->bumpIndex = 0;
  block->freeList = nullptr;
  Unlock();
  qm::Free(toFree);
}

ObjectPool* ObjectPool::OwnerOf(const void* object) {
  return BlockOfSlot(static_cast<const unsigned char*>(object) - kBlockPointerBytes)->pool;
}

void ObjectPool::FreeObject(void* object) {
  if (object == nullptr) return;
  ObjectPool* pool = OwnerOf(object);
  assert(pool != nullptr);
  if (pool != nullptr) pool->Free(object);
}

void ObjectPool::Teardown() {
  Lock();
  PoolBlock* block = all_;
  all_ = nullptr;
  available_ = nullptr;
  emptyBlock_ = nullptr;
  live_ = 0;
  Unlock();
  while (block != nullptr) {
    PoolBlock* next = block->allNext;
    qm::Free(block);
    block = next;
  }
}

int64_t ObjectPool::LiveCount() const {
  Lock();
  const int64_t live = live_;
  Unlock();
  return live;
}

int32_t ObjectPool::BlockCount() const {
  Lock();
  int32_t count = 0;
  for (const PoolBlock* block = all_; block != nullptr; block = block->allNext) ++count;
  Unlock();
  return count;
}

int32_t ObjectPool::AvailableBlockCount() const {
  Lock();
  int32_t count = 0;
  for (const PoolBlock* block = available_; block != nullptr; block = block->availableNext) ++count;
  Unlock();
  return count;
}

bool ObjectPool::HasEmptyBlock() const {
  Lock();
  const bool hasEmpty = emptyBlock_ != nullptr;
  Unlock();
  return hasEmpty;
}

void TeardownAllPools() {
  SpinLock(poolListLock);
  for (ObjectPool* pool = poolListHead; pool != nullptr; pool = pool->next_) pool->Teardown();
  SpinUnlock(poolListLock);
}

void SetThreadPoolIndex(int32_t index) {
  assert(index >= -1);
  threadPoolIndex = index;
}

int32_t ThreadPoolIndex() {
  return threadPoolIndex;
}

PoolGroup::PoolGroup(const char* name, size_t objectSize, size_t alignment, size_t objectsPerBlock)
    : pools_{{name, objectSize, alignment, objectsPerBlock},
             {name, objectSize, alignment, objectsPerBlock},
             {name, objectSize, alignment, objectsPerBlock},
             {name, objectSize, alignment, objectsPerBlock}} {}

ObjectPool& PoolGroup::Current() {
  const int32_t index = threadPoolIndex;
  return pools_[index < 0 ? 0 : index & (kPoolCount - 1)];
}

void* PoolGroup::Alloc(size_t bytes) {
  ObjectPool& pool = Current();
  assert(static_cast<int64_t>(bytes) <= pool.ObjectSize());
  (void)bytes;
  return pool.Alloc();
}

int64_t PoolGroup::LiveCount() const {
  int64_t live = 0;
  for (const ObjectPool& pool : pools_) live += pool.LiveCount();
  return live;
}

}  // namespace qm
