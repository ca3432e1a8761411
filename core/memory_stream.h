// MemoryStream: a positioned Stream over bytes in memory, either its own growing byte
// Array or bytes the caller owns, which must stay valid and unchanged while the stream
// reads them. Sizes and positions are 32-bit. One thread at a time; not copyable, not
// movable (Duplicate gives a heap copy).

// Two kinds. Owned (the default constructor): reads and writes its own byte Array,
// which grows as writes need; flags 15 (open, readable, writable, positioned).
// External (over a pointer and length, or a zero-terminated text): reads bytes that
// the caller owns and that must stay valid and unchanged while the stream reads them;
// flags 11 (open, readable, positioned); Write and Truncate fail.
//
// Sizes and positions are 32-bit: at most 2^31 - 1 bytes. Read and ReadByte copy
// straight from memory and never fail; a read at or past the end gives 0 bytes.
// Seek clamps a negative target to 0 and refuses, leaving the position as it was, a
// target past 2^31 - 1 (positions past the end are allowed: a write there fills the
// gap with zeros). Nothing here allocates except owned-array growth and Duplicate.
#pragma once

#include <cstdint>

#include "core/array.h"
#include "core/stream.h"

namespace qm {

class MemoryStream : public Stream {
 public:
  // An empty owned stream.
  MemoryStream() = default;
  // Over length external bytes. A null bytes pointer reads as empty.
  // Requires: length >= 0; bytes valid for length bytes.
  MemoryStream(const void* bytes, int32_t length) { SetExternal(bytes, length); }
  // Over a zero-terminated text, without its terminator (null reads as empty).
  explicit MemoryStream(const char* text);

  bool Read(void* buffer, int64_t count, int64_t& bytesDone) override;
  // Owned: writes at the position, growing the array to position + count when
  // needed; false only past 2^31 - 1 bytes. External: false.
  bool Write(const void* buffer, int64_t count, int64_t& bytesDone) override;
  uint32_t Flags() override;
  bool Seek(int64_t offset, int origin) override;
  int64_t Tell() override { return position_; }
  // The external length or the owned count.
  int64_t Size() override { return SizeInBytes(); }
  // Owned: the count becomes the position. External: false.
  bool Truncate() override;
  // A heap copy (free it with Destroy or a StreamRef): shares external bytes, copies
  // owned bytes, same position.
  Stream* Duplicate() override;
  int32_t ReadByte() override;

  // Switches to external bytes (the owned bytes are kept but not used) at position 0.
  // Requires: length >= 0.
  void SetExternal(const void* bytes, int32_t length);
  // Switches back to the owned array, emptied, at position 0.
  void ResetOwned();

  bool IsExternal() const { return external_ != nullptr; }
  // The bytes the stream reads: external or owned. Valid until the next write,
  // Truncate or switch.
  const uint8_t* Data() const { return external_ != nullptr ? external_ : owned_.Data(); }
  int32_t SizeInBytes() const { return external_ != nullptr ? externalLength_ : owned_.Count(); }
  // The owned array, for callers that fill or take it directly.
  Array<uint8_t>& Owned() { return owned_; }

 private:
  const uint8_t* external_ = nullptr;  // null: the owned array is in use
  Array<uint8_t> owned_;
  int32_t position_ = 0;
  int32_t externalLength_ = 0;
};

}  // namespace qm
