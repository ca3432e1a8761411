#include "app/table_report.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "app/message_output.h"

namespace qm {

namespace {

constexpr int32_t kTypeNameWidth = 19;
constexpr int32_t kConservativeFileNameWidth = 31;
constexpr int32_t kGreedyFileNameWidth = 34;
constexpr int32_t kConservativeNumberWidth = 11;
constexpr int32_t kGreedyNumberWidth = 14;
constexpr int64_t kMegabyteBytes = 1048576;

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

// The rule, the column names (File or Type, Files unless by file, the kinds of line)
// and the rule again.
void AppendHeading(SharedString& out, bool isByFile, bool isConservative, int32_t nameWidth,
                   int32_t ruleWidth) {
  const int32_t numberWidth = isConservative ? kConservativeNumberWidth : kGreedyNumberWidth;
  PrintRule(out, ruleWidth);
  AppendNameCell(out, isByFile ? "File" : "Type", 4, nameWidth);
  if (!isByFile) AppendHeaderCell(out, "Files", numberWidth, false);
  AppendHeaderCell(out, "Blank", numberWidth, false);
  AppendHeaderCell(out, "Comment", numberWidth, false);
  if (isConservative) AppendHeaderCell(out, "Punctuation", numberWidth, false);
  AppendHeaderCell(out, "Code", numberWidth, true);
  out.Append("\n", 1);
  PrintRule(out, ruleWidth);
}

void AppendFormatted(SharedString& out, const char* format, int64_t value) {
  char text[96];
  const int length = std::snprintf(text, sizeof text, format, value);
  out.Append(text, length);
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

void PrintAnomalies(SharedString& out, const ReportModel& model) {
  const AnomalyCounts& counts = model.anomalies;
  if (counts.errors != 0) AppendFormatted(out, "%" PRId64 " errors (couldn't read/open)\n", counts.errors);
  if (counts.tooBig != 0) {
    // Rounded up, without overflowing near INT64_MAX.
    const int64_t limit = model.maxFileSize;
    const int64_t megabytes = limit / kMegabyteBytes + (limit % kMegabyteBytes > 0 ? 1 : 0);
    char text[96];
    const int length =
        std::snprintf(text, sizeof text, "%" PRId64 " files bigger than %" PRId64 " MB ignored\n",
                      counts.tooBig, megabytes);
    out.Append(text, length);
  }
  if (counts.duplicates != 0) AppendFormatted(out, "%" PRId64 " dup files ignored\n", counts.duplicates);
  if (counts.empty != 0) AppendFormatted(out, "%" PRId64 " empty files ignored\n", counts.empty);
  if (counts.utf16Le != 0) AppendFormatted(out, "%" PRId64 " UTF-16 LE files found\n", counts.utf16Le);
  if (counts.utf16Be != 0) AppendFormatted(out, "%" PRId64 " UTF-16 BE files found\n", counts.utf16Be);
}

void PrintExtensions(SharedString& out, const ReportModel& model) {
  AppendFormatted(out, "\nFound %" PRId64 " unique extensions:\n", model.extensions.Count());
  for (const SharedString& extension : model.extensions) {
    out.Append(Shown(extension));
    out.Append("\n", 1);
  }
}

namespace {

// A history: a row a point (the date and short commit in the name column, the totals),
// then the code lines of each language that reaches 1% of the code at some point.
SharedString RenderHistoryTable(const ReportModel& model) {
  SharedString out;
  const bool isConservative = model.isConservative;
  const int32_t numberWidth = isConservative ? kConservativeNumberWidth : kGreedyNumberWidth;
  auto appendNumber = [&out, &model](int64_t value, int32_t width) {
    if (model.isPretty) {
      PrintNumber(out, width, value);
    } else {
      char text[32];
      out.Append(text, std::snprintf(text, sizeof text, "%*" PRId64, width, value));
    }
  };
  auto appendPointName = [&out](const HistoryPoint& point) {
    const SharedString shortCommit(
        point.commit.CStr(), point.commit.CStr() + (point.commit.Length() < 8 ? point.commit.Length() : 8));
    SharedString name = point.date;
    name.Append(" ");
    name.Append(shortCommit);
    AppendNameCell(out, name.CStr(), name.Length(), kTypeNameWidth);
  };
  PrintRule(out, kTypeNameWidth);
  AppendNameCell(out, "Date       Commit", 17, kTypeNameWidth);
  AppendHeaderCell(out, "Files", numberWidth, false);
  AppendHeaderCell(out, "Blank", numberWidth, false);
  AppendHeaderCell(out, "Comment", numberWidth, false);
  if (isConservative) AppendHeaderCell(out, "Punctuation", numberWidth, false);
  AppendHeaderCell(out, "Code", numberWidth, true);
  out.Append("\n", 1);
  PrintRule(out, kTypeNameWidth);
  for (const HistoryPoint& point : model.history) {
    appendPointName(point);
    const ColumnTotals& total = point.total;
    const int64_t values[5] = {total.files, total.blank, total.comment, total.punctuation, total.code};
    for (int32_t i = 0; i < 5; ++i) {
      if (i == 3 && !isConservative) continue;
      appendNumber(values[i], numberWidth);
      out.Append(i == 4 ? "\n" : " ", 1);
    }
  }
  PrintRule(out, kTypeNameWidth);

  // The languages that reach 1% of a point's code, by their most code lines.
  struct Column {
    FileTypeId type;
    const char* name;
    int32_t width;
  };
  Array<Column> columns;
  for (const HistoryLanguage& language : HistoryLanguages(model)) {
    const int32_t nameLength = static_cast<int32_t>(std::strlen(language.name));
    columns.PushBack(
        Column{language.type, language.name, nameLength > numberWidth ? nameLength : numberWidth});
  }
  if (columns.IsEmpty()) return out;
  int32_t width = kTypeNameWidth;
  for (const Column& column : columns) width += 1 + column.width;
  out.Append("\nCode lines by language\n");
  PrintRule(out, width - 60);
  AppendNameCell(out, "Date       Commit", 17, kTypeNameWidth);
  for (int32_t i = 0; i < columns.Count(); ++i) {
    AppendHeaderCell(out, columns[i].name, columns[i].width, i + 1 == columns.Count());
  }
  out.Append("\n", 1);
  PrintRule(out, width - 60);
  for (const HistoryPoint& point : model.history) {
    appendPointName(point);
    for (int32_t i = 0; i < columns.Count(); ++i) {
      appendNumber(CodeAt(point, columns[i].type), columns[i].width);
      out.Append(i + 1 == columns.Count() ? "\n" : " ", 1);
    }
  }
  PrintRule(out, width - 60);
  return out;
}

// A compare: under each language row (then the total's) the rows same, modified, added
// and removed; with -f instead a row per changed file (its status and path), each with
// the same four rows below it.
SharedString RenderCompareTable(const ReportModel& model) {
  SharedString out;
  const bool isConservative = model.isConservative;
  const bool isByFile = model.hasFileRows;
  const int32_t numberWidth = isConservative ? kConservativeNumberWidth : kGreedyNumberWidth;
  const CompareReport& report = model.compare;
  PrintAnomalies(out, model);
  AppendHeading(out, isByFile, isConservative, kTypeNameWidth, kTypeNameWidth);
  auto appendChanges = [&](const ChangeCounts& changes, bool hasFiles) {
    for (const ChangeRow& change : ChangeRows(changes)) {
      const ColumnTotals& counts = *change.counts;
      int64_t values[5];
      int32_t count = 0;
      if (hasFiles) values[count++] = counts.files;
      values[count++] = counts.blank;
      values[count++] = counts.comment;
      if (isConservative) values[count++] = counts.punctuation;
      values[count++] = counts.code;
      // Indented below the row they belong to.
      out.Append("  ", 2);
      AppendNameCell(out, change.name, static_cast<int32_t>(std::strlen(change.name)), kTypeNameWidth - 2);
      AppendNumberCells(out, values, count, numberWidth, model.isPretty);
    }
  };
  if (isByFile) {
    for (const CompareFileRow& row : report.files) {
      if (row.status == FileChange::kSame) continue;
      out.Append(FileChangeName(row.status));
      out.Append(" ", 1);
      if (row.status == FileChange::kMoved) {
        out.Append(Shown(row.oldPath));
        out.Append(" -> ");
      }
      out.Append(Shown(row.path));
      out.Append("\n", 1);
      appendChanges(row.changes, false);
    }
  } else {
    for (const CompareLanguageRow& row : report.languages) {
      out.Append(row.name);
      out.Append("\n", 1);
      appendChanges(row.changes, true);
    }
  }
  PrintRule(out, kTypeNameWidth);
  out.Append("Total\n");
  appendChanges(report.total, !isByFile);
  return out;
}

}  // namespace

SharedString RenderTable(const ReportModel& model) {
  if (model.isHistory) return RenderHistoryTable(model);
  if (model.isCompare) return RenderCompareTable(model);
  SharedString out;
  const bool isConservative = model.isConservative;
  const bool isByFile = model.hasFileRows;
  const int32_t numberWidth = isConservative ? kConservativeNumberWidth : kGreedyNumberWidth;

  // Paths as shown, control bytes escaped; they set the name column's width.
  Array<SharedString> shownPaths;
  int32_t nameWidth = kTypeNameWidth;
  if (isByFile) {
    nameWidth = isConservative ? kConservativeFileNameWidth : kGreedyFileNameWidth;
    for (const FileRow& row : model.files) {
      shownPaths.PushBack(Shown(row.path));
      if (shownPaths.Back().Length() > nameWidth) nameWidth = shownPaths.Back().Length();
    }
  }
  const int32_t ruleWidth = !isByFile ? nameWidth : nameWidth - (isConservative ? 12 : 15);

  PrintAnomalies(out, model);
  AppendHeading(out, isByFile, isConservative, nameWidth, ruleWidth);

  // The by-file rows have no Files column, and greedy rows no punctuation value.
  auto appendRow = [&](const char* name, int32_t nameLength, const ColumnTotals& counts, bool hasFiles) {
    int64_t values[5];
    int32_t count = 0;
    if (hasFiles) values[count++] = counts.files;
    values[count++] = counts.blank;
    values[count++] = counts.comment;
    if (isConservative) values[count++] = counts.punctuation;
    values[count++] = counts.code;
    AppendNameCell(out, name, nameLength, nameWidth);
    AppendNumberCells(out, values, count, numberWidth, model.isPretty);
  };
  if (isByFile) {
    for (int32_t i = 0; i < model.files.Count(); ++i) {
      appendRow(shownPaths[i].CStr(), shownPaths[i].Length(), model.files[i].counts, false);
    }
  } else {
    for (const LanguageRow& row : model.languages) {
      appendRow(row.name, static_cast<int32_t>(std::strlen(row.name)), row.counts, true);
    }
  }
  PrintRule(out, ruleWidth);
  appendRow("Total", 5, model.total, !isByFile);
  if (model.listsExtensions) PrintExtensions(out, model);
  return out;
}

}  // namespace qm
