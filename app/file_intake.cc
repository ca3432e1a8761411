#include "app/file_intake.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>

#include "app/deferred_digests.h"
#include "app/file_types.h"
#include "app/md5.h"
#include "app/settings.h"
#include "archive/archive_scan.h"
#include "core/allocation.h"
#include "core/file.h"
#include "core/memory_stream.h"
#include "core/path.h"

namespace qm {

// Batches. Entries go to the workers in batches, so that threads meet once per batch
// rather than once per file: this thread fills the open batch and hands it over when
// it holds batchFiles_ entries or kBatchBytes bytes of members, or when what comes
// next needs the workers idle (an archive or a stream file begins or ends). A worker
// reads, measures, hashes where it must whatever comes later (under kDeferredMinBytes,
// UTF-16, archive members), decodes and classifies every file of a batch, keeping only
// what it learnt; this thread then counts the batch, entry by entry, in order.
//
// Bytes: a file from disk is read into its worker's buffer and dropped after; an
// archive member or a stream file is read by this thread into its batch's buffer,
// members one after another, each with a byte of room behind it. A batch so holds at
// most kBatchBytes plus one member (in a buffer at most kBatchGrowthBytes larger).
// Buffers keep their capacity while files keep coming (growing them again would cost
// page faults); whenever the workers are idle those over kKeptBufferBytes are given
// back, so a walk holds no more than the workers' buffers and an archive no more than
// its batches.
//
// In flight: batches of files from disk hold only their paths, so many may wait, and a
// batch of large files that holds up the merge does not hold up the workers. Batches
// of members hold their bytes: jobs + 2 of them keep every worker busy while the
// oldest is counted and the newest filled. Without workers one batch of one entry.
namespace {

constexpr int32_t kFileBatchesAhead = 32;
constexpr int32_t kMemberBatchesAhead = 2;
constexpr int32_t kBatchFiles = 64;
constexpr int64_t kBatchBytes = 256 * 1024;
constexpr int32_t kKeptBufferBytes = 4 << 20;
constexpr int64_t kBatchGrowthBytes = 1 << 20;
// Every file is opened for reading, shared for reading, writing and deleting.
constexpr uint32_t kReadShare = 7;

enum EntrySource : uint8_t {
  kDiskFile,  // read from its path by the worker
  kSourced,   // read from its content source by the worker
  kKnown,     // its facts are known already (a revision's file counted before)
  kBytes,     // its bytes are in the batch (or its outcome is known already)
  kNotice,    // a line for standard error
};

bool IsTrimSpace(char byte) {
  return byte == ' ' || byte == '\b' || byte == '\t' || byte == '\n' || byte == '\v' || byte == '\r';
}

void SetText(SharedString& target, const char* bytes, int32_t count) {
  target.Erase(0, -1);
  target.Append(bytes, count);
}

// directory, '/', name, built in target's own block; in the working directory (".",
// walked by relative paths when it is too deep to be named) the bare name.
void BuildFullPath(SharedString& target, const SharedString& directory, const SharedString& name) {
  if (directory == ".") {
    SetText(target, "", 0);
  } else {
    SetText(target, directory.CStr(), directory.Length());
  }
  AppendPathComponent(target, name);
}

void GiveBackIfLarge(Array<uint8_t>& buffer) {
  if (buffer.Capacity() > kKeptBufferBytes) buffer.Clear();
}

// Makes room for `needed` bytes in a batch's bytes, by half its size but at most
// kBatchGrowthBytes more than needed: members arrive one after another, and growing
// by each one's size would copy the batch again for every member, while a batch sized
// for a large member must not be half as large again. The bytes in use are copied to
// a new block, not the whole old one (as a reallocation would, into memory never
// touched before).
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

}  // namespace

SharedString DisplayPathOf(const SharedString& root, const SharedString& directory,
                           const SharedString& name) {
  SharedString display;
  if (root.IsEmpty()) {
    display = directory;
  } else if (directory == root) {
  } else if (root == ".") {
    // Paths relative to the working directory are shown as they are.
    display = directory;
  } else if (directory.StartsWith(root.CStr()) && (root.EndsWith("/") || directory[root.Length()] == '/')) {
    const int32_t skip = root.Length() + (root.EndsWith("/") ? 0 : 1);
    display = SharedString(directory.CStr() + skip, directory.CStr() + directory.Length());
  } else {
    display = MakeRelative(directory, root);
  }
  AppendPathComponent(display, name);
  return display;
}

// One file, member or message in a batch, from the moment it enters to its count.
struct FileIntake::Entry {
  uint8_t kind = kDiskFile;
  bool countsError = false;  // a notice: one more error
  bool failsRun = false;     // a notice: the run ends with status 1
  FileTypeId type = kTypeUnknown;
  int32_t pathStart = 0;  // of the zero-terminated full path in the batch's paths
  int32_t pathLength = 0;
  int64_t byteStart = 0;            // of a member's bytes in the batch's bytes
  SharedString displayPath;         // with -la or anomaly paths kept; a notice's line
  SharedString archive;             // with file records, a member's archive as shown
  ContentSource* source = nullptr;  // kSourced: where the bytes are
  ContentId id;
  FileFacts facts;      // a member's read outcome is set when it is read
  Array<uint8_t> text;  // with keepsTexts, as classified
  bool hasAddedBreak = false;
};

struct FileIntake::FileBatch {
  Array<Entry> entries;  // the first entryCount are in use
  int32_t entryCount = 0;
  Array<char> paths;
  Array<uint8_t> bytes;
};

struct FileIntake::WorkerScratch {
  WorkerScratch() { lines.ResetLines(); }
  Array<uint8_t> bytes;
  Array<uint8_t> utf16;
  LineTotals lines;
};

// Archive members come back through intake; the scan's reports become entries, so
// they are counted and printed in order with the members around them.
class FileIntake::MemberSink final : public ArchiveMemberSink {
 public:
  MemberSink(FileIntake& intake, const SharedString& archiveName, bool isArgument)
      : intake_(intake), archiveName_(archiveName), isArgument_(isArgument) {}

  bool Member(DirectoryListing& directory, const SharedString& name, Stream& data,
              const uint32_t* size) override {
    intake_.NoteMemberDirectory(directory.Path(), name);
    intake_.Take(Origin{SharedString(), directory.Path(), name, &data, size, false});
    return true;
  }

  void MemberTooBig(const SharedString& directory, const SharedString& name) override {
    Refuse(directory, name, ContentRead::kTooBig);
  }

  void MemberUnreadable(const SharedString& directory, const SharedString& name) override {
    Refuse(directory, name, ContentRead::kReadFailed);
  }

  // Printed whether or not -la is set; an archive named on the command line (or read
  // from standard input) that cannot be read fails the run.
  void ArchiveUnreadable(ArchiveKind kind, const char* reason) override {
    SharedString line;
    if (reason == nullptr) {
      line.Append(kind == ArchiveKind::kZip ? "cannot open zip file: " : "cannot read tar/tgz file: ");
      line.Append(Shown(archiveName_));
    } else {
      line.Append(kind == ArchiveKind::kXzTar      ? "cannot read tar.xz file: "
                  : kind == ArchiveKind::kBzip2Tar ? "cannot read tar.bz2 file: "
                                                   : "cannot read tar.zst file: ");
      line.Append(Shown(archiveName_));
      line.Append(": ");
      line.Append(reason);
    }
    line.Append("\n", 1);
    intake_.TakeNotice(line, true, isArgument_);
  }

  bool IsSkippedDirectory(const SharedString& directory) override {
    return intake_.exclusions_.HasExcludedName(directory);
  }

 private:
  void Refuse(const SharedString& directory, const SharedString& name, ContentRead outcome) {
    intake_.NoteMemberDirectory(directory, name);
    intake_.AddRefused(outcome,
                       intake_.keepsDisplayPaths_ ? DisplayPathOf({}, directory, name) : SharedString());
  }

  FileIntake& intake_;
  const SharedString& archiveName_;
  const bool isArgument_;
};

namespace {

// A cache key: the first 12 bytes of the content's id (96 bits of a hash) and the type.
DigestKey FactsKey(const ContentId& id, FileTypeId type) {
  DigestKey key;
  std::memcpy(key.bytes, id.bytes, 12);
  const uint32_t typeBits = static_cast<uint32_t>(type);
  std::memcpy(key.bytes + 12, &typeBits, 4);
  return key;
}

}  // namespace

const FileFacts* ContentFactsCache::Find(const ContentId& id, FileTypeId type) const {
  return facts_.Find(FactsKey(id, type));
}

void ContentFactsCache::Insert(const ContentId& id, FileTypeId type, const FileFacts& facts) {
  if (facts_.Count() >= kMaxEntries) return;
  facts_.Value(facts_.FindOrInsert(FactsKey(id, type))) = facts;
}

FileIntake::FileIntake(CountTotals& totals, MessageOutput& output, ProgressDisplay& progress,
                       Exclusions& exclusions, IntakeRecording recording)
    : totals_(totals),
      output_(output),
      progress_(progress),
      exclusions_(exclusions),
      recording_(recording),
      keepsDisplayPaths_(settings.listAnomalies || recording.keepsAnomalyPaths) {}

FileIntake::~FileIntake() {
  Finish();
}

void FileIntake::Start(int32_t workerCount) {
  const int32_t slotCount = workerCount == 0 ? 1 : workerCount + kFileBatchesAhead;
  batches_.Resize(slotCount);
  // One scratch more: this thread works on batches too.
  scratch_.Resize(workerCount + 1);
  pipeline_.Start(workerCount, slotCount, this);
  batchFiles_ = pipeline_.WorkerCount() == 0 ? 1 : kBatchFiles;
}

void FileIntake::Finish() {
  if (!pipeline_.IsStarted()) return;
  SubmitOpenBatch();
  pipeline_.Stop();
  batches_.Clear();
  scratch_.Clear();
  openBatch_ = -1;
  streamDepth_ = 0;
  preparedName_.Clear();
  fullPath_.Clear();
}

void FileIntake::TakeDiskFile(const SharedString& root, const SharedString& directory,
                              const SharedString& name, EntryKind kind) {
  Take(Origin{root, directory, name, nullptr, nullptr, kind == EntryKind::kOther});
}

void FileIntake::TakeSourcedFile(const SharedString& root, const SharedString& directory,
                                 const SharedString& name, ContentSource& source, const ContentId& id) {
  Origin origin{root, directory, name, nullptr, nullptr, false};
  origin.source = &source;
  origin.id = &id;
  Take(origin);
}

// The whole content of a file of a revision, read on this thread (to look inside it).
bool FileIntake::ReadSourced(const Origin& origin, Array<uint8_t>& bytes) {
  bool noMemory = false;
  return origin.source->ReadContent(*origin.id, bytes, noMemory);
}

void FileIntake::TakeStream(const SharedString& argument, const SharedString& directory,
                            const SharedString& shownName, Stream& stream) {
  SharedString lowered = argument;
  lowered.ToLower();
  // -xe holds for archives too: an excluded one is not opened.
  if (IsExcludedName(lowered)) {
    exclusions_.NoteExcludedSuffix(lowered);
  } else if (ScanArchiveStream(lowered, shownName, stream, true)) {
    return;
  }
  const char* text = argument.CStr();
  const char* slash = text + argument.Length();
  while (slash != text && slash[-1] != '/') --slash;
  const SharedString name(slash, text + argument.Length());
  BeginStreamStretch();
  const bool isKnownType = Take(Origin{directory, directory, name, &stream, nullptr, false});
  EndStreamStretch();
  if (!isKnownType) {
    SharedString line("not counted: ");
    line.Append(Shown(argument));
    line.Append(": unknown file type\n");
    TakeNotice(line, false, false);
  }
}

void FileIntake::TakeNotice(const SharedString& line, bool countsError, bool failsRun) {
  Entry& entry = AddEntry(kNotice, 0);
  entry.displayPath = line;
  entry.countsError = countsError;
  entry.failsRun = failsRun;
  SubmitIfFull();
}

// Trims the name into preparedName_ and, with -le, records the text after its last
// dot (case kept; empty when the name ends with the dot). Then lowers preparedName_.
void FileIntake::PrepareName(const SharedString& name) {
  const char* begin = name.CStr();
  const char* end = begin + name.Length();
  while (end != begin && IsTrimSpace(end[-1])) --end;
  while (begin != end && IsTrimSpace(*begin)) ++begin;
  SetText(preparedName_, begin, static_cast<int32_t>(end - begin));
  if (settings.listExtensions) {
    const char* dot = end;
    while (dot != begin && dot[-1] != '.') --dot;
    if (dot != begin && uniqueExtensions.IndexOf(dot, end) < 0) {
      uniqueExtensions.Insert(SharedString(dot, end));
    }
  }
  preparedName_.ToLower();
}

bool FileIntake::Take(const Origin& origin) {
  PrepareName(origin.name);
  // -xe comes first: an excluded archive is not even opened.
  if (IsExcludedName(preparedName_)) {
    exclusions_.NoteExcludedSuffix(preparedName_);
    return true;
  }
  // The full path, built once (here, or where an archive or a "#!" line first needs
  // it) for all that follows; a file of unknown type needs none.
  bool hasFullPath = false;
  auto buildFullPath = [&]() {
    if (!hasFullPath) BuildFullPath(fullPath_, origin.directory, origin.name);
    hasFullPath = true;
  };
  if (settings.scanArchives && IsArchiveName(preparedName_)) {
    buildFullPath();
    if (OfferArchive(origin)) return true;
  }
  FileTypeId type = FileTypeOf(preparedName_);
  int64_t kept = 0;  // bytes of a "#!" line read from a stream to find the type
  if (type == kTypeUnknown && settings.allLanguages && IsShebangCandidate(preparedName_) &&
      !origin.isSpecial) {
    buildFullPath();
    type = SniffType(origin, kept);
  }
  if (type == kTypeUnknown) {
    ++totals_.fileCount[kTypeUnknown];
    return false;
  }
  buildFullPath();
  progress_.Tick();
  if (origin.isSpecial) {
    AddRefused(ContentRead::kOpenFailed, keepsDisplayPaths_
                                             ? DisplayPathOf(origin.root, origin.directory, origin.name)
                                             : SharedString());
    return true;
  }
  // A revision's file met before (at another point of a history) is not read again.
  const FileFacts* known =
      origin.source != nullptr && factsCache_ != nullptr ? factsCache_->Find(*origin.id, type) : nullptr;
  Entry& entry = AddEntry(known != nullptr           ? kKnown
                          : origin.source != nullptr ? kSourced
                          : origin.stream == nullptr ? kDiskFile
                                                     : kBytes,
                          kept);
  entry.type = type;
  if (known != nullptr) entry.facts = *known;
  if (origin.source != nullptr) {
    entry.source = origin.source;
    entry.id = *origin.id;
  }
  SetPaths(entry, origin);
  if (origin.stream != nullptr) ReadStreamIntoBatch(entry, origin, kept);
  SubmitIfFull();
  return true;
}

// With -al, the type of a file without a dot from its "#!" line. A stream's first
// bytes are read onto the end of the open batch's bytes, where the file will begin;
// they stay there (`kept`) when a type is found.
FileTypeId FileIntake::SniffType(const Origin& origin, int64_t& kept) {
  kept = 0;
  if (origin.source != nullptr) {
    Array<uint8_t> bytes;
    if (!ReadSourced(origin, bytes)) return kTypeUnknown;
    return ShebangTypeOf(bytes.Data(), bytes.Count() < kShebangBytes ? bytes.Count() : kShebangBytes);
  }
  if (origin.stream == nullptr) return SniffDiskFile(fullPath_.CStr());
  Stream& stream = *origin.stream;
  Array<uint8_t>& bytes = OpenBatch().bytes;
  const int32_t start = bytes.Count();
  const int64_t wanted =
      origin.size != nullptr && *origin.size < kShebangBytes ? *origin.size : kShebangBytes;
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

// Offers an archive name to archive scanning. True when it was dealt with (scanned, or
// not opened), false when it is no archive after all.
bool FileIntake::OfferArchive(const Origin& origin) {
  // Messages name the archive by its path below the argument, or, inside another
  // archive, by the outer archive's name, '/', and its path in there.
  const SharedString displayPath = DisplayPathOf(origin.root, origin.directory, origin.name);
  File archiveFile;
  Array<uint8_t> sourcedBytes;  // a revision's archive, read whole
  MemoryStream sourcedStream;
  Stream* stream = origin.stream;
  if (origin.source != nullptr) {
    if (!ReadSourced(origin, sourcedBytes)) {
      AddRefused(ContentRead::kReadFailed, displayPath);
      return true;
    }
    sourcedStream.SetExternal(sourcedBytes.Data(), sourcedBytes.Count());
    stream = &sourcedStream;
  } else if (stream == nullptr) {
    struct stat info;
    if (origin.isSpecial || !archiveFile.Open(fullPath_, kFileRead, kReadShare) ||
        fstat(archiveFile.Descriptor(), &info) != 0 || !S_ISREG(info.st_mode)) {
      AddRefused(ContentRead::kOpenFailed, displayPath);
      return true;
    }
    stream = &archiveFile;
  }
  SharedString shownName = currentArchive_;
  if (!shownName.IsEmpty()) shownName.Append("/", 1);
  shownName.Append(displayPath);
  // Members come back through Take, which reuses preparedName_: scan a handle of its own.
  const SharedString archiveName = preparedName_;
  return ScanArchiveStream(archiveName, shownName, *stream, false);
}

bool FileIntake::ScanArchiveStream(const SharedString& preparedName, const SharedString& shownName,
                                   Stream& stream, bool isArgument) {
  if (!IsArchiveName(preparedName)) return false;
  const SharedString outerArchive = std::exchange(currentArchive_, shownName);
  MemberSink sink(*this, shownName, isArgument);
  BeginStreamStretch();
  progress_.BeginArchive(shownName, stream);
  ScanArchive(preparedName, stream, settings.maxFileSize, sink);
  progress_.EndArchive();
  EndStreamStretch();
  currentArchive_ = outerArchive;
  return true;
}

// A member at the top counts as under a directory of its own name: a zip's record of
// the directory "src/" is such a member, and no file can share a directory's name.
void FileIntake::NoteMemberDirectory(const SharedString& directory, const SharedString& name) {
  if (watchedArchive_.IsEmpty() || !(currentArchive_ == watchedArchive_)) return;
  const char* path = directory.CStr();
  const char* end = path + directory.Length();
  while (path != end && (*path == '/' || (*path == '.' && path + 1 != end && path[1] == '/'))) ++path;
  const char* slash = path;
  while (slash != end && *slash != '/') ++slash;
  const SharedString first = path == slash ? name : SharedString(path, slash);
  if (!isTopSeen_) {
    isTopSeen_ = true;
    isTopSingle_ = !first.IsEmpty();
    top_ = first;
  } else if (!(first == top_)) {
    isTopSingle_ = false;
  }
}

// A file that will not be read: its outcome is known when it enters.
void FileIntake::AddRefused(ContentRead outcome, const SharedString& displayPath) {
  Entry& entry = AddEntry(kBytes, 0);
  entry.facts.outcome = outcome;
  if (keepsDisplayPaths_) entry.displayPath = displayPath;
  SubmitIfFull();
}

FileIntake::FileBatch& FileIntake::OpenBatch() {
  if (openBatch_ < 0) {
    openBatch_ = pipeline_.AcquireSlot();
    FileBatch& fresh = batches_[openBatch_];
    fresh.entryCount = 0;
    fresh.paths.SetCountUninitialized(0);
    fresh.bytes.SetCountUninitialized(0);
  }
  return batches_[openBatch_];
}

// A fresh entry in the open batch. A member's first `kept` bytes are at the end of the
// batch's bytes already.
FileIntake::Entry& FileIntake::AddEntry(uint8_t kind, int64_t kept) {
  FileBatch& batch = OpenBatch();
  if (batch.entryCount == batch.entries.Count()) batch.entries.Resize(batch.entryCount + 1);
  Entry& entry = batch.entries[batch.entryCount++];
  entry = Entry();
  entry.kind = kind;
  entry.byteStart = batch.bytes.Count() - kept;
  return entry;
}

// The full path (built as the file entered) into the batch's paths and, with -la, the
// display path: built once, here, for everything that follows.
void FileIntake::SetPaths(Entry& entry, const Origin& origin) {
  FileBatch& batch = batches_[openBatch_];
  entry.pathStart = batch.paths.Count();
  entry.pathLength = fullPath_.Length();
  batch.paths.Append(fullPath_.CStr(), fullPath_.Length());
  batch.paths.PushBack('\0');
  if (keepsDisplayPaths_) entry.displayPath = DisplayPathOf(origin.root, origin.directory, origin.name);
  // Only archive members are taken while an archive is scanned.
  if (recording_.keepsFileRecords) entry.archive = currentArchive_;
}

// Reads the rest of a stream file (its first `kept` bytes are there) into the open
// batch, with a byte of room behind it.
void FileIntake::ReadStreamIntoBatch(Entry& entry, const Origin& origin, int64_t kept) {
  Array<uint8_t>& bytes = batches_[openBatch_].bytes;
  FileFacts& facts = entry.facts;
  if (origin.size != nullptr) {
    const int64_t end = entry.byteStart + *origin.size;
    // Memory short: fewer batches in flight, then once more.
    bool isGrown = end + 1 <= INT32_MAX && GrowBatchBytes(bytes, end + 1);
    if (!isGrown && end + 1 <= INT32_MAX) {
      ReleaseForMemory();
      isGrown = GrowBatchBytes(bytes, end + 1);
    }
    if (!isGrown) {
      bytes.SetCountUninitialized(static_cast<int32_t>(entry.byteStart));
      facts.outcome = ContentRead::kReadFailed;
      return;
    }
  }
  facts.outcome =
      ReadFromStream(*origin.stream, origin.size, settings.maxFileSize, bytes, entry.byteStart, kept);
  // The stream's bytes are gone: it cannot be read again.
  if (facts.outcome == ContentRead::kNoMemory) facts.outcome = ContentRead::kReadFailed;
  if (facts.outcome != ContentRead::kRead) return;
  const int64_t count = bytes.Count() - entry.byteStart;
  MeasureContent(facts, bytes.Data() + entry.byteStart, count);
  bytes.SetCountUninitialized(static_cast<int32_t>(entry.byteStart + count + 1));
}

void FileIntake::SubmitOpenBatch() {
  if (openBatch_ < 0) return;
  openBatch_ = -1;
  pipeline_.Submit();
}

void FileIntake::SubmitIfFull() {
  const FileBatch& batch = batches_[openBatch_];
  if (batch.entryCount >= batchFiles_ || batch.bytes.Count() >= kBatchBytes) SubmitOpenBatch();
}

// Counts everything in flight; every worker then waits for work, so their buffers are
// this thread's to trim.
void FileIntake::DrainAndTrim() {
  SubmitOpenBatch();
  pipeline_.Drain();
  for (WorkerScratch& scratch : scratch_) {
    GiveBackIfLarge(scratch.bytes);
    GiveBackIfLarge(scratch.utf16);
  }
  for (FileBatch& batch : batches_) GiveBackIfLarge(batch.bytes);
}

// Around an archive or a stream file read on this thread (nested calls count): one
// worker fewer (at least one) takes batches meanwhile, so the decoding keeps a core,
// and at most jobs + 2 batches of bytes are in flight. Files from disk and read bytes
// never share a stretch of the run: the workers' read buffers go before, the batches'
// bytes after.
void FileIntake::BeginStreamStretch() {
  if (streamDepth_++ > 0) return;
  DrainAndTrim();
  for (WorkerScratch& scratch : scratch_) scratch.bytes.Clear();
  const int32_t workers = pipeline_.WorkerCount();
  pipeline_.LimitWorkers(workers - 1);
  pipeline_.LimitSlots(workers == 0 ? 1 : workers + kMemberBatchesAhead);
}

void FileIntake::EndStreamStretch() {
  if (--streamDepth_ > 0) return;
  DrainAndTrim();
  for (FileBatch& batch : batches_) batch.bytes.Clear();
  pipeline_.LimitWorkers(pipeline_.WorkerCount());
  pipeline_.LimitSlots(pipeline_.SlotCount());
}

void FileIntake::Work(int32_t slot, int32_t worker) {
  FileBatch& batch = batches_[slot];
  WorkerScratch& scratch = scratch_[worker];
  // Without workers every entry before this one is counted already, so the digest
  // state is known: a file is hashed exactly when it must be.
  const bool isAlone = pipeline_.WorkerCount() == 0;
  for (int32_t i = 0; i < batch.entryCount; ++i) {
    const uint8_t kind = batch.entries[i].kind;
    if (kind != kNotice && kind != kKnown) WorkOnEntry(batch, batch.entries[i], scratch, isAlone);
  }
}

// Reads (a file from disk), measures, hashes where it must, decodes and classifies one
// entry. isDigestStateKnown: every entry before it is counted, so the digest state may
// be consulted and settled (this thread is the owner).
void FileIntake::WorkOnEntry(FileBatch& batch, Entry& entry, WorkerScratch& scratch,
                             bool isDigestStateKnown) {
  FileFacts& facts = entry.facts;
  uint8_t* bytes;
  const bool isOnDisk = entry.kind == kDiskFile;
  // Files from disk and a revision's files can be read again to be hashed later.
  const bool canReadAgain = isOnDisk || entry.kind == kSourced;
  if (canReadAgain) {
    if (isOnDisk) {
      facts.outcome = ReadFromDisk(batch.paths.Data() + entry.pathStart, settings.maxFileSize, scratch.bytes);
    } else {
      // The size first: a blob over the limit is never read into memory.
      int64_t size = 0;
      bool noMemory = false;
      if (entry.source->ContentSize(entry.id, size) && size > settings.maxFileSize) {
        facts.outcome = ContentRead::kTooBig;
        scratch.bytes.SetCountUninitialized(0);
      } else {
        facts.outcome = entry.source->ReadContent(entry.id, scratch.bytes, noMemory) ? ContentRead::kRead
                        : noMemory                                                   ? ContentRead::kNoMemory
                                   : ContentRead::kReadFailed;
      }
    }
    bytes = scratch.bytes.Data();
    MeasureContent(facts, bytes, scratch.bytes.Count());
  } else {
    bytes = batch.bytes.Data() + entry.byteStart;
    if (facts.outcome == ContentRead::kNoMemory) facts.outcome = ContentRead::kRead;  // its bytes are there
  }
  if (facts.outcome != ContentRead::kRead || facts.sizeInBytes == 0) return;
  const int64_t size = facts.sizeInBytes;
  facts.utf16Kind = DetectUtf16(bytes, size);
  // A compare counts every path: nothing is a duplicate, nothing needs a digest.
  const bool mustHash =
      recording_.keepsTexts ? false
      : isDigestStateKnown  ? MustHashNow(totals_.deferredDigests, size, facts.contentClass, canReadAgain)
                           : !canReadAgain || size < kDeferredMinBytes || facts.utf16Kind != Utf16Kind::kNone;
  bool isKnownDuplicate = false;
  if (mustHash) {
    HashContent(facts, bytes);
    // Knowing the digest state, this thread settles the class as counting would next,
    // and so knows a duplicate, which is not classified: only its first copy is counted.
    if (isDigestStateKnown) {
      SettleDigests(totals_.deferredDigests, totals_.digests, size, facts.contentClass);
      isKnownDuplicate = totals_.digests.Find(facts.digest) != nullptr;
    }
  }
  const Text text = DecodeContent(facts, bytes, scratch.utf16);
  if (facts.outcome == ContentRead::kRead && !isKnownDuplicate)
    CountLines(facts, entry.type, text, scratch.lines);
  if (recording_.keepsTexts && !canReadAgain && facts.outcome == ContentRead::kRead) {
    entry.text.Clear();
    if (!entry.text.TryReserve(text.length)) {
      facts.outcome = ContentRead::kNoMemory;
      return;
    }
    entry.text.Append(text.bytes, text.length);
    entry.hasAddedBreak = text.hasAddedBreak;
  }
}

// An entry whose buffer a worker could not have is worked on again by this thread once
// the workers have stopped and given their buffers back, as on one thread; only if
// that fails too is it unreadable.
void FileIntake::RetryAlone(FileBatch& batch, Entry& entry) {
  if (pipeline_.WorkerCount() > 0) {
    pipeline_.PauseWorkers();
    for (WorkerScratch& scratch : scratch_) {
      scratch.bytes.Clear();
      scratch.utf16.Clear();
    }
    WorkOnEntry(batch, entry, scratch_[pipeline_.WorkerCount()], true);
    pipeline_.ResumeWorkers();
  }
  if (entry.facts.outcome == ContentRead::kNoMemory) entry.facts.outcome = ContentRead::kReadFailed;
}

// When a batch cannot grow for a member: counts everything in flight and gives back
// every buffer but the open batch's, so fewer batches hold memory.
void FileIntake::ReleaseForMemory() {
  pipeline_.Drain();
  for (WorkerScratch& scratch : scratch_) {
    scratch.bytes.Clear();
    scratch.utf16.Clear();
  }
  for (int32_t slot = 0; slot < batches_.Count(); ++slot) {
    if (slot != openBatch_) batches_[slot].bytes.Clear();
  }
}

void FileIntake::Merge(int32_t slot) {
  FileBatch& batch = batches_[slot];
  for (int32_t i = 0; i < batch.entryCount; ++i) {
    Entry& entry = batch.entries[i];
    if (entry.kind != kNotice) {
      if (entry.facts.outcome == ContentRead::kNoMemory) RetryAlone(batch, entry);
      if (entry.kind == kSourced && factsCache_ != nullptr && entry.facts.outcome == ContentRead::kRead &&
          (entry.facts.hasLines || entry.facts.sizeInBytes == 0)) {
        factsCache_->Insert(entry.id, entry.type, entry.facts);
      }
      Count(entry, batch.paths.Data() + entry.pathStart, entry.pathLength);
      continue;
    }
    output_.Error("%s", entry.displayPath.CStr());
    if (entry.countsError) {
      ++totals_.errorCount;
      if (recording_.keepsAnomalyPaths) {
        const SharedString& line = entry.displayPath;
        const int32_t length = line.EndsWith("\n") ? line.Length() - 1 : line.Length();
        totals_.anomalyPaths.errors.Add(SharedString(line.CStr(), line.CStr() + length), SharedString());
      }
    }
    if (entry.failsRun) output_.NoteRunFailure();
  }
  batch.entryCount = 0;
}

// Everything the run learns from one file, in order: the -la lines and counters of a
// failure, an empty file or UTF-16, the duplicate check (a file that may wait for its
// digest waits; any other is hashed now if it was not yet, a file on disk by reading
// it again), and the counts.
void FileIntake::Count(Entry& entry, const char* fullPath, int32_t fullPathLength) {
  FileFacts& facts = entry.facts;
  const bool isListing = settings.listAnomalies;
  auto report = [this, &entry, isListing](const char* format) {
    if (isListing) output_.Info(format, Shown(entry.displayPath).CStr());
  };
  // The report's lists of anomalies: the paths as -la names them.
  auto note = [this, &entry](AnomalyPathList& list, const char* detail) {
    if (recording_.keepsAnomalyPaths) list.Add(entry.displayPath, SharedString(detail));
  };
  AnomalyPaths& paths = totals_.anomalyPaths;
  switch (facts.outcome) {
    case ContentRead::kRead:
      break;
    case ContentRead::kOpenFailed:
      report("couldn't open file: %s\n");
      note(paths.errors, "couldn't open file");
      ++totals_.errorCount;
      return;
    case ContentRead::kTooBig:
      report("file too big: %s\n");
      note(paths.tooBig, "");
      ++totals_.tooBigCount;
      return;
    case ContentRead::kReadFailed:
    case ContentRead::kNoMemory:
      report("couldn't read file: %s\n");
      note(paths.errors, "couldn't read file");
      ++totals_.errorCount;
      return;
    case ContentRead::kStreamFailed:
      report("couldn't open/read file: %s\n");
      note(paths.errors, "couldn't open/read file");
      ++totals_.errorCount;
      return;
  }
  const int64_t sizeInBytes = facts.sizeInBytes;
  if (sizeInBytes == 0) {
    report("empty file: %s\n");
    note(paths.empty, "");
    ++totals_.emptyCount;
    return;
  }
  if (facts.utf16Kind == Utf16Kind::kLittleEndian) {
    ++totals_.utf16LeCount;
    report("UTF-16 LE file: %s\n");
    note(paths.utf16, "LE");
  } else if (facts.utf16Kind == Utf16Kind::kBigEndian) {
    ++totals_.utf16BeCount;
    report("UTF-16 BE file: %s\n");
    note(paths.utf16, "BE");
  }

  const bool isOnDisk = entry.kind == kDiskFile;
  // A revision's file is read again from its source, by its id.
  const bool isSourced = entry.kind == kSourced || entry.kind == kKnown;
  const WaitingSource again{isSourced ? entry.source : nullptr, entry.id};
  if (recording_.keepsTexts) {
    // Every path counts.
  } else if (!MustHashNow(totals_.deferredDigests, sizeInBytes, facts.contentClass, isOnDisk || isSourced)) {
    DeferDigest(totals_.deferredDigests, sizeInBytes, facts.contentClass,
                SharedString(fullPath, fullPath + fullPathLength), entry.displayPath, again);
  } else {
    // Only a file that can be read again can come here unhashed (read on a worker,
    // which does not know whether an earlier file shares its class). If it changed
    // since, it is compared with nothing.
    if (!facts.hasDigest) {
      facts.hasDigest =
          HashFileAgain(SharedString(fullPath, fullPath + fullPathLength), again, sizeInBytes, facts.digest);
    }
    SettleDigests(totals_.deferredDigests, totals_.digests, sizeInBytes, facts.contentClass);
    if (facts.hasDigest) {
      const int32_t knownDigests = totals_.digests.Count();
      const int32_t digestIndex = totals_.digests.FindOrInsert(facts.digest);
      if (digestIndex < knownDigests) {
        if (isListing) {
          output_.Info("duplicate file: %s\n\tmd5:%s\n", Shown(entry.displayPath).CStr(),
                       Md5Hex(facts.digest).CStr());
          output_.Info("\tdup source: %s\n", Shown(totals_.digests.Value(digestIndex)).CStr());
        }
        if (recording_.keepsAnomalyPaths) {
          paths.duplicates.Add(entry.displayPath, totals_.digests.Value(digestIndex));
        }
        ++totals_.dupCount;
        return;
      }
      totals_.digests.Value(digestIndex) = entry.displayPath;
    }
  }

  progress_.AddCountedBytes(sizeInBytes);
  const FileTypeId type = entry.type;
  const FileLines& lines = facts.lines;
  ++totals_.fileCount[type];
  totals_.byteCount[type] += sizeInBytes;
  totals_.lineCount[type] += lines.lines;
  totals_.blankLines[type] += lines.blank;
  totals_.commentLines[type] += lines.comment;
  totals_.codeLines[type] += lines.code;
  totals_.punctLines[type] += lines.punctuation;
  if (!recording_.keepsFileRecords) return;
  FileRecord record;
  record.lines = lines.lines;
  record.blank = lines.blank;
  record.comment = lines.comment;
  record.code = lines.code;
  record.punctuation = lines.punctuation;
  record.path = SharedString(fullPath, fullPath + fullPathLength);
  record.type = type;
  record.size = sizeInBytes;
  // A revision's files are shown as a checkout's would be.
  record.onDisk = isOnDisk || entry.kind == kSourced || entry.kind == kKnown;
  record.archive = entry.archive;
  if (recording_.keepsTexts) {
    record.text = std::move(entry.text);
    record.hasAddedBreak = entry.hasAddedBreak;
    if (isSourced) record.source = entry.source;
    record.id = entry.id;
  }
  fileRecords.PushBack(std::move(record));
}

}  // namespace qm
