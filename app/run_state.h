// The run's totals and the run-wide state that walk, intake, classification and the
// report share. Totals belong to their owner, which empties them with ResetTotals; the
// run-wide single instances are static and released by ClearRunState at exit. Only
// the thread that walks uses them: they take no locks.

// CountTotals extends the engine's LineTotals (lineCount, blankLines, commentLines,
// codeLines, punctLines) with the file and byte counters, the six anomaly counters, the
// digest map and the content classes of the files whose digest waits. All counters
// are signed 64-bit: after a -diff CSV is loaded they may be negative. ClearRunState
// is idempotent.
#pragma once

#include <cstdint>

#include "app/deferred_digests.h"
#include "core/array.h"
#include "core/hash_table.h"
#include "core/shared_string.h"
#include "count/file_type_id.h"
#include "count/line_totals.h"

namespace qm {

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
};

// Sets every counter to 0 and empties digests and deferredDigests.
void ResetTotals(CountTotals& totals);

// One row per counted file, kept only with -f.
struct FileRecord {
  SharedString path;  // full path as intake built it
  FileTypeId type = kTypeUnknown;
  int64_t lines = 0;
  int64_t blank = 0;
  int64_t comment = 0;
  int64_t code = 0;
  int64_t punctuation = 0;
  int64_t size = 0;     // bytes as read
  bool onDisk = false;  // found by the walk and read from disk
};

extern Array<FileRecord> fileRecords;
extern StringSet uniqueExtensions;  // -le: extension texts met, first seen first
extern SharedString currentRoot;    // absolute path of the argument being walked
// The shown name of the archive being scanned (an archive argument as typed, the
// --stdin name, a walked archive's path below its argument, a nested one's outer name,
// '/', and its path inside); empty outside archives.
extern SharedString currentArchive;
extern int64_t progressCount;  // files counted by ProgressTick

// Releases every run-wide string, list and map and leaves them empty.
void ClearRunState();

}  // namespace qm
