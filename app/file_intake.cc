#include "app/file_intake.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "app/archive_bridge.h"
#include "app/deferred_digests.h"
#include "app/file_types.h"
#include "app/md5.h"
#include "app/message_output.h"
#include "app/ordered_pipeline.h"
#include "app/run_driver.h"
#include "app/settings.h"
#include "core/allocation.h"
#include "core/file.h"
#include "core/path.h"
#include "core/standard_streams.h"
#include "count/classify_text.h"

namespace qm {
namespace {

// The read buffer's count is 32-bit; one byte stays free for the line break that
// intake may append.
constexpr int64_t kMaxContentBytes = INT32_MAX - 1;
constexpr int64_t kReadChunkBytes = 8192;
// Every file is opened for reading, shared for reading, writing and deleting.
constexpr uint32_t kReadShare = 7;

// Reused from file to file: the trimmed, lowered name and the path a file is opened
// by. Each is rewritten in its own block, so the common case allocates nothing; a
// handle that still shares a block (a FileRecord path, an archive name held across a
// nested intake) simply keeps the old block.
SharedString preparedName;
SharedString openPath;
Array<uint8_t> utf16Scratch;

void SetText(SharedString& target, const char* bytes, int32_t count) {
  target.Erase(0, -1);
  target.Append(bytes, count);
}

bool IsTrimSpace(char byte) {
  return byte == ' ' || byte == '\b' || byte == '\t' || byte == '\n' || byte == '\v' || byte == '\r';
}

// Trims the name into preparedName and, with -le, records the text after its last
// dot (case kept; empty when the name ends with the dot). Then lowers preparedName.
void PrepareName(const SharedString& name, bool isRecordingExtension) {
  const char* begin = name.CStr();
  const char* end = begin + name.Length();
  while (end != begin && IsTrimSpace(end[-1])) --end;
  while (begin != end && IsTrimSpace(*begin)) ++begin;
  SetText(preparedName, begin, static_cast<int32_t>(end - begin));
  if (isRecordingExtension) {
    const char* dot = end;
    while (dot != begin && dot[-1] != '.') --dot;
    if (dot != begin && uniqueExtensions.IndexOf(dot, end) < 0) {
      uniqueExtensions.Insert(SharedString(dot, end));
    }
  }
  preparedName.ToLower();
}

void BuildFullPath(SharedString& target, const SharedString& directory, const SharedString& name) {
  SetText(target, directory.CStr(), directory.Length());
  AppendPathComponent(target, name);
}

}  // namespace

SharedString DisplayPathOf(const SharedString& root, const SharedString& directory,
                           const SharedString& name) {
  SharedString display;
  if (root.IsEmpty()) {
    display = directory;
  } else if (directory == root) {
  } else if (directory.StartsWith(root.CStr()) && (root.EndsWith("/") || directory[root.Length()] == '/')) {
    const int32_t skip = root.Length() + (root.EndsWith("/") ? 0 : 1);
    display = SharedString(directory.CStr() + skip, directory.CStr() + directory.Length());
  } else {
    display = MakeRelative(directory, root);
  }
  AppendPathComponent(display, name);
  return display;
}

namespace {

// One -la line. The display path is made only when the line is printed.
void Report(const char* format, const SharedString& root, const SharedString& directory,
            const SharedString& name) {
  if (!settings.listAnomalies) return;
  PrintInfo(format, Shown(DisplayPathOf(root, directory, name)).CStr());
}

// How reading a file into its buffer ended. kTooBig: a stream passed the limit.
// kNoMemory: the buffer for it could not be had; the file is then unreadable, and the
// run goes on.
enum class BufferRead { kRead, kTooBig, kFailed, kNoMemory };

// Reads a file of exactly count bytes into readBuffer, whose first `kept` bytes (a
// prefix already read from the stream) stay, keeping one byte of room behind them.
// Fails on a read error, an early end (a file shrinking while read), or a count that
// does not fit the buffer. Bytes past count (a file growing while read) stay unread.
BufferRead ReadIntoBuffer(Stream& stream, int64_t count, Array<uint8_t>& readBuffer, int64_t kept) {
  readBuffer.SetCountUninitialized(static_cast<int32_t>(kept));
  if (count < kept || count > kMaxContentBytes) return BufferRead::kFailed;
  if (!readBuffer.TryReserve(static_cast<int32_t>(count + 1))) return BufferRead::kNoMemory;
  if (!ReadExactly(stream, readBuffer.Data() + kept, count - kept)) return BufferRead::kFailed;
  readBuffer.SetCountUninitialized(static_cast<int32_t>(count));
  return BufferRead::kRead;
}

// Reads a stream of unknown size to its end in pieces after the `kept` bytes already in
// readBuffer, refusing it as soon as the total passes limit. The buffer doubles, but never past limit + one
// page: that is room for every byte a stream within the limit has, the line break behind them, and the one
// byte that tells a stream over the limit. Large blocks grow by remapping, so there is
// never a second copy of the data.
BufferRead ReadUnsized(Stream& stream, int64_t limit, Array<uint8_t>& readBuffer, int64_t kept) {
  constexpr int64_t kPageBytes = 4096;
  readBuffer.SetCountUninitialized(static_cast<int32_t>(kept));
  // A piece must always fit: the buffer holds at least two bytes more than the limit.
  const int64_t boundedLimit = limit < 0 ? 0 : limit < kMaxContentBytes - 1 ? limit : kMaxContentBytes - 1;
  const int64_t maxCapacity = boundedLimit + kPageBytes < INT32_MAX ? boundedLimit + kPageBytes : INT32_MAX;
  int64_t total = kept;
  if (total > boundedLimit) return BufferRead::kTooBig;
  for (;;) {
    // Room for a piece and the line break; the last piece is shorter.
    if (readBuffer.Capacity() < total + kReadChunkBytes + 1 && readBuffer.Capacity() < maxCapacity) {
      int64_t grown = int64_t{readBuffer.Capacity()} * 2;
      if (grown < total + kReadChunkBytes + 1) grown = total + kReadChunkBytes + 1;
      if (grown > maxCapacity) grown = maxCapacity;
      if (!readBuffer.TryReserve(static_cast<int32_t>(grown))) return BufferRead::kNoMemory;
    }
    const int64_t room = int64_t{readBuffer.Capacity()} - 1 - total;
    const int64_t piece = room < kReadChunkBytes ? room : kReadChunkBytes;
    int64_t got = 0;
    if (!stream.Read(readBuffer.Data() + total, piece, got) || got < 0 || got > piece) {
      return BufferRead::kFailed;
    }
    if (got == 0) return BufferRead::kRead;
    total += got;
    if (total > boundedLimit) return BufferRead::kTooBig;
    readBuffer.SetCountUninitialized(static_cast<int32_t>(total));
  }
}

// A stream given without a size: a positioned one is refused on its size before it is
// read, or read for exactly what remains (so a stream of exactly the limit passes);
// any other is read in pieces and refused as soon as it passes the limit.
BufferRead ReadWholeStream(Stream& stream, int64_t limit, Array<uint8_t>& readBuffer, int64_t kept) {
  if ((stream.Flags() & kStreamPositioned) != 0) {
    const int64_t position = stream.Tell();
    const int64_t size = stream.Size();
    if (position >= 0 && size >= position) {
      const int64_t total = kept + size - position;
      if (total > limit) return BufferRead::kTooBig;
      return ReadIntoBuffer(stream, total, readBuffer, kept);
    }
  }
  return ReadUnsized(stream, limit, readBuffer, kept);
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

// With -al a name without a dot may be a script: its type is read from its "#!" line.
constexpr int64_t kShebangBytes = 128;

// Reads up to count bytes (fewer at the end) into buffer; the number read, -1 on error.
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

// The type of a file on disk named by openPath by its "#!" line; 0 when it cannot be
// opened (such a file stays of unknown type, as it would without -al).
FileTypeId SniffDiskFile() {
  File file;
  struct stat info;
  if (!file.Open(openPath, kFileRead, kReadShare) || fstat(file.Descriptor(), &info) != 0 ||
      !S_ISREG(info.st_mode)) {
    return kTypeUnknown;
  }
  uint8_t prefix[kShebangBytes];
  const int64_t count = ReadPrefix(file, prefix, kShebangBytes);
  return count > 0 ? ShebangTypeOf(prefix, count) : kTypeUnknown;
}

// The same for a stream: the bytes read stay in readBuffer, and the read of the whole
// file keeps them (its `kept` bytes).
FileTypeId SniffStream(Stream& stream, const uint32_t* size, Array<uint8_t>& readBuffer) {
  readBuffer.SetCountUninitialized(0);
  if ((stream.Flags() & kStreamReadable) == 0) return kTypeUnknown;
  const int64_t wanted = size != nullptr && *size < kShebangBytes ? *size : kShebangBytes;
  readBuffer.Reserve(static_cast<int32_t>(wanted + 1));
  const int64_t count = ReadPrefix(stream, readBuffer.Data(), wanted);
  if (count <= 0) return kTypeUnknown;
  readBuffer.SetCountUninitialized(static_cast<int32_t>(count));
  return ShebangTypeOf(readBuffer.Data(), count);
}

// Offers an archive name to archive scanning. Returns 1 when it was dealt with, 0 when
// it is no archive after all, -1 when it could not be opened.
int OfferArchive(CountTotals& totals, const SharedString& root, const SharedString& directory,
                 const SharedString& name, Stream* stream) {
  File archiveFile;
  if (stream == nullptr) {
    BuildFullPath(openPath, directory, name);
    struct stat info;
    if (!archiveFile.Open(openPath, kFileRead, kReadShare) || fstat(archiveFile.Descriptor(), &info) != 0 ||
        !S_ISREG(info.st_mode)) {
      return -1;
    }
    stream = &archiveFile;
  }
  // Members come back through intake, which reuses preparedName: scan a handle of
  // its own. Messages name the archive by its path below the argument, or, inside
  // another archive, by the outer archive's name, '/', and its path in there.
  const SharedString archiveName = preparedName;
  SharedString shownName = currentArchive;
  if (!shownName.IsEmpty()) shownName.Append("/", 1);
  shownName.Append(DisplayPathOf(root, directory, name));
  const bool isScanned = ScanArchive(archiveName, shownName, totals, *stream);
  if (!isScanned) preparedName = archiveName;
  return isScanned ? 1 : 0;
}

// How reading and looking at one file ended; each failure has its -la line and counter.
enum class ContentRead {
  kRead,
  kOpenFailed,    // "couldn't open file": not opened, or no regular file
  kTooBig,        // "file too big": over the limit, or UTF-16 whose UTF-8 form would not fit
  kReadFailed,    // "couldn't read file": a read error on disk, or no memory for the buffer
  kStreamFailed,  // "couldn't open/read file": a stream that could not be read
};

// The per-file line counts of one classified file.
struct FileLines {
  int64_t lines = 0;
  int64_t blank = 0;
  int64_t comment = 0;
  int64_t code = 0;
  int64_t punctuation = 0;
};

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
};

// Reused by the one-thread path.
Array<uint8_t> serialBytes;
LineTotals serialLines;

// Step: read a file from disk. Opens path without blocking and reads it whole into
// bytes (one byte of room kept behind them). Anything but a regular file (FIFO, socket,
// device) counts as not opened and is never read. Safe on any thread.
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
    if (count > kMaxContentBytes || !bytes.TryReserve(static_cast<int32_t>(count + 1))) {
      outcome = ContentRead::kReadFailed;
    } else {
      int64_t done = 0;
      while (done < count) {
        const ssize_t got = read(descriptor, bytes.Data() + done, static_cast<size_t>(count - done));
        if (got < 0 && errno == EINTR) continue;
        // A file shrinking while read is unreadable; bytes past count stay unread.
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

ContentRead FromBufferRead(BufferRead outcome) {
  switch (outcome) {
    case BufferRead::kRead:
      return ContentRead::kRead;
    case BufferRead::kTooBig:
      return ContentRead::kTooBig;
    case BufferRead::kNoMemory:
      return ContentRead::kReadFailed;
    case BufferRead::kFailed:
      break;
  }
  return ContentRead::kStreamFailed;
}

// Step: read a stream (a file argument, standard input, an archive member). With a size
// exactly size bytes are read (archive scanning checked the limit); without, the stream
// is read to its end under the limit, a regular file on standard input measured first.
// The first `kept` bytes of bytes were read already (a "#!" line read to find the type).
ContentRead ReadFromStream(Stream& stream, const uint32_t* size, int64_t kept, Array<uint8_t>& bytes) {
  const int64_t restBytes = size == nullptr ? RegularStandardInputBytes(stream) : -1;
  const int64_t fileBytes = restBytes >= 0 ? kept + restBytes : -1;
  if (fileBytes > settings.maxFileSize) return ContentRead::kTooBig;
  if (fileBytes >= 0 && fileBytes < kMaxContentBytes) bytes.TryReserve(static_cast<int32_t>(fileBytes + 2));
  if ((stream.Flags() & kStreamReadable) == 0) return ContentRead::kStreamFailed;
  return FromBufferRead(size != nullptr ? ReadIntoBuffer(stream, *size, bytes, kept)
                                        : ReadWholeStream(stream, settings.maxFileSize, bytes, kept));
}

// Step: size and content class of the raw bytes just read (app/deferred_digests.h).
void MeasureContent(FileFacts& facts, const uint8_t* bytes, int64_t count) {
  facts.sizeInBytes = count;
  facts.contentClass = count >= kDeferredMinBytes ? ContentClassOf(bytes, count) : 0;
  facts.utf16Kind = Utf16Kind::kNone;
  facts.hasDigest = false;
  facts.hasLines = false;
}

// Step: the digest of the raw bytes. Requires: the bytes are not converted yet.
void HashContent(FileFacts& facts, const uint8_t* bytes) {
  facts.digest = Md5Of(bytes, static_cast<size_t>(facts.sizeInBytes));
  facts.hasDigest = true;
}

// Step: the text to classify (facts.utf16Kind is found). UTF-16 becomes UTF-8 in scratch (a failure becomes
// the outcome and the text is empty); every text ends with a line break, written into the byte of room behind
// the raw bytes when they lack one.
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
        facts.outcome = ContentRead::kReadFailed;
        return text;
    }
    textBytes = scratch.Data();
    length = scratch.Count();
  }
  const uint8_t lastByte = textBytes[length - 1];
  if (lastByte != '\r' && lastByte != '\n') textBytes[length++] = '\n';
  text.bytes = textBytes;
  text.length = static_cast<int32_t>(length);
  return text;
}

// Step: the file's lines, classified by the rules of its type. scratch is reused and
// left zero for the next file.
void CountLines(FileFacts& facts, FileTypeId type, const Text& text, LineTotals& scratch) {
  ClassifyText(scratch, type, text.bytes, text.length);
  facts.lines.lines = std::exchange(scratch.lineCount[type], 0);
  facts.lines.blank = std::exchange(scratch.blankLines[type], 0);
  facts.lines.comment = std::exchange(scratch.commentLines[type], 0);
  facts.lines.code = std::exchange(scratch.codeLines[type], 0);
  facts.lines.punctuation = std::exchange(scratch.punctLines[type], 0);
  facts.hasLines = true;
}

// Where a counted file came from, for its -la lines and its -f row: its directory and
// name, the root display paths are relative to, and the full path it is read from.
struct FileOrigin {
  const SharedString& root;
  const SharedString& directory;
  const SharedString& name;
  const char* fullPath;  // zero-terminated
  int32_t fullPathLength;
  bool isOnDisk;
};

// Step: everything the run learns from one file, in the order of the walk: the -la
// lines and counters of a failure, an empty file or UTF-16, the duplicate check (a file
// that may wait for its digest waits; any other is hashed now if it was not yet, a file
// on disk by reading it again), and the counts. text is the file's text when its lines
// are not counted yet (they are counted only when it is no duplicate).
bool CountContent(CountTotals& totals, const FileOrigin& origin, FileTypeId type, FileFacts& facts,
                  const Text& text) {
  const SharedString& root = origin.root;
  const SharedString& directory = origin.directory;
  const SharedString& name = origin.name;
  switch (facts.outcome) {
    case ContentRead::kRead:
      break;
    case ContentRead::kOpenFailed:
      Report("couldn't open file: %s\n", root, directory, name);
      ++totals.errorCount;
      return false;
    case ContentRead::kTooBig:
      Report("file too big: %s\n", root, directory, name);
      ++totals.tooBigCount;
      return false;
    case ContentRead::kReadFailed:
      Report("couldn't read file: %s\n", root, directory, name);
      ++totals.errorCount;
      return false;
    case ContentRead::kStreamFailed:
      Report("couldn't open/read file: %s\n", root, directory, name);
      ++totals.errorCount;
      return false;
  }
  const int64_t sizeInBytes = facts.sizeInBytes;
  if (sizeInBytes == 0) {
    Report("empty file: %s\n", root, directory, name);
    ++totals.emptyCount;
    return true;
  }
  if (facts.utf16Kind == Utf16Kind::kLittleEndian) {
    ++totals.utf16LeCount;
    Report("UTF-16 LE file: %s\n", root, directory, name);
  } else if (facts.utf16Kind == Utf16Kind::kBigEndian) {
    ++totals.utf16BeCount;
    Report("UTF-16 BE file: %s\n", root, directory, name);
  }

  if (!MustHashNow(totals.deferredDigests, sizeInBytes, facts.contentClass, origin.isOnDisk)) {
    DeferDigest(totals.deferredDigests, sizeInBytes, facts.contentClass,
                SharedString(origin.fullPath, origin.fullPath + origin.fullPathLength),
                settings.listAnomalies ? DisplayPathOf(root, directory, name) : SharedString());
  } else {
    // Only a file on disk can come here unhashed (read on a worker, which does not
    // know whether an earlier file shares its class). If it changed since, it is
    // compared with nothing.
    if (!facts.hasDigest) {
      const SharedString fullPath(origin.fullPath, origin.fullPath + origin.fullPathLength);
      facts.hasDigest = HashFileAgain(fullPath, sizeInBytes, facts.digest);
    }
    SettleDigests(totals.deferredDigests, totals.digests, sizeInBytes, facts.contentClass);
    if (facts.hasDigest) {
      const int32_t knownDigests = totals.digests.Count();
      const int32_t digestIndex = totals.digests.FindOrInsert(facts.digest);
      if (digestIndex < knownDigests) {
        if (settings.listAnomalies) {
          PrintInfo("duplicate file: %s\n\tmd5:%s\n", Shown(DisplayPathOf(root, directory, name)).CStr(),
                    Md5Hex(facts.digest).CStr());
          PrintInfo("\tdup source: %s\n", Shown(totals.digests.Value(digestIndex)).CStr());
        }
        ++totals.dupCount;
        return true;
      }
      if (settings.listAnomalies) totals.digests.Value(digestIndex) = DisplayPathOf(root, directory, name);
    }
  }

  if (!facts.hasLines) CountLines(facts, type, text, serialLines);
  const FileLines& lines = facts.lines;
  ++totals.fileCount[type];
  totals.byteCount[type] += sizeInBytes;
  totals.lineCount[type] += lines.lines;
  totals.blankLines[type] += lines.blank;
  totals.commentLines[type] += lines.comment;
  totals.codeLines[type] += lines.code;
  totals.punctLines[type] += lines.punctuation;
  if (!settings.byFile) return true;
  FileRecord record;
  record.lines = lines.lines;
  record.blank = lines.blank;
  record.comment = lines.comment;
  record.code = lines.code;
  record.punctuation = lines.punctuation;
  record.path = SharedString(origin.fullPath, origin.fullPath + origin.fullPathLength);
  record.type = type;
  record.size = sizeInBytes;
  record.onDisk = origin.isOnDisk;
  fileRecords.PushBack(std::move(record));
  return true;
}

// Parallel intake. Files go to the workers in batches, so that threads meet once per
// batch rather than once per file: the walk's thread fills the open batch and hands it
// over when it holds kBatchFiles files or kBatchBytes bytes of members, or when what
// comes next must wait for the files before it. A worker reads, measures, hashes where
// it must whatever comes later (under kDeferredMinBytes, UTF-16, archive members),
// decodes and classifies every file of a batch, keeping only what it learnt; the walk's
// thread then counts the batch into the totals, file by file, in walk order.
//
// Bytes: a file from disk is read into its worker's buffer and dropped after; an archive
// member is read by the walk's thread (it decodes the archive) into its batch's buffer,
// members one after another, each with a byte of room behind it. A batch so holds at
// most kBatchBytes plus one member (in a buffer at most kBatchGrowthBytes larger).
// Buffers keep their capacity while files keep coming (growing them again would cost
// page faults); whenever the workers are idle (before an archive, at the end of an
// argument) those over kKeptBufferBytes are given back, so a walk holds no more than
// the workers' buffers and an archive no more than its batches.
//
// In flight: batches of files from disk hold only their paths, so many may wait, and a
// batch of large files that holds up the merge does not hold up the workers. Batches
// of archive members hold their bytes: jobs + 2 of them keep every worker busy while
// the oldest is counted and the newest filled.
constexpr int32_t kFileBatchesAhead = 32;
constexpr int32_t kMemberBatchesAhead = 2;
constexpr int32_t kBatchFiles = 64;
constexpr int64_t kBatchBytes = 256 * 1024;
constexpr int32_t kKeptBufferBytes = 4 << 20;

struct PendingFile {
  SharedString root;
  SharedString directory;
  SharedString name;
  FileTypeId type = kTypeUnknown;
  bool isOnDisk = true;
  int32_t pathStart = 0;  // of the zero-terminated path in the batch's paths
  int32_t pathLength = 0;
  int64_t byteStart = 0;  // of a member's bytes in the batch's bytes
  FileFacts facts;        // a member's read outcome is set when it is read
};
struct FileBatch {
  Array<PendingFile> files;  // the first fileCount are in use
  int32_t fileCount = 0;
  Array<char> paths;
  Array<uint8_t> bytes;
};
struct WorkerScratch {
  Array<uint8_t> bytes;
  Array<uint8_t> utf16;
  LineTotals lines;
};

OrderedPipeline pipeline;
Array<FileBatch> batches;
Array<WorkerScratch> workerScratch;
CountTotals* pipelineTotals = nullptr;
int32_t openBatch = -1;  // the batch being filled, or -1
int32_t archiveDecodingDepth = 0;

void GiveBackIfLarge(Array<uint8_t>& buffer) {
  if (buffer.Capacity() > kKeptBufferBytes) buffer.Clear();
}

void WorkOnBatch(int32_t slot, int32_t worker) {
  FileBatch& batch = batches[slot];
  WorkerScratch& scratch = workerScratch[worker];
  for (int32_t i = 0; i < batch.fileCount; ++i) {
    PendingFile& file = batch.files[i];
    FileFacts& facts = file.facts;
    uint8_t* bytes;
    if (file.isOnDisk) {
      facts.outcome = ReadFromDisk(batch.paths.Data() + file.pathStart, settings.maxFileSize, scratch.bytes);
      bytes = scratch.bytes.Data();
      MeasureContent(facts, bytes, scratch.bytes.Count());
    } else {
      bytes = batch.bytes.Data() + file.byteStart;
    }
    if (facts.outcome != ContentRead::kRead || facts.sizeInBytes == 0) continue;
    facts.utf16Kind = DetectUtf16(bytes, facts.sizeInBytes);
    if (!file.isOnDisk || facts.sizeInBytes < kDeferredMinBytes || facts.utf16Kind != Utf16Kind::kNone) {
      HashContent(facts, bytes);
    }
    const Text text = DecodeContent(facts, bytes, scratch.utf16);
    if (facts.outcome == ContentRead::kRead) CountLines(facts, file.type, text, scratch.lines);
  }
}

void MergeBatch(int32_t slot) {
  FileBatch& batch = batches[slot];
  for (int32_t i = 0; i < batch.fileCount; ++i) {
    PendingFile& file = batch.files[i];
    const FileOrigin origin{file.root,       file.directory, file.name, batch.paths.Data() + file.pathStart,
                            file.pathLength, file.isOnDisk};
    CountContent(*pipelineTotals, origin, file.type, file.facts, Text());
  }
  batch.fileCount = 0;
}

// Hands the open batch to the workers.
void SubmitOpenBatch() {
  if (openBatch < 0) return;
  openBatch = -1;
  pipeline.Submit();
}

// The batch being filled, opening one when none is.
FileBatch& OpenBatch(CountTotals& totals) {
  pipelineTotals = &totals;
  if (openBatch < 0) {
    openBatch = pipeline.AcquireSlot();
    FileBatch& fresh = batches[openBatch];
    fresh.fileCount = 0;
    fresh.paths.SetCountUninitialized(0);
    fresh.bytes.SetCountUninitialized(0);
  }
  return batches[openBatch];
}

// Adds the file named by openPath to the open batch. A member's first `kept` bytes are
// at the end of the batch's bytes already.
PendingFile& AddPendingFile(CountTotals& totals, const SharedString& root, const SharedString& directory,
                            const SharedString& name, FileTypeId type, bool isOnDisk, int64_t kept) {
  FileBatch& batch = OpenBatch(totals);
  if (batch.fileCount == batch.files.Count()) batch.files.Resize(batch.fileCount + 1);
  PendingFile& file = batch.files[batch.fileCount++];
  file.root = root;
  file.directory = directory;
  file.name = name;
  file.pathLength = openPath.Length();
  file.type = type;
  file.isOnDisk = isOnDisk;
  file.pathStart = batch.paths.Count();
  batch.paths.Append(openPath.CStr(), openPath.Length());
  batch.paths.PushBack('\0');
  file.byteStart = batch.bytes.Count() - kept;
  file.facts = FileFacts();
  return file;
}

// Hands the open batch over when it is full.
void SubmitIfFull() {
  const FileBatch& batch = batches[openBatch];
  if (batch.fileCount >= kBatchFiles || batch.bytes.Count() >= kBatchBytes) SubmitOpenBatch();
}

// Makes room for `needed` bytes in a batch's bytes, by half its size but at most
// kBatchGrowthBytes more than needed: members arrive one after another, and growing
// by each one's size would copy the batch again for every member, while a batch sized
// for a large member must not be half as large again. The bytes in use are copied to
// a new block, not the whole old one (as a reallocation would, into memory never
// touched before).
constexpr int64_t kBatchGrowthBytes = 1 << 20;
bool GrowBatchBytes(Array<uint8_t>& bytes, int64_t needed) {
  const int64_t capacity = bytes.Capacity();
  if (needed <= capacity) return true;
  const int64_t step = std::min(capacity + capacity / 2, needed + kBatchGrowthBytes);
  const int64_t wanted = std::min<int64_t>(std::max(needed, step), INT32_MAX);
  Array<uint8_t> grown;
  if (!grown.TryReserve(static_cast<int32_t>(wanted))) return false;
  // A batch grows to the largest member it holds; filling that much fresh memory
  // page by page would cost the decoding thread more than decoding it.
  PreferHugePages(grown.Data(), static_cast<size_t>(wanted));
  grown.Append(bytes.Data(), bytes.Count());
  bytes = std::move(grown);
  return true;
}

// Reads the rest of an archive member of the given size into the open batch (its
// first `kept` bytes are there), with a byte of room behind it.
void ReadMemberIntoBatch(PendingFile& file, Stream& stream, uint32_t size, int64_t kept) {
  Array<uint8_t>& bytes = batches[openBatch].bytes;
  FileFacts& facts = file.facts;
  const int64_t end = file.byteStart + size;
  if (end + 1 > INT32_MAX || !GrowBatchBytes(bytes, end + 1)) {
    facts.outcome = ContentRead::kReadFailed;
  } else if ((stream.Flags() & kStreamReadable) == 0) {
    facts.outcome = ContentRead::kStreamFailed;
  } else if (!ReadExactly(stream, bytes.Data() + file.byteStart + kept, size - kept)) {
    facts.outcome = ContentRead::kStreamFailed;
  }
  if (facts.outcome != ContentRead::kRead) {
    bytes.SetCountUninitialized(static_cast<int32_t>(file.byteStart));
    return;
  }
  MeasureContent(facts, bytes.Data() + file.byteStart, size);
  bytes.SetCountUninitialized(static_cast<int32_t>(end + 1));
}

// With -al, the type of an archive member from its "#!" line, read onto the end of the
// open batch's bytes, where the member will begin. The bytes read (`kept`) stay there
// when a type is found.
FileTypeId SniffMember(CountTotals& totals, Stream& stream, uint32_t size, int64_t& kept) {
  Array<uint8_t>& bytes = OpenBatch(totals).bytes;
  const int32_t start = bytes.Count();
  const int64_t wanted = size < kShebangBytes ? size : kShebangBytes;
  kept = 0;
  if ((stream.Flags() & kStreamReadable) == 0) return kTypeUnknown;
  bytes.Reserve(static_cast<int32_t>(start + wanted + 1));
  const int64_t count = ReadPrefix(stream, bytes.Data() + start, wanted);
  const FileTypeId type = count > 0 ? ShebangTypeOf(bytes.Data() + start, count) : kTypeUnknown;
  if (type != kTypeUnknown) {
    kept = count;
    bytes.SetCountUninitialized(static_cast<int32_t>(start + count));
  }
  return type;
}

// Reads, examines and counts one file on this thread: the one-thread path, and in
// parallel a file argument or standard input, after the files before it.
bool CountAlone(CountTotals& totals, const FileOrigin& origin, FileTypeId type, Stream* stream,
                const uint32_t* size, int64_t kept) {
  FileFacts facts;
  facts.outcome = stream == nullptr ? ReadFromDisk(origin.fullPath, settings.maxFileSize, serialBytes)
                                    : ReadFromStream(*stream, size, kept, serialBytes);
  MeasureContent(facts, serialBytes.Data(), serialBytes.Count());
  Text text;
  if (facts.outcome == ContentRead::kRead && facts.sizeInBytes > 0) {
    // The digest is of the raw bytes, before any conversion; a file that may wait for
    // it is hashed only if a later file of its content class comes.
    if (MustHashNow(totals.deferredDigests, facts.sizeInBytes, facts.contentClass, origin.isOnDisk)) {
      HashContent(facts, serialBytes.Data());
    }
    facts.utf16Kind = DetectUtf16(serialBytes.Data(), facts.sizeInBytes);
    text = DecodeContent(facts, serialBytes.Data(), utf16Scratch);
  }
  return CountContent(totals, origin, type, facts, text);
}

bool Intake(CountTotals& totals, const SharedString& root, const SharedString& directory,
            const SharedString& name, Stream* stream, const uint32_t* size) {
  PrepareName(name, settings.listExtensions);
  // -xe comes first: an excluded archive is not even opened.
  if (IsExcludedName(preparedName)) return false;

  if (settings.scanArchives && IsArchiveName(preparedName)) {
    // Members are counted here, one by one, after every file before the archive.
    FinishPendingFiles();
    const int outcome = OfferArchive(totals, root, directory, name, stream);
    if (outcome < 0) {
      Report("couldn't open file: %s\n", root, directory, name);
      ++totals.errorCount;
      return false;
    }
    if (outcome > 0) return true;
  }

  // Files on disk and archive members go to the workers; a stream of unknown size (a
  // file argument, standard input) is read here, after the files before it.
  const bool isParallel = pipeline.IsRunning() && (stream == nullptr || size != nullptr);
  if (!isParallel) FinishPendingFiles();
  FileTypeId type = FileTypeOf(preparedName);
  int64_t kept = 0;  // bytes of a "#!" line read from a stream to find the type
  if (type == kTypeUnknown && settings.allLanguages && IsShebangCandidate(preparedName)) {
    if (stream == nullptr) {
      BuildFullPath(openPath, directory, name);
      type = SniffDiskFile();
    } else if (isParallel) {
      type = SniffMember(totals, *stream, *size, kept);
    } else {
      type = SniffStream(*stream, size, serialBytes);
      kept = serialBytes.Count();
    }
  }
  if (type == kTypeUnknown) {
    ++totals.fileCount[kTypeUnknown];
    return false;
  }
  if (settings.showProgress) ProgressTick();

  BuildFullPath(openPath, directory, name);
  if (isParallel) {
    PendingFile& file = AddPendingFile(totals, root, directory, name, type, stream == nullptr, kept);
    if (stream != nullptr) ReadMemberIntoBatch(file, *stream, *size, kept);
    SubmitIfFull();
    return true;
  }
  return CountAlone(totals,
                    FileOrigin{root, directory, name, openPath.CStr(), openPath.Length(), stream == nullptr},
                    type, stream, size, kept);
}

}  // namespace

bool FileIntake(CountTotals& totals, const DirectoryListing& listing, const SharedString& name,
                Stream* stream, const uint32_t* size) {
  const SharedString directory = listing.IsVirtual() ? listing.Path() : listing.AbsolutePath();
  // A member is shown by its path inside its archive.
  return Intake(totals, listing.IsVirtual() ? SharedString() : currentRoot, directory, name, stream, size);
}

bool FileIntakeInDirectory(CountTotals& totals, const SharedString& directoryPath, const SharedString& name,
                           Stream* stream) {
  return Intake(totals, currentRoot, directoryPath, name, stream, nullptr);
}

bool StartParallelIntake(int32_t jobs) {
  if (jobs < 2 || pipeline.IsRunning()) return false;
  const int32_t slotCount = jobs + kFileBatchesAhead;
  batches.Resize(slotCount);
  // One scratch more: this thread works on batches too when it would wait.
  workerScratch.Resize(jobs + 1);
  if (!pipeline.Start(jobs, slotCount, WorkOnBatch, MergeBatch)) {
    StopParallelIntake();
    return false;
  }
  return true;
}

// Files from disk and archive members never share a stretch of the run: the workers'
// read buffers go before an archive, the batches' member bytes after it, so memory
// holds one or the other.
void BeginArchiveDecoding() {
  if (archiveDecodingDepth++ > 0 || !pipeline.IsRunning()) return;
  FinishPendingFiles();
  for (WorkerScratch& scratch : workerScratch) scratch.bytes.Clear();
  pipeline.LimitWorkers(pipeline.WorkerCount() - 1);
  pipeline.LimitSlots(pipeline.WorkerCount() + kMemberBatchesAhead);
}

void EndArchiveDecoding() {
  if (--archiveDecodingDepth > 0 || !pipeline.IsRunning()) return;
  FinishPendingFiles();
  for (FileBatch& batch : batches) batch.bytes.Clear();
  pipeline.LimitWorkers(pipeline.WorkerCount());
  pipeline.LimitSlots(batches.Count());
}

void FinishPendingFiles() {
  if (!pipeline.IsRunning()) return;
  SubmitOpenBatch();
  pipeline.Drain();
  // Every worker waits for work now: their buffers are this thread's to trim.
  for (WorkerScratch& scratch : workerScratch) {
    GiveBackIfLarge(scratch.bytes);
    GiveBackIfLarge(scratch.utf16);
  }
  for (FileBatch& batch : batches) GiveBackIfLarge(batch.bytes);
}

void StopParallelIntake() {
  SubmitOpenBatch();
  pipeline.Stop();
  batches.Clear();
  workerScratch.Clear();
  pipelineTotals = nullptr;
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

void ReleaseIntakeBuffers() {
  StopParallelIntake();
  serialBytes.Clear();
  preparedName.Clear();
  openPath.Clear();
  utf16Scratch.Clear();
}

}  // namespace qm
