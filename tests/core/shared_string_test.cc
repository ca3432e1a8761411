#include "core/shared_string.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace qm {
namespace {

std::string Bytes(const SharedString& s) {
  return std::string(s.CStr(), s.Length());
}

TEST(HashBytes, KnownAnswers) {
  EXPECT_EQ(HashBytes(nullptr, 0), 0x424C5FBFu);
  EXPECT_EQ(HashBytes("abc", 3), 0x505EED4Du);
  EXPECT_EQ(SharedString().Hash(), 0x424C5FBFu);
  // The cached hash must follow the text through in-place changes.
  SharedString s("abc");
  EXPECT_EQ(s.Hash(), 0x505EED4Du);
  s.Append("d");
  EXPECT_EQ(s.Hash(), HashBytes("abcd", 4));
  s.Erase(3, 1);
  EXPECT_EQ(s.Hash(), 0x505EED4Du);
}

TEST(SharedString, CompareTable) {
  struct Case {
    const char* self;
    const char* other;
    int expected;
  } cases[] = {
      {"", "a", -1},     {"ab", "a", 1},   {"abc", "abc", 0},
      {"abd", "abc", 1}, {"\xE9", "z", 1}, {"a", nullptr, -2},
  };
  for (const Case& c : cases) {
    SharedString s(c.self);
    SCOPED_TRACE(std::string(c.self) + " vs " + (c.other ? c.other : "(null)"));
    EXPECT_EQ(s.Compare(c.other), c.expected);
    EXPECT_EQ(s.Compare(c.other, c.other ? c.other + std::strlen(c.other) : nullptr), c.expected);
    if (c.other != nullptr) {
      EXPECT_EQ(s.Compare(SharedString(c.other)), c.expected);
    }
  }
  const char text[] = "ab\0cd";
  EXPECT_EQ(Bytes(SharedString(text, nullptr)), "ab");  // null end: up to the zero
}

TEST(SharedString, CopiesShareAndChangesCopyOnWrite) {
  // Every path that changes bytes (splice, in-place and growing replace, case folding)
  // leaves the other copy alone, and its block to itself.
  using Change = void (*)(SharedString&);
  Change changes[] = {
      [](SharedString& s) { s.Append("!"); },
      [](SharedString& s) { s.Erase(1, 2); },
      [](SharedString& s) { s.EraseLeft(-1); },
      [](SharedString& s) { s.ReplaceAll("X", "y"); },
      [](SharedString& s) { s.ReplaceAll("X", "yyy"); },
      [](SharedString& s) { s.Trim(); },
      [](SharedString& s) { s.ToLower(); },
  };
  SharedString original(" MiXed ");
  for (Change change : changes) {
    SharedString copy;
    copy = original;
    EXPECT_EQ(copy.CStr(), original.CStr());
    change(copy);
    EXPECT_EQ(Bytes(original), " MiXed ");
    EXPECT_EQ(original.RefCount(), 1u);
  }
}

TEST(SharedString, MoveAndSelfAssignment) {
  SharedString a("text");
  SharedString b(static_cast<SharedString&&>(a));
  EXPECT_TRUE(a.IsEmpty());
  SharedString& alias = b;
  b = alias;
  b.Assign(alias);
  EXPECT_EQ(Bytes(b), "text");
  EXPECT_EQ(b.RefCount(), 1u);
  b = b.CStr() + 1;  // assigning a text that lives in the block being replaced
  EXPECT_EQ(Bytes(b), "ext");
  b = static_cast<const char*>(nullptr);
  EXPECT_TRUE(b.IsEmpty());
}

TEST(SharedString, FindStartsWithEndsWith) {
  SharedString s("one two one");
  EXPECT_EQ(s.Find("one", 1), 8);
  EXPECT_EQ(s.Find("one", 9), -1);
  EXPECT_EQ(s.Find(""), -1);
  const char range[] = "twoX";
  EXPECT_EQ(s.Find(range, range + 3, 0), 4);
  EXPECT_EQ(SharedString("aaab").Find(SharedString("aab")), 1);  // after a partial match
  EXPECT_TRUE(s.StartsWith("one "));
  EXPECT_FALSE(s.StartsWith(""));
  EXPECT_FALSE(s.StartsWith("one two one!"));
  EXPECT_TRUE(s.EndsWith(SharedString("one")));
}

TEST(SharedString, AppendReadsItsOwnBytes) {
  SharedString self("ab");
  self.Append(self);
  self.Append(self.CStr() + 1, 2);  // bytes from the block itself
  EXPECT_EQ(Bytes(self), "ababba");
  SharedString target;
  target.Append(self);  // on an empty string: shares
  EXPECT_EQ(target.CStr(), self.CStr());
}

TEST(SharedString, InsertAndErase) {
  struct Case {
    const char* start;
    int32_t index, count;
    const char* after;
  } erases[] = {
      {"abcdef", 2, -1, "ab"},    {"abcdef", 2, 2, "abef"},  {"abcdef", -3, 1, "bcdef"},
      {"abcdef", 6, 1, "abcdef"}, {"abcdef", 4, 99, "abcd"},
  };
  for (const Case& c : erases) {
    SharedString s(c.start);
    EXPECT_EQ(s.Erase(c.index, c.count), static_cast<int32_t>(std::strlen(c.after)))
        << c.index << "," << c.count;
    EXPECT_EQ(Bytes(s), c.after);
  }
  SharedString left("abc");
  EXPECT_EQ(left.EraseLeft(10), 0);
  SharedString s("ad");
  s.Insert(1, "bc");
  s.Insert(99, "e");
  s.Insert(-1, ">");
  EXPECT_EQ(Bytes(s), ">abcde");
  s.Insert(1, s.CStr() + 3, s.CStr() + 5);  // bytes from the block itself, in place
  EXPECT_EQ(Bytes(s), ">cdabcde");
}

TEST(SharedString, ReplaceAll) {
  struct Case {
    const char* start;
    const char* from;
    const char* to;
    const char* after;
    int32_t count;
  } cases[] = {
      {"a/b", "/", "//", "a//b", 1}, {"aaaa", "aa", "b", "bb", 2}, {"aaa", "aa", "a", "aa", 1},
      {"abc", "", "x", "abc", 0},    {"abab", "ab", "", "", 2},    {"abc", "abc", "abcabc", "abcabc", 1},
  };
  for (const Case& c : cases) {
    SharedString s(c.start);
    EXPECT_EQ(s.ReplaceAll(c.from, c.to), c.count) << c.start;
    EXPECT_EQ(Bytes(s), c.after) << c.start;
  }
  SharedString s("a-b-c");
  const char* dash = s.CStr() + 1;
  EXPECT_EQ(s.ReplaceAll(dash, dash + 1, "--", nullptr), 2);  // pattern inside the string
  EXPECT_EQ(Bytes(s), "a--b--c");
}

TEST(SharedString, ToLowerAndTrim) {
  SharedString upper("A-Z\xC3\x89z[");
  upper.ToLower();
  EXPECT_EQ(Bytes(upper), "a-z\xC3\x89z[");  // ASCII only
  const std::pair<const char*, const char*> cases[] = {
      {" \t x \r\n", "x"}, {"\fx", "\fx"}, {"\bx\v", "x"}, {"  ", ""}};
  for (const auto& [start, after] : cases) {
    SharedString s(start);
    s.Trim();
    EXPECT_EQ(Bytes(s), after);
  }
}

// Split walks Token from position 0 on.
TEST(SharedString, Split) {
  struct Case {
    const char* source;
    const char* delimiters;
    bool keepEmpty;
    std::vector<std::string> tokens;
  } cases[] = {
      {"a,,b", ",", false, {"a", "b"}},
      {",a,", ",", true, {"", "a", ""}},
      {"", ",", true, {}},
      {"x y\tz", " \t", false, {"x", "y", "z"}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> tokens;
    for (const SharedString& token : SharedString(c.source).Split(c.delimiters, c.keepEmpty)) {
      tokens.push_back(Bytes(token));
    }
    EXPECT_EQ(tokens, c.tokens) << c.source << " keepEmpty=" << c.keepEmpty;
  }
}

TEST(SharedString, FormatCutsAtTheBufferEnd) {
  EXPECT_EQ(Bytes(SharedString::Format("%d-%s", 42, "x")), "42-x");
  std::string longText(20000, 'q');
  longText[15998] = 'L';
  EXPECT_EQ(Bytes(SharedString::Format("%s", longText.c_str())), longText.substr(0, 15999));
}

}  // namespace
}  // namespace qm
