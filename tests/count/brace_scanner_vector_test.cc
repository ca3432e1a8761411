// The brace and Python scanners look for the end of a line that already holds code 16
// bytes at a time (Python counting brackets on the way); these tests hold them to the
// byte-at-a-time scans on texts that put every action byte and bracket at every
// offset of a 16-byte step.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <memory>
#include <string>

#include "count/brace_scanner.h"
#include "count/classify_text.h"
#include "count/python_scanner.h"

namespace qm {
namespace {

constexpr FileTypeId kBraceTypes[] = {1,           2,          3,          4,         5,          6,  7,
                                      8,           9,          10,         14,        15,         16, 17,
                                      kTypeKotlin, kTypeSwift, kTypeScala, kTypeDart, kTypeGroovy};

using Counts = std::array<int64_t, 5>;  // lines, blank, comment, code, punctuation

// Counts of text scanned one way, from a buffer of exactly its size (the address
// sanitizer catches any read past the end).
Counts Scan(bool isVectorised, FileTypeId type, const std::string& text) {
  std::unique_ptr<uint8_t[]> exact(new uint8_t[text.size()]);
  std::memcpy(exact.get(), text.data(), text.size());
  LineTotals totals;
  totals.ResetLines();
  if (type == kTypePython) {
    if (isVectorised) {
      ScanPython(totals, type, exact.get(), static_cast<int32_t>(text.size()));
    } else {
      ScanPythonBytewise(totals, type, exact.get(), static_cast<int32_t>(text.size()));
    }
  } else {
    if (isVectorised) {
      ScanBraceLanguage(totals, type, exact.get(), static_cast<int32_t>(text.size()));
    } else {
      ScanBraceLanguageBytewise(totals, type, exact.get(), static_cast<int32_t>(text.size()));
    }
  }
  return {totals.lineCount[type], totals.blankLines[type], totals.commentLines[type], totals.codeLines[type],
          totals.punctLines[type]};
}

TEST(BraceScannerVector, ActionAtEveryOffsetAfterCodeMatchesBytewise) {
  // Every byte that is an action in some brace language, and some that are not.
  const char* const probes[] = {"\n",       "\r",       "\r\n",    "\xEF\xBB\xBF", "\xEF",  "/",
                                "//",       "/*",       "*/",      "\"",           "'",     "`",
                                "#",        "<",        "<<<ID\n", "R\"(",         "@\"",   "r#\"",
                                "}",        "\xC3\xA9", " ",       "\t",           "\\\n",  "=/a/",
                                "(/[/",     "1'0",      "'a'",     "\"\"\"",       "#[",    "<<< X\n",
                                "`${`'`}`", "${\n}",    "#\"a\"#", "$/a/$",        "r'\\\n"};
  for (bool conservative : {true, false}) {
    BuildCharClassTable(conservative);
    for (const char* probe : probes) {
      for (int offset = 0; offset < 40; ++offset) {
        // Code first, then filler that the vector search skips, then the probe.
        const std::string text = "\tx" +
                                 std::string(static_cast<size_t>(offset), offset % 3 == 0 ? ';' : 'a') +
                                 probe + " tail ;\n  }\n";
        for (FileTypeId type : kBraceTypes) {
          EXPECT_EQ(Scan(true, type, text), Scan(false, type, text))
              << "type " << type << ", probe " << probe << ", offset " << offset << ", conservative "
              << conservative;
        }
      }
    }
  }
  BuildCharClassTable(true);
}

// A bracket left open before a triple quote at the start of a line makes it code; the
// open count must come out the same however the brackets fell into 16-byte steps.
TEST(PythonScannerVector, BracketsAndActionsAtEveryOffsetMatchBytewise) {
  const char* const probes[] = {"(", ")",  "[",    "]{",           "}", "\n",  "#",
                                "'", "\"", "\r\n", "\xEF\xBB\xBF", "r", "\\\n"};
  for (bool conservative : {true, false}) {
    BuildCharClassTable(conservative);
    for (const char* probe : probes) {
      for (int offset = 0; offset < 40; ++offset) {
        const std::string text = "x = f" +
                                 std::string(static_cast<size_t>(offset), offset % 2 == 0 ? 'a' : '(') +
                                 probe + " b\n\"\"\"doc\"\"\"\n)" + probe + "\n'''x'''\n";
        EXPECT_EQ(Scan(true, kTypePython, text), Scan(false, kTypePython, text))
            << "probe " << probe << ", offset " << offset << ", conservative " << conservative;
      }
    }
  }
  BuildCharClassTable(true);
}

}  // namespace
}  // namespace qm
