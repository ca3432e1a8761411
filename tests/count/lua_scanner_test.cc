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
      // A '-' at the end of a line does not hide the break.
      {"a = b -\nc\n-\n-", {0, 0, 2, 2}},
      {"--[\n--[[", {0, 2, 0, 0}},
      {"s = '-- no'\n-- c\n", {0, 1, 0, 1}},
      {"s = \"a\\\"\n-- in\"\n", {0, 0, 0, 2}},
  };
  ExpectCases(kTypeLua, kCases);
  ExpectCases(kTypeLua, {{"a = b -\n-\n", {0, 0, 0, 2}}}, false);
}

TEST(LuaScanner, LongBracketsOpenStringsAndAfterDashesComments) {
  constexpr Case kCases[] = {
      {"s = [[ -- a\n]] -- c\n-- c\n", {0, 1, 0, 2}},
      {"s = [==[ a ]] -- ]==]\n-- c\n", {0, 1, 0, 1}},
      {"--[==[ a\n]]\n\n]=]\n]==] }\n-- c\n", {1, 4, 1, 0}},
      {"--[=[ a ]=] x = 1\n-- c\n", {0, 1, 0, 1}},
      {"t[i] = a[ [=[x]=] ]\n-- c\n", {0, 1, 0, 1}},
      // Not an opener: '[' without a second '[' after the '=' signs.
      {"--[= a\nx\n", {0, 1, 0, 1}},
      {"s = [=\n-- c\n", {0, 1, 0, 1}},
  };
  ExpectCasesInBothModes(kTypeLua, kCases);
}

}  // namespace
}  // namespace qm
