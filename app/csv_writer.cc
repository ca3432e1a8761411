#include "app/csv_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "app/file_types.h"
#include "app/message_output.h"
#include "app/settings.h"
#include "core/file.h"

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

void ReportWriteFailure(const char* kind, const SharedString& fileName, int reason) {
  PrintError("Couldn't write %s file: %s: %s\n", kind, Shown(fileName).CStr(), std::strerror(reason));
}

// Writes all of text to descriptor; false with errno set when a write fails.
bool WriteAllTo(int descriptor, const char* text, size_t length) {
  while (length > 0) {
    const ssize_t written = write(descriptor, text, length);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    text += written;
    length -= static_cast<size_t>(written);
  }
  return true;
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

bool WriteCsv(const SharedString& fileName, const CountTotals& totals, const FileTypeId* sortedTypes,
              int32_t typeCount, const ColumnTotals& sums) {
  return WriteReportFile("CSV", fileName,
                         BuildCsvText(totals, sortedTypes, typeCount, sums, settings.conservative));
}

bool WriteReportFile(const char* kind, const SharedString& fileName, const SharedString& text) {
  const size_t length = static_cast<size_t>(text.Length());
  if (fileName == "stdout") {
    // Nothing else goes to standard output in this mode; what is buffered there (a
    // test harness may have printed) comes first.
    std::fflush(stdout);
    if (WriteAllTo(STDOUT_FILENO, text.CStr(), length)) return true;
    ReportWriteFailure(kind, fileName, errno);
    return false;
  }
  // A FIFO named here (process substitution) is waited for, as any writer would.
  int descriptor;
  do {
    descriptor = open(fileName.CStr(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  } while (descriptor < 0 && errno == EINTR);
  if (descriptor < 0) {
    const int reason = errno;
    PrintError("Couldn't create %s file: %s: %s\n", kind, Shown(fileName).CStr(), std::strerror(reason));
    return false;
  }
  bool isWritten = WriteAllTo(descriptor, text.CStr(), length);
  // A full disk may only show when the data reaches it; devices and pipes cannot be
  // synced, and need not be.
  if (isWritten && IsRegularDescriptor(descriptor)) isWritten = fsync(descriptor) == 0;
  int reason = errno;
  if (close(descriptor) != 0 && isWritten) {
    isWritten = false;
    reason = errno;
  }
  if (!isWritten) ReportWriteFailure(kind, fileName, reason);
  return isWritten;
}

}  // namespace qm
