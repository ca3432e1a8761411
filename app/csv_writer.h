// The -csv output: the run's totals per file type as CSV text, written to a file or,
// for the name "stdout", to standard output, instead of the printed table. The text is
// built whole from the caller's totals, then written once; a failure prints and ends
// the CSV output, not the run. Main thread, at the end of the run.

// Format (the -diff reader, app/diff_csv.h, reads it back): lines end in LF alone,
// fields are separated by ',', numbers are plain decimal. The header is
// "Type,Files,Blank,Comment,Punctuation,Code" (greedy mode: without ",Punctuation");
// then one row per type in the table's order (largest code first, ties by smaller
// type id) for every type whose lineCount is not 0: name, files, blank, comment,
// (punctuation), code; then "Total," and the column totals. A name holding ',', '"',
// CR or LF is quoted, with its '"' doubled.
//
// Writing: the whole text is built first, then written in one go to the file (created
// with mode 0666 less the umask, or truncated: an existing file is overwritten; a FIFO
// is waited for) or to standard output's descriptor. Every write is checked, and for a
// regular file so are the final sync and close: a full disk never leaves a
// half-written file without a message. Failures print on standard error, with the
// system's reason, and end the CSV output; the run goes on:
//   "Couldn't create CSV file: %s: REASON\n"  the file could not be opened (left untouched);
//   "Couldn't write CSV file: %s: REASON\n"   a write, the sync or the close failed (the
//                                             file keeps what was written).
#pragma once

#include <cstdint>

#include "app/run_state.h"
#include "core/shared_string.h"
#include "count/file_type_id.h"

namespace qm {

// The sums of the total row, over the types whose lineCount is not 0.
struct ColumnTotals {
  int64_t files = 0;
  int64_t blank = 0;
  int64_t comment = 0;
  int64_t punctuation = 0;
  int64_t code = 0;
};

// Appends text as one CSV field: as it is, or quoted when it holds ',', '"', CR or LF.
void AppendCsvField(SharedString& out, const char* text);

// The CSV text. sortedTypes holds typeCount type ids in table order; those whose
// lineCount is 0 are skipped. withPunctuation selects the conservative layout.
SharedString BuildCsvText(const CountTotals& totals, const FileTypeId* sortedTypes, int32_t typeCount,
                          const ColumnTotals& sums, bool withPunctuation);

// Builds the text (layout from settings.conservative) and writes it to fileName, or to
// standard output when fileName is exactly "stdout". False when it was not written.
bool WriteCsv(const SharedString& fileName, const CountTotals& totals, const FileTypeId* sortedTypes,
              int32_t typeCount, const ColumnTotals& sums);

// Writes a whole report text as above: to standard output for "stdout", else to the
// file; failures name the kind ("CSV", "JSON") in their messages. False when it was
// not written.
bool WriteReportFile(const char* kind, const SharedString& fileName, const SharedString& text);

}  // namespace qm
