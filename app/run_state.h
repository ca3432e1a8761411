// The run's totals and the run-wide records that intake fills and the report reads.
// Totals belong to their owner, which empties them with ResetTotals; the run-wide
// records are static and released by ClearRunState at exit. Only the thread that owns
// the run uses them: they take no locks.

// CountTotals extends the engine's LineTotals (lineCount, blankLines, commentLines,
// codeLines, punctLines) with the file and byte counters, the six anomaly counters, the
// digest map, the content classes of the files whose digest waits and, when the report
// lists them, the first kAnomalyPathsKept paths of each kind of anomaly (a report of
// any tree holds at most 5 such lists). All counters are signed 64-bit: after a -diff
// CSV is loaded they may be negative. ClearRunState is idempotent.
#pragma once

#include <cstdint>

#include "app/content_source.h"
#include "app/deferred_digests.h"
#include "core/array.h"
#include "core/hash_table.h"
#include "core/shared_string.h"
#include "count/file_type_id.h"
#include "count/line_totals.h"

namespace qm {

// What intake records beyond the totals, for the report: a FileRecord per counted file
// (-f, or a report that draws files), and the anomaly paths below. The run decides
// before intake starts.
// keepsTexts (a compare, with file records): the record of a counted file that cannot
// be read again (an archive member, a stream) also holds its text; a revision's file
// says where its content is; and no file is a duplicate: every path is counted.
struct IntakeRecording {
  bool keepsFileRecords = false;
  bool keepsAnomalyPaths = false;
  bool keepsTexts = false;
};

// Paths of one kind of anomaly, in the order met: the first kAnomalyPathsKept, then
// only a count of those left out.
inline constexpr int32_t kAnomalyPathsKept = 100;

struct AnomalyPath {
  SharedString path;    // as -la names the file (raw bytes); a message's text for the
                        // errors no file stands for (an archive that cannot be read)
  SharedString detail;  // errors: what failed; duplicates: the path of the copy counted;
                        // UTF-16: "LE" or "BE"; else empty
};

struct AnomalyPathList {
  Array<AnomalyPath> kept;
  int64_t leftOut = 0;

  // Keeps the entry while fewer than kAnomalyPathsKept are, else counts it.
  void Add(const SharedString& path, const SharedString& detail);
};

struct AnomalyPaths {
  AnomalyPathList errors;  // unreadable files and archives, arguments that cannot be used
  AnomalyPathList tooBig;
  AnomalyPathList duplicates;
  AnomalyPathList empty;
  AnomalyPathList utf16;
};

struct CountTotals : LineTotals {
  int64_t fileCount[kTypeSlots];  // entry 0: files of unknown type (not read)
  int64_t byteCount[kTypeSlots];  // sizes as read, before any conversion
  int64_t dupCount;
  int64_t emptyCount;
  int64_t utf16LeCount;
  int64_t utf16BeCount;
  int64_t errorCount;
  int64_t tooBigCount;
  // MD5 of every counted file's raw bytes -> display path of the first file that had
  // it (empty text unless -la).
  DigestMap digests;
  // Content classes met by counted files, with the paths of the files not yet hashed
  // (app/deferred_digests.h).
  DeferredDigests deferredDigests;
  AnomalyPaths anomalyPaths;  // filled when intake keeps anomaly paths
};

// Sets every counter to 0 and empties digests, deferredDigests and anomalyPaths.
void ResetTotals(CountTotals& totals);

// One row per counted file, kept only when intake keeps file records.
struct FileRecord {
  SharedString path;  // full path as intake built it
  FileTypeId type = kTypeUnknown;
  int64_t lines = 0;
  int64_t blank = 0;
  int64_t comment = 0;
  int64_t code = 0;
  int64_t punctuation = 0;
  int64_t size = 0;      // bytes as read
  bool onDisk = false;   // found by the walk and read from disk
  SharedString archive;  // an archive member's archive, shown as in -la lines; else empty
  // With keepsTexts: for a file that cannot be read again the text as classified
  // (UTF-16 as UTF-8), which ends with a line break that the file lacks when
  // hasAddedBreak; for a revision's file its content's source (which the record must
  // not outlive) and id.
  Array<uint8_t> text;
  bool hasAddedBreak = false;
  ContentSource* source = nullptr;
  ContentId id;
};

// The run-wide records intake fills (on the thread that owns the run) and the report
// model reads.
extern Array<FileRecord> fileRecords;
extern StringSet uniqueExtensions;  // -le: extension texts met, first seen first

// Releases every run-wide string, list and map and leaves them empty.
void ClearRunState();

}  // namespace qm
