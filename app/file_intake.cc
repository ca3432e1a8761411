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
  if (!directory.IsEmpty() && !directory.EndsWith("/")) target.Append("/", 1);
  target.Append(name.CStr(), name.Length());
}

// The full path relative to currentRoot. For a file of the walk the directory lies
// under the root, so the path below it is cut out as it is, exact name included.
SharedString DisplayPathOf(const SharedString& directory, const SharedString& name) {
  const SharedString& root = currentRoot;
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
  if (!display.IsEmpty() && !display.EndsWith("/")) display.Append("/", 1);
  display.Append(name.CStr(), name.Length());
  return display;
}

// One -la line. The display path is made only when the line is printed.
void Report(const char* format, const SharedString& directory, const SharedString& name) {
  if (!settings.listAnomalies) return;
  PrintInfo(format, Shown(DisplayPathOf(directory, name)).CStr());
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
// readBuffer, refusing it as soon as the total passes limit. The buffer doubles, but never past limit + one page: that is room for
// every byte a stream within the limit has, the line break behind them, and the one
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
int OfferArchive(CountTotals& totals, const SharedString& directory, const SharedString& name,
                 Stream* stream) {
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
  // its own.
  const SharedString archiveName = preparedName;
  const SharedString savedRoot = currentRoot;
  const SharedString savedRootAsGiven = rootAsGiven;
  const SharedString savedArchive = currentArchive;
  // Messages name the archive by its path below the argument, or, inside another
  // archive, by the outer archive's name, '/', and its path in there.
  SharedString shownName = savedArchive;
  if (!shownName.IsEmpty()) shownName.Append("/", 1);
  shownName.Append(DisplayPathOf(directory, name));
  currentRoot = shownName;
  rootAsGiven = shownName;
  currentArchive = shownName;
  const bool isScanned = ScanArchive(archiveName, totals, *stream);
  currentRoot = savedRoot;
  rootAsGiven = savedRootAsGiven;
  currentArchive = savedArchive;
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

// One file's bytes and what was learnt from them, in the order intake learns it.
struct FileContent {
  Array<uint8_t> bytes;  // raw bytes (UTF-16 as UTF-8) and a closing line break
  ContentRead outcome = ContentRead::kRead;
  int64_t sizeInBytes = 0;  // raw, as read
  uint64_t contentClass = 0;
  Utf16Kind utf16Kind = Utf16Kind::kNone;
  bool hasDigest = false;
  Md5Digest digest;  // of the raw bytes, when hasDigest
  bool hasLines = false;
  FileLines lines;  // when hasLines
};

// Reused by the one-thread path.
FileContent serialContent;
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

// Step: read a stream (a file argument, standard input, an archive member). With a size
// exactly size bytes are read (archive scanning checked the limit); without, the stream
// is read to its end under the limit, a regular file on standard input measured first.
// The first `kept` bytes of bytes were read already (a "#!" line read to find the type).
ContentRead ReadFromStream(Stream& stream, const uint32_t* size, int64_t kept, Array<uint8_t>& bytes) {
  const int64_t restBytes = size == nullptr ? RegularStandardInputBytes(stream) : -1;
  const int64_t fileBytes = restBytes >= 0 ? kept + restBytes : -1;
  if (fileBytes > settings.maxFileSize) return ContentRead::kTooBig;
  if (fileBytes >= 0 && fileBytes < kMaxContentBytes) bytes.TryReserve(static_cast<int32_t>(fileBytes + 2));
  const bool isReadable = (stream.Flags() & kStreamReadable) != 0;
  const BufferRead outcome = !isReadable       ? BufferRead::kFailed
                             : size != nullptr ? ReadIntoBuffer(stream, *size, bytes, kept)
                                               : ReadWholeStream(stream, settings.maxFileSize, bytes, kept);
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

// Step: size and content class of the bytes just read (app/deferred_digests.h).
void MeasureContent(FileContent& content) {
  content.sizeInBytes = content.bytes.Count();
  content.contentClass =
      content.sizeInBytes >= kDeferredMinBytes ? ContentClassOf(content.bytes.Data(), content.sizeInBytes) : 0;
  content.utf16Kind = Utf16Kind::kNone;
  content.hasDigest = false;
  content.hasLines = false;
}

// Step: the digest of the raw bytes. Requires: the bytes are not converted yet.
void HashContent(FileContent& content) {
  content.digest = Md5Of(content.bytes.Data(), static_cast<size_t>(content.sizeInBytes));
  content.hasDigest = true;
}

// Step: UTF-16 text becomes UTF-8 (a failure becomes the outcome), and every text ends
// with a line break.
void DecodeContent(FileContent& content, Array<uint8_t>& scratch) {
  Array<uint8_t>& bytes = content.bytes;
  content.utf16Kind = DetectUtf16(bytes.Data(), content.sizeInBytes);
  if (content.utf16Kind != Utf16Kind::kNone) {
    switch (ConvertUtf16(bytes, content.utf16Kind, kMaxContentBytes, scratch)) {
      case Utf16Conversion::kConverted:
        break;
      case Utf16Conversion::kTooLong:
        content.outcome = ContentRead::kTooBig;
        return;
      case Utf16Conversion::kNoMemory:
        content.outcome = ContentRead::kReadFailed;
        return;
    }
  }
  const uint8_t lastByte = bytes.Back();
  if (lastByte != '\r' && lastByte != '\n') bytes.PushBack('\n');
}

// Step: the file's lines, classified by the rules of its type. scratch is reused.
void CountLines(FileContent& content, FileTypeId type, LineTotals& scratch) {
  scratch.ResetLines();
  ClassifyText(scratch, type, content.bytes.Data(), content.bytes.Count());
  content.lines.lines = scratch.lineCount[type];
  content.lines.blank = scratch.blankLines[type];
  content.lines.comment = scratch.commentLines[type];
  content.lines.code = scratch.codeLines[type];
  content.lines.punctuation = scratch.punctLines[type];
  content.hasLines = true;
}

// Step: everything the run learns from one file, in the order of the walk: the -la
// lines and counters of a failure, an empty file or UTF-16, the duplicate check (a file
// that may wait for its digest waits; any other is hashed now if it was not yet), and
// the counts. fullPath is where the file is read again and what -f shows.
bool CountContent(CountTotals& totals, const SharedString& directory, const SharedString& name, FileTypeId type,
                  FileContent& content, const SharedString& fullPath, bool isOnDisk) {
  switch (content.outcome) {
    case ContentRead::kRead:
      break;
    case ContentRead::kOpenFailed:
      Report("couldn't open file: %s\n", directory, name);
      ++totals.errorCount;
      return false;
    case ContentRead::kTooBig:
      Report("file too big: %s\n", directory, name);
      ++totals.tooBigCount;
      return false;
    case ContentRead::kReadFailed:
      Report("couldn't read file: %s\n", directory, name);
      ++totals.errorCount;
      return false;
    case ContentRead::kStreamFailed:
      Report("couldn't open/read file: %s\n", directory, name);
      ++totals.errorCount;
      return false;
  }
  const int64_t sizeInBytes = content.sizeInBytes;
  if (sizeInBytes == 0) {
    Report("empty file: %s\n", directory, name);
    ++totals.emptyCount;
    return true;
  }
  if (content.utf16Kind == Utf16Kind::kLittleEndian) {
    ++totals.utf16LeCount;
    Report("UTF-16 LE file: %s\n", directory, name);
  } else if (content.utf16Kind == Utf16Kind::kBigEndian) {
    ++totals.utf16BeCount;
    Report("UTF-16 BE file: %s\n", directory, name);
  }

  if (!MustHashNow(totals.deferredDigests, sizeInBytes, content.contentClass, isOnDisk)) {
    DeferDigest(totals.deferredDigests, sizeInBytes, content.contentClass,
                SharedString(fullPath.CStr(), fullPath.CStr() + fullPath.Length()),
                settings.listAnomalies ? DisplayPathOf(directory, name) : SharedString());
  } else {
    if (!content.hasDigest) HashContent(content);
    SettleDigests(totals.deferredDigests, totals.digests, sizeInBytes, content.contentClass);
    const int32_t knownDigests = totals.digests.Count();
    const int32_t digestIndex = totals.digests.FindOrInsert(content.digest);
    if (digestIndex < knownDigests) {
      if (settings.listAnomalies) {
        PrintInfo("duplicate file: %s\n\tmd5:%s\n", Shown(DisplayPathOf(directory, name)).CStr(),
                  Md5Hex(content.digest).CStr());
        PrintInfo("\tdup source: %s\n", Shown(totals.digests.Value(digestIndex)).CStr());
      }
      ++totals.dupCount;
      return true;
    }
    if (settings.listAnomalies) totals.digests.Value(digestIndex) = DisplayPathOf(directory, name);
  }

  if (!content.hasLines) CountLines(content, type, serialLines);
  const FileLines& lines = content.lines;
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
  record.path = fullPath;
  record.type = type;
  record.size = sizeInBytes;
  record.onDisk = isOnDisk;
  fileRecords.PushBack(std::move(record));
  return true;
}

// Files of the walk in flight, one per slot, jobs + 2 slots. Each slot keeps its
// buffer, whose capacity only grows, as the one-thread path keeps its own: giving large
// buffers back and taking them again cost more in page faults than the run saved, and
// the slots together never hold more than jobs + 2 times the largest file. A pending file is filled by the walk's thread (its
// directory, name, type and zero-terminated path), read, measured, decoded and counted
// by a worker (content: the digest only where it is needed whatever comes later, that
// is under kDeferredMinBytes or before UTF-16 is converted), and counted into the totals
// by the walk's thread in walk order. Each worker has its own scratch.
struct PendingFile {
  SharedString directory;
  SharedString name;
  Array<char> path;
  FileTypeId type = kTypeUnknown;
  FileContent content;
};
struct WorkerScratch {
  Array<uint8_t> utf16;
  LineTotals lines;
};

// A worker's UTF-16 scratch larger than this is given back after its file.
constexpr int32_t kKeptBufferBytes = 1 << 20;

OrderedPipeline pipeline;
Array<PendingFile> pendingFiles;
Array<WorkerScratch> workerScratch;
CountTotals* pipelineTotals = nullptr;

void WorkOnFile(int32_t slot, int32_t worker) {
  PendingFile& file = pendingFiles[slot];
  WorkerScratch& scratch = workerScratch[worker];
  FileContent& content = file.content;
  content.outcome = ReadFromDisk(file.path.Data(), settings.maxFileSize, content.bytes);
  MeasureContent(content);
  if (content.outcome != ContentRead::kRead || content.sizeInBytes == 0) return;
  if (content.sizeInBytes < kDeferredMinBytes ||
      DetectUtf16(content.bytes.Data(), content.sizeInBytes) != Utf16Kind::kNone) {
    HashContent(content);
  }
  DecodeContent(content, scratch.utf16);
  if (scratch.utf16.Capacity() > kKeptBufferBytes) scratch.utf16.Clear();
  if (content.outcome == ContentRead::kRead) CountLines(content, file.type, scratch.lines);
}

void MergeFile(int32_t slot) {
  PendingFile& file = pendingFiles[slot];
  const SharedString fullPath(file.path.Data(), file.path.Data() + file.path.Count() - 1);
  CountContent(*pipelineTotals, file.directory, file.name, file.type, file.content, fullPath, true);
}

// Hands a file of the walk to the workers.
void SubmitFile(CountTotals& totals, const SharedString& directory, const SharedString& name, FileTypeId type) {
  pipelineTotals = &totals;
  PendingFile& file = pendingFiles[pipeline.AcquireSlot()];
  file.directory = directory;
  file.name = name;
  file.type = type;
  file.path.Resize(0);
  file.path.Append(openPath.CStr(), openPath.Length());
  file.path.PushBack('\0');
  pipeline.Submit();
}

bool Intake(CountTotals& totals, const SharedString& directory, const SharedString& name, Stream* stream,
            const uint32_t* size) {
  PrepareName(name, settings.listExtensions);
  // -xe comes first: an excluded archive is not even opened.
  if (IsExcludedName(preparedName)) return false;

  if (settings.scanArchives && IsArchiveName(preparedName)) {
    // Members are counted here, one by one, after every file before the archive.
    FinishPendingFiles();
    const int outcome = OfferArchive(totals, directory, name, stream);
    if (outcome < 0) {
      Report("couldn't open file: %s\n", directory, name);
      ++totals.errorCount;
      return false;
    }
    if (outcome > 0) return true;
  }

  FileTypeId type = FileTypeOf(preparedName);
  const bool isSniffed = type == kTypeUnknown && settings.allLanguages && preparedName.Find(".") < 0;
  if (isSniffed) {
    if (stream == nullptr) {
      BuildFullPath(openPath, directory, name);
      type = SniffDiskFile();
    } else {
      FinishPendingFiles();
      type = SniffStream(*stream, size, serialContent.bytes);
    }
  }
  if (type == kTypeUnknown) {
    ++totals.fileCount[kTypeUnknown];
    return false;
  }
  if (settings.showProgress) ProgressTick();

  BuildFullPath(openPath, directory, name);
  if (stream == nullptr && pipeline.IsRunning()) {
    SubmitFile(totals, directory, name, type);
    return true;
  }
  FinishPendingFiles();
  FileContent& content = serialContent;
  // A "#!" line read to find the type stays in the buffer, as the file's first bytes.
  const int64_t kept = isSniffed && stream != nullptr ? content.bytes.Count() : 0;
  content.outcome = stream == nullptr ? ReadFromDisk(openPath.CStr(), settings.maxFileSize, content.bytes)
                                      : ReadFromStream(*stream, size, kept, content.bytes);
  MeasureContent(content);
  if (content.outcome == ContentRead::kRead && content.sizeInBytes > 0) {
    // The digest is of the raw bytes, before any conversion; a file that may wait for
    // it is hashed only if a later file of its content class comes.
    if (MustHashNow(totals.deferredDigests, content.sizeInBytes, content.contentClass, stream == nullptr)) {
      HashContent(content);
    }
    DecodeContent(content, utf16Scratch);
  }
  return CountContent(totals, directory, name, type, content, openPath, stream == nullptr);
}

}  // namespace

bool FileIntake(CountTotals& totals, const DirectoryListing& listing, const SharedString& name,
                Stream* stream, const uint32_t* size) {
  const SharedString directory = listing.IsVirtual() ? listing.Path() : listing.AbsolutePath();
  return Intake(totals, directory, name, stream, size);
}

bool FileIntakeInDirectory(CountTotals& totals, const SharedString& directoryPath, const SharedString& name,
                           Stream* stream) {
  return Intake(totals, directoryPath, name, stream, nullptr);
}

bool StartParallelIntake(int32_t jobs) {
  if (jobs < 2 || pipeline.IsRunning()) return false;
  // Every slot holds at most one file; two more than the workers keep them all busy
  // while the oldest is counted.
  const int32_t slotCount = jobs + 2;
  pendingFiles.Resize(slotCount);
  workerScratch.Resize(jobs);
  if (!pipeline.Start(jobs, slotCount, WorkOnFile, MergeFile)) {
    StopParallelIntake();
    return false;
  }
  return true;
}

void FinishPendingFiles() { pipeline.Drain(); }

void StopParallelIntake() {
  pipeline.Stop();
  pendingFiles.Clear();
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

Utf16Conversion ConvertUtf16(Array<uint8_t>& bytes, Utf16Kind kind, int64_t maxLength,
                             Array<uint8_t>& scratch) {
  const uint8_t* source = bytes.Data();
  const int64_t unitCount = bytes.Count() / 2;
  const int highByte = kind == Utf16Kind::kBigEndian ? 0 : 1;
  auto unitAt = [source, highByte](int64_t i) {
    return static_cast<uint32_t>(source[2 * i + highByte]) << 8 | source[2 * i + 1 - highByte];
  };
  // A unit takes 1 to 3 bytes in UTF-8: measure first so the limit is checked before
  // anything is written.
  int64_t outLength = 0;
  for (int64_t i = 0; i < unitCount; ++i) {
    const uint32_t unit = unitAt(i);
    outLength += unit < 0x80 ? 1 : unit < 0x800 ? 2 : 3;
  }
  if (outLength > maxLength || outLength >= INT32_MAX) return Utf16Conversion::kTooLong;
  scratch.SetCountUninitialized(0);
  if (!scratch.TryReserve(static_cast<int32_t>(outLength + 1))) return Utf16Conversion::kNoMemory;
  uint8_t* out = scratch.Data();
  for (int64_t i = 0; i < unitCount; ++i) {
    const uint32_t unit = unitAt(i);
    if (unit < 0x80) {
      *out++ = static_cast<uint8_t>(unit);
    } else if (unit < 0x800) {
      *out++ = static_cast<uint8_t>(0xC0 | unit >> 6);
      *out++ = static_cast<uint8_t>(0x80 | (unit & 0x3F));
    } else {
      *out++ = static_cast<uint8_t>(0xE0 | unit >> 12);
      *out++ = static_cast<uint8_t>(0x80 | (unit >> 6 & 0x3F));
      *out++ = static_cast<uint8_t>(0x80 | (unit & 0x3F));
    }
  }
  scratch.SetCountUninitialized(static_cast<int32_t>(outLength));
  std::swap(bytes, scratch);
  return Utf16Conversion::kConverted;
}

void ReleaseIntakeBuffers() {
  StopParallelIntake();
  serialContent.bytes.Clear();
  preparedName.Clear();
  openPath.Clear();
  utf16Scratch.Clear();
}

}  // namespace qm
