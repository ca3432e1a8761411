#include "count/pascal_scanner.h"

#include <gtest/gtest.h>

#include "tests/count/classify_test_util.h"

namespace qm {
namespace {

// Counts are {blank, comment, punctuation, code}.

TEST(PascalScanner, DirectivesCountAsCodeAndOtherCommentsAsComment) {
  constexpr Case kCases[] = {
      {"{$IFDEF X}\n{ comment }\nx := 1; { c }\n", {0, 1, 0, 2}},
      {"{$IFDEF X\n\n}\n", {1, 0, 0, 2}},
      {"{ $R+ }\n{\n\n$R+}\n", {1, 0, 0, 3}},  // the first byte above 32 decides
      {"(*$I+*)\n(* c *)\n", {0, 1, 0, 1}},
      {"} {$X}\n", {0, 0, 0, 1}},
      {"} { c\n}\n", {0, 1, 1, 0}},
      // The two forms do not nest, in each other or in themselves.
      {"{ a (* b }\nx\n", {0, 1, 0, 1}},
      {"(* a { b *)\nx\n", {0, 1, 0, 1}},
      {"{ a { b } x\n", {0, 0, 0, 1}},
      {"(*)\nx\n*)\n", {0, 3, 0, 0}},
      {"{ a\n\nb", {1, 2, 0, 0}},
      // "//" comments; a single "/" or a "(" without "*" is an ordinary byte.
      {"// c\n/ x\n(x)\n()\n", {0, 1, 1, 2}},
  };
  ExpectCases(kTypePascal, kCases);
  ExpectCases(kTypePascal, {{"} { c\n}\n", {0, 1, 0, 1}}}, false);
}

TEST(PascalScanner, LiteralsHaveDoubledQuotesAndNoEscapes) {
  constexpr Case kCases[] = {
      {"s := 'it''s';\n// c\n", {0, 1, 0, 1}},
      {"s := 'a''\n// in\n\n';\n", {1, 0, 0, 3}},
      {"s := \"a\n\";\n", {0, 0, 0, 2}},
      {"s := 'a\\';\n// c\n", {0, 1, 0, 1}},
      {"s := '{';\n{ c }\n", {0, 1, 0, 1}},
  };
  ExpectCases(kTypePascal, kCases);
}

}  // namespace
}  // namespace qm
