#include "core/shared_string.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace qm {
namespace {

std::string Bytes(const SharedString& s) { return std::string(s.CStr(), s.Length()); }

std::vector<std::string> Strings(const Array<SharedString>& tokens) {
  std::vector<std::string> out;
  for (const SharedString& token : tokens) out.push_back(Bytes(token));
  return out;
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

TEST(SharedString, EmptyFormsAllocateNothing) {
  const char* nullText = nullptr;
  SharedString forms[] = {SharedString(nullText), SharedString(""), SharedString("abc", "abc")};
  for (const SharedString& s : forms) {
    EXPECT_STREQ(s.CStr(), "");
    EXPECT_EQ(s.RefCount(), 0u);
  }
  const char text[] = "ab\0cd";
  EXPECT_EQ(Bytes(SharedString(text, nullptr)), "ab");  // null end: up to the zero
}

TEST(SharedString, CompareTable) {
  struct Case {
    const char* self;
    const char* other;
    int expected;
  } cases[] = {
      {"", "", 0},      {"", "a", -1},      {"a", "", 1},         {"ab", "a", 1},
      {"a", "ab", -1},  {"abc", "abc", 0},  {"abd", "abc", 1},    {"\xE9", "z", 1},
      {"z", "\xE9", -1}, {"a", nullptr, -2}, {"", nullptr, -2},
  };
  for (const Case& c : cases) {
    SharedString s(c.self);
    SCOPED_TRACE(std::string(c.self) + " vs " + (c.other ? c.other : "(null)"));
    EXPECT_EQ(s.Compare(c.other), c.expected);
    const char* end = c.other ? c.other + std::strlen(c.other) : nullptr;
    EXPECT_EQ(s.Compare(c.other, end), c.expected);
    if (c.other == nullptr) continue;
    EXPECT_EQ(s.Compare(SharedString(c.other)), c.expected);
    EXPECT_EQ(s == SharedString(c.other), c.expected == 0);
    EXPECT_EQ(s < c.other, c.expected < 0);
    EXPECT_EQ(s >= c.other, c.expected >= 0);
  }
  // Against a null text <, <= and != hold; the others do not.
  const char* nullText = nullptr;
  EXPECT_TRUE(SharedString("a") <= nullText);
  EXPECT_TRUE(SharedString("a") != nullText);
  EXPECT_FALSE(SharedString("a") > nullText);
}

TEST(SharedString, CopiesShareAndChangesCopyOnWrite) {
  // Every kind of change leaves the other copy alone, and its block to itself.
  using Change = void (*)(SharedString&);
  Change changes[] = {
      [](SharedString& s) { s.Append("!"); },
      [](SharedString& s) { s.AppendCodePoint(0xE9); },
      [](SharedString& s) { s.Insert(1, "++"); },
      [](SharedString& s) { s.Erase(1, 2); },
      [](SharedString& s) { s.EraseLeft(1); },
      [](SharedString& s) { s.ReplaceAll("X", "y"); },
      [](SharedString& s) { s.ReplaceAll("X", "yyy"); },
      [](SharedString& s) { s.Trim(); },
      [](SharedString& s) { s.ToLower(); },
      [](SharedString& s) { s.EraseLeft(-1); },
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
  EXPECT_EQ(Bytes(b), "text");
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
  EXPECT_EQ(s.Find("one"), 0);
  EXPECT_EQ(s.Find("one", 1), 8);
  EXPECT_EQ(s.Find("one", 9), -1);
  EXPECT_EQ(s.Find(""), -1);
  const char range[] = "twoX";
  EXPECT_EQ(s.Find(range, range + 3, 0), 4);
  EXPECT_EQ(SharedString("aaab").Find(SharedString("aab")), 1);  // after a partial match

  EXPECT_TRUE(s.StartsWith("one "));
  EXPECT_FALSE(s.StartsWith(""));
  EXPECT_FALSE(s.StartsWith("one two one!"));
  EXPECT_TRUE(SharedString("\xC3\xA9t\xC3\xA9").StartsWith(U'\u00E9'));
  EXPECT_TRUE(s.EndsWith(SharedString("one")));
  EXPECT_FALSE(s.EndsWith(""));
  EXPECT_FALSE(s.EndsWith("xone two one"));
}

TEST(SharedString, AppendGrowsByHalfAgain) {
  SharedString s;
  s.Append("abcd");
  EXPECT_EQ(s.Capacity(), 4);  // built from scratch: exact size
  s.Append("e");
  EXPECT_EQ(s.Capacity(), 6);
  s.Append("f");
  EXPECT_EQ(s.Capacity(), 6);  // fits: written in place
  s.Append("0123456789");
  EXPECT_EQ(s.Capacity(), 16);  // the new length beats 6 * 3 / 2
  EXPECT_EQ(Bytes(s), "abcdef0123456789");

  SharedString shared("abcd");
  SharedString other(shared);
  other.Append("e");  // a shared block counts as exact-size when it grows
  EXPECT_EQ(other.Capacity(), 6);

  SharedString self("ab");
  self.Append(self);
  self.Append(self.CStr() + 1, 2);  // bytes from the block itself
  EXPECT_EQ(Bytes(self), "ababba");

  SharedString target;
  target.Append(self);  // on an empty string: shares
  EXPECT_EQ(target.CStr(), self.CStr());
  EXPECT_EQ(SharedString::Concat(SharedString(), self).CStr(), self.CStr());
  EXPECT_EQ(Bytes(SharedString::Concat(self, "!")), "ababba!");
}

TEST(EncodeUtf8, EveryLengthAndTheOutputBound) {
  struct Case {
    int32_t codePoint;
    const char* bytes;
  } cases[] = {
      {-5, "?"},           {0x7F, "\x7F"},
      {0x80, "\xC2\x80"},  {0xFFFF, "\xEF\xBF\xBF"},
      {0x1FFFFF, "\xF7\xBF\xBF\xBF"},
      {0x200000, "\xF8\x88\x80\x80\x80"},
      {0x7FFFFFFF, "\xFD\xBF\xBF\xBF\xBF\xBF"},
  };
  for (const Case& c : cases) {
    char out[8] = {};
    int32_t expectedLength = static_cast<int32_t>(std::strlen(c.bytes));
    EXPECT_EQ(EncodeUtf8(c.codePoint, out, out + 8), expectedLength) << c.codePoint;
    EXPECT_EQ(std::string(out, expectedLength), c.bytes) << c.codePoint;
    EXPECT_EQ(EncodeUtf8(c.codePoint, out, out + expectedLength - 1), 0) << c.codePoint;
  }
}

TEST(SharedString, CodePointsBecomeUtf8) {
  SharedString s("caf");
  s.AppendCodePoint(0xE9);
  EXPECT_EQ(Bytes(s), "caf\xC3\xA9");
  SharedString empty;
  empty.AppendCodePoint(0);
  EXPECT_TRUE(empty.IsEmpty());

  const int32_t points[] = {'h', 0xE9, -1, 0x20AC, 0, 'x'};
  s.FromCodePoints(points, nullptr);  // up to the zero element
  EXPECT_EQ(Bytes(s), "h\xC3\xA9?\xE2\x82\xAC");
  s.FromCodePoints(points + 4, nullptr);
  EXPECT_TRUE(s.IsEmpty());
}

TEST(SharedString, InsertEraseEraseLeft) {
  struct Case {
    const char* start;
    int32_t index;
    int32_t count;
    const char* afterErase;
    int32_t length;
  } erases[] = {
      {"abcdef", 2, -1, "ab", 2},   {"abcdef", 2, 2, "abef", 4}, {"abcdef", -3, 1, "bcdef", 5},
      {"abcdef", 6, 1, "abcdef", 6}, {"abcdef", 4, 99, "abcd", 4}, {"abc", 0, -1, "", 0},
  };
  for (const Case& c : erases) {
    SharedString s(c.start);
    EXPECT_EQ(s.Erase(c.index, c.count), c.length) << c.index << "," << c.count;
    EXPECT_EQ(Bytes(s), c.afterErase);
  }
  SharedString left("abc");
  EXPECT_EQ(left.EraseLeft(1), 2);
  EXPECT_EQ(left.EraseLeft(10), 0);

  SharedString s("ad");
  s.Insert(1, "bc");
  s.Insert(99, "e");
  s.Insert(-1, ">");
  EXPECT_EQ(Bytes(s), ">abcde");
  s.Insert(1, s.CStr() + 3, s.CStr() + 5);  // bytes from the block itself, in place
  EXPECT_EQ(Bytes(s), ">cdabcde");
  SharedString empty;
  empty.Insert(5, "xy");
  EXPECT_EQ(Bytes(empty), "xy");
}

TEST(SharedString, ReplaceAll) {
  struct Case {
    const char* start;
    const char* from;
    const char* to;
    const char* after;
    int32_t count;
  } cases[] = {
      {"a/b", "/", "//", "a//b", 1},     {"aaaa", "aa", "b", "bb", 2},
      {"aaa", "aa", "a", "aa", 1},       {"abc", "", "x", "abc", 0},
      {"abab", "ab", "", "", 2},         {"abc", "abc", "abcabc", "abcabc", 1},
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

  struct Case {
    const char* start;
    const char* after;
  } cases[] = {
      {" \t x \r\n", "x"}, {"\fx", "\fx"}, {"\bx\v", "x"}, {"  ", ""}, {"a b", "a b"}, {"", ""},
  };
  for (const Case& c : cases) {
    SharedString s(c.start);
    s.Trim();
    EXPECT_EQ(Bytes(s), c.after);
  }
}

TEST(SharedString, TokenWalk) {
  SharedString s("a,,b");
  int32_t pos = 0;
  EXPECT_EQ(Bytes(s.Token(",", pos)), "a");
  EXPECT_EQ(pos, 2);
  EXPECT_EQ(Bytes(s.Token(",", pos)), "");
  EXPECT_EQ(pos, 3);
  EXPECT_EQ(Bytes(s.Token(",", pos)), "b");
  EXPECT_EQ(pos, -1);
  pos = 2;
  EXPECT_EQ(Bytes(s.Token("", pos)), ",b");  // empty set: the whole rest
  EXPECT_EQ(pos, -1);
}

TEST(SharedString, Split) {
  struct Case {
    const char* source;
    const char* delimiters;
    bool keepEmpty;
    std::vector<std::string> tokens;
  } cases[] = {
      {"a,,b", ",", false, {"a", "b"}},
      {"a,,b", ",", true, {"a", "", "b"}},
      {",a,", ",", true, {"", "a", ""}},
      {"", ",", true, {}},
      {"x y\tz", " \t", false, {"x", "y", "z"}},
      {"abc", "", true, {"abc"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Strings(SharedString(c.source).Split(c.delimiters, c.keepEmpty)), c.tokens)
        << c.source << " keepEmpty=" << c.keepEmpty;
    EXPECT_EQ(Strings(SharedString(c.source).Split(SharedString(c.delimiters), c.keepEmpty)),
              c.tokens);
  }
}

TEST(SharedString, FormatCutsAtTheBufferEnd) {
  EXPECT_EQ(Bytes(SharedString::Format("%d-%s", 42, "x")), "42-x");
  std::string longText(20000, 'q');
  longText[15998] = 'L';
  SharedString cut = SharedString::Format("%s", longText.c_str());
  EXPECT_EQ(cut.Length(), 15999);
  EXPECT_EQ(Bytes(cut), longText.substr(0, 15999));
  SharedString assigned("old");
  assigned.AssignFormat("%s/%s", assigned.CStr(), "new");
  EXPECT_EQ(Bytes(assigned), "old/new");
}

}  // namespace
}  // namespace qm
