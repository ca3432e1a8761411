// Bzip2Stream: a read-only Stream of the bytes decoded from bzip2 data (one or more
// bzip2 streams in a row, as bzip2 -dc and pbzip2 write and read them) through libbz2.
// Memory is fixed by the format: libbz2's normal (fast) mode takes at most about
// 3.7 MB, for the largest block size (900 kB). Contract as DecoderStream.

// Checks: every block's CRC and each stream's combined CRC are verified by libbz2.
// Bytes after a complete stream that do not start another one are left unread, as
// bzip2 -dc ignores such trailing garbage; a second stream that starts and breaks off
// fails the read.
//
// Costs: libbz2's state (64 KiB plus 4 bytes per byte of block size) is taken when
// decoding starts and released by Close or destruction; this object adds one small
// heap block. Not copyable, not movable.
#pragma once

#include "archive/decoder_stream.h"

namespace qm {

class Bzip2Stream final : public DecoderStream {
 public:
  Bzip2Stream();
  ~Bzip2Stream() override;

 protected:
  DecoderFault StartLibrary() override;
  Progress Decode(Window& window, bool isInputEnd) override;
  void EndLibrary() override;

 private:
  struct Library;
  Library* const library_;
};

}  // namespace qm
