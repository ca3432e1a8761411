#include "app/treemap_layout.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

namespace qm {
namespace {

std::vector<TreemapRect> Lay(const std::vector<double>& sizes, const TreemapRect& bounds) {
  std::vector<TreemapRect> out(sizes.size());
  SquarifyLayout(sizes.data(), static_cast<int32_t>(sizes.size()), bounds, out.data());
  return out;
}

double Overlap(const TreemapRect& a, const TreemapRect& b) {
  const double width = std::min(a.x + a.width, b.x + b.width) - std::max(a.x, b.x);
  const double height = std::min(a.y + a.height, b.y + b.height) - std::max(a.y, b.y);
  return width > 0 && height > 0 ? width * height : 0;
}

// Rows are laid along the shorter side and grow while their worst aspect ratio
// falls: 6, 6 form the first column (3 x 2 each) of a 6 x 4 rectangle, 4, 3 the row
// on top of what is left.
TEST(SquarifyLayout, BuildsRowsWhileTheyGetSquarer) {
  const std::vector<TreemapRect> boxes = Lay({6, 6, 4, 3, 2, 2, 1}, TreemapRect{0, 0, 6, 4});
  EXPECT_DOUBLE_EQ(boxes[0].x, 0);
  EXPECT_DOUBLE_EQ(boxes[0].y, 0);
  EXPECT_DOUBLE_EQ(boxes[0].width, 3);
  EXPECT_DOUBLE_EQ(boxes[0].height, 2);
  EXPECT_DOUBLE_EQ(boxes[1].y, 2);
  EXPECT_DOUBLE_EQ(boxes[1].height, 2);
  EXPECT_DOUBLE_EQ(boxes[2].x, 3);
  EXPECT_DOUBLE_EQ(boxes[2].y, 0);
  EXPECT_NEAR(boxes[2].height, 7.0 / 3, 1e-12);
  EXPECT_NEAR(boxes[3].x, 3 + 12.0 / 7, 1e-12);
  // Equal sizes in a square make squares.
  for (const TreemapRect& box : Lay({1, 1, 1, 1}, TreemapRect{10, 20, 8, 8})) {
    EXPECT_DOUBLE_EQ(box.width, 4);
    EXPECT_DOUBLE_EQ(box.height, 4);
  }
}

// Whatever the sizes: each area is its share, every rectangle lies inside the bounds,
// none overlaps another, together they cover the bounds.
TEST(SquarifyLayout, TilesTheBoundsInProportion) {
  const unsigned seed = 20261207;
  std::mt19937 random(seed);
  for (int round = 0; round < 200; ++round) {
    const int count = 1 + static_cast<int>(random() % 40);
    std::vector<double> sizes;
    for (int i = 0; i < count; ++i) {
      // Mostly ordinary sizes, some a million times smaller than the rest.
      sizes.push_back(random() % 8 == 0 ? 1e-6 * (1 + random() % 9) : 1 + random() % 5000);
    }
    std::sort(sizes.rbegin(), sizes.rend());
    const TreemapRect bounds{5, 7, 10.0 + random() % 1200, 10.0 + random() % 700};
    const std::vector<TreemapRect> boxes = Lay(sizes, bounds);
    double total = 0;
    for (const double size : sizes) total += size;
    const double area = bounds.width * bounds.height;
    double covered = 0;
    for (int i = 0; i < count; ++i) {
      const TreemapRect& box = boxes[i];
      ASSERT_TRUE(std::isfinite(box.x) && std::isfinite(box.width) && box.width >= 0 && box.height >= 0)
          << "seed " << seed << " round " << round;
      EXPECT_NEAR(box.width * box.height, area * sizes[i] / total, area * 1e-9) << "seed " << seed;
      EXPECT_GE(box.x, bounds.x - 1e-9);
      EXPECT_GE(box.y, bounds.y - 1e-9);
      EXPECT_LE(box.x + box.width, bounds.x + bounds.width + 1e-9);
      EXPECT_LE(box.y + box.height, bounds.y + bounds.height + 1e-9);
      for (int k = 0; k < i; ++k) EXPECT_LT(Overlap(box, boxes[k]), area * 1e-9) << "seed " << seed;
      covered += box.width * box.height;
    }
    EXPECT_NEAR(covered, area, area * 1e-9) << "seed " << seed << " round " << round;
  }
}

TEST(SquarifyLayout, GivesEmptyRectanglesForNothingToLayOut) {
  for (const TreemapRect& bounds : {TreemapRect{1, 2, 0, 50}, TreemapRect{1, 2, 50, -1}}) {
    for (const TreemapRect& box : Lay({3, 2, 1}, bounds)) {
      EXPECT_EQ(box.width, 0);
      EXPECT_EQ(box.height, 0);
      EXPECT_EQ(box.x, 1);
    }
  }
  const std::vector<TreemapRect> one = Lay({42}, TreemapRect{1, 2, 30, 20});
  EXPECT_DOUBLE_EQ(one[0].width, 30);
  EXPECT_DOUBLE_EQ(one[0].height, 20);
}

}  // namespace
}  // namespace qm
