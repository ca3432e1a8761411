// Runs the hand-counted cases of tests/count/scanner_cases.txt (brace, Lua, Pascal and
// Python scanners, each case in the mode it names) through ClassifyText, from a buffer
// of exactly the text's size so that a read past its end trips the address sanitizer.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "tests/count/classify_test_util.h"

namespace qm {
namespace {

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
    int type = 0;
    char mode = 0;
    Counts expected;
    ASSERT_TRUE(fields >> type >> mode >> expected.blank >> expected.comment >> expected.punct >> expected.code)
        << "line " << lineNumber;
    fields.get();  // the space before the text
    std::string text;
    std::getline(fields, text);
    EXPECT_EQ(Classify(type, Unescape(text), mode == 'c'), expected)
        << "line " << lineNumber << " (" << group << "): " << text;
    ++caseCount;
  }
  BuildCharClassTable(true);
  EXPECT_GT(caseCount, 300);  // the whole file was read
}

}  // namespace
}  // namespace qm
