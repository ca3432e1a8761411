// FileIntake: where every file ends up (found by the walk, named on the command line,
// read from standard input, met inside an archive): excluded, handed to archive
// scanning, refused, noted as an anomaly, or read and classified into the run's
// totals, with its -la lines. One object per run, used by the thread that owns the
// run; its worker threads read and classify, and that thread counts every file, in
// the order the files came, through one ordered pipeline (app/ordered_pipeline.h).

// What becomes of a file: skipped (-xe, also for archives), handed to archive scanning
// (-sa; a file argument or standard input always), counted as unknown without being
// read, refused (too big, unreadable), noted as an anomaly (empty, duplicate, UTF-16,
// converted and counted), or read whole and classified into the totals. With -la it
// prints one line per refusal and anomaly on the info stream, names shown with control
// bytes escaped; the counters change either way. One bad file never stops the run.
//
// Names and paths. The name is the entry name exactly as the directory read gave it
// (or an archive member's file name). Its type and exclusion are decided on a prepared
// copy (white space trimmed, ASCII lowered). When a file enters, its full path (its
// directory's exact absolute path or an archive member's directory inside the
// archive, '/', and the untouched name) and, with -la, with anomaly paths kept or for
// an archive, its display path (the full path relative to the root: the walked
// argument, a file argument's directory; an archive member's path inside the archive)
// are built once and travel with it to its -la lines, its anomaly path, its digest map
// entry and its file record.
//
// Order. Files, archive members and messages (Notice) go into one queue of batches;
// worker threads read, measure, hash where they must, decode and classify the files
// of a batch, and this thread then counts each batch, entry by entry, in the order the
// entries came: duplicates, "dup source", -la lines, -f rows, errors and messages are
// exactly those of one thread whatever the timing. With no worker threads (-j 1) this
// thread reads and classifies each entry as it comes, right after counting the ones
// before it.
//
// Limits. A file of exactly settings.maxFileSize bytes is read and counted; over the
// limit a file is "too big": a file from disk or a file argument before it is read, a
// pipe on standard input as soon as it passes the limit. FIFOs, sockets and devices
// found on disk are counted as unreadable without being read (opening never blocks).
// A UTF-16 file whose UTF-8 form would not fit the 32-bit buffer is refused as too
// big. A file whose buffer cannot be had (out of memory) is "couldn't read file".
//
// Duplicates. A file is a duplicate when its raw bytes equal those of a file counted
// earlier. Only files of equal size and equal sampled bytes can be equal, so a file of
// 4 KiB or more read from disk whose size and sample no earlier file had is not
// hashed; it is hashed (read again) when a later file of its kind comes, and the result
// is the same as hashing every file (app/deferred_digests.h).
//
// Memory. Batches hold at most kBatchFiles entries (1 without worker threads) or
// kBatchBytes of member bytes plus one member. Batches of files from disk hold only
// paths, so up to jobs + 32 may wait; file bytes live only in a worker's buffer while
// it works. Archive members and stream files are read into their batch by this thread
// (which decodes the archive); at most jobs + 2 such batches are in flight. The two
// never share a stretch of the run: the workers' buffers go before an archive, the
// batches' bytes after it. Buffers over 4 MiB are given back whenever the workers are
// idle.
#pragma once

#include <cstdint>

#include "app/content_source.h"
#include "app/exclusions.h"
#include "app/file_reading.h"
#include "app/message_output.h"
#include "app/ordered_pipeline.h"
#include "app/progress_display.h"
#include "app/run_state.h"
#include "core/array.h"
#include "core/directory_listing.h"
#include "core/hash_table.h"
#include "core/shared_string.h"
#include "core/stream.h"

namespace qm {

// The path shown for the file name in directory: the full path relative to root
// (empty: the full path itself).
SharedString DisplayPathOf(const SharedString& root, const SharedString& directory, const SharedString& name);

// What counting learnt of the content of a revision's files, by content and type, so
// that a file met again (at another point of a history) is counted without being read.
// Belongs to its user; used by the thread that owns the run. Bounded: at most
// kMaxEntries contents are kept (about 100 bytes each); past that, contents are read
// again.
class ContentFactsCache {
 public:
  static constexpr int32_t kMaxEntries = 1 << 19;
  const FileFacts* Find(const ContentId& id, FileTypeId type) const;
  void Insert(const ContentId& id, FileTypeId type, const FileFacts& facts);
  int32_t Count() const { return facts_.Count(); }

 private:
  HashTable<DigestKey, FileFacts, DigestKeyTraits, false> facts_;
};

class FileIntake final : private OrderedPipeline::Client {
 public:
  // The totals, output, progress and exclusions belong to the run and outlive the
  // intake; recording says what it keeps beyond the totals (file records into the
  // run-wide fileRecords, anomaly paths into totals.anomalyPaths).
  FileIntake(CountTotals& totals, MessageOutput& output, ProgressDisplay& progress, Exclusions& exclusions,
             IntakeRecording recording);
  ~FileIntake();
  FileIntake(const FileIntake&) = delete;
  FileIntake& operator=(const FileIntake&) = delete;

  // Starts workerCount worker threads (0: this thread does all the work; fewer when
  // threads cannot be started). Requires: settings and the classification tables are
  // final, nothing taken yet.
  void Start(int32_t workerCount);

  // Counts everything taken, in order, ends the workers and gives back the buffers.
  // Taking more afterwards needs Start again.
  void Finish();

  // A file found by the walk: name as the directory read gave it, in the directory
  // whose exact absolute path is directory; root is the walked argument's path; kind
  // as the directory read (or a look at the entry) told it. A FIFO, socket or device
  // is refused without being opened ("couldn't open file" when of a known type).
  void TakeDiskFile(const SharedString& root, const SharedString& directory, const SharedString& name,
                    EntryKind kind = EntryKind::kUnknown);

  // A file of a revision: shown and named as the file of a checkout would be (root,
  // directory: the paths the checkout's would have), its bytes content id in source,
  // which must outlive the intake's run. Its size is asked for by the worker that reads
  // it (and only when its type is known and its facts are not): never read when it is
  // over the size limit.
  void TakeSourcedFile(const SharedString& root, const SharedString& directory, const SharedString& name,
                       ContentSource& source, const ContentId& id);

  // Files of a revision are looked up in cache (and what is learnt of new ones put
  // there) while it is set; null to stop. The cache must outlive the intake's run.
  void SetFactsCache(ContentFactsCache* cache) { factsCache_ = cache; }

  // A file argument or standard input: offered to archive scanning under its lowered
  // name (whatever -sa says), named in its messages by shownName, then counted as one
  // file named by the text after its last '/', in directory (the file's real
  // directory; empty for standard input), read from stream to its end; one of no known
  // type is "not counted: NAME: unknown file type" on standard error. The stream stays
  // the caller's.
  void TakeStream(const SharedString& argument, const SharedString& directory, const SharedString& shownName,
                  Stream& stream);

  // For a compare's archive side: from now on the members of the archive shown as
  // archiveName (not those of archives inside it) are watched for a top directory.
  void WatchArchiveTop(const SharedString& archiveName) { watchedArchive_ = archiveName; }
  // The one first directory of every watched member's path; empty when a file lies at
  // the top, members lie under two, or none was met.
  SharedString ArchiveTop() const { return isTopSingle_ ? top_ : SharedString(); }

  // A line for standard error, printed after everything taken before it. countsError
  // adds one error to the totals; failsRun makes the run end with status 1.
  void TakeNotice(const SharedString& line, bool countsError, bool failsRun);

 private:
  struct FileBatch;
  struct WorkerScratch;
  struct Entry;
  class MemberSink;

  // A file as it enters: where it comes from and how it is read.
  struct Origin {
    const SharedString& root;
    const SharedString& directory;
    const SharedString& name;
    Stream* stream;                   // null for a file from disk
    const uint32_t* size;             // a member's exact size; null to read the stream to its end
    bool isSpecial;                   // a FIFO, socket or device on disk: never opened
    ContentSource* source = nullptr;  // for a file of a revision: where its bytes are
    const ContentId* id = nullptr;
  };

  // False for a file of unknown type (counted as such, not read).
  bool Take(const Origin& origin);
  void PrepareName(const SharedString& name);
  bool OfferArchive(const Origin& origin);
  // isArgument: the archive was named on the command line or is standard input, so an
  // archive that cannot be read fails the run.
  bool ScanArchiveStream(const SharedString& preparedName, const SharedString& shownName, Stream& stream,
                         bool isArgument);
  FileTypeId SniffType(const Origin& origin, int64_t& kept);
  Entry& AddEntry(uint8_t kind, int64_t kept);
  void SetPaths(Entry& entry, const Origin& origin);
  void ReadStreamIntoBatch(Entry& entry, const Origin& origin, int64_t kept);
  void AddRefused(ContentRead outcome, const SharedString& displayPath);
  bool ReadSourced(const Origin& origin, Array<uint8_t>& bytes);
  void SubmitIfFull();
  void SubmitOpenBatch();
  FileBatch& OpenBatch();
  void DrainAndTrim();
  void BeginStreamStretch();
  void EndStreamStretch();
  void Count(Entry& entry, const char* fullPath, int32_t fullPathLength);

  void WorkOnEntry(FileBatch& batch, Entry& entry, WorkerScratch& scratch, bool isDigestStateKnown);
  void RetryAlone(FileBatch& batch, Entry& entry);
  void ReleaseForMemory();
  void Work(int32_t slot, int32_t worker) override;
  void Merge(int32_t slot) override;

  CountTotals& totals_;
  MessageOutput& output_;
  ProgressDisplay& progress_;
  Exclusions& exclusions_;
  ContentFactsCache* factsCache_ = nullptr;
  const IntakeRecording recording_;
  // Display paths are built for -la and for the anomaly paths.
  const bool keepsDisplayPaths_;
  OrderedPipeline pipeline_;
  Array<FileBatch> batches_;
  Array<WorkerScratch> scratch_;  // one per worker, then one for this thread
  int32_t openBatch_ = -1;        // the batch being filled, or -1
  int32_t batchFiles_ = 1;        // entries a batch takes before it is handed over
  int32_t streamDepth_ = 0;       // nesting of archives and stream files being read
  // Reused from file to file, each rewritten in its own block.
  SharedString preparedName_;
  SharedString fullPath_;
  // The shown name of the archive being scanned (an archive argument as typed, the
  // --stdin name, a walked archive's path below its argument, a nested one's outer
  // name, '/', and its path inside); empty outside archives.
  SharedString currentArchive_;
  // WatchArchiveTop: the archive, the first directory met and whether all share it.
  SharedString watchedArchive_;
  SharedString top_;
  bool isTopSingle_ = false;
  bool isTopSeen_ = false;
  void NoteMemberDirectory(const SharedString& directory, const SharedString& name);
};

}  // namespace qm
