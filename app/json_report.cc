#include "app/json_report.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "app/file_types.h"
#include "app/settings.h"
#include "app/summary_report.h"

namespace qm {

namespace {

// The descriptor the document goes to with "-json stdout" once RouteMessagesForJson
// has run; -1 before.
int documentDescriptor = -1;

// Length of the valid UTF-8 sequence (2 to 4 bytes) at cursor, or 0. Overlong forms,
// surrogates and code points above U+10FFFF are not valid.
int32_t Utf8SequenceLength(const uint8_t* cursor, const uint8_t* end) {
  const uint8_t lead = cursor[0];
  int32_t length;
  uint8_t low = 0x80;
  uint8_t high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (end - cursor < length) return 0;
  if (cursor[1] < low || cursor[1] > high) return 0;
  for (int32_t i = 2; i < length; ++i) {
    if (cursor[i] < 0x80 || cursor[i] > 0xBF) return 0;
  }
  return length;
}

void AppendKey(SharedString& out, const char* key) {
  out.Append("\"", 1);
  out.Append(key);
  out.Append("\": ", 3);
}

void AppendNumber(SharedString& out, const char* key, int64_t value, bool isLast = false) {
  char text[64];
  const int length = std::snprintf(text, sizeof text, "\"%s\": %" PRId64 "%s", key, value, isLast ? "" : ", ");
  out.Append(text, length);
}

// blank, comment, (punctuation), code: the numbers every row and the total share.
void AppendLineCounts(SharedString& out, int64_t blank, int64_t comment, int64_t punctuation, int64_t code) {
  AppendNumber(out, "blank", blank);
  AppendNumber(out, "comment", comment);
  if (settings.conservative) AppendNumber(out, "punctuation", punctuation);
  AppendNumber(out, "code", code, true);
}

void AppendText(SharedString& out, const char* text) {
  AppendJsonString(out, text, text + std::strlen(text));
}

bool WriteAll(int descriptor, const SharedString& text) {
  const char* cursor = text.CStr();
  const char* end = cursor + text.Length();
  while (cursor < end) {
    const ssize_t done = write(descriptor, cursor, static_cast<size_t>(end - cursor));
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return false;
    cursor += done;
  }
  return true;
}

void ReportFailure(const char* what, const SharedString& name) {
  std::fflush(stdout);
  std::fprintf(stderr, "Couldn't %s JSON file: %s: %s\n", what, name.CStr(), std::strerror(errno));
}

void WriteDocument(const SharedString& document) {
  const SharedString& name = settings.jsonFile;
  if (name == "stdout") {
    std::fflush(stdout);
    if (!WriteAll(documentDescriptor >= 0 ? documentDescriptor : STDOUT_FILENO, document)) {
      ReportFailure("write", name);
    }
    return;
  }
  const int descriptor = open(name.CStr(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (descriptor < 0) {
    ReportFailure("create", name);
    return;
  }
  bool isWritten = WriteAll(descriptor, document) && fsync(descriptor) == 0;
  if (!isWritten) ReportFailure("write", name);
  if (close(descriptor) != 0 && isWritten) ReportFailure("write", name);
}

}  // namespace

void AppendJsonString(SharedString& out, const char* begin, const char* end) {
  static constexpr char kHex[] = "0123456789abcdef";
  out.Append("\"", 1);
  const auto* cursor = reinterpret_cast<const uint8_t*>(begin);
  const auto* last = reinterpret_cast<const uint8_t*>(end);
  while (cursor < last) {
    const uint8_t byte = *cursor;
    if (byte >= 0x80) {
      const int32_t length = Utf8SequenceLength(cursor, last);
      if (length == 0) {
        out.Append("\xEF\xBF\xBD", 3);  // U+FFFD for this byte alone
        ++cursor;
      } else if (length == 2 && byte == 0xC2 && cursor[1] < 0xA0) {
        // U+0080 to U+009F, the C1 control characters.
        const char escaped[6] = {'\\', 'u', '0', '0', kHex[cursor[1] >> 4], kHex[cursor[1] & 15]};
        out.Append(escaped, 6);
        cursor += 2;
      } else {
        out.Append(reinterpret_cast<const char*>(cursor), length);
        cursor += length;
      }
      continue;
    }
    ++cursor;
    if (byte == '"' || byte == '\\') {
      const char escaped[2] = {'\\', static_cast<char>(byte)};
      out.Append(escaped, 2);
    } else if (byte == '\n') {
      out.Append("\\n", 2);
    } else if (byte == '\t') {
      out.Append("\\t", 2);
    } else if (byte == '\r') {
      out.Append("\\r", 2);
    } else if (byte < 0x20 || byte == 0x7F) {
      const char escaped[6] = {'\\', 'u', '0', '0', kHex[byte >> 4], kHex[byte & 15]};
      out.Append(escaped, 6);
    } else {
      const char plain = static_cast<char>(byte);
      out.Append(&plain, 1);
    }
  }
  out.Append("\"", 1);
}

SharedString BuildJsonReport(const CountTotals& totals) {
  SharedString out;
  out.Append("{\n  ");
  AppendKey(out, "mode");
  AppendText(out, settings.conservative ? "conservative" : "greedy");
  if (!settings.diffFile.IsEmpty()) {
    out.Append(",\n  ");
    AppendKey(out, "diff");
    AppendJsonString(out, settings.diffFile.CStr(), settings.diffFile.CStr() + settings.diffFile.Length());
  }
  out.Append(",\n  ");
  AppendKey(out, "languages");
  out.Append("[");
  FileTypeId types[kTypeSlots];
  SortReportTypes(totals, types);
  bool isFirst = true;
  for (const FileTypeId type : types) {
    if (totals.lineCount[type] == 0) continue;
    out.Append(isFirst ? "\n    {" : ",\n    {");
    isFirst = false;
    AppendKey(out, "name");
    AppendText(out, TypeNames[type]);
    out.Append(", ");
    AppendNumber(out, "files", totals.fileCount[type]);
    AppendLineCounts(out, totals.blankLines[type], totals.commentLines[type], totals.punctLines[type],
                     totals.codeLines[type]);
    out.Append("}");
  }
  out.Append(isFirst ? "],\n  " : "\n  ],\n  ");

  const ColumnTotals sums = SumReportColumns(totals);
  AppendKey(out, "total");
  out.Append("{");
  AppendNumber(out, "files", sums.files);
  AppendLineCounts(out, sums.blank, sums.comment, sums.punctuation, sums.code);
  out.Append("},\n  ");

  AppendKey(out, "anomalies");
  out.Append("{");
  AppendNumber(out, "errors", totals.errorCount);
  AppendNumber(out, "tooBig", totals.tooBigCount);
  AppendNumber(out, "duplicates", totals.dupCount);
  AppendNumber(out, "empty", totals.emptyCount);
  AppendNumber(out, "utf16", totals.utf16LeCount + totals.utf16BeCount, true);
  out.Append("}");

  if (settings.byFile) {
    ComputeNameWidth();  // shortens the paths and sorts the rows as the table shows them
    out.Append(",\n  ");
    AppendKey(out, "files");
    out.Append("[");
    isFirst = true;
    for (const FileRecord& record : fileRecords) {
      if (record.lines == 0) continue;
      out.Append(isFirst ? "\n    {" : ",\n    {");
      isFirst = false;
      AppendKey(out, "path");
      AppendJsonString(out, record.path.CStr(), record.path.CStr() + record.path.Length());
      out.Append(", ");
      AppendKey(out, "language");
      AppendText(out, TypeNames[record.type]);
      out.Append(", ");
      AppendLineCounts(out, record.blank, record.comment, record.punctuation, record.code);
      out.Append("}");
    }
    out.Append(isFirst ? "]" : "\n  ]");
  }
  out.Append("\n}\n");
  return out;
}

void RouteMessagesForJson() {
  if (!(settings.jsonFile == "stdout") || documentDescriptor >= 0) return;
  std::fflush(stdout);
  documentDescriptor = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
  if (documentDescriptor < 0) return;  // standard output is closed: nothing to keep apart
  if (dup2(STDERR_FILENO, STDOUT_FILENO) < 0) return;
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
}

void WriteJsonReport(const CountTotals& totals) {
  if (settings.showProgress) std::printf("%" PRId64 " total files\n", progressCount);
  WriteDocument(BuildJsonReport(totals));
  if (settings.listExtensions) {
    SharedString listing;
    PrintExtensions(listing);
    std::fwrite(listing.CStr(), 1, static_cast<size_t>(listing.Length()), stdout);
  }
  std::fflush(stdout);
}

}  // namespace qm
