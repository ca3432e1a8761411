// LimitedStream: a read-only window of a known length onto another stream, starting at
// the inner stream's current position, so that whatever reads an archive member can
// never consume bytes past its end, and SkipRest puts the outer scan exactly there.
// The inner stream is borrowed and must outlive the window. One thread at a time; not
// copyable, not movable.

// End check. With checksEnd set, the read that delivers the window's last byte also
// asks the inner stream for one more byte and fails unless the inner stream reports
// its end (a successful read of 0 bytes). Over an InflateStream this makes the
// decoder run its trailer check (zip CRC-32) even for a caller that reads exactly the
// known size and never asks again, and it refuses data longer than its directory
// size claims. Without checksEnd the inner stream is left at the window's end.
//
// Reads loop over short inner reads until the request is met, so a read comes back
// short only at the window's end. An inner stream that ends inside the window (a
// truncated member) makes the read fail. After a failure every further read fails.
//
// Flags: open and readable, never positioned (Tell and Seek are the base ones), so a
// zip cannot be opened on it. No allocation; fixed size.
#pragma once

#include <cstdint>

#include "core/stream.h"

namespace qm {

class LimitedStream : public Stream {
 public:
  // Requires: length >= 0.
  LimitedStream(Stream& inner, int64_t length, bool checksEnd);

  bool Read(void* buffer, int64_t count, int64_t& bytesDone) override;
  // kStreamOpen | kStreamReadable.
  uint32_t Flags() override;

  // Bytes of the window not read yet.
  int64_t Remaining() const { return remaining_; }
  // Passes over the rest of the window in the inner stream (no end check): a seek
  // when the inner stream can seek, else reads that are discarded. False when the
  // inner stream fails or ends first, or an earlier read failed.
  bool SkipRest();

 private:
  bool CheckEnd();

  Stream& inner_;
  int64_t remaining_;
  bool checksEnd_;
  bool endChecked_ = false;
  bool failed_ = false;
};

}  // namespace qm
