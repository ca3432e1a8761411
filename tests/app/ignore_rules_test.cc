// Pattern rules that the comparison with git (tests/ignore/compare_with_git.py) does not
// reach cheaply: malformed classes, a trailing backslash, bytes git's file reader
// drops, the cost of a set and the steps of a match.
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
      {"a*", "a/b", false, true},       // a name pattern's '*' has no '/' rule
      {"a**b", "a/x/b", true, false},   // "**" not between slashes is '*'
      {"x**/y", "xa/b/y", true, true},  // behind the literal prefix, as git matches it
      {"d/x**", "d/xa/b", true, true},
      {"d/*x**/y", "d/ax/b/y", true, false},
      {"**\\/b", "x/b", true, true},  // an escaped '/' ends "**" too, but needs a directory
      {"**\\/b", "b", true, false},
      {"**/a", "xa", true, false},  // "**/" stands for nothing only where it starts
      {"a/**", "a/x/y", true, true},
      {"a/**", "a", true, false},
      {"a/**/**/b", "a/b", true, true},
      {"**/b", "b", true, true},
      {"a/**/b", "a/b", true, true},
      {"*/b", "x/y/b", true, false},
      {"\xC3\xA9*", "\xC3\xA9t\xC3\xA9", true, true},  // bytes, not characters
  };
  for (const Case& c : cases) {
    EXPECT_EQ(WildMatch(c.pattern, c.text, c.isPathname), c.isMatch) << c.pattern << " vs " << c.text;
  }
}

TEST(IgnoreSet, ReadsLinesAsGitDoes) {
  static constexpr char kLines[] =
      "\xEF\xBB\xBF"
      "a.c\r\n"  // byte order mark, CRLF
      "# comment\n"
      "\\#b\n"
      "\\!c  \n"  // trailing spaces cut
      "d\\ \n"    // an escaped one kept
      "e \\\n"    // a trailing '\\' keeps the spaces before it
      "!/e/\n"
      "f\0g\n"  // cut at the zero byte
      "/\n"
      "!\n"
      "   \n";
  // Any length, as git reads it; a CR ending the last line is dropped too.
  const std::string text = std::string(kLines, sizeof kLines - 1) + std::string(5000, 'x') + "\nlast\r";
  IgnoreSet set;
  ASSERT_TRUE(set.Compile(text.data(), text.data() + text.size(), kMaxIgnoreCost));
  struct Expected {
    std::string text;
    bool isNegative;
    bool isDirectoryOnly;
    bool isBaseName;
  };
  const Expected expected[] = {
      {"a.c", false, false, true},  {"\\#b", false, false, true},
      {"\\!c", false, false, true}, {"d\\ ", false, false, true},
      {"e \\", false, false, true}, {"e", true, true, false},
      {"f", false, false, true},    {std::string(5000, 'x'), false, false, true},
      {"last", false, false, true},
  };
  ASSERT_EQ(set.RuleCount(), static_cast<int32_t>(std::size(expected)));
  for (int32_t i = 0; i < set.RuleCount(); ++i) {
    const IgnoreRule& rule = set.Rule(i);
    EXPECT_EQ(std::string(set.Text(rule), static_cast<size_t>(rule.textLength)), expected[i].text) << i;
    EXPECT_EQ(rule.isNegative, expected[i].isNegative) << i;
    EXPECT_EQ(rule.isDirectoryOnly, expected[i].isDirectoryOnly) << i;
    EXPECT_EQ(rule.isBaseName, expected[i].isBaseName) << i;
  }
  // The cost is known before anything is kept: one byte less refuses the file.
  IgnoreSet refused;
  EXPECT_FALSE(refused.Compile(text.data(), text.data() + text.size(), set.Cost() - 1));
  EXPECT_EQ(refused.RuleCount(), 0);
}

// Patterns whose backtracking takes time exponential in their stars ("**/a/**/a/...")
// are stepped once per path byte: the steps stay within (tokens + 1) positions for each
// byte, twice (a position is entered once and left once).
TEST(IgnoreSet, MatchingIsLinearInThePath) {
  std::string hostile;
  for (int i = 0; i < 40; ++i) hostile += "**/a/";
  hostile += "b\n*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*b\n";
  IgnoreSet set;
  ASSERT_TRUE(set.Compile(hostile.data(), hostile.data() + hostile.size(), kMaxIgnoreCost));
  for (const int depth : {10, 100, 1000}) {
    std::string path;
    for (int i = 0; i < depth; ++i) path += "a/";
    path += std::string(static_cast<size_t>(depth), 'a');
    MatchScratch scratch;
    EXPECT_EQ(set.LastMatch(path.data() + 2 * depth, depth, path.data(), static_cast<int32_t>(path.size()),
                            false, scratch),
              nullptr);
    int64_t bound = 0;
    for (int32_t i = 0; i < set.RuleCount(); ++i) {
      bound += 1 + set.Rule(i).prefixLength +
               2 * (set.Rule(i).tokenCount + 1) * (static_cast<int64_t>(path.size()) + 1);
    }
    EXPECT_LE(scratch.steps, bound) << depth;
  }
}

}  // namespace
}  // namespace qm
