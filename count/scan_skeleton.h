// The skeleton the language scanners share (brace, Python, Pascal, Lua and the
// generic scanner): the per-line state and tally, the folding rules, the byte-class
// tables, the construct scanners and the driver loop. Internal to count/: all of it
// works on the caller's locals and constant tables, so any thread may run it; nothing
// here allocates, fails or reads outside [cursor, end).
#pragma once

#include <array>
#include <cassert>
#include <cstdint>

#include "count/classify_text.h"
#include "count/file_type_id.h"
#include "count/line_totals.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace qm {

// The code characters of conservative mode; the single source of both CharClassTable
// and the scanners' own tables.
constexpr bool IsConservativeCodeByte(uint8_t byte) {
  return (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') || (byte >= '0' && byte <= '9') ||
         byte == '_' || byte == '"' || byte == '\'';
}

constexpr bool IsLineBreak(uint8_t byte) {
  return byte == '\n' || byte == '\r';
}

// LineState: what the current line holds so far. hasCode, hasPunctuation and
// hasComment are the bits below, so that an ordinary byte is folded in with one OR
// of its table entry. All clear at the start of the text and
// after every line break.
inline constexpr uint32_t kHasCode = 1;
inline constexpr uint32_t kHasPunctuation = 2;
inline constexpr uint32_t kHasComment = 4;

struct LineState {
  uint32_t flags = 0;
};

// Where a construct scanner notes the lines it crosses, for ClassifyText with kinds:
// NoMarks notes nothing (and costs nothing: counting alone uses it); LineMarks notes
// the line ended by the i-th break of the construct in marks[i], 1 when it held only
// bytes <= 32 (blank), else 0, from the line the construct opens on (marks[0]).
struct NoMarks {
  void Note(int64_t, bool) const {}
};
struct LineMarks {
  uint8_t* marks;
  void Note(int64_t line, bool isBlank) const { marks[line] = isBlank ? 1 : 0; }
};

// Categories, used as indexes into LineTally::byCategory.
enum LineCategory : uint8_t { kBlankLine = 0, kCommentLine = 1, kCodeLine = 2, kPunctLine = 3 };

// A line's category from its flags: code beats punctuation beats comment beats blank.
inline constexpr uint8_t kCategoryOf[8] = {
    kBlankLine,   kCodeLine, kPunctLine, kCodeLine,  // no comment
    kCommentLine, kCodeLine, kPunctLine, kCodeLine,  // with comment
};

// BasicLineTally: one file's counts, kept in locals while it is scanned and added to
// the totals once at the end. Every method keeps lines == sum of byCategory, except
// that a line comment that runs to the end of the text leaves one line for Finish.
// LineTally only counts. KindTally also writes each line's category into kinds[line
// number] as it is decided (ClassifyText with kinds): the same code with the writes
// compiled in, so counting alone pays nothing for them. The construct scanners note
// the lines they cross in the same array from the current line on (Marks()), and the
// fold that takes their result turns the notes into categories.
template <bool kRecordsKinds>
struct BasicLineTally {
  int64_t lines = 0;
  int64_t byCategory[4] = {};
  uint8_t* kinds = nullptr;  // KindTally: an entry per line of the text

  // Where a construct scanner that starts on the current line notes the lines it
  // crosses: nowhere unless kinds are recorded.
  auto Marks() const {
    if constexpr (kRecordsKinds) {
      return LineMarks{kinds + lines};
    } else {
      return NoMarks{};
    }
  }

  // A line break in the skeleton: the line is classified and the state reset.
  void EndLine(LineState& state) {
    AddLine(kCategoryOf[state.flags]);
    state.flags = 0;
  }

  // A whole line of the given category, found by a scanner's own walk.
  void AddLine(uint8_t category) {
    if constexpr (kRecordsKinds) kinds[lines] = category;
    ++lines;
    ++byCategory[category];
  }

  // A line comment whose opener ends at cursor: its line is classified at once
  // (code, punctuation or comment), then ScanLineComment consumes the rest and the
  // state is reset for the line the cursor now starts. Returns true when the
  // comment ran to the end of the text (pass it on to Finish).
  bool FoldLineComment(LineState& state, const uint8_t*& cursor, const uint8_t* end, bool hasContinuation);

  // A construct that counts as comment crossed contentLines + blankLines breaks. Its
  // first line takes the state's category; the others are comment or blank. Code
  // and punctuation are cleared only when a break was crossed: on a single line the
  // construct is still on the line that holds them.
  void FoldComment(LineState& state, int64_t contentLines, int64_t blankLines) {
    if (contentLines > 0)
      ResolveMarks(kCategoryOf[state.flags | kHasComment], contentLines, blankLines, kCommentLine);
    lines += contentLines + blankLines;
    if (contentLines > 0) {
      ++byCategory[kCategoryOf[state.flags | kHasComment]];
      byCategory[kCommentLine] += contentLines - 1;
      byCategory[kBlankLine] += blankLines;
      state.flags = 0;
    }
    state.flags |= kHasComment;
  }

  // A literal (string, raw string, heredoc, Pascal directive): every non-blank line it
  // crossed is code, and so is the line it closes on.
  void FoldLiteral(LineState& state, int64_t contentLines, int64_t blankLines) {
    if (contentLines > 0) ResolveMarks(kCodeLine, contentLines, blankLines, kCodeLine);
    lines += contentLines + blankLines;
    byCategory[kCodeLine] += contentLines;
    byCategory[kBlankLine] += blankLines;
    state.flags = (state.flags | kHasCode) & ~kHasPunctuation;
  }

  // End of text, then adds everything to totals. A last line without a break is
  // counted and classified, unless a line comment ran to the end: its line was
  // classified when the comment began.
  void Finish(LineTotals& totals, FileTypeId type, const LineState& state, uint8_t lastByte,
              bool commentRanToEnd) {
    if (!IsLineBreak(lastByte)) {
      if (commentRanToEnd) {
        ++lines;
      } else {
        AddLine(kCategoryOf[state.flags]);
      }
    }
    assert(lines == byCategory[0] + byCategory[1] + byCategory[2] + byCategory[3]);
    totals.lineCount[type] += lines;
    totals.blankLines[type] += byCategory[kBlankLine];
    totals.commentLines[type] += byCategory[kCommentLine];
    totals.codeLines[type] += byCategory[kCodeLine];
    totals.punctLines[type] += byCategory[kPunctLine];
  }

 private:
  // KindTally: the categories of the lines a construct crossed from the current one:
  // the first, then each noted line blank or of contentCategory. A construct without
  // blank lines need not have noted any (one that cannot span a blank line).
  void ResolveMarks(uint8_t firstCategory, int64_t contentLines, int64_t blankLines,
                    uint8_t contentCategory) {
    if constexpr (kRecordsKinds) {
      uint8_t* const first = kinds + lines;
      const int64_t count = contentLines + blankLines;
      if (blankLines == 0) {
        for (int64_t i = 1; i < count; ++i) first[i] = contentCategory;
      } else {
        int64_t noted = 0;
        for (int64_t i = 1; i < count; ++i) {
          noted += first[i];
          first[i] = first[i] != 0 ? uint8_t{kBlankLine} : contentCategory;
        }
        assert(noted == blankLines);
        (void)noted;
      }
      first[0] = firstCategory;
    } else {
      (void)firstCategory;
      (void)contentLines;
      (void)blankLines;
      (void)contentCategory;
    }
  }
};

using LineTally = BasicLineTally<false>;
using KindTally = BasicLineTally<true>;

// Construct scanners. Each takes the cursor just after the construct's opening
// characters and leaves it just after the closing ones, or at end when the construct
// never closes. The result counts the line breaks met inside: the return value the
// content lines, blankLines (set to 0 first) the lines that held only bytes <= 32.
// The line the construct opens on is always a content line; the line it closes on is
// not counted (it stays the caller's current line). CR LF is one break. Each line
// is noted in marks (LineMarks, from BasicLineTally::Marks) at its break.
// Requires (all): cursor <= end.

// A quoted literal ending at the next `quote` byte (double quote, single quote or
// backtick). Unless isRaw, a backslash and the byte after it are skipped as a pair
// that leaves a line blank, but a backslash before a line break or at the end of the
// text is an ordinary byte. Literals do not end at line breaks.
template <typename Marks = NoMarks>
int64_t ScanQuoted(const uint8_t*& cursor, const uint8_t* end, int64_t& blankLines, uint8_t quote, bool isRaw,
                   Marks marks = {});

// A quoted literal that cannot span lines: as ScanQuoted, but an unescaped line
// break ends it before the break (the cursor is left on it, for the caller's line);
// unless isRaw, a backslash before a line break continues it on the next line, a
// content line. It never has blank lines.
int64_t ScanQuotedLine(const uint8_t*& cursor, const uint8_t* end, int64_t& blankLines, uint8_t quote,
                       bool isRaw);

// A literal without escapes in which two `quote` bytes in a row stand for one quote
// (Pascal strings, C# verbatim strings). A doubled quote is text: it makes its line
// a content line. One quote byte ends the literal.
template <typename Marks = NoMarks>
int64_t ScanDoubledQuote(const uint8_t*& cursor, const uint8_t* end, int64_t& blankLines, uint8_t quote,
                         Marks marks = {});

// A line comment from just after its opener: consumes up to and including the first
// line break and returns 1, or stops at end and returns 0. With hasContinuation (C
// family), a backslash right before a break continues the comment onto the next
// line: the break is consumed and counted in the result, and commentLines + 1 for
// the continued line, unless the break is the last byte of the text. Returns all
// breaks consumed.
int64_t ScanLineComment(const uint8_t*& cursor, const uint8_t* end, bool hasContinuation,
                        int64_t& commentLines);

template <bool kRecordsKinds>
inline bool BasicLineTally<kRecordsKinds>::FoldLineComment(LineState& state, const uint8_t*& cursor,
                                                           const uint8_t* end, bool hasContinuation) {
  const uint8_t category = kCategoryOf[state.flags | kHasComment];
  [[maybe_unused]] const int64_t first = lines;
  ++byCategory[category];
  [[maybe_unused]] const int64_t commentLinesBefore = byCategory[kCommentLine];
  lines += ScanLineComment(cursor, end, hasContinuation, byCategory[kCommentLine]);
  if constexpr (kRecordsKinds) {
    // Then the lines a backslash continued the comment onto.
    kinds[first] = category;
    const int64_t continued = byCategory[kCommentLine] - commentLinesBefore;
    for (int64_t i = 1; i <= continued; ++i) kinds[first + i] = kCommentLine;
  }
  state.flags = 0;
  return cursor == end;
}

// ---------------------------------------------------------------------------------
// Building blocks for the construct scanners (inline, used by the .cc files).
// ---------------------------------------------------------------------------------

// Byte classes inside a construct: whitespace (0..32 except CR and LF), other text,
// and stops: CR, LF and the construct's own special bytes.
inline constexpr uint8_t kInSpace = 0;
inline constexpr uint8_t kInText = 1;
inline constexpr uint8_t kInStop = 2;

constexpr ByteTable MakeInsideTable(int stop1 = -1, int stop2 = -1, int stop3 = -1) {
  ByteTable table{};
  for (int byte = 0; byte < 256; ++byte) {
    table[byte] = byte <= 32 ? kInSpace : kInText;
  }
  table['\n'] = kInStop;
  table['\r'] = kInStop;
  if (stop1 >= 0) table[stop1] = kInStop;
  if (stop2 >= 0) table[stop2] = kInStop;
  if (stop3 >= 0) table[stop3] = kInStop;
  return table;
}

// The first byte at or after cursor whose entry in an inside table is kInStop, or
// end; four entries per step while four bytes remain.
inline const uint8_t* SkipToStop(const uint8_t* cursor, const uint8_t* end, const ByteTable& table) {
  static_assert((kInSpace | kInText) < kInStop);
  while (end - cursor >= 4 &&
         (table[cursor[0]] | table[cursor[1]] | table[cursor[2]] | table[cursor[3]]) < kInStop) {
    cursor += 4;
  }
  while (cursor != end && table[*cursor] != kInStop) ++cursor;
  return cursor;
}

// Closes on the stop byte followed by kSecond ("*/", "*)", "]]"), taking both; a stop
// byte without it is text.
template <uint8_t kSecond>
struct PairCloser {
  bool operator()(const uint8_t*& p, const uint8_t* limit, bool& blankSoFar) const {
    if (limit - p >= 2 && p[1] == kSecond) {
      p += 2;
      return true;
    }
    blankSoFar = false;
    ++p;
    return false;
  }
};

// An escape character at p inside a literal: it and the byte after it are skipped as
// a pair that leaves the line blank, unless a line break or the end follows, where
// the escape character alone is text. Requires: p < limit.
inline void StepEscapePair(const uint8_t*& p, const uint8_t* limit, bool& blankSoFar) {
  if (limit - p >= 2 && !IsLineBreak(p[1])) {
    p += 2;
  } else {
    blankSoFar = false;
    ++p;
  }
}

// Never closes: WalkConstruct then only counts the lines of [cursor, end).
struct NoCloser {
  bool operator()(const uint8_t*&, const uint8_t*, bool&) const { return false; }
};

// The loop every construct scanner runs. Bytes are read through `table` (see
// MakeInsideTable); at a stop byte that is not a line break, onStop(p, end,
// blankSoFar) decides: it moves p forward by at least one byte, clears blankSoFar
// for any byte above 32 that should count as text, and returns true once p stands
// just after the construct's closing characters.
//
// blankSoFar is false on the opening line and set at every break; it is cleared by
// text. Given marks, each line is noted there at its break (see the construct
// scanners). Two phases keep ordinary bytes at one table load each: while the line is
// still blank only whitespace is skipped, afterwards everything but stops.
// Hot: see bench/classify_bench.cc.
template <typename OnStop, typename Marks = NoMarks>
inline int64_t WalkConstruct(const uint8_t*& cursor, const uint8_t* end, int64_t& blankLines,
                             const ByteTable& table, OnStop onStop, Marks marks = {}) {
  assert(cursor <= end);
  const uint8_t* p = cursor;
  int64_t contentLines = 0;
  int64_t blankCount = 0;
  bool blankSoFar = false;
  while (p != end) {
    if (blankSoFar) {
      while (p != end && table[*p] == kInSpace) ++p;
      if (p == end) break;
      if (table[*p] == kInText) blankSoFar = false;
    }
    p = SkipToStop(p, end, table);
    if (p == end) break;
    const uint8_t byte = *p;
    if (IsLineBreak(byte)) {
      marks.Note(contentLines + blankCount, blankSoFar);
      if (blankSoFar) {
        ++blankCount;
      } else {
        ++contentLines;
        blankSoFar = true;
      }
      ++p;
      if (byte == '\r' && p != end && *p == '\n') ++p;
      continue;
    }
    if (onStop(p, end, blankSoFar)) break;
  }
  cursor = p;
  blankLines = blankCount;
  return contentLines;
}

// Counts the lines of [cursor, stop) as the inside of a construct and leaves the
// cursor at stop. Requires: cursor <= stop.
template <typename Marks = NoMarks>
int64_t CountConstructLines(const uint8_t*& cursor, const uint8_t* stop, int64_t& blankLines,
                            Marks marks = {});

// Inside table whose only stops are CR and LF.
inline constexpr ByteTable kInsideAnything = MakeInsideTable();

// The first CR or LF in [cursor, end), or end; 16 bytes a step where SSE2 is
// available (comments are long runs without a stop).
inline const uint8_t* FindLineBreak(const uint8_t* cursor, const uint8_t* end) {
#if defined(__SSE2__)
  const __m128i lineFeeds = _mm_set1_epi8('\n');
  const __m128i carriageReturns = _mm_set1_epi8('\r');
  while (end - cursor >= 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cursor));
    const __m128i hits =
        _mm_or_si128(_mm_cmpeq_epi8(bytes, lineFeeds), _mm_cmpeq_epi8(bytes, carriageReturns));
    const uint32_t mask = static_cast<uint32_t>(_mm_movemask_epi8(hits));
    if (mask != 0) return cursor + __builtin_ctz(mask);
    cursor += 16;
  }
#endif
  return SkipToStop(cursor, end, kInsideAnything);
}

// Main-loop tables: entries 0..kLastOrdinary are the LineState bits an ordinary byte
// sets (0 for whitespace); larger entries are actions that a scanner dispatches on.
// Every action has a bit above kLastOrdinary, so the OR of several entries tells
// whether any of them is an action.
inline constexpr uint8_t kLastOrdinary = kHasCode | kHasPunctuation;
enum Action : uint8_t {
  kActLineFeed = 8,
  kActCarriageReturn,
  kActByteOrderMark,  // 0xEF: a byte order mark if followed by BB BF
  kActSlash,
  kActDoubleQuote,
  kActSingleQuote,
  kActBacktick,
  kActHash,
  kActLess,
  kActPrefixLetter,  // Python r u b (either case) while the line has no code
  kActBrace,
  kActParen,
  kActMinus,
  kActBracket,  // Lua '[': a long bracket if '=' signs and '[' follow
  kActOpener,   // an opening bracket whose depth is counted (Python; '{' in a template's ${ })
  kActCloser,   // the closing bracket of the same
};
static_assert((kActLineFeed & ~kLastOrdinary) != 0 && kActCloser < 32);
// The three actions of every language come first, so that one comparison finds them.
static_assert(kActCarriageReturn == kActLineFeed + 1 && kActByteOrderMark == kActLineFeed + 2);

// The ordinary entries of a main-loop table: whitespace 0; in conservative mode code
// characters kHasCode and other bytes above 32 kHasPunctuation; in greedy mode every
// byte above 32 kHasCode. Line breaks and 0xEF are actions in every language.
constexpr ByteTable MakeMainTable(bool conservative) {
  ByteTable table{};
  for (int byte = 0; byte < 256; ++byte) {
    if (byte <= 32) {
      table[byte] = 0;
    } else if (!conservative || IsConservativeCodeByte(static_cast<uint8_t>(byte))) {
      table[byte] = kHasCode;
    } else {
      table[byte] = kHasPunctuation;
    }
  }
  table['\n'] = kActLineFeed;
  table['\r'] = kActCarriageReturn;
  table[0xEF] = kActByteOrderMark;
  return table;
}

constexpr ByteTable WithAction(ByteTable table, uint8_t byte, Action action) {
  table[byte] = action;
  return table;
}

// Checks the shape every main-loop table must have: whitespace sets nothing, the
// line breaks and 0xEF are actions, the letters are code or actions.
constexpr bool HasMainTableShape(const ByteTable& table) {
  for (int byte = 0; byte <= 32; ++byte) {
    if (byte == '\n' || byte == '\r') continue;
    if (table[byte] != 0) return false;
  }
  if (table['\n'] != kActLineFeed || table['\r'] != kActCarriageReturn) return false;
  if (table[0xEF] != kActByteOrderMark) return false;
  for (int byte = 33; byte < 256; ++byte) {
    if (table[byte] == 0 || (table[byte] > kLastOrdinary && table[byte] < kActLineFeed)) return false;
  }
  for (int byte = 'a'; byte <= 'z'; ++byte) {
    if (table[byte] != kHasCode && table[byte] <= kLastOrdinary) return false;
  }
  return true;
}

// Skips the run of ordinary bytes from cursor, ORing their entries into flags, and
// returns the first byte whose entry is an action, or end. Works on its own copy of
// the pointer so that it stays in a register even where the scanner's cursor is
// passed by reference. Four bytes are looked up per step while four remain; a step
// that meets an action is redone byte by byte.
// Hot: see bench/classify_bench.cc.
inline const uint8_t* SkipOrdinaryBytes(const uint8_t* cursor, const uint8_t* end, const ByteTable& table,
                                        uint32_t& flags) {
  uint32_t seen = flags;
  while (end - cursor >= 4) {
    const uint32_t entries = table[cursor[0]] | table[cursor[1]] | table[cursor[2]] | table[cursor[3]];
    if (entries > kLastOrdinary) break;
    seen |= entries;
    cursor += 4;
  }
  while (cursor != end) {
    const uint8_t entry = table[*cursor];
    if (entry > kLastOrdinary) break;
    seen |= entry;
    ++cursor;
  }
  flags = seen;
  return cursor;
}

// The bit an ordinary byte above 32 that is no code character sets in each mode.
inline uint32_t PunctuationBit(bool conservative) {
  return conservative ? kHasPunctuation : kHasCode;
}

// True for a byte order mark at cursor. Requires: cursor < end.
inline bool IsByteOrderMark(const uint8_t* cursor, const uint8_t* end) {
  return end - cursor >= 3 && cursor[0] == 0xEF && cursor[1] == 0xBB && cursor[2] == 0xBF;
}

// The tests every scanner makes before its own constructs: a line feed ends the line;
// a carriage return ends it too, taking a line feed right after it into the same
// break; 0xEF starting a byte order mark skips the mark without touching the line, and
// a lone 0xEF is an ordinary byte above 32 (punctBit, from PunctuationBit).
// Requires: action is kActLineFeed, kActCarriageReturn or kActByteOrderMark, the
// action of the byte at cursor, and cursor < end.
template <typename Tally>
inline void StepLineBreakOrMark(uint8_t action, const uint8_t*& cursor, const uint8_t* end, LineState& state,
                                Tally& tally, uint32_t punctBit) {
  if (action == kActLineFeed) {
    tally.EndLine(state);
    ++cursor;
  } else if (action == kActCarriageReturn) {
    tally.EndLine(state);
    ++cursor;
    if (cursor != end && *cursor == '\n') ++cursor;
  } else if (IsByteOrderMark(cursor, end)) {
    cursor += 3;
  } else {
    state.flags |= punctBit;
    ++cursor;
  }
}

// The driver loop of the Lua, Pascal and Python scanners: skips ordinary bytes by the
// table tableFor(state.flags) gives, chosen afresh before each run of ordinary bytes
// (Python swaps tables once its line has code), ends or marks lines at breaks and
// byte-order marks, and hands every other action byte to
// step(action, cursor, end, state, tally, commentRanToEnd), which must move cursor past
// what it reads. Then the last line is finished. A KindTally writes into kinds.
// Hot: see bench/classify_bench.cc.
template <typename Tally, typename TableFor, typename Step>
inline void ScanLoop(LineTotals& totals, FileTypeId type, const uint8_t* text, int32_t length, uint8_t* kinds,
                     TableFor&& tableFor, uint32_t punctBit, Step&& step) {
  const uint8_t* cursor = text;
  const uint8_t* const end = text + length;
  LineState state;
  Tally tally;
  tally.kinds = kinds;
  bool commentRanToEnd = false;
  while (cursor != end) {
    const ByteTable& table = tableFor(state.flags);
    cursor = SkipOrdinaryBytes(cursor, end, table, state.flags);
    if (cursor == end) break;
    const uint8_t action = table[*cursor];
    if (action <= kActByteOrderMark) {
      StepLineBreakOrMark(action, cursor, end, state, tally, punctBit);
    } else {
      step(action, cursor, end, state, tally, commentRanToEnd);
    }
  }
  tally.Finish(totals, type, state, end[-1], commentRanToEnd);
}

// The tableFor of ScanLoop for a scanner with one main-loop table.
inline auto OneTable(const ByteTable& table) {
  return [&table](uint32_t) -> const ByteTable& { return table; };
}

}  // namespace qm
