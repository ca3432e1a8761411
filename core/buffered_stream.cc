#include "core/buffered_stream.h"

#include <cassert>
#include <cstring>

namespace qm {

namespace {

// Private bits of flags_, above every public stream flag.
constexpr uint32_t kLastWasRead = 1u << 30;
constexpr uint32_t kLastWasWrite = 1u << 31;

// Writes count bytes, looping over short writes; written says how many went out.
bool WriteWhole(Stream& stream, const uint8_t* bytes, int64_t count, int64_t& written) {
  written = 0;
  while (written < count) {
    int64_t bytesDone = 0;
    if (!stream.Write(bytes + written, count - written, bytesDone) || bytesDone <= 0 ||
        bytesDone > count - written) {
      return false;
    }
    written += bytesDone;
  }
  return true;
}

}  // namespace

BufferedStream::BufferedStream(Stream* inner, int32_t bufferSize) : inner_(inner), bufferSize_(bufferSize) {
  assert(inner != nullptr && bufferSize > 0);
  flags_ = inner->Flags() & ~(kLastWasRead | kLastWasWrite);
  if ((flags_ & kStreamPositioned) != 0) position_ = inner->Tell();
  if ((flags_ & kStreamReadable) != 0) readBuffer_.Resize(bufferSize);
  if ((flags_ & kStreamWritable) != 0) writeBuffer_.Resize(bufferSize);
}

BufferedStream::~BufferedStream() {
  Close();
}

bool BufferedStream::Refill() {
  readIndex_ = 0;
  readFill_ = 0;
  int64_t bytesDone = 0;
  if (!inner_->Read(readBuffer_.Data(), bufferSize_, bytesDone) || bytesDone < 0 || bytesDone > bufferSize_) {
    return false;
  }
  readFill_ = static_cast<int32_t>(bytesDone);
  return true;
}

bool BufferedStream::Read(void* buffer, int64_t count, int64_t& bytesDone) {
  bytesDone = 0;
  if (inner_ == nullptr || readBuffer_.IsEmpty() || count < 0) return false;
  if ((flags_ & kLastWasWrite) != 0 && !Flush()) return false;
  flags_ |= kLastWasRead;
  uint8_t* out = static_cast<uint8_t*>(buffer);
  int64_t done = 0;
  bool isOk = true;
  while (done < count) {
    if (readIndex_ < readFill_) {
      const int64_t left = count - done;
      const int32_t buffered = readFill_ - readIndex_;
      const int32_t n = left < buffered ? static_cast<int32_t>(left) : buffered;
      std::memcpy(out + done, readBuffer_.Data() + readIndex_, static_cast<size_t>(n));
      readIndex_ += n;
      done += n;
      continue;
    }
    const int64_t want = count - done;
    if (want >= bufferSize_) {
      int64_t got = 0;
      if (!inner_->Read(out + done, want, got) || got < 0 || got > want) {
        isOk = false;
        break;
      }
      if (got == 0) break;
      done += got;
      continue;
    }
    if (!Refill()) {
      isOk = false;
      break;
    }
    if (readFill_ == 0) break;
  }
  bytesDone = done;
  if (position_ >= 0) position_ += done;
  return isOk;
}

bool BufferedStream::Write(const void* buffer, int64_t count, int64_t& bytesDone) {
  bytesDone = 0;
  if (inner_ == nullptr || writeBuffer_.IsEmpty() || count < 0) return false;
  if ((flags_ & kLastWasRead) != 0 && !Flush()) return false;
  flags_ |= kLastWasWrite;
  const uint8_t* in = static_cast<const uint8_t*>(buffer);
  int64_t done = 0;
  bool isOk = true;
  while (done < count) {
    if (writeFill_ == 0 && count - done >= bufferSize_) {
      int64_t written = 0;
      isOk = WriteWhole(*inner_, in + done, count - done, written);
      done += written;
      break;
    }
    const int64_t left = count - done;
    const int32_t room = bufferSize_ - writeFill_;
    const int32_t n = left < room ? static_cast<int32_t>(left) : room;
    std::memcpy(writeBuffer_.Data() + writeFill_, in + done, static_cast<size_t>(n));
    writeFill_ += n;
    done += n;
    if (writeFill_ == bufferSize_) {
      int64_t written = 0;
      if (!WriteWhole(*inner_, writeBuffer_.Data(), writeFill_, written)) {
        // Keep what did not go out, in order, for a later Flush.
        std::memmove(writeBuffer_.Data(), writeBuffer_.Data() + written,
                     static_cast<size_t>(writeFill_ - written));
        writeFill_ -= static_cast<int32_t>(written);
        isOk = false;
        break;
      }
      writeFill_ = 0;
    }
  }
  bytesDone = done;
  if (position_ >= 0) position_ += done;
  return isOk;
}

bool BufferedStream::Flush() {
  if (inner_ == nullptr) return true;
  if (readIndex_ < readFill_ && position_ >= 0) {
    // Read-ahead left the inner stream past our position; put it back.
    if (!inner_->Seek(position_, kSeekStart)) return false;
  }
  readIndex_ = 0;
  readFill_ = 0;
  if (writeFill_ > 0) {
    int64_t written = 0;
    if (!WriteWhole(*inner_, writeBuffer_.Data(), writeFill_, written)) {
      std::memmove(writeBuffer_.Data(), writeBuffer_.Data() + written,
                   static_cast<size_t>(writeFill_ - written));
      writeFill_ -= static_cast<int32_t>(written);
      return false;
    }
    writeFill_ = 0;
  }
  flags_ &= ~(kLastWasRead | kLastWasWrite);
  return true;
}

bool BufferedStream::Close() {
  if (inner_ == nullptr) return true;
  const bool isOk = Flush();
  inner_ = nullptr;
  flags_ = 0;
  position_ = -1;
  readIndex_ = 0;
  readFill_ = 0;
  writeFill_ = 0;
  return isOk;
}

uint32_t BufferedStream::Flags() {
  return flags_ & ~(kLastWasRead | kLastWasWrite);
}

bool BufferedStream::Seek(int64_t offset, int origin) {
  if (inner_ == nullptr) return false;
  // Relative to our position, which read-ahead has left behind the inner one.
  if (origin == kSeekCurrent && position_ >= 0) {
    if (__builtin_add_overflow(position_, offset, &offset)) return false;
    origin = kSeekStart;
  }
  // Unread bytes are dropped without moving back: the seek moves anyway.
  readIndex_ = 0;
  readFill_ = 0;
  if (!Flush()) return false;
  const bool isOk = inner_->Seek(offset, origin);
  if ((flags_ & kStreamPositioned) != 0) position_ = inner_->Tell();
  return isOk;
}

bool BufferedStream::Truncate() {
  if (inner_ == nullptr || !Flush()) return false;
  return inner_->Truncate();
}

int32_t BufferedStream::ReadByte() {
  int32_t byte = -1;
  if (BeginReadByte(byte)) return byte;
  if ((flags_ & kLastWasWrite) == 0 && readIndex_ < readFill_) {
    flags_ |= kLastWasRead;
    if (position_ >= 0) ++position_;
    return readBuffer_[readIndex_++];
  }
  uint8_t value = 0;
  int64_t bytesDone = 0;
  if (Read(&value, 1, bytesDone) && bytesDone == 1) return value;
  EndReadByte(false);
  return -1;
}

}  // namespace qm
