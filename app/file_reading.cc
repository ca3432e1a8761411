#include "app/file_reading.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "app/deferred_digests.h"
#include "app/file_types.h"
#include "core/path.h"
#include "core/standard_streams.h"
#include "count/classify_text.h"

namespace qm {

namespace {

constexpr int64_t kReadChunkBytes = 8192;

// How reading a stream into its buffer ended. kTooBig: it passed the limit. kNoMemory:
// the buffer for it could not be had; the file is then unreadable, and the run goes on.
enum class BufferRead { kRead, kTooBig, kFailed, kNoMemory };

// Reads a file of exactly count bytes into bytes after start, whose first `kept` bytes
// are there already, keeping one byte of room behind them. Fails on a read error, an
// early end (a file shrinking while read), or a count that does not fit the buffer.
// Bytes past count (a file growing while read) stay unread.
BufferRead ReadIntoBuffer(Stream& stream, int64_t count, Array<uint8_t>& bytes, int64_t start, int64_t kept) {
  bytes.SetCountUninitialized(static_cast<int32_t>(start + kept));
  if (count < kept || count > kMaxContentBytes || start + count + 1 > INT32_MAX) return BufferRead::kFailed;
  if (!bytes.TryReserve(static_cast<int32_t>(start + count + 1))) return BufferRead::kNoMemory;
  if (!ReadExactly(stream, bytes.Data() + start + kept, count - kept)) return BufferRead::kFailed;
  bytes.SetCountUninitialized(static_cast<int32_t>(start + count));
  return BufferRead::kRead;
}

// Reads a stream of unknown size to its end in pieces after the `kept` bytes already
// at start, refusing it as soon as its size passes limit. The buffer doubles, but
// never past start + limit + one page: that is room for every byte a stream within
// the limit has, the line break behind them, and the one byte that tells a stream over
// the limit. Large blocks grow by remapping, so there is never a second copy of the data.
BufferRead ReadUnsized(Stream& stream, int64_t limit, Array<uint8_t>& bytes, int64_t start, int64_t kept) {
  constexpr int64_t kPageBytes = 4096;
  bytes.SetCountUninitialized(static_cast<int32_t>(start + kept));
  // A piece must always fit: the buffer holds at least two bytes more than the limit.
  const int64_t boundedLimit = limit < 0 ? 0 : limit < kMaxContentBytes - 1 ? limit : kMaxContentBytes - 1;
  const int64_t wantedCapacity = start + boundedLimit + kPageBytes;
  const int64_t maxCapacity = wantedCapacity < INT32_MAX ? wantedCapacity : INT32_MAX;
  int64_t total = start + kept;
  if (total - start > boundedLimit) return BufferRead::kTooBig;
  for (;;) {
    // Room for a piece and the line break; the last piece is shorter.
    if (bytes.Capacity() < total + kReadChunkBytes + 1 && bytes.Capacity() < maxCapacity) {
      int64_t grown = int64_t{bytes.Capacity()} * 2;
      if (grown < total + kReadChunkBytes + 1) grown = total + kReadChunkBytes + 1;
      if (grown > maxCapacity) grown = maxCapacity;
      if (!bytes.TryReserve(static_cast<int32_t>(grown))) return BufferRead::kNoMemory;
    }
    const int64_t room = int64_t{bytes.Capacity()} - 1 - total;
    if (room <= 0) return BufferRead::kTooBig;
    const int64_t piece = room < kReadChunkBytes ? room : kReadChunkBytes;
    int64_t got = 0;
    if (!stream.Read(bytes.Data() + total, piece, got) || got < 0 || got > piece) return BufferRead::kFailed;
    if (got == 0) return BufferRead::kRead;
    total += got;
    if (total - start > boundedLimit) return BufferRead::kTooBig;
    bytes.SetCountUninitialized(static_cast<int32_t>(total));
  }
}

// A stream given without a size: a positioned one is refused on its size before it is
// read, or read for exactly what remains (so a stream of exactly the limit passes);
// any other is read in pieces and refused as soon as it passes the limit.
BufferRead ReadWholeStream(Stream& stream, int64_t limit, Array<uint8_t>& bytes, int64_t start,
                           int64_t kept) {
  if ((stream.Flags() & kStreamPositioned) != 0) {
    const int64_t position = stream.Tell();
    const int64_t size = stream.Size();
    if (position >= 0 && size >= position) {
      const int64_t total = kept + size - position;
      if (total > limit) return BufferRead::kTooBig;
      return ReadIntoBuffer(stream, total, bytes, start, kept);
    }
  }
  return ReadUnsized(stream, limit, bytes, start, kept);
}

// Bytes left in a regular file on standard input, or -1 when standard input is no
// regular file (a pipe, a terminal) or is not the stream.
int64_t RegularStandardInputBytes(Stream& stream) {
  auto* input = dynamic_cast<StandardInputStream*>(&stream);
  struct stat info;
  if (input == nullptr || fstat(input->Descriptor(), &info) != 0 || !S_ISREG(info.st_mode)) return -1;
  const off_t position = lseek(input->Descriptor(), 0, SEEK_CUR);
  return position >= 0 && position <= info.st_size ? info.st_size - position : -1;
}

ContentRead FromBufferRead(BufferRead outcome) {
  switch (outcome) {
    case BufferRead::kRead:
      return ContentRead::kRead;
    case BufferRead::kTooBig:
      return ContentRead::kTooBig;
    case BufferRead::kNoMemory:
      return ContentRead::kNoMemory;
    case BufferRead::kFailed:
      break;
  }
  return ContentRead::kStreamFailed;
}

}  // namespace

ContentRead ReadFromDisk(const char* path, int64_t limit, Array<uint8_t>& bytes) {
  bytes.SetCountUninitialized(0);
  int descriptor;
  do {
    descriptor = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  } while (descriptor < 0 && errno == EINTR);
  if (descriptor < 0) return ContentRead::kOpenFailed;
  struct stat info;
  ContentRead outcome = ContentRead::kRead;
  if (fstat(descriptor, &info) != 0 || !S_ISREG(info.st_mode)) {
    outcome = ContentRead::kOpenFailed;
  } else if (info.st_size > limit) {
    outcome = ContentRead::kTooBig;
  } else if (info.st_size > 0) {
    // The size is checked against the limit, which fits the 32-bit buffer.
    const int64_t count = info.st_size;
    if (count > kMaxContentBytes) {
      outcome = ContentRead::kReadFailed;
    } else if (!bytes.TryReserve(static_cast<int32_t>(count + 1))) {
      outcome = ContentRead::kNoMemory;
    } else {
      int64_t done = 0;
      while (done < count) {
        const ssize_t got = read(descriptor, bytes.Data() + done, static_cast<size_t>(count - done));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        done += got;
      }
      if (done == count) {
        bytes.SetCountUninitialized(static_cast<int32_t>(count));
      } else {
        outcome = ContentRead::kReadFailed;
      }
    }
  }
  close(descriptor);
  return outcome;
}

ContentRead ReadFromStream(Stream& stream, const uint32_t* size, int64_t limit, Array<uint8_t>& bytes,
                           int64_t start, int64_t kept) {
  ContentRead outcome = ContentRead::kRead;
  const int64_t restBytes = size == nullptr ? RegularStandardInputBytes(stream) : -1;
  const int64_t fileBytes = restBytes >= 0 ? kept + restBytes : -1;
  if (fileBytes > limit) {
    outcome = ContentRead::kTooBig;
  } else if ((stream.Flags() & kStreamReadable) == 0) {
    outcome = ContentRead::kStreamFailed;
  } else {
    if (fileBytes >= 0 && start + fileBytes + 2 < INT32_MAX) {
      bytes.TryReserve(static_cast<int32_t>(start + fileBytes + 2));
    }
    outcome = FromBufferRead(size != nullptr ? ReadIntoBuffer(stream, *size, bytes, start, kept)
                                             : ReadWholeStream(stream, limit, bytes, start, kept));
  }
  if (outcome != ContentRead::kRead) bytes.SetCountUninitialized(static_cast<int32_t>(start));
  return outcome;
}

int64_t ReadPrefix(Stream& stream, uint8_t* buffer, int64_t count) {
  int64_t total = 0;
  while (total < count) {
    int64_t got = 0;
    if (!stream.Read(buffer + total, count - total, got) || got < 0 || got > count - total) return -1;
    if (got == 0) break;
    total += got;
  }
  return total;
}

FileTypeId SniffDiskFile(const char* path) {
  int descriptor;
  do {
    descriptor = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  } while (descriptor < 0 && errno == EINTR);
  if (descriptor < 0) return kTypeUnknown;
  struct stat info;
  FileTypeId type = kTypeUnknown;
  if (fstat(descriptor, &info) == 0 && S_ISREG(info.st_mode)) {
    uint8_t prefix[kShebangBytes];
    int64_t count = 0;
    while (count < kShebangBytes) {
      const ssize_t got = read(descriptor, prefix + count, static_cast<size_t>(kShebangBytes - count));
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) break;
      count += got;
    }
    if (count > 0) type = ShebangTypeOf(prefix, count);
  }
  close(descriptor);
  return type;
}

void MeasureContent(FileFacts& facts, const uint8_t* bytes, int64_t count) {
  facts.sizeInBytes = count;
  facts.contentClass = count >= kDeferredMinBytes ? ContentClassOf(bytes, count) : 0;
  facts.utf16Kind = Utf16Kind::kNone;
  facts.hasDigest = false;
  facts.hasLines = false;
}

void HashContent(FileFacts& facts, const uint8_t* bytes) {
  facts.digest = Md5Of(bytes, static_cast<size_t>(facts.sizeInBytes));
  facts.hasDigest = true;
}

Text DecodeContent(FileFacts& facts, uint8_t* bytes, Array<uint8_t>& scratch) {
  Text text;
  int64_t length = facts.sizeInBytes;
  uint8_t* textBytes = bytes;
  if (facts.utf16Kind != Utf16Kind::kNone) {
    switch (ConvertUtf16(bytes, length, facts.utf16Kind, kMaxContentBytes, scratch)) {
      case Utf16Conversion::kConverted:
        break;
      case Utf16Conversion::kTooLong:
        facts.outcome = ContentRead::kTooBig;
        return text;
      case Utf16Conversion::kNoMemory:
        facts.outcome = ContentRead::kNoMemory;
        return text;
    }
    textBytes = scratch.Data();
    length = scratch.Count();
  }
  const uint8_t lastByte = textBytes[length - 1];
  if (lastByte != '\r' && lastByte != '\n') {
    textBytes[length++] = '\n';
    text.hasAddedBreak = true;
  }
  text.bytes = textBytes;
  text.length = static_cast<int32_t>(length);
  return text;
}

void CountLines(FileFacts& facts, FileTypeId type, const Text& text, LineTotals& scratch) {
  ClassifyText(scratch, type, text.bytes, text.length);
  facts.lines.lines = std::exchange(scratch.lineCount[type], 0);
  facts.lines.blank = std::exchange(scratch.blankLines[type], 0);
  facts.lines.comment = std::exchange(scratch.commentLines[type], 0);
  facts.lines.code = std::exchange(scratch.codeLines[type], 0);
  facts.lines.punctuation = std::exchange(scratch.punctLines[type], 0);
  facts.hasLines = true;
}

Utf16Kind DetectUtf16(const uint8_t* bytes, int64_t length) {
  if (length <= 0 || length % 2 != 0) return Utf16Kind::kNone;
  const int64_t window = length < 1024 ? length : 1024;
  // Zero bytes and text bytes at even and odd offsets of the window. Text has at least
  // one byte that is not 0 where its characters sit; a file of NULs has none.
  int zeroCount[2] = {0, 0};
  bool hasText[2] = {false, false};
  for (int64_t i = 0; i < window; ++i) {
    if (bytes[i] == 0) {
      ++zeroCount[i & 1];
    } else {
      hasText[i & 1] = true;
    }
  }
  if (zeroCount[1] >= 2 && hasText[0]) return Utf16Kind::kLittleEndian;
  if (window >= 3 && zeroCount[0] >= 2 && hasText[1]) return Utf16Kind::kBigEndian;
  return Utf16Kind::kNone;
}

Utf16Conversion ConvertUtf16(const uint8_t* bytes, int64_t count, Utf16Kind kind, int64_t maxLength,
                             Array<uint8_t>& out) {
  const int64_t unitCount = count / 2;
  const int highByte = kind == Utf16Kind::kBigEndian ? 0 : 1;
  auto unitAt = [bytes, highByte](int64_t i) {
    return static_cast<int32_t>(bytes[2 * i + highByte]) << 8 | bytes[2 * i + 1 - highByte];
  };
  // A unit takes 1 to 3 bytes in UTF-8: measure first so the limit is checked before
  // anything is written.
  int64_t outLength = 0;
  for (int64_t i = 0; i < unitCount; ++i) outLength += Utf8Length(unitAt(i));
  if (outLength > maxLength || outLength >= INT32_MAX) return Utf16Conversion::kTooLong;
  out.SetCountUninitialized(0);
  if (!out.TryReserve(static_cast<int32_t>(outLength + 1))) return Utf16Conversion::kNoMemory;
  char* next = reinterpret_cast<char*>(out.Data());
  char* const end = next + outLength;
  for (int64_t i = 0; i < unitCount; ++i) next += EncodeUtf8(unitAt(i), next, end);
  out.SetCountUninitialized(static_cast<int32_t>(outLength));
  return Utf16Conversion::kConverted;
}

}  // namespace qm
