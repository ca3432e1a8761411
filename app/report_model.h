// The report model: everything a report of one run shows, as one value built once at
// the end of the run: what was counted (inputs, options, date), the language rows in
// table order, the file rows in order with their directories, the total row, the
// anomaly counts and paths, the extensions met and the -diff state with the saved and
// current numbers. Every report format renders this value and nothing else
// (app/table_report.h, csv_report.h, json_report.h, markdown_report.h, html_report.h).
// Built on the thread that owns the run; a plain value afterwards.

// Rows and order, stable byte for byte from run to run: languages by code lines,
// largest first, then by smaller type id; files by code, largest first, then by smaller
// type id, then by path in byte order. Only languages whose lineCount is not 0 and
// files whose lines is not 0 are rows (the one row filter of every format). The total
// row sums the language rows, saturating at the 64-bit limits (counters may be
// negative, and near the limits, after a -diff). File paths from disk are shortened
// by the deepest directory common to all of them; paths of stream contents (archive
// members, standard input, file arguments) stay whole. Paths are raw bytes: each
// format escapes them its own way.
//
// Directories (for a format that needs file rows, the page's treemap): every
// directory of the file rows' locations, split at '/' (a leading or doubled '/' makes
// no empty name), row 0 the root; each with the sums of the file rows below it. Memory:
// at most one row per '/' of the locations; built in time linear in their length.
#pragma once

#include <array>
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
  SharedString path;      // as shown: shortened (files from disk), raw bytes
  SharedString archive;   // an archive member's archive, as -la shows it; else empty
  SharedString location;  // an archive member's archive, '/' and path; else path
  FileTypeId type = kTypeUnknown;
  const char* language = "";  // the type's display name
  ColumnTotals counts;        // files is 1
  int32_t directory = -1;     // its row in directories, when the model has them
};

struct DirectoryRow {
  SharedString path;                   // the locations' text up to this directory; empty for the root
  int32_t nameStart = 0;               // where its own name begins in path
  int32_t parent = -1;                 // -1 for the root
  int64_t files = 0;                   // file rows at any depth below
  int64_t code = 0;                    // their code lines
  FileTypeId mainType = kTypeUnknown;  // the type of most of those lines (ties: the smaller id)
  int64_t mainCode = 0;                // its code lines below
  Array<int32_t> directories;          // child rows: most code first, then by path
  Array<int32_t> fileRows;             // file rows right inside, in file-row order
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

// A compare (-cmp, -git=OLD..NEW): the lines of a language, a file or the total by
// what became of them. Files: same counts the files found unchanged (moved ones too),
// modified those changed, added and removed those on one side only.
struct ChangeCounts {
  ColumnTotals same;
  ColumnTotals modified;
  ColumnTotals added;
  ColumnTotals removed;
};

// The four rows of a compare's counts in report order, with their names.
struct ChangeRow {
  const char* name;  // "same", "modified", "added", "removed"
  const ColumnTotals* counts;
};
inline std::array<ChangeRow, 4> ChangeRows(const ChangeCounts& changes) {
  return {{{"same", &changes.same},
           {"modified", &changes.modified},
           {"added", &changes.added},
           {"removed", &changes.removed}}};
}

enum class FileChange : uint8_t { kSame, kModified, kAdded, kRemoved, kMoved };

struct CompareLanguageRow {
  FileTypeId type = kTypeUnknown;
  const char* name = "";
  ChangeCounts changes;
};

// One file of a compare: its path (NEW's; OLD's when removed) below its side's root.
struct CompareFileRow {
  SharedString path;
  SharedString oldPath;            // OLD's path; empty when added
  FileTypeId type = kTypeUnknown;  // NEW's type; OLD's when removed
  const char* language = "";
  FileChange status = FileChange::kSame;
  ChangeCounts changes;
};

struct CompareReport {
  SharedString oldName;  // the sides as given: arguments, or revisions
  SharedString newName;
  Array<CompareLanguageRow> languages;  // table order
  ChangeCounts total;
  Array<CompareFileRow> files;  // every file, by path (with -f)
};

// With -diff the language rows and total are current minus saved; these are the two
// sides, in the same order.
struct SavedComparison {
  Array<ColumnTotals> saved;  // per language row
  Array<ColumnTotals> current;
  ColumnTotals savedTotal;
  ColumnTotals currentTotal;
};

// The saved side of a -diff run per type: LoadDiffCsv subtracts the saved file's
// numbers from fresh totals; KeepSavedCounts copies them back out before counting.
struct SavedCounts {
  ColumnTotals byType[kTypeSlots];
};

struct ReportModel {
  // Layout: a punctuation column (conservative) or punctuation folded into code.
  bool isConservative = true;
  bool isPretty = true;          // digits grouped in the table
  bool hasFileRows = false;      // -f: the file rows replace the language rows in the table
  bool listsExtensions = false;  // -le
  SharedString diffFile;         // -diff: the saved file's name as given; empty without
  int64_t maxFileSize = 0;       // bytes: the limit the too-big line names
  // What was counted: the --stdin name (empty without) and the arguments, as typed;
  // the options as typed; when (seconds since 1970, UTC: SOURCE_DATE_EPOCH when it
  // holds a number, else the time the model was built).
  SharedString standardInputName;
  Array<SharedString> inputs;
  Array<SharedString> options;
  int64_t countedAt = 0;
  Array<LanguageRow> languages;
  ColumnTotals total;
  // With hasFileRows, or for a format that needs file rows; directories only for the
  // latter.
  Array<FileRow> files;
  Array<DirectoryRow> directories;
  AnomalyCounts anomalies;
  bool hasAnomalyPaths = false;  // for a format that needs them
  AnomalyPaths anomalyPaths;
  bool hasComparison = false;  // -diff (with its saved numbers)
  SavedComparison comparison;
  Array<SharedString> extensions;  // met, first seen first (only with listsExtensions)
  // --history: the points, oldest first; the report is of them alone.
  bool isHistory = false;
  Array<HistoryPoint> history;
  // A compare: the report is of it alone.
  bool isCompare = false;
  CompareReport compare;
};

// The name of a change as reports show it: "same", "modified", "added", "removed",
// "moved".
const char* FileChangeName(FileChange change);

// The saved side of totals that LoadDiffCsv has just loaded (nothing counted yet).
void KeepSavedCounts(const CountTotals& loaded, SavedCounts& saved);

// Builds the model of a run from its totals, the run's fileRecords (-f, or for a
// report format that needs file rows) and uniqueExtensions (-le) and the settings'
// report options; isConservative is the layout the run reports in (a -diff file saved
// in the other mode makes it greedy); saved, with -diff, the saved side.
ReportModel BuildReportModel(const CountTotals& totals, bool isConservative,
                             const SavedCounts* saved = nullptr);

// The language rows and total of one point of a history, from its totals.
HistoryPoint BuildHistoryPoint(const CountTotals& totals, const SharedString& commit,
                               const SharedString& date);

// The languages of a history drawn on their own: those that reach 1% of the code at
// some point, most code lines (at their highest) first.
struct HistoryLanguage {
  FileTypeId type;
  const char* name;
  int64_t mostCode;
};
Array<HistoryLanguage> HistoryLanguages(const ReportModel& model);

// The code lines of a language at a point (0 where it has none).
int64_t CodeAt(const HistoryPoint& point, FileTypeId type);

// Blank, comment, punctuation and code lines together.
inline int64_t LinesOf(const ColumnTotals& counts) {
  return counts.blank + counts.comment + counts.punctuation + counts.code;
}

// a + b, saturating at the 64-bit limits.
int64_t SaturatingAdd(int64_t a, int64_t b);

}  // namespace qm
