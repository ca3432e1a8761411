#include "core/stream.h"

#include <cassert>
#include <new>

namespace qm {

namespace {

void DeleteStreamMemory(void* memory) {
  ::operator delete(memory);
}

// What ReadAll may put in one Array (its count is 32-bit).
constexpr int64_t kMaxArrayBytes = INT32_MAX;

// Where ReadAll and Skip put the pieces they read: off the stack, so that callers
// that nest (archive scanning inside archive scanning) keep small frames. One of each
// per thread, so a stream whose Read skips cannot overwrite a piece ReadAll holds.
uint8_t* ReadAllBuffer() {
  alignas(16) static thread_local uint8_t buffer[kStreamChunkSize];
  return buffer;
}
uint8_t* SkipBuffer() {
  alignas(16) static thread_local uint8_t buffer[kStreamChunkSize];
  return buffer;
}

}  // namespace

Stream::~Stream() = default;

void Stream::Destroy() {
  assert(Holders() == 0);
  const DeallocateFunction deallocate = Deallocator();
  void* memory = dynamic_cast<void*>(this);
  this->~Stream();
  deallocate(memory);
}

void Stream::OnRelease() {}

Stream::DeallocateFunction Stream::Deallocator() const {
  return &DeleteStreamMemory;
}

bool Stream::Read(void*, int64_t, int64_t& bytesDone) {
  bytesDone = 0;
  return false;
}

bool Stream::Write(const void*, int64_t, int64_t& bytesDone) {
  bytesDone = 0;
  return false;
}

bool Stream::Close() {
  return true;
}

uint32_t Stream::Flags() {
  return 0;
}

bool Stream::Rewind() {
  return Seek(0, kSeekStart);
}

bool Stream::SeekToEnd() {
  return Seek(0, kSeekEnd);
}

bool Stream::Seek(int64_t, int) {
  return false;
}

int64_t Stream::Tell() {
  return -1;
}

int64_t Stream::Size() {
  const int64_t position = Tell();
  if (position < 0 || !SeekToEnd()) return -1;
  const int64_t size = Tell();
  // A stream that cannot go back has lost its place: its size is no use to anyone.
  if (!Seek(position, kSeekStart)) return -1;
  return size;
}

bool Stream::Flush() {
  return true;
}

bool Stream::Truncate() {
  return false;
}

bool Stream::AtEnd() {
  const int64_t position = Tell();
  if (position < 0) return false;
  return Size() == position;
}

Stream* Stream::Duplicate() {
  return nullptr;
}

int32_t Stream::ReadByte() {
  int32_t byte = -1;
  if (BeginReadByte(byte)) return byte;
  uint8_t value = 0;
  int64_t bytesDone = 0;
  if (Read(&value, 1, bytesDone) && bytesDone == 1) return value;
  EndReadByte(false);
  return -1;
}

void Stream::UnreadByte(int32_t byte) {
  if (byte < 0) return;
  pushback_.PushBack(byte);
  --readByteCount_;
}

bool Stream::BeginReadByte(int32_t& byte) {
  ++readByteCount_;
  if (pushback_.IsEmpty()) return false;
  byte = pushback_.Back();
  pushback_.PopBack();
  return true;
}

void Stream::AddHolder() {
  holders_.fetch_add(1, std::memory_order_relaxed);
}

void Stream::ReleaseHolder() {
  const uint32_t before = holders_.fetch_sub(1, std::memory_order_acq_rel);
  assert(before > 0);
  if (before == 1) {
    OnRelease();
    Destroy();
  }
}

bool ReadAll(Stream& stream, Array<uint8_t>& bytes, int64_t extra, int64_t limit) {
  assert(extra >= 0);
  bytes.Resize(0);
  if ((stream.Flags() & kStreamPositioned) == 0) {
    uint8_t* chunk = ReadAllBuffer();
    int64_t total = 0;
    for (;;) {
      int64_t bytesDone = 0;
      if (!stream.Read(chunk, kStreamChunkSize, bytesDone) || bytesDone < 0 || bytesDone > kStreamChunkSize) {
        break;
      }
      if (bytesDone == 0) {
        if (total + extra > kMaxArrayBytes) break;
        bytes.Reserve(static_cast<int32_t>(total + extra));
        return true;
      }
      total += bytesDone;
      if (total > limit || total > kMaxArrayBytes) break;
      bytes.Append(chunk, static_cast<int32_t>(bytesDone));
    }
    bytes.Resize(0);
    return false;
  }

  const int64_t size = stream.Size();
  // s + extra > limit, written so that it cannot overflow.
  if (size < 0 || size > limit || extra > limit - size) return false;
  if (extra > kMaxArrayBytes - size) return false;
  if (!stream.Rewind()) return false;
  bytes.Reserve(static_cast<int32_t>(size + extra));
  bytes.SetCountUninitialized(static_cast<int32_t>(size));
  // An end before size bytes (a file that shrank) is a failure, never short data.
  if (!ReadExactly(stream, bytes.Data(), size)) {
    bytes.Resize(0);
    return false;
  }
  return true;
}

bool ReadExactly(Stream& stream, void* buffer, int64_t count) {
  auto* cursor = static_cast<uint8_t*>(buffer);
  while (count > 0) {
    int64_t bytesDone = 0;
    if (!stream.Read(cursor, count, bytesDone) || bytesDone <= 0 || bytesDone > count) return false;
    cursor += bytesDone;
    count -= bytesDone;
  }
  return true;
}

bool PassOver(Stream& stream, int64_t count) {
  // Small counts are read: one read is cheaper than the seeks that measure the size.
  if (count > kStreamChunkSize && (stream.Flags() & kStreamPositioned) != 0) {
    const int64_t position = stream.Tell();
    const int64_t size = position >= 0 ? stream.Size() : -1;
    if (position >= 0 && size >= position) {
      return count <= size - position && stream.Seek(count, kSeekCurrent);
    }
  }
  return Skip(stream, count);
}

bool Skip(Stream& stream, int64_t count) {
  if (count < 0) return stream.Seek(count, kSeekCurrent);
  uint8_t* scratch = SkipBuffer();
  while (count > 0) {
    const int64_t piece = count < kStreamChunkSize ? count : kStreamChunkSize;
    int64_t bytesDone = 0;
    if (!stream.Read(scratch, piece, bytesDone) || bytesDone != piece) return false;
    count -= piece;
  }
  return true;
}

}  // namespace qm
