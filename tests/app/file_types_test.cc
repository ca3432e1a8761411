#include "app/file_types.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/settings.h"

namespace qm {
namespace {

// Parses the options (a directory argument is added) and builds the extension map.
void Configure(std::vector<std::string> args) {
  ClearSettings();
  args.insert(args.begin(), "quillmet");
  args.push_back("d");
  std::vector<const char*> argv;
  for (const std::string& arg : args) argv.push_back(arg.c_str());
  ASSERT_TRUE(ParseCommandLine(static_cast<int>(argv.size()), argv.data()));
  BuildExtensionMap();
}

TEST(FileTypeOf, OnlyTheLastDotCounts) {
  Configure({});
  const struct {
    const char* name;
    FileTypeId type;
  } cases[] = {
      {"x.g.cs", kTypeCSharp}, {"makefile", kTypeUnknown}, {"name.", kTypeUnknown},
      {".c", kTypeC},          {"a.c.bak", kTypeUnknown},  {"a.C", kTypeUnknown},
  };
  for (const auto& row : cases) EXPECT_EQ(FileTypeOf(row.name), row.type) << row.name;
}

TEST(FileTypeOf, ForcedExtensionsBorrowOnlyBuiltInTypes) {
  Configure({"-fe=c,h"});
  EXPECT_EQ(FileTypeOf("a.h"), kTypeC);
  Configure({"-fe=cpp,c"});
  EXPECT_EQ(FileTypeOf("a.c"), kTypeCpp);
  Configure({"-fe=xyz,inc"});
  EXPECT_EQ(FileTypeOf("a.inc"), kTypeUnknown);
  Configure({"-fe=pas,inc", "-fe=inc,x", "-fe=lua,inc"});
  EXPECT_EQ(FileTypeOf("a.inc"), kTypeLua);
  EXPECT_EQ(FileTypeOf("a.x"), kTypeUnknown);
  EXPECT_EQ(FileTypeOf("a.pas"), kTypePascal);
}

TEST(IsExcludedName, SuffixesNotExtensions) {
  const struct {
    std::vector<std::string> args;
    const char* name;
    bool isExcluded;
  } cases[] = {
      {{}, "form1.designer.cs", true},   {{}, "app.g.cs", true},
      {{}, "designer.cs", false},        {{"-xe=min.js"}, "jquery.min.js", true},
      {{"-xe=min.js"}, "app.js", false}, {{"-xe=cs"}, ".cs", true},
      {{"-xe=cs"}, "cs", false},         {{"-xe=.C"}, "x.c", true},
  };
  for (const auto& row : cases) {
    Configure(row.args);
    EXPECT_EQ(IsExcludedName(row.name), row.isExcluded) << row.name;
  }
}

}  // namespace
}  // namespace qm
