// Test helper for the classification engine: classifies one text in a given mode
// and returns the rises of the type's counters. The text is copied into a buffer of
// exactly its size, so a scanner reading past the end trips the address sanitizer.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <ostream>
#include <string_view>

#include "count/classify_text.h"

namespace qm {

// Line counts in the report's column order; lines is their sum.
struct Counts {
  int64_t blank = 0;
  int64_t comment = 0;
  int64_t punct = 0;
  int64_t code = 0;
  bool operator==(const Counts&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const Counts& counts) {
  return out << "{blank " << counts.blank << ", comment " << counts.comment << ", punct " << counts.punct
             << ", code " << counts.code << "}";
}

// One row of a table of hand-counted cases.
struct Case {
  std::string_view text;
  Counts expected;
};

// Classifies text as `type` and returns the counts; checks that lineCount rose by
// their sum. Other types' counters must not move.
inline Counts Classify(FileTypeId type, std::string_view text, bool conservative = true) {
  BuildCharClassTable(conservative);
  LineTotals totals;
  totals.ResetLines();
  std::unique_ptr<uint8_t[]> exact(new uint8_t[text.size()]);
  std::memcpy(exact.get(), text.data(), text.size());
  ClassifyText(totals, type, exact.get(), static_cast<int32_t>(text.size()));
  const int64_t slot = type >= 0 && type < kTypeSlots ? type : 0;
  Counts counts{totals.blankLines[slot], totals.commentLines[slot], totals.punctLines[slot],
                totals.codeLines[slot]};
  EXPECT_EQ(totals.lineCount[slot], counts.blank + counts.comment + counts.punct + counts.code);
  int64_t elsewhere = 0;
  for (int other = 0; other < kTypeSlots; ++other) {
    if (other != slot)
      elsewhere += totals.lineCount[other] + totals.codeLines[other] + totals.commentLines[other];
  }
  EXPECT_EQ(elsewhere, 0);
  return counts;
}

template <size_t N>
void ExpectCases(FileTypeId type, const Case (&cases)[N], bool conservative = true) {
  for (size_t i = 0; i < N; ++i) {
    EXPECT_EQ(Classify(type, cases[i].text, conservative), cases[i].expected)
        << "type " << type << (conservative ? " conservative" : " greedy") << ", case " << i << ": \""
        << cases[i].text << "\"";
  }
}

}  // namespace qm
