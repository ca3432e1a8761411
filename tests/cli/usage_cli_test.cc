#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/run_tool.h"
#include "tests/support/temp_tree.h"

namespace qm {
namespace {

const char kUsage[] =
    "Quillmet v1.9\n"
    "usage: Quillmet [args] <dir> [<dir2> ...]\n"
    "args:\n"
    "       -h, -? help\n"
    "       -sp show progress (off by default)\n"
    "       -g greedy mode (count punctuation as code)\n"
    "       -f count by file (off by default)\n"
    "       -np don't pretty-print numbers\n"
    "       -nr don't recurse on subdirs\n"
    "       -xd=dir,dir2,... exclude dirs\n"
    "       -xe=ext,ext2,... exclude extensions\n"
    "       -fe=ref_ext,ext force extension\n"
    "           example: -fe=pas,inc\n"
    "       -le list extensions in dir\n"
    "       -la list anomalies in dir (empty/dups/UTF-16)\n"
    "       -v always show version\n"
    "       -max=n ignore files bigger than n megabytes (default=64)\n"
    "       -stdin=name.ext input from stdin\n"
    "           example: --stdin=*.tar\n"
    "       -sa scan archives (zip/tar/gz) along the way (default=off)\n"
    "           note: nested archives will fail to open\n"
    "       -csv <filename> output results (total even if counting by file) to csv\n"
    "           note: always overwrites filename without prompting!\n"
    "           this implies no output to stdout unless stdout\n"
    "           is supplied as filename; csv will then\n"
    "           be printed to stdout instead\n"
    "       -diff <filename> diff results with previously saved csv\n";

// One case per kind of outcome; the option rules themselves are the command line
// parser's tests.
TEST(UsageCli, HelpAndCommandLineErrorsPrintTheUsageAndExitZero) {
  test::TempTree tree;
  ASSERT_TRUE(tree.WriteFile("a.c", "int a;\n"));
  const struct {
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {{"-h"}, ""},
      {{"-?", "."}, ""},
      {{".", "-hello"}, ""},
      {{"-x", "."}, "invalid argument: -x\n"},
      {{}, "dirname(s) not specified\n"},
      {{".", "-csv"}, "invalid argument: -csv\n"},
  };
  for (const auto& row : cases) {
    SCOPED_TRACE(row.err + (row.args.empty() ? "" : row.args[0]));
    test::ToolOptions options;
    options.workDir = tree.Root();
    const test::ToolResult result = test::RunTool(row.args, options);
    EXPECT_EQ(result.out, kUsage);
    EXPECT_EQ(result.err, row.err);
    EXPECT_EQ(result.exitStatus, 0);
  }
}

}  // namespace
}  // namespace qm
