// LineTotals: the per-type line counters that the classification engine adds to: five
// arrays of signed 64-bit counters indexed by FileTypeId. A record belongs to its
// owner, and only one thread changes it at a time (no locks). Intentionally copyable;
// zero it with Reset.

// After a file is classified, the rise of lineCount[type] equals the sum of the rises
// of the four category counters. The run's totals record (app/run_state.h) extends
// this record with file, byte and anomaly counters, so the engine writes straight
// into it.
#pragma once

#include <cstdint>
#include <cstring>

#include "count/file_type_id.h"

namespace qm {

struct LineTotals {
  int64_t lineCount[kTypeSlots];
  int64_t blankLines[kTypeSlots];
  int64_t commentLines[kTypeSlots];
  int64_t codeLines[kTypeSlots];
  int64_t punctLines[kTypeSlots];

  void ResetLines() {
    std::memset(lineCount, 0, sizeof lineCount);
    std::memset(blankLines, 0, sizeof blankLines);
    std::memset(commentLines, 0, sizeof commentLines);
    std::memset(codeLines, 0, sizeof codeLines);
    std::memset(punctLines, 0, sizeof punctLines);
  }
};

}  // namespace qm
