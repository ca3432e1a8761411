#include "app/csv_writer.h"

#include <gtest/gtest.h>

#include <string>

#include "app/run_state.h"
#include "app/settings.h"

namespace qm {
namespace {

const std::string kHeader = "Type,Files,Blank,Comment,Punctuation,Code\n";

std::string Text(const SharedString& text) {
  return std::string(text.CStr(), text.Length());
}

class CsvWriterTest : public ::testing::Test {
 protected:
  // One C file of 10 code, 2 comment and 1 blank lines.
  void SetUp() override {
    ClearSettings();
    ResetTotals(totals_);
    for (FileTypeId type = 0; type < kTypeSlots; ++type) types_[type] = type;
    totals_.fileCount[kTypeC] = 1;
    totals_.lineCount[kTypeC] = 13;
    totals_.blankLines[kTypeC] = 1;
    totals_.commentLines[kTypeC] = 2;
    totals_.codeLines[kTypeC] = 10;
  }
  void TearDown() override { ClearSettings(); }

  CountTotals totals_;
  FileTypeId types_[kTypeSlots];
  ColumnTotals sums_{1, 1, 2, 0, 10};
};

TEST_F(CsvWriterTest, LayoutsFollowTheGivenOrderAndSkipTypesWithoutLines) {
  EXPECT_EQ(Text(BuildCsvText(totals_, types_, kTypeSlots, sums_, true)),
            kHeader + "C source,1,1,2,0,10\nTotal,1,1,2,0,10\n");
  EXPECT_EQ(Text(BuildCsvText(totals_, types_, kTypeSlots, sums_, false)),
            "Type,Files,Blank,Comment,Code\nC source,1,1,2,10\nTotal,1,1,2,10\n");
  totals_.fileCount[kTypeJava] = 4;  // files but no lines: no row
  totals_.lineCount[kTypeRust] = 1;
  totals_.codeLines[kTypeRust] = -7;
  std::swap(types_[0], types_[kTypeRust]);
  EXPECT_EQ(Text(BuildCsvText(totals_, types_, kTypeSlots, ColumnTotals{}, true)),
            kHeader + "Rust source,0,0,0,0,-7\nC source,1,1,2,0,10\nTotal,0,0,0,0,0\n");
}

TEST(AppendCsvField, QuotesOnlyWhatNeedsIt) {
  const std::pair<const char*, const char*> cases[] = {{"C source", "C source"},
                                                       {"a,b", "\"a,b\""},
                                                       {"say \"hi\"", "\"say \"\"hi\"\"\""},
                                                       {"a\nb", "\"a\nb\""}};
  for (const auto& [text, expected] : cases) {
    SharedString out;
    AppendCsvField(out, text);
    EXPECT_EQ(Text(out), expected);
  }
}

}  // namespace
}  // namespace qm
