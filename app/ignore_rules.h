// Ignore rules of the walk: -gi (.gitignore, .ignore and .git/info/exclude read with
// git's pattern rules; -xn and -xd are app/exclusions.h).
// Each ignore file is compiled once into an IgnoreSet; files of equal content along the
// walk's path share one set, and all sets held at once cost at most kMaxIgnoreCost
// bytes. Nothing here prints. One filter per walk, one thread; non-copyable.

// Matching never backtracks: a pattern's wildcards run as a set of positions stepped
// once per byte of the path, so an entry costs at most 2 (tokens + 1) steps per path
// byte for each pattern whose literal prefix it shares (the prefix is compared first),
// however many '*' and "**" the pattern holds. Compiling is linear in the file. Memory:
// the sets held (at most kMaxIgnoreCost) and the file being read (at most
// kMaxIgnoreFileBytes).
//
// WalkFilter follows the walk's stack of directories: entering a directory reads its
// ignore files and takes their sets into a frame, leaving drops the frame and frees
// the sets no other frame shares. Only a regular file that is no link is read. An
// ignore file over kMaxIgnoreFileBytes, or whose set would take the sets held past
// kMaxIgnoreCost, is refused: it applies no pattern and Enter lists it in Refused()
// for the walk to report ("ignoring FILE: too large or too complex", an error). An
// ignore file that cannot be read has no patterns.
#pragma once

#include <cstdint>
#include <memory>

#include "core/array.h"
#include "core/shared_string.h"

namespace qm {

inline constexpr int64_t kMaxIgnoreFileBytes = 16 * 1048576;
// Bytes of compiled patterns (each set's text, rules, tokens and classes) held at once
// by one walk; a set counts once however many files share it.
inline constexpr int64_t kMaxIgnoreCost = 64 * 1048576;

// Bookkeeping of one match: steps taken (a step is one position of a pattern stepped
// over one byte, or one byte compared), and the position sets of long patterns.
struct MatchScratch {
  int64_t steps = 0;
  Array<uint64_t> states;
};

// One line of an ignore file, as parsed: its pattern is text[textOffset,
// textOffset + textLength) of the set, without '!', a trailing '/' and, for paths, a
// leading '/'.
struct IgnoreRule {
  int32_t textOffset = 0;
  int32_t textLength = 0;
  int32_t prefixLength = 0;  // bytes before the first '*', '?', '[' or '\'
  int32_t tokenOffset = 0;   // the wildcard part behind the prefix, compiled
  int32_t tokenCount = 0;
  bool isNegative = false;       // "!pattern": re-includes
  bool isDirectoryOnly = false;  // "pattern/": matches directories only
  bool isBaseName = false;       // no '/': matches an entry's own name at any depth
  bool isNever = false;          // a trailing '\' or a malformed class: matches nothing
  bool isSuffix = false;         // a name pattern '*' + literal: compared from the end
  int16_t requiredByte = -1;     // a literal byte every match holds behind the prefix, or -1
};

// IgnoreSet: the patterns of one ignore file, compiled, with a copy of its bytes (the
// patterns' text, and what tells files of equal content apart). Move-only.
class IgnoreSet {
 public:
  IgnoreSet() = default;
  IgnoreSet(const IgnoreSet&) = delete;
  IgnoreSet& operator=(const IgnoreSet&) = delete;
  IgnoreSet(IgnoreSet&&) = default;
  IgnoreSet& operator=(IgnoreSet&&) = default;

  // Reads the lines of an ignore file as git does: a UTF-8 byte order mark is skipped,
  // lines end at LF and a CR before it (or before the end of the file) is dropped,
  // empty lines and lines starting with '#' are skipped, unescaped trailing spaces are
  // trimmed, and a line is cut at a zero byte. Patterns may be of any length. Returns
  // false, leaving the set empty, when the set would cost more than maxCost bytes; the
  // cost is known before anything is allocated.
  bool Compile(const char* begin, const char* end, int64_t maxCost);
  // Takes the file's bytes from bytes (left empty) instead of copying them; on false
  // they stay.
  bool Compile(Array<char>& bytes, int64_t maxCost);
  // One pattern taken as it is (no line rules), as a path or as a name pattern.
  void CompilePattern(const char* pattern, int32_t length, bool isPathname);
  void Clear();

  int32_t RuleCount() const { return rules_.Count(); }
  const IgnoreRule& Rule(int32_t index) const { return rules_[index]; }
  const char* Text(const IgnoreRule& rule) const { return text_.Data() + rule.textOffset; }
  // Bytes the set holds (what the walk's budget counts).
  int64_t Cost() const { return cost_; }
  // Whether the set was compiled from exactly these bytes.
  bool IsCompiledFrom(const char* begin, const char* end) const;

  // The last rule that matches an entry, or null: name is the entry's own name, path
  // its path below the ignore file's directory ('/' between components).
  const IgnoreRule* LastMatch(const char* name, int32_t nameLength, const char* path, int32_t pathLength,
                              bool isDirectory, MatchScratch& scratch) const;
  // Whether one rule matches text (the name for a name rule, else the path).
  bool Matches(const IgnoreRule& rule, const char* text, int32_t length, MatchScratch& scratch) const;

 private:
  Array<char> text_;
  Array<IgnoreRule> rules_;
  Array<uint32_t> tokens_;
  Array<uint64_t> classes_;  // 4 words (256 bits) per character class
  int64_t cost_ = 0;
};

// git's wildmatch of one pattern against one text, as a path (isPathname: '*', '?'
// and classes never match '/', "**" between slashes spans directories) or as a name.
// Compiles the pattern first; for tests and fuzzing.
bool WildMatch(const char* pattern, const char* text, bool isPathname);

class WalkFilter {
 public:
  WalkFilter();
  ~WalkFilter();
  WalkFilter(const WalkFilter&) = delete;
  WalkFilter& operator=(const WalkFilter&) = delete;

  // The walk entered a directory: its exact absolute path and its name ("" for the
  // directory argument, where the relative paths of the patterns start). With -gi
  // reads the directory's .gitignore, .ignore (its lines after those of .gitignore)
  // and, when it holds .git, .git/info/exclude. Refused() lists the files refused.
  void Enter(const SharedString& absolutePath, const SharedString& name);
  // The walk left the directory entered last.
  void Leave();
  // Whether an entry of the directory entered last is skipped: with -gi an entry that
  // git would ignore. The deepest ignore file with a
  // matching line decides, by its last matching line; .git/info/exclude comes after
  // every .gitignore and .ignore.
  bool IsSkipped(const SharedString& name, bool isDirectory);
  // The paths of the ignore files the last Enter refused (too large or too costly).
  const Array<SharedString>& Refused() const { return refused_; }

 private:
  struct Frame;
  struct SharedSet;
  // The set of the ignore file at path, shared or compiled, or null when there is
  // none, it cannot be read, or it is refused.
  SharedSet* TakeSet(const SharedString& path);
  void Release(SharedSet*& set);
  // The deciding rule for the entry, or null.
  const IgnoreRule* LastMatch(bool isExcludeList, const SharedString& name, bool isDirectory);

  bool isGitignore_;
  Array<std::unique_ptr<Frame>> frames_;  // reused; [0, depth_) are the current path
  int32_t depth_ = 0;
  Array<std::unique_ptr<SharedSet>> sets_;  // every set some frame holds
  int64_t heldCost_ = 0;
  Array<SharedString> refused_;
  SharedString relativePath_;  // of the directory entered last, from the argument
  SharedString candidate_;     // relativePath_ '/' name, reused
  SharedString filePath_;      // reused for ignore file paths
  Array<char> fileBytes_;      // reused
  MatchScratch scratch_;
};

}  // namespace qm
