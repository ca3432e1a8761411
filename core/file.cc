#include "core/file.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/timing_scope.h"

namespace qm {

namespace {

// One read(2) or write(2) never moves more than this (Linux caps at 0x7ffff000).
constexpr int64_t kMaxTransfer = 0x7ffff000;

void FreeFileMemory(void* memory) {
  ObjectPool::FreeObject(memory);
}

int OpenFlagsOf(uint32_t mode) {
  int flags = O_CLOEXEC;
  switch (mode & (kFileRead | kFileWrite)) {
    case kFileRead:
      flags |= O_RDONLY | O_NONBLOCK;
      break;
    case kFileWrite:
      flags |= O_WRONLY;
      break;
    default:
      flags |= O_RDWR;
      break;
  }
  const bool isCreate = (mode & kFileCreate) != 0;
  const bool isTruncate = (mode & kFileTruncate) != 0;
  if (isCreate && isTruncate) {
    flags |= O_CREAT | O_TRUNC;
  } else if (isTruncate) {
    flags |= O_TRUNC;
  } else if (isCreate) {
    flags |= O_CREAT | O_EXCL;
  }
  return flags;
}

}  // namespace

File::~File() {
  Close();
}

Stream::DeallocateFunction File::Deallocator() const {
  return &FreeFileMemory;
}

bool File::Read(void* buffer, int64_t count, int64_t& bytesDone) {
  bytesDone = 0;
  if (descriptorPlusOne_ == 0 || count < 0) return false;
  if (count == 0) return true;
  const size_t ask = static_cast<size_t>(count < kMaxTransfer ? count : kMaxTransfer);
  ssize_t got;
  do {
    got = ::read(Descriptor(), buffer, ask);
  } while (got < 0 && errno == EINTR);
  if (got < 0) return false;
  bytesDone = got;
  return true;
}

bool File::Write(const void* buffer, int64_t count, int64_t& bytesDone) {
  bytesDone = 0;
  if (descriptorPlusOne_ == 0 || count < 0) return false;
  if (count == 0) return true;
  const int descriptor = Descriptor();
  const size_t ask = static_cast<size_t>(count < kMaxTransfer ? count : kMaxTransfer);
  off_t remembered = -1;
  if ((stateFlags_ & kStreamAppend) != 0) {
    remembered = ::lseek(descriptor, 0, SEEK_CUR);
    if (remembered < 0 || ::lseek(descriptor, 0, SEEK_END) < 0) return false;
  }
  ssize_t put;
  do {
    put = ::write(descriptor, buffer, ask);
  } while (put < 0 && errno == EINTR);
  if (remembered >= 0 && ::lseek(descriptor, remembered, SEEK_SET) < 0) put = -1;
  if (put < 0) return false;
  bytesDone = put;
  return true;
}

bool File::Close() {
  if (descriptorPlusOne_ == 0) return true;
  // Linux releases the descriptor even when close(2) fails (EINTR, EIO), so it is
  // never closed again: a second close could hit a descriptor reused by someone else.
  const int result = ::close(Descriptor());
  descriptorPlusOne_ = 0;
  stateFlags_ = 0;
  path_.Clear();
  return result == 0;
}

bool File::Seek(int64_t offset, int origin) {
  if (descriptorPlusOne_ == 0) return false;
  int whence;
  switch (origin) {
    case kSeekStart:
      whence = SEEK_SET;
      break;
    case kSeekCurrent:
      whence = SEEK_CUR;
      break;
    case kSeekEnd:
      whence = SEEK_END;
      break;
    default:
      return false;
  }
  return ::lseek(Descriptor(), static_cast<off_t>(offset), whence) >= 0;
}

int64_t File::Tell() {
  if (descriptorPlusOne_ == 0) return -1;
  const off_t position = ::lseek(Descriptor(), 0, SEEK_CUR);
  return position < 0 ? -1 : static_cast<int64_t>(position);
}

bool File::Flush() {
  if ((stateFlags_ & kStreamWritable) == 0) return true;
  return ::fsync(Descriptor()) == 0;
}

bool File::Truncate() {
  if ((stateFlags_ & kStreamWritable) == 0) return true;
  const off_t position = ::lseek(Descriptor(), 0, SEEK_CUR);
  if (position < 0) return false;
  int result;
  do {
    result = ::ftruncate(Descriptor(), position);
  } while (result < 0 && errno == EINTR);
  return result == 0;
}

Stream* File::Duplicate() {
  if (descriptorPlusOne_ == 0) return nullptr;
  const int64_t position = Tell();
  File* copy = New();
  // Reopening with create or truncate would empty the file or fail on it.
  const uint32_t mode = mode_ & ~(kFileCreate | kFileTruncate);
  if (!copy->Open(path_, mode, share_) || (position >= 0 && !copy->Seek(position, kSeekStart))) {
    copy->Destroy();
    return nullptr;
  }
  return copy;
}

bool File::Open(const SharedString& path, uint32_t mode, uint32_t share) {
  if (descriptorPlusOne_ != 0 && !Close()) return false;
  TimingScope timing("File::Open");
  uint32_t accessFlags;
  switch (mode & (kFileRead | kFileWrite)) {
    case kFileRead:
      accessFlags = kStreamReadable;
      break;
    case kFileWrite:
      accessFlags = kStreamWritable;
      break;
    case kFileRead | kFileWrite:
      accessFlags = kStreamReadable | kStreamWritable;
      break;
    default:
      return false;
  }
  const int openFlags = OpenFlagsOf(mode);
  int descriptor;
  do {
    descriptor = ::open(path.CStr(), openFlags, 0600);
  } while (descriptor < 0 && errno == EINTR);
  if (descriptor < 0) return false;
  if ((openFlags & O_NONBLOCK) != 0) {
    const int statusFlags = ::fcntl(descriptor, F_GETFL);
    if (statusFlags < 0 || ::fcntl(descriptor, F_SETFL, statusFlags & ~O_NONBLOCK) < 0) {
      ::close(descriptor);
      return false;
    }
  }
  descriptorPlusOne_ = descriptor + 1;
  mode_ = mode;
  share_ = share;
  path_ = path;
  stateFlags_ = kStreamOpen | accessFlags;
  if (::lseek(descriptor, 0, SEEK_CUR) >= 0) stateFlags_ |= kStreamPositioned;
  if ((mode & kFileAppend) != 0) stateFlags_ |= kStreamAppend;
  return true;
}

bool File::IsRegularFile() const {
  return descriptorPlusOne_ != 0 && IsRegularDescriptor(Descriptor());
}

bool IsRegularDescriptor(int descriptor) {
  struct stat status;
  return ::fstat(descriptor, &status) == 0 && S_ISREG(status.st_mode);
}

}  // namespace qm
