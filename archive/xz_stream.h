// XzStream: a read-only Stream of the bytes decoded from .xz data (one or more xz
// streams with their padding, as xz -dc reads them) or, for zip entries, from raw
// LZMA data, through liblzma. Memory is bounded by liblzma's memory limit set to
// kDecoderMemoryLimit (128 MiB): data whose dictionary needs more fails with
// DecoderFault::kMemoryLimit, the need in its reason. Contract as DecoderStream.

// Checks: every xz block's check (CRC-32, CRC-64, SHA-256) and the index are verified
// by liblzma; a check type it does not know is decoded unchecked. Bytes after the last
// stream that are neither padding nor another stream fail the read, as xz -dc does.
//
// Raw LZMA (zip method 14, after the zip's 4-byte LZMA header): the stream ends after
// the entry's uncompressed size, where an end marker may follow, or at an end marker
// found exactly there; lc + lp above 4 is refused as unsupported. The dictionary size
// is checked against the limit before any memory is taken.
//
// Costs: liblzma's state (the dictionary, as large as the data asks up to the limit,
// plus about 30 KiB) is taken when decoding starts and released by Close or
// destruction; this object adds one small heap block. Not copyable, not movable.
#pragma once

#include <cstdint>

#include "archive/decoder_stream.h"

namespace qm {

class XzStream final : public DecoderStream {
 public:
  XzStream();
  ~XzStream() override;

  // Decodes raw LZMA from the next Open on: properties holds the 5 property bytes
  // (lc/lp/pb, dictionary size), uncompressedSize the entry's size.
  void SetRawLzma(const uint8_t properties[5], uint64_t uncompressedSize);

 protected:
  DecoderFault StartLibrary() override;
  Progress Decode(Window& window, bool isInputEnd) override;
  void EndLibrary() override;

 private:
  struct Library;
  Library* const library_;
};

}  // namespace qm
