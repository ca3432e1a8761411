// Stream: the one polymorphic byte-stream interface; every byte the program reads or
// writes goes through it. A stream is a plain object that its owner destroys, or a
// heap object shared through StreamRef handles. Read fails only on an error and a read
// of 0 bytes is the end. One thread uses a stream at a time; no operation prints.

// Kinds: File, MemoryStream, BufferedStream, the standard streams, Md5Stream,
// TapStream, InflateStream and the archive member streams.
//
// Contract of the data operations. Read(buffer, count, bytesDone) returns false only
// on an error; on success bytesDone (0..count) says how many bytes arrived, and a
// successful read of 0 bytes (with count > 0) means the end. Short reads are normal;
// ReadAll and Skip are where they become errors. Write is the same for writing; a
// short write is not an error by itself (WriteAll turns it into one). Counts are
// signed 64-bit so that a whole file of any size can be asked for in one call; a
// negative count is a caller error. Positions and sizes are -1 when unknown.
//
// Flags() tells what a stream can do: kStreamOpen, kStreamReadable, kStreamWritable,
// kStreamPositioned (Tell, Seek and Size are meaningful) and kStreamAppend.
//
// Lifetime. A stream is either a plain object (a local, a member) that its owner
// destroys, or a heap object shared through owning handles (StreamRef). The holder
// count (owning handles, 0 at construction) lives in the stream; when the last holder
// lets go, OnRelease() runs, then Destroy() (destructor, then the memory goes back
// through Deallocator(), taken before the destructor runs), and nothing touches the
// object after that. A plain local or member must never get a holder: its memory is
// not the heap's.
//
// ReadByte / UnreadByte: a last-in-first-out pushback stack shared by all stream
// kinds. Only ReadByte takes bytes back from it; Read, Seek and the other operations
// ignore it. A caller that mixes UnreadByte with Read must drain the pushback with
// ReadByte first.
//
// Streams are not copyable and not movable (handles point at them); only the holder
// counts are atomic.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "core/array.h"

namespace qm {

// Bits of Stream::Flags().
inline constexpr uint32_t kStreamOpen = 1;
inline constexpr uint32_t kStreamReadable = 2;
inline constexpr uint32_t kStreamWritable = 4;
inline constexpr uint32_t kStreamPositioned = 8;  // Tell, Seek and Size are meaningful
inline constexpr uint32_t kStreamAppend = 16;     // every write goes to the end

// Origins for Stream::Seek.
inline constexpr int kSeekStart = 0;
inline constexpr int kSeekCurrent = 1;
inline constexpr int kSeekEnd = 2;

// Piece size of ReadAll on unpositioned streams and of Skip.
inline constexpr int64_t kStreamChunkSize = 8192;

class Stream {
 public:
  // Frees the memory of a destroyed stream; `memory` is the start of the object.
  using DeallocateFunction = void (*)(void* memory);

  Stream() = default;
  Stream(const Stream&) = delete;
  Stream& operator=(const Stream&) = delete;

  // Operations in slot order. Each comment gives the base behaviour.

  // Releases the pushback stack.
  virtual ~Stream();
  // Runs the destructor, then hands the memory to Deallocator(). Only for heap
  // streams. Requires: no holders.
  virtual void Destroy();
  // Called by Release before the object is destroyed. Does nothing.
  virtual void OnRelease();
  // The function that frees this object's memory: the global delete. Pooled classes
  // return their pool's free.
  virtual DeallocateFunction Deallocator() const;
  // False.
  virtual bool Read(void* buffer, int64_t count, int64_t& bytesDone);
  // False.
  virtual bool Write(const void* buffer, int64_t count, int64_t& bytesDone);
  // True.
  virtual bool Close();
  // 0.
  virtual uint32_t Flags();
  // Seek(0, kSeekStart).
  virtual bool Rewind();
  // Seek(0, kSeekEnd).
  virtual bool SeekToEnd();
  // Moves to offset from origin (kSeekStart, kSeekCurrent, kSeekEnd). False.
  virtual bool Seek(int64_t offset, int origin);
  // The position, or -1 when the stream has none. -1.
  virtual int64_t Tell();
  // The total size, or -1: Tell, SeekToEnd, Tell, then back to where it was (-1 when
  // any of these fails).
  virtual int64_t Size();
  // Pushes buffered bytes out. True.
  virtual bool Flush();
  // Cuts the stream at the current position. False.
  virtual bool Truncate();
  // True when the position equals the size; false when there is no position.
  virtual bool AtEnd();
  // A new heap stream over the same data at the same position (the caller owns it
  // and frees it with Destroy or a StreamRef), or null. Null.
  virtual Stream* Duplicate();
  // The next byte (0..255), taken from the pushback stack first, else read; -1 at the
  // end or on a read failure.
  virtual int32_t ReadByte();
  // Gives a byte back to ReadByte (last in, first out). Negative values are ignored.
  virtual void UnreadByte(int32_t byte);

  // Owning handles. AddHolder counts one more; ReleaseHolder counts one less and, when it
  // was the last, runs OnRelease() and Destroy(). Requires: a heap stream.
  void AddHolder();
  void ReleaseHolder();
  uint32_t Holders() const { return holders_.load(std::memory_order_acquire); }

  // Bytes taken by ReadByte minus bytes given back.
  int64_t ReadByteCount() const { return readByteCount_; }

 protected:
  // For ReadByte overrides that read straight from their own buffer: they must call
  // BeginReadByte first and return its byte when it gives one (true), and call
  // EndReadByte(false) when they find no byte.
  bool BeginReadByte(int32_t& byte);
  void EndReadByte(bool gotByte) {
    if (!gotByte) --readByteCount_;
  }

 private:
  std::atomic<uint32_t> holders_{0};
  Array<int32_t> pushback_;
  int64_t readByteCount_ = 0;
};

// Reads the whole stream into bytes (its count is set to 0 first). Not positioned:
// reads pieces of kStreamChunkSize bytes until a read gives 0 bytes; fails when a
// read fails or the total exceeds limit. Positioned: s = Size(); fails when s < 0 or
// s + extra > limit; rewinds; reserves s + extra bytes (extra 1 leaves room for a
// terminator); reads until exactly s bytes have arrived. A stream that ends early
// (a file shrinking while read) fails; one that grows is read up to s. Also fails
// when the bytes would not fit an Array (2^31 - 1). On failure bytes is left empty.
// Requires: extra >= 0.
bool ReadAll(Stream& stream, Array<uint8_t>& bytes, int64_t extra, int64_t limit);

// Reads exactly count bytes into buffer, looping over short reads. Fails when a read
// fails, reports an impossible byte count, or the stream ends first (then the bytes
// already read stay in buffer). 0 succeeds at once.
bool ReadExactly(Stream& stream, void* buffer, int64_t count);

// Moves count bytes forward by reading and discarding them in pieces of at most
// kStreamChunkSize bytes; fails when a read fails or gives fewer bytes than asked.
// A negative count is a relative Seek (so the stream must be positioned). 0 succeeds.
// Uses no stack buffer (callers may nest deeply).
bool Skip(Stream& stream, int64_t count);

// As Skip, but a positioned stream whose size is known is moved with one Seek when
// count exceeds kStreamChunkSize, so passing over gigabytes of a file costs nothing;
// fails, as Skip does, when count bytes are not there. Only for streams whose reads
// have no side effects beyond moving (not Md5Stream or TapStream).
// Requires: count >= 0.
bool PassOver(Stream& stream, int64_t count);

// Intrusive owning handle of a heap stream: counts in the stream's holders, and the
// last handle to let go releases the stream. Copyable (another holder) and movable.
template <typename T>
class StreamRef {
 public:
  StreamRef() = default;
  // Takes a holder on stream (may be null).
  explicit StreamRef(T* stream) : stream_(stream) {
    if (stream_ != nullptr) stream_->AddHolder();
  }
  StreamRef(const StreamRef& other) : StreamRef(other.stream_) {}
  StreamRef(StreamRef&& other) noexcept : stream_(other.stream_) { other.stream_ = nullptr; }
  template <typename U>
  StreamRef(const StreamRef<U>& other) : StreamRef(other.Get()) {}  // NOLINT: upcast
  StreamRef& operator=(StreamRef other) noexcept {
    T* old = stream_;
    stream_ = other.stream_;
    other.stream_ = old;
    return *this;
  }
  ~StreamRef() { Reset(); }

  // Lets go of the current stream (releasing it if this was the last holder).
  void Reset() {
    T* old = stream_;
    stream_ = nullptr;
    if (old != nullptr) old->ReleaseHolder();
  }

  T* Get() const { return stream_; }
  T* operator->() const { return stream_; }
  T& operator*() const { return *stream_; }
  explicit operator bool() const { return stream_ != nullptr; }

 private:
  T* stream_ = nullptr;
};

}  // namespace qm
