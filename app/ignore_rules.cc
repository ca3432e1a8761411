#include "app/ignore_rules.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "app/settings.h"
#include "core/path.h"

namespace qm {

namespace {

// Results of one matching step. The two aborts only prune: kAbortAll when the text
// ran out before the pattern (no later start can match either), kAbortToStarStar
// when a single '*' met a '/' (only an enclosing "**" may still try further on).
enum class Wild { kMatch, kNoMatch, kAbortAll, kAbortToStarStar };

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

// A character class at p (just past '['), tested against c. Leaves p on its closing
// ']'. kAbortAll for a class that never closes or names an unknown [:class:].
Wild MatchClass(const uint8_t*& p, uint8_t c, bool isPathname) {
  uint8_t pc = *p;
  const bool isNegated = pc == '!' || pc == '^';
  if (isNegated) pc = *++p;
  uint8_t previous = 0;
  bool isMatched = false;
  // A ']' right after the opening (or its negation) is a member, not the end.
  do {
    if (pc == 0) return Wild::kAbortAll;
    if (pc == '\\') {
      pc = *++p;
      if (pc == 0) return Wild::kAbortAll;
      if (c == pc) isMatched = true;
    } else if (pc == '-' && previous != 0 && p[1] != 0 && p[1] != ']') {
      pc = *++p;
      if (pc == '\\') {
        pc = *++p;
        if (pc == 0) return Wild::kAbortAll;
      }
      if (c <= pc && c >= previous) isMatched = true;
      pc = 0;  // a range cannot start another range
    } else if (pc == '[' && p[1] == ':') {
      const uint8_t* name = p += 2;
      while (*p != 0 && *p != ']') ++p;
      if (*p == 0) return Wild::kAbortAll;
      const int32_t length = static_cast<int32_t>(p - name) - 1;
      if (length < 0 || p[-1] != ':') {
        // No ":]": the '[' is an ordinary member and the scan resumes after it.
        p = name - 2;
        pc = '[';
        if (c == pc) isMatched = true;
        continue;
      }
      bool isKnown = false;
      if (IsInNamedClass(name, length, c, isKnown)) isMatched = true;
      if (!isKnown) return Wild::kAbortAll;
      pc = 0;
    } else if (c == pc) {
      isMatched = true;
    }
  } while (previous = pc, (pc = *++p) != ']');
  if (isMatched == isNegated || (isPathname && c == '/')) return Wild::kNoMatch;
  return Wild::kMatch;
}

// One match: the pattern's start, its rules, and the steps it may still take.
struct MatchContext {
  const uint8_t* patternStart;
  bool isPathname;
  int64_t stepsLeft;
};

Wild DoWild(MatchContext& context, const uint8_t* p, const uint8_t* text) {
  const uint8_t* const patternStart = context.patternStart;
  const bool isPathname = context.isPathname;
  if (--context.stepsLeft < 0) return Wild::kAbortAll;
  for (; *p != 0; ++text, ++p) {
    uint8_t tc = *text;
    uint8_t pc = *p;
    if (tc == 0 && pc != '*') return Wild::kAbortAll;
    switch (pc) {
      case '\\':
        // A '\' ending the pattern matches nothing.
        pc = *++p;
        if (tc != pc) return Wild::kNoMatch;
        break;
      case '?':
        if (isPathname && tc == '/') return Wild::kNoMatch;
        break;
      case '[': {
        ++p;
        const Wild result = MatchClass(p, tc, isPathname);
        if (result != Wild::kMatch) return result;
        break;
      }
      case '*': {
        const bool isAfterSlash = p == patternStart || p[-1] == '/';
        const uint8_t* firstStar = p;
        while (*++p == '*') {
        }
        // Without pathname rules '*' crosses '/' anyway; with them only a "**" that
        // stands between slashes or at either end does.
        bool isMatchingSlash = !isPathname;
        if (isPathname && p - firstStar >= 2 && isAfterSlash &&
            (*p == 0 || *p == '/' || (p[0] == '\\' && p[1] == '/'))) {
          // "**/" may stand for no directory at all.
          if (p[0] == '/' && DoWild(context, p + 1, text) == Wild::kMatch) return Wild::kMatch;
          isMatchingSlash = true;
        }
        if (*p == 0) {
          if (!isMatchingSlash && std::strchr(reinterpret_cast<const char*>(text), '/') != nullptr) {
            return Wild::kNoMatch;
          }
          return Wild::kMatch;
        }
        if (!isMatchingSlash && *p == '/') {
          // "*/": the rest of this directory's name, then the '/'.
          const char* slash = std::strchr(reinterpret_cast<const char*>(text), '/');
          if (slash == nullptr) return Wild::kNoMatch;
          text = reinterpret_cast<const uint8_t*>(slash);
          break;  // the loop steps over the '/' of both
        }
        for (;;) {
          if (tc == 0) break;
          if (!IsGlobSpecial(*p)) {
            // A literal follows: skip to its next occurrence the '*' may reach.
            // Not found: no later start of this '*' or of an enclosing one can find it
            // either (only literals, '?' and classes, one byte each, lie between them).
            while ((tc = *text) != 0 && (isMatchingSlash || tc != '/') && tc != *p) ++text;
            if (tc == 0) return Wild::kAbortAll;
            if (tc != *p) return Wild::kAbortToStarStar;
          }
          if (--context.stepsLeft < 0) return Wild::kAbortAll;
          const Wild result = DoWild(context, p, text);
          if (result != Wild::kNoMatch) {
            if (!isMatchingSlash || result != Wild::kAbortToStarStar) return result;
          } else if (!isMatchingSlash && tc == '/') {
            return Wild::kAbortToStarStar;
          }
          tc = *++text;
        }
        return Wild::kAbortAll;
      }
      default:
        if (tc != pc) return Wild::kNoMatch;
        break;
    }
  }
  return *text != 0 ? Wild::kNoMatch : Wild::kMatch;
}

const IgnorePattern* LastMatchIn(const Array<IgnorePattern>& patterns, const char* name, const char* path,
                                 bool isDirectory) {
  for (int32_t i = patterns.Count() - 1; i >= 0; --i) {
    const IgnorePattern& pattern = patterns[i];
    if (pattern.isDirectoryOnly && !isDirectory) continue;
    if (WildMatch(pattern.text.CStr(), pattern.isBaseName ? name : path, !pattern.isBaseName))
      return &pattern;
  }
  return nullptr;
}

// Cuts unescaped trailing spaces, as git does (a "\ " at the end stays).
const char* TrimTrailingSpaces(const char* begin, const char* end) {
  const char* lastSpace = nullptr;
  for (const char* p = begin; p < end; ++p) {
    if (*p == ' ') {
      if (lastSpace == nullptr) lastSpace = p;
      continue;
    }
    if (*p == '\\' && ++p == end) return end;
    lastSpace = nullptr;
  }
  return lastSpace != nullptr ? lastSpace : end;
}

void AddPattern(const char* begin, const char* end, Array<IgnorePattern>& patterns) {
  IgnorePattern pattern;
  if (begin < end && *begin == '!') {
    pattern.isNegative = true;
    ++begin;
  }
  if (begin < end && end[-1] == '/') {
    pattern.isDirectoryOnly = true;
    --end;
  }
  pattern.isBaseName = std::memchr(begin, '/', static_cast<size_t>(end - begin)) == nullptr;
  if (!pattern.isBaseName && *begin == '/') ++begin;
  // An empty pattern ("/", "!") matches no name.
  if (begin == end) return;
  pattern.text = SharedString(begin, end);
  patterns.PushBack(static_cast<IgnorePattern&&>(pattern));
}

}  // namespace

bool WildMatch(const char* pattern, const char* text, bool isPathname) {
  const auto* start = reinterpret_cast<const uint8_t*>(pattern);
  MatchContext context{start, isPathname, kMaxMatchSteps};
  return DoWild(context, start, reinterpret_cast<const uint8_t*>(text)) == Wild::kMatch;
}

void ParseIgnoreFile(const char* begin, const char* end, Array<IgnorePattern>& patterns) {
  if (end - begin >= 3 && std::memcmp(begin, "\xEF\xBB\xBF", 3) == 0) begin += 3;
  while (begin < end) {
    const char* lineEnd =
        static_cast<const char*>(std::memchr(begin, '\n', static_cast<size_t>(end - begin)));
    const char* next = lineEnd != nullptr ? lineEnd + 1 : end;
    if (lineEnd == nullptr) lineEnd = end;
    if (lineEnd != begin && *begin != '#') {
      if (lineEnd[-1] == '\r' && lineEnd != next) --lineEnd;
      const char* zero =
          static_cast<const char*>(std::memchr(begin, 0, static_cast<size_t>(lineEnd - begin)));
      if (zero != nullptr) lineEnd = zero;
      lineEnd = TrimTrailingSpaces(begin, lineEnd);
      if (lineEnd - begin <= kMaxPatternBytes) AddPattern(begin, lineEnd, patterns);
    }
    begin = next;
  }
}

struct WalkFilter::Frame {
  int32_t relativeLength = 0;         // of relativePath_ for this directory
  Array<IgnorePattern> patterns;      // .gitignore then .ignore
  Array<IgnorePattern> excludeLines;  // .git/info/exclude
};

WalkFilter::WalkFilter() : isGitignore_(settings.useGitignore) {}

WalkFilter::~WalkFilter() = default;

void WalkFilter::ReadPatterns(const SharedString& path, Array<IgnorePattern>& patterns) {
  // Never through a link, never blocking on a FIFO; only a regular file is read.
  const int descriptor = open(path.CStr(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (descriptor < 0) return;
  struct stat info;
  if (fstat(descriptor, &info) == 0 && S_ISREG(info.st_mode) && info.st_size <= kMaxIgnoreFileBytes) {
    fileBytes_.Resize(static_cast<int32_t>(info.st_size));
    int64_t done = 0;
    while (done < fileBytes_.Count()) {
      const ssize_t got =
          read(descriptor, fileBytes_.Data() + done, static_cast<size_t>(fileBytes_.Count() - done));
      if (got <= 0) break;
      done += got;
    }
    const char* bytes = reinterpret_cast<const char*>(fileBytes_.Data());
    ParseIgnoreFile(bytes, bytes + done, patterns);
  }
  close(descriptor);
}

void WalkFilter::Enter(const SharedString& absolutePath, const SharedString& name) {
  if (!isGitignore_) return;
  if (depth_ > 0) {
    AppendPathComponent(relativePath_, name);
  }
  if (depth_ == frames_.Count()) frames_.PushBack(std::make_unique<Frame>());
  Frame& frame = *frames_[depth_++];
  frame.relativeLength = relativePath_.Length();
  frame.patterns.Clear();
  frame.excludeLines.Clear();
  auto readFile = [&](const char* fileName, Array<IgnorePattern>& patterns) {
    filePath_ = absolutePath;
    AppendPathComponent(filePath_, fileName, static_cast<int32_t>(std::strlen(fileName)));
    ReadPatterns(filePath_, patterns);
  };
  readFile(".gitignore", frame.patterns);
  readFile(".ignore", frame.patterns);
  readFile(".git/info/exclude", frame.excludeLines);
}

void WalkFilter::Leave() {
  if (!isGitignore_ || depth_ == 0) return;
  --depth_;
  const int32_t parentLength = depth_ > 0 ? frames_[depth_ - 1]->relativeLength : 0;
  relativePath_.Erase(parentLength, -1);
}

const IgnorePattern* WalkFilter::LastMatch(bool isExcludeList, const SharedString& name, bool isDirectory) {
  for (int32_t level = depth_ - 1; level >= 0; --level) {
    const Frame& frame = *frames_[level];
    // The path below the ignore file's own directory.
    const int32_t skip = frame.relativeLength == 0 ? 0 : frame.relativeLength + 1;
    const IgnorePattern* match = LastMatchIn(isExcludeList ? frame.excludeLines : frame.patterns, name.CStr(),
                                             candidate_.CStr() + skip, isDirectory);
    if (match != nullptr) return match;
  }
  return nullptr;
}

bool WalkFilter::IsSkipped(const SharedString& name, bool isDirectory) {
  if (!isGitignore_ || depth_ == 0) return false;
  candidate_ = relativePath_;
  AppendPathComponent(candidate_, name);
  const IgnorePattern* match = LastMatch(false, name, isDirectory);
  if (match == nullptr) match = LastMatch(true, name, isDirectory);
  return match != nullptr && !match->isNegative;
}

}  // namespace qm
