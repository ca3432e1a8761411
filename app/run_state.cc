#include "app/run_state.h"

#include <cstring>

#include "app/file_types.h"

namespace qm {

Array<FileRecord> fileRecords;
StringSet uniqueExtensions;

void ResetTotals(CountTotals& totals) {
  totals.ResetLines();
  std::memset(totals.fileCount, 0, sizeof totals.fileCount);
  std::memset(totals.byteCount, 0, sizeof totals.byteCount);
  totals.dupCount = 0;
  totals.emptyCount = 0;
  totals.utf16LeCount = 0;
  totals.utf16BeCount = 0;
  totals.errorCount = 0;
  totals.tooBigCount = 0;
  totals.digests.Clear();
  totals.deferredDigests.Clear();
  totals.anomalyPaths = AnomalyPaths();
}

void AnomalyPathList::Add(const SharedString& path, const SharedString& detail) {
  if (kept.Count() < kAnomalyPathsKept) {
    kept.PushBack(AnomalyPath{path, detail});
  } else {
    ++leftOut;
  }
}

void ClearRunState() {
  fileRecords.Clear();
  uniqueExtensions.Clear();
  extensionMap.Clear();
}

}  // namespace qm
