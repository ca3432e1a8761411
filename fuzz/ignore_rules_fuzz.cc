// Fuzz target for the ignore file reader and git's pattern matcher (-gi). The input is
// cut at its first NUL byte into an ignore file and a list of paths, one per line (at
// most 16). Every pattern read is matched against every path with and without the
// pathname rules. Besides memory safety and time (a pattern is matched with one level
// of recursion per run of '*', and never reads past either text), it checks:
//  - a pattern without '*', '?', '[' or '\' matches exactly the equal text;
//  - a path with every byte escaped by '\' is a pattern that matches that path alone.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/ignore_rules.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (size_t{1} << 16)) return 0;
  const char* begin = reinterpret_cast<const char*>(data);
  const char* end = begin + size;
  const char* zero = size == 0 ? nullptr : static_cast<const char*>(std::memchr(begin, 0, size));
  qm::Array<qm::IgnorePattern> patterns;
  qm::ParseIgnoreFile(begin, zero != nullptr ? zero : end, patterns);
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
  for (const qm::IgnorePattern& pattern : patterns) {
    const char* text = pattern.text.CStr();
    const bool isLiteral = std::strpbrk(text, "*?[\\") == nullptr;
    for (const std::string& path : paths) {
      for (const bool isPathname : {false, true}) {
        const bool isMatch = qm::WildMatch(text, path.c_str(), isPathname);
        if (isLiteral && isMatch != (path == text)) std::abort();
      }
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
