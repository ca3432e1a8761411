// Fuzz target of the -diff reader. Any bytes must parse without reading outside the
// input, give the same totals whether they arrive whole or in two pieces (cut at a
// position taken from the first byte), and leave every counter either untouched
// (lineCount 0) or marked and within the diff bounds.
#include <cstdint>
#include <cstdlib>

#include "app/diff_csv_internal.h"
#include "app/run_state.h"

namespace {

bool SameCounters(const qm::CountTotals& a, const qm::CountTotals& b) {
  for (int type = 0; type < qm::kTypeSlots; ++type) {
    if (a.fileCount[type] != b.fileCount[type] || a.lineCount[type] != b.lineCount[type] ||
        a.blankLines[type] != b.blankLines[type] || a.commentLines[type] != b.commentLines[type] ||
        a.punctLines[type] != b.punctLines[type] || a.codeLines[type] != b.codeLines[type]) {
      return false;
    }
  }
  return true;
}

bool InBounds(int64_t value) {
  return value >= -qm::kDiffCounterLimit && value <= qm::kDiffCounterLimit;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static qm::CountTotals whole;
  static qm::CountTotals pieces;
  qm::ResetTotals(whole);
  qm::ResetTotals(pieces);

  const bool isWholeOk = qm::ApplyDiffCsv(data, data + size, whole);

  const size_t cut = size == 0 ? 0 : data[0] % (size + 1);
  qm::DiffCsvReader reader(pieces);
  reader.Feed(data, data + cut);
  reader.Feed(data + cut, data + size);
  reader.Finish();

  if (isWholeOk == reader.HasBadRow() || !SameCounters(whole, pieces)) std::abort();
  for (int type = 0; type < qm::kTypeSlots; ++type) {
    if (whole.lineCount[type] != 0 && whole.lineCount[type] != qm::kDiffLineMarker) std::abort();
    if (type == 0 && whole.lineCount[type] != 0) std::abort();  // "Unknown" is never named
    if (!InBounds(whole.fileCount[type]) || !InBounds(whole.blankLines[type]) ||
        !InBounds(whole.commentLines[type]) || !InBounds(whole.punctLines[type]) ||
        !InBounds(whole.codeLines[type])) {
      std::abort();
    }
  }
  return 0;
}
