// Linked into every benchmark: numbers from a build with assertions on or without
// optimisation say little, so such a build says so before it measures anything.
#include <cstdio>

namespace {

struct BuildCheck {
  BuildCheck() {
#if !defined(NDEBUG) || !defined(__OPTIMIZE__)
    std::fprintf(stderr,
                 "warning: benchmark built with assertions on or without optimisation; "
                 "numbers are not representative\n");
#endif
  }
} buildCheck;

}  // namespace
