// ZstdStream: a read-only Stream of the bytes decoded from zstd data (one or more
// frames in a row, skippable frames passed over, as zstd -dc reads what zstd -T
// writes) through libzstd. Memory is bounded by the largest window accepted: 2^27
// bytes (kDecoderMemoryLimit, ZSTD_d_windowLogMax 27, libzstd's own default); a frame
// that needs a larger one (zstd --long=28 and up) fails with DecoderFault::kMemoryLimit.
// Contract as DecoderStream.

// Checks: a frame's content checksum, when it has one, is verified by libzstd. Bytes
// after the last frame that start no frame fail the read (kTrailingData), as
// zstd -dc refuses them.
//
// Costs: libzstd's decoding context (about 160 KiB, plus the window and two blocks of
// 128 KiB as the data needs them) is taken when decoding starts, kept across Rewind
// and released by destruction. Not copyable, not movable.
#pragma once

#include "archive/decoder_stream.h"

namespace qm {

class ZstdStream final : public DecoderStream {
 public:
  ZstdStream();
  ~ZstdStream() override;

 protected:
  DecoderFault StartLibrary() override;
  Progress Decode(Window& window, bool isInputEnd) override;
  void EndLibrary() override;

 private:
  struct Library;
  Library* const library_;
};

}  // namespace qm
