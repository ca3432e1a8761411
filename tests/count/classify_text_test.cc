#include "count/classify_text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/count/classify_test_util.h"

namespace qm {
namespace {

constexpr FileTypeId kAllTypes[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17};

// Conservative mode: letters, digits, '_' and quotes make a line code; greedy mode:
// every byte above the blank.
TEST(CharClassTable, HoldsTheCodeCharactersOfEachMode) {
  BuildCharClassTable(true);
  int codeBytes = 0;
  for (int byte = 0; byte < 256; ++byte) codeBytes += CharClassTable[byte];
  EXPECT_EQ(codeBytes, 26 + 26 + 10 + 3);
  for (char byte : {'A', 'z', '0', '9', '_', '"', '\''}) EXPECT_EQ(CharClassTable[byte], 1) << byte;
  BuildCharClassTable(false);
  for (int byte = 0; byte < 256; ++byte) EXPECT_EQ(CharClassTable[byte], byte > 32 ? 1 : 0) << byte;
  BuildCharClassTable(true);
}

TEST(ClassifyText, AddsNothingForUnknownTypeOrEmptyTextAndAccumulatesOtherwise) {
  BuildCharClassTable(true);
  LineTotals totals;
  totals.ResetLines();
  const uint8_t text[] = {'x', '\n', '}', '\n'};
  for (FileTypeId type : {kTypeUnknown, kTypeInvalid, -1}) ClassifyText(totals, type, text, 4);
  ClassifyText(totals, kTypeC, text, 0);
  ClassifyText(totals, kTypeC, text, -5);
  for (int type = 0; type < kTypeSlots; ++type) EXPECT_EQ(totals.lineCount[type], 0) << type;

  ClassifyText(totals, kTypeC, text, 4);
  ClassifyText(totals, kTypeC, text, 4);
  EXPECT_EQ(totals.lineCount[kTypeC], 4);
  EXPECT_EQ(totals.codeLines[kTypeC], 2);
  EXPECT_EQ(totals.punctLines[kTypeC], 2);
}

// Cases that hold no comment syntax of any language, so every scanner must agree.
// Counts are for conservative mode; in greedy mode punctuation lines become code.
constexpr Case kSharedCases[] = {
    // Line breaks: LF, CR LF, lone CR, LF then CR (two breaks), no final break.
    {"a\nb\n", {0, 0, 0, 2}},
    {"a\r\nb\r\n", {0, 0, 0, 2}},
    {"a\rb", {0, 0, 0, 2}},
    {"a\n\rb\n", {1, 0, 0, 2}},
    {"a", {0, 0, 0, 1}},
    {"\n", {1, 0, 0, 0}},
    {"\r\n\r", {2, 0, 0, 0}},
    {" \t\f\v\x01\n\x7f\n", {1, 0, 1, 0}},
    // A byte order mark is invisible anywhere; a partial one is an ordinary byte.
    {"\xEF\xBB\xBF}\n", {0, 0, 1, 0}},
    {"\xEF\xBB\xBF\n  \xEF\xBB\xBF\n", {2, 0, 0, 0}},
    {"x;\xEF\xBB\xBF\n", {0, 0, 0, 1}},
    {"\xEF\xBB\n\xEF", {0, 0, 2, 0}},
    // Punctuation and code characters.
    {"}\n);\n[]=\n", {0, 0, 3, 0}},
    {"x\n}x\n0\n_\n", {0, 0, 0, 4}},
    {"\xC3\xA9t\xC3\xA9\n\xC3\xA9\xC3\xA8\n", {0, 0, 1, 1}},
    // Literals: every non-blank line is code, whatever came before the quote.
    {"\"a\nb\nc\"\n", {0, 0, 0, 3}},
    {"} \"a\n   \n\"\n", {1, 0, 0, 2}},
    {"\"a\n\n", {1, 0, 0, 1}},
    {"x = \"open\nrest;\n}\n", {0, 0, 0, 3}},
    {"x\"\r\n\r\n\"\r\n", {1, 0, 0, 2}},
};

TEST(ClassifyText, SharedCasesAgreeInEveryLanguageAndMode) {
  for (FileTypeId type : kAllTypes) {
    ExpectCases(type, kSharedCases, true);
    for (const Case& shared : kSharedCases) {
      const Counts greedy{shared.expected.blank, shared.expected.comment, 0,
                          shared.expected.code + shared.expected.punct};
      EXPECT_EQ(Classify(type, shared.text, false), greedy)
          << "type " << type << " greedy: \"" << shared.text << "\"";
    }
  }
}

}  // namespace
}  // namespace qm
