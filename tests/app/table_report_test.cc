#include "app/table_report.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "app/report_model.h"
#include "app/run_state.h"
#include "app/settings.h"

namespace qm {
namespace {

std::string Text(const SharedString& text) {
  return std::string(text.CStr(), text.Length());
}

TEST(PrintNumber, GroupsDigitsAndPadsToWidth) {
  const struct {
    int32_t width;
    int64_t value;
    const char* expected;
  } cases[] = {
      {11, 0, "          0"},
      {11, 1000, "      1'000"},
      {11, -1234, "     -1'234"},
      {3, 1234567, "1'234'567"},
      {0, INT64_MIN, "-9'223'372'036'854'775'808"},
  };
  for (const auto& c : cases) {
    SharedString out;
    PrintNumber(out, c.width, c.value);
    EXPECT_EQ(Text(out), c.expected) << c.value;
  }
}

class SummaryReportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearSettings();
    ClearRunState();
    ResetTotals(totals_);
  }
  void TearDown() override {
    ClearSettings();
    ClearRunState();
  }
  void SetType(FileTypeId type, int64_t files, int64_t blank, int64_t comment, int64_t punct, int64_t code) {
    totals_.fileCount[type] = files;
    totals_.blankLines[type] = blank;
    totals_.commentLines[type] = comment;
    totals_.punctLines[type] = punct;
    totals_.codeLines[type] = code;
    totals_.lineCount[type] = 1;
  }
  static void AddRecord(const char* path, FileTypeId type, int64_t code, bool onDisk = true) {
    FileRecord record;
    record.path = path;
    record.type = type;
    record.blank = 1;
    record.code = code;
    record.lines = code + 1;
    record.onDisk = onDisk;
    fileRecords.PushBack(record);
  }
  std::string Report() { return Text(RenderTable(BuildReportModel(totals_, settings.conservative))); }

  CountTotals totals_;
};

TEST_F(SummaryReportTest, TotalSaturates) {
  SetType(kTypeC, 0, 0, 0, 0, INT64_MAX);
  SetType(kTypeGo, 0, 0, 0, 0, INT64_MAX);
  const std::string report = Report();
  EXPECT_EQ(
      report.substr(report.rfind("Total")),
      "Total                         0           0           0           0 9'223'372'036'854'775'807\n");
}

// Paths are cut to below their deepest common directory, except stream-read records,
// which keep their whole path (widening the column to 33); files without lines are
// left out; rows sort by code, then type, then path.
TEST_F(SummaryReportTest, ByFileTable) {
  settings.byFile = true;
  SetType(kTypeC, 9, 1, 2, 3, 40);
  AddRecord("/p/src/z.h", kTypeHeader, 15);
  AddRecord("/p/src/empty.c", kTypeC, -1);  // no lines
  AddRecord("/p/pack.tar/inner/deeper/more/x.c", kTypeC, 15, false);
  AddRecord("/p/src/main.c", kTypeC, 38);
  AddRecord("/p/lib/a.h", kTypeHeader, 15);
  AddRecord("/p/src/b.cc", kTypeCpp, 15);
  const std::string rule = std::string(81, '-') + "\n";
  EXPECT_EQ(Report(),
            rule + "File                                    Blank     Comment Punctuation        Code\n" +
                rule +
                "src/main.c                                  1           0           0          38\n"
                "src/b.cc                                    1           0           0          15\n"
                "/p/pack.tar/inner/deeper/more/x.c           1           0           0          15\n"
                "lib/a.h                                     1           0           0          15\n"
                "src/z.h                                     1           0           0          15\n" +
                rule + "Total                                       1           2           3          40\n");

  // A path outside the common directory (which stops at the root) stays whole.
  fileRecords.Clear();
  for (const char* path : {"/r/a.c", "/r/b.c", "rel/c.c"}) AddRecord(path, kTypeC, 1);
  const ReportModel model = BuildReportModel(totals_, false);
  std::vector<std::string> shown;
  for (const FileRow& row : model.files) shown.push_back(row.path.CStr());
  EXPECT_EQ(shown, (std::vector<std::string>{"r/a.c", "r/b.c", "rel/c.c"}));
}

TEST_F(SummaryReportTest, AnomaliesBeforeTheTableAndExtensionsAfter) {
  totals_.errorCount = 1;
  totals_.tooBigCount = 2;
  totals_.dupCount = 3;
  totals_.emptyCount = 4;
  totals_.utf16LeCount = 5;
  totals_.utf16BeCount = 6;
  settings.listExtensions = true;
  for (const char* extension : {"c", "", "txt", "c"}) uniqueExtensions.Insert(extension);
  const std::string report = Report();
  EXPECT_EQ(report.substr(0, report.find('\n', report.find("UTF-16 BE")) + 1),
            "1 errors (couldn't read/open)\n2 files bigger than 64 MB ignored\n3 dup files ignored\n"
            "4 empty files ignored\n5 UTF-16 LE files found\n6 UTF-16 BE files found\n");
  EXPECT_EQ(report.substr(report.rfind("Total")),
            "Total                         0           0           0           0           0\n"
            "\nFound 3 unique extensions:\nc\n\ntxt\n");

  // The limit is shown in megabytes rounded up, without overflow near the top.
  ResetTotals(totals_);
  totals_.tooBigCount = 1;
  for (const auto& [bytes, megabytes] :
       {std::pair<int64_t, const char*>{kMegabyte + 1, "2"}, {INT64_MAX, "8796093022208"}}) {
    settings.maxFileSize = bytes;
    SharedString out;
    PrintAnomalies(out, BuildReportModel(totals_, true));
    EXPECT_EQ(Text(out), std::string("1 files bigger than ") + megabytes + " MB ignored\n");
  }
}

}  // namespace
}  // namespace qm
