#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/md5.h"
#include "tests/support/report_text.h"
#include "tests/support/run_tool.h"
#include "tests/support/temp_tree.h"

namespace qm {
namespace {

using test::kRule;
using test::kHeader;
using test::Row;

const char kCSource[] = "int main() {\n  return 0;\n}\n";
const char kPython[] = "# c\nx = 1\n\n";

class CountingCli : public testing::Test {
 protected:
  test::ToolResult Run(const std::vector<std::string>& args, const char* input = nullptr) {
    test::ToolOptions options;
    options.workDir = tree.Root();
    if (input != nullptr) options.standardInput = input;
    return test::RunTool(args, options);
  }

  test::TempTree tree;
};

TEST_F(CountingCli, DirectoriesAndSingleFilesShareOneSetOfTotals) {
  ASSERT_TRUE(tree.WriteFile("src/a.c", kCSource));
  ASSERT_TRUE(tree.WriteFile("src/e.c", ""));
  ASSERT_TRUE(tree.WriteFile("src/sub/b.py", kPython));
  ASSERT_TRUE(tree.WriteFile("src/.git/x.c", "int x;\n"));
  ASSERT_TRUE(tree.WriteFile("copy\\x.c ", kCSource));
  const std::string hex = Md5Hex(Md5Of(kCSource, sizeof kCSource - 1)).CStr();
  const test::ToolResult result = Run({"-la", "src", "copy\\x.c "});
  EXPECT_EQ(result.out,
            "empty file: e.c\n"
            "duplicate file: copy\\x.c \n\tmd5:" +
                hex +
                "\n\tdup source: a.c\n"
                "1 dup files ignored\n1 empty files ignored\n" +
                kHeader + Row("C source", "1", "0", "0", "1", "2") +
                Row("Python source", "1", "1", "1", "0", "1") + kRule +
                Row("Total", "2", "1", "1", "1", "3"));
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.exitStatus, 0);
}

TEST_F(CountingCli, StandardInputIsOneFileNamedByTheOption) {
  const test::ToolResult result = Run({"nope", "--stdin=In.PY"}, kPython);
  EXPECT_EQ(result.out, kHeader + Row("Python source", "1", "1", "1", "0", "1") + kRule +
                            Row("Total", "1", "1", "1", "0", "1"));
  EXPECT_EQ(result.err, "");
  // Standard input is read in pieces: exactly the limit is counted, one byte more is not.
  const std::string atLimit(1048576, '\n');
  EXPECT_EQ(Run({"-la", "-np", "-max=1", "--stdin=s.c"}, atLimit.c_str()).out,
            kHeader + Row("C source", "1", "1048576", "0", "0", "0") + kRule +
                Row("Total", "1", "1048576", "0", "0", "0"));
  EXPECT_EQ(Run({"-la", "-max=1", "--stdin=s.c"}, (atLimit + "\n").c_str()).out,
            "couldn't open/read file: s.c\n1 errors (couldn't read/open)\n" + kHeader + kRule +
                Row("Total", "0", "0", "0", "0", "0"));
}

TEST_F(CountingCli, BadArgumentsAreReportedAndTheRunGoesOn) {
  ASSERT_TRUE(tree.MakeFifo("p.c"));
  ASSERT_TRUE(tree.WriteSizedFile("edge.c", 1048576, "\n"));
  ASSERT_TRUE(tree.WriteSizedFile("sub/over.c", 1048577, "\n"));
  // Over the limit, a file found by the walk is too big, a file argument unreadable.
  const test::ToolResult result = Run({"nope", "p.c", "-la", "-max=1", "edge.c", "-np", "sub", "sub/over.c"});
  EXPECT_EQ(result.err, "failed to open dir: nope\n");
  EXPECT_EQ(result.out,
            "couldn't open file: p.c\nfile too big: over.c\ncouldn't open/read file: over.c\n"
            "2 errors (couldn't read/open)\n1 files bigger than 1 MB ignored\n" +
                kHeader + Row("C source", "1", "1048576", "0", "0", "0") + kRule +
                Row("Total", "1", "1048576", "0", "0", "0"));
  EXPECT_EQ(result.exitStatus, 0);
}

TEST_F(CountingCli, ShortRunWithProgressPrintsTheBannerAndOnlyTheFinalCount) {
  ASSERT_TRUE(tree.WriteFile("a.c", kCSource));
  ASSERT_TRUE(tree.WriteFile("b.py", kPython));
  ASSERT_TRUE(tree.WriteFile("README", "text\n"));
  const test::ToolResult result = Run({"-sp", ".", "-v"});
  EXPECT_EQ(result.out.rfind("Quillmet v1.9\n2 total files\n" + kHeader, 0), 0u) << result.out;
  EXPECT_EQ(result.out.find('\r'), std::string::npos);
}

}  // namespace
}  // namespace qm
