#include "count/python_scanner.h"

#include <gtest/gtest.h>

#include "tests/count/classify_test_util.h"

namespace qm {
namespace {

// Counts are {blank, comment, punctuation, code}.

TEST(PythonScanner, TripleQuotedStringsAreDocstringsUnlessCodePrecedesThem) {
  constexpr Case kCases[] = {
      {"def f():\n    \"\"\"\n    Text.\n    \"\"\"\n    return 1\n", {0, 3, 0, 2}},
      {"\"\"\"Doc.\"\"\"\n", {0, 1, 0, 0}},
      {"x = \"\"\"Doc.\"\"\"\n", {0, 0, 0, 1}},
      {"x = '''a\n\nb\nc'''\n", {1, 0, 0, 3}},
      {"'''\n\n'''\n", {1, 2, 0, 0}},
      {"\"\"\"a\nb\"\"\" + x\n", {0, 1, 0, 1}},
      {"\"\"\"a\n\"\"\")\n", {0, 1, 1, 0}},
      {"(\"\"\"a\nb\"\"\"\n", {0, 1, 1, 0}},
      // Prefixes r u ur b br in any case; others are code letters.
      {"R\"\"\"Doc\n\"\"\"\n", {0, 2, 0, 0}},
      {"  Ur'''x\n'''\n", {0, 2, 0, 0}},
      {"bR\"\"\"x\n\"\"\"\n", {0, 2, 0, 0}},
      {"rb\"\"\"x\n\"\"\"\n", {0, 0, 0, 2}},
      {"f\"\"\"x\n\"\"\"\n", {0, 0, 0, 2}},
      {"print(r'''a\n''')\n", {0, 0, 0, 2}},
      {"r'a'\nu\nr\"\"", {0, 0, 0, 3}},
      // Inside: two quotes do not close, an escaped quote does, and a fourth quote
      // after the closing three opens a new literal.
      {"\"\"\"a \"\" b\n\"\"\"\n", {0, 2, 0, 0}},
      {"x = \"\"\"a\\\"\"\"\n# c\n", {0, 1, 0, 1}},
      {"\"\"\"a\"\"\"\"\n", {0, 0, 0, 1}},
      {"'''a\n\"\"\"\n'''\n", {0, 3, 0, 0}},
  };
  ExpectCases(kTypePython, kCases);
  // An opening parenthesis is code in greedy mode, so the string follows code.
  ExpectCases(kTypePython, {{"(\"\"\"a\nb\"\"\"\n", {0, 0, 0, 2}}, {"\"\"\"a\n\"\"\")\n", {0, 1, 0, 1}}}, false);
}

TEST(PythonScanner, HashCommentsAndQuotedLiterals) {
  constexpr Case kCases[] = {
      {"# c\nx = 1  # c\n", {0, 1, 0, 1}},
      {") # c\n#", {0, 1, 1, 0}},
      {"s = '# no'\n# c\n", {0, 1, 0, 1}},
      {"s = 'abc\n# still inside\n\n'\n", {1, 0, 0, 3}},
      {"s = \"a\\\"\n# inside\"\n# c\n", {0, 1, 0, 2}},
      {"# a \\\nb\n", {0, 1, 0, 1}},  // no continuation of comments
  };
  ExpectCases(kTypePython, kCases);
}

}  // namespace
}  // namespace qm
