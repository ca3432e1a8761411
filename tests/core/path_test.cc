#include "core/path.h"

#include <gtest/gtest.h>

#include <string>

namespace qm {
namespace {

std::string Bytes(const SharedString& s) {
  return std::string(s.CStr(), s.Length());
}

TEST(NormalizePath, RewritesTable) {
  struct Case {
    const char* input;
    const char* expected;
  } cases[] = {
      // Separators, "." components and slash runs.
      {"a\\b\\.\\c", "a/b/c"},
      {"./x", "x"},
      {"//server//share", "//server/share"},
      {"a//b//c", "a//b/c"},
      {"/a//b", "/a/b"},
      // Enclosing whitespace, quotes and a trailing slash, in any nesting.
      {"dir/", "dir"},
      {"\"my dir\"", "my dir"},
      {" '\"x/\"' ", "x"},
      {"'x\"", "'x\""},
      {"/", "/"},
      // Parent steps.
      {"a/b/../c", "a/c"},
      {"../../x", "../../x"},
      {"a/../../x", "../x"},
      {"/a/../b", "/b"},
      // Trailing "." and "..".
      {"a/b/..", "a/"},
      {"b/..", ""},
      {"/a/..", "/"},
      {"/..", "/.."},
      {"/.", "/"},  // the root stays the root
  };
  for (const Case& c : cases) {
    SharedString path(c.input);
    NormalizePath(path);
    EXPECT_EQ(Bytes(path), c.expected) << "input: " << c.input;
  }
  SharedString original("/usr/src/project/main.c");
  SharedString path(original);
  NormalizePath(path);  // a clean path stays shared
  EXPECT_EQ(path.CStr(), original.CStr());
}

// JoinPath normalises; AppendPathComponent keeps the name byte for byte.
TEST(JoinPath, Table) {
  struct Case {
    const char* a;
    const char* b;
    const char* expected;
    const char* appended;
  } cases[] = {
      {"src", "main.c", "src/main.c", "src/main.c"},
      {"src/", "main.c", "src/main.c", "src/main.c"},
      {"", "./x", "x", "./x"},
      {"src", "/abs", "src/abs", "src//abs"},  // appended, not taken as absolute
      {"/", "etc", "/etc", "/etc"},
      {"a/b", "../c", "a/c", "a/b/../c"},
      {"d", "x\\ ", "d/x", "d/x\\ "},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Bytes(JoinPath(c.a, c.b)), c.expected) << c.a << " + " << c.b;
    SharedString path(c.a);
    AppendPathComponent(path, SharedString(c.b));
    EXPECT_EQ(Bytes(path), c.appended) << c.a << " + " << c.b;
  }
}

TEST(MakeRelative, Table) {
  struct Case {
    const char* path;
    const char* base;
    const char* expected;
  } cases[] = {
      {"/a/b/c.txt", "/a", "b/c.txt"},
      {"/a/b/c.txt", "/a/d", "../b/c.txt"},
      {"/a/bc/x", "/a/b", "../bc/x"},  // a common prefix is not a common component
      {"/x/y", "/", "x/y"},
      {"/p/q", "/r/s/t", "../../../p/q"},
      {"x/y", "u/v", "../../x/y"},  // nothing in common
      {"a/b", "", "a/b"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Bytes(MakeRelative(c.path, c.base)), c.expected) << c.path << " to " << c.base;
  }
}

}  // namespace
}  // namespace qm
