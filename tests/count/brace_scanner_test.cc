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
  };
  for (const TypedCase& test : kCases) {
    EXPECT_EQ(Classify(test.type, test.text), test.expected)
        << "type " << test.type << ": \"" << test.text << "\"";
  }
}

// Each construct below sits on one line and is followed by a comment that a misread
// quote or slash would swallow; the near misses of each rule come last in its table.

TEST(BraceScanner, RustSingleQuoteOpensOnlyCharacterLiterals) {
  constexpr Case kCases[] = {
      {"c = 'a';\n// c\n", {0, 1, 0, 1}},
      {"c = '\\'';\n// c\n", {0, 1, 0, 1}},
      {"c = '\\u{1F600}';\n// c\n", {0, 1, 0, 1}},
      {"c = '\xC3\xA4' + '\xF0\x9F\x98\x80';\n// c\n", {0, 1, 0, 1}},
      {"c = '\xC3\n';\n// c\n", {0, 1, 0, 2}},  // bytes after a lead byte are not checked
      {"fn f<'a>(x: &'a T) -> &'static T {\n// c\n}\n", {0, 1, 1, 1}},
      {"'outer: loop {\n// c\n}\n", {0, 1, 1, 1}},
      {"x = 'ab + ''\n// c\n", {0, 1, 0, 1}},
  };
  ExpectCasesInBothModes(kTypeRust, kCases);
}

TEST(BraceScanner, RustBlockCommentsNest) {
  constexpr Case kCases[] = {
      {"/* a /* b */ c\n */ x;\n// c\n", {0, 2, 0, 1}},
      {"/* a /* b /* c */ */\n} */ }\n// c\n", {0, 2, 1, 0}},
      {"/*/ a */ x;\n// c\n", {0, 1, 0, 1}},
  };
  ExpectCasesInBothModes(kTypeRust, kCases);
  // Elsewhere (but in D) the first "*/" ends the comment.
  EXPECT_EQ(Classify(kTypeC, "/* a /* b */ c\n */ x;\n// c\n"), (Counts{0, 1, 0, 2}));
}

TEST(BraceScanner, QuoteBetweenHexDigitsOfANumberSeparatesDigitsInTheCFamily) {
  constexpr Case kCases[] = {
      {"n = 1'000'000;\n// c\n", {0, 1, 0, 1}},
      {"n = 0xFF'FF + 0b1010'1010u + 1.5'0;\n// c\n", {0, 1, 0, 1}},
      {"c = u8'a' + L'x' + f'a';\n// c\n", {0, 1, 0, 1}},
      {"c = 1'x' + 1' ';\n// c\n", {0, 1, 0, 1}},
  };
  for (FileTypeId type : {2, 3, 4, 5, 6, 7}) ExpectCasesInBothModes(type, kCases);
  // Other brace languages read the quote as an opener.
  for (FileTypeId type : {1, 8, 9, 10, 14, 15, 16}) {
    EXPECT_EQ(Classify(type, "n = 1'000;\n// c\n"), (Counts{0, 0, 0, 2})) << "type " << type;
  }
}

TEST(BraceScanner, JavaScriptSlashOpensARegularExpressionWhereAnExpressionMayStart) {
  constexpr Case kCases[] = {
      {"r = /'/;\n// c\n", {0, 1, 0, 1}},
      {"s.replace(/\"/g, x);\n// c\n", {0, 1, 0, 1}},
      {"if (/[/*]/.test(s)) {\n// c\n", {0, 1, 0, 1}},
      {"r = /a\\/*'/;\n// c\n", {0, 1, 0, 1}},
      {"  /'/.test(s) ||\n// c\n", {0, 1, 0, 1}},
      {"return /'/;\n// c\n", {0, 1, 0, 1}},
      {"x = a ? /'/ : /\"/;\n// c\n", {0, 1, 0, 1}},
      // Divisions: after a name, a property named like a keyword, a ')'.
      {"x = a / '/' / c;\n// c\n", {0, 1, 0, 1}},
      {"x = y.in / '/' / 2;\n// c\n", {0, 1, 0, 1}},
      {"x = f(a) / '/' / 2;\n// c\n", {0, 1, 0, 1}},
      // A literal ends on its line: a '/' that finds no end there is a byte.
      {"x = (/\n// c\n", {0, 1, 0, 1}},
      {"x = (/[/\n// c\n", {0, 1, 0, 1}},
  };
  ExpectCasesInBothModes(kTypeJavaScript, kCases);
  ExpectCasesInBothModes(kTypeTypeScript, kCases);
  EXPECT_EQ(Classify(kTypeJava, "r = /'/;\n// c\n"), (Counts{0, 0, 0, 2}));
}

TEST(BraceScanner, PhpHeredocsEndAtTheirIdentifier) {
  constexpr Case kCases[] = {
      {"$x = <<<EOT\n// a\n\nEOT;\n// c\n", {1, 1, 0, 3}},
      {"$x = <<<'EOT'\n# a\nEOT;\n# c\n", {0, 1, 0, 3}},
      {"$x = <<< \"EOT\"\n# a\n  EOT);\n# c\n", {0, 1, 0, 3}},
      {"f(<<<\tEOT\r\n# a\r\n\tEOT, 1);\r\n# c\r\n", {0, 1, 0, 3}},
      {"<<<EOT\nEOTX\n  EOT_ ;\nEOT\n# c\n", {0, 1, 0, 4}},
      {"<<<EOT\na\nEOT", {0, 0, 0, 3}},
      {"<<<EOT\n\n\n", {2, 0, 0, 1}},
      // Not an opener: three ordinary bytes.
      {"$a <<<EOT x\n# c\n", {0, 1, 0, 1}},
      {"$a <<<1A\n# c\n", {0, 1, 0, 1}},
      {"<<<\n# c\n", {0, 1, 1, 0}},
      {"<<<<EOT\n# c\n", {0, 1, 0, 1}},
  };
  ExpectCasesInBothModes(kTypePhp, kCases);
  EXPECT_EQ(Classify(kTypeC, "# define X\n$x = <<<EOT\n// a\nEOT;\n"), (Counts{0, 1, 0, 3}));
}

TEST(BraceScanner, PhpHashStartsACommentUnlessAnAttribute) {
  constexpr Case kCases[] = {
      {"#[Route('/x')]\n# c\n", {0, 1, 0, 1}},
      {"#[\n# c\n", {0, 1, 1, 0}},
      {"#\nx\n# [\n", {0, 2, 0, 1}},
      {"$a = 1; # c\n$a << 2;\n", {0, 0, 0, 2}},
  };
  ExpectCasesInBothModes(kTypePhp, kCases);
}

TEST(BraceScanner, JavaTextBlocksEndAtUnescapedTripleQuotes) {
  constexpr Case kCases[] = {
      {"s = \"\"\"\n\"\n\"\"\";\n// c\n", {0, 1, 0, 3}},
      {"s = \"\"\"\n  a \"\" \\\"\"\" // b\n\n  \"\"\"; // c\n// c\n", {1, 1, 0, 3}},
      {"s = \"\" + \"\\\"\";\n// c\n", {0, 1, 0, 1}},
  };
  ExpectCasesInBothModes(kTypeJava, kCases);
  EXPECT_EQ(Classify(kTypeC, "s = \"\"\"\n\"\n\"\"\";\n// c\n"), (Counts{0, 0, 0, 4}));
}

TEST(BraceScanner, CSharpRawStringsEndAtAsManyQuotes) {
  constexpr Case kCases[] = {
      {"s = \"\"\"\n  \"a\" \"\" // b\n  \"\"\";\n// c\n", {0, 1, 0, 3}},
      {"s = $$\"\"\"\" a \"\"\" b \"\"\"\"\" \"\"\"\";\n// c\n", {0, 1, 0, 1}},
      // Verbatim strings, in every prefix order, and an empty string.
      {"s = @$\"a\\\" + $@\"a\\\" + @\"\"\"\";\n// c\n", {0, 1, 0, 1}},
      {"s = \"\";\n// c\n", {0, 1, 0, 1}},
  };
  ExpectCasesInBothModes(kTypeCSharp, kCases);
}

}  // namespace
}  // namespace qm
