#include "app/report_model.h"

#include "app/file_types.h"
#include "app/settings.h"
#include "core/path.h"
#include "core/stable_sort.h"

namespace qm {

namespace {

// The directory of a path: without its last component, keeping the '/' before it;
// empty when the path has no '/'.
SharedString DirectoryOf(const SharedString& path) {
  SharedString normalized = path;
  NormalizePath(normalized);
  return JoinPath(normalized, "..");
}

// Deepest directory holding every listed file read from disk, or empty.
SharedString CommonDirectory(const Array<FileRecord>& records) {
  SharedString common;
  bool isFirst = true;
  for (const FileRecord& record : records) {
    if (!record.onDisk || record.lines == 0) continue;
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

void AddLanguages(Array<LanguageRow>& languages, ColumnTotals& total, const CountTotals& totals) {
  FileTypeId types[kTypeSlots];
  for (FileTypeId type = 0; type < kTypeSlots; ++type) types[type] = type;
  StableSort(types, kTypeSlots, [&totals](FileTypeId a, FileTypeId b) {
    if (totals.codeLines[a] != totals.codeLines[b]) return totals.codeLines[a] > totals.codeLines[b];
    return a < b;
  });
  for (const FileTypeId type : types) {
    if (totals.lineCount[type] == 0) continue;
    LanguageRow row;
    row.type = type;
    row.name = TypeNames[type];
    row.counts = {totals.fileCount[type], totals.blankLines[type], totals.commentLines[type],
                  totals.punctLines[type], totals.codeLines[type]};
    ColumnTotals& sum = total;
    sum.files = SaturatingAdd(sum.files, row.counts.files);
    sum.blank = SaturatingAdd(sum.blank, row.counts.blank);
    sum.comment = SaturatingAdd(sum.comment, row.counts.comment);
    sum.punctuation = SaturatingAdd(sum.punctuation, row.counts.punctuation);
    sum.code = SaturatingAdd(sum.code, row.counts.code);
    languages.PushBack(row);
  }
}

void AddFiles(ReportModel& model, const Array<FileRecord>& records) {
  const SharedString common = CommonDirectory(records);
  for (const FileRecord& record : records) {
    if (record.lines == 0) continue;
    FileRow row;
    row.path = record.path;
    if (record.onDisk && !common.IsEmpty() &&
        row.path.StartsWith(common.CStr(), common.CStr() + common.Length())) {
      row.path.EraseLeft(common.Length());
    }
    row.archive = record.archive;
    row.type = record.type;
    row.language = TypeNames[record.type];
    row.counts = {1, record.blank, record.comment, record.punctuation, record.code};
    model.files.PushBack(std::move(row));
  }
  StableSort(model.files.Data(), model.files.Count(), [](const FileRow& a, const FileRow& b) {
    if (a.counts.code != b.counts.code) return a.counts.code > b.counts.code;
    if (a.type != b.type) return a.type < b.type;
    return a.path.Compare(b.path) < 0;
  });
}

}  // namespace

int64_t SaturatingAdd(int64_t a, int64_t b) {
  int64_t sum;
  if (__builtin_add_overflow(a, b, &sum)) return b < 0 ? INT64_MIN : INT64_MAX;
  return sum;
}

HistoryPoint BuildHistoryPoint(const CountTotals& totals, const SharedString& commit,
                               const SharedString& date) {
  HistoryPoint point;
  point.commit = commit;
  point.date = date;
  AddLanguages(point.languages, point.total, totals);
  return point;
}

ReportModel BuildReportModel(const CountTotals& totals, bool isConservative) {
  ReportModel model;
  model.isConservative = isConservative;
  model.isPretty = settings.prettyPrint;
  model.hasFileRows = settings.byFile;
  model.listsExtensions = settings.listExtensions;
  model.diffFile = settings.diffFile;
  model.maxFileSize = settings.maxFileSize;
  AddLanguages(model.languages, model.total, totals);
  if (model.hasFileRows) AddFiles(model, fileRecords);
  model.anomalies = {totals.errorCount, totals.tooBigCount,  totals.dupCount,
                     totals.emptyCount, totals.utf16LeCount, totals.utf16BeCount};
  if (model.listsExtensions) {
    for (int32_t i = 0; i < uniqueExtensions.Count(); ++i) model.extensions.PushBack(uniqueExtensions.Key(i));
  }
  return model;
}

}  // namespace qm
