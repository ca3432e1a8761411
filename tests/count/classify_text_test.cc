#include "count/classify_text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "count/language_table.h"

namespace qm {
namespace {

// Line counts in the report's column order.
struct Counts {
  int64_t blank = 0, comment = 0, punct = 0, code = 0;
  bool operator==(const Counts&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Counts& counts) {
  return out << "{blank " << counts.blank << ", comment " << counts.comment << ", punct " << counts.punct
             << ", code " << counts.code << "}";
}

// Classifies text as `type` from a buffer of exactly its size (a scanner reading past
// the end trips the address sanitizer); checks that lineCount rose by the sum of the
// counts and that no other type's counters moved.
Counts Classify(FileTypeId type, const std::string& text, bool conservative) {
  BuildCharClassTable(conservative);
  LineTotals totals;
  totals.ResetLines();
  std::unique_ptr<uint8_t[]> exact(new uint8_t[text.size()]);
  std::memcpy(exact.get(), text.data(), text.size());
  ClassifyText(totals, type, exact.get(), static_cast<int32_t>(text.size()));
  const Counts counts{totals.blankLines[type], totals.commentLines[type], totals.punctLines[type],
                      totals.codeLines[type]};
  EXPECT_EQ(totals.lineCount[type], counts.blank + counts.comment + counts.punct + counts.code);
  int64_t elsewhere = 0;
  for (int other = 0; other < kTypeSlots; ++other) {
    if (other != type)
      elsewhere += totals.lineCount[other] + totals.codeLines[other] + totals.commentLines[other];
  }
  EXPECT_EQ(elsewhere, 0);
  return counts;
}

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

// Undoes the escapes of a case text: \n \r \t \\ and \xHH.
std::string Unescape(const std::string& text) {
  std::string bytes;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      bytes += text[i];
      continue;
    }
    const char kind = text[++i];
    if (kind == 'x' && i + 2 < text.size()) {
      bytes += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      bytes += kind == 'n' ? '\n' : kind == 'r' ? '\r' : kind == 't' ? '\t' : kind;
    }
  }
  return bytes;
}

// The language-table type one of whose extensions or file names is `name`, or 0.
FileTypeId TableTypeOfFile(const std::string& name) {
  for (FileTypeId type = kTypeFirstTable; type < kTypeInvalid; ++type) {
    const LanguageEntry& entry = LanguageOf(type);
    for (const char* words : {entry.extensions, entry.fileNames}) {
      std::istringstream list(words);
      std::string word;
      while (list >> word) {
        if (word == name) return type;
      }
    }
  }
  return kTypeUnknown;
}

// The hand-counted cases of tests/count/scanner_cases.txt (every scanner, each case in
// the mode it names; a case of type * in every type and both modes).
TEST(Scanners, HandCountedCases) {
  std::ifstream file(QM_SOURCE_DIR "/tests/count/scanner_cases.txt");
  ASSERT_TRUE(file);
  std::string line, group;
  int lineNumber = 0, caseCount = 0;
  while (std::getline(file, line)) {
    ++lineNumber;
    if (line.empty() || line[0] == '#') {
      if (line.size() > 2) group = line.substr(2);
      continue;
    }
    std::istringstream fields(line);
    std::string type;
    char mode = 0;
    Counts expected;
    ASSERT_TRUE(fields >> type >> mode >> expected.blank >> expected.comment >> expected.punct >>
                expected.code)
        << "line " << lineNumber;
    fields.get();  // the space before the text
    std::string text;
    std::getline(fields, text);
    text = Unescape(text);
    const Counts greedy{expected.blank, expected.comment, 0, expected.code + expected.punct};
    const int first = type == "*"                        ? 1
                      : type[0] >= '0' && type[0] <= '9' ? std::stoi(type)
                                                         : TableTypeOfFile(type);
    ASSERT_NE(first, kTypeUnknown) << "line " << lineNumber << ": no type " << type;
    for (int each = first; each <= (type == "*" ? 17 : first); ++each) {
      EXPECT_EQ(Classify(each, text, mode == 'c'), expected) << "line " << lineNumber << ", type " << each;
      if (type == "*") {
        EXPECT_EQ(Classify(each, text, false), greedy) << "line " << lineNumber << ", type " << each;
      }
    }
    ++caseCount;
  }
  BuildCharClassTable(true);
  EXPECT_GT(caseCount, 300);  // the whole file was read
}

}  // namespace
}  // namespace qm
