#include "count/lua_scanner.h"

#include <gtest/gtest.h>

#include "tests/count/classify_test_util.h"

namespace qm {
namespace {

// Counts are {blank, comment, punctuation, code}.

TEST(LuaScanner, DashesBlockCommentsAndLiterals) {
  constexpr Case kCases[] = {
      {"a = b - c\nx -- c\n-- c\n--\n", {0, 2, 0, 2}},
      {"--[[ a\nb\n]]\ny = 1\n", {0, 3, 0, 1}},
      {"x = 1 --[[ a\n]] y\n", {0, 0, 0, 2}},
      {"--[[\n\n]]\n", {1, 2, 0, 0}},
      {"--[[ a ]] x\n--[[ ] ]\n]]\n", {0, 2, 0, 1}},
      // Long brackets with '=' are not recognised: only the first line is comment.
      {"--[==[ a\nb\n]==]\n", {0, 1, 1, 1}},
      // A '-' at the end of a line does not hide the break.
      {"a = b -\nc\n-\n-", {0, 0, 2, 2}},
      {"--[\n--[[", {0, 2, 0, 0}},
      {"s = '-- no'\n-- c\n", {0, 1, 0, 1}},
      {"s = \"a\\\"\n-- in\"\n", {0, 0, 0, 2}},
      // Long strings are not recognised either, so "--" inside one is a comment.
      {"s = [[ -- c\n]]\n", {0, 0, 1, 1}},
  };
  ExpectCases(kTypeLua, kCases);
  ExpectCases(kTypeLua, {{"a = b -\n-\n--[==[ a\n]==]\n", {0, 1, 0, 3}}}, false);
}

}  // namespace
}  // namespace qm
