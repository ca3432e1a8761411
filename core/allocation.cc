#include "core/allocation.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cassert>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace qm {
namespace {

constexpr size_t kDistanceBytes = sizeof(uint32_t);

// Where the block of a heap block starting at start begins (see CarveBlock).
size_t BlockOffset(uintptr_t startAddress, size_t alignment) {
  const uintptr_t blockAddress =
      (startAddress + kDistanceBytes + alignment - 1) & ~static_cast<uintptr_t>(alignment - 1);
  return blockAddress - startAddress;
}

// Layout of one heap block of bytes + alignment + 3 bytes:
//   [start ... padding ... | distance (4 bytes) | block (bytes) | unused tail]
// The block is the first address >= start + 4 that is a multiple of `alignment`, so
// padding is at most alignment - 1 and the distance word always fits before it.
void* CarveBlock(size_t bytes, size_t alignment) {
  assert(alignment >= kDistanceBytes && (alignment & (alignment - 1)) == 0);
  const size_t slack = alignment + kDistanceBytes - 1;
  if (bytes > SIZE_MAX - slack) return nullptr;
  auto* start = static_cast<unsigned char*>(std::malloc(bytes + slack));
  if (start == nullptr) return nullptr;
  const size_t offset = BlockOffset(reinterpret_cast<uintptr_t>(start), alignment);
  const uint32_t distance = static_cast<uint32_t>(offset - kDistanceBytes);
  std::memcpy(start + distance, &distance, kDistanceBytes);
  return start + offset;
}

}  // namespace

void* Allocate(size_t bytes) {
  return CarveBlock(bytes, 8);
}

void* AllocateAligned(size_t bytes, size_t alignment) {
  assert(alignment != 0 && (alignment & (alignment - 1)) == 0 && alignment <= (size_t{1} << 30));
  return CarveBlock(bytes, alignment < kDistanceBytes ? kDistanceBytes : alignment);
}

void Free(void* block) {
  if (block == nullptr) return;
  auto* distanceWord = static_cast<unsigned char*>(block) - kDistanceBytes;
  uint32_t distance;
  std::memcpy(&distance, distanceWord, kDistanceBytes);
  std::free(distanceWord - distance);
}

void* Reallocate(void* block, size_t bytes) {
  if (block == nullptr) return Allocate(bytes);
  constexpr size_t kAlignment = 8;
  constexpr size_t kSlack = kAlignment + kDistanceBytes - 1;
  if (bytes > SIZE_MAX - kSlack) return nullptr;
  auto* distanceWord = static_cast<unsigned char*>(block) - kDistanceBytes;
  uint32_t distance;
  std::memcpy(&distance, distanceWord, kDistanceBytes);
  const size_t oldOffset = distance + kDistanceBytes;
  auto* start = static_cast<unsigned char*>(std::realloc(distanceWord - distance, bytes + kSlack));
  if (start == nullptr) return nullptr;
  // The new start may sit differently against the alignment: the bytes then move
  // within the new heap block (both offsets are at most kSlack, so it holds them).
  const size_t offset = BlockOffset(reinterpret_cast<uintptr_t>(start), kAlignment);
  if (offset != oldOffset) std::memmove(start + offset, start + oldOffset, bytes);
  const uint32_t newDistance = static_cast<uint32_t>(offset - kDistanceBytes);
  std::memcpy(start + newDistance, &newDistance, kDistanceBytes);
  return start + offset;
}

void PreferHugePages(void* block, size_t bytes) {
  constexpr uintptr_t kHugePageBytes = uintptr_t{2} << 20;
  if (block == nullptr || bytes < 2 * kHugePageBytes) return;
  const uintptr_t first = (reinterpret_cast<uintptr_t>(block) + kHugePageBytes - 1) & ~(kHugePageBytes - 1);
  const uintptr_t last = (reinterpret_cast<uintptr_t>(block) + bytes) & ~(kHugePageBytes - 1);
#if defined(MADV_HUGEPAGE)
  if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#else
  (void)first;
  (void)last;
#endif
}

void* AllocateOrDie(size_t bytes, size_t alignment) {
  void* block = AllocateAligned(bytes, alignment);
  if (block == nullptr) OutOfMemory();
  return block;
}

void OutOfMemory() {
  static const char kMessage[] = "Quillmet: out of memory\n";
  // Nothing here may allocate: write(2) straight to the descriptor.
  const ssize_t written = ::write(2, kMessage, sizeof kMessage - 1);
  (void)written;
  std::abort();
}

}  // namespace qm
