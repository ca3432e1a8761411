// General allocation: the heap functions behind container storage and the object
// pools. The caller owns each block until it passes it to Free; nothing is tracked
// here. Any thread may call them (thread safety is the system allocator's). A failed
// request gives nullptr, or ends the process through AllocateOrDie.

// Each block returned is carved out of one malloc'ed heap block; the 4 bytes just
// before the returned address hold an unsigned 32-bit distance from the start of the
// heap block to those 4 bytes, so Free can hand the heap block back without any other
// bookkeeping.
//
// Failure: a failed malloc, or a request so large that the slack would overflow
// size_t, gives nullptr. Callers that cannot go on without memory (Array, ObjectPool)
// treat that as fatal through AllocateOrDie below, which says so on standard error.
#pragma once

#include <cstddef>

namespace qm {

// A block of `bytes` bytes aligned to 8; the heap block is bytes + 11 bytes.
// Returns nullptr when the memory cannot be had. A zero-byte request gives a valid,
// distinct block that must still be freed.
void* Allocate(size_t bytes);

// A block of `bytes` bytes aligned to max(alignment, 4); the heap block is
// bytes + max(alignment, 4) + 3 bytes. Returns nullptr when the memory cannot be had.
// Requires: alignment is a power of two and at most 2^30.
void* AllocateAligned(size_t bytes, size_t alignment);

// Gives back a block from Allocate or AllocateAligned; nothing for nullptr.
// Requires: block came from one of those functions and was not freed before.
void Free(void* block);

// Gives block (from Allocate, or nullptr) a size of bytes, keeping its first bytes
// up to the smaller of the two sizes. Large blocks are grown by the system allocator
// in place or by remapping, so growing them needs no second copy. Returns the block
// (maybe moved), or nullptr when the memory cannot be had; block is then unchanged.
void* Reallocate(void* block, size_t bytes);

// Asks the kernel to back the whole 2 MiB pages inside [block, block + bytes) with
// 2 MiB pages, where it does so on request: a buffer of tens of megabytes then costs a
// few page faults when first filled instead of thousands. A hint only, for buffers
// that are filled soon after they grow; nothing below 4 MiB.
void PreferHugePages(void* block, size_t bytes);

// As AllocateAligned, but ends the process instead of returning nullptr, after
// writing "Quillmet: out of memory" to standard error (OutOfMemory). For owners
// whose interfaces promise no failure (containers, pools): a deterministic stop with
// a word is better than writing through a null pointer.
void* AllocateOrDie(size_t bytes, size_t alignment);

// Writes "Quillmet: out of memory" to descriptor 2 and aborts. The one way the
// runtime ends the process when a small structure of its own cannot be allocated.
[[noreturn]] void OutOfMemory();

}  // namespace qm
