#include "count/classify_text.h"

#include "count/brace_scanner.h"
#include "count/generic_scanner.h"
#include "count/language_table.h"
#include "count/lua_scanner.h"
#include "count/pascal_scanner.h"
#include "count/python_scanner.h"

namespace qm {

namespace {

constexpr ByteTable MakeCharClassTable(bool conservative) {
  ByteTable table{};
  for (int byte = 0; byte < 256; ++byte) {
    const bool isCode = conservative ? IsConservativeCodeByte(static_cast<uint8_t>(byte)) : byte > 32;
    table[byte] = isCode ? 1 : 0;
  }
  return table;
}

constexpr ByteTable kConservativeCharClasses = MakeCharClassTable(true);
constexpr ByteTable kGreedyCharClasses = MakeCharClassTable(false);
static_assert(kConservativeCharClasses['_'] == 1 && kConservativeCharClasses['{'] == 0 &&
              kConservativeCharClasses[0xC3] == 0 && kConservativeCharClasses[' '] == 0);
static_assert(kGreedyCharClasses[' '] == 0 && kGreedyCharClasses['!'] == 1 && kGreedyCharClasses[0xFF] == 1);

bool conservativeMode = true;

// Inside a quoted literal: the quote and, with escapes, the backslash stop the walk.
constexpr ByteTable kInsideDoubleQuoted = MakeInsideTable('"', '\\');
constexpr ByteTable kInsideSingleQuoted = MakeInsideTable('\'', '\\');
constexpr ByteTable kInsideBackticked = MakeInsideTable('`', '\\');
constexpr ByteTable kInsideRawDoubleQuoted = MakeInsideTable('"');
constexpr ByteTable kInsideRawSingleQuoted = MakeInsideTable('\'');
constexpr ByteTable kInsideRawBackticked = MakeInsideTable('`');
static_assert(kInsideDoubleQuoted['\\'] == kInStop && kInsideRawDoubleQuoted['\\'] == kInText &&
              kInsideAnything['\n'] == kInStop && kInsideAnything['\t'] == kInSpace);

const ByteTable& QuotedTable(uint8_t quote, bool isRaw) {
  assert(quote == '"' || quote == '\'' || quote == '`');
  if (quote == '"') return isRaw ? kInsideRawDoubleQuoted : kInsideDoubleQuoted;
  if (quote == '\'') return isRaw ? kInsideRawSingleQuoted : kInsideSingleQuoted;
  return isRaw ? kInsideRawBackticked : kInsideBackticked;
}

}  // namespace

ByteTable CharClassTable = kConservativeCharClasses;

void BuildCharClassTable(bool conservative) {
  const ByteTable& source = conservative ? kConservativeCharClasses : kGreedyCharClasses;
  CharClassTable = source;
  conservativeMode = conservative;
  // Every table is built before any file is classified, on whichever thread.
  BuildGenericTables();
}

bool IsConservativeMode() {
  return conservativeMode;
}

static_assert(int{kLineBlank} == int{kBlankLine} && int{kLineComment} == int{kCommentLine} &&
              int{kLineCode} == int{kCodeLine} && int{kLinePunctuation} == int{kPunctLine});

int64_t CountTextLines(const uint8_t* text, int64_t length) {
  int64_t lines = 0;
  for (int64_t i = 0; i < length; ++i) {
    if (text[i] == '\n' || (text[i] == '\r' && (i + 1 == length || text[i + 1] != '\n'))) ++lines;
  }
  if (length > 0 && !IsLineBreak(text[length - 1])) ++lines;
  return lines;
}

void ClassifyText(LineTotals& totals, FileTypeId type, const uint8_t* text, int32_t length) {
  ClassifyText(totals, type, text, length, nullptr);
}

void ClassifyText(LineTotals& totals, FileTypeId type, const uint8_t* text, int32_t length, uint8_t* kinds) {
  if (type <= kTypeUnknown || type >= kTypeSlots || length <= 0 || text == nullptr) return;
  switch (type) {
    case kTypeLua:
      ScanLua(totals, type, text, length, kinds);
      break;
    case kTypePython:
      ScanPython(totals, type, text, length, kinds);
      break;
    case kTypePascal:
      ScanPascal(totals, type, text, length, kinds);
      break;
    default:
      if (IsPythonTableType(type)) {
        ScanPython(totals, type, text, length, kinds);
        break;
      }
      if (type >= kTypeFirstTable && !IsBraceTableType(type)) {
        ScanGenericLanguage(totals, type, text, length, kinds);
        break;
      }
      ScanBraceLanguage(totals, type, text, length, kinds);
      break;
  }
}

template <typename Marks>
int64_t ScanQuoted(const uint8_t*& cursor, const uint8_t* end, int64_t& blankLines, uint8_t quote, bool isRaw,
                   Marks marks) {
  return WalkConstruct(
      cursor, end, blankLines, QuotedTable(quote, isRaw),
      [quote](const uint8_t*& p, const uint8_t* limit, bool& blankSoFar) {
        if (*p == quote) {
          ++p;
          return true;
        }
        // A backslash: a stop only with escapes on.
        StepEscapePair(p, limit, blankSoFar);
        return false;
      },
      marks);
}

template int64_t ScanQuoted<NoMarks>(const uint8_t*&, const uint8_t*, int64_t&, uint8_t, bool, NoMarks);
template int64_t ScanQuoted<LineMarks>(const uint8_t*&, const uint8_t*, int64_t&, uint8_t, bool, LineMarks);

int64_t ScanQuotedLine(const uint8_t*& cursor, const uint8_t* end, int64_t& blankLines, uint8_t quote,
                       bool isRaw) {
  assert(cursor <= end);
  const ByteTable& table = QuotedTable(quote, isRaw);
  const uint8_t* p = cursor;
  int64_t contentLines = 0;
  while (p != end) {
    p = SkipToStop(p, end, table);
    if (p == end || IsLineBreak(*p)) break;
    const uint8_t byte = *p++;
    if (byte == quote) break;
    // A backslash: it takes the byte after it, a line break (CR LF) included.
    if (p == end) break;
    if (IsLineBreak(*p)) {
      ++contentLines;
      if (*p++ == '\r' && p != end && *p == '\n') ++p;
    } else {
      ++p;
    }
  }
  cursor = p;
  blankLines = 0;
  return contentLines;
}

template <typename Marks>
int64_t ScanDoubledQuote(const uint8_t*& cursor, const uint8_t* end, int64_t& blankLines, uint8_t quote,
                         Marks marks) {
  return WalkConstruct(
      cursor, end, blankLines, QuotedTable(quote, true),
      [quote](const uint8_t*& p, const uint8_t* limit, bool& blankSoFar) {
        if (limit - p >= 2 && p[1] == quote) {
          blankSoFar = false;
          p += 2;
          return false;
        }
        ++p;
        return true;
      },
      marks);
}

template int64_t ScanDoubledQuote<NoMarks>(const uint8_t*&, const uint8_t*, int64_t&, uint8_t, NoMarks);
template int64_t ScanDoubledQuote<LineMarks>(const uint8_t*&, const uint8_t*, int64_t&, uint8_t, LineMarks);

int64_t ScanLineComment(const uint8_t*& cursor, const uint8_t* end, bool hasContinuation,
                        int64_t& commentLines) {
  assert(cursor <= end);
  const uint8_t* const start = cursor;
  const uint8_t* p = cursor;
  int64_t breaks = 0;
  for (;;) {
    const uint8_t* lineBreak = FindLineBreak(p, end);
    if (lineBreak == end) {
      cursor = end;
      return breaks;
    }
    const bool isContinued = hasContinuation && lineBreak != start && lineBreak[-1] == '\\';
    p = lineBreak + 1;
    if (*lineBreak == '\r' && p != end && *p == '\n') ++p;
    ++breaks;
    if (!isContinued) {
      cursor = p;
      return breaks;
    }
    // A continuation whose break ends the text continues onto no line.
    if (p != end) ++commentLines;
  }
}

template <typename Marks>
int64_t CountConstructLines(const uint8_t*& cursor, const uint8_t* stop, int64_t& blankLines, Marks marks) {
  return WalkConstruct(cursor, stop, blankLines, kInsideAnything, NoCloser{}, marks);
}

template int64_t CountConstructLines<NoMarks>(const uint8_t*&, const uint8_t*, int64_t&, NoMarks);
template int64_t CountConstructLines<LineMarks>(const uint8_t*&, const uint8_t*, int64_t&, LineMarks);

}  // namespace qm
