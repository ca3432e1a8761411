#include "app/json_report.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "app/report_text.h"

namespace qm {

namespace {

void AppendKey(SharedString& out, const char* key) {
  out.Append("\"", 1);
  out.Append(key);
  out.Append("\": ", 3);
}

void AppendNumber(SharedString& out, const char* key, int64_t value, bool isLast = false) {
  char text[64];
  const int length =
      std::snprintf(text, sizeof text, "\"%s\": %" PRId64 "%s", key, value, isLast ? "" : ", ");
  out.Append(text, length);
}

// blank, comment, (punctuation), code: the numbers every row and the total share.
void AppendLineCounts(SharedString& out, const ColumnTotals& counts, bool withPunctuation) {
  AppendNumber(out, "blank", counts.blank);
  AppendNumber(out, "comment", counts.comment);
  if (withPunctuation) AppendNumber(out, "punctuation", counts.punctuation);
  AppendNumber(out, "code", counts.code, true);
}

void AppendText(SharedString& out, const char* text) {
  AppendJsonString(out, text, text + std::strlen(text));
}

void AppendPath(SharedString& out, const SharedString& path) {
  AppendJsonString(out, path.CStr(), path.CStr() + path.Length());
}

// "same": K, "modified": K, "added": K, "removed": K; K = {"files": n, "blank": n, ...}
void AppendChanges(SharedString& out, const ChangeCounts& changes, bool withPunctuation) {
  const char* separator = "";
  for (const ChangeRow& change : ChangeRows(changes)) {
    out.Append(separator);
    separator = ", ";
    AppendKey(out, change.name);
    out.Append("{");
    AppendNumber(out, "files", change.counts->files);
    AppendLineCounts(out, *change.counts, withPunctuation);
    out.Append("}");
  }
}

// A compare: the sides, the languages and total by change, and with -f every file.
void AppendCompare(SharedString& out, const ReportModel& model) {
  const bool withPunctuation = model.isConservative;
  const CompareReport& report = model.compare;
  out.Append(",\n  ");
  AppendKey(out, "compare");
  out.Append("{");
  AppendKey(out, "old");
  AppendPath(out, report.oldName);
  out.Append(", ");
  AppendKey(out, "new");
  AppendPath(out, report.newName);
  out.Append("},\n  ");
  AppendKey(out, "languages");
  out.Append("[");
  bool isFirst = true;
  for (const CompareLanguageRow& row : report.languages) {
    out.Append(isFirst ? "\n    {" : ",\n    {");
    isFirst = false;
    AppendKey(out, "name");
    AppendText(out, row.name);
    out.Append(", ");
    AppendChanges(out, row.changes, withPunctuation);
    out.Append("}");
  }
  out.Append(isFirst ? "],\n  " : "\n  ],\n  ");
  AppendKey(out, "total");
  out.Append("{");
  AppendChanges(out, report.total, withPunctuation);
  out.Append("},\n  ");
  const AnomalyCounts& anomalies = model.anomalies;
  AppendKey(out, "anomalies");
  out.Append("{");
  AppendNumber(out, "errors", anomalies.errors);
  AppendNumber(out, "tooBig", anomalies.tooBig);
  AppendNumber(out, "empty", anomalies.empty);
  AppendNumber(out, "utf16", SaturatingAdd(anomalies.utf16Le, anomalies.utf16Be), true);
  out.Append("},\n  ");
  AppendKey(out, "files");
  out.Append("[");
  isFirst = true;
  for (const CompareFileRow& row : report.files) {
    out.Append(isFirst ? "\n    {" : ",\n    {");
    isFirst = false;
    AppendKey(out, "path");
    AppendPath(out, row.path);
    out.Append(", ");
    AppendKey(out, "old_path");
    if (row.status == FileChange::kAdded) {
      out.Append("null");
    } else {
      AppendPath(out, row.oldPath);
    }
    out.Append(", ");
    AppendKey(out, "language");
    AppendText(out, row.language);
    out.Append(", ");
    AppendKey(out, "status");
    AppendText(out, FileChangeName(row.status));
    out.Append(", ");
    AppendChanges(out, row.changes, withPunctuation);
    out.Append("}");
  }
  out.Append(isFirst ? "]\n}\n" : "\n  ]\n}\n");
}

}  // namespace

const ReportFormat kJsonReport = {"JSON", RenderJson, &Settings::jsonFile};

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

SharedString RenderJson(const ReportModel& model) {
  const bool withPunctuation = model.isConservative;
  SharedString out;
  out.Append("{\n  ");
  AppendKey(out, "mode");
  AppendText(out, withPunctuation ? "conservative" : "greedy");
  if (model.isCompare) {
    AppendCompare(out, model);
    return out;
  }
  if (model.isHistory) {
    out.Append(",\n  ");
    AppendKey(out, "history");
    out.Append("[");
    bool isFirstPoint = true;
    for (const HistoryPoint& point : model.history) {
      out.Append(isFirstPoint ? "\n    {" : ",\n    {");
      isFirstPoint = false;
      AppendKey(out, "commit");
      AppendText(out, point.commit.CStr());
      out.Append(", ");
      AppendKey(out, "date");
      AppendText(out, point.date.CStr());
      out.Append(", ");
      AppendKey(out, "languages");
      out.Append("[");
      bool isFirst = true;
      for (const LanguageRow& row : point.languages) {
        out.Append(isFirst ? "{" : ", {");
        isFirst = false;
        AppendKey(out, "name");
        AppendText(out, row.name);
        out.Append(", ");
        AppendNumber(out, "files", row.counts.files);
        AppendLineCounts(out, row.counts, withPunctuation);
        out.Append("}");
      }
      out.Append("], ");
      AppendKey(out, "total");
      out.Append("{");
      AppendNumber(out, "files", point.total.files);
      AppendLineCounts(out, point.total, withPunctuation);
      out.Append("}}");
    }
    out.Append(isFirstPoint ? "]\n}\n" : "\n  ]\n}\n");
    return out;
  }
  if (!model.diffFile.IsEmpty()) {
    out.Append(",\n  ");
    AppendKey(out, "diff");
    AppendJsonString(out, model.diffFile.CStr(), model.diffFile.CStr() + model.diffFile.Length());
  }
  out.Append(",\n  ");
  AppendKey(out, "languages");
  out.Append("[");
  bool isFirst = true;
  for (const LanguageRow& row : model.languages) {
    out.Append(isFirst ? "\n    {" : ",\n    {");
    isFirst = false;
    AppendKey(out, "name");
    AppendText(out, row.name);
    out.Append(", ");
    AppendNumber(out, "files", row.counts.files);
    AppendLineCounts(out, row.counts, withPunctuation);
    out.Append("}");
  }
  out.Append(isFirst ? "],\n  " : "\n  ],\n  ");

  AppendKey(out, "total");
  out.Append("{");
  AppendNumber(out, "files", model.total.files);
  AppendLineCounts(out, model.total, withPunctuation);
  out.Append("},\n  ");

  const AnomalyCounts& anomalies = model.anomalies;
  AppendKey(out, "anomalies");
  out.Append("{");
  AppendNumber(out, "errors", anomalies.errors);
  AppendNumber(out, "tooBig", anomalies.tooBig);
  AppendNumber(out, "duplicates", anomalies.duplicates);
  AppendNumber(out, "empty", anomalies.empty);
  AppendNumber(out, "utf16", SaturatingAdd(anomalies.utf16Le, anomalies.utf16Be), true);
  out.Append("}");

  if (model.hasFileRows) {
    out.Append(",\n  ");
    AppendKey(out, "files");
    out.Append("[");
    isFirst = true;
    for (const FileRow& row : model.files) {
      out.Append(isFirst ? "\n    {" : ",\n    {");
      isFirst = false;
      AppendKey(out, "path");
      AppendJsonString(out, row.path.CStr(), row.path.CStr() + row.path.Length());
      out.Append(", ");
      if (!row.archive.IsEmpty()) {
        AppendKey(out, "archive");
        AppendJsonString(out, row.archive.CStr(), row.archive.CStr() + row.archive.Length());
        out.Append(", ");
      }
      AppendKey(out, "language");
      AppendText(out, row.language);
      out.Append(", ");
      AppendLineCounts(out, row.counts, withPunctuation);
      out.Append("}");
    }
    out.Append(isFirst ? "]" : "\n  ]");
  }
  out.Append("\n}\n");
  return out;
}

}  // namespace qm
