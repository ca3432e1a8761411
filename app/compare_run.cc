#include "app/compare_run.h"

#include <algorithm>
#include <cstring>

#include "app/file_reading.h"
#include "app/file_types.h"
#include "app/line_diff.h"
#include "app/md5.h"
#include "app/ordered_pipeline.h"
#include "app/report_writer.h"
#include "app/settings.h"
#include "core/hash_table.h"
#include "core/stable_sort.h"
#include "count/classify_text.h"
#include "count/line_totals.h"

namespace qm {

namespace {

// Pairs handed to a worker at a time.
constexpr int32_t kPairsPerBatch = 16;
// A pair of more lines than this on both sides together is compared by its common
// start and end alone, the lines between them replaced: the diff's search takes up to
// some 60 bytes a line, so a worker holds at most about 300 MB for it (measured: 290 MB
// for two files of 2 Mi distinct lines).
constexpr int64_t kMostDiffLines = int64_t{1} << 22;

struct ComparePair {
  int32_t oldIndex = -1;  // -1: added
  int32_t newIndex = -1;  // -1: removed
  FileChange status = FileChange::kSame;
  ChangeCounts changes;
};

// A file's text as classified (ending with a line break) and the length of its own
// bytes (without the break intake added to a last line without one).
struct TextView {
  const uint8_t* bytes = nullptr;
  int32_t length = 0;
  int32_t ownLength = 0;
};

// What a text is read into: the file's bytes and, for UTF-16, its UTF-8 form.
struct TextBuffer {
  Array<uint8_t> raw;
  Array<uint8_t> utf8;
};

// The text of a record: held (an archive member, a stream), read from its revision's
// source or read from disk again, and turned into UTF-8 as intake did. False when it
// cannot be had now (the file went away or grew past the limit since it was counted).
bool LoadText(const FileRecord& record, TextBuffer& buffer, TextView& view) {
  if (!record.text.IsEmpty()) {
    view.bytes = record.text.Data();
    view.length = record.text.Count();
    view.ownLength = view.length - (record.hasAddedBreak ? 1 : 0);
    return true;
  }
  if (record.source != nullptr) {
    bool noMemory = false;
    if (!record.source->ReadContent(record.id, buffer.raw, noMemory)) return false;
  } else if (ReadFromDisk(record.path.CStr(), settings.maxFileSize, buffer.raw) != ContentRead::kRead) {
    return false;
  }
  FileFacts facts;
  MeasureContent(facts, buffer.raw.Data(), buffer.raw.Count());
  if (facts.sizeInBytes == 0) return false;
  facts.utf16Kind = DetectUtf16(buffer.raw.Data(), facts.sizeInBytes);
  const Text text = DecodeContent(facts, buffer.raw.Data(), buffer.utf8);
  if (facts.outcome != ContentRead::kRead) return false;
  view.bytes = text.bytes;
  view.length = text.length;
  view.ownLength = text.length - (text.hasAddedBreak ? 1 : 0);
  return true;
}

// Where the line that starts at cursor ends, after its break (as SplitLines cuts).
const uint8_t* LineEnd(const uint8_t* cursor, const uint8_t* end) {
  while (cursor < end && *cursor != '\n' && *cursor != '\r') ++cursor;
  if (cursor < end) cursor += *cursor == '\r' && cursor + 1 < end && cursor[1] == '\n' ? 2 : 1;
  return cursor;
}

// Where the line that ends at end (after its break, if any) starts. Requires: end > begin.
const uint8_t* LineStart(const uint8_t* begin, const uint8_t* end) {
  const uint8_t* cursor = end;
  if (cursor[-1] == '\n') {
    --cursor;
    if (cursor > begin && cursor[-1] == '\r') --cursor;
  } else if (cursor[-1] == '\r') {
    --cursor;
  }
  while (cursor > begin && cursor[-1] != '\n' && cursor[-1] != '\r') --cursor;
  return cursor;
}

// The runs of a diff that keeps only the lines the two texts share at their start and
// at their end and replaces every line between: valid, and minimal when the change is
// one block.
void DiffByEdges(const TextView& oldText, const TextView& newText, int64_t oldCount, int64_t newCount,
                 Array<DiffRun>& runs) {
  const uint8_t* oldCursor = oldText.bytes;
  const uint8_t* newCursor = newText.bytes;
  const uint8_t* oldEnd = oldText.bytes + oldText.ownLength;
  const uint8_t* newEnd = newText.bytes + newText.ownLength;
  int64_t start = 0;
  while (oldCursor < oldEnd && newCursor < newEnd) {
    const uint8_t* oldNext = LineEnd(oldCursor, oldEnd);
    const uint8_t* newNext = LineEnd(newCursor, newEnd);
    if (oldNext - oldCursor != newNext - newCursor ||
        std::memcmp(oldCursor, newCursor, static_cast<size_t>(oldNext - oldCursor)) != 0) {
      break;
    }
    ++start;
    oldCursor = oldNext;
    newCursor = newNext;
  }
  const int64_t most = std::min(oldCount, newCount) - start;
  int64_t end = 0;
  while (end < most) {
    const uint8_t* oldStart = LineStart(oldText.bytes, oldEnd);
    const uint8_t* newStart = LineStart(newText.bytes, newEnd);
    if (oldEnd - oldStart != newEnd - newStart ||
        std::memcmp(oldStart, newStart, static_cast<size_t>(oldEnd - oldStart)) != 0) {
      break;
    }
    ++end;
    oldEnd = oldStart;
    newEnd = newStart;
  }
  runs.Clear();
  runs.PushBack(DiffRun{static_cast<int32_t>(start), static_cast<int32_t>(oldCount - start - end),
                        static_cast<int32_t>(newCount - start - end)});
  runs.PushBack(DiffRun{static_cast<int32_t>(end), 0, 0});
}

bool HasSameContentId(const FileRecord& a, const FileRecord& b) {
  return a.source != nullptr && b.source != nullptr &&
         std::memcmp(a.id.bytes, b.id.bytes, sizeof a.id.bytes) == 0;
}

void AddWhole(ColumnTotals& totals, const FileRecord& record) {
  totals.files += 1;
  totals.blank += record.blank;
  totals.comment += record.comment;
  totals.punctuation += record.punctuation;
  totals.code += record.code;
}

// A changed pair whose lines cannot be compared: every line removed and added.
void ReplaceWhole(const FileRecord& oldRecord, const FileRecord& newRecord, ChangeCounts& changes) {
  AddWhole(changes.removed, oldRecord);
  AddWhole(changes.added, newRecord);
  changes.removed.files = 0;
  changes.added.files = 0;
  changes.modified.files = 1;
}

void AddLine(ColumnTotals& totals, uint8_t kind) {
  switch (kind) {
    case kLineBlank:
      ++totals.blank;
      break;
    case kLineComment:
      ++totals.comment;
      break;
    case kLinePunctuation:
      ++totals.punctuation;
      break;
    default:
      ++totals.code;
      break;
  }
}

void AddColumns(ColumnTotals& target, const ColumnTotals& more) {
  target.files += more.files;
  target.blank += more.blank;
  target.comment += more.comment;
  target.punctuation += more.punctuation;
  target.code += more.code;
}

// Compares the pairs of a compare on the workers, each pair into its own result.
class PairComparer final : private OrderedPipeline::Client {
 public:
  PairComparer(const Array<FileRecord>& oldRecords, const Array<FileRecord>& newRecords,
               Array<ComparePair>& pairs)
      : oldRecords_(oldRecords), newRecords_(newRecords), pairs_(pairs) {}

  void Run(int32_t workerCount) {
    pipeline_.Start(workerCount, workerCount * 2 + 2, this);
    scratch_.Resize(pipeline_.WorkerCount() + 1);
    ranges_.Resize(pipeline_.SlotCount());
    for (int32_t begin = 0; begin < pairs_.Count(); begin += kPairsPerBatch) {
      const int32_t slot = pipeline_.AcquireSlot();
      ranges_[slot] = Range{begin, std::min(begin + kPairsPerBatch, pairs_.Count())};
      pipeline_.Submit();
    }
    pipeline_.Stop();
  }

 private:
  struct Range {
    int32_t begin = 0;
    int32_t end = 0;
  };
  struct Scratch {
    Scratch() { totals.ResetLines(); }
    LineTotals totals;
    TextBuffer oldText;
    TextBuffer newText;
    Array<uint8_t> oldKinds;
    Array<uint8_t> newKinds;
    Array<LineSpan> oldLines;
    Array<LineSpan> newLines;
    Array<DiffRun> runs;
  };

  void Work(int32_t slot, int32_t worker) override {
    for (int32_t i = ranges_[slot].begin; i < ranges_[slot].end; ++i) Compare(pairs_[i], scratch_[worker]);
  }
  void Merge(int32_t) override {}

  void Compare(ComparePair& pair, Scratch& scratch) const {
    ChangeCounts& changes = pair.changes;
    if (pair.oldIndex < 0) {
      AddWhole(changes.added, newRecords_[pair.newIndex]);
      return;
    }
    const FileRecord& oldRecord = oldRecords_[pair.oldIndex];
    if (pair.newIndex < 0) {
      AddWhole(changes.removed, oldRecord);
      return;
    }
    const FileRecord& newRecord = newRecords_[pair.newIndex];
    if (pair.status == FileChange::kMoved || HasSameContentId(oldRecord, newRecord)) {
      AddWhole(changes.same, newRecord);
      return;
    }
    pair.status = FileChange::kModified;
    TextView oldText;
    TextView newText;
    if (!LoadText(oldRecord, scratch.oldText, oldText) || !LoadText(newRecord, scratch.newText, newText)) {
      // Gone since it was counted: replaced whole.
      ReplaceWhole(oldRecord, newRecord, changes);
      return;
    }
    if (oldText.ownLength == newText.ownLength &&
        std::memcmp(oldText.bytes, newText.bytes, static_cast<size_t>(oldText.ownLength)) == 0) {
      pair.status = FileChange::kSame;
      AddWhole(changes.same, newRecord);
      return;
    }
    if (!Classify(oldRecord.type, oldText, scratch, scratch.oldKinds) ||
        !Classify(newRecord.type, newText, scratch, scratch.newKinds)) {
      // No memory for the kinds: replaced whole.
      ReplaceWhole(oldRecord, newRecord, changes);
      return;
    }
    const int64_t lineCount = int64_t{scratch.oldKinds.Count()} + scratch.newKinds.Count();
    if (lineCount > kMostDiffLines) {
      DiffByEdges(oldText, newText, scratch.oldKinds.Count(), scratch.newKinds.Count(), scratch.runs);
    } else {
      SplitLines(oldText.bytes, oldText.ownLength, scratch.oldLines);
      SplitLines(newText.bytes, newText.ownLength, scratch.newLines);
      DiffLines(scratch.oldLines, scratch.newLines, scratch.runs);
    }
    const uint8_t* oldKinds = scratch.oldKinds.Data();
    const uint8_t* newKinds = scratch.newKinds.Data();
    int64_t oldLine = 0;
    int64_t newLine = 0;
    for (const DiffRun& run : scratch.runs) {
      for (int32_t k = 0; k < run.same; ++k) AddLine(changes.same, newKinds[newLine++]);
      oldLine += run.same;
      const int32_t modified = std::min(run.removed, run.added);
      for (int32_t k = 0; k < modified; ++k) AddLine(changes.modified, newKinds[newLine++]);
      oldLine += modified;
      for (int32_t k = modified; k < run.added; ++k) AddLine(changes.added, newKinds[newLine++]);
      for (int32_t k = modified; k < run.removed; ++k) AddLine(changes.removed, oldKinds[oldLine++]);
    }
    changes.modified.files = 1;
  }

  // The kind of every line of a text, by the rules of type; false when there is no
  // memory for them.
  static bool Classify(FileTypeId type, const TextView& text, Scratch& scratch, Array<uint8_t>& kinds) {
    const int32_t count = static_cast<int32_t>(CountTextLines(text.bytes, text.length));
    if (count > kinds.Capacity() && !kinds.TryReserve(count)) return false;
    kinds.Resize(count);
    ClassifyText(scratch.totals, type, text.bytes, text.length, kinds.Data());
    scratch.totals.lineCount[type] = 0;
    scratch.totals.blankLines[type] = 0;
    scratch.totals.commentLines[type] = 0;
    scratch.totals.codeLines[type] = 0;
    scratch.totals.punctLines[type] = 0;
    return true;
  }

  const Array<FileRecord>& oldRecords_;
  const Array<FileRecord>& newRecords_;
  Array<ComparePair>& pairs_;
  OrderedPipeline pipeline_;
  Array<Scratch> scratch_;
  Array<Range> ranges_;
};

// Indices of keys in byte order of the keys (equal keys in record order).
Array<int32_t> KeyOrder(const Array<SharedString>& keys) {
  Array<int32_t> order;
  for (int32_t i = 0; i < keys.Count(); ++i) order.PushBack(i);
  StableSort(order.Data(), order.Count(), [&keys](int32_t a, int32_t b) { return keys[a] < keys[b]; });
  return order;
}

// The digest of a record's text, in digest; false when the text cannot be had.
bool DigestOfText(const FileRecord& record, TextBuffer& buffer, Md5Digest& digest) {
  TextView text;
  if (!LoadText(record, buffer, text)) return false;
  digest = Md5Of(text.bytes, static_cast<size_t>(text.ownLength));
  return true;
}

// Pairs removed and added files of the same text as moved: each added file, in key
// order, with the first removed file (in key order) of its text not taken yet.
void PairMoves(const Array<FileRecord>& oldRecords, const Array<FileRecord>& newRecords,
               Array<ComparePair>& pairs) {
  TextBuffer buffer;
  Md5Digest digest;
  // Removed files by digest: the first in key order, then a chain through next.
  HashTable<DigestKey, int32_t, DigestKeyTraits, false> firstRemoved;
  Array<int32_t> next;
  next.Resize(pairs.Count());
  for (int32_t i = pairs.Count() - 1; i >= 0; --i) {
    next[i] = -1;
    if (pairs[i].newIndex >= 0 || pairs[i].oldIndex < 0) continue;
    if (!DigestOfText(oldRecords[pairs[i].oldIndex], buffer, digest)) continue;
    const int32_t entry = firstRemoved.FindOrInsert(digest);
    // Filled from the back: an entry is new (0) or holds the removed file after this one.
    next[i] = firstRemoved.Value(entry) - 1;
    firstRemoved.Value(entry) = i + 1;
  }
  if (firstRemoved.IsEmpty()) return;
  // Files of the same text have the same size: only added files of a removed one's size
  // are read.
  Array<int64_t> removedSizes;
  for (const ComparePair& pair : pairs) {
    if (pair.newIndex < 0) removedSizes.PushBack(oldRecords[pair.oldIndex].size);
  }
  std::sort(removedSizes.begin(), removedSizes.end());
  for (int32_t i = 0; i < pairs.Count(); ++i) {
    if (pairs[i].oldIndex >= 0 || pairs[i].newIndex < 0) continue;
    if (!std::binary_search(removedSizes.begin(), removedSizes.end(), newRecords[pairs[i].newIndex].size)) {
      continue;
    }
    if (!DigestOfText(newRecords[pairs[i].newIndex], buffer, digest)) continue;
    int32_t* head = firstRemoved.Find(digest);
    if (head == nullptr || *head == 0) continue;
    const int32_t removed = *head - 1;
    *head = next[removed] + 1;
    pairs[i].oldIndex = pairs[removed].oldIndex;
    pairs[i].status = FileChange::kMoved;
    pairs[removed].oldIndex = -1;  // taken: dropped below
  }
  int32_t kept = 0;
  for (int32_t i = 0; i < pairs.Count(); ++i) {
    if (pairs[i].oldIndex < 0 && pairs[i].newIndex < 0) continue;
    if (kept != i) pairs[kept] = std::move(pairs[i]);
    ++kept;
  }
  pairs.Resize(kept);
}

void AddLanguageRows(CompareReport& report, const Array<FileRecord>& oldRecords,
                     const Array<FileRecord>& newRecords, const Array<ComparePair>& pairs) {
  Array<ChangeCounts> byType;
  byType.Resize(kTypeSlots);
  for (const ComparePair& pair : pairs) {
    const FileTypeId newType = pair.newIndex >= 0 ? newRecords[pair.newIndex].type : kTypeUnknown;
    const FileTypeId oldType = pair.oldIndex >= 0 ? oldRecords[pair.oldIndex].type : newType;
    if (pair.newIndex >= 0) {
      AddColumns(byType[newType].same, pair.changes.same);
      AddColumns(byType[newType].modified, pair.changes.modified);
      AddColumns(byType[newType].added, pair.changes.added);
    }
    AddColumns(byType[oldType].removed, pair.changes.removed);
  }
  for (FileTypeId type = 1; type < kTypeSlots; ++type) {
    const ChangeCounts& changes = byType[type];
    if (LinesOf(changes.same) + LinesOf(changes.modified) + LinesOf(changes.added) +
            LinesOf(changes.removed) ==
        0) {
      continue;
    }
    report.languages.PushBack(CompareLanguageRow{type, TypeNames[type], changes});
    AddColumns(report.total.same, changes.same);
    AddColumns(report.total.modified, changes.modified);
    AddColumns(report.total.added, changes.added);
    AddColumns(report.total.removed, changes.removed);
  }
  auto newCode = [](const ChangeCounts& changes) {
    return changes.same.code + changes.modified.code + changes.added.code;
  };
  StableSort(report.languages.Data(), report.languages.Count(),
             [&newCode](const CompareLanguageRow& a, const CompareLanguageRow& b) {
               if (newCode(a.changes) != newCode(b.changes)) return newCode(a.changes) > newCode(b.changes);
               if (a.changes.removed.code != b.changes.removed.code) {
                 return a.changes.removed.code > b.changes.removed.code;
               }
               return a.type < b.type;
             });
}

}  // namespace

Array<SharedString> CompareKeys(const CompareSide& side) {
  Array<SharedString> keys;
  bool isArchiveSide = !side.archive.IsEmpty();
  SharedString archivePrefix = side.archive;
  archivePrefix.Append("/", 1);
  SharedString rootPrefix = side.root;
  if (!rootPrefix.EndsWith("/")) rootPrefix.Append("/", 1);
  for (const FileRecord& record : side.records) {
    SharedString key;
    if (!record.archive.IsEmpty()) {
      // A member: its path in the archive, below the archive that is the side, or
      // below the path of the archive found there.
      if (!(isArchiveSide && record.archive == side.archive)) {
        if (isArchiveSide && record.archive.StartsWith(archivePrefix.CStr())) {
          key = SharedString(record.archive.CStr() + archivePrefix.Length(),
                             record.archive.CStr() + record.archive.Length());
        } else {
          key = record.archive;
        }
        key.Append("/", 1);
      }
      const char* path = record.path.CStr();
      const char* end = path + record.path.Length();
      while (path != end && (*path == '/' || (*path == '.' && path + 1 != end && path[1] == '/'))) ++path;
      key.Append(path, static_cast<int32_t>(end - path));
    } else if (isArchiveSide) {
      // A file argument that is no archive: the file itself.
      const char* path = record.path.CStr();
      const char* name = path + record.path.Length();
      while (name != path && name[-1] != '/') --name;
      key = SharedString(name, path + record.path.Length());
    } else if (record.path.StartsWith(rootPrefix.CStr())) {
      key = SharedString(record.path.CStr() + rootPrefix.Length(), record.path.CStr() + record.path.Length());
    } else {
      key = record.path;
    }
    // One top directory above every member is the archive's root.
    if (record.archive == side.archive && !side.archiveTop.IsEmpty() &&
        key.StartsWith(side.archiveTop.CStr()) && key.Length() > side.archiveTop.Length() &&
        key[side.archiveTop.Length()] == '/') {
      key = SharedString(key.CStr() + side.archiveTop.Length() + 1, key.CStr() + key.Length());
    }
    keys.PushBack(std::move(key));
  }
  return keys;
}

void CompareSides(int32_t workerCount, CompareSide& oldSide, CompareSide& newSide, ReportModel& model) {
  model.isCompare = true;
  CompareReport& report = model.compare;
  report.oldName = settings.compareOld;
  report.newName = settings.compareNew;
  const Array<FileRecord>& oldRecords = oldSide.records;
  const Array<FileRecord>& newRecords = newSide.records;
  Array<SharedString> oldKeys = CompareKeys(oldSide);
  Array<SharedString> newKeys = CompareKeys(newSide);
  // Two files named on the command line are one pair whatever their names.
  if (!oldSide.archive.IsEmpty() && !newSide.archive.IsEmpty() && oldRecords.Count() == 1 &&
      newRecords.Count() == 1 && oldRecords[0].archive.IsEmpty() && newRecords[0].archive.IsEmpty()) {
    oldKeys[0] = newKeys[0];
  }
  const Array<int32_t> oldOrder = KeyOrder(oldKeys);
  const Array<int32_t> newOrder = KeyOrder(newKeys);

  // Pairs in key order: equal keys pair, the others are removed or added.
  Array<ComparePair> pairs;
  int32_t i = 0;
  int32_t j = 0;
  while (i < oldOrder.Count() || j < newOrder.Count()) {
    ComparePair pair;
    const int order = i == oldOrder.Count()   ? 1
                      : j == newOrder.Count() ? -1
                                              : oldKeys[oldOrder[i]].Compare(newKeys[newOrder[j]]);
    if (order <= 0) pair.oldIndex = oldOrder[i++];
    if (order >= 0) pair.newIndex = newOrder[j++];
    pairs.PushBack(pair);
  }
  PairMoves(oldRecords, newRecords, pairs);
  for (ComparePair& pair : pairs) {
    pair.status = pair.oldIndex < 0   ? FileChange::kAdded
                  : pair.newIndex < 0 ? FileChange::kRemoved
                                      : pair.status;
  }
  PairComparer(oldRecords, newRecords, pairs).Run(workerCount);

  AddLanguageRows(report, oldRecords, newRecords, pairs);
  const ReportFormat* format = settings.reportFormat;
  if (settings.byFile || (format != nullptr && format->needsFileRows)) {
    for (const ComparePair& pair : pairs) {
      CompareFileRow row;
      const bool isRemoved = pair.newIndex < 0;
      const FileRecord& record = isRemoved ? oldRecords[pair.oldIndex] : newRecords[pair.newIndex];
      row.path = isRemoved ? oldKeys[pair.oldIndex] : newKeys[pair.newIndex];
      if (pair.oldIndex >= 0) row.oldPath = oldKeys[pair.oldIndex];
      row.type = record.type;
      row.language = TypeNames[record.type];
      row.status = pair.status;
      row.changes = pair.changes;
      report.files.PushBack(std::move(row));
    }
    StableSort(report.files.Data(), report.files.Count(),
               [](const CompareFileRow& a, const CompareFileRow& b) { return a.path < b.path; });
  }
  oldSide.records.Clear();
  newSide.records.Clear();
}

}  // namespace qm
