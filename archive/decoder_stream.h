// DecoderStream: the read-only Stream face shared by the decoders that wrap a
// compression library (XzStream, Bzip2Stream, ZstdStream). It pulls compressed bytes
// from its source into a 64 KiB input buffer and has the library decode straight into
// the caller's buffer. Damage, truncation, a failing source or data that needs more
// than the decoder's memory bound fails the read and leaves FailureReason() set; only
// Rewind recovers. The source is borrowed unless opened with ownsSource. One thread at
// a time; not copyable, not movable.

// Layers: this class owns the source, the input buffer, the optional CRC-32 of zip
// entries and the fault with its text; a subclass owns the library's state, maps its
// return codes to a DecoderFault, and is the only file that includes the library's
// header. Nothing is ever allocated by a size read from the input; each library's
// memory bound is stated in its header (xz and zstd at most kDecoderMemoryLimit).
//
// Reading contract (as InflateStream): Read returns false only on an error, with
// bytesDone the bytes stored before it; a successful read of 0 bytes (count > 0) is the
// end, reached once the data ended properly and, for a zip entry, its CRC-32 matched.
// A read comes back short only at the end. After a failure every read fails again.
//
// Streams. Opened as it is, a stream decodes every stream (xz stream, bzip2 stream,
// zstd frame) that follows another, as the tools do with files written by pxz,
// pbzip2 or zstd -T; SetSingleStream (zip entries) ends at the first one's end and
// leaves the bytes behind it unread.
//
// Costs: 64 KiB of input buffer per stream, taken at its first Open, plus the
// library's state; each object is freed with the global allocator of the runtime
// (operator new here), so heap streams may be held by StreamRef. Hot: see
// bench/decoder_bench.cc.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/stream.h"

namespace qm {

// Memory a decoder whose need depends on its input (xz dictionary, zstd window) may
// take: 128 MiB, which every xz preset (-9: 65 MiB) and every zstd level without
// --long (--ultra -22: 128 MiB window) stays within.
inline constexpr uint64_t kDecoderMemoryLimit = uint64_t{128} << 20;

// Why a decoder stopped with an error; FailureReason() says it in words.
enum class DecoderFault : uint8_t {
  kNone,
  kNoSource,          // "no data": Read without a source
  kSourceFailed,      // "the compressed data cannot be read": the source's Read failed
  kNoMemory,          // "out of memory": the library or the input buffer
  kNotFormat,         // "not xz data": the first bytes are not the format's
  kTruncated,         // "truncated xz data": the input ends inside the data
  kCorrupt,           // "corrupt xz data": damaged data or a failed integrity check
  kUnsupported,       // "xz options this decoder does not support": valid, but not decodable here
  kMemoryLimit,       // "xz data needs N MiB of memory, over the 128 MiB limit"
  kTrailingData,      // "other bytes after the xz data"
  kChecksumMismatch,  // "CRC-32 mismatch": a zip entry's checksum
};

class DecoderStream : public Stream {
 public:
  ~DecoderStream() override;

  // Heap streams come from the runtime's allocator (ending the process when it has
  // none, as containers do); Destroy and StreamRef give them back.
  static void* operator new(size_t bytes);
  static void operator delete(void* object);
  DeallocateFunction Deallocator() const override;

  // Starts decoding source from its current position (remembered for Rewind). An owned
  // source from an earlier Open is released first; source is owned when ownsSource is
  // set. False only for a null source; a library that cannot start fails the first read.
  bool Open(Stream* source, bool ownsSource);

  bool Read(void* buffer, int64_t count, int64_t& bytesDone) override;
  // Ends decoding and detaches the source, releasing it when owned. True.
  bool Close() override;
  uint32_t Flags() override { return kStreamOpen | kStreamReadable; }
  // Restarts from the start position; false (the stream then Failed) when the source
  // cannot be moved back or the library cannot start again.
  bool Rewind() override;
  // True once the data ended properly and every byte was handed out.
  bool AtEnd() override { return state_ == State::kDone; }

  // Settings, made before Open. A zip entry decodes one stream and checks the CRC-32
  // of its output at the end.
  void SetSingleStream(bool isSingle) { isSingleStream_ = isSingle; }
  void SetExpectedCrc32(uint32_t crc) {
    hasExpectedCrc_ = true;
    expectedCrc_ = crc;
  }

  DecoderFault Fault() const { return fault_; }
  // The fault in words ("truncated xz data"), or null while there is none. Valid until
  // the next Open, Rewind or the stream's destruction.
  const char* FailureReason() const { return fault_ == DecoderFault::kNone ? nullptr : reason_; }
  // The format's name in messages: "xz", "bzip2", "zstd".
  const char* FormatName() const { return formatName_; }
  // Bytes handed out since the start.
  uint64_t TotalOutput() const { return totalOutput_; }

 protected:
  // The cursors one Decode call moves: input [in, in + inCount) and output room
  // [out, out + outCount), both advanced past what was consumed and produced.
  struct Window {
    const uint8_t* in;
    size_t inCount;
    uint8_t* out;
    size_t outCount;
  };
  enum class Progress {
    kRunning,  // more to come: call again (with more input or more room)
    kEnd,      // the data ended properly
    kFailed,   // Fail was called
  };

  explicit DecoderStream(const char* formatName) : formatName_(formatName) {}

  // (Re)starts the library for the first stream; kNone or the fault.
  virtual DecoderFault StartLibrary() = 0;
  // Decodes what the window allows. isInputEnd: the source has ended, and every byte
  // left of it is in the window. A call that neither consumes nor produces is taken as
  // truncation when the input has ended, and as damage when it had input to take.
  virtual Progress Decode(Window& window, bool isInputEnd) = 0;
  // Releases the library's state; safe to call when none is held.
  virtual void EndLibrary() = 0;

  // Records the fault (the first one stays) and its text; neededBytes is the memory a
  // kMemoryLimit fault asked for, 0 when unknown. Returns Progress::kFailed.
  Progress Fail(DecoderFault fault, uint64_t neededBytes = 0);
  bool IsSingleStream() const { return isSingleStream_; }
  void SetFormatName(const char* name) { formatName_ = name; }

 private:
  enum class State : uint8_t { kIdle, kRunning, kDone, kFailed };
  static constexpr size_t kInputBytes = 64 * 1024;

  void Restart();
  bool Refill();

  const char* formatName_;
  StreamRef<Stream> ownedSource_;
  Stream* source_ = nullptr;
  int64_t startPosition_ = -1;
  uint8_t* input_ = nullptr;  // kInputBytes, from the runtime's allocator
  const uint8_t* inNext_ = nullptr;
  const uint8_t* inEnd_ = nullptr;
  bool isInputEnd_ = false;
  bool isSingleStream_ = false;
  bool hasExpectedCrc_ = false;
  State state_ = State::kIdle;
  DecoderFault fault_ = DecoderFault::kNone;
  uint32_t expectedCrc_ = 0;
  uint32_t runningCrc_ = 0;
  uint64_t totalOutput_ = 0;
  char reason_[96] = {};
};

}  // namespace qm
