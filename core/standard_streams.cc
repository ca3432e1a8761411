#include "core/standard_streams.h"

#include <errno.h>
#include <unistd.h>

#include <new>

namespace qm {

namespace {

// One read(2) or write(2) never moves more than this (Linux caps at 0x7ffff000).
constexpr int64_t kMaxTransfer = 0x7ffff000;

// Made on first use and never destroyed, so start-up code and exit handlers in any
// order may use them.
template <typename T, int kDescriptor>
T& ProcessStream() {
  alignas(T) static unsigned char storage[sizeof(T)];
  static T* const stream = new (storage) T(kDescriptor);
  return *stream;
}

}  // namespace

bool StandardInputStream::Read(void* buffer, int64_t count, int64_t& bytesDone) {
  bytesDone = 0;
  if (count < 0) return false;
  char* out = static_cast<char*>(buffer);
  while (bytesDone < count) {
    const int64_t left = count - bytesDone;
    const ssize_t got =
        ::read(descriptor_, out + bytesDone, static_cast<size_t>(left < kMaxTransfer ? left : kMaxTransfer));
    if (got < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (got == 0) break;
    bytesDone += got;
  }
  return true;
}

bool StandardOutputStream::Write(const void* buffer, int64_t count, int64_t& bytesDone) {
  bytesDone = 0;
  if (count < 0) return false;
  const char* in = static_cast<const char*>(buffer);
  while (bytesDone < count) {
    const int64_t left = count - bytesDone;
    const ssize_t put =
        ::write(descriptor_, in + bytesDone, static_cast<size_t>(left < kMaxTransfer ? left : kMaxTransfer));
    if (put < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    // write(2) taking nothing for a non-empty request would loop forever.
    if (put == 0) return false;
    bytesDone += put;
  }
  return true;
}

StandardInputStream& StandardInput() {
  return ProcessStream<StandardInputStream, 0>();
}
StandardOutputStream& StandardOutput() {
  return ProcessStream<StandardOutputStream, 1>();
}
StandardOutputStream& StandardError() {
  return ProcessStream<StandardOutputStream, 2>();
}

}  // namespace qm
