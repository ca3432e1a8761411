#include "count/python_scanner.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace qm {

namespace {

// Two main-loop tables per mode. While the line has no code, the prefix letters
// r u b (either case) are actions, since they may open a docstring. Once it has
// code they are plain code letters: a prefixed triple quote after code counts as
// code whether it is seen at the letter or at the quote, with the same closing quote.
//
// Brackets are ordinary bytes whose entry also holds kHasComment: the skip loop tells
// them from the other ordinary bytes (entries 0 to kLastOrdinary) without stopping,
// and from the actions (8 and up) by one more comparison. The bit never changes a
// line's category, since a bracket also sets kHasPunctuation (conservative) or
// kHasCode (greedy), either of which beats a comment (kCategoryOf).
constexpr uint8_t kBracketMark = kHasComment;

constexpr ByteTable MakeCodeTable(bool conservative) {
  ByteTable table = MakeMainTable(conservative);
  table['#'] = kActHash;
  table['"'] = kActDoubleQuote;
  table['\''] = kActSingleQuote;
  for (uint8_t bracket : {'(', '[', '{', ')', ']', '}'}) table[bracket] |= kBracketMark;
  return table;
}

constexpr ByteTable MakeStartTable(bool conservative) {
  ByteTable table = MakeCodeTable(conservative);
  for (uint8_t letter : {'r', 'R', 'u', 'U', 'b', 'B'}) table[letter] = kActPrefixLetter;
  return table;
}

// The main-table shape, but with the bracket entries between the ordinary ones and
// the actions.
constexpr bool HasPythonTableShape(const ByteTable& table, bool conservative) {
  ByteTable plain = table;
  for (uint8_t bracket : {'(', '[', '{', ')', ']', '}'}) {
    if (table[bracket] != (kBracketMark | (conservative ? kHasPunctuation : kHasCode))) return false;
    plain[bracket] = static_cast<uint8_t>(table[bracket] & ~kBracketMark);
  }
  return HasMainTableShape(plain);
}

constexpr ByteTable kCodeTables[2] = {MakeCodeTable(false), MakeCodeTable(true)};
constexpr ByteTable kStartTables[2] = {MakeStartTable(false), MakeStartTable(true)};
static_assert(HasPythonTableShape(kCodeTables[0], false) && HasPythonTableShape(kCodeTables[1], true));
static_assert(HasPythonTableShape(kStartTables[0], false) && HasPythonTableShape(kStartTables[1], true));
static_assert(kStartTables[1]['U'] == kActPrefixLetter && kCodeTables[1]['U'] == kHasCode &&
              kStartTables[1]['f'] == kHasCode);
static_assert(kBracketMark > kLastOrdinary && kBracketMark < kActLineFeed &&
              kCategoryOf[kBracketMark | kHasPunctuation] == kPunctLine &&
              kCategoryOf[kBracketMark | kHasCode] == kCodeLine);

// The depth change of each byte: +1 for an opening bracket, -1 for a closing one.
constexpr std::array<int8_t, 256> MakeBracketDeltas() {
  std::array<int8_t, 256> deltas{};
  for (uint8_t opener : {'(', '[', '{'}) deltas[opener] = 1;
  for (uint8_t closer : {')', ']', '}'}) deltas[closer] = -1;
  return deltas;
}
constexpr std::array<int8_t, 256> kBracketDeltas = MakeBracketDeltas();

constexpr ByteTable kInsideDoubleTriple = MakeInsideTable('"');
constexpr ByteTable kInsideSingleTriple = MakeInsideTable('\'');

constexpr uint8_t LowerCase(uint8_t byte) {
  return static_cast<uint8_t>(byte | 0x20);
}

// The length of the triple-quote opener with a prefix at cursor (r, u, ur, b, br in
// either case, then three equal quotes), or 0. Requires: *cursor is r, u or b.
int64_t PrefixedOpenerLength(const uint8_t* cursor, const uint8_t* end) {
  int64_t quoteAt = 1;
  if (LowerCase(*cursor) != 'r' && end - cursor >= 2 && LowerCase(cursor[1]) == 'r') quoteAt = 2;
  if (end - cursor < quoteAt + 3) return 0;
  const uint8_t quote = cursor[quoteAt];
  if ((quote != '"' && quote != '\'') || cursor[quoteAt + 1] != quote || cursor[quoteAt + 2] != quote)
    return 0;
  return quoteAt + 3;
}

// The skip of the main loop, with the count of open brackets. Until the line has code,
// bytes are looked up four at a time and their entries ORed into the flags, a block
// holding a bracket read again for its depth changes. Once the line has code, no
// flag its bytes could add changes its category (kCategoryOf), so only the next action
// byte is searched for, 16 bytes at a time where SSE2 is available, and the brackets
// before it are counted in byte lanes (each lane counts at most 255 blocks before the
// lanes are summed into depth_). kIsVectorised false reads byte by byte throughout
// (the reference the fuzz target holds the rest to). Hot: see bench/classify_bench.cc.
template <bool kIsVectorised>
class CodeSkipper {
 public:
  CodeSkipper() {
#if defined(__SSE2__)
    constexpr uint8_t kActionBytes[kActionCount] = {'\n', '\r', 0xEF, '#', '"', '\''};
    for (int i = 0; i < kActionCount; ++i) actions_[i] = _mm_set1_epi8(static_cast<char>(kActionBytes[i]));
    constexpr uint8_t kBrackets[6] = {'(', '[', '{', ')', ']', '}'};
    for (int i = 0; i < 6; ++i) brackets_[i] = _mm_set1_epi8(static_cast<char>(kBrackets[i]));
    opens_ = closes_ = _mm_setzero_si128();
#endif
  }

  // Skips ordinary bytes (brackets among them) from cursor, ORing their entries into
  // flags as long as the line has no code; returns the first action byte or end.
  const uint8_t* Skip(const uint8_t* cursor, const uint8_t* end, const ByteTable& table, uint32_t& flags) {
    uint32_t seen = flags;
    while (kIsVectorised && (seen & kHasCode) == 0 && end - cursor >= 4) {
      const uint32_t entries = table[cursor[0]] | table[cursor[1]] | table[cursor[2]] | table[cursor[3]];
      if (entries > kLastOrdinary) {
        if (entries >= kActLineFeed) break;
        depth_ += kBracketDeltas[cursor[0]] + kBracketDeltas[cursor[1]] + kBracketDeltas[cursor[2]] +
                  kBracketDeltas[cursor[3]];
      }
      seen |= entries;
      cursor += 4;
    }
#if defined(__SSE2__)
    while (kIsVectorised && (seen & kHasCode) != 0 && end - cursor >= 16) {
      const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cursor));
      const __m128i hits = _mm_or_si128(
          _mm_or_si128(_mm_cmpeq_epi8(bytes, actions_[0]), _mm_cmpeq_epi8(bytes, actions_[1])),
          _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(bytes, actions_[2]), _mm_cmpeq_epi8(bytes, actions_[3])),
                       _mm_or_si128(_mm_cmpeq_epi8(bytes, actions_[4]), _mm_cmpeq_epi8(bytes, actions_[5]))));
      __m128i opens =
          _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(bytes, brackets_[0]), _mm_cmpeq_epi8(bytes, brackets_[1])),
                       _mm_cmpeq_epi8(bytes, brackets_[2]));
      __m128i closes =
          _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(bytes, brackets_[3]), _mm_cmpeq_epi8(bytes, brackets_[4])),
                       _mm_cmpeq_epi8(bytes, brackets_[5]));
      const uint32_t mask = static_cast<uint32_t>(_mm_movemask_epi8(hits));
      if (mask != 0) {
        // Only the lanes before the action: kLaneMasks + 16 - n starts with n 0xFF bytes.
        const int before = __builtin_ctz(mask);
        const __m128i lanes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(kLaneMasks + 16 - before));
        AddLanes(_mm_and_si128(opens, lanes), _mm_and_si128(closes, lanes));
        flags = seen;
        return cursor + before;
      }
      AddLanes(opens, closes);
      cursor += 16;
    }
#endif
    while (cursor != end) {
      const uint8_t entry = table[*cursor];
      if (entry >= kActLineFeed) break;
      depth_ += kBracketDeltas[*cursor];
      seen |= entry;
      ++cursor;
    }
    flags = seen;
    return cursor;
  }

  // Openers minus closers skipped so far.
  int64_t Depth() {
#if defined(__SSE2__)
    SumLanes();
#endif
    return depth_;
  }

 private:
#if defined(__SSE2__)
  static constexpr int kActionCount = 6;
  // 16 bytes 0xFF, then 16 bytes 0.
  static constexpr uint8_t kLaneMasks[32] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                             0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

  // A matching lane is 0xFF: subtracting it adds 1 to the lane's count.
  void AddLanes(__m128i opens, __m128i closes) {
    opens_ = _mm_sub_epi8(opens_, opens);
    closes_ = _mm_sub_epi8(closes_, closes);
    if (++laneBlocks_ == 255) SumLanes();
  }

  void SumLanes() {
    const __m128i zero = _mm_setzero_si128();
    const __m128i openSums = _mm_sad_epu8(opens_, zero);
    const __m128i closeSums = _mm_sad_epu8(closes_, zero);
    const __m128i difference = _mm_sub_epi64(openSums, closeSums);
    depth_ += _mm_cvtsi128_si64(difference) + _mm_cvtsi128_si64(_mm_unpackhi_epi64(difference, difference));
    opens_ = closes_ = zero;
    laneBlocks_ = 0;
  }

  __m128i actions_[kActionCount];
  __m128i brackets_[6];
  __m128i opens_;
  __m128i closes_;
  int laneBlocks_ = 0;
#endif
  int64_t depth_ = 0;
};

// Whether the line holding `at` continues the line before it: that line ended in a
// backslash, outside a comment (afterComment is just after the break that ended the
// last line comment, or null).
bool IsContinuation(const uint8_t* text, const uint8_t* at, const uint8_t* afterComment) {
  const uint8_t* p = at;
  while (p != text && p[-1] == ' ') --p;
  while (p != text && !IsLineBreak(p[-1])) --p;
  if (p == text || p == afterComment) return false;
  --p;
  if (*p == '\n' && p != text && p[-1] == '\r') --p;
  return p != text && p[-1] == '\\';
}

}  // namespace

template <typename Marks>
int64_t ScanTripleQuoted(const uint8_t*& cursor, const uint8_t* end, int64_t& blankLines,
                         uint8_t closingQuote, Marks marks) {
  assert(closingQuote == '"' || closingQuote == '\'');
  const ByteTable& table = closingQuote == '"' ? kInsideDoubleTriple : kInsideSingleTriple;
  return WalkConstruct(
      cursor, end, blankLines, table,
      [closingQuote](const uint8_t*& p, const uint8_t* limit, bool& blankSoFar) {
        blankSoFar = false;
        if (limit - p >= 2 && p[1] == closingQuote) {
          if (limit - p >= 3 && p[2] == closingQuote) {
            p += 3;
            return true;
          }
          p += 2;
          return false;
        }
        ++p;
        return false;
      },
      marks);
}

template int64_t ScanTripleQuoted<NoMarks>(const uint8_t*&, const uint8_t*, int64_t&, uint8_t, NoMarks);
template int64_t ScanTripleQuoted<LineMarks>(const uint8_t*&, const uint8_t*, int64_t&, uint8_t, LineMarks);

namespace {

// Each instantiation is a function of its own: inlined into the one that picks it,
// the counting scan would share that function's registers with the other.
template <bool kIsVectorised, typename Tally>
[[gnu::noinline]] void Scan(LineTotals& totals, FileTypeId type, const uint8_t* text, int32_t length,
                            uint8_t* kinds) {
  assert(length > 0);
  const bool conservative = IsConservativeMode();
  const ByteTable& startTable = kStartTables[conservative ? 1 : 0];
  const ByteTable& codeTable = kCodeTables[conservative ? 1 : 0];
  const uint32_t punctBit = PunctuationBit(conservative);
  const uint8_t* cursor = text;
  const uint8_t* const end = text + length;
  LineState state;
  Tally tally;
  tally.kinds = kinds;
  bool commentRanToEnd = false;
  int64_t blankLines = 0;
  // Counts openers minus closers met outside literals and comments, without a floor: a
  // closer without an opener (only in broken text) leaves it below 0, which counts as
  // no bracket open.
  CodeSkipper<kIsVectorised> skipper;
  const uint8_t* afterComment = nullptr;  // just after the break that ended the last line comment
  // A triple-quoted string at the cursor is a docstring (comment) where a statement
  // starts: its line has no code yet, no bracket is open and the line does not
  // continue one that ended in a backslash. Anywhere else it is a literal.
  auto foldTripleQuoted = [&](const uint8_t* opener, int64_t contentLines) {
    if ((state.flags & kHasCode) == 0 && skipper.Depth() <= 0 &&
        !IsContinuation(text, opener, afterComment)) {
      tally.FoldComment(state, contentLines, blankLines);
    } else {
      tally.FoldLiteral(state, contentLines, blankLines);
    }
  };
  while (cursor != end) {
    const ByteTable& table = (state.flags & kHasCode) != 0 ? codeTable : startTable;
    cursor = skipper.Skip(cursor, end, table, state.flags);
    if (cursor == end) break;
    const uint8_t action = table[*cursor];
    if (action <= kActByteOrderMark) {
      StepLineBreakOrMark(action, cursor, end, state, tally, punctBit);
      continue;
    }
    switch (action) {
      case kActHash:
        ++cursor;
        commentRanToEnd = tally.FoldLineComment(state, cursor, end, false);
        afterComment = cursor;
        break;
      case kActDoubleQuote:
      case kActSingleQuote: {
        const uint8_t* const opener = cursor;
        const uint8_t quote = *cursor;
        if (end - cursor >= 3 && cursor[1] == quote && cursor[2] == quote) {
          cursor += 3;
          const int64_t contentLines = ScanTripleQuoted(cursor, end, blankLines, quote, tally.Marks());
          foldTripleQuoted(opener, contentLines);
        } else {
          ++cursor;
          const int64_t contentLines = ScanQuoted(cursor, end, blankLines, quote, false, tally.Marks());
          tally.FoldLiteral(state, contentLines, blankLines);
        }
        break;
      }
      case kActPrefixLetter: {
        const uint8_t* const opener = cursor;
        const int64_t openerLength = (state.flags & kHasCode) != 0 ? 0 : PrefixedOpenerLength(cursor, end);
        if (openerLength == 0) {
          state.flags |= kHasCode;
          ++cursor;
          break;
        }
        cursor += openerLength;
        const int64_t contentLines = ScanTripleQuoted(cursor, end, blankLines, cursor[-1], tally.Marks());
        foldTripleQuoted(opener, contentLines);
        break;
      }
      default:
        assert(false && "action without a handler in the Python scanner");
        ++cursor;
        break;
    }
  }
  tally.Finish(totals, type, state, end[-1], commentRanToEnd);
}

}  // namespace

void ScanPython(LineTotals& totals, FileTypeId type, const uint8_t* text, int32_t length, uint8_t* kinds) {
  if (kinds == nullptr) {
    Scan<true, LineTally>(totals, type, text, length, nullptr);
  } else {
    Scan<true, KindTally>(totals, type, text, length, kinds);
  }
}

void ScanPythonBytewise(LineTotals& totals, FileTypeId type, const uint8_t* text, int32_t length) {
  Scan<false, LineTally>(totals, type, text, length, nullptr);
}

}  // namespace qm
