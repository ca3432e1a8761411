#include "app/report_model.h"

#include <cstring>

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

// Whether the directory of a path ending in this name is that of its text up to the
// name: no byte of the name takes part in normalising (see core/path.h), so that paths
// of one directory give one result.
bool IsPlainName(const char* name, const char* end) {
  if (name == end || static_cast<unsigned char>(end[-1]) <= ' ' || end[-1] == '.') return false;
  for (const char* cursor = name; cursor < end; ++cursor) {
    if (*cursor == '\\' || *cursor == '"' || *cursor == '\'') return false;
  }
  return true;
}

// Deepest directory holding every listed file read from disk, or empty. Hot for -f
// and the page: files of the directory just seen are passed over without normalising
// their paths again.
SharedString CommonDirectory(const Array<FileRecord>& records) {
  SharedString common;
  bool isFirst = true;
  const FileRecord* previous = nullptr;  // the last record whose directory was taken
  int32_t previousPrefix = 0;            // its text up to and including the last '/'
  for (const FileRecord& record : records) {
    if (!record.onDisk || record.lines == 0) continue;
    const char* const text = record.path.CStr();
    const char* const end = text + record.path.Length();
    const char* name = end;
    while (name != text && name[-1] != '/') --name;
    const int32_t prefix = static_cast<int32_t>(name - text);
    if (previous != nullptr && prefix == previousPrefix && prefix > 0 && IsPlainName(name, end) &&
        std::memcmp(text, previous->path.CStr(), static_cast<size_t>(prefix)) == 0) {
      continue;
    }
    if (IsPlainName(name, end)) {
      previous = &record;
      previousPrefix = prefix;
    }
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

void AddLanguages(ReportModel& model, const CountTotals& totals) {
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
    ColumnTotals& sum = model.total;
    sum.files = SaturatingAdd(sum.files, row.counts.files);
    sum.blank = SaturatingAdd(sum.blank, row.counts.blank);
    sum.comment = SaturatingAdd(sum.comment, row.counts.comment);
    sum.punctuation = SaturatingAdd(sum.punctuation, row.counts.punctuation);
    sum.code = SaturatingAdd(sum.code, row.counts.code);
    model.languages.PushBack(row);
  }
}

void AddFiles(ReportModel& model, const Array<FileRecord>& records) {
  const SharedString common = CommonDirectory(records);
  Array<FileRow> rows;
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
    rows.PushBack(std::move(row));
  }
  // Hot for -f and the page: indexes are sorted, and each row moved once.
  Array<int32_t> order;
  order.Reserve(rows.Count());
  for (int32_t i = 0; i < rows.Count(); ++i) order.PushBack(i);
  StableSort(order.Data(), order.Count(), [&rows](int32_t left, int32_t right) {
    const FileRow& a = rows[left];
    const FileRow& b = rows[right];
    if (a.counts.code != b.counts.code) return a.counts.code > b.counts.code;
    if (a.type != b.type) return a.type < b.type;
    return a.path.Compare(b.path) < 0;
  });
  model.files.Reserve(rows.Count());
  for (const int32_t i : order) model.files.PushBack(std::move(rows[i]));
}

}  // namespace

int64_t SaturatingAdd(int64_t a, int64_t b) {
  int64_t sum;
  if (__builtin_add_overflow(a, b, &sum)) return b < 0 ? INT64_MIN : INT64_MAX;
  return sum;
}

ReportModel BuildReportModel(const CountTotals& totals, bool isConservative) {
  ReportModel model;
  model.isConservative = isConservative;
  model.isPretty = settings.prettyPrint;
  model.hasFileRows = settings.byFile;
  model.listsExtensions = settings.listExtensions;
  model.diffFile = settings.diffFile;
  model.maxFileSize = settings.maxFileSize;
  AddLanguages(model, totals);
  if (model.hasFileRows) AddFiles(model, fileRecords);
  model.anomalies = {totals.errorCount, totals.tooBigCount,  totals.dupCount,
                     totals.emptyCount, totals.utf16LeCount, totals.utf16BeCount};
  if (model.listsExtensions) {
    for (int32_t i = 0; i < uniqueExtensions.Count(); ++i) model.extensions.PushBack(uniqueExtensions.Key(i));
  }
  return model;
}

}  // namespace qm
