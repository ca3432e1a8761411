#include "core/allocation.h"

#include <cassert>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace qm {
namespace {

constexpr size_t kDistanceBytes = sizeof(uint32_t);

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
  const uintptr_t startAddress = reinterpret_cast<uintptr_t>(start);
  const uintptr_t blockAddress =
      (startAddress + kDistanceBytes + alignment - 1) & ~static_cast<uintptr_t>(alignment - 1);
  const size_t offset = blockAddress - startAddress;
  const uint32_t distance = static_cast<uint32_t>(offset - kDistanceBytes);
  std::memcpy(start + distance, &distance, kDistanceBytes);
  return start + offset;
}

}  // namespace

void* Allocate(size_t bytes) { return CarveBlock(bytes, 8); }

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

void* AllocateOrDie(size_t bytes, size_t alignment) {
  void* block = AllocateAligned(bytes, alignment);
  if (block == nullptr) std::abort();
  return block;
}

}  // namespace qm
