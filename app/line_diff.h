// LineDiff: the least number of lines to remove from one text and add to it to get
// another (Myers' O(ND) algorithm, with its linear-space refinement), as runs of equal
// lines followed by removed and added ones. A pure function over the caller's lines;
// any thread, nothing printed, nothing that fails.

// Lines are compared byte for byte. The result is minimal (removed + added is the
// least possible) unless the two texts differ so much that the search would pass
// kMaxDiffCost steps: then the part not yet matched is taken as removed and added
// whole, which is still a valid diff (every equal run is equal, every line is once
// in a run), only not the shortest. Lines that one text lacks are changes in any diff
// and are taken out before the search. Costs: time O((N + M) D) up to that bound
// (about a second), after the common start and end are taken off; memory O(N + M).
#pragma once

#include <cstdint>

#include "core/array.h"

namespace qm {

// Steps (diagonal extensions) the search may take before the rest is replaced whole.
inline constexpr int64_t kMaxDiffCost = int64_t{1} << 30;

struct LineSpan {
  const uint8_t* bytes = nullptr;
  int32_t length = 0;  // with its line break: "a\n" and "a" are different lines
};

// `same` equal lines, then `removed` lines of the old text replaced by `added` lines
// of the new one (either may be 0).
struct DiffRun {
  int32_t same = 0;
  int32_t removed = 0;
  int32_t added = 0;
};

// The runs of a shortest diff, in order; the last run may hold only equal lines. The
// runs' same + removed add up to the old lines, same + added to the new ones.
void DiffLines(const Array<LineSpan>& oldLines, const Array<LineSpan>& newLines, Array<DiffRun>& runs);

// Splits a text into its lines as the classifier does: a line ends at LF, CR LF or a
// lone CR, which belongs to it; a last line without a break is a line; an empty text
// has none.
void SplitLines(const uint8_t* text, int64_t length, Array<LineSpan>& lines);

}  // namespace qm
