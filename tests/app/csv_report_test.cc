#include "app/csv_report.h"

#include <gtest/gtest.h>

#include <string>

#include "app/report_model.h"
#include "app/run_state.h"
#include "app/settings.h"

namespace qm {
namespace {

const std::string kHeader = "Type,Files,Blank,Comment,Punctuation,Code\n";

std::string Text(const SharedString& text) {
  return std::string(text.CStr(), text.Length());
}

class CsvReportTest : public ::testing::Test {
 protected:
  // One C file of 10 code, 2 comment and 1 blank lines.
  void SetUp() override {
    ClearSettings();
    ClearRunState();
    ResetTotals(totals_);
    totals_.fileCount[kTypeC] = 1;
    totals_.lineCount[kTypeC] = 13;
    totals_.blankLines[kTypeC] = 1;
    totals_.commentLines[kTypeC] = 2;
    totals_.codeLines[kTypeC] = 10;
  }
  void TearDown() override { ClearSettings(); }
  std::string Csv(bool isConservative) { return Text(RenderCsv(BuildReportModel(totals_, isConservative))); }

  CountTotals totals_;
};

TEST_F(CsvReportTest, LayoutsFollowTheTableOrderAndSkipTypesWithoutLines) {
  EXPECT_EQ(Csv(true), kHeader + "C source,1,1,2,0,10\nTotal,1,1,2,0,10\n");
  EXPECT_EQ(Csv(false), "Type,Files,Blank,Comment,Code\nC source,1,1,2,10\nTotal,1,1,2,10\n");
  totals_.fileCount[kTypeJava] = 4;  // files but no lines: no row
  totals_.lineCount[kTypeRust] = 1;
  totals_.codeLines[kTypeRust] = 17;
  totals_.lineCount[kTypeGo] = 1;
  totals_.codeLines[kTypeGo] = -7;
  EXPECT_EQ(Csv(true), kHeader +
                           "Rust source,0,0,0,0,17\nC source,1,1,2,0,10\nGo source,0,0,0,0,-7\n"
                           "Total,1,1,2,0,20\n");
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
