// The gzip member wrapper (RFC 1952) around DEFLATE data, read through the decoder's
// BitReader: the header before the first block and the trailer after the final one.
// Internal to the decoder (archive/inflate_stream.cc), on its thread; the functions
// keep no state, the caller owns the reader and the header record they fill.

// The decoder reads members one after another while the bytes behind a trailer start
// with the gzip magic; anything else behind a trailer is never looked at.
//
// Header checks: ID1 31, ID2 139, CM 8, no reserved FLG bits (0xE0); FEXTRA is
// skipped, FNAME and FCOMMENT are kept (each cut at kMaxGzipTextLength bytes, the rest
// read and dropped so memory stays bounded whatever the input), and FHCRC must equal
// the low 16 bits of the CRC-32 of every header byte before it, the extra field's
// length and the strings' terminating NULs included. FTEXT, XFL and OS are ignored.
// Trailer checks: CRC-32 of the output, then ISIZE (output length modulo 2^32).
// Failures are recorded in the reader's fault; nothing here allocates beyond the two
// kept strings.
#pragma once

#include <cstdint>

#include "archive/inflate_internal.h"
#include "core/shared_string.h"

namespace qm {

// Longest FNAME or FCOMMENT kept; longer texts are read to their NUL and cut.
inline constexpr int32_t kMaxGzipTextLength = 4096;

struct GzipHeaderInfo {
  SharedString fileName;
  SharedString comment;
  uint32_t modificationTime = 0;
};

// Reads and checks one member header from reader, which must stand at its first byte.
bool ReadGzipHeader(BitReader& reader, GzipHeaderInfo& info);

// Reads the 8-byte trailer (after dropping the bits up to the byte boundary) and
// checks it against the CRC-32 and length of the decoded data.
bool CheckGzipTrailer(BitReader& reader, uint32_t crc, uint32_t totalOutput);

}  // namespace qm
