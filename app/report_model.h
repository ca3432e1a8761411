// The report model: everything a report of one run shows, as one value built once at
// the end of the run: the language rows in table order, the file rows in order, the
// total row, the anomaly counts, the extensions met and the -diff state. Every report
// format renders this value and nothing else (app/table_report.h, csv_report.h,
// json_report.h). Built on the thread that owns the run; a plain value afterwards.

// Rows and order, stable byte for byte from run to run: languages by code lines,
// largest first, then by smaller type id; files by code, largest first, then by smaller
// type id, then by path in byte order. Only languages whose lineCount is not 0 and
// files whose lines is not 0 are rows (the one row filter of every format). The total
// row sums the language rows, saturating at the 64-bit limits (counters may be
// negative, and near the limits, after a -diff). File paths from disk are shortened
// by the deepest directory common to all of them; paths of stream contents (archive
// members, standard input, file arguments) stay whole. Paths are raw bytes: each
// format escapes them its own way.
#pragma once

#include <cstdint>

#include "app/run_state.h"
#include "core/array.h"
#include "core/shared_string.h"
#include "count/file_type_id.h"

namespace qm {

// Files, blank, comment, punctuation and code lines of one row.
struct ColumnTotals {
  int64_t files = 0;
  int64_t blank = 0;
  int64_t comment = 0;
  int64_t punctuation = 0;
  int64_t code = 0;
};

struct LanguageRow {
  FileTypeId type = kTypeUnknown;
  const char* name = "";  // the type's display name
  ColumnTotals counts;
};

struct FileRow {
  SharedString path;     // as shown: shortened (files from disk), raw bytes
  SharedString archive;  // an archive member's archive, as -la shows it; else empty
  FileTypeId type = kTypeUnknown;
  const char* language = "";  // the type's display name
  ColumnTotals counts;        // files is 1
};

struct AnomalyCounts {
  int64_t errors = 0;
  int64_t tooBig = 0;
  int64_t duplicates = 0;
  int64_t empty = 0;
  int64_t utf16Le = 0;
  int64_t utf16Be = 0;
};

// One point of a history (--history): a commit and what was counted there.
struct HistoryPoint {
  SharedString commit;           // 40 hexadecimal digits
  SharedString date;             // the commit's date, UTC, YYYY-MM-DD
  Array<LanguageRow> languages;  // in table order
  ColumnTotals total;
};

struct ReportModel {
  // Layout: a punctuation column (conservative) or punctuation folded into code.
  bool isConservative = true;
  bool isPretty = true;          // digits grouped in the table
  bool hasFileRows = false;      // -f: the file rows replace the language rows in the table
  bool listsExtensions = false;  // -le
  SharedString diffFile;         // -diff: the saved file's name as given; empty without
  int64_t maxFileSize = 0;       // bytes: the limit the too-big line names
  Array<LanguageRow> languages;
  ColumnTotals total;
  Array<FileRow> files;  // only with hasFileRows
  AnomalyCounts anomalies;
  Array<SharedString> extensions;  // met, first seen first (only with listsExtensions)
  // --history: the points, oldest first; the report is of them alone.
  bool isHistory = false;
  Array<HistoryPoint> history;
};

// Builds the model of a run from its totals, the run's fileRecords (-f) and
// uniqueExtensions (-le) and the settings' report options; isConservative is the
// layout the run reports in (a -diff file saved in the other mode makes it greedy).
ReportModel BuildReportModel(const CountTotals& totals, bool isConservative);

// The language rows and total of one point of a history, from its totals.
HistoryPoint BuildHistoryPoint(const CountTotals& totals, const SharedString& commit,
                               const SharedString& date);

// a + b, saturating at the 64-bit limits.
int64_t SaturatingAdd(int64_t a, int64_t b);

}  // namespace qm
