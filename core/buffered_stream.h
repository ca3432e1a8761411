// BufferedStream: a Stream that turns many small reads or writes on an inner stream
// into few of bufferSize bytes (8192 by default); ReadByte takes the next byte
// straight from the read buffer. The inner stream is borrowed and must outlive it
// (or be detached by Close). One thread at a time; not copyable, not movable.

// It takes the inner stream's flags when made. Reading and writing alternate through
// Flush: switching direction always flushes. Flush writes out buffered bytes and
// drops unread ones; on a positioned inner stream it first moves the inner stream
// back to this stream's position, so that a write after a read lands where the
// reader stopped, not where read-ahead left the inner stream. Requests of at least
// bufferSize bytes that find the buffer empty go straight to the inner stream.
//
// Close() flushes and detaches without closing the inner stream; the destructor does the same, so buffered
// writes are never dropped silently (call Close() to learn whether that last flush worked). Both buffers are
// allocated once at construction.
#pragma once

#include <cstdint>

#include "core/array.h"
#include "core/stream.h"

namespace qm {

inline constexpr int32_t kDefaultBufferSize = 8192;

class BufferedStream : public Stream {
 public:
  // Requires: inner is not null; bufferSize > 0.
  explicit BufferedStream(Stream* inner, int32_t bufferSize = kDefaultBufferSize);
  ~BufferedStream() override;

  // Copies from the read buffer, refilling it with one inner read of up to
  // bufferSize bytes when empty, until count bytes are done or the inner stream ends.
  // False only when an inner read fails (bytesDone says what was copied before).
  bool Read(void* buffer, int64_t count, int64_t& bytesDone) override;
  // Copies into the write buffer and writes it out whole each time it is full; false
  // when the inner stream does not take a whole buffer.
  bool Write(const void* buffer, int64_t count, int64_t& bytesDone) override;
  // Flush, then detach the inner stream (not closed). Flags become 0.
  bool Close() override;
  uint32_t Flags() override;
  // Flush, inner Seek, position from the inner Tell.
  bool Seek(int64_t offset, int origin) override;
  int64_t Tell() override { return position_; }
  // See above. False (write buffer kept) when the inner stream takes fewer bytes or
  // cannot move back.
  bool Flush() override;
  // Flush, then inner Truncate.
  bool Truncate() override;
  int32_t ReadByte() override;

  Stream* Inner() const { return inner_; }

 private:
  // Refills the empty read buffer; false when the inner read fails.
  bool Refill();

  int64_t position_ = -1;  // -1 when the inner stream has no position
  uint32_t flags_ = 0;     // the inner stream's flags plus the two bits below
  Stream* inner_ = nullptr;
  int32_t bufferSize_ = kDefaultBufferSize;
  Array<uint8_t> readBuffer_;
  int32_t readIndex_ = 0;
  int32_t readFill_ = 0;
  Array<uint8_t> writeBuffer_;
  int32_t writeFill_ = 0;
};

}  // namespace qm
