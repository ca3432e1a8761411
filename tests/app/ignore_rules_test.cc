// Pattern rules that the comparison with git (tests/ignore/compare_with_git.py) does not
// reach cheaply: malformed classes, a trailing backslash, bytes git's file reader
// drops, and the limits of our own.
#include "app/ignore_rules.h"

#include <gtest/gtest.h>

#include <string>

namespace qm {
namespace {

TEST(WildMatch, MatchesAsGitDoes) {
  struct Case {
    const char* pattern;
    const char* text;
    bool isPathname;
    bool isMatch;
  };
  const Case cases[] = {
      {"[[:alpha:]]x", "ax", true, true},
      {"[[:nosuch:]]x", "ax", true, false},  // unknown class: matches nothing
      {"[ab", "a", true, false},             // a class that never closes
      {"[]]", "]", true, true},              // ']' first is a member
      {"[!]]", "a", true, true},
      {"[A-\\]]", "]", true, true},  // escaped range end
      {"[[:x]", ":", true, true},    // no ":]": '[' is an ordinary member
      {"ab\\", "ab", true, false},   // a trailing backslash matches nothing
      {"a\\*", "a*", true, true},
      {"a\\*", "ab", true, false},
      {"[!a]", "/", true, false},  // no class matches '/' in a path
      {"?", "/", true, false},
      {"a*", "a/b", false, true},      // a name pattern's '*' has no '/' rule
      {"a**b", "a/x/b", true, false},  // "**" not between slashes is '*'
      {"a/**", "a/x/y", true, true},
      {"**/b", "b", true, true},
      {"a/**/b", "a/b", true, true},
      {"*/b", "x/y/b", true, false},
      {"\xC3\xA9*", "\xC3\xA9t\xC3\xA9", true, true},  // bytes, not characters
  };
  for (const Case& c : cases) {
    EXPECT_EQ(WildMatch(c.pattern, c.text, c.isPathname), c.isMatch) << c.pattern << " vs " << c.text;
  }
}

TEST(ParseIgnoreFile, ReadsLinesAsGitDoes) {
  static constexpr char kLines[] =
      "\xEF\xBB\xBF"
      "a.c\r\n"  // byte order mark, CRLF
      "# comment\n"
      "\\#b\n"
      "\\!c  \n"  // trailing spaces cut
      "d\\ \n"    // an escaped one kept
      "!/e/\n"
      "f\0g\n"  // cut at the zero byte
      "/\n"
      "!\n"
      "   \n";
  const std::string text =
      std::string(kLines, sizeof kLines - 1) + std::string(kMaxPatternBytes + 1, 'x') + "\nlast";
  Array<IgnorePattern> patterns;
  ParseIgnoreFile(text.data(), text.data() + text.size(), patterns);
  struct Expected {
    const char* text;
    bool isNegative;
    bool isDirectoryOnly;
    bool isBaseName;
  };
  const Expected expected[] = {
      {"a.c", false, false, true},  {"\\#b", false, false, true}, {"\\!c", false, false, true},
      {"d\\ ", false, false, true}, {"e", true, true, false},     {"f", false, false, true},
      {"last", false, false, true},
  };
  ASSERT_EQ(patterns.Count(), static_cast<int32_t>(std::size(expected)));
  for (int32_t i = 0; i < patterns.Count(); ++i) {
    EXPECT_STREQ(patterns[i].text.CStr(), expected[i].text) << i;
    EXPECT_EQ(patterns[i].isNegative, expected[i].isNegative) << i;
    EXPECT_EQ(patterns[i].isDirectoryOnly, expected[i].isDirectoryOnly) << i;
    EXPECT_EQ(patterns[i].isBaseName, expected[i].isBaseName) << i;
  }
}

}  // namespace
}  // namespace qm
