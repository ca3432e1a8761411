// The run's totals and the run-wide records that intake fills and the report reads.
// Totals belong to their owner, which empties them with ResetTotals; the run-wide
// records are static and released by ClearRunState at exit. Only the thread that owns
// the run uses them: they take no locks.

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
  int64_t size = 0;      // bytes as read
  bool onDisk = false;   // found by the walk and read from disk
  SharedString archive;  // an archive member's archive, shown as in -la lines; else empty
};

// The run-wide records intake fills (on the thread that owns the run) and the report
// model reads.
extern Array<FileRecord> fileRecords;
extern StringSet uniqueExtensions;  // -le: extension texts met, first seen first

// Releases every run-wide string, list and map and leaves them empty.
void ClearRunState();

}  // namespace qm
