#include "archive/limited_stream.h"

#include <cassert>

namespace qm {

LimitedStream::LimitedStream(Stream& inner, int64_t length, bool checksEnd)
    : inner_(inner), remaining_(length), checksEnd_(checksEnd) {
  assert(length >= 0);
}

uint32_t LimitedStream::Flags() {
  return kStreamOpen | kStreamReadable;
}

bool LimitedStream::CheckEnd() {
  endChecked_ = true;
  uint8_t probe = 0;
  int64_t got = 0;
  if (!inner_.Read(&probe, 1, got) || got != 0) failed_ = true;
  return !failed_;
}

bool LimitedStream::Read(void* buffer, int64_t count, int64_t& bytesDone) {
  bytesDone = 0;
  if (failed_) return false;
  auto* cursor = static_cast<uint8_t*>(buffer);
  int64_t wanted = count < remaining_ ? count : remaining_;
  while (wanted > 0) {
    int64_t got = 0;
    if (!inner_.Read(cursor, wanted, got) || got <= 0 || got > wanted) {
      failed_ = true;  // a member that ends inside its window is damaged
      return false;
    }
    cursor += got;
    wanted -= got;
    bytesDone += got;
    remaining_ -= got;
  }
  if (remaining_ == 0 && checksEnd_ && !endChecked_) return CheckEnd();
  return true;
}

bool LimitedStream::SkipRest() {
  if (failed_) return false;
  const int64_t rest = remaining_;
  remaining_ = 0;
  if (!PassOver(inner_, rest)) {
    failed_ = true;
    return false;
  }
  return true;
}

}  // namespace qm
