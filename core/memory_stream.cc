#include "core/memory_stream.h"

#include <cassert>
#include <cstring>

namespace qm {

namespace {

// Stands in for a null external pointer so that an empty external stream stays
// read-only.
constexpr uint8_t kNoBytes[1] = {0};

}  // namespace

MemoryStream::MemoryStream(const char* text) {
  const size_t length = text != nullptr ? std::strlen(text) : 0;
  assert(length <= static_cast<size_t>(INT32_MAX));
  SetExternal(text, static_cast<int32_t>(length));
}

void MemoryStream::SetExternal(const void* bytes, int32_t length) {
  assert(length >= 0);
  external_ = bytes != nullptr ? static_cast<const uint8_t*>(bytes) : kNoBytes;
  externalLength_ = bytes != nullptr && length > 0 ? length : 0;
  position_ = 0;
}

void MemoryStream::ResetOwned() {
  external_ = nullptr;
  externalLength_ = 0;
  owned_.Resize(0);
  position_ = 0;
}

bool MemoryStream::Read(void* buffer, int64_t count, int64_t& bytesDone) {
  const int64_t left = int64_t{SizeInBytes()} - position_;
  int64_t n = count < left ? count : left;
  if (n < 0) n = 0;
  if (n > 0) std::memcpy(buffer, Data() + position_, static_cast<size_t>(n));
  position_ += static_cast<int32_t>(n);
  bytesDone = n;
  return true;
}

bool MemoryStream::Write(const void* buffer, int64_t count, int64_t& bytesDone) {
  bytesDone = 0;
  if (external_ != nullptr || count < 0) return false;
  if (count == 0) return true;
  const int64_t end = int64_t{position_} + count;
  if (end > INT32_MAX) return false;
  if (end > owned_.Count()) owned_.Resize(static_cast<int32_t>(end));
  std::memcpy(owned_.Data() + position_, buffer, static_cast<size_t>(count));
  position_ = static_cast<int32_t>(end);
  bytesDone = count;
  return true;
}

uint32_t MemoryStream::Flags() {
  return external_ != nullptr ? kStreamOpen | kStreamReadable | kStreamPositioned
                              : kStreamOpen | kStreamReadable | kStreamWritable | kStreamPositioned;
}

bool MemoryStream::Seek(int64_t offset, int origin) {
  int64_t base;
  switch (origin) {
    case kSeekStart:
      base = 0;
      break;
    case kSeekCurrent:
      base = position_;
      break;
    case kSeekEnd:
      base = SizeInBytes();
      break;
    default:
      return false;
  }
  int64_t target;
  if (__builtin_add_overflow(base, offset, &target)) return false;
  if (target < 0) target = 0;
  // A position past 2^31 - 1 (or its low 32 bits, which may be negative) would let a
  // later read or write leave the bytes: refuse it and keep the position.
  if (target > INT32_MAX) return false;
  position_ = static_cast<int32_t>(target);
  return true;
}

bool MemoryStream::Truncate() {
  if (external_ != nullptr) return false;
  owned_.Resize(position_);
  return true;
}

Stream* MemoryStream::Duplicate() {
  MemoryStream* copy = new MemoryStream();
  copy->external_ = external_;
  copy->externalLength_ = externalLength_;
  copy->owned_ = owned_;
  copy->position_ = position_;
  return copy;
}

int32_t MemoryStream::ReadByte() {
  int32_t byte = -1;
  if (BeginReadByte(byte)) return byte;
  if (position_ < SizeInBytes()) return Data()[position_++];
  EndReadByte(false);
  return -1;
}

}  // namespace qm
