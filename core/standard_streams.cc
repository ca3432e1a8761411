#include "core/standard_streams.h"

#include <errno.h>
#include <sys/stat.h>
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

bool StandardInputStream::IsRegularFile() {
  if (isRegular_ == 0) {
    struct stat info;
    isRegular_ = fstat(descriptor_, &info) == 0 && S_ISREG(info.st_mode) ? 1 : -1;
  }
  return isRegular_ > 0;
}

uint32_t StandardInputStream::Flags() {
  return kStreamOpen | kStreamReadable | (IsRegularFile() ? kStreamPositioned : 0);
}

bool StandardInputStream::Seek(int64_t offset, int origin) {
  if (!IsRegularFile()) return false;
  const int whence = origin == kSeekStart ? SEEK_SET : origin == kSeekCurrent ? SEEK_CUR : SEEK_END;
  return lseek(descriptor_, static_cast<off_t>(offset), whence) >= 0;
}

int64_t StandardInputStream::Tell() {
  if (!IsRegularFile()) return -1;
  const off_t position = lseek(descriptor_, 0, SEEK_CUR);
  return position < 0 ? -1 : static_cast<int64_t>(position);
}

int64_t StandardInputStream::Size() {
  struct stat info;
  if (!IsRegularFile() || fstat(descriptor_, &info) != 0) return -1;
  return static_cast<int64_t>(info.st_size);
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
