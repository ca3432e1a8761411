#include "app/treemap_layout.h"

#include <algorithm>
#include <cassert>

namespace qm {

namespace {

// The larger aspect ratio (>= 1) of the row's extreme rectangles: a row of total area
// `sum` laid along a side of length `side`, its largest and smallest areas given.
double WorstRatio(double sum, double smallest, double largest, double side) {
  const double sumSquared = sum * sum;
  const double sideSquared = side * side;
  return std::max(sideSquared * largest / sumSquared, sumSquared / (sideSquared * smallest));
}

}  // namespace

void SquarifyLayout(const double* sizes, int32_t count, const TreemapRect& bounds, TreemapRect* out) {
  double total = 0;
  for (int32_t i = 0; i < count; ++i) {
    assert(sizes[i] > 0);
    total += sizes[i];
  }
  for (int32_t i = 0; i < count; ++i) out[i] = TreemapRect{bounds.x, bounds.y, 0, 0};
  if (!(total > 0) || !(bounds.width > 0) || !(bounds.height > 0)) return;
  const double scale = bounds.width * bounds.height / total;
  TreemapRect free = bounds;  // what the rows laid so far leave
  for (int32_t first = 0; first < count;) {
    const double side = std::min(free.width, free.height);
    // Rounding may use up the rectangle before the last tiny sizes: they stay empty.
    if (!(side > 0)) {
      for (int32_t i = first; i < count; ++i) out[i] = TreemapRect{free.x, free.y, 0, 0};
      return;
    }
    // The row grows while the next area makes its worst ratio no worse.
    double sum = sizes[first] * scale;
    double largest = sum;
    double smallest = sum;
    double worst = WorstRatio(sum, smallest, largest, side);
    int32_t end = first + 1;
    for (; end < count; ++end) {
      const double area = sizes[end] * scale;
      const double nextSmallest = std::min(smallest, area);
      const double nextLargest = std::max(largest, area);
      const double nextWorst = WorstRatio(sum + area, nextSmallest, nextLargest, side);
      if (nextWorst > worst) break;
      sum += area;
      smallest = nextSmallest;
      largest = nextLargest;
      worst = nextWorst;
    }
    // The last row takes what is left, so rounding leaves no sliver.
    const bool isWide = free.width >= free.height;
    const double thickness = end == count ? (isWide ? free.width : free.height) : sum / side;
    double offset = 0;
    for (int32_t i = first; i < end; ++i) {
      const double length = i + 1 == end ? side - offset : sizes[i] * scale / thickness;
      out[i] = isWide ? TreemapRect{free.x, free.y + offset, thickness, length}
                      : TreemapRect{free.x + offset, free.y, length, thickness};
      offset += length;
    }
    if (isWide) {
      free.x += thickness;
      free.width = std::max(0.0, free.width - thickness);
    } else {
      free.y += thickness;
      free.height = std::max(0.0, free.height - thickness);
    }
    first = end;
  }
}

}  // namespace qm
