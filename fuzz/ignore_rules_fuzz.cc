// Fuzz target for the ignore file reader and git's pattern matcher (-gi). The input is
// cut at its first NUL byte into an ignore file and a list of paths, one per line (at
// most 16). Every rule read is matched against every path (as a name rule or a path
// rule, as read). Besides memory safety, it checks:
//  - the result equals that of git's own method, backtracking (below), wherever that
//    decides within 100,000 steps;
//  - a pattern without '*', '?', '[' or '\' matches exactly the equal text;
//  - a path with every byte escaped by '\' is a pattern that matches that path alone;
//  - time: the matcher's steps stay within 2 (tokens + 1) per path byte for each rule
//    (linear in the path, however the stars nest), and its CPU time within 1 ms plus
//    200 ns a step of that bound.
#include <time.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/ignore_rules.h"

namespace {

// git's wildmatch, backtracking, with its pruning: kAbortAll when the text ran out
// before the pattern, kAbortToStarStar when a single '*' met a '/'.
enum class Wild { kMatch, kNoMatch, kAbortAll, kAbortToStarStar };

struct Reference {
  const uint8_t* patternStart;
  bool isPathname;
  int64_t stepsLeft = 100000;
};

Wild ReferenceClass(const uint8_t*& p, uint8_t c, bool isPathname) {
  uint8_t pc = *p;
  const bool isNegated = pc == '!' || pc == '^';
  if (isNegated) pc = *++p;
  uint8_t previous = 0;
  bool isMatched = false;
  do {
    if (pc == 0) return Wild::kAbortAll;
    if (pc == '\\') {
      pc = *++p;
      if (pc == 0) return Wild::kAbortAll;
      if (c == pc) isMatched = true;
    } else if (pc == '-' && previous != 0 && p[1] != 0 && p[1] != ']') {
      pc = *++p;
      if (pc == '\\' && (pc = *++p) == 0) return Wild::kAbortAll;
      if (c <= pc && c >= previous) isMatched = true;
      pc = 0;
    } else if (pc == '[' && p[1] == ':') {
      const uint8_t* name = p += 2;
      while (*p != 0 && *p != ']') ++p;
      if (*p == 0) return Wild::kAbortAll;
      const int32_t length = static_cast<int32_t>(p - name) - 1;
      if (length < 0 || p[-1] != ':') {
        p = name - 2;
        pc = '[';
        if (c == pc) isMatched = true;
        continue;
      }
      // The named classes themselves: one pattern of each, compiled by the matcher.
      std::string single(1, '[');
      single.append(reinterpret_cast<const char*>(name) - 2, static_cast<size_t>(length) + 4);
      single.push_back(']');
      const char text[2] = {static_cast<char>(c), 0};
      qm::IgnoreSet set;
      set.CompilePattern(single.data(), static_cast<int32_t>(single.size()), false);
      if (set.Rule(0).isNever) return Wild::kAbortAll;
      qm::MatchScratch scratch;
      if (c != 0 && set.Matches(set.Rule(0), text, 1, scratch)) isMatched = true;
      pc = 0;
    } else if (c == pc) {
      isMatched = true;
    }
  } while (previous = pc, (pc = *++p) != ']');
  if (isMatched == isNegated || (isPathname && c == '/')) return Wild::kNoMatch;
  return Wild::kMatch;
}

Wild ReferenceMatch(Reference& r, const uint8_t* p, const uint8_t* text) {
  if (--r.stepsLeft < 0) return Wild::kAbortAll;
  for (; *p != 0; ++text, ++p) {
    uint8_t tc = *text;
    uint8_t pc = *p;
    if (tc == 0 && pc != '*') return Wild::kAbortAll;
    switch (pc) {
      case '\\':
        pc = *++p;
        if (tc != pc) return Wild::kNoMatch;
        break;
      case '?':
        if (r.isPathname && tc == '/') return Wild::kNoMatch;
        break;
      case '[': {
        ++p;
        const Wild result = ReferenceClass(p, tc, r.isPathname);
        if (result != Wild::kMatch) return result;
        break;
      }
      case '*': {
        const bool isAfterSlash = p == r.patternStart || p[-1] == '/';
        const uint8_t* firstStar = p;
        while (*++p == '*') {
        }
        bool isMatchingSlash = !r.isPathname;
        if (r.isPathname && p - firstStar >= 2 && isAfterSlash &&
            (*p == 0 || *p == '/' || (p[0] == '\\' && p[1] == '/'))) {
          if (p[0] == '/' && ReferenceMatch(r, p + 1, text) == Wild::kMatch) return Wild::kMatch;
          isMatchingSlash = true;
        }
        if (*p == 0) {
          if (!isMatchingSlash && std::strchr(reinterpret_cast<const char*>(text), '/') != nullptr) {
            return Wild::kNoMatch;
          }
          return Wild::kMatch;
        }
        if (!isMatchingSlash && *p == '/') {
          const char* slash = std::strchr(reinterpret_cast<const char*>(text), '/');
          if (slash == nullptr) return Wild::kNoMatch;
          text = reinterpret_cast<const uint8_t*>(slash);
          break;
        }
        for (;; tc = *++text) {
          if (tc == 0) break;
          if (--r.stepsLeft < 0) return Wild::kAbortAll;
          const Wild result = ReferenceMatch(r, p, text);
          if (result != Wild::kNoMatch) {
            if (!isMatchingSlash || result != Wild::kAbortToStarStar) return result;
          } else if (!isMatchingSlash && tc == '/') {
            return Wild::kAbortToStarStar;
          }
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

// As git matches one rule: the literal prefix of a path rule compared, the rest given
// to wildmatch on its own. -1 when it did not decide in time.
int ReferenceRule(const std::string& pattern, const std::string& text, bool isPathname, int32_t prefix) {
  if (isPathname) {
    if (text.compare(0, static_cast<size_t>(prefix), pattern, 0, static_cast<size_t>(prefix)) != 0 ||
        text.size() < static_cast<size_t>(prefix)) {
      return 0;
    }
  } else {
    prefix = 0;
  }
  const std::string rest = pattern.substr(static_cast<size_t>(prefix));
  Reference r{reinterpret_cast<const uint8_t*>(rest.c_str()), isPathname};
  const Wild result =
      ReferenceMatch(r, r.patternStart, reinterpret_cast<const uint8_t*>(text.c_str() + prefix));
  if (r.stepsLeft < 0) return -1;
  return result == Wild::kMatch ? 1 : 0;
}

int64_t CpuNanoseconds() {
  timespec now;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return int64_t{now.tv_sec} * 1000000000 + now.tv_nsec;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (size_t{1} << 16)) return 0;
  const char* begin = reinterpret_cast<const char*>(data);
  const char* end = begin + size;
  const char* zero = size == 0 ? nullptr : static_cast<const char*>(std::memchr(begin, 0, size));
  qm::IgnoreSet set;
  if (!set.Compile(begin, zero != nullptr ? zero : end, qm::kMaxIgnoreCost)) std::abort();
  std::vector<std::string> paths;
  if (zero != nullptr) {
    std::string all(zero + 1, end);
    size_t start = 0;
    while (paths.size() < 16 && start <= all.size()) {
      size_t stop = all.find('\n', start);
      if (stop == std::string::npos) stop = all.size();
      std::string path = all.substr(start, stop - start);
      path.resize(std::strlen(path.c_str()));  // a path never holds a NUL
      paths.push_back(path);
      start = stop + 1;
    }
  }
  for (const std::string& path : paths) {
    int64_t bound = 0;
    qm::MatchScratch scratch;
    const int64_t startNs = CpuNanoseconds();
    std::vector<bool> results;
    for (int32_t i = 0; i < set.RuleCount(); ++i) {
      const qm::IgnoreRule& rule = set.Rule(i);
      bound +=
          1 + rule.textLength + 2 * (int64_t{rule.tokenCount} + 1) * (static_cast<int64_t>(path.size()) + 1);
      results.push_back(set.Matches(rule, path.data(), static_cast<int32_t>(path.size()), scratch));
    }
    const int64_t elapsedNs = CpuNanoseconds() - startNs;
    if (scratch.steps > bound || elapsedNs > 1000000 + 200 * bound) std::abort();
    for (int32_t i = 0; i < set.RuleCount(); ++i) {
      const qm::IgnoreRule& rule = set.Rule(i);
      const std::string pattern(set.Text(rule), static_cast<size_t>(rule.textLength));
      const bool isMatch = results[static_cast<size_t>(i)];
      const int expected = ReferenceRule(pattern, path, !rule.isBaseName, rule.prefixLength);
      if (expected >= 0 && isMatch != (expected == 1)) std::abort();
      if (pattern.find_first_of("*?[\\") == std::string::npos && isMatch != (path == pattern)) std::abort();
    }
  }
  for (const std::string& path : paths) {
    std::string escaped;
    for (const char c : path) {
      escaped += '\\';
      escaped += c;
    }
    if (!qm::WildMatch(escaped.c_str(), path.c_str(), true)) std::abort();
    if (!path.empty() && qm::WildMatch(escaped.c_str(), (path + "x").c_str(), true)) std::abort();
  }
  return 0;
}
