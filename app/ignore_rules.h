// Ignore rules of the walk: -gi (.gitignore, .ignore and .git/info/exclude read with
// git's pattern rules; -xn and -xd are app/exclusions.h).
// A WalkFilter owns the patterns of the directories along the walk's current path, so
// memory is bounded by them. Nothing here prints or fails. Not thread-safe: one filter
// per walk; non-copyable.

// WalkFilter follows the walk's stack of directories: entering a directory reads its
// ignore files into a frame, leaving drops the frame. Each file is read only up to
// kMaxIgnoreFileBytes; a larger one, a link or a non-regular file is not read, and an
// ignore file that cannot be read has no patterns.
#pragma once

#include <cstdint>
#include <memory>

#include "core/array.h"
#include "core/shared_string.h"

namespace qm {

inline constexpr int64_t kMaxIgnoreFileBytes = 16 * 1048576;
// Longer pattern lines are dropped; matching recurses once per '*' run of a pattern.
inline constexpr int32_t kMaxPatternBytes = 4096;
// Backtracking over many '*' and "**" can take time exponential in their number
// ("**/a/**/a/.../b" against a deep path). A match that has not decided within this
// many steps (a few milliseconds) is taken as no match: the entry is not ignored.
inline constexpr int64_t kMaxMatchSteps = 1000000;

// git's wildmatch: '*' and '?' (never across '/' when isPathname), "**" between
// slashes or at either end (any number of directories), character classes with
// ranges, '!' or '^' negation and [:name:] classes, '\' escaping the next byte.
// Byte-exact and case-sensitive. Both texts are zero-terminated. At most
// kMaxMatchSteps steps.
bool WildMatch(const char* pattern, const char* text, bool isPathname);

// One line of an ignore file, parsed.
struct IgnorePattern {
  SharedString text;             // without '!', a trailing '/' and, for paths, a leading '/'
  bool isNegative = false;       // "!pattern": re-includes
  bool isDirectoryOnly = false;  // "pattern/": matches directories only
  bool isBaseName = false;       // no '/': matches an entry's own name at any depth
};

// Appends the patterns of an ignore file's bytes, in file order: a UTF-8 byte order
// mark is skipped, lines end at LF (a CR before it is dropped), empty lines and lines
// starting with '#' are skipped, unescaped trailing spaces are trimmed, and a line is
// cut at a zero byte.
void ParseIgnoreFile(const char* begin, const char* end, Array<IgnorePattern>& patterns);

class WalkFilter {
 public:
  WalkFilter();
  ~WalkFilter();
  WalkFilter(const WalkFilter&) = delete;
  WalkFilter& operator=(const WalkFilter&) = delete;

  // The walk entered a directory: its exact absolute path and its name ("" for the
  // directory argument, where the relative paths of the patterns start). With -gi
  // reads the directory's .gitignore, .ignore (its lines after those of .gitignore)
  // and, when it holds .git, .git/info/exclude.
  void Enter(const SharedString& absolutePath, const SharedString& name);
  // The walk left the directory entered last.
  void Leave();
  // Whether an entry of the directory entered last is skipped: with -gi an entry that
  // git would ignore. The deepest ignore file with a
  // matching line decides, by its last matching line; .git/info/exclude comes after
  // every .gitignore and .ignore.
  bool IsSkipped(const SharedString& name, bool isDirectory);

 private:
  struct Frame;
  void ReadPatterns(const SharedString& path, Array<IgnorePattern>& patterns);
  // The deciding pattern for the entry, or null.
  const IgnorePattern* LastMatch(bool isExcludeList, const SharedString& name, bool isDirectory);

  bool isGitignore_;
  Array<std::unique_ptr<Frame>> frames_;  // reused; [0, depth_) are the current path
  int32_t depth_ = 0;
  SharedString relativePath_;  // of the directory entered last, from the argument
  SharedString candidate_;     // relativePath_ '/' name, reused
  SharedString filePath_;      // reused for ignore file paths
  Array<uint8_t> fileBytes_;   // reused
};

}  // namespace qm
