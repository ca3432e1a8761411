#include "count/lua_scanner.h"

namespace qm {

namespace {

constexpr ByteTable MakeLuaTable(bool conservative) {
  ByteTable table = MakeMainTable(conservative);
  table['-'] = kActMinus;
  table['"'] = kActDoubleQuote;
  table['\''] = kActSingleQuote;
  table['['] = kActBracket;
  return table;
}

constexpr ByteTable kLuaTables[2] = {MakeLuaTable(false), MakeLuaTable(true)};
static_assert(HasMainTableShape(kLuaTables[0]) && HasMainTableShape(kLuaTables[1]));
static_assert(kLuaTables[1][']'] == kHasPunctuation && kLuaTables[0][']'] == kHasCode);

constexpr ByteTable kInsideLongBracket = MakeInsideTable(']');

// The number of '=' in the long-bracket opener at `open` ('[', '='s, '['), or -1
// when there is none there. Requires: open < end and *open == '['.
int64_t LongBracketLevel(const uint8_t* open, const uint8_t* end) {
  const uint8_t* p = open + 1;
  while (p != end && *p == '=') ++p;
  if (p == end || *p != '[') return -1;
  return p - open - 1;
}

}  // namespace

template <typename Marks>
int64_t ScanLuaLongBracket(const uint8_t*& cursor, const uint8_t* end, int64_t& blankLines,
                           int64_t equalsCount, Marks marks) {
  return WalkConstruct(
      cursor, end, blankLines, kInsideLongBracket,
      [equalsCount](const uint8_t*& p, const uint8_t* limit, bool& blankSoFar) {
        blankSoFar = false;
        const uint8_t* q = p + 1;
        while (q != limit && *q == '=' && q - p - 1 < equalsCount) ++q;
        if (q - p - 1 == equalsCount && q != limit && *q == ']') {
          p = q + 1;
          return true;
        }
        ++p;
        return false;
      },
      marks);
}

template int64_t ScanLuaLongBracket<NoMarks>(const uint8_t*&, const uint8_t*, int64_t&, int64_t, NoMarks);
template int64_t ScanLuaLongBracket<LineMarks>(const uint8_t*&, const uint8_t*, int64_t&, int64_t, LineMarks);

void ScanLua(LineTotals& totals, FileTypeId type, const uint8_t* text, int32_t length, uint8_t* kinds) {
  assert(length > 0);
  const bool conservative = IsConservativeMode();
  const ByteTable& table = kLuaTables[conservative ? 1 : 0];
  const uint32_t punctBit = PunctuationBit(conservative);
  int64_t blankLines = 0;
  auto step = [&](uint8_t action, const uint8_t*& cursor, const uint8_t* end, LineState& state, auto& tally,
                  bool& commentRanToEnd) {
    switch (action) {
      case kActMinus:
        if (end - cursor >= 2 && cursor[1] == '-') {
          const int64_t level =
              end - cursor >= 3 && cursor[2] == '[' ? LongBracketLevel(cursor + 2, end) : -1;
          if (level >= 0) {
            cursor += 4 + level;
            const int64_t contentLines = ScanLuaLongBracket(cursor, end, blankLines, level, tally.Marks());
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
      case kActBracket: {
        const int64_t level = LongBracketLevel(cursor, end);
        if (level < 0) {
          state.flags |= punctBit;
          ++cursor;
          break;
        }
        cursor += 2 + level;
        const int64_t contentLines = ScanLuaLongBracket(cursor, end, blankLines, level, tally.Marks());
        tally.FoldLiteral(state, contentLines, blankLines);
        break;
      }
      case kActDoubleQuote:
      case kActSingleQuote: {
        const uint8_t quote = *cursor++;
        const int64_t contentLines = ScanQuoted(cursor, end, blankLines, quote, false, tally.Marks());
        tally.FoldLiteral(state, contentLines, blankLines);
        break;
      }
      default:
        assert(false && "action without a handler in the Lua scanner");
        ++cursor;
        break;
    }
  };
  if (kinds == nullptr) {
    ScanLoop<LineTally>(totals, type, text, length, nullptr, OneTable(table), punctBit, step);
  } else {
    ScanLoop<KindTally>(totals, type, text, length, kinds, OneTable(table), punctBit, step);
  }
}

}  // namespace qm
