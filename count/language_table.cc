#include "count/language_table.h"

#include <cassert>
#include <cstring>
#include <iterator>

namespace qm {

namespace {

// Shorthands for the table below.
constexpr QuoteRule kDq{'"', '\\', 0};   // "..." with backslash escapes
constexpr QuoteRule kSq{'\'', '\\', 0};  // '...' with backslash escapes
constexpr QuoteRule kSqRaw{'\'', 0, 0};  // '...' without escapes (shells)
constexpr QuoteRule kBq{'`', '\\', 0};   // `...` with backslash escapes
constexpr QuoteRule kCharSq{'\'', '\\', kCharLiteral};
constexpr BlockRule kCBlock{"/*", kAnywhere, "*/", 0};
constexpr BlockRule kCBlockNested{"/*", kAnywhere, "*/", kNests};
constexpr BlockRule kMarkupBlock{"<!--", kAnywhere, "-->", 0};
constexpr BlockRule kTripleDq{"\"\"\"", kAnywhere, "\"\"\"", kIsLiteral};
constexpr BlockRule kTripleSq{"'''", kAnywhere, "'''", kIsLiteral};
constexpr LineCommentRule kSlashes{"//", kAnywhere};
constexpr LineCommentRule kHash{"#", kAnywhere};
constexpr LineCommentRule kShellHash{"#", kAtWordStart};
constexpr LineCommentRule kDashes{"--", kAnywhere};
constexpr LineCommentRule kSemicolon{";", kAnywhere};
constexpr LineCommentRule kPercent{"%", kAnywhere};
// A line holding only __END__ ends the code: the rest of the text is comment.
constexpr BlockRule kEndOfCode{"__END__", kAtColumnZero | kBeforeSpace, nullptr, kToEnd};

constexpr LanguageRules kShellRules{.lineComments = {kShellHash},
                                    .quotes = {kDq, kSqRaw, kBq},
                                    .escapeOutside = '\\',
                                    .heredoc = HeredocStyle::kShell};
constexpr LanguageRules kCLikeRules{.lineComments = {kSlashes}, .blocks = {kCBlock}, .quotes = {kDq, kSq}};
constexpr LanguageRules kCssRules{.blocks = {kCBlock}, .quotes = {kDq, kSq}};
constexpr LanguageRules kSassRules{
    .lineComments = {{"//", kAtWordStart}}, .blocks = {kCBlock}, .quotes = {kDq, kSq}};
constexpr LanguageRules kComponentRules{.lineComments = {{"//", kAtWordStart}},
                                        .blocks = {kMarkupBlock, kCBlock}};
constexpr LanguageRules kJsxRules{.lineComments = {kSlashes},
                                  .blocks = {kCBlock},
                                  .quotes = {{'"', '\\', kNotAfterWord}, {'\'', '\\', kNotAfterWord}, kBq}};
constexpr LanguageRules kHaskellRules{
    .lineComments = {kDashes},
    .blocks = {{"{-#", kAnywhere, "#-}", kIsLiteral}, {"{-", kAnywhere, "-}", kNests}, kTripleDq},
    .quotes = {kDq, kCharSq}};
constexpr LanguageRules kLispRules{.lineComments = {kSemicolon},
                                   .blocks = {{"#|", kAnywhere, "|#", kNests}},
                                   .quotes = {kDq},
                                   .escapeOutside = '\\'};
constexpr LanguageRules kFortranFreeRules{
    .lineComments = {{"!", kAnywhere}},
    .quotes = {{'\'', 0, kDoubledQuote | kOneLine}, {'"', 0, kDoubledQuote | kOneLine}}};
constexpr LanguageRules kVerilogRules{.lineComments = {kSlashes}, .blocks = {kCBlock}, .quotes = {kDq}};

// Choices worth knowing when reading counts:
// - Shells: '#' starts a comment only at the start of a word, so $# and ${#x} are code; a
//   backslash outside quotes escapes the next byte; single quotes have no escapes.
// - Markup (HTML, XML, Markdown, Vue, Svelte) has no string quotes: an apostrophe in
//   text never opens a literal. JSX and TSX quotes open a literal only when no letter,
//   digit or closing bracket stands right before them, so "Don't" in JSX text is text.
// - Assembly: '#' followed by a letter first on a line is a preprocessor directive
//   (code); elsewhere '#', ';', "//" start comments, and so do '@' (ARM), '|' (m68k)
//   and '!' (SH, SPARC) first on a line, where no x86 operator can stand. A ';' is a
//   statement separator, not a comment, when a block comment opens after it on its
//   line and does not close there (x86 "movl %eax, %ebx;	/* start").
// - Makefiles: recipe lines (a tab first) belong to the shell: '#' starts a comment
//   there only at the start of a word and never continues, quotes are literals.
// - YAML: only a scalar that starts with a quote is quoted; an apostrophe inside plain
//   or block text opens nothing, and a block scalar's lines ("key: |") are text even
//   where they start with '#'.
// - Data and prose (YAML, INI, Markdown, reStructuredText) count punctuation-only lines
//   as code; reStructuredText comments share ".." with directives and are not told apart.
constexpr LanguageEntry kEntries[] = {
    // Read by the brace scanner (IsBraceTableType); the rules describe them.
    {"Kotlin source",
     ".kt .kts",
     "",
     "kotlin",
     {.lineComments = {kSlashes}, .blocks = {kCBlockNested, kTripleDq}, .quotes = {kDq, kSq}}},
    {"Swift source",
     ".swift",
     "",
     "swift",
     {.lineComments = {kSlashes}, .blocks = {kCBlockNested, kTripleDq}, .quotes = {kDq, kSq}}},
    {"Scala source",
     ".scala .sc",
     "",
     "scala",
     {.lineComments = {kSlashes}, .blocks = {kCBlockNested, kTripleDq}, .quotes = {kDq, kCharSq}}},
    {"Dart source",
     ".dart",
     "",
     "dart",
     {.lineComments = {kSlashes}, .blocks = {kCBlockNested, kTripleDq, kTripleSq}, .quotes = {kDq, kSq}}},
    {"Groovy source",
     ".groovy .gradle .gvy .gy",
     "Jenkinsfile",
     "groovy",
     {.lineComments = {kSlashes}, .blocks = {kCBlock, kTripleDq, kTripleSq}, .quotes = {kDq, kSq}}},
    // Read by the generic scanner (count/generic_scanner.h).
    {"Shell script", ".sh", ".profile", "sh dash ash", kShellRules},
    {"Bash script", ".bash", ".bashrc .bash_profile .bash_login .bash_logout .bash_aliases bashrc", "bash",
     kShellRules},
    {"Zsh script", ".zsh", ".zshrc .zshenv .zprofile .zlogin zshrc", "zsh", kShellRules},
    {"Ksh script", ".ksh .mksh", ".kshrc", "ksh ksh93 mksh pdksh", kShellRules},
    {"Csh script", ".csh .tcsh", ".cshrc .tcshrc", "csh tcsh", kShellRules},
    {"Fish script",
     ".fish",
     "",
     "fish",
     {.lineComments = {kShellHash}, .quotes = {kDq, kSq}, .escapeOutside = '\\'}},
    {"Makefile",
     ".mk .mak .make .am",
     "Makefile GNUmakefile Kbuild",
     "make",
     {.lineComments = {kHash},
      .quotes = {{'"', '\\', kOneLine | kInRecipe}, {'\'', 0, kOneLine | kInRecipe}},
      .escapeOutside = '\\',
      .hasContinuation = true,
      .hasRecipes = true}},
    {"CMake script",
     ".cmake",
     "CMakeLists.txt",
     "",
     {.lineComments = {kHash},
      .blocks = {{"#[[", kAnywhere, "]]", kLongBracket},
                 {"[[", kAtWordStart, "]]", kIsLiteral | kLongBracket}},
      .quotes = {kDq}}},
    {"Dockerfile",
     ".dockerfile",
     "Dockerfile Containerfile",
     "",
     {.lineComments = {{"#", kFirstOnLine}},
      .quotes = {kDq, kSqRaw},
      .escapeOutside = '\\',
      .heredoc = HeredocStyle::kShell}},
    {"Ruby source",
     ".rb .rake .gemspec .rbw",
     "Gemfile Rakefile Vagrantfile Podfile Guardfile Brewfile config.ru",
     "ruby jruby",
     {.lineComments = {kHash},
      .blocks = {{"=begin", kAtColumnZero, "=end", kCloserAtColumnZero}, kEndOfCode},
      .quotes = {kDq, kSq, kBq},
      .escapeOutside = '$',
      .heredoc = HeredocStyle::kTagged,
      .regexWords = "if elsif unless while until and or not return when then else puts print in split scan "
                    "match gsub sub",
      .charPrefix = '?',
      .hasPercentLiterals = true}},
    {"Perl source",
     ".pl .pm .pod .psgi .perl .t",
     "",
     "perl",
     {.lineComments = {kShellHash},
      .blocks = {{"=", kAtColumnZero | kBeforeLetter, "=cut", kCloserAtColumnZero},
                 kEndOfCode,
                 {"__DATA__", kAtColumnZero | kBeforeSpace, nullptr, kToEnd}},
      .quotes = {kDq, kSq},
      .escapeOutside = '$',
      .heredoc = HeredocStyle::kTagged,
      .quoteWords = "q qq qw qr m",
      .substituteWords = "s tr y",
      .regexWords = "split grep map join if unless and or not return when"}},
    {"R source", ".r", "", "rscript", {.lineComments = {kHash}, .quotes = {kDq, kSq, kBq}}},
    {"Julia source",
     ".jl",
     "",
     "julia",
     {.lineComments = {kHash},
      .blocks = {{"#=", kAnywhere, "=#", kNests}, kTripleDq},
      .quotes = {kDq, kCharSq, kBq}}},
    {"SQL source",
     ".sql",
     "",
     "",
     {.lineComments = {kDashes},
      .blocks = {kCBlock},
      .quotes = {{'\'', 0, kDoubledQuote}, {'"', 0, kDoubledQuote}}}},
    {"HTML", ".html .htm .xhtml .shtml", "", "", {.blocks = {kMarkupBlock}}},
    {"XML",
     ".xml .xsd .xsl .xslt .wsdl .xaml .xul",
     "",
     "",
     {.blocks = {kMarkupBlock, {"<![CDATA[", kAnywhere, "]]>", kIsLiteral}}}},
    {"CSS", ".css", "", "", kCssRules},
    {"SCSS", ".scss", "", "", kSassRules},
    {"Less", ".less", "", "", kSassRules},
    {"YAML",
     ".yml .yaml",
     "",
     "",
     {.lineComments = {kShellHash},
      .quotes = {{'"', '\\', kScalarStart}, {'\'', 0, kDoubledQuote | kScalarStart}},
      .hasPunctuation = false,
      .hasBlockScalars = true}},
    {"TOML",
     ".toml",
     "",
     "",
     {.lineComments = {kHash},
      .blocks = {kTripleDq, kTripleSq},
      .quotes = {{'"', '\\', kOneLine}, {'\'', 0, kOneLine}}}},
    {"JSON", ".json", "", "", {.quotes = {kDq}}},
    {"INI file",
     ".ini",
     "",
     "",
     {.lineComments = {{";", kFirstOnLine}, {"#", kFirstOnLine}}, .hasPunctuation = false}},
    {"Markdown", ".md .markdown .mkd", "", "", {.blocks = {kMarkupBlock}, .hasPunctuation = false}},
    {"reStructuredText", ".rst .rest", "", "", {.hasPunctuation = false}},
    {"TeX source",
     ".tex .sty .cls .ltx .dtx .ins",
     "",
     "",
     {.lineComments = {kPercent}, .escapeOutside = '\\'}},
    {"Assembly source",
     ".s .asm .nasm",
     "",
     "",
     {.lineComments = {{";", kNotBeforeOpenBlock},
                       {"#", kNotDirective},
                       kSlashes,
                       {"@", kFirstOnLine},
                       {"|", kFirstOnLine},
                       {"!", kFirstOnLine}},
      .blocks = {kCBlock},
      .quotes = {{'"', '\\', kOneLine}}}},
    {"Fortran 77 source",
     ".f .for .f77 .ftn",
     "",
     "",
     {.lineComments = {{"c", kAtColumnZero | kIgnoreCase}, {"*", kAtColumnZero}, {"!", kAnywhere}},
      .quotes = {{'\'', 0, kDoubledQuote | kOneLine}, {'"', 0, kDoubledQuote | kOneLine}}}},
    {"Fortran 90 source", ".f90 .f95 .f03 .f08", "", "", kFortranFreeRules},
    {"Haskell source", ".hs", "", "runhaskell runghc", kHaskellRules},
    {"Elm source", ".elm", "", "", kHaskellRules},
    {"OCaml source",
     ".ml .mli",
     "",
     "ocaml",
     {.blocks = {{"(*", kAnywhere, "*)", kNests}}, .quotes = {kDq, kCharSq}}},
    {"F# source",
     ".fs .fsi .fsx",
     "",
     "",
     {.lineComments = {kSlashes},
      .blocks = {{"(*", kAnywhere, "*)", kNests}, kTripleDq},
      .quotes = {kDq, kCharSq}}},
    {"Elixir source",
     ".ex .exs",
     "",
     "elixir",
     {.lineComments = {kHash}, .blocks = {kTripleDq, kTripleSq}, .quotes = {kDq, kSq}}},
    {"Erlang source",
     ".erl .hrl",
     "",
     "escript",
     {.lineComments = {kPercent}, .quotes = {kDq, kSq}, .escapeOutside = '$'}},
    {"Clojure source",
     ".clj .cljs .cljc .edn",
     "",
     "",
     {.lineComments = {kSemicolon}, .quotes = {kDq}, .escapeOutside = '\\'}},
    {"Lisp source", ".lisp .lsp .el .asd", "", "sbcl clisp", kLispRules},
    {"Scheme source", ".scm .ss .sld .sls .rkt", "", "guile racket", kLispRules},
    {"Zig source",
     ".zig",
     "",
     "",
     {.lineComments = {kSlashes}, .quotes = {{'"', '\\', kOneLine}, kCharSq}, .escapeOutside = '\\'}},
    {"Nim source",
     ".nim .nims .nimble",
     "",
     "",
     {.lineComments = {kHash},
      .blocks = {{"#[", kAnywhere, "]#", kNests}, kTripleDq},
      .quotes = {kDq, kCharSq}}},
    {"Visual Basic source",
     ".vb .vbs .bas",
     "",
     "",
     {.lineComments = {{"'", kAnywhere}, {"rem", kFirstOnLine | kIgnoreCase | kBeforeSpace}},
      .quotes = {{'"', 0, kDoubledQuote | kOneLine}}}},
    {"PowerShell script",
     ".ps1 .psm1 .psd1",
     "",
     "pwsh powershell",
     {.lineComments = {kHash},
      .blocks = {{"<#", kAnywhere, "#>", 0},
                 {"@\"", kAnywhere, "\"@", kIsLiteral | kCloserAtColumnZero},
                 {"@'", kAnywhere, "'@", kIsLiteral | kCloserAtColumnZero}},
      .quotes = {{'"', '`', 0}, {'\'', 0, kDoubledQuote}}}},
    {"Batch script",
     ".bat .cmd",
     "",
     "",
     {.lineComments = {{"rem", kFirstOnLine | kIgnoreCase | kBeforeSpace},
                       {"@rem", kFirstOnLine | kIgnoreCase | kBeforeSpace},
                       {"::", kFirstOnLine}}}},
    {"Protocol Buffers", ".proto", "", "", kCLikeRules},
    {"Thrift source",
     ".thrift",
     "",
     "",
     {.lineComments = {kSlashes, kHash}, .blocks = {kCBlock}, .quotes = {kDq, kSq}}},
    {"GraphQL source",
     ".graphql .gql .graphqls",
     "",
     "",
     {.lineComments = {kHash}, .blocks = {kTripleDq}, .quotes = {{'"', '\\', kOneLine}}}},
    {"Vue component", ".vue", "", "", kComponentRules},
    {"Svelte component", ".svelte", "", "", kComponentRules},
    {"JSX source", ".jsx", "", "", kJsxRules},
    {"TSX source", ".tsx", "", "", kJsxRules},
    {"MATLAB source",
     "",
     "",
     "octave octave-cli",
     {.lineComments = {kPercent, kHash},
      .blocks = {{"%{", kFirstOnLine, "%}", kNests}, {"#{", kFirstOnLine, "#}", kNests}},
      .quotes = {{'\'', 0, kDoubledQuote | kOneLine | kNotAfterWord}, {'"', 0, kDoubledQuote | kOneLine}}}},
    {"VHDL source",
     ".vhd .vhdl",
     "",
     "",
     {.lineComments = {kDashes},
      .blocks = {kCBlock},
      .quotes = {{'"', 0, kDoubledQuote | kOneLine}, {'\'', 0, kCharLiteral}}}},
    {"Verilog source", ".v .vh", "", "", kVerilogRules},
    {"SystemVerilog", ".sv .svh", "", "", kVerilogRules},
    {"Tcl script",
     ".tcl .tk .itcl",
     "",
     "tclsh wish expect",
     {.lineComments = {kShellHash}, .quotes = {kDq}, .escapeOutside = '\\'}},
    {"AWK script",
     ".awk",
     "",
     "awk gawk mawk nawk",
     {.lineComments = {kHash}, .quotes = {kDq}, .regexWords = "return print printf"}},
    {"Terraform source",
     ".tf .tfvars .hcl",
     "",
     "",
     {.lineComments = {kHash, kSlashes},
      .blocks = {kCBlock},
      .quotes = {kDq},
      .heredoc = HeredocStyle::kTagged}},
    {"Nix source",
     ".nix",
     "",
     "",
     {.lineComments = {kHash}, .blocks = {kCBlock, {"''", kAnywhere, "''", kIsLiteral}}, .quotes = {kDq}}},
    {"Solidity source", ".sol", "", "", kCLikeRules},
    {"Ada source",
     ".adb .ads .ada",
     "",
     "",
     {.lineComments = {kDashes}, .quotes = {{'"', 0, kDoubledQuote | kOneLine}, {'\'', 0, kCharLiteral}}}},
    {"CoffeeScript source",
     ".coffee",
     "",
     "",
     {.lineComments = {kHash},
      .blocks = {{"###", kAnywhere, "###", 0}, kTripleDq, kTripleSq},
      .quotes = {kDq, kSq}}},
    {"Vim script",
     ".vim",
     ".vimrc _vimrc .gvimrc vimrc",
     "",
     {.lineComments = {{"\"", kFirstOnLine}},
      .quotes = {{'"', '\\', kOneLine}, {'\'', 0, kDoubledQuote | kOneLine}}}},
    {"M4 macros", ".m4 .ac", "", "", {.lineComments = {{"dnl", kAtWordStart | kBeforeSpace}, kHash}}},
    {"Meson script",
     "",
     "meson.build meson_options.txt meson.options",
     "",
     {.lineComments = {kHash}, .blocks = {kTripleSq}, .quotes = {kSq}}},
    {"CUDA source", ".cu .cuh", "", "", kCLikeRules},
    {"GLSL source", ".glsl .vert .frag .geom .tesc .tese", "", "", kCLikeRules},
    {"Device Tree",
     ".dts .dtsi",
     "",
     "",
     {.lineComments = {kSlashes}, .blocks = {kCBlock}, .quotes = {{'"', '\\', kOneLine}}}},
    {"Kconfig",
     "",
     "Kconfig Kconfig.*",
     "",
     {.lineComments = {kHash}, .quotes = {{'"', '\\', kOneLine}, {'\'', '\\', kOneLine}}}},
    {"AsciiDoc",
     ".adoc .asciidoc",
     "",
     "",
     {.lineComments = {{"//", kAtColumnZero}},
      .blocks = {{"////", kAtColumnZero | kBeforeSpace, "////", kCloserAtColumnZero}},
      .hasPunctuation = false}},
    {"gettext catalog",
     ".po .pot",
     "",
     "",
     {.lineComments = {{"#", kFirstOnLine}}, .quotes = {{'"', '\\', kOneLine}}}},
    // Read by the Python scanner (IsPythonTableType); the rules describe it.
    {"Starlark",
     ".bzl .star",
     "BUILD BUILD.bazel WORKSPACE WORKSPACE.bazel",
     "",
     {.lineComments = {kHash}, .blocks = {kTripleDq, kTripleSq}, .quotes = {kDq, kSq}}},
};
static_assert(std::size(kEntries) == kTableLanguageCount, "kTableLanguageCount must match the table");

constexpr bool IsNamed(const char* name, const char* expected) {
  while (*name != 0 && *name == *expected) {
    ++name;
    ++expected;
  }
  return *name == *expected;
}
static_assert(IsNamed(kEntries[kTypeStarlark - kTypeFirstTable].name, "Starlark"));
static_assert(IsNamed(kEntries[kTypeGroovy - kTypeFirstTable].name, "Groovy source"));

constexpr bool HasShortNames() {
  for (const LanguageEntry& entry : kEntries) {
    int length = 0;
    while (entry.name[length] != 0) ++length;
    if (length > 19) return false;
  }
  return true;
}
static_assert(HasShortNames(), "names fit the report's type column");

}  // namespace

const LanguageEntry* const kLanguageTable = kEntries;

const LanguageEntry& LanguageOf(FileTypeId type) {
  assert(type >= kTypeFirstTable && type < kTypeInvalid);
  return kLanguageTable[type - kTypeFirstTable];
}

FileTypeId TableTypeNamed(const char* name) {
  for (int i = 0; i < kTableLanguageCount; ++i) {
    if (std::strcmp(kLanguageTable[i].name, name) == 0) return kTypeFirstTable + i;
  }
  return kTypeUnknown;
}

const BuiltinExtra kBuiltinExtras[kBuiltinExtraCount] = {
    {kTypeJavaScript, ".mjs .cjs", "", "node nodejs"},
    {kTypeTypeScript, ".mts .cts", "", "ts-node"},
    {kTypePython, ".pyi .pyw .pyx .pxd", "SConstruct SConscript", "python python2 python3 pypy pypy3"},
    {kTypeLua, "", "", "lua luajit"},
    {kTypePhp, ".phtml", "", "php"},
};

const char* const kBuiltinCommentSyntax[kTypeFirstTable] = {
    "",
    "// /* */ /+ +/",               // D
    "// /* */",                     // C++
    "// /* */",                     // C
    "// /* */",                     // ObjC++
    "// /* */",                     // ObjC
    "// /* */",                     // C/C++ header
    "// /* */",                     // C/C++ inline
    "// /* */",                     // C#
    "// /* */",                     // Java
    "// /* */",                     // JavaScript
    "-- --[[ ]]",                   // Lua
    "# \"\"\" \"\"\" (docstring)",  // Python
    "// { } (* *)",                 // Pascal
    "// # /* */",                   // PHP
    "// /* */",                     // Go
    "// /* */",                     // TypeScript
    "// /* */",                     // Rust
};

}  // namespace qm
