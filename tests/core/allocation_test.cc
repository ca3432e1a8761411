#include "core/allocation.h"

#include <gtest/gtest.h>
#include <malloc.h>

#include <cstdint>
#include <cstring>

namespace qm {
namespace {

// The heap block a general block was carved from, found through its distance word.
unsigned char* HeapStart(void* block) {
  uint32_t distance;
  auto* word = static_cast<unsigned char*>(block) - 4;
  std::memcpy(&distance, word, 4);
  return word - distance;
}

// Every alignment and size: the block is aligned, the whole requested size is usable
// (the sanitizer build catches an overrun), and the distance word leads back to the
// exact start of the heap block, which is large enough for the promised slack.
// malloc_usable_size on anything but a heap block start is reported by AddressSanitizer.
// Impossible sizes fail with null.
TEST(Allocation, BlocksAreAlignedAndLeadBackToTheirHeapBlock) {
  const size_t alignments[] = {0 /* Allocate */, 1, 2, 4, 8, 16, 64, 4096};
  const size_t sizes[] = {0, 1, 13, 4096};
  for (size_t alignment : alignments) {
    for (size_t size : sizes) {
      void* block = alignment == 0 ? Allocate(size) : AllocateAligned(size, alignment);
      ASSERT_NE(block, nullptr);
      const size_t effective = alignment == 0 ? 8 : (alignment < 4 ? 4 : alignment);
      EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % effective, 0u) << alignment << " " << size;
      std::memset(block, 0xA5, size);
      unsigned char* start = HeapStart(block);
      EXPECT_LE(start + 4, static_cast<unsigned char*>(block));
      const size_t promised = alignment == 0 ? size + 11 : size + effective + 3;
      EXPECT_GE(malloc_usable_size(start), promised) << alignment << " " << size;
      Free(block);
    }
  }
  Free(nullptr);
  EXPECT_EQ(Allocate(SIZE_MAX), nullptr);
  EXPECT_EQ(AllocateAligned(SIZE_MAX - 8, 64), nullptr);
}

}  // namespace
}  // namespace qm
