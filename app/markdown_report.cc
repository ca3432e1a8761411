#include "app/markdown_report.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "app/report_text.h"

namespace qm {

namespace {

void AppendCell(SharedString& out, int64_t value) {
  char text[24];
  const int length = std::snprintf(text, sizeof text, " %" PRId64 " |", value);
  out.Append(text, length);
}

// "| a | b |" then the alignment row: the first textColumns columns left, the rest
// right. Without punctuation (greedy) a "Punctuation" column is left out.
void AppendHeader(SharedString& out, const char* const* names, int32_t count, int32_t textColumns = 1,
                  bool withPunctuation = true) {
  SharedString alignment("|");
  out.Append("|");
  for (int32_t i = 0; i < count; ++i) {
    if (!withPunctuation && std::strcmp(names[i], "Punctuation") == 0) continue;
    out.Append(" ");
    out.Append(names[i]);
    out.Append(" |");
    alignment.Append(i < textColumns ? " :-- |" : " --: |");
  }
  out.Append("\n");
  out.Append(alignment);
  out.Append("\n");
}

void AppendLineCells(SharedString& out, const ColumnTotals& counts, bool withPunctuation) {
  AppendCell(out, counts.blank);
  AppendCell(out, counts.comment);
  if (withPunctuation) AppendCell(out, counts.punctuation);
  AppendCell(out, counts.code);
  out.Append("\n");
}

}  // namespace

const ReportFormat kMarkdownReport = {"Markdown", RenderMarkdown, &Settings::mdFile};

namespace {

void AppendShortCommit(SharedString& out, const HistoryPoint& point) {
  out.Append(point.commit.CStr(), point.commit.Length() < 8 ? point.commit.Length() : 8);
}

// A history: a row a point, then the code lines of the languages that reach 1% of the
// code at some point.
SharedString RenderHistoryMarkdown(const ReportModel& model) {
  const bool withPunctuation = model.isConservative;
  SharedString out;
  const char* const columns[] = {"Date", "Commit", "Files", "Blank", "Comment", "Punctuation", "Code"};
  AppendHeader(out, columns, 7, 2, withPunctuation);
  for (const HistoryPoint& point : model.history) {
    out.Append("| ");
    AppendMarkdownText(out, point.date);
    out.Append(" | ");
    AppendShortCommit(out, point);
    out.Append(" |");
    AppendCell(out, point.total.files);
    AppendLineCells(out, point.total, withPunctuation);
  }
  const Array<HistoryLanguage> languages = HistoryLanguages(model);
  if (languages.IsEmpty()) return out;
  out.Append("\nCode lines by language\n\n| Date | Commit |");
  for (const HistoryLanguage& language : languages) {
    out.Append(" ");
    AppendMarkdownText(out, language.name);
    out.Append(" |");
  }
  out.Append("\n| :-- | :-- |");
  for (int32_t i = 0; i < languages.Count(); ++i) out.Append(" --: |");
  out.Append("\n");
  for (const HistoryPoint& point : model.history) {
    out.Append("| ");
    AppendMarkdownText(out, point.date);
    out.Append(" | ");
    AppendShortCommit(out, point);
    out.Append(" |");
    for (const HistoryLanguage& language : languages) AppendCell(out, CodeAt(point, language.type));
    out.Append("\n");
  }
  return out;
}

// A compare: a sentence naming the sides, four rows (same, modified, added, removed) a
// language and for the total; with -f a row per changed file with its lines by change.
SharedString RenderCompareMarkdown(const ReportModel& model) {
  const bool withPunctuation = model.isConservative;
  const CompareReport& report = model.compare;
  SharedString out("From ");
  AppendMarkdownText(out, report.oldName);
  out.Append(" to ");
  AppendMarkdownText(out, report.newName);
  out.Append(".\n\n");
  const char* const columns[] = {"Language", "Change", "Files", "Blank", "Comment", "Punctuation", "Code"};
  AppendHeader(out, columns, 7, 2, withPunctuation);
  auto appendRows = [&](const char* name, const ChangeCounts& changes) {
    for (const ChangeRow& change : ChangeRows(changes)) {
      out.Append("| ");
      AppendMarkdownText(out, name);
      out.Append(" | ");
      out.Append(change.name);
      out.Append(" |");
      AppendCell(out, change.counts->files);
      AppendLineCells(out, *change.counts, withPunctuation);
    }
  };
  for (const CompareLanguageRow& row : report.languages) appendRows(row.name, row.changes);
  appendRows("Total", report.total);
  if (!model.hasFileRows) return out;
  out.Append("\n");
  const char* const fileColumns[] = {"Status", "File",     "Old file", "Language",
                                     "Same",   "Modified", "Added",    "Removed"};
  AppendHeader(out, fileColumns, 8, 4);
  for (const CompareFileRow& row : report.files) {
    if (row.status == FileChange::kSame) continue;
    out.Append("| ");
    out.Append(FileChangeName(row.status));
    out.Append(" | ");
    AppendMarkdownText(out, row.path);
    out.Append(" | ");
    if (row.status == FileChange::kMoved) AppendMarkdownText(out, row.oldPath);
    out.Append(" | ");
    AppendMarkdownText(out, row.language);
    out.Append(" |");
    AppendCell(out, LinesOf(row.changes.same));
    AppendCell(out, LinesOf(row.changes.modified));
    AppendCell(out, LinesOf(row.changes.added));
    AppendCell(out, LinesOf(row.changes.removed));
    out.Append("\n");
  }
  return out;
}

}  // namespace

SharedString RenderMarkdown(const ReportModel& model) {
  if (model.isHistory) return RenderHistoryMarkdown(model);
  if (model.isCompare) return RenderCompareMarkdown(model);
  const bool withPunctuation = model.isConservative;
  SharedString out;
  if (model.hasComparison) {
    out.Append("Current minus saved in ");
    AppendMarkdownText(out, model.diffFile);
    out.Append(".\n\n");
  }
  const char* const languageColumns[] = {"Language", "Files", "Blank", "Comment", "Punctuation", "Code"};
  AppendHeader(out, languageColumns, 6, 1, withPunctuation);
  for (const LanguageRow& row : model.languages) {
    out.Append("| ");
    AppendMarkdownText(out, row.name);
    out.Append(" |");
    AppendCell(out, row.counts.files);
    AppendLineCells(out, row.counts, withPunctuation);
  }
  out.Append("| Total |");
  AppendCell(out, model.total.files);
  AppendLineCells(out, model.total, withPunctuation);

  if (model.hasComparison) {
    const SavedComparison& comparison = model.comparison;
    out.Append("\n");
    const char* const columns[] = {"Language",   "Saved files",  "Current files",
                                   "Saved code", "Current code", "Change in code"};
    AppendHeader(out, columns, 6);
    auto appendRow = [&out](const char* name, const ColumnTotals& saved, const ColumnTotals& current,
                            int64_t change) {
      out.Append("| ");
      AppendMarkdownText(out, name);
      out.Append(" |");
      AppendCell(out, saved.files);
      AppendCell(out, current.files);
      AppendCell(out, saved.code);
      AppendCell(out, current.code);
      AppendCell(out, change);
      out.Append("\n");
    };
    for (int32_t i = 0; i < model.languages.Count(); ++i) {
      appendRow(model.languages[i].name, comparison.saved[i], comparison.current[i],
                model.languages[i].counts.code);
    }
    appendRow("Total", comparison.savedTotal, comparison.currentTotal, model.total.code);
  }

  if (model.hasFileRows) {
    out.Append("\n");
    const char* const fileColumns[] = {"File", "Language", "Blank", "Comment", "Punctuation", "Code"};
    AppendHeader(out, fileColumns, 6, 2, withPunctuation);
    for (const FileRow& row : model.files) {
      out.Append("| ");
      AppendMarkdownText(out, row.location);
      out.Append(" | ");
      AppendMarkdownText(out, row.language);
      out.Append(" |");
      AppendLineCells(out, row.counts, withPunctuation);
    }
  }
  return out;
}

}  // namespace qm
