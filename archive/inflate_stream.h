// InflateStream: a read-only Stream of the bytes decoded from DEFLATE data (RFC 1951;
// raw, gzip-wrapped or stored), in fixed memory: a 64 KiB window (32 KiB of history)
// that is also the output buffer, a 64 KiB input buffer, two Huffman tables. Damaged input or a bad
// checksum fails the read, and nothing is read outside those buffers. The source is
// borrowed unless opened with ownsSource. One thread at a time; nothing is copyable.

// Layers: Inflate is the incremental decoder, an explicit state machine whose passes
// each produce at most kPassBudget + 258 bytes into the window, then return; the
// caller takes the bytes out of the window between passes. Checksums and the gzip or
// zip end checks run as the data ends. Its bit reader and Huffman tables are internal
// (archive/inflate_internal.h). InflateStream wraps Inflate as a Stream, optionally
// owning its source and decrypting it (traditional zip encryption) through a TapStream.
// Nothing ever allocates by a size read from the input.
//
// Reading contract (Inflate::Read and InflateStream::Read): false only on an error;
// a successful read of 0 bytes (with count > 0) is the end. A checksum or length
// mismatch fails the read that reaches the end of the data; when the caller knows the
// uncompressed size (the preset length) the read that delivers the last byte runs the
// end check, so reading exactly the known size still catches a bad CRC. Any other
// damage (malformed codes, truncated input) fails only a read that wants bytes beyond
// it: the bytes decoded before the damage are handed out first. After a failure
// later reads hand out what is still pending and then fail again; only Rewind
// recovers.
//
// Ownership: a borrowed source must outlive its use (until Close, the next Open, or
// destruction). An InflateStream opened with ownsSource holds the source through a
// StreamRef and releases it on Close or destruction. The stream's tap points at its
// keys, so it is not movable either.
//
// Costs: about 170 KiB per decoder (window, input buffer, tables and their trees),
// allocated at construction; the objects themselves are small (InflateStream about
// 270 bytes). Decoding speed is guarded by bench/inflate_bench.cc.
#pragma once

#include <cstddef>
#include <cstdint>

#include "archive/zip_keys.h"
#include "core/shared_string.h"
#include "core/stream.h"
#include "core/tap_stream.h"

namespace qm {

class BitReader;
class HuffmanTable;

// What wraps the DEFLATE data and what is checked at its end. Values are stored and
// compared as numbers; 2 and 3 are reserved.
enum InflateMode : uint32_t {
  Raw = 0,     // bare DEFLATE blocks, nothing checked
  RawCrc = 1,  // bare DEFLATE blocks; CRC-32 of the output must equal the expected checksum
  Gzip = 4,    // gzip members, one after another: header, DEFLATE blocks, CRC-32 and ISIZE trailer
  Stored = 5,  // no blocks: the preset length of raw bytes is copied; CRC-32 checked
};

// Resume points of the decoder, with their fixed values.
enum class InflateState : uint32_t {
  Start = 0,
  Reserved = 1,
  GzipHeader = 2,
  BlockHeader = 3,
  Compressed = 4,
  StoredHeader = 5,
  StoredCopy = 6,
  Trailer = 7,
  Done = 8,
  Failed = 9,
};

// Why the decoder stopped with an error; for tests and diagnostics, never shown.
enum class InflateFault : uint8_t {
  None,
  NoSource,              // Read or Rewind without a source
  SourceReadFailed,      // the source's Read returned false
  SourceSeekFailed,      // Rewind could not move the source back
  TruncatedInput,        // the input ended before the end of the data
  BadBlockType,          // BTYPE 3
  StoredLengthMismatch,  // LEN is not the complement of NLEN
  CodeLengthTooLong,     // a code length above 15
  NoCodes,               // every code length is 0
  OverSubscribed,        // more codes than the lengths leave room for
  NoEndOfBlock,          // a literal/length code without symbol 256
  RepeatPastEnd,         // a code-length repeat past the end of the lengths
  UnusedCode,            // a bit pattern that no code starts with
  BadLiteralSymbol,      // literal/length symbol 286 or 287
  BadDistanceSymbol,     // distance symbol 30 or 31
  BadGzipMagic,          // ID1, ID2 not 31, 139
  BadGzipMethod,         // CM not 8
  BadGzipFlags,          // reserved FLG bits set
  BadGzipHeaderCrc,      // FHCRC does not match
  ChecksumMismatch,      // CRC-32 of the output differs from the expected one
  LengthMismatch,        // gzip ISIZE differs from the output length
};

// A checksum that can be fed in pieces: f(f(0, a), b) == f(0, ab). Crc32 is one.
using ChecksumFunction = uint32_t (*)(uint32_t previous, const void* data, size_t count);

// The history a back-reference reaches, and the ring that holds it: twice as large,
// so the half ahead of the write position is free and a match may be copied in whole
// 16-byte pieces that run past its end (kCopySlack more bytes behind the ring).
inline constexpr int32_t kHistorySize = 32768;
inline constexpr int32_t kWindowSize = 2 * kHistorySize;
inline constexpr uint32_t kWindowMask = kWindowSize - 1;
inline constexpr int32_t kCopySlack = 16;
inline constexpr int32_t kMaxMatchLength = 258;
// Bytes one pass may aim for: a pass stops once the budget drops below 1, and its
// last symbol may add up to 258 more, so pending bytes never fill the history.
inline constexpr int32_t kPassBudget = kHistorySize - (kMaxMatchLength + 1);
static_assert(kPassBudget == 32509);

// Inflate: the decoder. Fields follow the order of the decoding state; see the
// reading contract at the top. Between passes, the bytes from readPosition up to
// writePosition (modulo the window) are decoded and not yet handed out.
class Inflate {
 public:
  // Allocates and zero-fills the window; no source yet (state Start).
  explicit Inflate(InflateMode mode = Raw);
  ~Inflate();
  Inflate(const Inflate&) = delete;
  Inflate& operator=(const Inflate&) = delete;

  // Decodes from source from the start: resets the decoding state, remembers the
  // source's position (Tell, -1 when it has none) as the start for Rewind, and
  // attaches the bit reader. Settings (mode, checksum, preset length) are kept.
  void Open(Stream* source);
  // Forgets the source (reads then fail with NoSource).
  void Detach();

  // Stores the mode and picks its checksum function (Crc32 for all but Raw).
  void SetMode(InflateMode mode);
  void SetChecksumFunction(ChecksumFunction function) { checksumFunction_ = function; }
  void SetExpectedChecksum(uint32_t checksum) { expectedChecksum_ = checksum; }
  // Stored: the number of bytes to copy. Other modes: the uncompressed size when
  // known (enables the end check on the read that delivers the last byte), else 0.
  void SetPresetLength(uint32_t length) { presetLength_ = length; }

  // Up to count decoded bytes into buffer; see the reading contract. delivered is
  // the number of bytes stored, also when the read fails. A count of 0 decodes
  // nothing. Requires: buffer writable for count bytes.
  bool Read(void* buffer, int64_t count, int64_t& delivered);

  // Back to the start of the data: decoding state reset, window zero-filled, and the
  // source moved to the start position (or rewound when that is unknown). False,
  // leaving the decoder Failed, when the source cannot be moved back.
  bool Rewind();

  InflateMode Mode() const { return mode_; }
  InflateState State() const { return state_; }
  InflateFault Fault() const;
  uint32_t PresetLength() const { return presetLength_; }
  uint32_t ExpectedChecksum() const { return expectedChecksum_; }
  uint32_t RunningChecksum() const { return runningChecksum_; }
  ChecksumFunction Checksum() const { return checksumFunction_; }
  // Bytes produced since the start (over all gzip members), modulo 2^32.
  uint32_t TotalOutput() const { return totalOutput_; }
  // Decoded bytes not yet handed out.
  uint32_t PendingBytes() const { return (writePosition_ - readPosition_) & kWindowMask; }

 private:
  // One production pass (see the .cc); Read runs it whenever the window is empty.
  bool Step();
  void ResetDecoding();
  bool Fail();
  void FlushPass();
  bool CheckTrailer();
  bool UseFixedTables();
  bool ReadDynamicHeader();
  bool CopyStored(int32_t count);
  bool DecodeBlockData(int32_t& budget);
  bool DecodeFast(int32_t& budget);
  bool DecodeFastLoop(int32_t& budget);
#if defined(__x86_64__)
  bool DecodeFastBmi2(int32_t& budget);
#endif
  bool DecodeCarefulSymbol(int32_t& budget);
  bool DecodeCareful(const HuffmanTable& table, int32_t& symbol);
  int64_t TakePending(uint8_t* out, int64_t count);
  bool NeedsEndCheck() const;
  bool IsEndCheckFailure() const;

  // The bit reader and the two Huffman tables (archive/inflate_internal.h) live in
  // one block of their own, allocated with the window.
  struct Parts;
  Parts* const parts_;
  BitReader& reader_;
  HuffmanTable& literalTable_;
  HuffmanTable& distanceTable_;  // also the code-length code while a header is read
  Stream* source_ = nullptr;
  int64_t startPosition_ = -1;
  InflateState state_ = InflateState::Start;
  InflateState nextState_ = InflateState::BlockHeader;
  uint8_t* window_ = nullptr;
  uint32_t writePosition_ = 0;
  uint32_t readPosition_ = 0;
  uint32_t passStart_ = 0;  // where the current pass began writing
  uint32_t totalOutput_ = 0;
  uint32_t memberOutputStart_ = 0;  // totalOutput_ when the current gzip member began
  bool hasFixedTables_ = false;
  bool isWindowDirty_ = false;
  uint32_t storedRemaining_ = 0;
  uint32_t presetLength_ = 0;
  InflateMode mode_ = Raw;
  uint32_t runningChecksum_ = 0;
  uint32_t expectedChecksum_ = 0;
  ChecksumFunction checksumFunction_ = nullptr;
};

// The Stream face of the decoder. Flags 3 (open, readable; not positioned), Size the
// preset length when not 0 else -1, AtEnd once the end was checked and every byte
// handed out; Write, Seek, Truncate and Duplicate fail as in the base class.
class InflateStream : public Stream {
 public:
  static constexpr const char* kPoolName = "InflateStream";

  // A decoder in the given mode, keys at their initial values, no source.
  explicit InflateStream(InflateMode mode = Raw);
  // Closes (releasing an owned source).
  ~InflateStream() override;

  // Heap InflateStreams come from the "InflateStream" object pool, also through new;
  // give one back with Delete (delete, Destroy or the last StreamRef do the same).
  // Plain locals and members do not touch the pool.
  static InflateStream* New(InflateMode mode);
  static void Delete(InflateStream* stream);
  static void* operator new(size_t bytes);
  static void operator delete(void* object);
  DeallocateFunction Deallocator() const override;

  // Starts decoding source from its current position. An owned source from an
  // earlier Open is released first; source is owned when ownsSource is set. With
  // keys, every byte read from source is first decrypted with a copy of them (kept
  // also for Rewind). Returns false only for a null source.
  bool Open(Stream* source, const ZipKeys* keys, bool ownsSource);

  bool Read(void* buffer, int64_t count, int64_t& bytesDone) override;
  // Detaches the source, releasing it when owned. True.
  bool Close() override;
  uint32_t Flags() override { return kStreamOpen | kStreamReadable; }
  // Restarts the data from the start position, keys restored. False when the source
  // cannot be moved back (the stream is then Failed).
  bool Rewind() override;
  int64_t Size() override;
  bool AtEnd() override;

  // Settings, to be made after construction and before the first read.
  void SetMode(InflateMode mode) { inflate_.SetMode(mode); }
  void SetChecksumFunction(ChecksumFunction function) { inflate_.SetChecksumFunction(function); }
  void SetExpectedChecksum(uint32_t checksum) { inflate_.SetExpectedChecksum(checksum); }
  void SetPresetLength(uint32_t length) { inflate_.SetPresetLength(length); }

  Inflate& Decoder() { return inflate_; }
  const Inflate& Decoder() const { return inflate_; }
  const ZipKeys& Keys() const { return keys_; }

 private:
  static void DecryptTap(void* context, uint8_t* bytes, int64_t count);

  Inflate inflate_;
  StreamRef<Stream> ownedSource_;
  ZipKeys keys_;
  ZipKeys savedKeys_;
  TapStream tap_;
  bool isEncrypted_ = false;
};

}  // namespace qm
