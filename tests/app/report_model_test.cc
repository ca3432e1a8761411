#include "app/report_model.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

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

}  // namespace
}  // namespace qm
