// Fuzz target of the line diff. The input is two texts split at its first NUL byte
// (none: the second is empty). Their diff must be valid (the runs cover both texts in
// order, every line of a same run equal to its partner byte for byte) and minimal:
// removed + added equals the lines of both less twice their longest common subsequence,
// computed here by dynamic programming for texts of up to kMostLines lines.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "app/line_diff.h"

namespace {

constexpr int32_t kMostLines = 300;

bool IsEqual(const qm::LineSpan& a, const qm::LineSpan& b) {
  return a.length == b.length && std::memcmp(a.bytes, b.bytes, static_cast<size_t>(a.length)) == 0;
}

int32_t LongestCommon(const qm::Array<qm::LineSpan>& a, const qm::Array<qm::LineSpan>& b) {
  qm::Array<int32_t> row;
  qm::Array<int32_t> next;
  row.Resize(b.Count() + 1);
  next.Resize(b.Count() + 1);
  for (int32_t i = a.Count() - 1; i >= 0; --i) {
    for (int32_t j = b.Count() - 1; j >= 0; --j) {
      next[j] = IsEqual(a[i], b[j]) ? row[j + 1] + 1 : (row[j] > next[j + 1] ? row[j] : next[j + 1]);
    }
    row = next;
  }
  return row[0];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t* split = static_cast<const uint8_t*>(std::memchr(data, 0, size));
  const size_t oldSize = split == nullptr ? size : static_cast<size_t>(split - data);
  const uint8_t* newText = split == nullptr ? data + size : split + 1;
  const size_t newSize = static_cast<size_t>(data + size - newText);
  qm::Array<qm::LineSpan> oldLines;
  qm::Array<qm::LineSpan> newLines;
  qm::SplitLines(data, static_cast<int64_t>(oldSize), oldLines);
  qm::SplitLines(newText, static_cast<int64_t>(newSize), newLines);
  qm::Array<qm::DiffRun> runs;
  qm::DiffLines(oldLines, newLines, runs);
  int32_t i = 0;
  int32_t j = 0;
  int64_t changes = 0;
  for (const qm::DiffRun& run : runs) {
    if (run.same < 0 || run.removed < 0 || run.added < 0) std::abort();
    for (int32_t k = 0; k < run.same; ++k) {
      if (i >= oldLines.Count() || j >= newLines.Count() || !IsEqual(oldLines[i++], newLines[j++]))
        std::abort();
    }
    i += run.removed;
    j += run.added;
    changes += run.removed + run.added;
  }
  if (i != oldLines.Count() || j != newLines.Count()) std::abort();
  if (oldLines.Count() <= kMostLines && newLines.Count() <= kMostLines &&
      changes != oldLines.Count() + newLines.Count() - 2 * LongestCommon(oldLines, newLines)) {
    std::abort();
  }
  return 0;
}
