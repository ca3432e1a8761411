#include "app/csv_writer.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "app/file_types.h"
#include "app/settings.h"
#include "core/file.h"
#include "core/standard_streams.h"

namespace qm {

namespace {

void AppendNumber(SharedString& out, int64_t value, char after) {
  char text[24];
  const int length = std::snprintf(text, sizeof text, "%" PRId64 "%c", value, after);
  out.Append(text, length);
}

void AppendRowNumbers(SharedString& out, int64_t files, int64_t blank, int64_t comment, int64_t punctuation,
                      int64_t code, bool withPunctuation) {
  AppendNumber(out, files, ',');
  AppendNumber(out, blank, ',');
  AppendNumber(out, comment, ',');
  if (withPunctuation) AppendNumber(out, punctuation, ',');
  AppendNumber(out, code, '\n');
}

void ReportWriteFailure(const SharedString& fileName) {
  std::fprintf(stderr, "Couldn't write CSV file:%s\n", fileName.CStr());
}

}  // namespace

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

SharedString BuildCsvText(const CountTotals& totals, const FileTypeId* sortedTypes, int32_t typeCount,
                          const ColumnTotals& sums, bool withPunctuation) {
  SharedString out(withPunctuation ? "Type,Files,Blank,Comment,Punctuation,Code\n"
                                   : "Type,Files,Blank,Comment,Code\n");
  for (int32_t i = 0; i < typeCount; ++i) {
    const FileTypeId type = sortedTypes[i];
    if (totals.lineCount[type] == 0) continue;
    AppendCsvField(out, TypeNames[type]);
    out.Append(",");
    AppendRowNumbers(out, totals.fileCount[type], totals.blankLines[type], totals.commentLines[type],
                     totals.punctLines[type], totals.codeLines[type], withPunctuation);
  }
  out.Append("Total,");
  AppendRowNumbers(out, sums.files, sums.blank, sums.comment, sums.punctuation, sums.code, withPunctuation);
  return out;
}

void WriteCsv(const SharedString& fileName, const CountTotals& totals, const FileTypeId* sortedTypes,
              int32_t typeCount, const ColumnTotals& sums) {
  const SharedString text = BuildCsvText(totals, sortedTypes, typeCount, sums, settings.conservative);
  // Whatever went to formatted standard output so far must come out first, both for
  // the CSV on standard output and for the messages on a shared terminal.
  std::fflush(stdout);
  if (fileName == "stdout") {
    if (!WriteAll(StandardOutput(), text.CStr(), text.Length())) ReportWriteFailure(fileName);
    return;
  }
  File file;
  if (!file.Open(fileName, kFileWrite | kFileCreate | kFileTruncate, 1)) {
    std::fprintf(stderr, "Couldn't create CSV file:%s\n", fileName.CStr());
    return;
  }
  bool isWritten = WriteAll(file, text.CStr(), text.Length());
  // A full disk may only show when the data reaches it; devices and pipes cannot be
  // synced, and need not be.
  if (isWritten && file.IsRegularFile()) isWritten = file.Flush();
  if (!file.Close()) isWritten = false;
  if (!isWritten) ReportWriteFailure(fileName);
}

}  // namespace qm
