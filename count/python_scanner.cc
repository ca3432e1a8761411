#include "count/python_scanner.h"

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

// Skips ordinary bytes as SkipOrdinaryBytes does, brackets among them, adding the
// brackets' depth changes to depth (a block of four bytes is read again only when it
// holds a bracket). Stops at the first action or at end. kIsBlockwise false reads
// byte by byte (the reference the fuzz target holds the blocks to).
// Hot: see bench/classify_bench.cc.
template <bool kIsBlockwise>
inline const uint8_t* SkipCodeAndBrackets(const uint8_t* cursor, const uint8_t* end, const ByteTable& table,
                                          uint32_t& flags, int64_t& depth) {
  uint32_t seen = flags;
  while (kIsBlockwise && end - cursor >= 4) {
    const uint32_t entries = table[cursor[0]] | table[cursor[1]] | table[cursor[2]] | table[cursor[3]];
    if (entries > kLastOrdinary) {
      if (entries >= kActLineFeed) break;
      depth += kBracketDeltas[cursor[0]] + kBracketDeltas[cursor[1]] + kBracketDeltas[cursor[2]] +
               kBracketDeltas[cursor[3]];
    }
    seen |= entries;
    cursor += 4;
  }
  while (cursor != end) {
    const uint8_t entry = table[*cursor];
    if (entry >= kActLineFeed) break;
    depth += kBracketDeltas[*cursor];
    seen |= entry;
    ++cursor;
  }
  flags = seen;
  return cursor;
}

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

int64_t ScanTripleQuoted(const uint8_t*& cursor, const uint8_t* end, int64_t& blankLines,
                         uint8_t closingQuote) {
  assert(closingQuote == '"' || closingQuote == '\'');
  const ByteTable& table = closingQuote == '"' ? kInsideDoubleTriple : kInsideSingleTriple;
  return WalkConstruct(cursor, end, blankLines, table,
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
                       });
}

namespace {

template <bool kIsBlockwise>
void Scan(LineTotals& totals, FileTypeId type, const uint8_t* text, int32_t length) {
  assert(length > 0);
  const bool conservative = IsConservativeMode();
  const ByteTable& startTable = kStartTables[conservative ? 1 : 0];
  const ByteTable& codeTable = kCodeTables[conservative ? 1 : 0];
  const uint32_t punctBit = PunctuationBit(conservative);
  const uint8_t* cursor = text;
  const uint8_t* const end = text + length;
  LineState state;
  LineTally tally;
  bool commentRanToEnd = false;
  int64_t blankLines = 0;
  // Openers minus closers met outside literals and comments. Counted without a
  // floor: a closer without an opener (only in broken text) leaves it below 0, which
  // counts as no bracket open.
  int64_t bracketDepth = 0;
  const uint8_t* afterComment = nullptr;  // just after the break that ended the last line comment
  // A triple-quoted string at the cursor is a docstring (comment) where a statement
  // starts: its line has no code yet, no bracket is open and the line does not
  // continue one that ended in a backslash. Anywhere else it is a literal.
  auto foldTripleQuoted = [&](const uint8_t* opener, int64_t contentLines) {
    if ((state.flags & kHasCode) == 0 && bracketDepth <= 0 && !IsContinuation(text, opener, afterComment)) {
      tally.FoldComment(state, contentLines, blankLines);
    } else {
      tally.FoldLiteral(state, contentLines, blankLines);
    }
  };
  while (cursor != end) {
    const ByteTable& table = (state.flags & kHasCode) != 0 ? codeTable : startTable;
    cursor = SkipCodeAndBrackets<kIsBlockwise>(cursor, end, table, state.flags, bracketDepth);
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
          const int64_t contentLines = ScanTripleQuoted(cursor, end, blankLines, quote);
          foldTripleQuoted(opener, contentLines);
        } else {
          ++cursor;
          const int64_t contentLines = ScanQuoted(cursor, end, blankLines, quote, false);
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
        const int64_t contentLines = ScanTripleQuoted(cursor, end, blankLines, cursor[-1]);
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

void ScanPython(LineTotals& totals, FileTypeId type, const uint8_t* text, int32_t length) {
  Scan<true>(totals, type, text, length);
}

void ScanPythonBytewise(LineTotals& totals, FileTypeId type, const uint8_t* text, int32_t length) {
  Scan<false>(totals, type, text, length);
}

}  // namespace qm
