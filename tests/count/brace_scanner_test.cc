#include "count/brace_scanner.h"

#include <gtest/gtest.h>

#include "tests/count/classify_test_util.h"

namespace qm {
namespace {

// Counts are {blank, comment, punctuation, code}.

TEST(BraceScanner, FoldsLineAndBlockCommentsByWhatSharesTheirLines) {
  constexpr Case kCases[] = {
      {"int x;\n// c", {0, 1, 0, 1}},  // a comment running to the end of the text
      {"int x; // c\n", {0, 0, 0, 1}},
      {"} // c\n", {0, 0, 1, 0}},
      {"/* a\n\n b */\n", {1, 2, 0, 0}},
      {"x = 1; /* a\n b\n c\n d */\n", {0, 3, 0, 1}},
      {"x /* a */\n/* a */ x\n", {0, 0, 0, 2}},
      {"} /* a\n */\n", {0, 1, 1, 0}},
      {"/* a\n */ }\n", {0, 1, 1, 0}},
      {"/* /* */ x\n", {0, 0, 0, 1}},  // no nesting
      {"/*/ x\n*/\n", {0, 2, 0, 0}},
      {"/* a\n\nb", {1, 2, 0, 0}},  // unclosed, no final break
      {"a / b\n/\n", {0, 0, 1, 1}},
      {"s = \"// no\";\nc = '\"';\n// c\n", {0, 1, 0, 2}},
      {"s = \"a\n  \\n \nb\";\n", {1, 0, 0, 2}},   // an escape pair alone leaves a line blank
      {"s = \"a\n\\\n\\\"\n\";\n", {1, 0, 0, 3}},  // a backslash before a break is text
      {"`\n", {0, 0, 1, 0}},
  };
  ExpectCases(kTypeC, kCases);
  ExpectCases(kTypeC, {{"} // c\n/* a\n */ }\n", {0, 1, 0, 2}}}, false);
}

TEST(BraceScanner, BackslashContinuesLineCommentsOnlyInTypes2To6) {
  struct ContinuationCase {
    std::string_view text;
    Counts continued;  // types 2 to 6
    Counts plain;      // every other brace type
  };
  constexpr ContinuationCase kCases[] = {
      {"// a \\\nb\nc\n", {0, 2, 0, 1}, {0, 1, 0, 2}},
      {"// a\\\r\nb\n", {0, 2, 0, 0}, {0, 1, 0, 1}},
      {"// a\\\\\n\\\nb\n", {0, 3, 0, 0}, {0, 1, 1, 1}},
      {"// a\\ \nb\n", {0, 1, 0, 1}, {0, 1, 0, 1}},
      {"x;\n// a\\\n", {0, 1, 0, 1}, {0, 1, 0, 1}},  // continues onto no line
      {"// a\\", {0, 1, 0, 0}, {0, 1, 0, 0}},
  };
  for (FileTypeId type : {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 14, 15, 16, 17}) {
    const bool continues = type >= kTypeCpp && type <= kTypeHeader;
    for (const ContinuationCase& test : kCases) {
      EXPECT_EQ(Classify(type, test.text), continues ? test.continued : test.plain)
          << "type " << type << ": \"" << test.text << "\"";
    }
  }
}

TEST(BraceScanner, CppRawStringsEndOnlyAtTheirOwnTerminator) {
  constexpr Case kCases[] = {
      {"s = R\"x(a\n)\"\n// no\n)x\";\n// c\n", {0, 1, 0, 4}},
      {"u8R\"(\\)\";\n// c\n", {0, 1, 0, 1}},
      {"R'(a\n)'\n// c\n", {0, 1, 0, 2}},
      // A delimiter holding breaks, and literals that never find their terminator:
      // every line crossed is still counted.
      {"R\"ab\n\ncd(x)ab\n\ncd\";\n// c\n", {2, 1, 0, 3}},
      {"s = R\"abc\n\nx\n", {1, 0, 0, 2}},
      {"R\"x(a)y\"\n// c", {0, 0, 0, 2}},
  };
  ExpectCases(kTypeCpp, kCases);

  // R" opens a raw string only in C++, headers and inline files.
  const std::string_view text = "s = R\"(a\" /*)\";\nx\n*/\n";
  for (FileTypeId type : {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 14, 15, 16, 17}) {
    const bool isRaw = type == kTypeCpp || type == kTypeHeader || type == kTypeInline;
    EXPECT_EQ(Classify(type, text), isRaw ? (Counts{0, 0, 1, 2}) : (Counts{0, 2, 0, 1})) << "type " << type;
  }
}

// The same text read under the rules of different types.
struct TypedCase {
  FileTypeId type;
  std::string_view text;
  Counts expected;
};

TEST(BraceScanner, LiteralAndCommentFormsDifferByType) {
  constexpr TypedCase kCases[] = {
      // D nests "/+" comments; elsewhere they are ordinary bytes.
      {kTypeD, "/+ a /+ b +/ c\n d +/ x\n", {0, 1, 0, 1}},
      {kTypeD, "/+ a +/ +/ x\n/+\n\n+/\n", {1, 2, 0, 1}},
      {kTypeCpp, "/+ a /+ b +/ c\n d +/ x\n", {0, 0, 0, 2}},
      // Raw literals keep a backslash before the closing quote; escaped ones do not.
      {kTypeD, "s = r\"a\\\";\n// c\n", {0, 1, 0, 1}},
      {kTypeD, "s = `a\\`;\n// c\n", {0, 1, 0, 1}},
      {kTypeGo, "s = `a\\`;\n// c\n", {0, 1, 0, 1}},
      {kTypeGo, "s = `a\n\n\\\n`\n", {1, 0, 0, 3}},
      {kTypeJavaScript, "s = `a\\`;\n// c\n", {0, 0, 0, 2}},
      {kTypeJava, "s = `a\\`;\n// c\n", {0, 1, 0, 1}},  // no backtick literals
      {kTypeJava, "s = r\"a\\\";\n// c\n", {0, 0, 0, 2}},
      // C# verbatim strings: no escapes, doubled quotes; a doubled quote is text.
      {kTypeCSharp, "s = @\"a\\\";\n// c\n", {0, 1, 0, 1}},
      {kTypeCSharp, "s = @\"say \"\"hi\"\"\";\n// c\n", {0, 1, 0, 1}},
      {kTypeCSharp, "@\"a\n  \"\"\n\n\";\n", {1, 0, 0, 3}},
      {kTypeJava, "s = @\"a\\\";\n// c\n", {0, 0, 0, 2}},
      // Rust raw strings close only at a quote followed by as many '#' as opened.
      {kTypeRust, "r#\"a\n\"\n// b\n\"#;\n", {0, 0, 0, 4}},
      {kTypeJava, "r#\"a\n\"\n// b\n\"#;\n", {0, 1, 0, 3}},
      {kTypeRust, "let s = br\"a\\\";\n// c\n", {0, 1, 0, 1}},
      {kTypeRust, "r##\"a\"#\n\"##;\n// c\n", {0, 1, 0, 2}},
      {kTypeRust, "let r#type = 1;\n// c\n", {0, 1, 0, 1}},
      // A lifetime opens a literal that runs to the next single quote.
      {kTypeRust, "fn f<'a>(x: &'a T) -> &'a T {\n  // c\n}\n", {0, 0, 0, 3}},
  };
  for (const TypedCase& test : kCases) {
    EXPECT_EQ(Classify(test.type, test.text), test.expected)
        << "type " << test.type << ": \"" << test.text << "\"";
  }
}

TEST(BraceScanner, PhpHashCommentsAndHeredocs) {
  constexpr Case kCases[] = {
      {"#\nx\n", {0, 1, 0, 1}},
      {"$a = 1; # c\n$a << 2;\n", {0, 0, 0, 2}},
      {"$x = <<<EOT\n// a\n\nEOT;\n// c\n", {1, 1, 0, 3}},
      {"$x = <<<'EOT'\n# a\nEOT;\n# c\n", {0, 1, 0, 3}},
      {"<<<EOT\r\na\r\nEOT;\r\n# c\r\n", {0, 1, 0, 3}},
      // Only a line that starts with the identifier, ";" and a break ends it.
      {"<<<EOT\n  EOT;\nEOT;x\nEOT\n# a\nEOT;\n# c\n", {0, 1, 0, 6}},
      {"<<<EOT\n\n\n", {2, 0, 0, 1}},
      {"<<<EOT\na\nEOT;", {0, 0, 0, 3}},
      // A double-quoted identifier keeps its quotes, so "EOT;" does not end it.
      {"<<<\"EOT\"\nEOT;\n# c\n", {0, 0, 0, 3}},
      {"<<<\"EOT\"\n\"EOT\";\n# c\n", {0, 1, 0, 2}},
  };
  ExpectCases(kTypePhp, kCases);
  EXPECT_EQ(Classify(kTypeC, "# define X\n$x = <<<EOT\n// a\nEOT;\n"), (Counts{0, 1, 0, 3}));
}

}  // namespace
}  // namespace qm
