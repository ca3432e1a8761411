#include "count/pascal_scanner.h"

namespace qm {

namespace {

constexpr ByteTable MakePascalTable(bool conservative) {
  ByteTable table = MakeMainTable(conservative);
  table['/'] = kActSlash;
  table['{'] = kActBrace;
  table['('] = kActParen;
  table['"'] = kActDoubleQuote;
  table['\''] = kActSingleQuote;
  return table;
}

constexpr ByteTable kPascalTables[2] = {MakePascalTable(false), MakePascalTable(true)};
static_assert(HasMainTableShape(kPascalTables[0]) && HasMainTableShape(kPascalTables[1]));
static_assert(kPascalTables[1]['}'] == kHasPunctuation && kPascalTables[1]['$'] == kHasPunctuation);

constexpr ByteTable kInsideBraceComment = MakeInsideTable('}');
constexpr ByteTable kInsideParenStarComment = MakeInsideTable('*');

// A directive counts as code, every other comment as comment.
template <typename Tally>
void FoldPascalComment(Tally& tally, LineState& state, int64_t contentLines, int64_t blankLines,
                       bool isDirective) {
  if (isDirective) {
    tally.FoldLiteral(state, contentLines, blankLines);
  } else {
    tally.FoldComment(state, contentLines, blankLines);
  }
}

}  // namespace

template <typename Marks>
int64_t ScanPascalComment(const uint8_t*& cursor, const uint8_t* end, int64_t& blankLines, bool isParenStar,
                          bool& isDirective, Marks marks) {
  assert(cursor <= end);
  isDirective = cursor != end && *cursor == '$';
  if (!isParenStar) {
    return WalkConstruct(
        cursor, end, blankLines, kInsideBraceComment,
        [](const uint8_t*& p, const uint8_t*, bool&) {
          ++p;
          return true;
        },
        marks);
  }
  return WalkConstruct(cursor, end, blankLines, kInsideParenStarComment, PairCloser<')'>{}, marks);
}

void ScanPascal(LineTotals& totals, FileTypeId type, const uint8_t* text, int32_t length, uint8_t* kinds) {
  assert(length > 0);
  const bool conservative = IsConservativeMode();
  const ByteTable& table = kPascalTables[conservative ? 1 : 0];
  const uint32_t punctBit = PunctuationBit(conservative);
  int64_t blankLines = 0;
  bool isDirective = false;
  auto step = [&](uint8_t action, const uint8_t*& cursor, const uint8_t* end, LineState& state, auto& tally,
                  bool& commentRanToEnd) {
    switch (action) {
      case kActSlash:
        if (end - cursor >= 2 && cursor[1] == '/') {
          cursor += 2;
          commentRanToEnd = tally.FoldLineComment(state, cursor, end, false);
        } else {
          state.flags |= punctBit;
          ++cursor;
        }
        break;
      case kActBrace: {
        ++cursor;
        const int64_t contentLines =
            ScanPascalComment(cursor, end, blankLines, false, isDirective, tally.Marks());
        FoldPascalComment(tally, state, contentLines, blankLines, isDirective);
        break;
      }
      case kActParen:
        if (end - cursor >= 2 && cursor[1] == '*') {
          cursor += 2;
          const int64_t contentLines =
              ScanPascalComment(cursor, end, blankLines, true, isDirective, tally.Marks());
          FoldPascalComment(tally, state, contentLines, blankLines, isDirective);
        } else {
          state.flags |= punctBit;
          ++cursor;
        }
        break;
      case kActDoubleQuote:
      case kActSingleQuote: {
        const uint8_t quote = *cursor++;
        const int64_t contentLines = ScanDoubledQuote(cursor, end, blankLines, quote, tally.Marks());
        tally.FoldLiteral(state, contentLines, blankLines);
        break;
      }
      default:
        assert(false && "action without a handler in the Pascal scanner");
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
