#include "count/lua_scanner.h"

namespace qm {

namespace {

constexpr ByteTable MakeLuaTable(bool conservative) {
  ByteTable table = MakeMainTable(conservative);
  table['-'] = kActMinus;
  table['"'] = kActDoubleQuote;
  table['\''] = kActSingleQuote;
  return table;
}

constexpr ByteTable kLuaTables[2] = {MakeLuaTable(false), MakeLuaTable(true)};
static_assert(HasMainTableShape(kLuaTables[0]) && HasMainTableShape(kLuaTables[1]));
static_assert(kLuaTables[1]['['] == kHasPunctuation && kLuaTables[0]['['] == kHasCode);

constexpr ByteTable kInsideBlockComment = MakeInsideTable(']');

}  // namespace

int64_t ScanLuaBlockComment(const uint8_t*& cursor, const uint8_t* end, int64_t& blankLines) {
  return WalkConstruct(cursor, end, blankLines, kInsideBlockComment,
                       PairCloser<']'>{});
}

void ScanLua(LineTotals& totals, FileTypeId type, const uint8_t* text, int32_t length) {
  assert(length > 0);
  const bool conservative = IsConservativeMode();
  const ByteTable& table = kLuaTables[conservative ? 1 : 0];
  const uint32_t punctBit = PunctuationBit(conservative);
  const uint8_t* cursor = text;
  const uint8_t* const end = text + length;
  LineState state;
  LineTally tally;
  bool commentRanToEnd = false;
  int64_t blankLines = 0;
  while (cursor != end) {
    cursor = SkipOrdinaryBytes(cursor, end, table, state.flags);
    if (cursor == end) break;
    const uint8_t action = table[*cursor];
    switch (action) {
      case kActLineFeed:
      case kActCarriageReturn:
      case kActByteOrderMark:
        StepLineBreakOrMark(action, cursor, end, state, tally, punctBit);
        break;
      case kActMinus:
        if (end - cursor >= 2 && cursor[1] == '-') {
          if (end - cursor >= 4 && cursor[2] == '[' && cursor[3] == '[') {
            cursor += 4;
            const int64_t contentLines = ScanLuaBlockComment(cursor, end, blankLines);
            tally.FoldComment(state, contentLines, blankLines);
          } else {
            cursor += 2;
            commentRanToEnd = tally.FoldLineComment(state, cursor, end, false);
          }
        } else {
          // Only this byte: the next one is examined in its own turn.
          state.flags |= punctBit;
          ++cursor;
        }
        break;
      case kActDoubleQuote:
      case kActSingleQuote: {
        const uint8_t quote = *cursor++;
        const int64_t contentLines = ScanQuoted(cursor, end, blankLines, quote, false);
        tally.FoldLiteral(state, contentLines, blankLines);
        break;
      }
      default:
        assert(false && "action without a handler in the Lua scanner");
        ++cursor;
        break;
    }
  }
  tally.Finish(totals, type, state, end[-1], commentRanToEnd);
}

}  // namespace qm
