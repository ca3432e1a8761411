#include "count/generic_scanner.h"

#include <cstring>

#include "count/language_table.h"
#include "count/lua_scanner.h"

namespace qm {

namespace {

// Main-loop entry of a byte that may open something in the language (the first byte
// of an opener, a quote, the escape byte, '<' for heredocs): the scanner then tries the
// language's rules at it, and a byte that opens nothing is an ordinary byte.
// Only this scanner reads its tables, so the value need only differ from the skeleton's.
constexpr uint8_t kActCandidate = 31;
static_assert(kActCandidate > kLastOrdinary && kActCandidate != kActLineFeed &&
              kActCandidate != kActCarriageReturn && kActCandidate != kActByteOrderMark);

// Per language: main-loop tables [greedy, conservative], and the inside tables of its
// block pairs (stops: the closer's first byte, and the opener's when pairs nest) and
// of its quotes (stops: the quote and the escape byte).
struct LanguageTables {
  ByteTable main[2];
  ByteTable insideBlock[kMaxBlocks];
  ByteTable insideQuote[kMaxQuotes];
  bool hasColumnZeroBlocks;  // blocks whose opener stands first on a line, looked for there
  bool isBuilt;
};

LanguageTables tablesByLanguage[kTableLanguageCount];

constexpr bool IsAsciiLetter(uint8_t byte) {
  return (byte | 0x20) >= 'a' && (byte | 0x20) <= 'z';
}
constexpr bool IsDigit(uint8_t byte) {
  return byte >= '0' && byte <= '9';
}
constexpr uint8_t LowerAscii(uint8_t byte) {
  return byte >= 'A' && byte <= 'Z' ? byte | 0x20 : byte;
}

// The line-state bit of an ordinary byte.
uint8_t OrdinaryBits(uint8_t byte, bool conservative, bool hasPunctuation) {
  if (byte <= 32) return 0;
  if (!conservative || !hasPunctuation || IsConservativeCodeByte(byte)) return kHasCode;
  return kHasPunctuation;
}

void MarkCandidate(ByteTable& table, uint8_t byte, bool ignoreCase) {
  table[byte] = kActCandidate;
  if (ignoreCase && IsAsciiLetter(byte)) {
    table[byte | 0x20] = kActCandidate;
    table[byte & ~0x20] = kActCandidate;
  }
}

const LanguageTables& TablesOf(FileTypeId type) {
  LanguageTables& tables = tablesByLanguage[type - kTypeFirstTable];
  if (tables.isBuilt) return tables;
  const LanguageRules& rules = LanguageOf(type).rules;
  for (int mode = 0; mode < 2; ++mode) {
    ByteTable& table = tables.main[mode];
    for (int byte = 0; byte < 256; ++byte) {
      table[byte] = OrdinaryBits(static_cast<uint8_t>(byte), mode == 1, rules.hasPunctuation);
    }
    table['\n'] = kActLineFeed;
    table['\r'] = kActCarriageReturn;
    table[0xEF] = kActByteOrderMark;
    for (const LineCommentRule& rule : rules.lineComments) {
      if (rule.opener != nullptr) {
        MarkCandidate(table, static_cast<uint8_t>(rule.opener[0]), (rule.flags & kIgnoreCase) != 0);
      }
    }
    // A block that opens only first on a line ("=begin", "__END__") is looked for at
    // each line start instead, so that its first byte ('=', '_') costs nothing elsewhere.
    for (const BlockRule& rule : rules.blocks) {
      if (rule.opener == nullptr) continue;
      if ((rule.openerFlags & kAtColumnZero) != 0) {
        tables.hasColumnZeroBlocks = true;
        continue;
      }
      MarkCandidate(table, static_cast<uint8_t>(rule.opener[0]), (rule.openerFlags & kIgnoreCase) != 0);
    }
    for (const QuoteRule& rule : rules.quotes) {
      if (rule.quote != 0) MarkCandidate(table, rule.quote, false);
    }
    if (rules.escapeOutside != 0) MarkCandidate(table, rules.escapeOutside, false);
    for (const char* words : {rules.quoteWords, rules.substituteWords}) {
      if (words == nullptr) continue;
      for (const char* word = words; *word != 0; ++word) {
        if (word == words || word[-1] == ' ') MarkCandidate(table, static_cast<uint8_t>(*word), false);
      }
    }
    if (rules.regexWords != nullptr) MarkCandidate(table, '/', false);
    if (rules.heredoc != HeredocStyle::kNone) MarkCandidate(table, '<', false);
    if (rules.charPrefix != 0) MarkCandidate(table, rules.charPrefix, false);
    if (rules.hasPercentLiterals) MarkCandidate(table, '%', false);
    if (rules.hasBlockScalars) {
      MarkCandidate(table, '|', false);
      MarkCandidate(table, '>', false);
    }
    assert(HasMainTableShape(table));
  }
  for (int i = 0; i < kMaxBlocks; ++i) {
    const BlockRule& rule = rules.blocks[i];
    // A long bracket is read by its own scanner; a block to the end needs no stops.
    if (rule.opener == nullptr || (rule.flags & (kLongBracket | kToEnd)) != 0) continue;
    tables.insideBlock[i] =
        MakeInsideTable(static_cast<uint8_t>(rule.closer[0]),
                        (rule.flags & kNests) != 0 ? static_cast<uint8_t>(rule.opener[0]) : -1);
  }
  for (int i = 0; i < kMaxQuotes; ++i) {
    const QuoteRule& rule = rules.quotes[i];
    if (rule.quote == 0) continue;
    tables.insideQuote[i] = MakeInsideTable(rule.quote, rule.escape != 0 ? rule.escape : -1);
  }
  tables.isBuilt = true;
  return tables;
}

// A block pair from just after its opener: ends after the closer that brings the depth
// to 0 (each further opener raises it when pairs nest; the closer is tested first, so a
// pair whose opener and closer are equal closes).
template <typename Marks>
int64_t ScanBlock(const uint8_t*& cursor, const uint8_t* end, int64_t& blankLines, const BlockRule& rule,
                  const ByteTable& inside, Marks marks) {
  const size_t openerLength = std::strlen(rule.opener);
  const size_t closerLength = std::strlen(rule.closer);
  const bool nests = (rule.flags & kNests) != 0;
  const bool isCloserAtColumnZero = (rule.flags & kCloserAtColumnZero) != 0;
  int64_t depth = 1;
  return WalkConstruct(
      cursor, end, blankLines, inside,
      [&](const uint8_t*& p, const uint8_t* limit, bool& blankSoFar) {
        blankSoFar = false;
        const size_t bytesLeft = static_cast<size_t>(limit - p);
        // p[-1] exists: the opener stands before the first byte.
        if (bytesLeft >= closerLength && std::memcmp(p, rule.closer, closerLength) == 0 &&
            (!isCloserAtColumnZero || IsLineBreak(p[-1]))) {
          p += closerLength;
          return --depth == 0;
        }
        if (nests && bytesLeft >= openerLength && std::memcmp(p, rule.opener, openerLength) == 0) {
          p += openerLength;
          ++depth;
          return false;
        }
        ++p;
        return false;
      },
      marks);
}

// A quoted literal from just after its opening quote. The escape byte (if any) and the
// byte after it form a pair, unless a line break or the end follows; with kDoubledQuote
// two quotes in a row are text.
template <typename Marks>
int64_t ScanQuote(const uint8_t*& cursor, const uint8_t* end, int64_t& blankLines, const QuoteRule& rule,
                  const ByteTable& inside, Marks marks) {
  const bool isDoubled = (rule.flags & kDoubledQuote) != 0;
  return WalkConstruct(
      cursor, end, blankLines, inside,
      [&rule, isDoubled](const uint8_t*& p, const uint8_t* limit, bool& blankSoFar) {
        if (*p == rule.quote) {
          if (isDoubled && limit - p >= 2 && p[1] == rule.quote) {
            blankSoFar = false;
            p += 2;
            return false;
          }
          ++p;
          return true;
        }
        StepEscapePair(p, limit, blankSoFar);
        return false;
      },
      marks);
}

// The same for a literal that cannot cross a line break: the cursor stops after the
// closing quote, or at the break or end that comes first.
void SkipOneLineQuote(const uint8_t*& cursor, const uint8_t* end, const QuoteRule& rule) {
  const uint8_t* p = cursor;
  while (p != end && !IsLineBreak(*p)) {
    if (rule.escape != 0 && *p == rule.escape && end - p >= 2 && !IsLineBreak(p[1])) {
      p += 2;
    } else if (*p != rule.quote) {
      ++p;
    } else if ((rule.flags & kDoubledQuote) != 0 && end - p >= 2 && p[1] == rule.quote) {
      p += 2;
    } else {
      ++p;
      break;
    }
  }
  cursor = p;
}

// The length of a one-character literal 'x' at `at` (a UTF-8 character counted by its
// lead byte), or 0.
int64_t CharLiteralLength(const uint8_t* at, const uint8_t* end, uint8_t quote) {
  if (end - at < 3) return 0;
  const uint8_t lead = at[1];
  if (IsLineBreak(lead) || lead == quote) return 0;
  const int64_t charLength = lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
  if (end - at < charLength + 2 || at[1 + charLength] != quote) return 0;
  // The bytes after the lead are not checked, except that a line break among them
  // (invalid UTF-8) ends the attempt: lines are counted only by the skeleton.
  for (int64_t i = 2; i <= charLength; ++i) {
    if (IsLineBreak(at[i])) return 0;
  }
  return charLength + 2;
}

bool IsWordStart(const uint8_t* text, const uint8_t* at) {
  if (at == text) return true;
  const uint8_t before = at[-1];
  return before <= 32 || before == ';' || before == '&' || before == '|' || before == '(' || before == ')';
}

bool IsAfterWord(const uint8_t* text, const uint8_t* at) {
  if (at == text) return false;
  const uint8_t before = at[-1];
  return IsAsciiLetter(before) || IsDigit(before) || before == '_' || before == ')' || before == ']' ||
         before == '}' || before == '.' || before >= 0x80;
}

bool IsIdentifierByte(uint8_t byte) {
  return IsAsciiLetter(byte) || IsDigit(byte) || byte == '_';
}

// True when the space-separated list `words` holds the word [begin, begin + length).
bool HasWord(const char* words, const uint8_t* begin, size_t length) {
  if (words == nullptr || length == 0) return false;
  for (const char* cursor = words; *cursor != 0;) {
    const char* wordEnd = cursor;
    while (*wordEnd != 0 && *wordEnd != ' ') ++wordEnd;
    if (static_cast<size_t>(wordEnd - cursor) == length && std::memcmp(cursor, begin, length) == 0)
      return true;
    cursor = *wordEnd == ' ' ? wordEnd + 1 : wordEnd;
  }
  return false;
}

uint8_t CloserOf(uint8_t delimiter) {
  switch (delimiter) {
    case '(':
      return ')';
    case '[':
      return ']';
    case '{':
      return '}';
    case '<':
      return '>';
    default:
      return delimiter;
  }
}

// Lines crossed by a literal the scanner walks itself, counted (and, given marks,
// noted) as WalkConstruct does.
template <typename Marks>
struct LiteralLines {
  explicit LiteralLines(Marks lineMarks) : marks(lineMarks) {}
  int64_t contentLines = 0;
  int64_t blankLines = 0;
  bool blankSoFar = false;
  Marks marks;

  // p stands on a line break: counts it and returns the byte after it.
  const uint8_t* Break(const uint8_t* p, const uint8_t* end) {
    marks.Note(contentLines + blankLines, blankSoFar);
    if (blankSoFar) {
      ++blankLines;
    } else {
      ++contentLines;
      blankSoFar = true;
    }
    const uint8_t byte = *p++;
    if (byte == '\r' && p != end && *p == '\n') ++p;
    return p;
  }
};

// A delimited part from just after its opening delimiter to just after the matching
// closer (openers of a bracket pair nest), or end; a backslash escapes the next byte.
template <typename Marks>
const uint8_t* SkipDelimited(const uint8_t* p, const uint8_t* end, uint8_t opener, uint8_t closer,
                             LiteralLines<Marks>& lines) {
  int64_t depth = 1;
  while (p != end) {
    const uint8_t byte = *p;
    if (IsLineBreak(byte)) {
      p = lines.Break(p, end);
      continue;
    }
    if (byte > 32) lines.blankSoFar = false;
    if (byte == '\\' && end - p >= 2 && !IsLineBreak(p[1])) {
      p += 2;
      continue;
    }
    ++p;
    if (byte == closer) {
      if (--depth == 0) return p;
    } else if (byte == opener) {
      ++depth;
    }
  }
  return p;
}

// A byte that may delimit a quote-like literal: any ASCII byte above 32 but an
// identifier byte, ';' or a closing bracket (m,x, and s{a}{b} are literals).
bool IsDelimiter(uint8_t byte) {
  return byte > 32 && byte < 0x80 && !IsIdentifierByte(byte) && byte != ';' && byte != ')' && byte != ']' &&
         byte != '}' && byte != '>';
}

struct HeredocTag {
  const uint8_t* id = nullptr;  // null: no heredoc waits for the next line
  size_t idLength = 0;
  bool isIndented = false;
};

// Reads a heredoc opener at `at` ("<<..."). On success fills tag and returns the byte
// after the opener; else null.
const uint8_t* ParseHeredocOpener(const uint8_t* at, const uint8_t* end, HeredocStyle style,
                                  HeredocTag& tag) {
  if (end - at < 3 || at[1] != '<' || at[2] == '<') return nullptr;
  const uint8_t* p = at + 2;
  bool isIndented = false;
  if (style == HeredocStyle::kShell) {
    if (*p == '-') {
      isIndented = true;
      ++p;
    }
    while (p != end && (*p == ' ' || *p == '\t')) ++p;
  } else if (*p == '~' || *p == '-') {
    isIndented = true;
    ++p;
  }
  if (p == end) return nullptr;
  const uint8_t* idStart;
  const uint8_t* idEnd;
  if (*p == '\'' || *p == '"') {
    const uint8_t quote = *p++;
    idStart = p;
    while (p != end && *p != quote && !IsLineBreak(*p)) ++p;
    if (p == end || *p != quote || p == idStart) return nullptr;
    idEnd = p++;
  } else {
    if (style == HeredocStyle::kShell && *p == '\\') ++p;
    if (p == end) return nullptr;
    const bool isStart = style == HeredocStyle::kShell ? (IsAsciiLetter(*p) || *p == '_')
                                                       : ((*p >= 'A' && *p <= 'Z') || *p == '_');
    if (!isStart) return nullptr;
    idStart = p;
    while (p != end && IsIdentifierByte(*p)) ++p;
    idEnd = p;
  }
  tag.id = idStart;
  tag.idLength = static_cast<size_t>(idEnd - idStart);
  tag.isIndented = isIndented;
  return p;
}

bool IsClosingLine(const uint8_t* line, const uint8_t* lineEnd, const HeredocTag& tag) {
  const uint8_t* p = line;
  if (tag.isIndented) {
    while (p != lineEnd && (*p == ' ' || *p == '\t')) ++p;
  }
  if (static_cast<size_t>(lineEnd - p) < tag.idLength || std::memcmp(p, tag.id, tag.idLength) != 0)
    return false;
  p += tag.idLength;
  while (p != lineEnd && (*p == ' ' || *p == '\t')) ++p;
  return p == lineEnd;
}

// A heredoc body from the start of the line after the opener's: its lines count as a
// literal's (code, blank when they hold only bytes <= 32) up to the closing line, which
// the cursor is left at for the main loop (it holds the identifier: code). A last line
// without a break is left to the main loop as well.
template <typename Tally>
void ScanHeredocBody(const uint8_t*& cursor, const uint8_t* end, const HeredocTag& tag, Tally& tally) {
  const uint8_t* p = cursor;
  while (p != end) {
    const uint8_t* lineEnd = FindLineBreak(p, end);
    if (lineEnd == end || IsClosingLine(p, lineEnd, tag)) break;
    bool isBlank = true;
    for (const uint8_t* q = p; q != lineEnd; ++q) {
      if (*q > 32) {
        isBlank = false;
        break;
      }
    }
    tally.AddLine(isBlank ? kBlankLine : kCodeLine);
    p = lineEnd + 1;
    if (*lineEnd == '\r' && p != end && *p == '\n') ++p;
  }
  cursor = p;
}

// The number of pairs "((" not closed by a later "))" between the start of the line
// holding `at` and `at`: above 0 inside shell arithmetic ($(( )), (( ))).
int64_t OpenArithmeticOnLine(const uint8_t* text, const uint8_t* at) {
  const uint8_t* p = at;
  while (p != text && !IsLineBreak(p[-1])) --p;
  int64_t depth = 0;
  while (at - p >= 2) {
    if (p[0] == p[1] && (p[0] == '(' || p[0] == ')')) {
      depth += p[0] == '(' ? 1 : -1;
      p += 2;
    } else {
      ++p;
    }
  }
  return depth;
}

// Heredocs opened on one line, their bodies waiting for the next line.
inline constexpr int kMaxPendingHeredocs = 8;

template <typename Tally>
class GenericScan {
 public:
  GenericScan(FileTypeId type, const uint8_t* text, int32_t length, uint8_t* kinds)
      : rules_(LanguageOf(type).rules),
        tables_(TablesOf(type)),
        conservative_(IsConservativeMode()),
        text_(text),
        end_(text + length) {
    tally_.kinds = kinds;
  }

  // Each instantiation a function of its own, as in the other scanners.
  [[gnu::noinline]] void Run(LineTotals& totals, FileTypeId type) {
    const ByteTable& table = tables_.main[conservative_ ? 1 : 0];
    const uint32_t punctBit = conservative_ && rules_.hasPunctuation ? kHasPunctuation : kHasCode;
    cursor_ = text_;
    StepLineStart();
    while (cursor_ != end_) {
      cursor_ = SkipOrdinaryBytes(cursor_, end_, table, state_.flags);
      if (cursor_ == end_) break;
      const uint8_t action = table[*cursor_];
      if (action == kActCandidate) {
        StepCandidate();
        continue;
      }
      StepLineBreakOrMark(action, cursor_, end_, state_, tally_, punctBit);
      if (action != kActByteOrderMark) {
        StartPendingHeredocs();
        StepLineStart();
      }
    }
    tally_.Finish(totals, type, state_, end_[-1], commentRanToEnd_);
  }

 private:
  uint32_t Ordinary(uint8_t byte) const { return OrdinaryBits(byte, conservative_, rules_.hasPunctuation); }

  // The length of `opener` (or of its first maxLength bytes) at the cursor when its
  // text and the flags match, else 0.
  size_t MatchOpener(const char* opener, uint8_t flags, size_t maxLength = SIZE_MAX) const {
    const bool ignoreCase = (flags & kIgnoreCase) != 0;
    size_t length = 0;
    for (; length < maxLength && opener[length] != 0; ++length) {
      if (cursor_ + length == end_) return 0;
      const uint8_t byte = ignoreCase ? LowerAscii(cursor_[length]) : cursor_[length];
      if (byte != static_cast<uint8_t>(opener[length])) return 0;
    }
    const bool isFirstOnLine = (state_.flags & (kHasCode | kHasPunctuation)) == 0;
    const uint8_t* after = cursor_ + length;
    const bool isLetterAfter = after != end_ && IsAsciiLetter(*after);
    if ((flags & kAtWordStart) != 0 && !IsWordStart(text_, cursor_)) return 0;
    if ((flags & kFirstOnLine) != 0 && !isFirstOnLine) return 0;
    if ((flags & kAtColumnZero) != 0 && cursor_ != text_ && !IsLineBreak(cursor_[-1])) return 0;
    if ((flags & kBeforeSpace) != 0 && after != end_ && *after > 32) return 0;
    if ((flags & kBeforeLetter) != 0 && !isLetterAfter) return 0;
    if ((flags & kNotDirective) != 0 && isFirstOnLine && isLetterAfter) return 0;
    if ((flags & kNotBeforeOpenBlock) != 0 && OpensBlockLaterOnLine(after)) return 0;
    return length;
  }

  // Whether the first block rule's opener stands in [from, end of its line) without
  // its closer after it on that line.
  bool OpensBlockLaterOnLine(const uint8_t* from) const {
    const BlockRule& rule = rules_.blocks[0];
    if (rule.opener == nullptr || rule.closer == nullptr) return false;
    const uint8_t* const lineEnd = FindLineBreak(from, end_);
    const size_t lineBytes = static_cast<size_t>(lineEnd - from);
    const void* opener = memmem(from, lineBytes, rule.opener, std::strlen(rule.opener));
    if (opener == nullptr) return false;
    const uint8_t* const body = static_cast<const uint8_t*>(opener) + std::strlen(rule.opener);
    return memmem(body, static_cast<size_t>(lineEnd - body), rule.closer, std::strlen(rule.closer)) ==
           nullptr;
  }

  // A quote-like operator whose word starts at the cursor: true when it opened a
  // literal (now scanned, cursor after it).
  bool StepQuoteLike() {
    const uint8_t* wordEnd = cursor_;
    while (wordEnd != end_ && IsIdentifierByte(*wordEnd)) ++wordEnd;
    const size_t length = static_cast<size_t>(wordEnd - cursor_);
    const int parts = HasWord(rules_.quoteWords, cursor_, length)        ? 1
                      : HasWord(rules_.substituteWords, cursor_, length) ? 2
                                                                         : 0;
    if (parts == 0) return false;
    if (cursor_ != text_) {
      const uint8_t before = cursor_[-1];
      if (IsIdentifierByte(before) || before >= 0x80 || before == '$' || before == '@' || before == '%' ||
          before == '&' || before == '*' || before == '-' || before == '>') {
        return false;
      }
    }
    const uint8_t* p = wordEnd;
    while (p != end_ && (*p == ' ' || *p == '\t')) ++p;
    if (p == end_ || !IsDelimiter(*p)) return false;
    const uint8_t delimiter = *p;
    // After a space, '#' starts a comment and '=' an assignment or "=>".
    if ((delimiter == '#' || delimiter == '=') && p != wordEnd) return false;
    if (delimiter == '=' && end_ - p >= 2 && p[1] == '>') return false;
    LiteralLines lines(tally_.Marks());
    const uint8_t closer = CloserOf(delimiter);
    p = SkipDelimited(p + 1, end_, delimiter, closer, lines);
    if (parts == 2 && p != end_) {
      if (closer == delimiter) {
        p = SkipDelimited(p, end_, delimiter, closer, lines);
      } else {
        while (p != end_ && (*p <= 32)) p = IsLineBreak(*p) ? lines.Break(p, end_) : p + 1;
        if (p != end_ && IsDelimiter(*p)) p = SkipDelimited(p + 1, end_, *p, CloserOf(*p), lines);
      }
    }
    cursor_ = p;
    tally_.FoldLiteral(state_, lines.contentLines, lines.blankLines);
    return true;
  }

  // Whether an operand may start at `at`: first on its line, after one of
  // ( , = : [ ! & | ? { } ; ~ or after a word of regexWords (not a "$" variable).
  bool IsOperandPlace(const uint8_t* at) const {
    const uint8_t* before = at;
    while (before != text_ && (before[-1] == ' ' || before[-1] == '\t')) --before;
    if (before == text_ || IsLineBreak(before[-1])) return true;
    const uint8_t last = before[-1];
    if (last != 0 && std::strchr("(,=:[!&|?{};~", last) != nullptr) return true;
    if (!IsIdentifierByte(last)) return false;
    const uint8_t* word = before;
    while (word != text_ && IsIdentifierByte(word[-1])) --word;
    return (word == text_ || word[-1] != '$') &&
           HasWord(rules_.regexWords, word, static_cast<size_t>(before - word));
  }

  // A '/' where an operand is expected: true when it opened a /.../ literal on its line.
  bool StepSlashRegex() {
    if (!IsOperandPlace(cursor_)) return false;
    bool isInClass = false;
    for (const uint8_t* p = cursor_ + 1; p != end_ && !IsLineBreak(*p); ++p) {
      if (*p == '\\' && end_ - p >= 2 && !IsLineBreak(p[1])) {
        ++p;
      } else if (*p == '[') {
        isInClass = true;
      } else if (*p == ']') {
        isInClass = false;
      } else if (*p == '/' && !isInClass) {
        cursor_ = p + 1;
        state_.flags |= kHasCode;
        return true;
      }
    }
    return false;
  }

  // Ruby's ?x: true when the cursor's charPrefix made a character literal (code).
  bool StepCharPrefix() {
    const uint8_t* p = cursor_ + 1;
    if (p == end_ || *p <= 32) return false;
    if (*p == '\\' && end_ - p >= 2 && !IsLineBreak(p[1])) ++p;
    ++p;
    if (p != end_ && (IsIdentifierByte(*p) || *p >= 0x80)) return false;
    state_.flags |= kHasCode;
    cursor_ = p;
    return true;
  }

  // Ruby's %q( ), %w[ ], %r{ }, %( ) ...: true when the '%' opened a literal.
  bool StepPercentLiteral() {
    const uint8_t* p = cursor_ + 1;
    const bool hasLetter = p != end_ && std::memchr("qQwWiIrsx", *p, 9) != nullptr;
    if (hasLetter) {
      if (cursor_ != text_ && (IsIdentifierByte(cursor_[-1]) || cursor_[-1] == ')' || cursor_[-1] == ']'))
        return false;
      ++p;
    } else if (!IsOperandPlace(cursor_)) {
      return false;
    }
    if (p == end_ || *p <= 32 || *p >= 0x80 || IsIdentifierByte(*p) || (!hasLetter && *p == '='))
      return false;
    LiteralLines lines(tally_.Marks());
    cursor_ = SkipDelimited(p + 1, end_, *p, CloserOf(*p), lines);
    tally_.FoldLiteral(state_, lines.contentLines, lines.blankLines);
    return true;
  }

  // A block pair whose opener matched at the cursor (openerLength bytes), or a long
  // bracket: true when it opened (now scanned).
  bool StepBlock(const BlockRule& rule, const ByteTable& inside) {
    int64_t blankLines = 0;
    int64_t contentLines = 0;
    if ((rule.flags & kLongBracket) != 0) {
      // The opener without its last '[', then '='s and '['.
      const size_t prefixLength = std::strlen(rule.opener) - 1;
      if (MatchOpener(rule.opener, rule.openerFlags, prefixLength) == 0) return false;
      const uint8_t* p = cursor_ + prefixLength;
      while (p != end_ && *p == '=') ++p;
      if (p == end_ || *p != '[') return false;
      const int64_t level = p - (cursor_ + prefixLength);
      cursor_ = p + 1;
      contentLines = ScanLuaLongBracket(cursor_, end_, blankLines, level, tally_.Marks());
    } else {
      const size_t length = MatchOpener(rule.opener, rule.openerFlags);
      if (length == 0) return false;
      cursor_ += length;
      contentLines = (rule.flags & kToEnd) != 0
                         ? CountConstructLines(cursor_, end_, blankLines, tally_.Marks())
                         : ScanBlock(cursor_, end_, blankLines, rule, inside, tally_.Marks());
    }
    if ((rule.flags & kIsLiteral) != 0) {
      tally_.FoldLiteral(state_, contentLines, blankLines);
    } else {
      tally_.FoldComment(state_, contentLines, blankLines);
    }
    return true;
  }

  // At the start of a line (or of the text): the blocks that open only there.
  void StepLineStart() {
    if (!tables_.hasColumnZeroBlocks || cursor_ == end_) return;
    for (int i = 0; i < kMaxBlocks; ++i) {
      const BlockRule& rule = rules_.blocks[i];
      if (rule.opener == nullptr) break;
      if ((rule.openerFlags & kAtColumnZero) != 0 && StepBlock(rule, tables_.insideBlock[i])) return;
    }
  }

  void StepCandidate() {
    const uint8_t byte = *cursor_;
    if (rules_.quoteWords != nullptr && IsAsciiLetter(byte) && StepQuoteLike()) return;
    if (rules_.regexWords != nullptr && byte == '/' && StepSlashRegex()) return;
    if (byte == rules_.charPrefix && byte != 0 && StepCharPrefix()) return;
    if (byte == '%' && rules_.hasPercentLiterals && StepPercentLiteral()) return;
    if ((byte == '|' || byte == '>') && rules_.hasBlockScalars && StepBlockScalarIndicator()) return;
    if (byte == rules_.escapeOutside && byte != 0) {
      if (end_ - cursor_ >= 2 && !IsLineBreak(cursor_[1])) {
        state_.flags |= Ordinary(byte) | Ordinary(cursor_[1]);
        cursor_ += 2;
      } else {
        state_.flags |= Ordinary(byte);
        ++cursor_;
      }
      return;
    }
    for (int i = 0; i < kMaxBlocks; ++i) {
      const BlockRule& rule = rules_.blocks[i];
      if (rule.opener == nullptr) break;
      // Blocks that open first on a line were tried there (StepLineStart).
      if ((rule.openerFlags & kAtColumnZero) == 0 && StepBlock(rule, tables_.insideBlock[i])) return;
    }
    for (const LineCommentRule& rule : rules_.lineComments) {
      if (rule.opener == nullptr) break;
      const size_t length = MatchOpener(rule.opener, rule.flags);
      if (length == 0) continue;
      bool hasContinuation = rules_.hasContinuation;
      if (rules_.hasRecipes && IsRecipeLine()) {
        // The shell's comment: at the start of a word, to the end of its line.
        if (!IsWordStart(text_, cursor_)) continue;
        hasContinuation = false;
      }
      cursor_ += length;
      commentRanToEnd_ = tally_.FoldLineComment(state_, cursor_, end_, hasContinuation);
      StartPendingHeredocs();
      StepLineStart();
      return;
    }
    for (int i = 0; i < kMaxQuotes; ++i) {
      const QuoteRule& rule = rules_.quotes[i];
      if (rule.quote == 0) break;
      if (byte != rule.quote) continue;
      if (StepQuote(rule, tables_.insideQuote[i])) return;
      break;
    }
    if (byte == '<' && rules_.heredoc != HeredocStyle::kNone && StepHeredocOpener()) return;
    state_.flags |= Ordinary(byte);
    ++cursor_;
  }

  // A '<' where heredocs exist: true when it was handled (a heredoc opener, now
  // waiting for the end of the line, or a here-string's "<<<" or an arithmetic shift,
  // taken whole so that their own '<'s open nothing).
  bool StepHeredocOpener() {
    const bool isHereString = end_ - cursor_ >= 3 && cursor_[1] == '<' && cursor_[2] == '<';
    const bool isShift = !isHereString && end_ - cursor_ >= 2 && cursor_[1] == '<' &&
                         rules_.heredoc == HeredocStyle::kShell && OpenArithmeticOnLine(text_, cursor_) > 0;
    if (isHereString || isShift) {
      state_.flags |= Ordinary('<');
      cursor_ += isHereString ? 3 : 2;
      return true;
    }
    if (pendingCount_ == kMaxPendingHeredocs) return false;
    HeredocTag tag;
    const uint8_t* const after = ParseHeredocOpener(cursor_, end_, rules_.heredoc, tag);
    if (after == nullptr) return false;
    pending_[pendingCount_++] = tag;
    state_.flags |= kHasCode;
    cursor_ = after;
    return true;
  }

  // A quote at the cursor: true when it opened a literal (now scanned).
  bool StepQuote(const QuoteRule& rule, const ByteTable& inside) {
    if ((rule.flags & kNotAfterWord) != 0 && IsAfterWord(text_, cursor_)) return false;
    if ((rule.flags & kInRecipe) != 0 && !IsRecipeLine()) return false;
    if ((rule.flags & kScalarStart) != 0 && !IsScalarStart(cursor_)) return false;
    if ((rule.flags & kCharLiteral) != 0) {
      if (rule.escape != 0 && end_ - cursor_ >= 2 && cursor_[1] == rule.escape) {
        ++cursor_;
        SkipOneLineQuote(cursor_, end_, rule);
      } else {
        const int64_t length = CharLiteralLength(cursor_, end_, rule.quote);
        if (length == 0) return false;
        cursor_ += length;
      }
      tally_.FoldLiteral(state_, 0, 0);
      return true;
    }
    ++cursor_;
    if ((rule.flags & kOneLine) != 0) {
      SkipOneLineQuote(cursor_, end_, rule);
      tally_.FoldLiteral(state_, 0, 0);
      return true;
    }
    int64_t blankLines = 0;
    const int64_t contentLines = ScanQuote(cursor_, end_, blankLines, rule, inside, tally_.Marks());
    tally_.FoldLiteral(state_, contentLines, blankLines);
    return true;
  }

  // YAML: whether a scalar may start at `at` (see kScalarStart).
  bool IsScalarStart(const uint8_t* at) const {
    const uint8_t* p = at;
    while (p != text_ && (p[-1] == ' ' || p[-1] == '\t')) --p;
    if (p == text_ || IsLineBreak(p[-1])) return true;
    const uint8_t last = p[-1];
    if (last == '[' || last == '{' || last == ',') return true;
    return (last == ':' || last == '-' || last == '?') && p != at;
  }

  // Makefiles: whether the cursor's line is a recipe line (see hasRecipes): its
  // logical line (the lines joined by backslashes) starts with a tab, and the nearest
  // logical line above that is not one too, nor blank, a comment or a conditional
  // (ifeq ... endif), is a rule ("target: prerequisites"). The answer for the last
  // logical line asked about is kept, and a walk up stops there, so each line is
  // looked at a bounded number of times.
  bool IsRecipeLine() {
    const uint8_t* lineStart = cursor_;
    while (lineStart != text_ && !IsLineBreak(lineStart[-1])) --lineStart;
    const uint8_t* const first = LogicalLineStart(lineStart);
    if (first == end_ || *first != '\t') return false;
    if (first == recipeLineStart_) return isRecipeLine_;
    bool isRecipe = false;
    const uint8_t* above = first;
    while (above != text_) {
      above = LogicalLineStart(PreviousLineStart(above));
      if (above == recipeLineStart_) {
        isRecipe = isRecipeLine_;
        break;
      }
      if (*above == '\t' || *above == '#' || IsBlankLine(above) || IsConditionalLine(above)) continue;
      isRecipe = IsRuleLine(above);
      break;
    }
    recipeLineStart_ = first;
    isRecipeLine_ = isRecipe;
    return isRecipe;
  }

  // The start of the line before the one that starts at `line`. Requires: line != text_.
  const uint8_t* PreviousLineStart(const uint8_t* line) const {
    const uint8_t* p = line - 1;
    if (*p == '\n' && p != text_ && p[-1] == '\r') --p;
    while (p != text_ && !IsLineBreak(p[-1])) --p;
    return p;
  }

  // The first of the lines that `line` continues after backslashes (or `line`).
  const uint8_t* LogicalLineStart(const uint8_t* line) const {
    while (line != text_) {
      const uint8_t* p = line - 1;
      if (*p == '\n' && p != text_ && p[-1] == '\r') --p;
      if (p == text_ || p[-1] != '\\') break;
      line = PreviousLineStart(line);
    }
    return line;
  }

  bool IsBlankLine(const uint8_t* line) const {
    for (const uint8_t* p = line; p != end_ && !IsLineBreak(*p); ++p) {
      if (*p > 32) return false;
    }
    return true;
  }

  // A make conditional: ifeq, ifneq, ifdef, ifndef, else or endif first on the line.
  bool IsConditionalLine(const uint8_t* line) const {
    const uint8_t* p = line;
    while (p != end_ && (*p == ' ' || *p == '\t')) ++p;
    const uint8_t* word = p;
    while (p != end_ && IsAsciiLetter(*p)) ++p;
    return HasWord("ifeq ifneq ifdef ifndef else endif", word, static_cast<size_t>(p - word));
  }

  // A rule: in the logical line, a ':' not followed by '=' comes before any '=' or '#'.
  bool IsRuleLine(const uint8_t* line) const {
    for (const uint8_t* p = line; p != end_; ++p) {
      if (IsLineBreak(*p) && (p == line || p[-1] != '\\')) return false;
      if (*p == '=' || *p == '#') return false;
      if (*p == ':') return end_ - p < 2 || p[1] != '=';
    }
    return false;
  }

  // YAML: a '|' or '>' at the cursor that opens a block scalar: true when it did (its
  // body waits for the end of the line, with the column its lines must pass).
  bool StepBlockScalarIndicator() {
    const uint8_t* after = cursor_ + 1;
    while (after != end_ && (*after == '-' || *after == '+' || IsDigit(*after))) ++after;
    const uint8_t* p = after;
    while (p != end_ && (*p == ' ' || *p == '\t')) ++p;
    if (p != end_ && !IsLineBreak(*p) && !(*p == '#' && p != after)) return false;
    const uint8_t* before = cursor_;
    while (before != text_ && (before[-1] == ' ' || before[-1] == '\t')) --before;
    if (before == cursor_ || before == text_) return false;
    const uint8_t indicator = before[-1];
    if (indicator != ':' && indicator != '-' && indicator != '?') return false;
    // The parent's column: the '-' or '?' before the indicator, or else the key's start
    // (the line's first byte after its spaces and "- " entries).
    const uint8_t* lineStart = before;
    while (lineStart != text_ && !IsLineBreak(lineStart[-1])) --lineStart;
    const uint8_t* parent = before - 1;
    if (indicator == ':') {
      parent = lineStart;
      for (;;) {
        while (parent != before && *parent == ' ') ++parent;
        if (before - parent < 2 || parent[0] != '-' || parent[1] != ' ') break;
        parent += 2;
      }
    }
    blockScalarColumn_ = parent - lineStart;
    state_.flags |= Ordinary(*cursor_);
    cursor_ = after;
    return true;
  }

  // After the line that opened a block scalar: its lines, text (code) or blank, up to
  // the first line that is not blank and not indented past blockScalarColumn_. A last
  // line without a break is left to the main loop as code.
  void ScanBlockScalarBody() {
    const uint8_t* p = cursor_;
    while (p != end_) {
      const uint8_t* const lineEnd = FindLineBreak(p, end_);
      const uint8_t* text = p;
      while (text != lineEnd && *text == ' ') ++text;
      bool isBlank = true;
      for (const uint8_t* q = text; q != lineEnd; ++q) {
        if (*q > 32) {
          isBlank = false;
          break;
        }
      }
      if (!isBlank && text - p <= blockScalarColumn_) break;
      if (lineEnd == end_) {
        if (!isBlank) state_.flags |= kHasCode;
        p = end_;
        break;
      }
      tally_.AddLine(isBlank ? kBlankLine : kCodeLine);
      p = lineEnd + 1;
      if (*lineEnd == '\r' && p != end_ && *p == '\n') ++p;
    }
    cursor_ = p;
  }

  // After a line break: the body of a block scalar, or the bodies of the heredocs
  // opened on the line that just ended, one after the other; the closing line of each
  // heredoc but the last counts as code here, the last one's is left to the main loop.
  void StartPendingHeredocs() {
    if (blockScalarColumn_ >= 0) {
      ScanBlockScalarBody();
      blockScalarColumn_ = -1;
    }
    for (int i = 0; i < pendingCount_; ++i) {
      ScanHeredocBody(cursor_, end_, pending_[i], tally_);
      if (i + 1 == pendingCount_ || cursor_ == end_) break;
      const uint8_t* const lineEnd = FindLineBreak(cursor_, end_);
      if (lineEnd == end_) break;
      tally_.AddLine(kCodeLine);
      cursor_ = lineEnd + 1;
      if (*lineEnd == '\r' && cursor_ != end_ && *cursor_ == '\n') ++cursor_;
    }
    pendingCount_ = 0;
  }

  const LanguageRules& rules_;
  const LanguageTables& tables_;
  const bool conservative_;
  const uint8_t* const text_;
  const uint8_t* const end_;
  const uint8_t* cursor_ = nullptr;
  LineState state_;
  Tally tally_;
  HeredocTag pending_[kMaxPendingHeredocs];
  int pendingCount_ = 0;
  bool commentRanToEnd_ = false;
  const uint8_t* recipeLineStart_ = nullptr;  // the last tab-led logical line IsRecipeLine judged
  bool isRecipeLine_ = false;
  int64_t blockScalarColumn_ = -1;  // -1, or a block scalar waits for the next line
};

}  // namespace

void ScanGenericLanguage(LineTotals& totals, FileTypeId type, const uint8_t* text, int32_t length,
                         uint8_t* kinds) {
  assert(type >= kTypeFirstTable && type < kTypeInvalid && length > 0);
  if (kinds == nullptr) {
    GenericScan<LineTally>(type, text, length, nullptr).Run(totals, type);
  } else {
    GenericScan<KindTally>(type, text, length, kinds).Run(totals, type);
  }
}

void BuildGenericTables() {
  for (FileTypeId type = kTypeFirstTable; type < kTypeInvalid; ++type) TablesOf(type);
}

}  // namespace qm
