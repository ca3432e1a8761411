#include "count/brace_scanner.h"

#include "count/python_scanner.h"

#include <cstring>
#include <string>

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
constexpr ByteTable kPhpTables[2] = {
    WithAction(WithAction(kPlainTables[0], '#', kActHash), '<', kActLess),
    WithAction(WithAction(kPlainTables[1], '#', kActHash), '<', kActLess)};

static_assert(HasMainTableShape(kPlainTables[0]) && HasMainTableShape(kPlainTables[1]));
static_assert(HasMainTableShape(kBacktickTables[0]) && HasMainTableShape(kBacktickTables[1]));
static_assert(HasMainTableShape(kPhpTables[0]) && HasMainTableShape(kPhpTables[1]));
static_assert(kPlainTables[1]['}'] == kHasPunctuation && kPlainTables[0]['}'] == kHasCode);
static_assert(kPlainTables[1]['`'] == kHasPunctuation && kPhpTables[1]['#'] == kActHash);

struct BraceFeatures {
  const ByteTable* tables;  // kPlainTables, kBacktickTables or kPhpTables
  bool hasContinuation;     // backslash-newline continues "//"
  bool hasNesting;          // D's "/+" ... "+/"
  bool hasCppRaw;           // R"delim( ... )delim"
  bool hasVerbatim;         // C# @"..."
  bool hasRawPrefix;        // D's r"..."
  bool hasRustRaw;          // r#"..."#
  bool isBacktickRaw;       // Go and D: no escapes between backticks
  bool hasNestedBlocks = false;    // "/*" inside a block comment raises the depth
  bool hasTripleDouble = false;    // """ ... """ literals without escapes
  bool hasTripleSingle = false;    // ''' ... ''' literals without escapes
};

constexpr BraceFeatures kPlain{kPlainTables, false, false, false, false, false, false, false};

constexpr BraceFeatures FeaturesOf(FileTypeId type) {
  BraceFeatures features = kPlain;
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
      features.hasVerbatim = true;
      break;
    case kTypeJavaScript:
    case kTypeTypeScript:
      features.tables = kBacktickTables;
      break;
    case kTypeGo:
      features.tables = kBacktickTables;
      features.isBacktickRaw = true;
      break;
    case kTypePhp:
      features.tables = kPhpTables;
      break;
    case kTypeRust:
      features.hasRustRaw = true;
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
static_assert(kTypeGroovy == 22 && kFeatures[kTypeDart].hasTripleSingle && !kFeatures[kTypeGroovy].hasNestedBlocks);
static_assert(kFeatures[kTypeInline].hasCppRaw && !kFeatures[kTypeInline].hasContinuation);
static_assert(!kFeatures[kTypeObjCpp].hasCppRaw && kFeatures[kTypeObjCpp].hasContinuation);

constexpr ByteTable kInsideBlockComment = MakeInsideTable('*');
constexpr ByteTable kInsideNestingComment = MakeInsideTable('/', '+');
constexpr ByteTable kInsideNestedBlockComment = MakeInsideTable('/', '*');

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
  return WalkConstruct(cursor, end, blankLines, kInsideBlockComment,
                       PairCloser<'/'>{});
}

int64_t ScanNestingComment(const uint8_t*& cursor, const uint8_t* end, int64_t& blankLines) {
  int64_t depth = 1;
  return WalkConstruct(cursor, end, blankLines, kInsideNestingComment,
                       [&depth](const uint8_t*& p, const uint8_t* limit, bool& blankSoFar) {
                         blankSoFar = false;
                         const bool isPair = limit - p >= 2 && p[1] == (*p == '/' ? '+' : '/');
                         if (!isPair) {
                           ++p;
                           return false;
                         }
                         depth += *p == '/' ? 1 : -1;
                         p += 2;
                         return depth == 0;
                       });
}

int64_t ScanNestedBlockComment(const uint8_t*& cursor, const uint8_t* end, int64_t& blankLines) {
  int64_t depth = 1;
  return WalkConstruct(cursor, end, blankLines, kInsideNestedBlockComment,
                       [&depth](const uint8_t*& p, const uint8_t* limit, bool& blankSoFar) {
                         blankSoFar = false;
                         const bool isPair = limit - p >= 2 && p[1] == (*p == '/' ? '*' : '/');
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
    const void* found =
        memmem(body, static_cast<size_t>(end - body), terminator.data(), terminator.size());
    if (found != nullptr) stop = static_cast<const uint8_t*>(found) + terminator.size();
  }
  return CountConstructLines(cursor, stop, blankLines);
}

int64_t ScanRustRawString(const uint8_t*& cursor, const uint8_t* end, int64_t& blankLines, int64_t hashCount) {
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
  // The identifier is a span of the opening line itself, so nothing is copied.
  const uint8_t* p = FindLineBreak(cursor, end);
  const uint8_t* idStart = cursor;
  const uint8_t* idEnd = p;
  if (idStart != idEnd && *idStart == '\'') {
    ++idStart;
    if (idStart != idEnd && idEnd[-1] == '\'') --idEnd;
  }
  const size_t idLength = static_cast<size_t>(idEnd - idStart);
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
    const size_t bytesLeft = static_cast<size_t>(end - p);
    if (bytesLeft >= idLength + 2 && std::memcmp(p, idStart, idLength) == 0 && p[idLength] == ';' &&
        IsLineBreak(p[idLength + 1])) {
      cursor = p + idLength + 1;
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
        if (next == '/') {
          cursor += 2;
          commentRanToEnd = tally.FoldLineComment(state, cursor, end, features.hasContinuation);
        } else if (next == '*') {
          cursor += 2;
          const int64_t contentLines = features.hasNestedBlocks ? ScanNestedBlockComment(cursor, end, blankLines)
                                                                : ScanBlockComment(cursor, end, blankLines);
          tally.FoldComment(state, contentLines, blankLines);
        } else if (next == '+' && features.hasNesting) {
          cursor += 2;
          const int64_t contentLines = ScanNestingComment(cursor, end, blankLines);
          tally.FoldComment(state, contentLines, blankLines);
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
        const int64_t hashCount =
            features.hasRustRaw && quote == '"' ? RawHashCount(text, cursor) : -1;
        ++cursor;
        int64_t contentLines;
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
        ++cursor;
        commentRanToEnd = tally.FoldLineComment(state, cursor, end, false);
        break;
      case kActLess:
        if (end - cursor >= 3 && cursor[1] == '<' && cursor[2] == '<') {
          cursor += 3;
          const int64_t contentLines = ScanHeredoc(cursor, end, blankLines);
          tally.FoldLiteral(state, contentLines, blankLines);
        } else {
          state.flags |= punctBit;
          ++cursor;
        }
        break;
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
