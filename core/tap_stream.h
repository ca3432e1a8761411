// TapStream: a pass-through Stream that hands every block of bytes its Read has just
// taken from the inner stream to a callback, which may change them in place (the zip
// reader decrypts through it). The inner stream and the callback's context are
// borrowed. One thread at a time; not copyable, not movable.

// Write is forwarded unchanged; Flags, Seek, Tell, Flush and AtEnd are the inner
// stream's, so Size is too.
//
// The callback sees the bytes in order, each exactly once, in blocks of whatever size
// the inner reads deliver; state that must carry over from block to block lives
// behind its context pointer. Without an inner stream every operation has the base
// behaviour (Read and Write fail, Flags 0).
//
// Ownership: the inner stream and the context are borrowed and must outlive their use
// here (Attach or Detach changes them). Costs nothing beyond the callback and one
// virtual call per operation.
#pragma once

#include <cstdint>

#include "core/stream.h"

namespace qm {

// Called with the bytes [bytes, bytes + count) just read, count > 0.
using TapFunction = void (*)(void* context, uint8_t* bytes, int64_t count);

class TapStream : public Stream {
 public:
  TapStream() = default;
  TapStream(Stream* inner, TapFunction tap, void* context) { Attach(inner, tap, context); }

  // Reads from the inner stream, then calls the tap (when set) on the bytes that came.
  bool Read(void* buffer, int64_t count, int64_t& bytesDone) override;
  bool Write(const void* buffer, int64_t count, int64_t& bytesDone) override;
  uint32_t Flags() override;
  bool Seek(int64_t offset, int origin) override;
  int64_t Tell() override;
  bool Flush() override;
  bool AtEnd() override;

  // Uses inner, tap and context from now on (any may be null).
  void Attach(Stream* inner, TapFunction tap, void* context) {
    inner_ = inner;
    tap_ = tap;
    context_ = context;
  }
  void Detach() { Attach(nullptr, nullptr, nullptr); }
  Stream* Inner() const { return inner_; }
  void* Context() const { return context_; }

 private:
  Stream* inner_ = nullptr;
  TapFunction tap_ = nullptr;
  void* context_ = nullptr;
};

}  // namespace qm
