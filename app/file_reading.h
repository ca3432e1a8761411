// The steps intake takes on one file's bytes, each safe on any thread with buffers of
// the caller's: read a file from disk or a stream whole into a buffer, measure it,
// hash it, turn UTF-16 into UTF-8, classify its lines. Nothing here prints or touches
// the run's totals; what a step learns goes into the file's FileFacts, which intake
// then counts in order (app/file_intake.h).

// Reading. A file from disk is opened without blocking and read whole only when it is
// a regular file within the limit; a stream is read for exactly its given size, or to
// its end under the limit (a positioned one, or a regular file on standard input, is
// measured first and refused before it is read). Bytes land in the caller's buffer
// after its first `start` bytes, with one byte of room behind them for the line break
// the decoding step may add. A buffer that cannot be had (out of memory) makes the
// file unreadable; the run goes on. A file is at most kMaxContentBytes.
#pragma once

#include <cstdint>

#include "app/md5.h"
#include "core/array.h"
#include "core/stream.h"
#include "count/file_type_id.h"
#include "count/line_totals.h"

namespace qm {

// The read buffer's count is 32-bit; one byte stays free for the line break.
inline constexpr int64_t kMaxContentBytes = INT32_MAX - 1;
// With -al a name without a dot may be a script: its type is read from its "#!" line,
// in the first kShebangBytes bytes.
inline constexpr int64_t kShebangBytes = 128;

// How reading and looking at one file ended; each failure has its -la line and counter.
enum class ContentRead {
  kRead,
  kOpenFailed,    // "couldn't open file": not opened, or no regular file
  kTooBig,        // "file too big": over the limit, or UTF-16 whose UTF-8 form would not fit
  kReadFailed,    // "couldn't read file": a read error on disk, or no memory for the buffer
  kNoMemory,      // the buffer for it could not be had: retried alone, then "couldn't read file"
  kStreamFailed,  // "couldn't open/read file": a stream that could not be read
};

// The line counts of one classified file.
struct FileLines {
  int64_t lines = 0;
  int64_t blank = 0;
  int64_t comment = 0;
  int64_t code = 0;
  int64_t punctuation = 0;
};

enum class Utf16Kind { kNone, kLittleEndian, kBigEndian };

// What was learnt from one file's bytes, in the order intake learns it. The bytes
// themselves live elsewhere (a reused buffer, a batch of members).
struct FileFacts {
  ContentRead outcome = ContentRead::kRead;
  int64_t sizeInBytes = 0;  // raw, as read
  uint64_t contentClass = 0;
  Utf16Kind utf16Kind = Utf16Kind::kNone;
  bool hasDigest = false;
  Md5Digest digest;  // of the raw bytes, when hasDigest
  bool hasLines = false;
  FileLines lines;  // when hasLines
};

// Text ready to classify: the raw bytes or their UTF-8 form, ending with a line break.
struct Text {
  const uint8_t* bytes = nullptr;
  int32_t length = 0;
  bool hasAddedBreak = false;  // the last byte is a line break the file lacks
};

// Reads the file at path (zero-terminated) whole into bytes, replacing what they held.
// Anything but a regular file (FIFO, socket, device) counts as not opened and is never
// read; a file shrinking while read is unreadable, bytes past its size (a file growing)
// stay unread.
ContentRead ReadFromDisk(const char* path, int64_t limit, Array<uint8_t>& bytes);

// Reads a stream into bytes after their first start + kept bytes, the first kept of the
// file's bytes being there already (a "#!" line read to find the type). With a size
// exactly that many bytes are read (the caller checked the limit); without, the stream
// is read to its end under limit. On success bytes end with the file's; on failure they
// are cut back to start.
ContentRead ReadFromStream(Stream& stream, const uint32_t* size, int64_t limit, Array<uint8_t>& bytes,
                           int64_t start, int64_t kept);

// Reads up to count bytes (fewer at the end) into buffer; the number read, -1 on error.
int64_t ReadPrefix(Stream& stream, uint8_t* buffer, int64_t count);

// The type of the regular file at path by its "#!" line; kTypeUnknown when it cannot be
// opened or names no known interpreter.
FileTypeId SniffDiskFile(const char* path);

// Size and content class of the raw bytes just read (app/deferred_digests.h); clears
// what later steps learn.
void MeasureContent(FileFacts& facts, const uint8_t* bytes, int64_t count);

// The digest of the raw bytes. Requires: the bytes are not converted yet.
void HashContent(FileFacts& facts, const uint8_t* bytes);

// The text to classify (facts.utf16Kind found). UTF-16 becomes UTF-8 in scratch (a
// failure becomes the outcome and the text is empty); every text ends with a line
// break, written into the byte of room behind the raw bytes when they lack one.
Text DecodeContent(FileFacts& facts, uint8_t* bytes, Array<uint8_t>& scratch);

// The file's lines, classified by the rules of its type. scratch is reused and left
// zero for the next file.
void CountLines(FileFacts& facts, FileTypeId type, const Text& text, LineTotals& scratch);

// The UTF-16 test: an even length and, within the first 1024 bytes, at least two zero
// bytes at odd offsets and one non-zero byte at an even offset (little-endian) or
// else, with at least 3 bytes examined, at least two zero bytes at even offsets and
// one non-zero byte at an odd offset (big-endian). A run of NULs is not UTF-16. No
// byte-order mark is looked for.
Utf16Kind DetectUtf16(const uint8_t* bytes, int64_t length);

enum class Utf16Conversion { kConverted, kTooLong, kNoMemory };

// Writes the UTF-8 form of count bytes of UTF-16 of the given byte order into out,
// each 16-bit unit taken as one code point (surrogates are not paired), with one byte
// of room behind it. kTooLong when the result would be longer than maxLength,
// kNoMemory when out cannot grow to hold it. Requires: count is even; kind is not kNone.
Utf16Conversion ConvertUtf16(const uint8_t* bytes, int64_t count, Utf16Kind kind, int64_t maxLength,
                             Array<uint8_t>& out);

}  // namespace qm
