// MD5 (RFC 1321): the digest that finds byte-identical files, computed incrementally
// (Md5Update) or by an Md5Stream that hashes the bytes passing through it. Md5State is
// a plain copyable value owned by its caller; values are independent, so any thread
// may hash with its own. No allocation, never fails. Hot: see bench/md5_bench.cc.

// The digest is 16 bytes, the words A, B, C, D each little-endian, and is the key type
// of the digest map (DigestKey of core/hash_table.h); Md5Hex shows it as 32 lower-case
// hexadecimal digits.
//
// Md5State is a plain value (copyable: a copy hashes on independently). After
// Md5Final its total is -1 and further updates are ignored; Md5Final on a finished
// state returns the same digest again. Costs: one compression per 64 bytes, no
// allocation; whole blocks are hashed straight from the caller's bytes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/hash_table.h"
#include "core/shared_string.h"
#include "core/stream.h"

namespace qm {

using Md5Digest = DigestKey;

struct Md5State {
  // Chaining words, starting at the RFC 1321 values.
  uint32_t a = 0x67452301;
  uint32_t b = 0xefcdab89;
  uint32_t c = 0x98badcfe;
  uint32_t d = 0x10325476;
  uint8_t block[64] = {};     // bytes waiting for a whole block
  int32_t bufferedCount = 0;  // 0..63 bytes in block
  int64_t total = 0;          // bytes hashed so far; -1 once finished
};

// Adds size bytes. Requires: data valid for size bytes (may be null when size is 0);
// the state is not finished (an update after Md5Final is ignored).
void Md5Update(Md5State& state, const void* data, size_t size);

// Pads, finishes the state (total -1) and returns the digest.
Md5Digest Md5Final(Md5State& state);

// 32 lower-case hexadecimal digits: for each byte, the high nibble then the low.
SharedString Md5Hex(const Md5Digest& digest);

// The digest of one byte range.
Md5Digest Md5Of(const void* data, size_t size);

// Md5Stream: a Stream that owns an Md5State and optionally wraps a borrowed inner
// stream (which must outlive it or be detached by Close first).
//  - Read reads from the inner stream and hashes the bytes actually delivered.
//  - Write writes to the inner stream and hashes the bytes it took; without an inner
//    stream it hashes every byte and reports all of them written.
//  - Flags, Seek, Tell, Size, Flush and Truncate are the inner stream's; without one
//    the flags are open and writable, and the rest have the base behaviour.
//  - Close flushes the inner stream and detaches it (it is not closed); the flags
//    become 0 and reads and writes fail from then on.
// Not copyable, not movable.
class Md5Stream : public Stream {
 public:
  explicit Md5Stream(Stream* inner = nullptr) : inner_(inner) {}

  bool Read(void* buffer, int64_t count, int64_t& bytesDone) override;
  bool Write(const void* buffer, int64_t count, int64_t& bytesDone) override;
  bool Close() override;
  uint32_t Flags() override;
  bool Seek(int64_t offset, int origin) override;
  int64_t Tell() override;
  int64_t Size() override;
  bool Flush() override;
  bool Truncate() override;

  // Md5Final of the owned state.
  Md5Digest Digest() { return Md5Final(state_); }
  const Md5State& State() const { return state_; }
  Stream* Inner() const { return inner_; }

 private:
  Md5State state_;
  Stream* inner_;
  bool isClosed_ = false;
};

}  // namespace qm
