// Treemap layout: rectangles whose areas are proportional to given sizes, tiling a
// bounding rectangle, laid out "squarified": in rows along the shorter side, each row
// as long as that keeps its worst aspect ratio falling, so rectangles stay near
// square. A pure function of its arguments: no allocation, nothing fails, any thread;
// time linear in the count.
#pragma once

#include <cstdint>

namespace qm {

struct TreemapRect {
  double x = 0;
  double y = 0;
  double width = 0;
  double height = 0;
};

// Lays sizes[0, count) out in bounds: out[i] is the rectangle of sizes[i], of area
// bounds' area * sizes[i] / their sum. The rectangles do not overlap and cover bounds
// (up to rounding). Bounds without area, or sizes summing to no more than 0, give
// empty rectangles at bounds' corner. Requires: sizes > 0, largest first (a smaller
// size first gives a valid but less square layout).
void SquarifyLayout(const double* sizes, int32_t count, const TreemapRect& bounds, TreemapRect* out);

}  // namespace qm
