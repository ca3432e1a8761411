#include "count/brace_scanner.h"

#include <cstring>
#include <string>
#include <string_view>

#include "count/python_scanner.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace qm {

namespace {

// Main-loop tables, indexed [greedy, conservative]. Every brace language stops on
// '/' and both quotes; the backtick and PHP's '#' and '<' only where they open
// something. Rust's r"..." is recognised at the quote by looking back (RawHashCount).
constexpr ByteTable MakePlainTable(bool conservative) {
  ByteTable table = MakeMainTable(conservative);
  table['/'] = kActSlash;
  table['"'] = kActDoubleQuote;
  table['\''] = kActSingleQuote;
  return table;
}

constexpr ByteTable kPlainTables[2] = {MakePlainTable(false), MakePlainTable(true)};
constexpr ByteTable kBacktickTables[2] = {WithAction(kPlainTables[0], '`', kActBacktick),
                                          WithAction(kPlainTables[1], '`', kActBacktick)};
constexpr ByteTable kPhpTables[2] = {WithAction(WithAction(kPlainTables[0], '#', kActHash), '<', kActLess),
                                     WithAction(WithAction(kPlainTables[1], '#', kActHash), '<', kActLess)};

static_assert(HasMainTableShape(kPlainTables[0]) && HasMainTableShape(kPlainTables[1]));
static_assert(HasMainTableShape(kBacktickTables[0]) && HasMainTableShape(kBacktickTables[1]));
static_assert(HasMainTableShape(kPhpTables[0]) && HasMainTableShape(kPhpTables[1]));
static_assert(kPlainTables[1]['}'] == kHasPunctuation && kPlainTables[0]['}'] == kHasCode);
static_assert(kPlainTables[1]['`'] == kHasPunctuation && kPhpTables[1]['#'] == kActHash);

// Inside a template literal's ${ }: JavaScript's table with the braces as actions, so
// that the brace closing the expression is found. Read without the vector search.
constexpr ByteTable kTemplateTables[2] = {
    WithAction(WithAction(kBacktickTables[0], '{', kActOpener), '}', kActCloser),
    WithAction(WithAction(kBacktickTables[1], '{', kActOpener), '}', kActCloser)};
static_assert(HasMainTableShape(kTemplateTables[0]) && HasMainTableShape(kTemplateTables[1]));

// Template literals nest inside ${ } at most this deep; deeper, "${" is text. Each
// level is a frame of the scan's recursion, so the bound keeps the stack small.
constexpr int kMaxTemplateNesting = 16;

struct BraceFeatures {
  const ByteTable* tables = kPlainTables;  // kPlainTables, kBacktickTables or kPhpTables
  bool hasContinuation = false;            // backslash-newline continues "//"
  bool hasNesting = false;                 // D's "/+" ... "+/"
  bool hasNestedBlocks = false;            // Rust, Kotlin, Swift, Scala, Dart: "/*" ... "*/" nest
  bool hasCppRaw = false;                  // R"delim( ... )delim"
  bool hasVerbatim = false;                // C# @"...", $@"..." and @$"..."
  bool hasQuoteRunRaw = false;             // C# """ ... """ raw strings (three or more quotes)
  bool hasTextBlocks = false;              // Java """ ... """
  bool hasRawPrefix = false;               // D's r"...", Dart's r"..." and r'...'
  bool hasRustRaw = false;                 // r#"..."#
  bool hasRustCharRule = false;            // a single quote opens only 'x' and '\...' (lifetimes)
  bool hasDigitSeparators = false;         // C family: 1'000'000, 0xFF'FF
  bool hasRegex = false;                   // JavaScript, TypeScript: /.../ literals
  bool hasTemplates = false;               // JavaScript, TypeScript: `...${ expression }...`
  bool hasAttributes = false;              // PHP: "#[" is code, not a comment
  bool hasHeredoc = false;                 // PHP: <<<ID ... ID
  bool isBacktickRaw = false;              // Go and D: no escapes between backticks
  bool hasTripleDouble = false;            // """ ... """ literals without escapes
  bool hasTripleSingle = false;            // ''' ... ''' literals without escapes
  bool hasOneLineQuotes = false;           // '...' and "..." end at an unescaped line break
  bool hasHashRaw = false;                 // Swift: #"..."#, ##"..."##, #"""..."""#
  bool hasSlashy = false;                  // Groovy: /.../ where an operand may start, $/.../$
};

constexpr BraceFeatures FeaturesOf(FileTypeId type) {
  BraceFeatures features;
  features.hasDigitSeparators = type >= kTypeCpp && type <= kTypeInline;
  features.hasOneLineQuotes = (type >= kTypeCpp && type <= kTypeJavaScript) || type == kTypeGo ||
                              type == kTypeTypeScript || (type >= kTypeKotlin && type <= kTypeGroovy);
  switch (type) {
    case kTypeD:
      features.tables = kBacktickTables;
      features.hasNesting = features.hasRawPrefix = features.isBacktickRaw = true;
      break;
    case kTypeCpp:
    case kTypeHeader:
      features.hasContinuation = features.hasCppRaw = true;
      break;
    case kTypeC:
    case kTypeObjCpp:
    case kTypeObjC:
      features.hasContinuation = true;
      break;
    case kTypeInline:
      features.hasCppRaw = true;
      break;
    case kTypeCSharp:
      features.hasVerbatim = features.hasQuoteRunRaw = true;
      break;
    case kTypeJava:
      features.hasTextBlocks = true;
      break;
    case kTypeJavaScript:
    case kTypeTypeScript:
      features.tables = kBacktickTables;
      features.hasRegex = features.hasTemplates = true;
      break;
    case kTypeGo:
      features.tables = kBacktickTables;
      features.isBacktickRaw = true;
      break;
    case kTypePhp:
      features.tables = kPhpTables;
      features.hasAttributes = features.hasHeredoc = true;
      break;
    case kTypeRust:
      features.hasRustRaw = features.hasRustCharRule = features.hasNestedBlocks = true;
      break;
    case kTypeKotlin:
    case kTypeScala:
      features.hasNestedBlocks = features.hasTripleDouble = true;
      break;
    case kTypeSwift:
      features.hasNestedBlocks = features.hasTripleDouble = features.hasHashRaw = true;
      break;
    case kTypeDart:
      features.hasNestedBlocks = features.hasTripleDouble = features.hasTripleSingle = true;
      features.hasRawPrefix = true;
      break;
    case kTypeGroovy:
      features.hasTripleDouble = features.hasTripleSingle = features.hasSlashy = true;
      break;
    default:
      break;
  }
  return features;
}

constexpr BraceFeatures kFeatures[kTypeGroovy + 1] = {
    FeaturesOf(0),  FeaturesOf(1),  FeaturesOf(2),  FeaturesOf(3),  FeaturesOf(4),  FeaturesOf(5),
    FeaturesOf(6),  FeaturesOf(7),  FeaturesOf(8),  FeaturesOf(9),  FeaturesOf(10), FeaturesOf(11),
    FeaturesOf(12), FeaturesOf(13), FeaturesOf(14), FeaturesOf(15), FeaturesOf(16), FeaturesOf(17),
    FeaturesOf(18), FeaturesOf(19), FeaturesOf(20), FeaturesOf(21), FeaturesOf(22),
};
static_assert(kTypeGroovy == 22 && kFeatures[kTypeDart].hasTripleSingle &&
              !kFeatures[kTypeGroovy].hasNestedBlocks);
static_assert(kFeatures[kTypeInline].hasCppRaw && !kFeatures[kTypeInline].hasContinuation);
static_assert(!kFeatures[kTypeObjCpp].hasCppRaw && kFeatures[kTypeObjCpp].hasContinuation);
static_assert(kFeatures[kTypeInline].hasDigitSeparators && !kFeatures[kTypeD].hasDigitSeparators &&
              !kFeatures[kTypeCSharp].hasDigitSeparators);
static_assert(kFeatures[kTypePhp].hasHeredoc == (kFeatures[kTypePhp].tables == kPhpTables));
static_assert(kFeatures[kTypeGo].hasOneLineQuotes && kFeatures[kTypeGroovy].hasOneLineQuotes &&
              !kFeatures[kTypeD].hasOneLineQuotes && !kFeatures[kTypePhp].hasOneLineQuotes &&
              !kFeatures[kTypeRust].hasOneLineQuotes);
static_assert(kFeatures[kTypeTypeScript].hasTemplates && !kFeatures[kTypeGo].hasTemplates);

constexpr ByteTable kInsideBlockComment = MakeInsideTable('*');
constexpr ByteTable kInsideNestingPlus = MakeInsideTable('/', '+');
constexpr ByteTable kInsideNestingStar = MakeInsideTable('/', '*');
constexpr ByteTable kInsideTextBlock = MakeInsideTable('"', '\\');
constexpr ByteTable kInsideTemplate = MakeInsideTable('`', '\\', '$');
constexpr ByteTable kInsideSlashy = MakeInsideTable('/', '\\');
constexpr ByteTable kInsideDollarSlashy = MakeInsideTable('/', '$');

constexpr bool IsDecimalDigit(uint8_t byte) {
  return byte >= '0' && byte <= '9';
}
constexpr bool IsLetter(uint8_t byte) {
  return (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z');
}
constexpr bool IsHexDigit(uint8_t byte) {
  return IsDecimalDigit(byte) || (byte >= 'a' && byte <= 'f') || (byte >= 'A' && byte <= 'F');
}
// Identifier bytes of PHP heredocs and JavaScript keywords: letters, digits, '_' and
// every byte from 0x80.
constexpr bool IsWordByte(uint8_t byte) {
  return IsLetter(byte) || IsDecimalDigit(byte) || byte == '_' || byte >= 0x80;
}
// The bytes a C number token is made of, separators included.
constexpr bool IsNumberTokenByte(uint8_t byte) {
  return IsLetter(byte) || IsDecimalDigit(byte) || byte == '_' || byte == '.' || byte == '\'';
}

// Rust: the size of the character literal opened by the single quote at `quote`,
// both quotes included: a quote, one character and a quote, where a character is a
// byte below 0xC0 other than CR, LF and '\'', or a lead byte from 0xC0 with the 1, 2
// or 3 bytes after it, taken unchecked. 0 for a backslash after the quote (an escaped
// character, read as a quoted literal); -1 when the quote opens nothing (a lifetime
// 'a, a label 'outer:, a lone quote).
int64_t RustCharLiteralSize(const uint8_t* quote, const uint8_t* end) {
  const int64_t bytesLeft = end - quote;
  if (bytesLeft < 2) return -1;
  const uint8_t first = quote[1];
  if (first == '\\') return 0;
  if (IsLineBreak(first) || first == '\'') return -1;
  const int64_t charSize = first < 0xC0 ? 1 : first < 0xE0 ? 2 : first < 0xF0 ? 3 : 4;
  if (bytesLeft < charSize + 2 || quote[charSize + 1] != '\'') return -1;
  return charSize + 2;
}

// C family: a single quote between two hex digits inside a number token (1'000,
// 0xFF'FF) separates digits instead of opening a literal; u8'a' and L'x' stay
// literals because their token starts with a letter. The token runs back over
// letters, digits, '_', '.' and '\''. A run of separators would walk its token once
// per quote, so the last quote judged here and its answer are kept: a walk that
// reaches that quote shares its token, and with it the answer. kIsMemo false walks
// every token in full (the reference the fuzz target holds the memo to).
template <bool kIsMemo>
class DigitSeparatorTest {
 public:
  bool IsSeparator(const uint8_t* text, const uint8_t* quote, const uint8_t* end) {
    if (quote == text || end - quote < 2 || !IsHexDigit(quote[-1]) || !IsHexDigit(quote[1])) return false;
    const uint8_t* p = quote - 1;
    bool isNumber = false;
    for (;;) {
      if (kIsMemo && p == lastQuote_) {
        isNumber = lastIsNumber_;
        break;
      }
      if (p == text || !IsNumberTokenByte(p[-1])) {
        isNumber = IsDecimalDigit(*p);
        break;
      }
      --p;
    }
    lastQuote_ = quote;
    lastIsNumber_ = isNumber;
    return isNumber;
  }

 private:
  const uint8_t* lastQuote_ = nullptr;
  bool lastIsNumber_ = false;
};

// JavaScript and TypeScript: whether a '/' that opens no comment may begin a regular
// expression, judged from what precedes it on its line: nothing but spaces and tabs,
// one of ( , = : [ ! & | ? { } ;, or a keyword after which an expression starts that
// is not a property name (preceded by '.').
bool MayOpenRegex(const uint8_t* text, const uint8_t* slash) {
  const uint8_t* p = slash;
  while (p != text && (p[-1] == ' ' || p[-1] == '\t')) --p;
  if (p == text || IsLineBreak(p[-1])) return true;
  constexpr std::string_view kOpeners = "(,=:[!&|?{};";
  if (kOpeners.find(static_cast<char>(p[-1])) != std::string_view::npos) return true;
  // No keyword is longer than "instanceof", so the walk stops one byte after that.
  constexpr int64_t kLongestKeyword = 10;
  const uint8_t* wordEnd = p;
  while (p != text && IsWordByte(p[-1]) && wordEnd - p <= kLongestKeyword) --p;
  const int64_t wordSize = wordEnd - p;
  if (wordSize == 0 || wordSize > kLongestKeyword || (p != text && p[-1] == '.')) return false;
  static constexpr std::string_view kKeywords[] = {"return", "typeof", "instanceof", "in",    "of",
                                                   "new",    "delete", "void",       "throw", "case",
                                                   "do",     "else",   "yield",      "await"};
  const std::string_view word(reinterpret_cast<const char*>(p), static_cast<size_t>(wordSize));
  for (std::string_view keyword : kKeywords) {
    if (word == keyword) return true;
  }
  return false;
}

// Finds the end of a regular-expression literal: the next '/' on the line that is
// neither escaped by a backslash nor inside a [...] class. A literal must close on
// its own line, so a scan that fails has read to the line's end; a later '/' on the
// same line would read it again, quadratic over a long line. So the failed scan's
// parse is kept (its line end, and a shadow of its class state replayed up to where
// the next scan starts). A later scan that starts outside the shadow's class is the
// same parse from there and fails too; one that starts inside it can only close
// before the next '[' or ']', where the two parses meet again. Every byte of a line is
// thus read a bounded number of times. kIsMemo false scans every candidate in full
// (the reference the fuzz target holds the shortcut to).
template <bool kIsMemo>
class RegexFinder {
 public:
  // Just after the closing '/' of the literal whose body starts at `body` (just after
  // the opening '/'), or nullptr when none closes on the line.
  const uint8_t* Find(const uint8_t* body, const uint8_t* end) {
    if (kIsMemo && failedLineEnd_ != nullptr && body <= failedLineEnd_) {
      while (shadow_ < body) StepShadow();
      // The byte before `body` is a '/', so no escape pair of the shadow spans it.
      assert(shadow_ == body);
      if (!shadowInClass_) return nullptr;
      for (const uint8_t* p = body; p != failedLineEnd_; ++p) {
        if (*p == '\\') {
          if (p + 1 == failedLineEnd_) return nullptr;
          ++p;
        } else if (*p == '/') {
          return p + 1;
        } else if (*p == '[' || *p == ']') {
          return nullptr;
        }
      }
      return nullptr;
    }
    bool isInClass = false;
    const uint8_t* p = body;
    while (p != end && !IsLineBreak(*p)) {
      const uint8_t byte = *p;
      if (byte == '\\') {
        if (end - p < 2 || IsLineBreak(p[1])) break;
        p += 2;
        continue;
      }
      if (isInClass) {
        isInClass = byte != ']';
      } else if (byte == '/') {
        return p + 1;
      } else if (byte == '[') {
        isInClass = true;
      }
      ++p;
    }
    failedLineEnd_ = FindLineBreak(p, end);
    shadow_ = body;
    shadowInClass_ = false;
    return nullptr;
  }

 private:
  // One step of the failed scan's parse; it never passes failedLineEnd_ before the
  // scan that needs it starts (see Find).
  void StepShadow() {
    const uint8_t byte = *shadow_;
    if (byte == '\\') {
      shadow_ += 2;
      return;
    }
    if (shadowInClass_) {
      shadowInClass_ = byte != ']';
    } else if (byte == '[') {
      shadowInClass_ = true;
    }
    ++shadow_;
  }

  const uint8_t* failedLineEnd_ = nullptr;  // null until a scan fails
  const uint8_t* shadow_ = nullptr;
  bool shadowInClass_ = false;
};

// A C# raw string opened by quoteCount >= 3 double quotes, cursor just after them:
// ends after the next run of exactly quoteCount quotes; a longer or shorter run is
// text. No escapes.
template <typename Marks>
int64_t ScanQuoteRunRaw(const uint8_t*& cursor, const uint8_t* end, int64_t& blankLines, int64_t quoteCount,
                        Marks marks) {
  const uint8_t* stop = end;
  const uint8_t* p = cursor;
  while (p != end) {
    const void* quote = std::memchr(p, '"', static_cast<size_t>(end - p));
    if (quote == nullptr) break;
    const uint8_t* runStart = static_cast<const uint8_t*>(quote);
    p = runStart;
    while (p != end && *p == '"') ++p;
    if (p - runStart == quoteCount) {
      stop = p;
      break;
    }
  }
  return CountConstructLines(cursor, stop, blankLines, marks);
}

// A Java text block, cursor just after its opening """: ends after the first """
// whose first quote is not escaped; backslash pairs as in quoted literals.
template <typename Marks>
int64_t ScanTextBlock(const uint8_t*& cursor, const uint8_t* end, int64_t& blankLines, Marks marks) {
  return WalkConstruct(
      cursor, end, blankLines, kInsideTextBlock,
      [](const uint8_t*& p, const uint8_t* limit, bool& blankSoFar) {
        if (*p == '"') {
          blankSoFar = false;
          if (limit - p >= 3 && p[1] == '"' && p[2] == '"') {
            p += 3;
            return true;
          }
          ++p;
          return false;
        }
        StepEscapePair(p, limit, blankSoFar);
        return false;
      },
      marks);
}

// The text of a template literal, cursor after its backtick or after the '}' of an
// expression: ends after the closing backtick, or (when expressions are allowed)
// after "${", with opensExpression set; escapes as in quoted literals.
template <typename Marks>
int64_t ScanTemplateText(const uint8_t*& cursor, const uint8_t* end, int64_t& blankLines,
                         bool allowsExpressions, bool& opensExpression, Marks marks) {
  return WalkConstruct(
      cursor, end, blankLines, kInsideTemplate,
      [&](const uint8_t*& p, const uint8_t* limit, bool& blankSoFar) {
        if (*p == '`') {
          ++p;
          return true;
        }
        if (*p == '\\') {
          StepEscapePair(p, limit, blankSoFar);
          return false;
        }
        blankSoFar = false;
        if (allowsExpressions && limit - p >= 2 && p[1] == '{') {
          p += 2;
          opensExpression = true;
          return true;
        }
        ++p;
        return false;
      },
      marks);
}

// A Groovy slashy string, cursor after its '/': ends after the next '/' that no
// backslash escapes. A dollar slashy string, cursor after "$/": ends after "/$";
// "$/" and "$$" are escapes.
template <typename Marks>
int64_t ScanSlashy(const uint8_t*& cursor, const uint8_t* end, int64_t& blankLines, bool isDollar,
                   Marks marks) {
  return WalkConstruct(
      cursor, end, blankLines, isDollar ? kInsideDollarSlashy : kInsideSlashy,
      [isDollar](const uint8_t*& p, const uint8_t* limit, bool& blankSoFar) {
        blankSoFar = false;
        const uint8_t byte = *p;
        const uint8_t next = limit - p >= 2 ? p[1] : 0;
        if (byte == '/' && (!isDollar || next == '$')) {
          p += isDollar ? 2 : 1;
          return true;
        }
        const bool isEscape =
            isDollar ? byte == '$' && (next == '/' || next == '$') : byte == '\\' && next == '/';
        p += isEscape ? 2 : 1;
        return false;
      },
      marks);
}

// The number of '#' between an 'r' and the double quote at `quote`, or -1 when the
// quote has no such prefix. Looking back gives the same answer as testing for "r",
// '#'s and a quote at the 'r', because every byte of such a run reached the main
// loop as an ordinary byte: no construct ends in 'r', and the only one ending in '#'
// (a raw string) has a quote before its '#'s, where the look-back stops.
int64_t RawHashCount(const uint8_t* text, const uint8_t* quote) {
  const uint8_t* p = quote;
  while (p != text && p[-1] == '#') --p;
  if (p == text || p[-1] != 'r') return -1;
  return quote - p;
}

// The bytes whose main-loop entry is an action, for the vector search below: at most
// kMaxActionBytes of them, the free places repeating the first.
constexpr int kMaxActionBytes = 8;
struct ActionBytes {
  uint8_t bytes[kMaxActionBytes] = {};
  int count = 0;
};

constexpr ActionBytes ActionBytesOf(const ByteTable& table) {
  ActionBytes actions;
  for (int byte = 0; byte < 256; ++byte) {
    if (table[byte] <= kLastOrdinary) continue;
    if (actions.count == kMaxActionBytes) return ActionBytes{};  // too many: count 0
    actions.bytes[actions.count++] = static_cast<uint8_t>(byte);
  }
  for (int i = actions.count; i < kMaxActionBytes; ++i) actions.bytes[i] = actions.bytes[0];
  return actions;
}

constexpr ActionBytes kActionBytes[3][2] = {
    {ActionBytesOf(kPlainTables[0]), ActionBytesOf(kPlainTables[1])},
    {ActionBytesOf(kBacktickTables[0]), ActionBytesOf(kBacktickTables[1])},
    {ActionBytesOf(kPhpTables[0]), ActionBytesOf(kPhpTables[1])},
};
// Every table fits the search (a count of 0 would mean it has too many actions).
static_assert(kActionBytes[0][0].count == 6 && kActionBytes[0][1].count == 6);
static_assert(kActionBytes[1][0].count == 7 && kActionBytes[1][1].count == 7);
static_assert(kActionBytes[2][0].count == 8 && kActionBytes[2][1].count == 8);

const ActionBytes& ActionBytesFor(const ByteTable* tables, bool conservative) {
  const int family = tables == kPlainTables ? 0 : tables == kBacktickTables ? 1 : 2;
  return kActionBytes[family][conservative ? 1 : 0];
}

// Skips ordinary bytes as SkipOrdinaryBytes does, stopping at the next action byte
// or end, with one shortcut: once the line holds code, its ordinary bytes are no
// longer looked up, since no flag they could add changes the category of a line with
// code (kCategoryOf), and only the next action byte is searched for, 16 bytes at a
// time where SSE2 is available. Until then bytes are looked up four at a time and
// their entries ORed into flags as usual. kIsVectorised false keeps the plain lookup
// throughout (the reference the vector search is tested against).
// Hot: see bench/classify_bench.cc.
template <bool kIsVectorised>
class ActionFinder {
 public:
  ActionFinder(const ByteTable& table, const ActionBytes& actions) : table_(table) {
#if defined(__SSE2__)
    for (int i = 0; i < kMaxActionBytes; ++i) wanted_[i] = _mm_set1_epi8(static_cast<char>(actions.bytes[i]));
#else
    (void)actions;
#endif
  }

  const uint8_t* Skip(const uint8_t* cursor, const uint8_t* end, uint32_t& flags) const {
    if constexpr (!kIsVectorised) return SkipOrdinaryBytes(cursor, end, table_, flags);
    uint32_t seen = flags;
    while ((seen & kHasCode) == 0) {
      if (end - cursor < 4) return SkipBytewise(cursor, end, flags, seen);
      const uint32_t entries = table_[cursor[0]] | table_[cursor[1]] | table_[cursor[2]] | table_[cursor[3]];
      if (entries > kLastOrdinary) return SkipBytewise(cursor, end, flags, seen);
      seen |= entries;
      cursor += 4;
    }
    flags = seen;
#if defined(__SSE2__)
    while (end - cursor >= 16) {
      const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cursor));
      const __m128i hits = _mm_or_si128(
          _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(bytes, wanted_[0]), _mm_cmpeq_epi8(bytes, wanted_[1])),
                       _mm_or_si128(_mm_cmpeq_epi8(bytes, wanted_[2]), _mm_cmpeq_epi8(bytes, wanted_[3]))),
          _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(bytes, wanted_[4]), _mm_cmpeq_epi8(bytes, wanted_[5])),
                       _mm_or_si128(_mm_cmpeq_epi8(bytes, wanted_[6]), _mm_cmpeq_epi8(bytes, wanted_[7]))));
      const uint32_t mask = static_cast<uint32_t>(_mm_movemask_epi8(hits));
      if (mask != 0) return cursor + __builtin_ctz(mask);
      cursor += 16;
    }
#endif
    while (cursor != end && table_[*cursor] <= kLastOrdinary) ++cursor;
    return cursor;
  }

 private:
  const uint8_t* SkipBytewise(const uint8_t* cursor, const uint8_t* end, uint32_t& flags,
                              uint32_t seen) const {
    while (cursor != end) {
      const uint8_t entry = table_[*cursor];
      if (entry > kLastOrdinary) break;
      seen |= entry;
      ++cursor;
    }
    flags = seen;
    return cursor;
  }

  const ByteTable& table_;
#if defined(__SSE2__)
  __m128i wanted_[kMaxActionBytes];
#endif
};

}  // namespace

template <typename Marks>
int64_t ScanBlockComment(const uint8_t*& cursor, const uint8_t* end, int64_t& blankLines, Marks marks) {
  return WalkConstruct(cursor, end, blankLines, kInsideBlockComment, PairCloser<'/'>{}, marks);
}

template <typename Marks>
int64_t ScanNestingComment(const uint8_t*& cursor, const uint8_t* end, int64_t& blankLines, uint8_t inner,
                           Marks marks) {
  assert(inner == '+' || inner == '*');
  int64_t depth = 1;
  return WalkConstruct(
      cursor, end, blankLines, inner == '+' ? kInsideNestingPlus : kInsideNestingStar,
      [&depth, inner](const uint8_t*& p, const uint8_t* limit, bool& blankSoFar) {
        blankSoFar = false;
        const bool isPair = limit - p >= 2 && p[1] == (*p == '/' ? inner : '/');
        if (!isPair) {
          ++p;
          return false;
        }
        depth += *p == '/' ? 1 : -1;
        p += 2;
        return depth == 0;
      },
      marks);
}

template <typename Marks>
int64_t ScanCppRawString(const uint8_t*& cursor, const uint8_t* end, int64_t& blankLines, uint8_t quote,
                         Marks marks) {
  assert(cursor <= end);
  const uint8_t* stop = end;
  const void* paren = std::memchr(cursor, '(', static_cast<size_t>(end - cursor));
  if (paren != nullptr) {
    const uint8_t* body = static_cast<const uint8_t*>(paren) + 1;
    std::string terminator;
    terminator.reserve(static_cast<size_t>(body - cursor) + 1);
    terminator.push_back(')');
    terminator.append(reinterpret_cast<const char*>(cursor), static_cast<size_t>(body - 1 - cursor));
    terminator.push_back(static_cast<char>(quote));
    // memmem is linear for long needles and bounded by 256 compares a byte below.
    const void* found = memmem(body, static_cast<size_t>(end - body), terminator.data(), terminator.size());
    if (found != nullptr) stop = static_cast<const uint8_t*>(found) + terminator.size();
  }
  return CountConstructLines(cursor, stop, blankLines, marks);
}

template <typename Marks>
int64_t ScanRustRawString(const uint8_t*& cursor, const uint8_t* end, int64_t& blankLines, int64_t hashCount,
                          Marks marks) {
  assert(cursor <= end);
  const uint8_t* stop = end;
  const uint8_t* p = cursor;
  while (p != end) {
    const void* quote = std::memchr(p, '"', static_cast<size_t>(end - p));
    if (quote == nullptr) break;
    p = static_cast<const uint8_t*>(quote) + 1;
    int64_t hashesSeen = 0;
    while (hashesSeen < hashCount && p != end && *p == '#') {
      ++p;
      ++hashesSeen;
    }
    if (hashesSeen == hashCount) {
      stop = p;
      break;
    }
    // The '#' run fell short, so no quote hides in it: go on after it.
  }
  return CountConstructLines(cursor, stop, blankLines, marks);
}

template <typename Marks>
int64_t ScanHeredoc(const uint8_t*& cursor, const uint8_t* end, int64_t& blankLines, Marks marks) {
  assert(cursor <= end);
  // The opener: spaces or tabs, the identifier (bare, or in single or double quotes),
  // the line break. The identifier is a span of the opening line, so nothing is copied.
  const uint8_t* p = cursor;
  while (p != end && (*p == ' ' || *p == '\t')) ++p;
  const uint8_t quote = p != end && (*p == '\'' || *p == '"') ? *p : 0;
  if (quote != 0) ++p;
  const uint8_t* const idStart = p;
  if (p == end || !IsWordByte(*p) || IsDecimalDigit(*p)) return -1;
  while (p != end && IsWordByte(*p)) ++p;
  const size_t idLength = static_cast<size_t>(p - idStart);
  if (quote != 0) {
    if (p == end || *p != quote) return -1;
    ++p;
  }
  if (p == end || !IsLineBreak(*p)) return -1;

  int64_t contentLines = 0;
  int64_t blankCount = 0;
  bool blankSoFar = false;  // the opening line is always a content line
  while (p != end) {
    // p stands on a line break.
    marks.Note(contentLines + blankCount, blankSoFar);
    if (blankSoFar) {
      ++blankCount;
    } else {
      ++contentLines;
      blankSoFar = true;
    }
    const uint8_t byte = *p++;
    if (byte == '\r' && p != end && *p == '\n') ++p;
    const uint8_t* q = p;
    while (q != end && (*q == ' ' || *q == '\t')) ++q;
    const size_t bytesLeft = static_cast<size_t>(end - q);
    if (bytesLeft >= idLength && std::memcmp(q, idStart, idLength) == 0 &&
        (bytesLeft == idLength || !IsWordByte(q[idLength]))) {
      cursor = q + idLength;
      blankLines = blankCount;
      return contentLines;
    }
    while (p != end && !IsLineBreak(*p)) {
      if (*p > 32) blankSoFar = false;
      ++p;
    }
  }
  cursor = end;
  blankLines = blankCount;
  return contentLines;
}

namespace {

// One scan of one text: the loop skips ordinary bytes, ends lines, and hands every
// other action byte to the step of the construct it may open. A step starts with
// cursor_ on its byte and leaves it after what it read (at least one byte), with the
// line's state and tally brought up to date; blankLines_ is the out-parameter of the
// construct scanners. The loop's own cursor, the line's state and the vector search
// are locals, which the compiler keeps in registers (the member cursor_, whose address
// the construct scanners take, costs memory traffic: about 3% more instructions on
// the headers when the loop used it).
// Hot: see bench/classify_bench.cc.
template <bool kIsVectorised, typename Tally>
class BraceScan {
 public:
  BraceScan(FileTypeId type, const uint8_t* text, int32_t length, bool conservative, uint8_t* kinds)
      : features_(kFeatures[type]),
        conservative_(conservative),
        punctBit_(PunctuationBit(conservative)),
        text_(text),
        end_(text + length),
        cursor_(text) {
    tally_.kinds = kinds;
  }

  void Run(LineTotals& totals, FileTypeId type) {
    LineState state;
    const ByteTable& table = features_.tables[conservative_ ? 1 : 0];
    const ActionFinder<kIsVectorised> finder(table, ActionBytesFor(features_.tables, conservative_));
    const uint8_t* cursor = cursor_;
    const uint8_t* const end = end_;
    while (cursor != end) {
      cursor = finder.Skip(cursor, end, state.flags);
      if (cursor == end) break;
      const uint8_t action = table[*cursor];
      if (action <= kActByteOrderMark) {
        StepLineBreakOrMark(action, cursor, end, state, tally_, punctBit_);
        continue;
      }
      cursor_ = cursor;
      StepAction(state, action);
      cursor = cursor_;
    }
    tally_.Finish(totals, type, state, end_[-1], commentRanToEnd_);
  }

 private:
  // Every action but the line breaks, which the loops take themselves. Always inlined:
  // the template steps make it recursive, and a call here would cost every language.
  [[gnu::always_inline]] void StepAction(LineState& state, uint8_t action) {
    switch (action) {
      case kActSlash:
        StepSlash(state);
        break;
      case kActDoubleQuote:
      case kActSingleQuote:
        StepQuote(state);
        break;
      case kActBacktick:
        StepBacktickLiteral(state);
        break;
      case kActHash:
        StepHash(state);
        break;
      case kActLess:
        StepLess(state);
        break;
      default:
        assert(false && "action without a handler in the brace scanner");
        ++cursor_;
        break;
    }
  }

  void FoldLiteral(LineState& state, int64_t contentLines) {
    tally_.FoldLiteral(state, contentLines, blankLines_);
  }
  void FoldComment(LineState& state, int64_t contentLines) {
    tally_.FoldComment(state, contentLines, blankLines_);
  }

  // A byte that opens nothing here: ordinary punctuation, or code.
  void StepOrdinary(LineState& state, uint32_t bit) {
    state.flags |= bit;
    ++cursor_;
  }

  // '/': a line comment, a block or nesting comment, a regular expression, or a
  // division.
  [[gnu::always_inline]] void StepSlash(LineState& state) {
    const uint8_t next = end_ - cursor_ >= 2 ? cursor_[1] : 0;
    if (next == '/') {
      StepLineComment(state, 2, features_.hasContinuation);
    } else if (next == '*') {
      StepBlockComment(state, features_.hasNestedBlocks ? '*' : 0);
    } else if (next == '+' && features_.hasNesting) {
      StepBlockComment(state, '+');
    } else if (!(features_.hasRegex && StepRegex(state)) &&
               !(features_.hasSlashy && StepSlashyLiteral(state))) {
      StepOrdinary(state, punctBit_);
    }
  }

  // Groovy: a '/' where an operand may start opens a slashy string, "$/" a dollar
  // slashy string; both may span lines. True when it opened one.
  bool StepSlashyLiteral(LineState& state) {
    const bool isDollar = cursor_ != text_ && cursor_[-1] == '$';
    if (!isDollar && !MayOpenRegex(text_, cursor_)) return false;
    ++cursor_;
    FoldLiteral(state, ScanSlashy(cursor_, end_, blankLines_, isDollar, tally_.Marks()));
    return true;
  }

  // A line comment whose opener is openerLength bytes at the cursor.
  void StepLineComment(LineState& state, int openerLength, bool hasContinuation) {
    cursor_ += openerLength;
    commentRanToEnd_ = tally_.FoldLineComment(state, cursor_, end_, hasContinuation);
  }

  // "/*" ... "*/" (nestingInner 0), or a nesting comment whose inner byte is
  // nestingInner: D's "/+" ... "+/", or "/*" ... "*/" where blocks nest.
  void StepBlockComment(LineState& state, uint8_t nestingInner) {
    cursor_ += 2;
    FoldComment(state, nestingInner != 0
                           ? ScanNestingComment(cursor_, end_, blankLines_, nestingInner, tally_.Marks())
                           : ScanBlockComment(cursor_, end_, blankLines_, tally_.Marks()));
  }

  // JavaScript and TypeScript: a '/' where an expression may start opens a regular
  // expression literal if one closes on its line. True when it did.
  bool StepRegex(LineState& state) {
    if (!MayOpenRegex(text_, cursor_)) return false;
    const uint8_t* const regexEnd = regexFinder_.Find(cursor_ + 1, end_);
    if (regexEnd == nullptr) return false;
    cursor_ = regexEnd;
    tally_.FoldLiteral(state, 0, 0);
    return true;
  }

  // A double or single quote: the literal forms of the type, tried in turn.
  [[gnu::always_inline]] void StepQuote(LineState& state) {
    const uint8_t quote = *cursor_;
    if (features_.hasHashRaw && quote == '"' && StepHashRawLiteral(state)) return;
    if (StepTripleQuotedLiteral(state, quote)) return;
    if (quote == '\'' ? StepCharacterOrSeparator(state) : StepQuoteRunLiteral(state)) return;
    StepQuotedLiteral(state, quote);
  }

  // Swift: a double quote after '#'s opens a raw string that ends at a double quote
  // followed by as many '#'s (#"...", #"""...). '#'s right after a double quote are
  // the end of a string before, not an opener. True when the quote opened one.
  bool StepHashRawLiteral(LineState& state) {
    const uint8_t* hashes = cursor_;
    while (hashes != text_ && hashes[-1] == '#') --hashes;
    const int64_t hashCount = cursor_ - hashes;
    if (hashCount == 0 || (hashes != text_ && hashes[-1] == '"')) return false;
    ++cursor_;
    FoldLiteral(state, ScanRustRawString(cursor_, end_, blankLines_, hashCount, tally_.Marks()));
    return true;
  }

  // Kotlin, Swift, Scala, Dart, Groovy: """...""" (and '''...''' in Dart and Groovy),
  // without escapes. True when the quote opened one.
  bool StepTripleQuotedLiteral(LineState& state, uint8_t quote) {
    const bool hasTriple = quote == '"' ? features_.hasTripleDouble : features_.hasTripleSingle;
    if (!hasTriple || end_ - cursor_ < 3 || cursor_[1] != quote || cursor_[2] != quote) return false;
    cursor_ += 3;
    FoldLiteral(state, ScanTripleQuoted(cursor_, end_, blankLines_, quote, tally_.Marks()));
    return true;
  }

  // A single quote that is not a quoted literal's opener, or opens a literal of its own
  // form: Rust's character literals (a lifetime or label is code), the C family's digit
  // separators. True when handled; false leaves it to StepQuotedLiteral.
  bool StepCharacterOrSeparator(LineState& state) {
    if (features_.hasRustCharRule) {
      const int64_t literalSize = RustCharLiteralSize(cursor_, end_);
      if (literalSize == 0) return false;
      if (literalSize < 0) {
        StepOrdinary(state, kHasCode);
        return true;
      }
      const uint8_t* const stop = cursor_ + literalSize;
      ++cursor_;
      FoldLiteral(state, CountConstructLines(cursor_, stop, blankLines_, tally_.Marks()));
      return true;
    }
    if (features_.hasDigitSeparators && separatorTest_.IsSeparator(text_, cursor_, end_)) {
      StepOrdinary(state, kHasCode);
      return true;
    }
    return false;
  }

  // The double-quote forms that begin with a run of quotes or a prefix: C# raw strings
  // (three or more quotes), Java text blocks, C# verbatim strings. True when the quote
  // opened one.
  bool StepQuoteRunLiteral(LineState& state) {
    const int before = cursor_ != text_ ? cursor_[-1] : -1;
    const bool isVerbatim = features_.hasVerbatim &&
                            (before == '@' || (before == '$' && cursor_ - text_ >= 2 && cursor_[-2] == '@'));
    // A C# opener takes its whole run of quotes; a Java one only three (counting
    // further would read a long run again at every text block it holds).
    const int64_t quoteLimit = features_.hasQuoteRunRaw && !isVerbatim ? end_ - cursor_
                               : features_.hasTextBlocks               ? 3
                                                                       : 1;
    int64_t quoteCount = 1;
    while (quoteCount < quoteLimit && quoteCount < end_ - cursor_ && cursor_[quoteCount] == '"') ++quoteCount;
    if (features_.hasQuoteRunRaw && !isVerbatim && quoteCount >= 3) {
      cursor_ += quoteCount;
      FoldLiteral(state, ScanQuoteRunRaw(cursor_, end_, blankLines_, quoteCount, tally_.Marks()));
      return true;
    }
    if (features_.hasTextBlocks && quoteCount >= 3) {
      cursor_ += 3;
      FoldLiteral(state, ScanTextBlock(cursor_, end_, blankLines_, tally_.Marks()));
      return true;
    }
    if (isVerbatim) {
      ++cursor_;
      FoldLiteral(state, ScanDoubledQuote(cursor_, end_, blankLines_, '"', tally_.Marks()));
      return true;
    }
    return false;
  }

  // A literal of one quote, read by the rules its prefix calls for: C++ raw strings
  // R"x(...)x", C# @'...', D r"...", Rust r#"..."#, or an ordinary quoted literal.
  void StepQuotedLiteral(LineState& state, uint8_t quote) {
    const int before = cursor_ != text_ ? cursor_[-1] : -1;
    const int64_t hashCount = features_.hasRustRaw && quote == '"' ? RawHashCount(text_, cursor_) : -1;
    ++cursor_;
    int64_t contentLines;
    if (features_.hasCppRaw && before == 'R') {
      contentLines = ScanCppRawString(cursor_, end_, blankLines_, quote, tally_.Marks());
    } else if (features_.hasVerbatim && before == '@') {
      contentLines = ScanDoubledQuote(cursor_, end_, blankLines_, quote, tally_.Marks());
    } else if (hashCount >= 0) {
      contentLines = ScanRustRawString(cursor_, end_, blankLines_, hashCount, tally_.Marks());
    } else {
      const bool isRaw = features_.hasRawPrefix && before == 'r';
      contentLines = features_.hasOneLineQuotes
                         ? ScanQuotedLine(cursor_, end_, blankLines_, quote, isRaw)
                         : ScanQuoted(cursor_, end_, blankLines_, quote, isRaw, tally_.Marks());
    }
    FoldLiteral(state, contentLines);
  }

  // `...`: raw in Go and D; in JavaScript and TypeScript a template literal.
  void StepBacktickLiteral(LineState& state) {
    if (features_.hasTemplates) {
      state.flags = StepTemplateLiteral(state.flags);
      return;
    }
    ++cursor_;
    FoldLiteral(state, ScanQuoted(cursor_, end_, blankLines_, '`', features_.isBacktickRaw, tally_.Marks()));
  }

  // A template literal: its text is a literal with escapes, and each "${" in it
  // opens an expression read by the language's own rules (comments, literals,
  // templates within) up to the brace that closes it, where the text goes on.
  // Recursive through StepTemplateExpression, at most kMaxTemplateNesting deep. Takes
  // and returns the line's flags by value, so that the callers' line state never has
  // its address taken and stays in a register.
  [[gnu::noinline]] uint32_t StepTemplateLiteral(uint32_t flags) {
    LineState state;
    state.flags = flags;
    ++cursor_;
    for (;;) {
      bool opensExpression = false;
      FoldLiteral(state, ScanTemplateText(cursor_, end_, blankLines_, templateNesting_ < kMaxTemplateNesting,
                                          opensExpression, tally_.Marks()));
      if (!opensExpression) return state.flags;
      ++templateNesting_;
      StepTemplateExpression(state);
      --templateNesting_;
      if (cursor_ == end_) return state.flags;
    }
  }

  // The expression of a template's "${", cursor just after it: the main loop's rules
  // with the braces counted; ends just after the '}' that closes it, or at end.
  void StepTemplateExpression(LineState& state) {
    const ByteTable& table = kTemplateTables[conservative_ ? 1 : 0];
    int64_t braceDepth = 0;
    while (cursor_ != end_) {
      cursor_ = SkipOrdinaryBytes(cursor_, end_, table, state.flags);
      if (cursor_ == end_) return;
      const uint8_t action = table[*cursor_];
      if (action <= kActByteOrderMark) {
        StepLineBreakOrMark(action, cursor_, end_, state, tally_, punctBit_);
      } else if (action == kActOpener) {
        ++braceDepth;
        StepOrdinary(state, punctBit_);
      } else if (action != kActCloser) {
        StepAction(state, action);
      } else if (braceDepth == 0) {
        ++cursor_;
        return;
      } else {
        --braceDepth;
        StepOrdinary(state, punctBit_);
      }
    }
  }

  // PHP '#': a line comment, except "#[" which opens an attribute (code).
  void StepHash(LineState& state) {
    if (features_.hasAttributes && end_ - cursor_ >= 2 && cursor_[1] == '[') {
      StepOrdinary(state, punctBit_);
      return;
    }
    StepLineComment(state, 1, false);
  }

  // PHP '<': "<<<" may open a heredoc or nowdoc; otherwise "<<<" is three ordinary
  // bytes and any other '<' one.
  void StepLess(LineState& state) {
    const bool isTriple =
        features_.hasHeredoc && end_ - cursor_ >= 3 && cursor_[1] == '<' && cursor_[2] == '<';
    if (isTriple) {
      const uint8_t* body = cursor_ + 3;
      const int64_t contentLines = ScanHeredoc(body, end_, blankLines_, tally_.Marks());
      if (contentLines >= 0) {
        cursor_ = body;
        FoldLiteral(state, contentLines);
        return;
      }
    }
    state.flags |= punctBit_;
    cursor_ += isTriple ? 3 : 1;
  }

  const BraceFeatures& features_;
  const bool conservative_;
  const uint32_t punctBit_;
  const uint8_t* const text_;
  const uint8_t* const end_;
  const uint8_t* cursor_;
  Tally tally_;
  bool commentRanToEnd_ = false;
  int64_t blankLines_ = 0;
  int templateNesting_ = 0;  // template expressions open around the cursor
  // The plain scan also skips the memos of these two: the fuzz target compares both.
  DigitSeparatorTest<kIsVectorised> separatorTest_;
  RegexFinder<kIsVectorised> regexFinder_;
};

// Each instantiation is a function of its own: inlined into the one that picks it,
// the counting scan would share that function's registers with the other.
template <bool kIsVectorised, typename Tally>
[[gnu::noinline]] void Scan(LineTotals& totals, FileTypeId type, const uint8_t* text, int32_t length,
                            uint8_t* kinds) {
  assert(type > kTypeUnknown && type <= kTypeGroovy && length > 0);
  BraceScan<kIsVectorised, Tally>(type, text, length, IsConservativeMode(), kinds).Run(totals, type);
}

}  // namespace

void ScanBraceLanguage(LineTotals& totals, FileTypeId type, const uint8_t* text, int32_t length,
                       uint8_t* kinds) {
  if (kinds == nullptr) {
    Scan<true, LineTally>(totals, type, text, length, nullptr);
  } else {
    Scan<true, KindTally>(totals, type, text, length, kinds);
  }
}

void ScanBraceLanguageBytewise(LineTotals& totals, FileTypeId type, const uint8_t* text, int32_t length) {
  Scan<false, LineTally>(totals, type, text, length, nullptr);
}

}  // namespace qm
