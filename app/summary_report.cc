#include "app/summary_report.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "app/csv_writer.h"
#include "app/file_types.h"
#include "app/json_report.h"
#include "app/message_output.h"
#include "app/settings.h"
#include "core/path.h"
#include "core/stable_sort.h"

namespace qm {

namespace {

constexpr int32_t kTypeNameWidth = 19;
constexpr int32_t kConservativeFileNameWidth = 31;
constexpr int32_t kGreedyFileNameWidth = 34;
constexpr int32_t kConservativeNumberWidth = 11;
constexpr int32_t kGreedyNumberWidth = 14;

int64_t SaturatingAdd(int64_t a, int64_t b) {
  int64_t sum;
  if (__builtin_add_overflow(a, b, &sum)) return b < 0 ? INT64_MIN : INT64_MAX;
  return sum;
}

void AppendSpaces(SharedString& out, int64_t count) {
  static constexpr char kSpaces[] = "                                ";
  constexpr int32_t kChunk = sizeof kSpaces - 1;
  for (; count > 0; count -= kChunk)
    out.Append(kSpaces, count < kChunk ? static_cast<int32_t>(count) : kChunk);
}

// Left-aligned in width columns, then one space.
void AppendNameCell(SharedString& out, const char* name, int32_t nameLength, int32_t width) {
  out.Append(name, nameLength);
  AppendSpaces(out, int64_t{width} - nameLength);
  out.Append(" ", 1);
}

// Right-aligned in width columns, then one space unless it ends the row.
void AppendHeaderCell(SharedString& out, const char* text, int32_t width, bool isLast) {
  const int32_t length = static_cast<int32_t>(std::strlen(text));
  AppendSpaces(out, int64_t{width} - length);
  out.Append(text, length);
  if (!isLast) out.Append(" ", 1);
}

void AppendNumberCells(SharedString& out, const int64_t* values, int32_t count, int32_t width,
                       bool isPretty) {
  for (int32_t i = 0; i < count; ++i) {
    if (isPretty) {
      PrintNumber(out, width, values[i]);
    } else {
      char text[32];
      const int length = std::snprintf(text, sizeof text, "%*" PRId64, width, values[i]);
      out.Append(text, length);
    }
    if (i + 1 < count) out.Append(" ", 1);
  }
  out.Append("\n", 1);
}

void AppendFormatted(SharedString& out, const char* format, int64_t value) {
  char text[96];
  const int length = std::snprintf(text, sizeof text, format, value);
  out.Append(text, length);
}

// Type ids 0 to 17 in table order: codeLines largest first, then smaller id.
void SortTypes(const CountTotals& totals, FileTypeId (&types)[kTypeSlots]) {
  for (FileTypeId type = 0; type < kTypeSlots; ++type) types[type] = type;
  StableSort(types, kTypeSlots, [&totals](FileTypeId a, FileTypeId b) {
    if (totals.codeLines[a] != totals.codeLines[b]) return totals.codeLines[a] > totals.codeLines[b];
    return a < b;
  });
}

ColumnTotals SumColumns(const CountTotals& totals) {
  ColumnTotals sums;
  for (FileTypeId type = 0; type < kTypeSlots; ++type) {
    if (totals.lineCount[type] == 0) continue;
    sums.files = SaturatingAdd(sums.files, totals.fileCount[type]);
    sums.blank = SaturatingAdd(sums.blank, totals.blankLines[type]);
    sums.comment = SaturatingAdd(sums.comment, totals.commentLines[type]);
    sums.punctuation = SaturatingAdd(sums.punctuation, totals.punctLines[type]);
    sums.code = SaturatingAdd(sums.code, totals.codeLines[type]);
  }
  return sums;
}

// The directory of a path: without its last component, keeping the '/' before it;
// empty when the path has no '/'.
SharedString DirectoryOf(const SharedString& path) {
  SharedString normalized = path;
  NormalizePath(normalized);
  return JoinPath(normalized, "..");
}

// Deepest directory holding every record read from disk, or empty.
SharedString CommonDirectory() {
  SharedString common;
  bool isFirst = true;
  for (const FileRecord& record : fileRecords) {
    if (!record.onDisk) continue;
    const SharedString directory = DirectoryOf(record.path);
    if (isFirst) {
      common = directory;
      isFirst = false;
      continue;
    }
    while (!common.IsEmpty() && !directory.StartsWith(common.CStr(), common.CStr() + common.Length())) {
      SharedString parent = JoinPath(common, "..");
      // The root (or a run of "..") cannot go up; the record is then left unshortened.
      if (parent.Length() >= common.Length()) break;
      common = parent;
    }
  }
  return common;
}

}  // namespace

void PrintNumber(SharedString& out, int32_t width, int64_t value) {
  // 19 digits, 6 apostrophes and a sign at most.
  char text[32];
  char* cursor = text + sizeof text;
  uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  int32_t digitCount = 0;
  do {
    if (digitCount > 0 && digitCount % 3 == 0) *--cursor = '\'';
    *--cursor = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
    ++digitCount;
  } while (magnitude != 0);
  if (value < 0) *--cursor = '-';
  const int32_t length = static_cast<int32_t>(text + sizeof text - cursor);
  AppendSpaces(out, int64_t{width} - length);
  out.Append(cursor, length);
}

void PrintRule(SharedString& out, int32_t n) {
  static constexpr char kDashes[] = "------------------------------------------------------------";
  constexpr int32_t kChunk = sizeof kDashes - 1;
  for (int64_t count = (n < 1 ? 0 : int64_t{n}) + 60; count > 0; count -= kChunk) {
    out.Append(kDashes, count < kChunk ? static_cast<int32_t>(count) : kChunk);
  }
  out.Append("\n", 1);
}

void PrepareFileRecords() {
  const SharedString common = CommonDirectory();
  for (FileRecord& record : fileRecords) {
    if (record.onDisk && !common.IsEmpty() &&
        record.path.StartsWith(common.CStr(), common.CStr() + common.Length())) {
      record.path.EraseLeft(common.Length());
    }
  }
  StableSort(fileRecords.Data(), fileRecords.Count(), [](const FileRecord& a, const FileRecord& b) {
    if (a.code != b.code) return a.code > b.code;
    if (a.type != b.type) return a.type < b.type;
    return a.path.Compare(b.path) < 0;
  });
}

int32_t ComputeNameWidth() {
  if (!settings.byFile) return kTypeNameWidth;
  int32_t width = settings.conservative ? kConservativeFileNameWidth : kGreedyFileNameWidth;
  PrepareFileRecords();
  // From here on a record holds its path as shown, control bytes escaped.
  for (FileRecord& record : fileRecords) {
    record.path = Shown(record.path);
    if (record.path.Length() > width) width = record.path.Length();
  }
  return width;
}

void PrintAnomalies(SharedString& out, const CountTotals& totals) {
  if (totals.errorCount != 0)
    AppendFormatted(out, "%" PRId64 " errors (couldn't read/open)\n", totals.errorCount);
  if (totals.tooBigCount != 0) {
    // Rounded up, without overflowing near INT64_MAX.
    const int64_t limit = settings.maxFileSize;
    const int64_t megabytes = limit / kMegabyte + (limit % kMegabyte > 0 ? 1 : 0);
    char text[96];
    const int length =
        std::snprintf(text, sizeof text, "%" PRId64 " files bigger than %" PRId64 " MB ignored\n",
                      totals.tooBigCount, megabytes);
    out.Append(text, length);
  }
  if (totals.dupCount != 0) AppendFormatted(out, "%" PRId64 " dup files ignored\n", totals.dupCount);
  if (totals.emptyCount != 0) AppendFormatted(out, "%" PRId64 " empty files ignored\n", totals.emptyCount);
  if (totals.utf16LeCount != 0)
    AppendFormatted(out, "%" PRId64 " UTF-16 LE files found\n", totals.utf16LeCount);
  if (totals.utf16BeCount != 0)
    AppendFormatted(out, "%" PRId64 " UTF-16 BE files found\n", totals.utf16BeCount);
}

void PrintExtensions(SharedString& out) {
  AppendFormatted(out, "\nFound %" PRId64 " unique extensions:\n", uniqueExtensions.Count());
  for (int32_t i = 0; i < uniqueExtensions.Count(); ++i) {
    out.Append(Shown(uniqueExtensions.Key(i)));
    out.Append("\n", 1);
  }
}

SharedString BuildSummary(const CountTotals& totals) {
  SharedString out;
  const bool isConservative = settings.conservative;
  const bool isPretty = settings.prettyPrint;
  const bool isByFile = settings.byFile;
  const int32_t nameWidth = ComputeNameWidth();
  const int32_t numberWidth = isConservative ? kConservativeNumberWidth : kGreedyNumberWidth;
  const int32_t ruleWidth = !isByFile ? nameWidth : nameWidth - (isConservative ? 12 : 15);

  PrintAnomalies(out, totals);
  PrintRule(out, ruleWidth);
  AppendNameCell(out, isByFile ? "File" : "Type", 4, nameWidth);
  if (!isByFile) AppendHeaderCell(out, "Files", numberWidth, false);
  AppendHeaderCell(out, "Blank", numberWidth, false);
  AppendHeaderCell(out, "Comment", numberWidth, false);
  if (isConservative) AppendHeaderCell(out, "Punctuation", numberWidth, false);
  AppendHeaderCell(out, "Code", numberWidth, true);
  out.Append("\n", 1);
  PrintRule(out, ruleWidth);

  // Values of one row; the by-file rows start at index 1 (no Files column), and
  // greedy rows drop the punctuation value.
  int64_t values[5];
  auto appendRow = [&](const char* name, int32_t nameLength, int64_t files, int64_t blank, int64_t comment,
                       int64_t punctuation, int64_t code, bool hasFiles) {
    int32_t count = 0;
    if (hasFiles) values[count++] = files;
    values[count++] = blank;
    values[count++] = comment;
    if (isConservative) values[count++] = punctuation;
    values[count++] = code;
    AppendNameCell(out, name, nameLength, nameWidth);
    AppendNumberCells(out, values, count, numberWidth, isPretty);
  };

  FileTypeId types[kTypeSlots];
  SortTypes(totals, types);
  if (isByFile) {
    for (const FileRecord& record : fileRecords) {
      if (record.lines == 0) continue;
      appendRow(record.path.CStr(), record.path.Length(), 0, record.blank, record.comment, record.punctuation,
                record.code, false);
    }
  } else {
    for (const FileTypeId type : types) {
      if (totals.lineCount[type] == 0) continue;
      const char* name = TypeNames[type];
      appendRow(name, static_cast<int32_t>(std::strlen(name)), totals.fileCount[type],
                totals.blankLines[type], totals.commentLines[type], totals.punctLines[type],
                totals.codeLines[type], true);
    }
  }
  const ColumnTotals sums = SumColumns(totals);
  PrintRule(out, ruleWidth);
  appendRow("Total", 5, sums.files, sums.blank, sums.comment, sums.punctuation, sums.code, !isByFile);
  if (settings.listExtensions) PrintExtensions(out);
  return out;
}

void SortReportTypes(const CountTotals& totals, FileTypeId (&types)[kTypeSlots]) {
  SortTypes(totals, types);
}

ColumnTotals SumReportColumns(const CountTotals& totals) {
  return SumColumns(totals);
}

void PrintSummary(CountTotals& totals) {
  if (settings.showProgress) std::fprintf(stderr, "%" PRId64 " total files\n", progressCount);
  if (!settings.jsonFile.IsEmpty()) {
    if (!WriteJsonReport(totals)) NoteRunFailure();
    return;
  }
  if (settings.csvFile.IsEmpty()) {
    const SharedString report = BuildSummary(totals);
    WriteReport(report.CStr(), static_cast<size_t>(report.Length()));
    return;
  }
  FileTypeId types[kTypeSlots];
  SortTypes(totals, types);
  if (!WriteCsv(settings.csvFile, totals, types, kTypeSlots, SumColumns(totals))) NoteRunFailure();
  if (settings.listExtensions) {
    SharedString listing;
    PrintExtensions(listing);
    PrintInfo("%s", listing.CStr());
  }
}

}  // namespace qm
