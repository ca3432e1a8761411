#include "app/csv_report.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

namespace qm {

namespace {

void AppendNumber(SharedString& out, int64_t value, char after) {
  char text[24];
  const int length = std::snprintf(text, sizeof text, "%" PRId64 "%c", value, after);
  out.Append(text, length);
}

void AppendRowNumbers(SharedString& out, const ColumnTotals& counts, bool withPunctuation) {
  AppendNumber(out, counts.files, ',');
  AppendNumber(out, counts.blank, ',');
  AppendNumber(out, counts.comment, ',');
  if (withPunctuation) AppendNumber(out, counts.punctuation, ',');
  AppendNumber(out, counts.code, '\n');
}

// A compare: four rows (same, modified, added, removed) a language, then the total's;
// with -f instead four rows a file, every file, by path.
SharedString RenderCompareCsv(const ReportModel& model) {
  const bool withPunctuation = model.isConservative;
  const CompareReport& report = model.compare;
  if (model.hasFileRows) {
    SharedString out(withPunctuation ? "File,Old File,Language,Status,Change,Blank,Comment,Punctuation,Code\n"
                                     : "File,Old File,Language,Status,Change,Blank,Comment,Code\n");
    for (const CompareFileRow& file : report.files) {
      for (const ChangeRow& change : ChangeRows(file.changes)) {
        AppendCsvField(out, file.path.CStr());
        out.Append(",");
        AppendCsvField(out, file.oldPath.CStr());
        out.Append(",");
        AppendCsvField(out, file.language);
        out.Append(",");
        out.Append(FileChangeName(file.status));
        out.Append(",");
        out.Append(change.name);
        out.Append(",");
        AppendNumber(out, change.counts->blank, ',');
        AppendNumber(out, change.counts->comment, ',');
        if (withPunctuation) AppendNumber(out, change.counts->punctuation, ',');
        AppendNumber(out, change.counts->code, '\n');
      }
    }
    return out;
  }
  SharedString out(withPunctuation ? "Language,Change,Files,Blank,Comment,Punctuation,Code\n"
                                   : "Language,Change,Files,Blank,Comment,Code\n");
  auto appendRows = [&](const char* name, const ChangeCounts& changes) {
    for (const ChangeRow& change : ChangeRows(changes)) {
      AppendCsvField(out, name);
      out.Append(",");
      out.Append(change.name);
      out.Append(",");
      AppendRowNumbers(out, *change.counts, withPunctuation);
    }
  };
  for (const CompareLanguageRow& row : report.languages) appendRows(row.name, row.changes);
  appendRows("Total", report.total);
  return out;
}

}  // namespace

const ReportFormat kCsvReport = {"CSV", RenderCsv, &Settings::csvFile};

void AppendCsvField(SharedString& out, const char* text) {
  if (std::strpbrk(text, ",\"\r\n") == nullptr) {
    out.Append(text);
    return;
  }
  out.Append("\"");
  for (const char* quote; (quote = std::strchr(text, '"')) != nullptr; text = quote + 1) {
    out.Append(text, static_cast<int32_t>(quote + 1 - text));
    out.Append("\"");
  }
  out.Append(text);
  out.Append("\"");
}

SharedString RenderCsv(const ReportModel& model) {
  if (model.isCompare) return RenderCompareCsv(model);
  const bool withPunctuation = model.isConservative;
  if (model.isHistory) {
    // A row a point and language, then the point's total.
    SharedString out(withPunctuation ? "Date,Commit,Language,Files,Blank,Comment,Punctuation,Code\n"
                                     : "Date,Commit,Language,Files,Blank,Comment,Code\n");
    for (const HistoryPoint& point : model.history) {
      for (const LanguageRow& row : point.languages) {
        out.Append(point.date);
        out.Append(",");
        out.Append(point.commit);
        out.Append(",");
        AppendCsvField(out, row.name);
        out.Append(",");
        AppendRowNumbers(out, row.counts, withPunctuation);
      }
      out.Append(point.date);
      out.Append(",");
      out.Append(point.commit);
      out.Append(",Total,");
      AppendRowNumbers(out, point.total, withPunctuation);
    }
    return out;
  }
  SharedString out(withPunctuation ? "Type,Files,Blank,Comment,Punctuation,Code\n"
                                   : "Type,Files,Blank,Comment,Code\n");
  for (const LanguageRow& row : model.languages) {
    AppendCsvField(out, row.name);
    out.Append(",");
    AppendRowNumbers(out, row.counts, withPunctuation);
  }
  out.Append("Total,");
  AppendRowNumbers(out, model.total, withPunctuation);
  return out;
}

}  // namespace qm
