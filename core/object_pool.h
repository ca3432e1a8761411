// ObjectPool: fixed-size object memory for one class of frequently made objects, carved
// out of blocks of objectsPerBlock slots. The pool owns its blocks; the caller owns an
// object between Alloc and Free. Every operation holds the pool's spin lock, so any
// thread may use a pool. Costs one pointer bump or free-list pop per object.

// A pool keeps at most one block whose objects are all free, so making and dropping
// one object repeatedly never reaches malloc.
//
// Block layout (one general block from core/allocation.h, aligned to the pool's
// alignment):
//
//   [64-byte header | headerGap | slot 0 | slot 1 | ... | slot objectsPerBlock-1]
//   header: bumpIndex, liveCount, available prev/next, freeList, all prev/next, pool
//   slot:   [block pointer (8) | padding up to objectOffset | object (objectSize) | pad]
//
// objectOffset is 8 rounded up to the alignment, slotSize is objectOffset + objectSize
// rounded up to the alignment, and headerGap aligns slot 0. The block pointer is also
// written in the 8 bytes just before the object (the same word for alignment 8), so an
// object finds its pool in O(1) at any alignment. A free slot keeps the next free slot
// of its block in the first word of the object (right after the block pointer for
// alignment 8); objects are at least 8 bytes so the link always fits. Slots are handed
// out by bumping bumpIndex until the block has been used once through, then from its
// free list. A block with a free slot is on the pool's `available` list (allocation
// takes from its head); every block is on the `all` list for teardown.
//
// Ownership: the pool owns its blocks; the caller owns an object between Alloc and
// Free and must construct and destroy it. Teardown frees every block whether or not
// objects are still live: an object must not be used or freed after its pool was torn
// down (the process entry tears the pools down last, after its clean-up).
//
// Pool groups: a PoolGroup holds four pools of one class; a thread uses the pool at
// (its thread index AND 3), a thread without an index pool 0 (no thread of this
// program sets one: the counting workers share pool 0 and its spin lock, and take few
// pooled objects). An object always goes back to the pool that made it.
//
// Every pool is on one process-wide list (newest first) from construction to
// destruction; TeardownAllPools, called by the process entry at exit, tears each down.
// A pool's destructor tears it down as well (the second teardown finds nothing).
//
// How a class takes its objects from a named pool (as "File" and "InflateStream" do):
//
//   class File : public Stream {
//    public:
//     static constexpr const char* kPoolName = "File";
//     static void* operator new(size_t bytes) { return PoolOf<File>().Alloc(bytes); }
//     static void operator delete(void* object) { ObjectPool::FreeObject(object); }
//     ...
//   };
//
// Then `new File(...)` and `delete file` (also through a virtual destructor of the
// base) use the pool. PoolOf<T>() builds the class's group on first use (16 objects per
// block, alignment max(alignof(T), 8)). A class deriving from a pooled class needs its
// own operator new/delete pair. Without operators, PoolNew<T>(PoolOf<T>(), args...)
// and PoolDelete(PoolOf<T>(), object) do the same explicitly.
//
// Threads: every pool operation holds the pool's spin lock. Copy rules: pools and
// groups are neither copyable nor movable (blocks point back at their pool).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <new>
#include <utility>

namespace qm {

struct PoolBlock;

class ObjectPool {
 public:
  static constexpr int64_t kHeaderSize = 64;

  // name must outlive the pool (a literal). alignment is raised to at least 8 and an
  // object to at least 8 bytes (a free slot keeps its link where the object was).
  // Requires: alignment is a power of two; objectsPerBlock >= 1.
  ObjectPool(const char* name, size_t objectSize, size_t alignment, size_t objectsPerBlock);
  ~ObjectPool();
  ObjectPool(const ObjectPool&) = delete;
  ObjectPool& operator=(const ObjectPool&) = delete;

  // Memory for one object, aligned to Alignment(); uninitialised. Never null (out of
  // memory ends the process).
  void* Alloc();
  // Gives back the memory of one object of this pool; nothing for nullptr.
  // Requires: object came from Alloc of this pool and was not freed since.
  void Free(void* object);
  // Gives object back to the pool that made it (read from its slot); nothing for null.
  static void FreeObject(void* object);
  // The pool that made object. Requires: object came from some pool's Alloc.
  static ObjectPool* OwnerOf(const void* object);

  // Frees every block, live objects or not, and empties both lists.
  void Teardown();

  const char* Name() const { return name_; }
  int64_t ObjectSize() const { return objectSize_; }
  int64_t Alignment() const { return alignment_; }
  int64_t SlotSize() const { return slotSize_; }
  int64_t ObjectsPerBlock() const { return objectsPerBlock_; }
  int32_t ObjectOffset() const { return objectOffset_; }

  // Statistics, for tests and diagnostics (each takes the lock).
  int64_t LiveCount() const;
  int32_t BlockCount() const;           // blocks on the all list
  int32_t AvailableBlockCount() const;  // blocks with a free slot
  bool HasEmptyBlock() const;           // a block kept with all of its objects free

 private:
  friend void TeardownAllPools();

  void Lock() const;
  void Unlock() const;
  PoolBlock* NewBlock();
  void PushAvailable(PoolBlock* block);
  void RemoveAvailable(PoolBlock* block);
  void RemoveAll(PoolBlock* block);
  unsigned char* FirstSlot(PoolBlock* block) const;

  mutable std::atomic<uint32_t> lock_{0};
  PoolBlock* available_ = nullptr;
  PoolBlock* all_ = nullptr;
  PoolBlock* emptyBlock_ = nullptr;
  int64_t live_ = 0;
  int64_t objectSize_;
  int64_t alignment_;
  int64_t slotSize_;
  int64_t objectsPerBlock_;
  int32_t headerGap_;
  int32_t objectOffset_;
  int32_t headerSize_ = kHeaderSize;
  const char* name_;
  ObjectPool* next_ = nullptr;  // process-wide list of pools
};

// Tears down every pool alive, newest first. Called by the process entry at exit.
void TeardownAllPools();

// Sets the calling thread's index for pool selection; -1 (the initial value) means
// none. Requires: index >= -1.
void SetThreadPoolIndex(int32_t index);
int32_t ThreadPoolIndex();

// Four pools of one class; each thread uses one of them (see above).
class PoolGroup {
 public:
  static constexpr int32_t kPoolCount = 4;

  PoolGroup(const char* name, size_t objectSize, size_t alignment, size_t objectsPerBlock);
  PoolGroup(const PoolGroup&) = delete;
  PoolGroup& operator=(const PoolGroup&) = delete;

  // The pool at (thread index AND 3), pool 0 for a thread without an index.
  ObjectPool& Current();
  ObjectPool& Pool(int32_t index) { return pools_[index & (kPoolCount - 1)]; }
  // Memory for one object of `bytes` bytes from Current(), for a class's operator new.
  // Requires: bytes <= the group's object size.
  void* Alloc(size_t bytes);
  // Live objects over the four pools.
  int64_t LiveCount() const;

 private:
  ObjectPool pools_[kPoolCount];
};

// The pool group of class T, named T::kPoolName, built on first use: objects of
// sizeof(T) bytes, alignment max(alignof(T), 8), 16 per block.
template <typename T>
PoolGroup& PoolOf() {
  static PoolGroup group(T::kPoolName, sizeof(T), alignof(T) < 8 ? 8 : alignof(T), 16);
  return group;
}

// Constructs a T in memory from group's current pool.
template <typename T, typename... Args>
T* PoolNew(PoolGroup& group, Args&&... args) {
  return ::new (group.Alloc(sizeof(T))) T(std::forward<Args>(args)...);
}

// Destroys object and gives its memory back to the pool that made it; nothing for
// null. group names where it came from, for the reader. Requires: object came from
// PoolNew<T> on group.
template <typename T>
void PoolDelete(PoolGroup& group, T* object) {
  (void)group;
  if (object == nullptr) return;
  object->~T();
  ObjectPool::FreeObject(object);
}

}  // namespace qm
