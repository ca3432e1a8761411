// The report end to end: the real binary on a temporary tree, whole standard output
// and standard error compared byte for byte.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/report_text.h"
#include "tests/support/run_tool.h"
#include "tests/support/temp_tree.h"

namespace qm {
namespace {

using test::Row;
using test::kHeader;

std::string Rule(int n) {
  return std::string(static_cast<size_t>(n) + 60, '-') + "\n";
}

// 1 comment, 2 code, 1 punctuation (code in greedy mode) and 1 blank line.
const char kCSource[] = "// entry\nint main() {\n  return 0;\n}\n\n";
// 1 code and 1 comment line.
const char kPython[] = "x = 1\n# done\n";
const char kConservativeCsv[] =
    "Type,Files,Blank,Comment,Punctuation,Code\n"
    "C source,1,1,1,1,2\n"
    "Python source,1,0,1,0,1\n"
    "Total,2,1,2,1,3\n";

class ReportCli : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(tree.WriteFile("proj/src/a.c", kCSource));
    ASSERT_TRUE(tree.WriteFile("proj/lib/b.py", kPython));
  }

  test::ToolResult Run(const std::vector<std::string>& args) {
    test::ToolOptions options;
    options.workDir = tree.Root();
    return test::RunTool(args, options);
  }

  test::TempTree tree;
};

// Standard output is a pipe here: the banner and the progress count are printed
// formatted, the CSV through the descriptor, and they still come in program order.
TEST_F(ReportCli, CsvOnStandardOutputKeepsProgramOrder) {
  const test::ToolResult result = Run({"-v", "-sp", "-g", "-csv", "stdout", "proj"});
  EXPECT_EQ(result.out,
            "Quillmet v1.9\n2 total files\n"
            "Type,Files,Blank,Comment,Code\nC source,1,1,1,3\nPython source,1,0,1,1\nTotal,2,1,2,4\n");
  EXPECT_EQ(result.err, "");
}

// By file, the rows keep the run's own figures (paths under the common directory);
// only the total carries the differences. A missing diff file is reported (without a
// line break) and the run goes on.
TEST_F(ReportCli, DiffAgainstTheSameTreeGivesZeros) {
  test::ToolResult result = Run({"-diff", "saved.csv", "proj"});
  EXPECT_EQ(result.out, kHeader + Row("C source", "1", "1", "1", "1", "2") +
                            Row("Python source", "1", "0", "1", "0", "1") + Rule(19) +
                            Row("Total", "2", "1", "2", "1", "3"));
  EXPECT_EQ(result.err, "Failed to open diff CSV: saved.csv");

  ASSERT_EQ(Run({"-csv", "saved.csv", "proj"}).err, "");
  result = Run({"-diff", "saved.csv", "proj"});
  EXPECT_EQ(result.out, kHeader + Row("C source", "0", "0", "0", "0", "0") +
                            Row("Python source", "0", "0", "0", "0", "0") + Rule(19) +
                            Row("Total", "0", "0", "0", "0", "0"));
  EXPECT_EQ(result.err, "");

  result = Run({"-f", "-diff", "saved.csv", "proj"});
  EXPECT_EQ(result.out,
            Rule(19) + "File                                  Blank     Comment Punctuation        Code\n" +
                Rule(19) +
                "src/a.c                                   1           1           1           2\n"
                "lib/b.py                                  0           1           0           1\n" +
                Rule(19) +
                "Total                                     0           0           0           0\n");
}

// A type that vanished keeps its row, negative; a new CSV carries the differences.
TEST_F(ReportCli, DiffShowsVanishedTypesAsNegative) {
  ASSERT_TRUE(tree.WriteFile("saved.csv", kConservativeCsv));
  ASSERT_TRUE(tree.WriteFile("now/a.c", kCSource));
  test::ToolResult result = Run({"-diff", "saved.csv", "now"});
  EXPECT_EQ(result.out, kHeader + Row("C source", "0", "0", "0", "0", "0") +
                            Row("Python source", "-1", "0", "-1", "0", "-1") + Rule(19) +
                            Row("Total", "-1", "0", "-1", "0", "-1"));

  result = Run({"-diff", "saved.csv", "-csv", "stdout", "now"});
  EXPECT_EQ(result.out,
            "Type,Files,Blank,Comment,Punctuation,Code\nC source,0,0,0,0,0\n"
            "Python source,-1,0,-1,0,-1\nTotal,-1,0,-1,0,-1\n");
}

}  // namespace
}  // namespace qm
