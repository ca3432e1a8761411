#include "app/line_diff.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace qm {
namespace {

Array<LineSpan> Spans(const std::vector<std::string>& lines) {
  Array<LineSpan> spans;
  for (const std::string& line : lines) {
    spans.PushBack(
        LineSpan{reinterpret_cast<const uint8_t*>(line.data()), static_cast<int32_t>(line.size())});
  }
  return spans;
}

// The length of a longest common subsequence, by dynamic programming.
int32_t Lcs(const std::vector<std::string>& a, const std::vector<std::string>& b) {
  std::vector<std::vector<int32_t>> table(a.size() + 1, std::vector<int32_t>(b.size() + 1, 0));
  for (size_t i = 1; i <= a.size(); ++i) {
    for (size_t j = 1; j <= b.size(); ++j) {
      table[i][j] =
          a[i - 1] == b[j - 1] ? table[i - 1][j - 1] + 1 : std::max(table[i - 1][j], table[i][j - 1]);
    }
  }
  return table[a.size()][b.size()];
}

// Every run's equal lines are equal, the runs cover both texts, and removed plus added
// is the least possible.
TEST(DiffLines, IsAValidShortestDiffOnRandomTexts) {
  constexpr uint32_t kSeed = 20261207;
  std::mt19937 random(kSeed);
  for (int round = 0; round < 2000; ++round) {
    std::vector<std::string> a(random() % 40), b(random() % 40);
    const int alphabet = 1 + static_cast<int>(random() % 6);
    for (std::string& line : a)
      line = std::string(1 + random() % 2, static_cast<char>('a' + random() % alphabet));
    for (std::string& line : b)
      line = std::string(1 + random() % 2, static_cast<char>('a' + random() % alphabet));
    const Array<LineSpan> oldLines = Spans(a), newLines = Spans(b);
    Array<DiffRun> runs;
    DiffLines(oldLines, newLines, runs);
    size_t i = 0, j = 0;
    int32_t edits = 0;
    for (const DiffRun& run : runs) {
      for (int32_t k = 0; k < run.same; ++k, ++i, ++j) ASSERT_EQ(a.at(i), b.at(j)) << "seed " << kSeed;
      i += static_cast<size_t>(run.removed);
      j += static_cast<size_t>(run.added);
      edits += run.removed + run.added;
    }
    ASSERT_EQ(i, a.size()) << "seed " << kSeed;
    ASSERT_EQ(j, b.size()) << "seed " << kSeed;
    ASSERT_EQ(edits, static_cast<int32_t>(a.size() + b.size()) - 2 * Lcs(a, b))
        << "seed " << kSeed << " round " << round;
  }
}

TEST(SplitLines, EndsLinesAsTheClassifierDoes) {
  const std::string text = "a\nb\r\nc\rd\n\re";
  Array<LineSpan> lines;
  SplitLines(reinterpret_cast<const uint8_t*>(text.data()), static_cast<int64_t>(text.size()), lines);
  std::vector<std::string> got;
  for (const LineSpan& line : lines) got.emplace_back(reinterpret_cast<const char*>(line.bytes), line.length);
  EXPECT_EQ(got, (std::vector<std::string>{"a\n", "b\r\n", "c\r", "d\n", "\r", "e"}));
  SplitLines(reinterpret_cast<const uint8_t*>(text.data()), 0, lines);
  EXPECT_EQ(lines.Count(), 0);
}

}  // namespace
}  // namespace qm
