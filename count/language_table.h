// The language table: the languages counted with -al beyond the default seventeen, one
// entry per language, as data: its names, which files are of it, and its lexical
// rules. Entry i has the FileTypeId kTypeFirstTable + i. Everything here is static,
// read-only and never allocated, so any thread may read it.

// An entry names the language (its display name, which is also its CSV name), says
// which files are of it (extensions, exact file names, interpreters named by a "#!"
// line) and gives its lexical rules: line-comment openers, block pairs (comments, and
// multi-line literals such as triple quotes), quotes with their escape rules,
// heredocs, and whether punctuation-only lines are a category of their own. Adding a
// language is adding an entry (and raising kTableLanguageCount, which the table is
// checked against).
#pragma once

#include <cstdint>

#include "count/file_type_id.h"

namespace qm {

// Where a line-comment opener or a block opener counts, and what must follow it.
// Flags combine; a test fails when any of them fails.
inline constexpr uint8_t kAnywhere = 0;
inline constexpr uint8_t kAtWordStart = 1;    // after the start of the text, a byte <= 32 or one of ; & | ( )
inline constexpr uint8_t kFirstOnLine = 2;    // nothing but bytes <= 32 before it on its line
inline constexpr uint8_t kAtColumnZero = 4;   // the first byte of its line
inline constexpr uint8_t kIgnoreCase = 8;     // ASCII letters match either case (opener written lower case)
inline constexpr uint8_t kBeforeSpace = 16;   // followed by a byte <= 32 or the end of the text
inline constexpr uint8_t kBeforeLetter = 32;  // followed by an ASCII letter
inline constexpr uint8_t kNotDirective = 64;  // first on its line and followed by a letter, it is code
// Not when the rest of its line holds the first block rule's opener without the
// closer after it (assembly: "movl %eax, %ebx;	/* start" opens the block comment).
inline constexpr uint8_t kNotBeforeOpenBlock = 128;

struct LineCommentRule {
  const char* opener = nullptr;  // null: no rule
  uint8_t flags = 0;
};

// Block pair flags.
inline constexpr uint8_t kNests = 1;               // each further opener inside raises the depth
inline constexpr uint8_t kIsLiteral = 2;           // a literal (code), not a comment
inline constexpr uint8_t kCloserAtColumnZero = 4;  // the closer counts only as the first byte of a line
// A long bracket: the opener ends in "[[" and the closer is "]]"; any number of '='
// may stand between the opener's two brackets, and then the closer needs as many
// between its own (CMake "#[==[ ... ]==]", "[=[ ... ]=]").
inline constexpr uint8_t kLongBracket = 8;
inline constexpr uint8_t kToEnd = 16;  // no closer: the block runs to the end of the text (Perl __END__)

struct BlockRule {
  const char* opener = nullptr;  // null: no rule
  uint8_t openerFlags = 0;       // as for line comments
  const char* closer = nullptr;
  uint8_t flags = 0;
};

// Quote flags.
inline constexpr uint8_t kDoubledQuote = 1;  // two quotes in a row stand for one
inline constexpr uint8_t kOneLine = 2;       // the literal also ends at a line break
inline constexpr uint8_t kCharLiteral = 4;   // opens only 'x' (one UTF-8 character) or an escape: 'a' 'b'
inline constexpr uint8_t kNotAfterWord =
    8;  // no literal after a letter, digit, '_', ')', ']', '}', '.' or byte >= 0x80
// Only in a recipe line (LanguageRules::hasRecipes).
inline constexpr uint8_t kInRecipe = 16;
// Only where a YAML scalar starts: first on its line (after spaces), after '[', '{' or
// ',' (spaces between allowed), or after ':', '-' or '?' and at least one space.
inline constexpr uint8_t kScalarStart = 32;

struct QuoteRule {
  uint8_t quote = 0;   // 0: no rule
  uint8_t escape = 0;  // the byte that escapes the next one inside, 0 for none
  uint8_t flags = 0;
};

// Heredocs: after "<<", the body runs from the next line to a line holding only the
// identifier. kShell: "<<", optional "-" (the closing line may be indented), optional
// spaces, then a bare, quoted or backslash-escaped identifier. kTagged (Ruby, Perl,
// HCL): "<<", optional "~" or "-" (indented closing line), no spaces, then a quoted
// identifier or a bare one starting with a capital letter or '_'.
// Several heredocs may open on one line; their bodies follow one after the other. A
// shell "<<" inside "$(( ))" or "(( ))" on its line is a shift, not a heredoc.
enum class HeredocStyle : uint8_t { kNone, kShell, kTagged };

inline constexpr int kMaxLineComments = 6;
inline constexpr int kMaxBlocks = 3;
inline constexpr int kMaxQuotes = 3;

struct LanguageRules {
  LineCommentRule lineComments[kMaxLineComments] = {};
  BlockRule blocks[kMaxBlocks] = {};  // tried in order, before line comments, then quotes
  QuoteRule quotes[kMaxQuotes] = {};
  uint8_t escapeOutside = 0;  // outside literals, this byte makes the next one plain code
  HeredocStyle heredoc = HeredocStyle::kNone;
  bool hasPunctuation = true;    // false: punctuation-only lines count as code
  bool hasContinuation = false;  // a backslash before a line break continues a line comment
  // Quote-like operators (Perl): a word of quoteWords (space-separated) standing alone,
  // then optional spaces and a delimiter byte, opens a literal up to the matching
  // delimiter (brackets pair and nest, a backslash escapes); a word of
  // substituteWords takes two such parts (s/a/b/, s{a}{b}). A word after '$', '@',
  // '%', '&', '*', '-', '>' or an identifier byte, or followed by "=>", ',', ';' or a
  // closing bracket, is a plain word.
  const char* quoteWords = nullptr;
  const char* substituteWords = nullptr;
  // A '/' where an operand is expected (first on its line, or after one of ( , = : [ !
  // & | ? { } ; ~ or a word of regexWords) opens a /.../ literal ending on its line.
  const char* regexWords = nullptr;
  // Ruby: charPrefix ('?') followed by one byte that no identifier byte follows is a
  // character literal (?' is a quote character, not an opener); a backslash after it
  // takes one more byte.
  uint8_t charPrefix = 0;
  // Ruby: "%" with one of q Q w W i I r s x and any delimiter that is no letter, digit
  // or space, or "%" and a delimiter other than '=' where an operand is expected (as
  // for regexWords), opens a literal up to the matching delimiter (brackets pair and
  // nest, a backslash escapes).
  bool hasPercentLiterals = false;
  // Makefiles: a line starting with a tab after a rule ("target: prerequisites"; only
  // other such lines, blank lines, comments and conditionals between), or continuing
  // such a line after a backslash, is a recipe line handed to the shell: a line
  // comment opens there only at the start of a word and never continues, and
  // kInRecipe quotes open literals.
  bool hasRecipes = false;
  // YAML: "|" or ">" (with chomping and indentation indicators) ending a line after
  // "key: ", "- " or "? " opens a block scalar: the lines after it that are blank or
  // indented deeper than its key (or its "-") are text, code when not blank.
  bool hasBlockScalars = false;
};

struct LanguageEntry {
  const char* name;          // display and CSV name, at most 19 bytes
  const char* extensions;    // space-separated, lower case, each with its '.'
  const char* fileNames;     // space-separated exact names (matched without regard to ASCII case)
  const char* interpreters;  // space-separated program names of a "#!" line
  LanguageRules rules;
};

// kTableLanguageCount entries.
extern const LanguageEntry* const kLanguageTable;

// The table types read by the brace scanner (count/brace_scanner.h) rather than the
// generic one; their entries' rules describe them for the language listing.
constexpr bool IsBraceTableType(FileTypeId type) {
  return type >= kTypeKotlin && type <= kTypeGroovy;
}

// The table types read by the Python scanner (count/python_scanner.h) rather than the
// generic one: Starlark, with Python's docstrings; its entry's rules describe it for
// the listing.
constexpr bool IsPythonTableType(FileTypeId type) {
  return type == kTypeStarlark;
}

// The entry of a table type. Requires: kTypeFirstTable <= type < kTypeInvalid.
const LanguageEntry& LanguageOf(FileTypeId type);

// The table type whose display name is `name`, or kTypeUnknown.
FileTypeId TableTypeNamed(const char* name);

// What -al adds to the default types: more extensions, exact names and interpreters
// for languages that keep their own scanner (.mjs as JavaScript, "#!python3" as Python).
struct BuiltinExtra {
  FileTypeId type;
  const char* extensions;
  const char* fileNames;
  const char* interpreters;
};

inline constexpr int kBuiltinExtraCount = 5;
extern const BuiltinExtra kBuiltinExtras[kBuiltinExtraCount];

// How the default types write comments, for the language listing; indexed by FileTypeId
// 1 to 17 (entry 0 is empty).
extern const char* const kBuiltinCommentSyntax[kTypeFirstTable];

}  // namespace qm
