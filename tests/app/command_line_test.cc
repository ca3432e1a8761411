#include "app/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/settings.h"
#include "tests/support/temp_tree.h"

namespace qm {
namespace {

std::string Join(const Array<SharedString>& list, int32_t count) {
  std::string text;
  for (int32_t i = 0; i < count; ++i) text += (i == 0 ? "" : "|") + std::string(list[i].CStr());
  return text;
}

// The settings that differ from their defaults, as one line. Every successful parse
// ends excludeExts with the generated-file suffixes; they are checked, not listed.
std::string Changed() {
  std::string text = "dirs=" + Join(settings.dirArgs, settings.dirArgs.Count());
  const int32_t userExts = settings.excludeExts.Count() - 3;
  EXPECT_GE(userExts, 0);
  if (userExts < 0) return text;
  EXPECT_EQ(std::string(settings.excludeExts[userExts].CStr()) + settings.excludeExts[userExts + 1].CStr() +
                settings.excludeExts[userExts + 2].CStr(),
            ".designer.cs.g.cs.g.i.cs");
  if (userExts > 0) text += " xe=" + Join(settings.excludeExts, userExts);
  for (int32_t i = 0; i < settings.forceExts.Count(); ++i) {
    text += " fe" + std::string(settings.forceExts.Key(i).CStr()) + "=" + settings.forceExts.Value(i).CStr();
  }
  if (settings.maxFileSize != 64 * kMegabyte) text += " max=" + std::to_string(settings.maxFileSize);
  if (!settings.csvFile.IsEmpty()) text += " csv=" + std::string(settings.csvFile.CStr());
  if (!settings.stdinName.IsEmpty()) text += " stdin=" + std::string(settings.stdinName.CStr());
  if (settings.byFile) text += " f";
  if (!settings.conservative) text += " g";
  return text;
}

TEST(ParseCommandLine, OptionTable) {
  const std::string invalid = "invalid argument: ";
  const struct {
    std::vector<std::string> args;
    std::string changed;  // empty: the parse fails
    std::string err;
  } cases[] = {
      {{"-xe=cs,", "d", "-xe=,CS", "-xe="}, "dirs=d xe=.cs|.cs", ""},
      {{"-xe=a", "--exclude-ext=,,b,,min.JS,", "d"}, "dirs=d xe=.a|.b|.min.js", ""},
      {{"-fe=pas,inc", "-fe=PAS,pp", "d"}, "dirs=d fe.pas=.pp", ""},
      {{"--force-ext=pas,inc,c", "-fe=,.C,,H,", "d"}, "dirs=d fe.pas=.inc fe.c=.h", ""},
      {{"-max=1", "d"}, "dirs=d max=1048576", ""},
      {{"--max-file-size=0", "d"}, "dirs=d max=0", ""},
      {{"-max=2048", "d"}, "dirs=d max=2146435072", ""},
      {{"-max=99999999999999999999999", "d"}, "dirs=d max=2146435072", ""},
      // Bad values (issue 12) as the usage/errors case shows them, in their other spellings.
      {{"--force-ext=", "d"}, "", invalid + "--force-ext=\n"},
      {{"d", "--diff"}, "", "--diff needs a value: -diff <filename>\n"},
      {{"-xd", "tests", "d"}, "", "-xd needs a value: -xd=dir,dir2,...\n"},
      {{"--exclude-ext", "min.JS", "-csv=a", "-j4", "d"}, "dirs=d xe=.min.js csv=a", ""},
      {{"--csv=a=b", "--diff=-x", "d"}, "dirs=d csv=a=b", ""},
      {{"-xe=", "-xd=", "d"}, "dirs=d", ""},
      {{"-csv", "-f", "d"}, "dirs=d csv=-f", ""},
      {{"d", "-f", "-csv", "a", "--csv", "stdout", "-g", "-c", "--greedy"}, "dirs=d csv=stdout f g", ""},
      {{"---", "d", "", "e"}, "dirs=d||e", ""},
      {{"d", "-"}, "", invalid + "- (count standard input with --stdin=NAME.EXT)\n"},
      {{"-f", "--", "-g", "--", "-"}, "dirs=-g|--|- f", ""},
      {{"-hello", "d"}, "", ""},
      {{"-x", "-F", "d"}, "", invalid + "-x\n"},
      {{"--Help", "d"}, "", invalid + "--Help\n"},
      {{"-f", "-la"}, "", "dirname(s) not specified\n"},
      {{"--stdin=x.c"}, "dirs= stdin=x.c", ""},
  };
  for (const auto& row : cases) {
    ClearSettings();
    std::vector<const char*> argv{"quillmet"};
    for (const std::string& arg : row.args) argv.push_back(arg.c_str());
    SCOPED_TRACE(row.args.empty() ? "" : row.args[0]);
    testing::internal::CaptureStderr();
    const bool isOk = ParseCommandLine(static_cast<int>(argv.size()), argv.data());
    EXPECT_EQ(testing::internal::GetCapturedStderr(), row.err);
    EXPECT_EQ(isOk ? Changed() : "", row.changed);
  }
}

TEST(ParseCommandLine, ExcludedDirectoriesBecomeAbsoluteWhenTheyExist) {
  test::TempTree tree;
  ASSERT_TRUE(tree.MakeDir("src/gen"));
  ASSERT_TRUE(tree.MakeSymlink("link", tree.Path("src")));
  ClearSettings();
  const std::string first = "-xd=" + tree.Path("src/gen") + "/,no/such/./dir";
  // Kept as typed unless it opens as a directory, which becomes its real path (keeping
  // a final '/': that directory alone, not src/generated).
  const std::string second = "--exclude-dir=" + tree.Path("link");
  const char* argv[] = {"quillmet", first.c_str(), second.c_str(), "d"};
  ASSERT_TRUE(ParseCommandLine(4, argv));
  EXPECT_EQ(Join(settings.excludeDirs, settings.excludeDirs.Count()),
            tree.Path("src/gen") + "/|no/such/./dir|" + tree.Path("src"));
}

}  // namespace
}  // namespace qm
