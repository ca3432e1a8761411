#include "core/path.h"

#include <unistd.h>

#include <cstdlib>

namespace qm {

namespace {

bool IsQuote(char c) {
  return c == '\'' || c == '"';
}

// Index of the last '/' before index end, or -1.
int32_t LastSlashBefore(const SharedString& path, int32_t end) {
  const char* text = path.CStr();
  for (int32_t i = end - 1; i >= 0; --i) {
    if (text[i] == '/') return i;
  }
  return -1;
}

void CollapseSlashRuns(SharedString& path) {
  bool isFirstRun = true;
  int32_t at = path.Find("/", 0);
  while (at >= 0) {
    int32_t runEnd = at;
    while (runEnd < path.Length() && path[runEnd] == '/') ++runEnd;
    int32_t keep = isFirstRun ? 2 : 1;
    isFirstRun = false;
    int32_t runLength = runEnd - at;
    if (runLength > keep) {
      path.Erase(at + keep, runLength - keep);
      runLength = keep;
    }
    at = path.Find("/", at + runLength);
  }
}

void StripEnclosing(SharedString& path) {
  for (;;) {
    int32_t before = path.Length();
    path.Trim();
    bool isChanged = path.Length() != before;
    int32_t length = path.Length();
    if (length >= 2 && IsQuote(path[0]) && path[length - 1] == path[0]) {
      path.Erase(length - 1, 1);
      path.Erase(0, 1);
      isChanged = true;
    }
    length = path.Length();
    if (length >= 2 && path[length - 1] == '/') {
      path.Erase(length - 1, 1);
      isChanged = true;
    }
    if (!isChanged) return;
  }
}

// Removes "component/../" pairs. A match preceded by '.' or '/' is left alone, so
// ".." and "." components are never consumed by a following "..".
void ResolveParentSteps(SharedString& path) {
  for (;;) {
    bool isChanged = false;
    int32_t at = path.Find("/../", 1);
    while (at > 0) {
      char before = path[at - 1];
      if (before == '.' || before == '/') {
        at = path.Find("/../", at + 1);
        continue;
      }
      int32_t start = LastSlashBefore(path, at) + 1;
      path.Erase(start, at + 4 - start);
      isChanged = true;
      at = path.Find("/../", start);
    }
    if (!isChanged) return;
  }
}

}  // namespace

void NormalizePath(SharedString& path) {
  if (path.Find("\\", 0) >= 0) path.ReplaceAll("\\", "/");
  while (path.Find("/./", 0) >= 0) path.ReplaceAll("/./", "/");
  if (path.StartsWith("./")) path.EraseLeft(2);
  CollapseSlashRuns(path);
  StripEnclosing(path);
  ResolveParentSteps(path);
  while (path.EndsWith("/.")) {
    // "/." names the root: dropping both bytes would turn it into the working
    // directory.
    if (path.Length() == 2) {
      path.Erase(1, 1);
      break;
    }
    path.Erase(path.Length() - 2, 2);
  }
  while (path.EndsWith("/..")) {
    int32_t length = path.Length();
    if (length < 4) break;
    char before = path[length - 4];
    if (before == '.' || before == '/') break;
    path.Erase(LastSlashBefore(path, length - 3) + 1, -1);
  }
}

SharedString JoinPath(const SharedString& a, const SharedString& b) {
  SharedString tail(b);
  NormalizePath(tail);
  if (a.IsEmpty()) return tail;
  if (tail.IsEmpty()) return a;
  SharedString joined(a);
  if (!joined.EndsWith("/") && !tail.StartsWith("/")) joined.Append("/", 1);
  joined.Append(tail);
  NormalizePath(joined);
  return joined;
}

void AppendPathComponent(SharedString& path, const char* name, int32_t length) {
  if (!path.IsEmpty() && !path.EndsWith("/")) path.Append("/", 1);
  path.Append(name, length);
}

SharedString MakeRelative(const SharedString& path, const SharedString& base) {
  SharedString normalBase(base);
  NormalizePath(normalBase);
  const char* pathText = path.CStr();
  const char* baseText = normalBase.CStr();
  int32_t pathLength = path.Length();
  int32_t baseLength = normalBase.Length();
  int32_t common = 0;
  while (common < pathLength && common < baseLength && pathText[common] == baseText[common]) {
    ++common;
  }
  int32_t pathCut;
  int32_t baseCut;
  if (common == baseLength && common < pathLength && pathText[common] == '/') {
    pathCut = common + 1;
    baseCut = baseLength;
  } else {
    pathCut = LastSlashBefore(normalBase, common) + 1;
    baseCut = pathCut;
  }
  int32_t upCount = 0;
  for (int32_t i = baseCut; i < baseLength; ++i) upCount += baseText[i] == '/';
  if (baseCut < baseLength) ++upCount;

  SharedString result;
  for (int32_t i = 0; i < upCount; ++i) result.Append("../", 3);
  result.Append(pathText + pathCut, pathLength - pathCut);
  NormalizePath(result);
  return result;
}

SharedString CurrentDirectory() {
  char buffer[8192];
  if (getcwd(buffer, sizeof buffer) == nullptr) return SharedString();
  SharedString directory(buffer);
  NormalizePath(directory);
  return directory;
}

bool RealPath(const SharedString& path, SharedString& realPath) {
  char* resolved = realpath(path.CStr(), nullptr);
  if (resolved == nullptr) return false;
  realPath = SharedString(resolved);
  std::free(resolved);
  return true;
}

}  // namespace qm
