// Decoder internals: BitReader (compressed bytes in, bits out, least significant
// first) and HuffmanTable (one canonical prefix code), shared by the DEFLATE decoder
// and the gzip wrapper, plus RejectInput, where every input check ends. Each object
// belongs to one Inflate and is used by one thread at a time; neither is copyable.
#pragma once

#include <cstdint>

#include "archive/inflate_stream.h"
#include "core/stream.h"

namespace qm {

// Every input check of the decoder ends here: records why the input was refused and
// returns false, so each check reads `return RejectInput(fault, InflateFault::X);`.
inline bool RejectInput(InflateFault& record, InflateFault fault) {
  record = fault;
  return false;
}

// BitReader: the input side. Bytes read from the source wait in a 64 KiB buffer
// between cursor and end; the accumulator holds bits taken from the buffer and not
// yet consumed, the next bit at bit 0, bitCount of them valid and every bit above
// them zero. Between decoding steps bitCount is below 8 (whole bytes go back to the
// buffer), so after AlignToByte the buffer's next byte is the stream's next byte.
// The buffer is allocated by the first Attach and freed by the destructor.
class BitReader {
 public:
  static constexpr int32_t kBufferSize = 65536;

  BitReader() = default;
  ~BitReader();
  BitReader(const BitReader&) = delete;
  BitReader& operator=(const BitReader&) = delete;

  // Reads from source from now on, with an empty buffer and accumulator. A null
  // source makes every read that needs bytes fail with NoSource.
  void Attach(Stream* source);
  Stream* Source() const { return source_; }

  // The next count bits (1..24), first bit in bit 0. Fails (recording the fault) on
  // a failing source read or when the input ends first.
  bool ReadBits(uint32_t count, uint32_t& value);
  // 32 bits, little-endian.
  bool ReadBits32(uint32_t& value);
  bool ReadByteBits(uint8_t& value);
  // Drops the bits up to the next byte boundary.
  void AlignToByte();
  // Whether the next count input bytes equal bytes, without consuming them (isMatch
  // false when the input ends first). False (recording the fault) only when the
  // source read fails. Requires: bitCount == 0; 0 < count <= kBufferSize.
  bool StartsWith(const uint8_t* bytes, int32_t count, bool& isMatch);
  // Moves the unread bytes to the front of the buffer and reads from the source
  // behind them until the buffer is full or a read brings nothing. False (recording
  // the fault) only when the source is missing or its read fails; the end of the
  // source is not an error here.
  bool Fill();

  // Why the last failing call failed.
  InflateFault fault = InflateFault::None;

  // State shared with the decoder's fast loop (see Inflate). Invariant: buffer <=
  // cursor <= end <= buffer + kBufferSize.
  uint8_t* buffer = nullptr;
  uint8_t* cursor = nullptr;
  uint8_t* end = nullptr;
  uint64_t accumulator = 0;
  uint32_t bitCount = 0;

 private:
  Stream* source_ = nullptr;
};

// HuffmanTable: a canonical prefix code (RFC 1951 3.2.2) built from code lengths,
// with a tree for the careful path and lookup tables for the fast loop.
//
// Lookup: the next fastBits input bits index `fast`. A code longer than that leads to
// a subtable, indexed by the bits behind the first fastBits. Each 32-bit entry says
// what the bits begin with and how many of them it takes:
//
//   bits 0..7    bits to consume: the code's length (in this table level) plus the
//                extra bits behind it; for a subtable link, the subtable's index bits
//   bits 8..11   the code's length in this level (the extra bits follow it); for a
//                subtable link, fastBits
//   bits 12..14  kind: literal, length, end of block, subtable link, unused pattern
//                (the input is invalid), or a symbol the data may not use
//   bits 16..31  the literal byte, the length or distance base, or the subtable's
//                start in `fast`
//
// What a symbol means comes from the alphabet the table is built for (CodeRole):
// literal/length, distance, or code-length codes (careful path only, no lookup).
//
// Tree node: symbol >= 0 for a leaf; -1 for an inner node; child[b] is the node after
// bit b, -1 when no code continues that way. Node 0 is the root. Codes are stored
// bit-reversed (first code bit in bit 0), so input bits index the tables directly.
struct HuffmanNode {
  int32_t symbol;
  int16_t child[2];
};

struct HuffmanSymbol {
  uint16_t code;   // bit-reversed code
  uint8_t length;  // 0: no code
};

// Most tree nodes a code over n symbols can need: every node is a prefix of some code,
// and there are at most min(2^d, n) distinct prefixes of length d, d = 0..15.
constexpr int32_t MaxTreeNodes(int32_t symbolCount) {
  int32_t total = 0;
  for (int32_t depth = 0; depth <= 15; ++depth) {
    int32_t level = 1 << depth;
    total += level < symbolCount ? level : symbolCount;
  }
  return total;
}

enum class CodeRole { kLiteralLength, kDistance, kCodeLengths };

namespace lookup {
constexpr uint32_t kConsumedMask = 0xFF;
constexpr uint32_t kLengthShift = 8;
constexpr uint32_t kLengthMask = 0xF;
constexpr uint32_t kKindMask = 7u << 12;
constexpr uint32_t kLiteral = 0u << 12;
constexpr uint32_t kLength = 1u << 12;  // also a distance
constexpr uint32_t kBlockEnd = 2u << 12;
constexpr uint32_t kSubtable = 3u << 12;
constexpr uint32_t kUnused = 4u << 12;
constexpr uint32_t kBadSymbol = 5u << 12;
constexpr uint32_t kValueShift = 16;
}  // namespace lookup

class HuffmanTable {
 public:
  static constexpr int32_t kMaxCodeLength = 15;

  // Room for codes over up to maxSymbols symbols, looked up on up to maxFastBits bits
  // (1..12, subtables behind), allocated once here. Requires: 1 <= maxSymbols <= 2^11.
  HuffmanTable(int32_t maxSymbols, uint32_t maxFastBits);
  ~HuffmanTable();
  HuffmanTable(const HuffmanTable&) = delete;
  HuffmanTable& operator=(const HuffmanTable&) = delete;

  // Builds the code from count lengths, one per symbol in symbol order, for the given
  // alphabet. Fails (recording the fault) for a length above 15, no code at all,
  // over-subscribed lengths, and, for an alphabet of more than 255 symbols, no code
  // for symbol 256. Incomplete codes are accepted; their unused patterns fail when
  // met. Requires: count <= maxSymbols.
  bool Build(const uint8_t* lengths, int32_t count, CodeRole role, InflateFault& fault);

  uint32_t* fast = nullptr;
  uint32_t fastBits = 0;
  uint32_t fastMask = 0;
  HuffmanNode* nodes = nullptr;
  HuffmanSymbol* symbols = nullptr;
  int32_t nodeCount = 0;
  int32_t symbolCount = 0;

 private:
  void BuildLookup(CodeRole role, uint32_t longest);

  [[maybe_unused]] int32_t maxSymbols_;  // checked by asserts only
  uint32_t maxFastBits_;
  int32_t nodeCapacity_;
  int32_t fastCapacity_;
};

}  // namespace qm
