// Expected report text for end-to-end tests: the 79-dash rule, the conservative type
// table's header block.
#pragma once

#include <string>

namespace qm::test {

inline const std::string kRule = std::string(79, '-') + "\n";
inline const std::string kHeader =
    kRule + "Type                      Files       Blank     Comment Punctuation        Code\n" + kRule;

}  // namespace qm::test
