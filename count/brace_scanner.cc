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

struct BraceFeatures {
  const ByteTable* tables;       // kPlainTables, kBacktickTables or kPhpTables
  bool hasContinuation;          // backslash-newline continues "//"
  bool hasNesting;               // D's "/+" ... "+/"
  bool hasNestedBlocks;          // Rust, Kotlin, Swift, Scala, Dart: "/*" ... "*/" nest
  bool hasCppRaw;                // R"delim( ... )delim"
  bool hasVerbatim;              // C# @"...", $@"..." and @$"..."
  bool hasQuoteRunRaw;           // C# """ ... """ raw strings (three or more quotes)
  bool hasTextBlocks;            // Java """ ... """
  bool hasRawPrefix;             // D's r"..."
  bool hasRustRaw;               // r#"..."#
  bool hasRustCharRule;          // a single quote opens only 'x' and '\...' (lifetimes)
  bool hasDigitSeparators;       // C family: 1'000'000, 0xFF'FF
  bool hasRegex;                 // JavaScript, TypeScript: /.../ literals
  bool hasAttributes;            // PHP: "#[" is code, not a comment
  bool hasHeredoc;               // PHP: <<<ID ... ID
  bool isBacktickRaw;            // Go and D: no escapes between backticks
  bool hasTripleDouble = false;  // """ ... """ literals without escapes
  bool hasTripleSingle = false;  // ''' ... ''' literals without escapes
};

constexpr BraceFeatures kPlain{kPlainTables, false, false, false, false, false, false, false,
                               false,        false, false, false, false, false, false, false};

constexpr BraceFeatures FeaturesOf(FileTypeId type) {
  BraceFeatures features = kPlain;
  features.hasDigitSeparators = type >= kTypeCpp && type <= kTypeInline;
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
      features.hasRegex = true;
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
    case kTypeSwift:
    case kTypeScala:
      features.hasNestedBlocks = features.hasTripleDouble = true;
      break;
    case kTypeDart:
      features.hasNestedBlocks = features.hasTripleDouble = features.hasTripleSingle = true;
      break;
    case kTypeGroovy:
      features.hasTripleDouble = features.hasTripleSingle = true;
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

constexpr ByteTable kInsideBlockComment = MakeInsideTable('*');
constexpr ByteTable kInsideNestingPlus = MakeInsideTable('/', '+');
constexpr ByteTable kInsideNestingStar = MakeInsideTable('/', '*');
constexpr ByteTable kInsideTextBlock = MakeInsideTable('"', '\\');

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
int64_t ScanQuoteRunRaw(const uint8_t*& cursor, const uint8_t* end, int64_t& blankLines, int64_t quoteCount) {
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
  return CountConstructLines(cursor, stop, blankLines);
}

// A Java text block, cursor just after its opening """: ends after the first """
// whose first quote is not escaped; backslash pairs as in quoted literals.
int64_t ScanTextBlock(const uint8_t*& cursor, const uint8_t* end, int64_t& blankLines) {
  return WalkConstruct(cursor, end, blankLines, kInsideTextBlock,
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
                       });
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

int64_t ScanBlockComment(const uint8_t*& cursor, const uint8_t* end, int64_t& blankLines) {
  return WalkConstruct(cursor, end, blankLines, kInsideBlockComment, PairCloser<'/'>{});
}

int64_t ScanNestingComment(const uint8_t*& cursor, const uint8_t* end, int64_t& blankLines, uint8_t inner) {
  assert(inner == '+' || inner == '*');
  int64_t depth = 1;
  return WalkConstruct(cursor, end, blankLines, inner == '+' ? kInsideNestingPlus : kInsideNestingStar,
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
                       });
}

int64_t ScanCppRawString(const uint8_t*& cursor, const uint8_t* end, int64_t& blankLines, uint8_t quote) {
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
  return CountConstructLines(cursor, stop, blankLines);
}

int64_t ScanRustRawString(const uint8_t*& cursor, const uint8_t* end, int64_t& blankLines,
                          int64_t hashCount) {
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
  return CountConstructLines(cursor, stop, blankLines);
}

int64_t ScanHeredoc(const uint8_t*& cursor, const uint8_t* end, int64_t& blankLines) {
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

template <bool kIsVectorised>
void Scan(LineTotals& totals, FileTypeId type, const uint8_t* text, int32_t length) {
  assert(type > kTypeUnknown && type <= kTypeGroovy && length > 0);
  const BraceFeatures& features = kFeatures[type];
  const bool conservative = IsConservativeMode();
  const ByteTable& table = features.tables[conservative ? 1 : 0];
  const ActionFinder<kIsVectorised> finder(table, ActionBytesFor(features.tables, conservative));
  const uint32_t punctBit = PunctuationBit(conservative);
  const uint8_t* cursor = text;
  const uint8_t* const end = text + length;
  LineState state;
  LineTally tally;
  bool commentRanToEnd = false;
  int64_t blankLines = 0;
  // The plain scan also skips the memos of these two: the fuzz target compares both.
  DigitSeparatorTest<kIsVectorised> separatorTest;
  RegexFinder<kIsVectorised> regexFinder;
  while (cursor != end) {
    cursor = finder.Skip(cursor, end, state.flags);
    if (cursor == end) break;
    const uint8_t action = table[*cursor];
    switch (action) {
      case kActLineFeed:
      case kActCarriageReturn:
      case kActByteOrderMark:
        StepLineBreakOrMark(action, cursor, end, state, tally, punctBit);
        break;
      case kActSlash: {
        const uint8_t next = end - cursor >= 2 ? cursor[1] : 0;
        const uint8_t* regexEnd = nullptr;
        if (next == '/') {
          cursor += 2;
          commentRanToEnd = tally.FoldLineComment(state, cursor, end, features.hasContinuation);
        } else if (next == '*') {
          cursor += 2;
          const int64_t contentLines = features.hasNestedBlocks
                                           ? ScanNestingComment(cursor, end, blankLines, '*')
                                           : ScanBlockComment(cursor, end, blankLines);
          tally.FoldComment(state, contentLines, blankLines);
        } else if (next == '+' && features.hasNesting) {
          cursor += 2;
          const int64_t contentLines = ScanNestingComment(cursor, end, blankLines, '+');
          tally.FoldComment(state, contentLines, blankLines);
        } else if (features.hasRegex && MayOpenRegex(text, cursor) &&
                   (regexEnd = regexFinder.Find(cursor + 1, end)) != nullptr) {
          cursor = regexEnd;
          tally.FoldLiteral(state, 0, 0);
        } else {
          state.flags |= punctBit;
          ++cursor;
        }
        break;
      }
      case kActDoubleQuote:
      case kActSingleQuote: {
        const uint8_t quote = *cursor;
        const bool hasTriple = quote == '"' ? features.hasTripleDouble : features.hasTripleSingle;
        if (hasTriple && end - cursor >= 3 && cursor[1] == quote && cursor[2] == quote) {
          cursor += 3;
          const int64_t contentLines = ScanTripleQuoted(cursor, end, blankLines, quote);
          tally.FoldLiteral(state, contentLines, blankLines);
          break;
        }
        const int before = cursor != text ? cursor[-1] : -1;
        int64_t contentLines;
        if (quote == '\'') {
          if (features.hasRustCharRule) {
            const int64_t literalSize = RustCharLiteralSize(cursor, end);
            if (literalSize < 0) {
              state.flags |= kHasCode;
              ++cursor;
              break;
            }
            if (literalSize > 0) {
              const uint8_t* const stop = cursor + literalSize;
              ++cursor;
              contentLines = CountConstructLines(cursor, stop, blankLines);
              tally.FoldLiteral(state, contentLines, blankLines);
              break;
            }
          } else if (features.hasDigitSeparators && separatorTest.IsSeparator(text, cursor, end)) {
            state.flags |= kHasCode;
            ++cursor;
            break;
          }
        } else {
          const bool isVerbatim =
              features.hasVerbatim &&
              (before == '@' || (before == '$' && cursor - text >= 2 && cursor[-2] == '@'));
          // A C# opener takes its whole run of quotes; a Java one only three (counting
          // further would read a long run again at every text block it holds).
          const int64_t quoteLimit = features.hasQuoteRunRaw && !isVerbatim ? end - cursor
                                     : features.hasTextBlocks               ? 3
                                                                            : 1;
          int64_t quoteCount = 1;
          while (quoteCount < quoteLimit && quoteCount < end - cursor && cursor[quoteCount] == '"')
            ++quoteCount;
          if (features.hasQuoteRunRaw && !isVerbatim && quoteCount >= 3) {
            cursor += quoteCount;
            contentLines = ScanQuoteRunRaw(cursor, end, blankLines, quoteCount);
            tally.FoldLiteral(state, contentLines, blankLines);
            break;
          }
          if (features.hasTextBlocks && quoteCount >= 3) {
            cursor += 3;
            contentLines = ScanTextBlock(cursor, end, blankLines);
            tally.FoldLiteral(state, contentLines, blankLines);
            break;
          }
          if (isVerbatim) {
            ++cursor;
            contentLines = ScanDoubledQuote(cursor, end, blankLines, quote);
            tally.FoldLiteral(state, contentLines, blankLines);
            break;
          }
        }
        const int64_t hashCount = features.hasRustRaw && quote == '"' ? RawHashCount(text, cursor) : -1;
        ++cursor;
        if (features.hasCppRaw && before == 'R') {
          contentLines = ScanCppRawString(cursor, end, blankLines, quote);
        } else if (features.hasVerbatim && before == '@') {
          contentLines = ScanDoubledQuote(cursor, end, blankLines, quote);
        } else if (features.hasRawPrefix && before == 'r') {
          contentLines = ScanQuoted(cursor, end, blankLines, quote, true);
        } else if (hashCount >= 0) {
          contentLines = ScanRustRawString(cursor, end, blankLines, hashCount);
        } else {
          contentLines = ScanQuoted(cursor, end, blankLines, quote, false);
        }
        tally.FoldLiteral(state, contentLines, blankLines);
        break;
      }
      case kActBacktick: {
        ++cursor;
        const int64_t contentLines = ScanQuoted(cursor, end, blankLines, '`', features.isBacktickRaw);
        tally.FoldLiteral(state, contentLines, blankLines);
        break;
      }
      case kActHash:
        if (features.hasAttributes && end - cursor >= 2 && cursor[1] == '[') {
          state.flags |= punctBit;
          ++cursor;
          break;
        }
        ++cursor;
        commentRanToEnd = tally.FoldLineComment(state, cursor, end, false);
        break;
      case kActLess: {
        const bool isTriple =
            features.hasHeredoc && end - cursor >= 3 && cursor[1] == '<' && cursor[2] == '<';
        if (isTriple) {
          const uint8_t* body = cursor + 3;
          const int64_t contentLines = ScanHeredoc(body, end, blankLines);
          if (contentLines >= 0) {
            cursor = body;
            tally.FoldLiteral(state, contentLines, blankLines);
            break;
          }
        }
        // Not a heredoc: "<<<" is three ordinary bytes, any other '<' one.
        state.flags |= punctBit;
        cursor += isTriple ? 3 : 1;
        break;
      }
      default:
        assert(false && "action without a handler in the brace scanner");
        ++cursor;
        break;
    }
  }
  tally.Finish(totals, type, state, end[-1], commentRanToEnd);
}

}  // namespace

void ScanBraceLanguage(LineTotals& totals, FileTypeId type, const uint8_t* text, int32_t length) {
  Scan<true>(totals, type, text, length);
}

void ScanBraceLanguageBytewise(LineTotals& totals, FileTypeId type, const uint8_t* text, int32_t length) {
  Scan<false>(totals, type, text, length);
}

}  // namespace qm
