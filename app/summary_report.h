// The end-of-run report on standard output: the anomaly summary, a fixed-width table
// with one row per file type (or per file with -f) and a total row, and the list of
// extensions met (-le). Built whole in one buffer from the run-wide state and written
// once, on the main thread at the end of the run.

// The final progress count (-sp) goes to standard error first. With -csv the totals go
// to the CSV writer (app/csv_writer.h) instead, and the -le list follows the CSV on
// the info stream (app/message_output.h).
//
// Layout. Conservative mode has five number columns of width 11 (Files, Blank,
// Comment, Punctuation, Code), greedy mode four of width 14 (no Punctuation). The name
// cell is padded to N bytes plus one space (a longer name pushes its row right): N is
// 19 for the type table, and for the by-file table at least 31 (conservative) or 34
// (greedy), widened to the longest path as shown (control bytes escaped). Each number cell but the last is
// followed by one space, so a full type row is 79 characters in both modes; the by-file table has no Files
// column. Rules are n + 60 dashes, n being N for the type table and N - 12 or N - 15 (conservative, greedy)
// for the by-file table.
//
// Order, stable byte for byte from run to run: types by codeLines, largest first, then
// by smaller id; files by code, largest first, then by smaller type id, then by path
// in byte order. Only types whose lineCount is not 0 and files whose lines is not 0
// are listed; the total row sums the listed types' counters (also in -f mode, where no
// type row is shown), saturating at the 64-bit limits. Counters may be negative after
// a -diff; every value is printed as it is.
//
// Output: the report is built in one SharedString and written to standard output with
// one buffered write; a failed write is reported at the end of the run
// (FinishStandardOutput). A CSV that cannot be written marks the run failed.
#pragma once

#include <cstdint>

#include "app/csv_writer.h"
#include "app/run_state.h"
#include "core/shared_string.h"

namespace qm {

// Appends value in width columns, right-aligned, digits grouped by three with an
// apostrophe ("1'234'567", "-1'234"); a wider text is not cut. No trailing space.
void PrintNumber(SharedString& out, int32_t width, int64_t value);

// Appends n + 60 '-' and a newline; n below 1 counts as 0.
void PrintRule(SharedString& out, int32_t n);

// Shortens the paths of fileRecords found on disk by their deepest common directory
// (paths of stream contents stay whole) and sorts fileRecords into report order.
void PrepareFileRecords();

// The name column width N. With -f it also prepares fileRecords (above), replaces each
// path by its shown form and widens N to the longest.
int32_t ComputeNameWidth();

// Appends the anomaly lines (errors, too big, duplicates, empty, UTF-16 LE, UTF-16 BE),
// each only when its counter is not 0. The too-big line shows settings.maxFileSize in
// megabytes, rounded up.
void PrintAnomalies(SharedString& out, const CountTotals& totals);

// Appends the -le listing of uniqueExtensions, first seen first.
void PrintExtensions(SharedString& out);

// Type ids 0 to 17 in table order, and the total row's sums (other report formats).
void SortReportTypes(const CountTotals& totals, FileTypeId (&types)[kTypeSlots]);
ColumnTotals SumReportColumns(const CountTotals& totals);

// The whole standard-output report as PrintSummary prints it when no CSV is asked for.
SharedString BuildSummary(const CountTotals& totals);

// The report: BuildSummary's text on standard output, or with settings.csvFile the
// progress count on standard output and the CSV through WriteCsv.
void PrintSummary(CountTotals& totals);

}  // namespace qm
