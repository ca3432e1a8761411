#include "app/ignore_rules.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <utility>

#include "app/settings.h"
#include "core/path.h"

namespace qm {

namespace {

// A pattern is matched in two parts, as git matches a path: its literal prefix (the
// bytes before the first '*', '?', '[' or '\') is compared, then the rest runs as a
// list of tokens, one per wildcard or literal byte. The matcher keeps the set of
// token positions reached so far, position i meaning "tokens [0, i) matched", and
// steps it once per text byte; position count (past the last token) is the match.
// A star stays on its own position while it takes bytes, and the position behind it
// is reached at once (it may take none).
//
// Token layout (32 bits): kind in the top 8 bits, a byte or a class index below.
enum TokenKind : uint32_t {
  kLiteral,      // that byte
  kAnyByte,      // '?' in a name
  kAnyButSlash,  // '?' in a path
  kClass,        // a byte of class [index] ('/' never, in a path)
  kStarAny,      // '*' in a name, or "**" spanning directories: any bytes
  kStarNoSlash,  // '*' in a path: bytes other than '/'
  kStarSkip,     // "**" followed by '/': any bytes, and "**/" may also stand for nothing
};
constexpr int kKindShift = 24;
constexpr uint32_t kPayloadMask = (uint32_t{1} << kKindShift) - 1;
constexpr int32_t kClassWords = 4;

uint32_t Token(TokenKind kind, uint32_t payload) {
  return static_cast<uint32_t>(kind) << kKindShift | payload;
}

TokenKind KindOf(uint32_t token) {
  return static_cast<TokenKind>(token >> kKindShift);
}

bool IsStar(TokenKind kind) {
  return kind >= kStarAny;
}

bool IsGlobSpecial(uint8_t c) {
  return c == '*' || c == '?' || c == '[' || c == '\\';
}

bool IsInNamedClass(const uint8_t* name, int32_t length, uint8_t c, bool& isKnown) {
  auto is = [&](const char* text) {
    return static_cast<int32_t>(std::strlen(text)) == length && std::memcmp(name, text, length) == 0;
  };
  const bool isUpper = c >= 'A' && c <= 'Z';
  const bool isLower = c >= 'a' && c <= 'z';
  const bool isDigit = c >= '0' && c <= '9';
  const bool isAlnum = isUpper || isLower || isDigit;
  const bool isGraph = c > 0x20 && c < 0x7f;
  isKnown = true;
  if (is("alnum")) return isAlnum;
  if (is("alpha")) return isUpper || isLower;
  if (is("blank")) return c == ' ' || c == '\t';
  if (is("cntrl")) return c < 0x20 || c == 0x7f;
  if (is("digit")) return isDigit;
  if (is("graph")) return isGraph;
  if (is("lower")) return isLower;
  if (is("print")) return isGraph || c == ' ';
  if (is("punct")) return isGraph && !isAlnum;
  if (is("space")) return c == ' ' || c == '\t' || c == '\n' || c == '\r';
  if (is("upper")) return isUpper;
  if (is("xdigit")) return isDigit || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
  isKnown = false;
  return false;
}

void AddByte(uint64_t* set, uint8_t c) {
  set[c >> 6] |= uint64_t{1} << (c & 63);
}

bool HasByte(const uint64_t* set, uint8_t c) {
  return (set[c >> 6] >> (c & 63) & 1) != 0;
}

// The class at pattern[k] (just past '['), read by git's rules into set (when not
// null): members, ranges, [:name:] classes, '!' or '^' negation, '\' escapes, a ']'
// first is a member. Which bytes end the class never depends on the text, so it is read
// once. Returns the index of its closing ']', or -1 for a class that never closes or
// names an unknown [:class:] (git then gives up on the whole match: such a pattern
// matches nothing).
int32_t ReadClass(const uint8_t* pattern, int32_t length, int32_t k, bool isPathname, uint64_t* set) {
  uint64_t members[kClassWords] = {0, 0, 0, 0};
  auto at = [&](int32_t index) -> uint8_t { return index < length ? pattern[index] : 0; };
  uint8_t pc = at(k);
  const bool isNegated = pc == '!' || pc == '^';
  if (isNegated) pc = at(++k);
  uint8_t previous = 0;
  do {
    if (pc == 0) return -1;
    if (pc == '\\') {
      pc = at(++k);
      if (pc == 0) return -1;
      AddByte(members, pc);
    } else if (pc == '-' && previous != 0 && at(k + 1) != 0 && at(k + 1) != ']') {
      pc = at(++k);
      if (pc == '\\') {
        pc = at(++k);
        if (pc == 0) return -1;
      }
      for (int c = previous; c <= pc; ++c) AddByte(members, static_cast<uint8_t>(c));
      pc = 0;  // a range cannot start another range
    } else if (pc == '[' && at(k + 1) == ':') {
      const int32_t name = k += 2;
      while (at(k) != 0 && at(k) != ']') ++k;
      if (at(k) == 0) return -1;
      const int32_t nameLength = k - name - 1;
      if (nameLength < 0 || pattern[k - 1] != ':') {
        // No ":]": the '[' is an ordinary member and the scan resumes after it.
        k = name - 2;
        pc = '[';
        AddByte(members, pc);
        continue;
      }
      for (int c = 0; c < 256; ++c) {
        bool isKnown = false;
        if (IsInNamedClass(pattern + name, nameLength, static_cast<uint8_t>(c), isKnown)) {
          AddByte(members, static_cast<uint8_t>(c));
        }
        if (!isKnown) return -1;
      }
      pc = 0;
    } else {
      AddByte(members, pc);
    }
  } while (previous = pc, (pc = at(++k)) != ']');
  if (set != nullptr) {
    for (int32_t w = 0; w < kClassWords; ++w) set[w] = isNegated ? ~members[w] : members[w];
    if (isPathname) set['/' >> 6] &= ~(uint64_t{1} << ('/' & 63));
  }
  return k;
}

// Where the tokens of a pattern go: counted only (tokens null), or stored.
struct TokenSink {
  uint32_t* tokens = nullptr;
  uint64_t* classes = nullptr;  // kClassWords words per class
  int32_t tokenCount = 0;
  int32_t classCount = 0;
  int32_t classBase = 0;  // index of the first class of this set's pattern

  void Add(TokenKind kind, uint32_t payload) {
    if (tokens != nullptr) tokens[tokenCount] = Token(kind, payload);
    ++tokenCount;
  }
};

// Compiles pattern[prefix, length) into sink, as git's wildmatch reads it. A run of
// '*' spans directories (in a path) when it is two or more long, starts the pattern,
// follows a '/' or starts the part behind the literal prefix (git matches that part
// on its own, so "x**/y" spans directories after the x), and ends the pattern or is
// followed by '/' (or "\/"). Returns false for a pattern that matches nothing.
bool CompileTokens(const uint8_t* pattern, int32_t length, int32_t prefix, bool isPathname, TokenSink& sink) {
  int32_t i = prefix;
  while (i < length) {
    const uint8_t c = pattern[i];
    switch (c) {
      case '\\':
        if (i + 1 >= length) return false;  // a '\' ending the pattern matches nothing
        sink.Add(kLiteral, pattern[i + 1]);
        i += 2;
        break;
      case '?':
        sink.Add(isPathname ? kAnyButSlash : kAnyByte, 0);
        ++i;
        break;
      case '[': {
        uint64_t* set =
            sink.classes != nullptr ? sink.classes + int64_t{sink.classCount} * kClassWords : nullptr;
        const int32_t close = ReadClass(pattern, length, i + 1, isPathname, set);
        if (close < 0) return false;
        sink.Add(kClass, static_cast<uint32_t>(sink.classBase + sink.classCount));
        ++sink.classCount;
        i = close + 1;
        break;
      }
      case '*': {
        int32_t j = i;
        while (j < length && pattern[j] == '*') ++j;
        const bool isAtStart = i == prefix || pattern[i - 1] == '/';
        const bool isAtEnd = j == length || pattern[j] == '/' ||
                             (pattern[j] == '\\' && j + 1 < length && pattern[j + 1] == '/');
        if (!isPathname) {
          sink.Add(kStarAny, 0);
        } else if (j - i >= 2 && isAtStart && isAtEnd) {
          sink.Add(j < length && pattern[j] == '/' ? kStarSkip : kStarAny, 0);
        } else {
          sink.Add(kStarNoSlash, 0);
        }
        i = j;
        break;
      }
      default:
        sink.Add(kLiteral, c);
        ++i;
        break;
    }
  }
  return true;
}

// Bit index of position i in a position set.
void SetBit(uint64_t* bits, int32_t i) {
  bits[i >> 6] |= uint64_t{1} << (i & 63);
}

bool HasBit(const uint64_t* bits, int32_t i) {
  return (bits[i >> 6] >> (i & 63) & 1) != 0;
}

// Reaches position j and what it reaches without a byte: behind a star, and behind
// "**/" (which may stand for nothing). A position already reached has had its
// followers reached then, so every position is entered once per byte. Positions are
// stepped in ascending order and only ever reach later ones.
void Reach(uint64_t* bits, int32_t j, const uint32_t* tokens, int32_t count, int64_t& steps) {
  while (!HasBit(bits, j)) {
    ++steps;
    SetBit(bits, j);
    if (j >= count) return;
    const TokenKind kind = KindOf(tokens[j]);
    if (!IsStar(kind)) return;
    SetBit(bits, j + 1);  // a star is never followed by a star: runs are one token
    if (kind != kStarSkip) return;
    j += 2;
  }
}

// Hot: runs the wildcard part of every pattern whose prefix an entry shares.
bool RunTokens(const uint32_t* tokens, int32_t count, const uint64_t* classes, const uint8_t* text,
               const uint8_t* end, MatchScratch& scratch) {
  const int32_t words = (count + 1 + 63) / 64;
  uint64_t local[2 * 4];
  uint64_t* current = local;
  if (words > 4) {
    scratch.states.Resize(2 * words);
    current = scratch.states.Data();
  }
  uint64_t* next = current + words;
  int64_t& steps = scratch.steps;
  for (int32_t w = 0; w < words; ++w) current[w] = 0;
  Reach(current, 0, tokens, count, steps);
  for (; text < end; ++text) {
    const uint8_t c = *text;
    for (int32_t w = 0; w < words; ++w) next[w] = 0;
    bool isAlive = false;
    for (int32_t w = 0; w < words; ++w) {
      for (uint64_t bits = current[w]; bits != 0; bits &= bits - 1) {
        const int32_t i = w * 64 + __builtin_ctzll(bits);
        if (i >= count) continue;  // the end takes no byte
        ++steps;
        const uint32_t token = tokens[i];
        const uint32_t payload = token & kPayloadMask;
        int32_t target = -1;
        switch (KindOf(token)) {
          case kLiteral:
            if (c == payload) target = i + 1;
            break;
          case kAnyByte:
            target = i + 1;
            break;
          case kAnyButSlash:
            if (c != '/') target = i + 1;
            break;
          case kClass:
            if (HasByte(classes + int64_t{payload} * kClassWords, c)) target = i + 1;
            break;
          case kStarAny:
            // Spanning to the end of the pattern, it takes whatever is left.
            if (i + 1 == count) return true;
            target = i;
            break;
          case kStarSkip:
            target = i;
            break;
          case kStarNoSlash:
            if (c != '/') target = i;
            break;
        }
        if (target < 0) continue;
        isAlive = true;
        if (target > i) {
          Reach(next, target, tokens, count, steps);
        } else if (!HasBit(next, i)) {
          // A star that took a byte may stop behind it, but "**/" that took bytes
          // needs its '/': only a star just reached may stand for nothing. Every
          // position that reaches this one lies before it and was stepped already.
          ++steps;
          SetBit(next, i);
          SetBit(next, i + 1);
        }
      }
    }
    if (!isAlive) return false;
    std::swap(current, next);
  }
  return HasBit(current, count);
}

// The byte of the first literal token that every match must take (not the '/' behind
// "**", which "**/" may pass over), or -1.
int16_t RequiredByteOf(const uint32_t* tokens, int32_t count) {
  for (int32_t i = 0; i < count; ++i) {
    if (KindOf(tokens[i]) == kLiteral && (i == 0 || KindOf(tokens[i - 1]) != kStarSkip)) {
      return static_cast<int16_t>(tokens[i] & kPayloadMask);
    }
  }
  return -1;
}

// Calls take(begin, end) for each line of an ignore file that holds a pattern, by git's
// rules (see IgnoreSet::Compile).
template <typename Take>
void ForEachPatternLine(const char* begin, const char* end, Take take) {
  if (end - begin >= 3 && std::memcmp(begin, "\xEF\xBB\xBF", 3) == 0) begin += 3;
  while (begin < end) {
    const char* lineEnd =
        static_cast<const char*>(std::memchr(begin, '\n', static_cast<size_t>(end - begin)));
    const char* next = lineEnd != nullptr ? lineEnd + 1 : end;
    if (lineEnd == nullptr) lineEnd = end;
    if (lineEnd != begin && *begin != '#') {
      // Also a CR that ends the last line: git reads that line as if a LF followed.
      if (lineEnd[-1] == '\r') --lineEnd;
      const char* zero =
          static_cast<const char*>(std::memchr(begin, 0, static_cast<size_t>(lineEnd - begin)));
      if (zero != nullptr) lineEnd = zero;
      // Unescaped trailing spaces are cut, as git does (a "\ " at the end stays).
      const char* lastSpace = nullptr;
      for (const char* p = begin; p < lineEnd; ++p) {
        if (*p == ' ') {
          if (lastSpace == nullptr) lastSpace = p;
          continue;
        }
        lastSpace = nullptr;
        if (*p == '\\' && ++p == lineEnd) break;
      }
      take(begin, lastSpace != nullptr ? lastSpace : lineEnd);
    }
    begin = next;
  }
}

// The rule of one line: '!' negates, a trailing '/' asks for a directory, a pattern
// without '/' is a name, a leading '/' only anchors. False for an empty pattern ("/",
// "!"), which matches no name.
bool ParseRule(const char*& begin, const char*& end, IgnoreRule& rule) {
  if (begin < end && *begin == '!') {
    rule.isNegative = true;
    ++begin;
  }
  if (begin < end && end[-1] == '/') {
    rule.isDirectoryOnly = true;
    --end;
  }
  rule.isBaseName = std::memchr(begin, '/', static_cast<size_t>(end - begin)) == nullptr;
  if (!rule.isBaseName && *begin == '/') ++begin;
  return begin != end;
}

int32_t PrefixLength(const char* begin, const char* end) {
  const char* p = begin;
  while (p < end && !IsGlobSpecial(static_cast<uint8_t>(*p))) ++p;
  return static_cast<int32_t>(p - begin);
}

// FNV-1a over the bytes: tells ignore files apart before they are compared whole.
uint64_t HashOf(const char* begin, const char* end) {
  uint64_t hash = 14695981039346656037u;
  for (; begin < end; ++begin) hash = (hash ^ static_cast<uint8_t>(*begin)) * 1099511628211u;
  return hash;
}

}  // namespace

bool IgnoreSet::Compile(const char* begin, const char* end, int64_t maxCost) {
  Array<char> bytes;
  if (end - begin > maxCost) {
    Clear();
    return false;
  }
  bytes.Reserve(static_cast<int32_t>(end - begin));
  bytes.Append(begin, static_cast<int32_t>(end - begin));
  return Compile(bytes, maxCost);
}

bool IgnoreSet::Compile(Array<char>& bytes, int64_t maxCost) {
  Clear();
  const char* const begin = bytes.Data();
  const char* const end = begin + bytes.Count();
  // First the sizes, so the cost is known before anything is allocated.
  int64_t ruleCount = 0;
  int64_t tokenCount = 0;
  int64_t classCount = 0;
  ForEachPatternLine(begin, end, [&](const char* lineBegin, const char* lineEnd) {
    IgnoreRule rule;
    if (!ParseRule(lineBegin, lineEnd, rule)) return;
    TokenSink sink;
    const auto* pattern = reinterpret_cast<const uint8_t*>(lineBegin);
    const int32_t length = static_cast<int32_t>(lineEnd - lineBegin);
    CompileTokens(pattern, length, PrefixLength(lineBegin, lineEnd), !rule.isBaseName, sink);
    ++ruleCount;
    tokenCount += sink.tokenCount;
    classCount += sink.classCount;
  });
  const int64_t cost = static_cast<int64_t>(sizeof(IgnoreSet)) + bytes.Capacity() +
                       ruleCount * static_cast<int64_t>(sizeof(IgnoreRule)) +
                       tokenCount * static_cast<int64_t>(sizeof(uint32_t)) +
                       classCount * kClassWords * static_cast<int64_t>(sizeof(uint64_t));
  if (cost > maxCost) return false;

  rules_.Reserve(static_cast<int32_t>(ruleCount));
  tokens_.Resize(static_cast<int32_t>(tokenCount));
  classes_.Resize(static_cast<int32_t>(classCount * kClassWords));
  TokenSink sink;
  sink.tokens = tokens_.Data();
  sink.classes = classes_.Data();
  ForEachPatternLine(begin, end, [&](const char* lineBegin, const char* lineEnd) {
    IgnoreRule rule;
    if (!ParseRule(lineBegin, lineEnd, rule)) return;
    const auto* pattern = reinterpret_cast<const uint8_t*>(lineBegin);
    const int32_t length = static_cast<int32_t>(lineEnd - lineBegin);
    rule.textOffset = static_cast<int32_t>(lineBegin - begin);
    rule.textLength = length;
    rule.prefixLength = PrefixLength(lineBegin, lineEnd);
    rule.tokenOffset = sink.tokenCount;
    TokenSink one;
    one.tokens = sink.tokens + sink.tokenCount;
    one.classes = sink.classes + int64_t{sink.classCount} * kClassWords;
    one.classBase = sink.classCount;
    rule.isNever = !CompileTokens(pattern, length, rule.prefixLength, !rule.isBaseName, one);
    rule.tokenCount = one.tokenCount;
    rule.requiredByte = RequiredByteOf(one.tokens, one.tokenCount);
    sink.tokenCount += one.tokenCount;
    sink.classCount += one.classCount;
    rule.isSuffix = rule.isBaseName && length >= 1 && pattern[0] == '*' &&
                    PrefixLength(lineBegin + 1, lineEnd) == length - 1;
    rules_.PushBack(rule);
  });
  text_ = std::move(bytes);
  cost_ = cost;
  return true;
}

void IgnoreSet::CompilePattern(const char* pattern, int32_t length, bool isPathname) {
  Clear();
  text_.Append(pattern, length);
  IgnoreRule rule;
  rule.textLength = length;
  rule.isBaseName = !isPathname;
  rule.prefixLength = PrefixLength(pattern, pattern + length);
  const auto* bytes = reinterpret_cast<const uint8_t*>(pattern);
  TokenSink count;
  CompileTokens(bytes, length, rule.prefixLength, isPathname, count);
  tokens_.Resize(count.tokenCount);
  classes_.Resize(count.classCount * kClassWords);
  TokenSink sink;
  sink.tokens = tokens_.Data();
  sink.classes = classes_.Data();
  rule.isNever = !CompileTokens(bytes, length, rule.prefixLength, isPathname, sink);
  rule.tokenCount = sink.tokenCount;
  rule.requiredByte = RequiredByteOf(tokens_.Data(), sink.tokenCount);
  rule.isSuffix = !isPathname && length >= 1 && pattern[0] == '*' && rule.prefixLength == 0 &&
                  PrefixLength(pattern + 1, pattern + length) == length - 1;
  rules_.PushBack(rule);
}

void IgnoreSet::Clear() {
  text_.Clear();
  rules_.Clear();
  tokens_.Clear();
  classes_.Clear();
  cost_ = 0;
}

bool IgnoreSet::IsCompiledFrom(const char* begin, const char* end) const {
  return text_.Count() == end - begin &&
         std::memcmp(text_.Data(), begin, static_cast<size_t>(end - begin)) == 0;
}

// Hot: every rule of the ignore files along the path, for every entry of the walk.
// Most rules are decided by a length or their first differing byte.
bool IgnoreSet::Matches(const IgnoreRule& rule, const char* text, int32_t length,
                        MatchScratch& scratch) const {
  ++scratch.steps;
  if (rule.isNever) return false;
  const char* pattern = Text(rule);
  if (rule.isSuffix) {
    // "*literal" against a name: its end.
    const int32_t literalLength = rule.textLength - 1;
    if (length < literalLength) return false;
    if (literalLength == 0) return true;
    scratch.steps += literalLength;
    const char* end = text + length;
    return end[-1] == pattern[literalLength] &&
           std::memcmp(end - literalLength, pattern + 1, static_cast<size_t>(literalLength - 1)) == 0;
  }
  const int32_t prefix = rule.prefixLength;
  if (length < prefix || (rule.tokenCount == 0 && length != prefix)) return false;
  if (prefix > 0) {
    scratch.steps += prefix;
    if (text[0] != pattern[0] || std::memcmp(text + 1, pattern + 1, static_cast<size_t>(prefix - 1)) != 0) {
      return false;
    }
  }
  if (rule.tokenCount == 0) return true;
  const auto* rest = reinterpret_cast<const uint8_t*>(text) + prefix;
  if (rule.requiredByte >= 0) {
    // A byte the text must hold ('-' of "*-bison.*"): most names lack it.
    scratch.steps += length - prefix;
    if (std::memchr(rest, rule.requiredByte, static_cast<size_t>(length - prefix)) == nullptr) return false;
  }
  return RunTokens(tokens_.Data() + rule.tokenOffset, rule.tokenCount, classes_.Data(), rest,
                   reinterpret_cast<const uint8_t*>(text) + length, scratch);
}

const IgnoreRule* IgnoreSet::LastMatch(const char* name, int32_t nameLength, const char* path,
                                       int32_t pathLength, bool isDirectory, MatchScratch& scratch) const {
  const char* const text = text_.Data();
  for (int32_t i = rules_.Count() - 1; i >= 0; --i) {
    const IgnoreRule& rule = rules_[i];
    if (rule.isDirectoryOnly && !isDirectory) continue;
    const char* const subject = rule.isBaseName ? name : path;
    const int32_t length = rule.isBaseName ? nameLength : pathLength;
    // Most rules are literal, start with a literal or are "*literal": a length and one
    // byte decide them here (Matches would, at the cost of a call).
    const int32_t prefix = rule.prefixLength;
    if (prefix > 0 && (length < prefix || (rule.tokenCount == 0 && length != prefix) ||
                       subject[0] != text[rule.textOffset])) {
      continue;
    }
    const int32_t suffix = rule.textLength - 1;  // "*literal": its last byte
    if (rule.isSuffix && suffix > 0 &&
        (length < suffix || subject[length - 1] != text[rule.textOffset + suffix])) {
      continue;
    }
    if (Matches(rule, subject, length, scratch)) return &rule;
  }
  return nullptr;
}

bool WildMatch(const char* pattern, const char* text, bool isPathname) {
  IgnoreSet set;
  set.CompilePattern(pattern, static_cast<int32_t>(std::strlen(pattern)), isPathname);
  MatchScratch scratch;
  return set.Matches(set.Rule(0), text, static_cast<int32_t>(std::strlen(text)), scratch);
}

// One compiled ignore file, held by every frame whose file has its content.
struct WalkFilter::SharedSet {
  IgnoreSet set;
  uint64_t hash = 0;
  int32_t references = 0;
};

struct WalkFilter::Frame {
  int32_t relativeLength = 0;  // of relativePath_ for this directory
  SharedSet* gitignore = nullptr;
  SharedSet* ignore = nullptr;   // its lines come after those of .gitignore
  SharedSet* exclude = nullptr;  // .git/info/exclude
};

WalkFilter::WalkFilter() : isGitignore_(settings.useGitignore) {}

WalkFilter::~WalkFilter() = default;

WalkFilter::SharedSet* WalkFilter::TakeSet(const SharedString& path) {
  // Never through a link, never blocking on a FIFO; only a regular file is read.
  const int descriptor = open(path.CStr(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (descriptor < 0) return nullptr;
  struct stat info;
  if (fstat(descriptor, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(descriptor);
    return nullptr;
  }
  if (info.st_size > kMaxIgnoreFileBytes) {
    close(descriptor);
    refused_.PushBack(path);
    return nullptr;
  }
  fileBytes_.Clear();
  fileBytes_.Resize(static_cast<int32_t>(info.st_size));
  int32_t done = 0;
  while (done < fileBytes_.Count()) {
    const ssize_t got =
        read(descriptor, fileBytes_.Data() + done, static_cast<size_t>(fileBytes_.Count() - done));
    if (got <= 0) break;
    done += static_cast<int32_t>(got);
  }
  close(descriptor);
  fileBytes_.Resize(done);
  if (done == 0) return nullptr;
  const char* const begin = fileBytes_.Data();
  const uint64_t hash = HashOf(begin, begin + done);
  for (const std::unique_ptr<SharedSet>& shared : sets_) {
    if (shared->hash == hash && shared->set.IsCompiledFrom(begin, begin + done)) {
      ++shared->references;
      return shared.get();
    }
  }
  auto shared = std::make_unique<SharedSet>();
  if (!shared->set.Compile(fileBytes_, kMaxIgnoreCost - heldCost_)) {
    refused_.PushBack(path);
    return nullptr;
  }
  if (shared->set.RuleCount() == 0) return nullptr;
  shared->hash = hash;
  shared->references = 1;
  heldCost_ += shared->set.Cost();
  sets_.PushBack(std::move(shared));
  return sets_.Back().get();
}

void WalkFilter::Release(SharedSet*& set) {
  if (set == nullptr) return;
  if (--set->references == 0) {
    heldCost_ -= set->set.Cost();
    for (int32_t i = 0; i < sets_.Count(); ++i) {
      if (sets_[i].get() != set) continue;
      std::swap(sets_[i], sets_.Back());
      sets_.PopBack();
      break;
    }
  }
  set = nullptr;
}

void WalkFilter::Enter(const SharedString& absolutePath, const SharedString& name) {
  refused_.Clear();
  if (!isGitignore_) return;
  if (depth_ > 0) AppendPathComponent(relativePath_, name);
  if (depth_ == frames_.Count()) frames_.PushBack(std::make_unique<Frame>());
  Frame& frame = *frames_[depth_++];
  frame.relativeLength = relativePath_.Length();
  auto take = [&](const char* fileName) {
    filePath_ = absolutePath;
    AppendPathComponent(filePath_, fileName, static_cast<int32_t>(std::strlen(fileName)));
    return TakeSet(filePath_);
  };
  frame.gitignore = take(".gitignore");
  frame.ignore = take(".ignore");
  frame.exclude = take(".git/info/exclude");
}

void WalkFilter::Leave() {
  if (!isGitignore_ || depth_ == 0) return;
  Frame& frame = *frames_[--depth_];
  Release(frame.gitignore);
  Release(frame.ignore);
  Release(frame.exclude);
  const int32_t parentLength = depth_ > 0 ? frames_[depth_ - 1]->relativeLength : 0;
  relativePath_.Erase(parentLength, -1);
}

const IgnoreRule* WalkFilter::LastMatch(bool isExcludeList, const SharedString& name, bool isDirectory) {
  for (int32_t level = depth_ - 1; level >= 0; --level) {
    const Frame& frame = *frames_[level];
    // The path below the ignore file's own directory.
    const int32_t skip = frame.relativeLength == 0 ? 0 : frame.relativeLength + 1;
    const char* path = candidate_.CStr() + skip;
    const int32_t pathLength = candidate_.Length() - skip;
    SharedSet* const latestFirst[2] = {isExcludeList ? frame.exclude : frame.ignore,
                                       isExcludeList ? nullptr : frame.gitignore};
    for (SharedSet* shared : latestFirst) {
      if (shared == nullptr) continue;
      const IgnoreRule* match =
          shared->set.LastMatch(name.CStr(), name.Length(), path, pathLength, isDirectory, scratch_);
      if (match != nullptr) return match;
    }
  }
  return nullptr;
}

bool WalkFilter::IsSkipped(const SharedString& name, bool isDirectory) {
  if (!isGitignore_ || depth_ == 0) return false;
  candidate_ = relativePath_;
  AppendPathComponent(candidate_, name);
  const IgnoreRule* match = LastMatch(false, name, isDirectory);
  if (match == nullptr) match = LastMatch(true, name, isDirectory);
  return match != nullptr && !match->isNegative;
}

}  // namespace qm
