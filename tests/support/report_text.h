// Expected report text for end-to-end tests: the 79-dash rule, the conservative type
// table's header block and one row with numbers as printed (already formatted).
#pragma once

#include <cstdio>
#include <string>

namespace qm::test {

inline const std::string kRule = std::string(79, '-') + "\n";
inline const std::string kHeader =
    kRule + "Type                      Files       Blank     Comment Punctuation        Code\n" + kRule;

inline std::string Row(const char* name, const char* files, const char* blank, const char* comment,
                       const char* punctuation, const char* code) {
  char line[200];
  std::snprintf(line, sizeof line, "%-19s %11s %11s %11s %11s %11s\n", name, files, blank, comment,
                punctuation, code);
  return line;
}

}  // namespace qm::test
