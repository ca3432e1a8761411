#include "count/python_scanner.h"

namespace qm {

namespace {

// Two main-loop tables per mode. While the line has no code, the prefix letters
// r u b (either case) are actions, since they may open a docstring. Once it has
// code they are plain code letters: a prefixed triple quote after code counts as
// code whether it is seen at the letter or at the quote, with the same closing quote.
constexpr ByteTable MakeCodeTable(bool conservative) {
  ByteTable table = MakeMainTable(conservative);
  table['#'] = kActHash;
  table['"'] = kActDoubleQuote;
  table['\''] = kActSingleQuote;
  return table;
}

constexpr ByteTable MakeStartTable(bool conservative) {
  ByteTable table = MakeCodeTable(conservative);
  for (uint8_t letter : {'r', 'R', 'u', 'U', 'b', 'B'}) table[letter] = kActPrefixLetter;
  return table;
}

constexpr ByteTable kCodeTables[2] = {MakeCodeTable(false), MakeCodeTable(true)};
constexpr ByteTable kStartTables[2] = {MakeStartTable(false), MakeStartTable(true)};
static_assert(HasMainTableShape(kCodeTables[0]) && HasMainTableShape(kCodeTables[1]));
static_assert(HasMainTableShape(kStartTables[0]) && HasMainTableShape(kStartTables[1]));
static_assert(kStartTables[1]['U'] == kActPrefixLetter && kCodeTables[1]['U'] == kHasCode &&
              kStartTables[1]['f'] == kHasCode);

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

// A triple-quoted string is a docstring (comment) unless its line already has code.
void FoldTripleQuoted(LineTally& tally, LineState& state, int64_t contentLines, int64_t blankLines) {
  if ((state.flags & kHasCode) != 0) {
    tally.FoldLiteral(state, contentLines, blankLines);
  } else {
    tally.FoldComment(state, contentLines, blankLines);
  }
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

void ScanPython(LineTotals& totals, FileTypeId type, const uint8_t* text, int32_t length) {
  assert(length > 0);
  const bool conservative = IsConservativeMode();
  const ByteTable& startTable = kStartTables[conservative ? 1 : 0];
  const ByteTable& codeTable = kCodeTables[conservative ? 1 : 0];
  const uint32_t punctBit = PunctuationBit(conservative);
  int64_t blankLines = 0;
  ScanLoop(
      totals, type, text, length,
      [&](uint32_t flags) -> const ByteTable& { return (flags & kHasCode) != 0 ? codeTable : startTable; },
      punctBit,
      [&](uint8_t action, const uint8_t*& cursor, const uint8_t* end, LineState& state, LineTally& tally,
          bool& commentRanToEnd) {
        switch (action) {
          case kActHash:
            ++cursor;
            commentRanToEnd = tally.FoldLineComment(state, cursor, end, false);
            break;
          case kActDoubleQuote:
          case kActSingleQuote: {
            const uint8_t quote = *cursor;
            if (end - cursor >= 3 && cursor[1] == quote && cursor[2] == quote) {
              cursor += 3;
              const int64_t contentLines = ScanTripleQuoted(cursor, end, blankLines, quote);
              FoldTripleQuoted(tally, state, contentLines, blankLines);
            } else {
              ++cursor;
              const int64_t contentLines = ScanQuoted(cursor, end, blankLines, quote, false);
              tally.FoldLiteral(state, contentLines, blankLines);
            }
            break;
          }
          case kActPrefixLetter: {
            const int64_t openerLength =
                (state.flags & kHasCode) != 0 ? 0 : PrefixedOpenerLength(cursor, end);
            if (openerLength == 0) {
              state.flags |= kHasCode;
              ++cursor;
              break;
            }
            cursor += openerLength;
            const int64_t contentLines = ScanTripleQuoted(cursor, end, blankLines, cursor[-1]);
            FoldTripleQuoted(tally, state, contentLines, blankLines);
            break;
          }
          default:
            assert(false && "action without a handler in the Python scanner");
            ++cursor;
            break;
        }
      });
}

}  // namespace qm
