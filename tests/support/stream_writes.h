// WriteAll for tests of the writing side of streams: writes all count bytes, looping
// over short writes; fails when a write fails or takes no byte. The tool itself writes
// only through file descriptors.
#pragma once

#include <cstdint>

#include "core/stream.h"

namespace qm::test {

inline bool WriteAll(Stream& stream, const void* buffer, int64_t count) {
  const auto* next = static_cast<const uint8_t*>(buffer);
  while (count > 0) {
    int64_t bytesDone = 0;
    if (!stream.Write(next, count, bytesDone) || bytesDone <= 0 || bytesDone > count) return false;
    next += bytesDone;
    count -= bytesDone;
  }
  return true;
}

}  // namespace qm::test
