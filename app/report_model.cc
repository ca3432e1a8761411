#include "app/report_model.h"

#include <cstdlib>
#include <cstring>
#include <ctime>

#include "app/file_types.h"
#include "app/report_writer.h"
#include "app/settings.h"
#include "core/hash_table.h"
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
    row.location = row.path;
    if (!row.archive.IsEmpty()) {
      row.location = row.archive;
      row.location.Append("/", 1);
      row.location.Append(row.path);
    }
    row.type = record.type;
    row.language = TypeNames[record.type];
    row.counts = {1, record.blank, record.comment, record.punctuation, record.code};
    rows.PushBack(std::move(row));
  }
  // Hot for -f and the page: small keys are sorted, the rows' paths read only on ties,
  // and each row moved once.
  struct SortKey {
    int64_t code;
    FileTypeId type;
    int32_t row;
  };
  Array<SortKey> order;
  order.Reserve(rows.Count());
  for (int32_t i = 0; i < rows.Count(); ++i) order.PushBack(SortKey{rows[i].counts.code, rows[i].type, i});
  StableSort(order.Data(), order.Count(), [&rows](const SortKey& a, const SortKey& b) {
    if (a.code != b.code) return a.code > b.code;
    if (a.type != b.type) return a.type < b.type;
    return rows[a.row].path.Compare(rows[b.row].path) < 0;
  });
  model.files.Reserve(rows.Count());
  for (const SortKey& key : order) model.files.PushBack(std::move(rows[key.row]));
}

// Code lines of one type below one directory: a list per directory, linked through
// one pool (most directories hold few languages).
struct TypeCode {
  FileTypeId type;
  int64_t code;
  int32_t next;  // index in the pool, or -1
};

// Where the directory holding text[0, end) ends: before the slashes in front of its
// name (0 for the root).
int32_t ParentEnd(const char* text, int32_t end) {
  while (end > 0 && text[end - 1] != '/') --end;
  while (end > 0 && text[end - 1] == '/') --end;
  return end;
}

void AddDirectories(ReportModel& model) {
  Array<DirectoryRow>& directories = model.directories;
  StringSet index;  // directory path -> row: rows are made in insertion order
  index.Insert(SharedString());
  directories.PushBack(DirectoryRow());
  Array<int32_t> firstTypeCode;
  firstTypeCode.PushBack(-1);
  Array<TypeCode> pool;
  Array<int32_t> missing;  // ends of the directories of a file not seen yet, deepest first
  for (int32_t f = 0; f < model.files.Count(); ++f) {
    FileRow& file = model.files[f];
    const char* const text = file.location.CStr();
    // The file's directory is looked up first; only a new one has its parents looked
    // up (and made) too.
    int32_t end = ParentEnd(text, file.location.Length());
    int32_t parent = 0;
    missing.Clear();
    while (end > 0) {
      parent = index.IndexOf(text, text + end);
      if (parent >= 0) break;
      missing.PushBack(end);
      end = ParentEnd(text, end);
      parent = 0;
    }
    for (int32_t k = missing.Count() - 1; k >= 0; --k) {
      const int32_t row = directories.Count();
      DirectoryRow directory;
      directory.path = SharedString(text, text + missing[k]);
      directory.nameStart = missing[k];
      while (directory.nameStart > 0 && text[directory.nameStart - 1] != '/') --directory.nameStart;
      directory.parent = parent;
      index.Insert(directory.path);
      directories.PushBack(std::move(directory));
      directories[parent].directories.PushBack(row);
      firstTypeCode.PushBack(-1);
      parent = row;
    }
    file.directory = parent;
    directories[parent].fileRows.PushBack(f);
    for (int32_t d = parent; d >= 0; d = directories[d].parent) {
      DirectoryRow& directory = directories[d];
      ++directory.files;
      directory.code = SaturatingAdd(directory.code, file.counts.code);
      int32_t entry = firstTypeCode[d];
      while (entry >= 0 && pool[entry].type != file.type) entry = pool[entry].next;
      if (entry < 0) {
        entry = pool.Count();
        pool.PushBack(TypeCode{file.type, 0, firstTypeCode[d]});
        firstTypeCode[d] = entry;
      }
      pool[entry].code = SaturatingAdd(pool[entry].code, file.counts.code);
    }
  }
  for (int32_t d = 0; d < directories.Count(); ++d) {
    DirectoryRow& directory = directories[d];
    for (int32_t entry = firstTypeCode[d]; entry >= 0; entry = pool[entry].next) {
      const TypeCode& typeCode = pool[entry];
      if (directory.mainType == kTypeUnknown || typeCode.code > directory.mainCode ||
          (typeCode.code == directory.mainCode && typeCode.type < directory.mainType)) {
        directory.mainType = typeCode.type;
        directory.mainCode = typeCode.code;
      }
    }
    StableSort(directory.directories.Data(), directory.directories.Count(),
               [&directories](int32_t a, int32_t b) {
                 if (directories[a].code != directories[b].code)
                   return directories[a].code > directories[b].code;
                 return directories[a].path.Compare(directories[b].path) < 0;
               });
  }
}

ColumnTotals SumColumns(const ColumnTotals& a, const ColumnTotals& b) {
  return {SaturatingAdd(a.files, b.files), SaturatingAdd(a.blank, b.blank),
          SaturatingAdd(a.comment, b.comment), SaturatingAdd(a.punctuation, b.punctuation),
          SaturatingAdd(a.code, b.code)};
}

// The saved and current sides of every language row; in the greedy layout the saved
// punctuation counts as code, as the counted lines do.
void AddComparison(ReportModel& model, const SavedCounts& saved) {
  SavedComparison& comparison = model.comparison;
  for (const LanguageRow& row : model.languages) {
    ColumnTotals savedRow = saved.byType[row.type];
    if (!model.isConservative) {
      savedRow.code = SaturatingAdd(savedRow.code, savedRow.punctuation);
      savedRow.punctuation = 0;
    }
    const ColumnTotals currentRow = SumColumns(row.counts, savedRow);
    comparison.saved.PushBack(savedRow);
    comparison.current.PushBack(currentRow);
    comparison.savedTotal = SumColumns(comparison.savedTotal, savedRow);
    comparison.currentTotal = SumColumns(comparison.currentTotal, currentRow);
  }
}

// SOURCE_DATE_EPOCH when it is a decimal number of seconds, else now.
int64_t CountingTime() {
  if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH"); epoch != nullptr && *epoch != 0) {
    char* end = nullptr;
    const long long seconds = std::strtoll(epoch, &end, 10);
    if (*end == 0 && seconds >= 0) return seconds;
  }
  return static_cast<int64_t>(std::time(nullptr));
}

}  // namespace

void KeepSavedCounts(const CountTotals& loaded, SavedCounts& saved) {
  // LoadDiffCsv holds every counter within +-kDiffCounterLimit: negating cannot overflow.
  for (FileTypeId type = 0; type < kTypeSlots; ++type) {
    saved.byType[type] = {-loaded.fileCount[type], -loaded.blankLines[type], -loaded.commentLines[type],
                          -loaded.punctLines[type], -loaded.codeLines[type]};
  }
}

const char* FileChangeName(FileChange change) {
  switch (change) {
    case FileChange::kSame:
      return "same";
    case FileChange::kModified:
      return "modified";
    case FileChange::kAdded:
      return "added";
    case FileChange::kRemoved:
      return "removed";
    case FileChange::kMoved:
      return "moved";
  }
  return "";
}

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

Array<HistoryLanguage> HistoryLanguages(const ReportModel& model) {
  Array<HistoryLanguage> languages;
  for (const HistoryPoint& point : model.history) {
    for (const LanguageRow& row : point.languages) {
      if (point.total.code <= 0 || row.counts.code * 100 < point.total.code) continue;
      int32_t index = 0;
      while (index < languages.Count() && languages[index].type != row.type) ++index;
      if (index == languages.Count()) languages.PushBack(HistoryLanguage{row.type, row.name, 0});
      if (row.counts.code > languages[index].mostCode) languages[index].mostCode = row.counts.code;
    }
  }
  StableSort(languages.Data(), languages.Count(), [](const HistoryLanguage& a, const HistoryLanguage& b) {
    if (a.mostCode != b.mostCode) return a.mostCode > b.mostCode;
    return a.type < b.type;
  });
  return languages;
}

int64_t CodeAt(const HistoryPoint& point, FileTypeId type) {
  for (const LanguageRow& row : point.languages) {
    if (row.type == type) return row.counts.code;
  }
  return 0;
}

ReportModel BuildReportModel(const CountTotals& totals, bool isConservative, const SavedCounts* saved) {
  const ReportFormat* format = settings.reportFormat;
  const bool needsFileRows = format != nullptr && format->needsFileRows;
  ReportModel model;
  model.isConservative = isConservative;
  model.isPretty = settings.prettyPrint;
  model.hasFileRows = settings.byFile;
  model.listsExtensions = settings.listExtensions;
  model.diffFile = settings.diffFile;
  model.maxFileSize = settings.maxFileSize;
  model.standardInputName = settings.stdinName;
  model.inputs = settings.dirArgs;
  model.options = settings.optionArgs;
  model.countedAt = CountingTime();
  AddLanguages(model.languages, model.total, totals);
  if (model.hasFileRows || needsFileRows) AddFiles(model, fileRecords);
  if (needsFileRows) AddDirectories(model);
  model.anomalies = {totals.errorCount, totals.tooBigCount,  totals.dupCount,
                     totals.emptyCount, totals.utf16LeCount, totals.utf16BeCount};
  if (format != nullptr && format->needsAnomalyPaths) {
    model.hasAnomalyPaths = true;
    model.anomalyPaths = totals.anomalyPaths;
  }
  if (saved != nullptr) {
    model.hasComparison = true;
    AddComparison(model, *saved);
  }
  if (model.listsExtensions) {
    for (int32_t i = 0; i < uniqueExtensions.Count(); ++i) model.extensions.PushBack(uniqueExtensions.Key(i));
  }
  return model;
}

}  // namespace qm
