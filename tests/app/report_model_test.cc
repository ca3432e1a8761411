#include "app/report_model.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/file_types.h"
#include "app/html_report.h"
#include "app/run_state.h"
#include "app/settings.h"

namespace qm {
namespace {

class ReportModelTest : public ::testing::Test {
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
  static void AddRecord(const char* path, FileTypeId type, int64_t code, const char* archive = "") {
    FileRecord record;
    record.path = path;
    record.archive = archive;
    record.type = type;
    record.code = code;
    record.lines = code;
    record.onDisk = *archive == 0;
    fileRecords.PushBack(record);
  }

  CountTotals totals_;
};

// The page's directories: every directory of the locations (an archive member's below
// its archive; a doubled '/' makes no empty name) with the sums below it, the language
// of most of its code, children by code and each file's row.
TEST_F(ReportModelTest, DirectoriesSumTheFilesBelowThem) {
  settings.reportFormat = &kHtmlReport;
  AddRecord("/p/src/a.c", kTypeC, 10);
  AddRecord("/p/src/util/b.h", kTypeHeader, 30);
  AddRecord("/p/src/util/c.c", kTypeC, 5);
  AddRecord("/p/top.py", kTypePython, 7);
  AddRecord("/p/x//y/d.c", kTypeC, 1);
  AddRecord("in/m.c", kTypeC, 2, "src/pack.tar");
  const ReportModel model = BuildReportModel(totals_, true);
  std::vector<std::string> rows;
  for (const DirectoryRow& row : model.directories) {
    std::string children;
    for (const int32_t child : row.directories)
      children += " " + std::string(model.directories[child].path.CStr());
    rows.push_back(std::string(row.path.CStr()) + " name=" + (row.path.CStr() + row.nameStart) +
                   " parent=" + std::to_string(row.parent) + " files=" + std::to_string(row.files) +
                   " code=" + std::to_string(row.code) + " main=" + TypeNames[row.mainType] + " (" +
                   std::to_string(row.mainCode) + ") children:" + children);
  }
  EXPECT_EQ(
      rows,
      (std::vector<std::string>{
          " name= parent=-1 files=6 code=55 main=C/C++ header (30) children: src x",
          "src name=src parent=0 files=4 code=47 main=C/C++ header (30) children: src/util src/pack.tar",
          "src/util name=util parent=1 files=2 code=35 main=C/C++ header (30) children:",
          "src/pack.tar name=pack.tar parent=1 files=1 code=2 main=C source (2) children: src/pack.tar/in",
          "src/pack.tar/in name=in parent=3 files=1 code=2 main=C source (2) children:",
          "x name=x parent=0 files=1 code=1 main=C source (1) children: x//y",
          "x//y name=y parent=5 files=1 code=1 main=C source (1) children:",
      }));
  for (const FileRow& file : model.files) {
    const DirectoryRow& directory = model.directories[file.directory];
    EXPECT_TRUE(directory.path.IsEmpty() || file.location.StartsWith(directory.path.CStr()))
        << file.location.CStr();
  }
  EXPECT_EQ(std::string(model.files[4].location.CStr()), "src/pack.tar/in/m.c");
}

// Files of one directory share its normalised path, but a name that takes part in
// normalising (a '\' becomes '/') stands for another directory: a later plain name
// of the same text before it must not be taken for that one.
TEST_F(ReportModelTest, CommonDirectoryOfNamesThatNormalise) {
  settings.byFile = true;
  AddRecord("/p/a/b\\c.c", kTypeC, 2);
  AddRecord("/p/a/d.c", kTypeC, 1);
  const ReportModel model = BuildReportModel(totals_, true);
  ASSERT_EQ(model.files.Count(), 2);
  EXPECT_EQ(std::string(model.files[0].path.CStr()), "b\\c.c");
  EXPECT_EQ(std::string(model.files[1].path.CStr()), "d.c");
}

// After -diff the rows are current minus saved; the saved side keeps the loaded
// numbers, and in the greedy layout its punctuation counts as code.
TEST_F(ReportModelTest, SavedAndCurrentSidesOfADiff) {
  SavedCounts saved;
  saved.byType[kTypeC] = {2, 4, 6, 3, 10};
  totals_.fileCount[kTypeC] = 1;
  totals_.codeLines[kTypeC] = 5;
  totals_.lineCount[kTypeC] = 1;
  totals_.fileCount[kTypeGo] = -1;
  totals_.codeLines[kTypeGo] = -7;
  totals_.lineCount[kTypeGo] = 1;
  saved.byType[kTypeGo] = {1, 0, 0, 0, 7};
  const ReportModel model = BuildReportModel(totals_, false, &saved);
  ASSERT_TRUE(model.hasComparison);
  ASSERT_EQ(model.languages.Count(), 2);
  EXPECT_EQ(model.languages[0].type, kTypeC);
  EXPECT_EQ(model.comparison.saved[0].code, 13);
  EXPECT_EQ(model.comparison.saved[0].punctuation, 0);
  EXPECT_EQ(model.comparison.current[0].code, 18);
  EXPECT_EQ(model.comparison.current[0].files, 3);
  EXPECT_EQ(model.comparison.current[1].code, 0);
  EXPECT_EQ(model.comparison.savedTotal.code, 20);
  EXPECT_EQ(model.comparison.currentTotal.code, 18);
  EXPECT_EQ(model.comparison.currentTotal.blank, 4);
}

}  // namespace
}  // namespace qm
