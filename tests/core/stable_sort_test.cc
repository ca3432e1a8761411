#include "core/stable_sort.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "core/shared_string.h"

namespace qm {
namespace {

struct Record {
  int32_t key;
  int32_t order;  // input position, to see stability
  bool operator==(const Record&) const = default;
};

// Keys from few distinct values give long runs of equal elements.
std::vector<Record> RandomRecords(int32_t count, int32_t distinctKeys, uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<Record> records(count);
  for (int32_t i = 0; i < count; ++i) records[i] = {static_cast<int32_t>(random() % distinctKeys), i};
  return records;
}

// Sizes cover insertion sort (<= 16), merges through the buffer (1750 records of 8
// bytes: 3500 merges two halves that fit) and the buffer-free split at the top levels
// (7000 and up); presorted, reversed and all-equal inputs hit the early exit. The
// report's 4-byte type indexes ordered by a table of counts merge 7000 through the
// buffer (it holds 3500 of them) and split 8000 without it.
TEST(StableSort, MatchesStdStableSortOnRecordsWithManyEqualKeys) {
  const uint32_t seed = 20240611;
  const int32_t sizes[] = {0, 1, 2, 3, 16, 17, 100, 3500, 7000, 8000, 20000};
  const int32_t distinctKeys[] = {1, 3, 50, 1 << 30};
  auto comesBefore = [](const Record& a, const Record& b) { return a.key < b.key; };
  for (int32_t size : sizes) {
    for (int32_t distinct : distinctKeys) {
      for (int shape = 0; shape < 3; ++shape) {
        std::vector<Record> records = RandomRecords(size, distinct, seed + size);
        if (shape == 1) std::sort(records.begin(), records.end(), comesBefore);
        if (shape == 2)
          std::sort(records.begin(), records.end(), [](auto& a, auto& b) { return a.key > b.key; });
        std::vector<Record> expected = records;
        std::stable_sort(expected.begin(), expected.end(), comesBefore);
        StableSort(records.data(), size, comesBefore);
        ASSERT_EQ(records, expected) << "seed " << seed << " size " << size << " keys " << distinct
                                     << " shape " << shape;
      }
    }
  }
  for (int32_t size : {7000, 8000}) {
    std::vector<int32_t> indexes(size), expected;
    for (int32_t i = 0; i < size; ++i) indexes[i] = i;
    auto moreFirst = [](int32_t a, int32_t b) { return a * 7919 % 40 > b * 7919 % 40; };
    expected = indexes;
    std::stable_sort(expected.begin(), expected.end(), moreFirst);
    StableSort(indexes.data(), size, moreFirst);
    ASSERT_EQ(indexes, expected) << size;
  }
}

// Elements that own references must be moved, never copied bytewise: every string
// keeps exactly one reference through buffered and buffer-free merges.
TEST(StableSort, MovesElementsThatOwnStrings) {
  struct Row {
    SharedString path;
    int64_t lines;
  };
  std::vector<Row> rows;
  for (int32_t i = 0; i < 3000; ++i) rows.push_back({SharedString::Format("f%05d", i), (i * 7919) % 13});
  StableSort(rows.data(), 3000, [](const Row& a, const Row& b) { return a.lines < b.lines; });
  for (int32_t i = 1; i < 3000; ++i) {
    ASSERT_LE(rows[i - 1].lines, rows[i].lines);
    if (rows[i - 1].lines == rows[i].lines) {
      ASSERT_LT(rows[i - 1].path.Compare(rows[i].path), 0);
    }
  }
  for (const Row& row : rows) ASSERT_EQ(row.path.RefCount(), 1u);
}

}  // namespace
}  // namespace qm
