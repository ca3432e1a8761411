#include "archive/inflate_stream.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <new>

#include "archive/crc32.h"
#include "archive/gzip_member.h"
#include "archive/inflate_internal.h"
#include "core/allocation.h"
#include "core/little_endian.h"
#include "core/object_pool.h"
#include "core/timing_scope.h"

// Decoder overview.
//
// The window is a ring of 65536 bytes, twice the history: writePosition is where the next decoded byte
// goes, readPosition the next byte not yet handed to the reader, passStart where the
// current pass began (the checksum runs over [passStart, writePosition) at the end of
// the pass). A pass (Step) aims at kPassBudget bytes minus those still pending and
// overshoots by at most one match (258 bytes), so it never overwrites pending bytes;
// everything older is history for back-references.
//
// Bits: see BitReader in archive/inflate_internal.h. Symbols are decoded on one of two paths:
// - the fast loop runs while at least kFastLoopMaxInBytes unread bytes are in the
//   buffer. It keeps the accumulator in locals, tops it up to 56 or more bits once per
//   symbol with one 8-byte load, and decodes up to three literals or one whole
//   length/distance pair (at most kMaxBitsPerSymbol bits) through the lookup tables
//   without any further refill or bounds check.
//   Before it returns, it gives whole bytes of the accumulator back to the buffer.
// - the careful path decodes one symbol bit by bit through the tree, refilling from
//   the source through ReadBits, and is used for the last bytes of each buffer load.
// A resume point is always between two symbols: a source read blocks until bytes come
// or the source ends, and an end inside a symbol is an error, so no symbol is ever
// left half-decoded.

// Under AddressSanitizer the part of the input buffer behind the valid bytes is
// poisoned, so any read past `end` (the fast loop's 8-byte loads included) is reported
// even though the memory belongs to the buffer.
#if defined(__SANITIZE_ADDRESS__)
#define QM_INFLATE_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QM_INFLATE_ASAN 1
#endif
#endif
#if defined(QM_INFLATE_ASAN)
#include <sanitizer/asan_interface.h>
#define QM_POISON(begin, size) ASAN_POISON_MEMORY_REGION(begin, size)
#define QM_UNPOISON(begin, size) ASAN_UNPOISON_MEMORY_REGION(begin, size)
#else
#define QM_POISON(begin, size) ((void)(begin), (void)(size))
#define QM_UNPOISON(begin, size) ((void)(begin), (void)(size))
#endif

namespace qm {
namespace {

// RFC 1951 3.2.5: base value and extra bits per length symbol (257..285) and
// distance symbol (0..29).
constexpr uint16_t kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                      31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                      2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint16_t kDistanceBase[30] = {1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
                                        33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
                                        1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr uint8_t kDistanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                        6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

constexpr int32_t kLiteralSymbols = 288;  // fixed code size; HLIT allows up to 288 too
constexpr int32_t kDistanceSymbols = 32;  // HDIST allows up to 32
constexpr int32_t kCodeLengthSymbols = 19;
constexpr int32_t kEndOfBlock = 256;
constexpr int32_t kLastLengthSymbol = 285;
constexpr int32_t kLastDistanceSymbol = 29;
// HLIT + 257 + HDIST + 1 lengths, from a 5-bit and a 5-bit field.
constexpr int32_t kMaxCodeLengths = (31 + 257) + (31 + 1);
static_assert(kMaxCodeLengths == 320, "the length sequence can never pass 320 entries");
// HCLEN + 4 from a 4-bit field.
static_assert(15 + 4 == kCodeLengthSymbols, "HCLEN can never ask for more than 19 lengths");
static_assert(kDistanceSymbols >= kCodeLengthSymbols, "the distance table also holds the code-length code");

constexpr uint8_t kCodeLengthOrder[kCodeLengthSymbols] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                          11, 4,  12, 3, 13, 2, 14, 1, 15};

// Bit budget of the fast loop: one refill leaves at least 56 valid bits (bitCount |= 56
// after loading 8 bytes), and one iteration consumes at most a literal/length code,
// its extra bits, a distance code and its extra bits (or up to three literals).
constexpr uint32_t kRefillBits = 56;
constexpr uint32_t kMaxBitsPerSymbol = 15 + 5 + 15 + 13;
static_assert(kMaxBitsPerSymbol <= kRefillBits, "one fast iteration must fit in one refill");
// The refill loads 8 bytes at the cursor, so that many must be valid.
constexpr ptrdiff_t kFastLoopMaxInBytes = 8;

uint32_t ReverseBits(uint32_t code, uint32_t length) {
  uint32_t reversed = 0;
  for (uint32_t i = 0; i < length; ++i) {
    reversed = (reversed << 1) | (code & 1);
    code >>= 1;
  }
  return reversed;
}

// Copies n bytes forward from source to target inside the window, where source is
// before target, with the result of a byte-at-a-time copy: when the ranges overlap,
// the last (target - source) bytes repeat. From a distance of 8 on, it copies whole
// 8- or 16-byte pieces, each read after the pieces before it are written, so the last
// one may write up to 15 bytes past target + n: into the free half of the ring ahead
// of the write position, or the slack behind the ring.
inline void CopyForward(uint8_t* target, const uint8_t* source, uint32_t n) {
  const size_t distance = static_cast<size_t>(target - source);
  if (distance >= 16) {
    for (uint32_t done = 0; done < n; done += 16) std::memcpy(target + done, source + done, 16);
  } else if (distance >= 8) {
    for (uint32_t done = 0; done < n; done += 8) std::memcpy(target + done, source + done, 8);
  } else if (distance == 1) {
    std::memset(target, *source, n);
  } else {
    while (n-- > 0) *target++ = *source++;
  }
}

// Appends a back-reference of length bytes at distance to the window at position
// (the result of copying byte by byte modulo the window size). A distance reaching
// before the start of the output reads whatever the window holds there: zero bytes
// of a fresh window. Returns the new write position.
// Hot: see bench/inflate_bench.cc.
inline uint32_t CopyMatch(uint8_t* window, uint32_t position, uint32_t distance, uint32_t length) {
  uint32_t from = (position - distance) & kWindowMask;
  if (position + length <= static_cast<uint32_t>(kWindowSize)) {
    if (from < position) {
      CopyForward(window + position, window + from, length);
    } else {
      // The source starts after the target in memory (older data near the window's
      // end); memmove reads each byte before the copy replaces it, as the ring does.
      uint32_t first = kWindowSize - from < length ? kWindowSize - from : length;
      std::memmove(window + position, window + from, first);
      if (first < length) CopyForward(window + position + first, window, length - first);
    }
  } else {
    for (uint32_t i = 0; i < length; ++i) {
      window[(position + i) & kWindowMask] = window[(from + i) & kWindowMask];
    }
  }
  return (position + length) & kWindowMask;
}

}  // namespace

// ---------------------------------------------------------------------------------
// BitReader

BitReader::~BitReader() {
  if (buffer != nullptr) QM_UNPOISON(buffer, kBufferSize);
  Free(buffer);
}

void BitReader::Attach(Stream* source) {
  if (buffer == nullptr) buffer = static_cast<uint8_t*>(AllocateOrDie(kBufferSize, 8));
  QM_POISON(buffer, kBufferSize);
  source_ = source;
  cursor = buffer;
  end = buffer;
  accumulator = 0;
  bitCount = 0;
  fault = InflateFault::None;
}

bool BitReader::Fill() {
  if (source_ == nullptr || buffer == nullptr) return RejectInput(fault, InflateFault::NoSource);
  size_t unread = static_cast<size_t>(end - cursor);
  QM_UNPOISON(buffer, kBufferSize);
  if (cursor != buffer) std::memmove(buffer, cursor, unread);
  cursor = buffer;
  end = buffer + unread;
  bool isOk = true;
  while (end < buffer + kBufferSize) {
    const int64_t room = buffer + kBufferSize - end;
    int64_t got = 0;
    if (!source_->Read(end, room, got) || got < 0 || got > room) {
      isOk = RejectInput(fault, InflateFault::SourceReadFailed);
      break;
    }
    if (got == 0) break;
    end += got;
  }
  QM_POISON(end, static_cast<size_t>(buffer + kBufferSize - end));
  return isOk;
}

bool BitReader::ReadBits(uint32_t count, uint32_t& value) {
  assert(count >= 1 && count <= 24);
  if (bitCount < count) {
    if (end - cursor < kFastLoopMaxInBytes && !Fill()) return false;
    while (bitCount < count) {
      if (cursor == end) {
        if (!Fill()) return false;
        if (cursor == end) return RejectInput(fault, InflateFault::TruncatedInput);
      }
      accumulator |= uint64_t{*cursor++} << bitCount;
      bitCount += 8;
    }
  }
  value = static_cast<uint32_t>(accumulator & ((uint64_t{1} << count) - 1));
  accumulator >>= count;
  bitCount -= count;
  return true;
}

bool BitReader::ReadBits32(uint32_t& value) {
  uint32_t low, high;
  if (!ReadBits(24, low) || !ReadBits(8, high)) return false;
  value = low | high << 24;
  return true;
}

bool BitReader::ReadByteBits(uint8_t& value) {
  uint32_t bits;
  if (!ReadBits(8, bits)) return false;
  value = static_cast<uint8_t>(bits);
  return true;
}

bool BitReader::StartsWith(const uint8_t* bytes, int32_t count, bool& isMatch) {
  assert(bitCount == 0 && count > 0 && count <= kBufferSize);
  isMatch = false;
  if (end - cursor < count && !Fill()) return false;
  isMatch = end - cursor >= count && std::memcmp(cursor, bytes, static_cast<size_t>(count)) == 0;
  return true;
}

void BitReader::AlignToByte() {
  uint32_t drop = bitCount & 7;
  accumulator >>= drop;
  bitCount -= drop;
}

// ---------------------------------------------------------------------------------
// HuffmanTable

HuffmanTable::HuffmanTable(int32_t maxSymbols, uint32_t maxFastBits)
    : maxSymbols_(maxSymbols),
      maxFastBits_(maxFastBits),
      nodeCapacity_(MaxTreeNodes(maxSymbols)),
      // The main table, and a subtable of at most 2^(15 - maxFastBits) entries for
      // each symbol whose code is longer than maxFastBits bits.
      fastCapacity_((1 << maxFastBits) + maxSymbols * (1 << (kMaxCodeLength - maxFastBits))) {
  assert(maxSymbols >= 1 && maxSymbols <= 2048);
  assert(maxFastBits >= 1 && maxFastBits <= 12);
  nodes = static_cast<HuffmanNode*>(AllocateOrDie(sizeof(HuffmanNode) * nodeCapacity_, alignof(HuffmanNode)));
  symbols =
      static_cast<HuffmanSymbol*>(AllocateOrDie(sizeof(HuffmanSymbol) * maxSymbols, alignof(HuffmanSymbol)));
  fast = static_cast<uint32_t*>(AllocateOrDie(sizeof(uint32_t) * fastCapacity_, 64));
  std::fill(fast, fast + fastCapacity_, lookup::kUnused);
}

HuffmanTable::~HuffmanTable() {
  Free(nodes);
  Free(symbols);
  Free(fast);
}

bool HuffmanTable::Build(const uint8_t* lengths, int32_t count, CodeRole role, InflateFault& fault) {
  assert(count <= maxSymbols_);
  symbolCount = 0;
  nodeCount = 0;
  if (count < 1) return RejectInput(fault, InflateFault::NoCodes);
  uint32_t lengthCount[kMaxCodeLength + 1] = {};
  uint32_t longest = 0;
  for (int32_t symbol = 0; symbol < count; ++symbol) {
    uint32_t length = lengths[symbol];
    if (length > kMaxCodeLength) return RejectInput(fault, InflateFault::CodeLengthTooLong);
    ++lengthCount[length];
    if (length > longest) longest = length;
  }
  if (longest == 0) return RejectInput(fault, InflateFault::NoCodes);

  // RFC 1951 3.2.2: the first code of each length.
  uint32_t nextCode[kMaxCodeLength + 1] = {};
  lengthCount[0] = 0;
  uint32_t code = 0;
  for (uint32_t length = 1; length <= kMaxCodeLength; ++length) {
    code = (code + lengthCount[length - 1]) << 1;
    nextCode[length] = code;
  }

  nodes[0] = {-1, {-1, -1}};
  nodeCount = 1;
  for (int32_t symbol = 0; symbol < count; ++symbol) {
    uint32_t length = lengths[symbol];
    if (length == 0) {
      symbols[symbol] = {0, 0};
      continue;
    }
    uint32_t assigned = nextCode[length]++;
    // A code that does not fit its length means the lengths ask for more codes than
    // exist; below that bound canonical codes are prefix-free, so the tree walk below
    // never meets a leaf and never needs more than MaxTreeNodes nodes.
    if (assigned >= (1u << length)) return RejectInput(fault, InflateFault::OverSubscribed);
    uint32_t reversed = ReverseBits(assigned, length);
    symbols[symbol] = {static_cast<uint16_t>(reversed), static_cast<uint8_t>(length)};
    int32_t node = 0;
    for (uint32_t i = 0; i < length; ++i) {
      assert(nodes[node].symbol < 0);
      uint32_t bit = (reversed >> i) & 1;
      int32_t child = nodes[node].child[bit];
      if (child < 0) {
        assert(nodeCount < nodeCapacity_);
        child = nodeCount++;
        nodes[child] = {-1, {-1, -1}};
        nodes[node].child[bit] = static_cast<int16_t>(child);
      }
      node = child;
    }
    assert(nodes[node].child[0] < 0 && nodes[node].child[1] < 0);
    nodes[node].symbol = symbol;
  }
  symbolCount = count;
  if (count > 255 && lengths[kEndOfBlock] == 0) return RejectInput(fault, InflateFault::NoEndOfBlock);
  if (role != CodeRole::kCodeLengths) BuildLookup(role, longest);
  return true;
}

namespace {

// The lookup entry for symbol of the given alphabet, whose code has length bits left
// in the table level the entry sits in.
uint32_t LookupEntry(CodeRole role, int32_t symbol, uint32_t length) {
  using namespace lookup;
  const uint32_t entry = length << kLengthShift;
  if (role == CodeRole::kLiteralLength) {
    if (symbol < 256) return entry | length | kLiteral | static_cast<uint32_t>(symbol) << kValueShift;
    if (symbol == kEndOfBlock) return entry | length | kBlockEnd;
    if (symbol > kLastLengthSymbol) return entry | length | kBadSymbol;
    const int32_t index = symbol - 257;
    return entry | (length + kLengthExtra[index]) | kLength | uint32_t{kLengthBase[index]} << kValueShift;
  }
  if (symbol > kLastDistanceSymbol) return entry | length | kBadSymbol;
  return entry | (length + kDistanceExtra[symbol]) | kLength | uint32_t{kDistanceBase[symbol]} << kValueShift;
}

}  // namespace

// Fills the main table and the subtables from the codes in symbols.
void HuffmanTable::BuildLookup(CodeRole role, uint32_t longest) {
  using namespace lookup;
  fastBits = longest < maxFastBits_ ? longest : maxFastBits_;
  const uint32_t mainSize = 1u << fastBits;
  fastMask = mainSize - 1;
  std::fill(fast, fast + mainSize, kUnused);
  bool hasLongCodes = false;
  for (int32_t symbol = 0; symbol < symbolCount; ++symbol) {
    const uint32_t length = symbols[symbol].length;
    if (length == 0) continue;
    if (length > fastBits) {
      // A link to the subtable of the codes that begin with these fastBits bits,
      // sized for the longest of them; its start is set below.
      hasLongCodes = true;
      uint32_t& link = fast[symbols[symbol].code & fastMask];
      const uint32_t need = length - fastBits;
      if ((link & kKindMask) != kSubtable) link = kSubtable | fastBits << kLengthShift;
      if ((link & kConsumedMask) < need) link = (link & ~kConsumedMask) | need;
      continue;
    }
    const uint32_t entry = LookupEntry(role, symbol, length);
    for (uint32_t index = symbols[symbol].code; index < mainSize; index += 1u << length) fast[index] = entry;
  }
  if (!hasLongCodes) return;
  uint32_t next = mainSize;  // links start at 0 until placed; no subtable starts there
  for (int32_t symbol = 0; symbol < symbolCount; ++symbol) {
    const uint32_t length = symbols[symbol].length;
    if (length <= fastBits) continue;
    uint32_t& link = fast[symbols[symbol].code & fastMask];
    uint32_t start = link >> kValueShift;
    const uint32_t indexBits = link & kConsumedMask;
    if (start == 0) {
      start = next;
      next += 1u << indexBits;
      assert(next <= static_cast<uint32_t>(fastCapacity_) && next <= 0xFFFF);
      std::fill(fast + start, fast + next, kUnused);
      link |= start << kValueShift;
    }
    const uint32_t rest = length - fastBits;
    const uint32_t entry = LookupEntry(role, symbol, rest);
    for (uint32_t index = symbols[symbol].code >> fastBits; index < (1u << indexBits); index += 1u << rest) {
      fast[start + index] = entry;
    }
  }
}

// ---------------------------------------------------------------------------------
// Inflate

struct Inflate::Parts {
  BitReader reader;
  HuffmanTable literalTable{kLiteralSymbols, 11};
  HuffmanTable distanceTable{kDistanceSymbols, 9};
};

Inflate::Inflate(InflateMode mode)
    : parts_(new (AllocateOrDie(sizeof(Parts), alignof(Parts))) Parts),
      reader_(parts_->reader),
      literalTable_(parts_->literalTable),
      distanceTable_(parts_->distanceTable) {
  window_ = static_cast<uint8_t*>(AllocateOrDie(kWindowSize + kCopySlack, 64));
  std::memset(window_, 0, kWindowSize + kCopySlack);
  reader_.Attach(nullptr);
  SetMode(mode);
}

Inflate::~Inflate() {
  Free(window_);
  parts_->~Parts();
  Free(parts_);
}

InflateFault Inflate::Fault() const {
  return reader_.fault;
}

void Inflate::SetMode(InflateMode mode) {
  mode_ = mode;
  checksumFunction_ = mode == Raw ? nullptr : &Crc32;
}

void Inflate::ResetDecoding() {
  state_ = InflateState::Start;
  nextState_ = InflateState::BlockHeader;
  if (isWindowDirty_) std::memset(window_, 0, kWindowSize);
  isWindowDirty_ = false;
  writePosition_ = 0;
  readPosition_ = 0;
  passStart_ = 0;
  totalOutput_ = 0;
  runningChecksum_ = 0;
  storedRemaining_ = 0;
  hasFixedTables_ = false;
}

void Inflate::Open(Stream* source) {
  ResetDecoding();
  source_ = source;
  startPosition_ = source != nullptr ? source->Tell() : -1;
  reader_.Attach(source);
}

void Inflate::Detach() {
  source_ = nullptr;
  reader_.Attach(nullptr);
}

bool Inflate::Rewind() {
  ResetDecoding();
  reader_.Attach(source_);
  if (source_ == nullptr) return true;
  bool isBack = startPosition_ >= 0 ? source_->Seek(startPosition_, kSeekStart) : source_->Rewind();
  if (!isBack) {
    state_ = InflateState::Failed;
    return RejectInput(reader_.fault, InflateFault::SourceSeekFailed);
  }
  return true;
}

bool Inflate::Fail() {
  state_ = InflateState::Failed;
  return false;
}

void Inflate::FlushPass() {
  uint32_t produced = (writePosition_ - passStart_) & kWindowMask;
  totalOutput_ += produced;
  if (mode_ != Raw && checksumFunction_ != nullptr && produced != 0) {
    if (passStart_ < writePosition_) {
      runningChecksum_ = checksumFunction_(runningChecksum_, window_ + passStart_, produced);
    } else {
      runningChecksum_ = checksumFunction_(runningChecksum_, window_ + passStart_, kWindowSize - passStart_);
      runningChecksum_ = checksumFunction_(runningChecksum_, window_, writePosition_);
    }
  }
  passStart_ = writePosition_;
}

bool Inflate::CheckTrailer() {
  switch (mode_) {
    case RawCrc:
    case Stored:
      if (runningChecksum_ != expectedChecksum_)
        return RejectInput(reader_.fault, InflateFault::ChecksumMismatch);
      return true;
    case Gzip:
      return CheckGzipTrailer(reader_, runningChecksum_, totalOutput_ - memberOutputStart_);
    default:
      return true;
  }
}

bool Inflate::UseFixedTables() {
  if (hasFixedTables_) return true;  // unchanged since the last fixed block
  uint8_t lengths[kLiteralSymbols];
  std::memset(lengths, 8, 144);
  std::memset(lengths + 144, 9, 256 - 144);
  std::memset(lengths + 256, 7, 280 - 256);
  std::memset(lengths + 280, 8, kLiteralSymbols - 280);
  uint8_t distanceLengths[kDistanceSymbols];
  std::memset(distanceLengths, 5, sizeof distanceLengths);
  bool isBuilt = literalTable_.Build(lengths, kLiteralSymbols, CodeRole::kLiteralLength, reader_.fault) &&
                 distanceTable_.Build(distanceLengths, kDistanceSymbols, CodeRole::kDistance, reader_.fault);
  assert(isBuilt);
  hasFixedTables_ = isBuilt;
  return isBuilt;
}

bool Inflate::ReadDynamicHeader() {
  hasFixedTables_ = false;
  uint32_t hlit, hdist, hclen;
  if (!reader_.ReadBits(5, hlit) || !reader_.ReadBits(5, hdist) || !reader_.ReadBits(4, hclen)) return false;

  uint8_t codeLengthLengths[kCodeLengthSymbols] = {};
  for (uint32_t i = 0; i < hclen + 4; ++i) {
    uint32_t length;
    if (!reader_.ReadBits(3, length)) return false;
    codeLengthLengths[kCodeLengthOrder[i]] = static_cast<uint8_t>(length);
  }
  if (!distanceTable_.Build(codeLengthLengths, kCodeLengthSymbols, CodeRole::kCodeLengths, reader_.fault)) {
    return false;
  }

  const int32_t literalCount = static_cast<int32_t>(hlit) + 257;
  const int32_t total = literalCount + static_cast<int32_t>(hdist) + 1;
  uint8_t lengths[kMaxCodeLengths];
  int32_t index = 0;
  uint8_t previous = 0;
  while (index < total) {
    int32_t symbol;
    if (!DecodeCareful(distanceTable_, symbol)) return false;
    if (symbol < 16) {
      previous = static_cast<uint8_t>(symbol);
      lengths[index++] = previous;
      continue;
    }
    uint32_t extra;
    int32_t repeat;
    uint8_t value;
    if (symbol == 16) {
      if (!reader_.ReadBits(2, extra)) return false;
      repeat = 3 + static_cast<int32_t>(extra);
      value = previous;
    } else if (symbol == 17) {
      if (!reader_.ReadBits(3, extra)) return false;
      repeat = 3 + static_cast<int32_t>(extra);
      value = 0;
    } else {
      if (!reader_.ReadBits(7, extra)) return false;
      repeat = 11 + static_cast<int32_t>(extra);
      value = 0;
    }
    if (repeat > total - index) return RejectInput(reader_.fault, InflateFault::RepeatPastEnd);
    std::memset(lengths + index, value, static_cast<size_t>(repeat));
    index += repeat;
    previous = value;
  }
  return literalTable_.Build(lengths, literalCount, CodeRole::kLiteralLength, reader_.fault) &&
         distanceTable_.Build(lengths + literalCount, total - literalCount, CodeRole::kDistance,
                              reader_.fault);
}

bool Inflate::CopyStored(int32_t count) {
  // After AlignToByte and LEN/NLEN the accumulator holds no whole byte (see
  // BitReader), so the buffer's next byte is the next stored byte.
  assert(reader_.bitCount == 0);
  uint32_t left = static_cast<uint32_t>(count);
  while (left > 0) {
    if (reader_.cursor == reader_.end) {
      if (!reader_.Fill()) return false;
      if (reader_.cursor == reader_.end) return RejectInput(reader_.fault, InflateFault::TruncatedInput);
    }
    uint32_t n = static_cast<uint32_t>(reader_.end - reader_.cursor);
    if (n > left) n = left;
    if (n > kWindowSize - writePosition_) n = kWindowSize - writePosition_;
    std::memcpy(window_ + writePosition_, reader_.cursor, n);
    reader_.cursor += n;
    writePosition_ = (writePosition_ + n) & kWindowMask;
    left -= n;
  }
  return true;
}

// Walks the tree from the root, one input bit per step.
bool Inflate::DecodeCareful(const HuffmanTable& table, int32_t& symbol) {
  int32_t node = 0;
  for (;;) {
    uint32_t bit;
    if (!reader_.ReadBits(1, bit)) return false;
    node = table.nodes[node].child[bit];
    if (node < 0) return RejectInput(reader_.fault, InflateFault::UnusedCode);
    if (table.nodes[node].symbol >= 0) {
      symbol = table.nodes[node].symbol;
      return true;
    }
  }
}

bool Inflate::DecodeCarefulSymbol(int32_t& budget) {
  int32_t symbol;
  if (!DecodeCareful(literalTable_, symbol)) return false;
  if (symbol < 256) {
    window_[writePosition_] = static_cast<uint8_t>(symbol);
    writePosition_ = (writePosition_ + 1) & kWindowMask;
    --budget;
    return true;
  }
  if (symbol == kEndOfBlock) {
    state_ = nextState_;
    return true;
  }
  if (symbol > kLastLengthSymbol) return RejectInput(reader_.fault, InflateFault::BadLiteralSymbol);
  uint32_t extra = 0;
  const int32_t lengthIndex = symbol - 257;
  if (kLengthExtra[lengthIndex] != 0 && !reader_.ReadBits(kLengthExtra[lengthIndex], extra)) return false;
  const uint32_t length = kLengthBase[lengthIndex] + extra;
  int32_t distanceSymbol;
  if (!DecodeCareful(distanceTable_, distanceSymbol)) return false;
  if (distanceSymbol > kLastDistanceSymbol)
    return RejectInput(reader_.fault, InflateFault::BadDistanceSymbol);
  extra = 0;
  if (kDistanceExtra[distanceSymbol] != 0 && !reader_.ReadBits(kDistanceExtra[distanceSymbol], extra)) {
    return false;
  }
  const uint32_t distance = kDistanceBase[distanceSymbol] + extra;
  writePosition_ = CopyMatch(window_, writePosition_, distance, length);
  budget -= static_cast<int32_t>(length);
  return true;
}

// The fast loop is compiled twice on x86-64: for any such CPU, and with BMI2, whose
// shifts take their count from any register (half the fast loop is shifting by
// counts it has just read from a table entry). The choice is made once, by the CPU.
#if defined(__x86_64__)
namespace {
bool HasBmi2() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("bmi2");
}
const bool hasBmi2 = HasBmi2();
}  // namespace

__attribute__((target("bmi2"))) bool Inflate::DecodeFastBmi2(int32_t& budget) {
  return DecodeFastLoop(budget);
}
#endif

bool Inflate::DecodeFast(int32_t& budget) {
#if defined(__x86_64__)
  if (hasBmi2) return DecodeFastBmi2(budget);
#endif
  return DecodeFastLoop(budget);
}

// Hot: see bench/inflate_bench.cc.
__attribute__((always_inline)) inline bool Inflate::DecodeFastLoop(int32_t& budget) {
  using namespace lookup;
  uint64_t bits = reader_.accumulator;
  uint32_t bitCount = reader_.bitCount;
  uint8_t* in = reader_.cursor;
  const uint8_t* const inEnd = reader_.end;
  uint8_t* const window = window_;
  uint32_t position = writePosition_;
  int32_t left = budget;
  const uint32_t* const literals = literalTable_.fast;
  const uint32_t literalMask = literalTable_.fastMask;
  const uint32_t literalBits = literalTable_.fastBits;
  const uint32_t* const distances = distanceTable_.fast;
  const uint32_t distanceMask = distanceTable_.fastMask;
  const uint32_t distanceBits = distanceTable_.fastBits;
  InflateFault fault = InflateFault::None;

  // Consumes n bits of the accumulator.
  auto drop = [&](uint32_t n) {
    bits >>= n;
    bitCount -= n;
  };
  // The entry a main table's entry stands for: itself, or for a link the subtable's
  // entry for the bits behind the main table's (those bits consumed).
  auto follow = [&](const uint32_t* table, uint32_t tableBits, uint32_t entry) {
    if ((entry & kKindMask) == kSubtable) {
      drop(tableBits);
      entry = table[(entry >> kValueShift) + (bits & ((1u << (entry & kConsumedMask)) - 1))];
    }
    return entry;
  };
  // Consumes the code and extra bits of a length or distance entry; returns the value.
  auto take = [&](uint32_t entry) {
    const uint32_t consumed = entry & kConsumedMask;
    const uint32_t codeLength = (entry >> kLengthShift) & kLengthMask;
    const uint32_t extra = static_cast<uint32_t>(bits & ((uint64_t{1} << consumed) - 1)) >> codeLength;
    drop(consumed);
    return (entry >> kValueShift) + extra;
  };
  auto put = [&](uint32_t entry) {
    drop(entry & kConsumedMask);
    window[position] = static_cast<uint8_t>(entry >> kValueShift);
    position = (position + 1) & kWindowMask;
  };

  while (inEnd - in >= kFastLoopMaxInBytes) {
    // Top up to 56..63 valid bits; the bits loaded above them are the true next
    // input bits, so OR-ing the same bytes again later changes nothing.
    bits |= LoadLittle64(in) << bitCount;
    in += (63 - bitCount) >> 3;
    bitCount |= kRefillBits;

    uint32_t entry = literals[bits & literalMask];
    if ((entry & kKindMask) == kLiteral) {
      // Up to three literals on one refill: a literal's code takes at most 15 bits.
      put(entry);
      entry = literals[bits & literalMask];
      if ((entry & kKindMask) != kLiteral) {
        left -= 1;
      } else {
        put(entry);
        entry = literals[bits & literalMask];
        if ((entry & kKindMask) != kLiteral) {
          left -= 2;
        } else {
          put(entry);
          left -= 3;
        }
      }
      if (left < 1) break;
      continue;
    }
    entry = follow(literals, literalBits, entry);
    const uint32_t kind = entry & kKindMask;
    if (kind == kLength) {
      const uint32_t length = take(entry);
      const uint32_t distanceEntry = follow(distances, distanceBits, distances[bits & distanceMask]);
      if ((distanceEntry & kKindMask) != kLength) {
        fault = (distanceEntry & kKindMask) == kUnused ? InflateFault::UnusedCode
                                                       : InflateFault::BadDistanceSymbol;
        break;
      }
      const uint32_t distance = take(distanceEntry);
      position = CopyMatch(window, position, distance, length);
      left -= static_cast<int32_t>(length);
      if (left < 1) break;
      continue;
    }
    if (kind == kLiteral) {
      put(entry);
      if (--left < 1) break;
      continue;
    }
    if (kind == kBlockEnd) {
      drop(entry & kConsumedMask);
      state_ = nextState_;
      break;
    }
    fault = kind == kUnused ? InflateFault::UnusedCode : InflateFault::BadLiteralSymbol;
    break;
  }

  // Give whole bytes back to the buffer; they were loaded from it since this call
  // began, so they are still there.
  const uint32_t wholeBytes = bitCount >> 3;
  in -= wholeBytes;
  bitCount &= 7;
  reader_.accumulator = bits & ((uint64_t{1} << bitCount) - 1);
  reader_.bitCount = bitCount;
  reader_.cursor = in;
  writePosition_ = position;
  budget = left;
  if (fault != InflateFault::None) return RejectInput(reader_.fault, fault);
  return true;
}

bool Inflate::DecodeBlockData(int32_t& budget) {
  while (budget >= 1) {
    if (reader_.end - reader_.cursor >= kFastLoopMaxInBytes) {
      if (!DecodeFast(budget)) return false;
      if (state_ != InflateState::Compressed || budget < 1) return true;
    }
    if (!DecodeCarefulSymbol(budget)) return false;
    if (state_ != InflateState::Compressed) return true;
  }
  return true;
}

// One production pass: decodes until about kPassBudget bytes are pending, the data
// ends (after the end check) or an error. Never overwrites pending bytes.
bool Inflate::Step() {
  const int32_t pending = static_cast<int32_t>(PendingBytes());
  int32_t budget = kPassBudget - pending;
  if (budget < 1) return state_ != InflateState::Failed;
  passStart_ = writePosition_;
  for (;;) {
    switch (state_) {
      case InflateState::Start:
        totalOutput_ = 0;
        memberOutputStart_ = 0;
        runningChecksum_ = 0;
        if (mode_ == Gzip) {
          state_ = InflateState::GzipHeader;
        } else if (mode_ == Stored) {
          state_ = InflateState::StoredCopy;
          nextState_ = InflateState::Trailer;
          storedRemaining_ = presetLength_;
        } else {
          state_ = InflateState::BlockHeader;
        }
        break;
      case InflateState::GzipHeader: {
        GzipHeaderInfo info;
        if (!ReadGzipHeader(reader_, info)) return Fail();
        state_ = InflateState::BlockHeader;
        break;
      }
      case InflateState::BlockHeader: {
        uint32_t header;
        if (!reader_.ReadBits(3, header)) return Fail();
        nextState_ = (header & 1) ? InflateState::Trailer : InflateState::BlockHeader;
        switch (header >> 1) {
          case 0:
            reader_.AlignToByte();
            state_ = InflateState::StoredHeader;
            break;
          case 1:
            if (!UseFixedTables()) return Fail();
            state_ = InflateState::Compressed;
            break;
          case 2:
            if (!ReadDynamicHeader()) return Fail();
            state_ = InflateState::Compressed;
            break;
          default:
            RejectInput(reader_.fault, InflateFault::BadBlockType);
            return Fail();
        }
        break;
      }
      case InflateState::StoredHeader: {
        uint32_t length, complement;
        if (!reader_.ReadBits(16, length) || !reader_.ReadBits(16, complement)) return Fail();
        if (length != (~complement & 0xFFFFu)) {
          RejectInput(reader_.fault, InflateFault::StoredLengthMismatch);
          return Fail();
        }
        storedRemaining_ = length;
        state_ = InflateState::StoredCopy;
        break;
      }
      case InflateState::StoredCopy: {
        int32_t n = storedRemaining_ < static_cast<uint32_t>(budget) ? static_cast<int32_t>(storedRemaining_)
                                                                     : budget;
        isWindowDirty_ = isWindowDirty_ || n > 0;
        if (!CopyStored(n)) return Fail();
        storedRemaining_ -= static_cast<uint32_t>(n);
        budget -= n;
        if (storedRemaining_ == 0) state_ = nextState_;
        if (budget < 1) {
          FlushPass();
          return true;
        }
        break;
      }
      case InflateState::Compressed:
        isWindowDirty_ = true;
        if (!DecodeBlockData(budget)) return Fail();
        if (budget < 1) {
          FlushPass();
          return true;
        }
        break;
      case InflateState::Trailer: {
        FlushPass();
        if (!CheckTrailer()) return Fail();
        // Gzip members may follow one another (RFC 1952 2.2): the next one starts
        // with the magic bytes. Anything else behind a trailer is not read.
        static constexpr uint8_t kGzipMagic[2] = {31, 139};
        bool isAnotherMember = false;
        if (mode_ == Gzip && !reader_.StartsWith(kGzipMagic, 2, isAnotherMember)) return Fail();
        if (isAnotherMember) {
          memberOutputStart_ = totalOutput_;
          runningChecksum_ = 0;
          state_ = InflateState::GzipHeader;
          // The pass ends with the member, so a bad trailer of the next one condemns
          // only that member's bytes. A pass must hand out bytes unless the data has
          // ended, so one that has none goes on.
          if (PendingBytes() != 0) return true;
          break;
        }
        state_ = InflateState::Done;
        return true;
      }
      case InflateState::Done:
        return true;
      default:
        return Fail();
    }
  }
}

int64_t Inflate::TakePending(uint8_t* out, int64_t count) {
  int64_t taken = 0;
  while (taken < count && readPosition_ != writePosition_) {
    uint32_t run =
        readPosition_ < writePosition_ ? writePosition_ - readPosition_ : kWindowSize - readPosition_;
    if (run > count - taken) run = static_cast<uint32_t>(count - taken);
    std::memcpy(out + taken, window_ + readPosition_, run);
    readPosition_ = (readPosition_ + run) & kWindowMask;
    taken += run;
  }
  return taken;
}

// When the caller knows the uncompressed size and every byte of it has been produced
// and handed out, the end of the data (and its check) is one more pass away; a caller
// that reads exactly that size would otherwise never make the read that runs it.
bool Inflate::NeedsEndCheck() const {
  return presetLength_ != 0 && totalOutput_ == presetLength_ && readPosition_ == writePosition_ &&
         state_ != InflateState::Done && state_ != InflateState::Failed;
}

bool Inflate::Read(void* buffer, int64_t count, int64_t& delivered) {
  TimingScope scope("Inflate::Read");
  delivered = 0;
  uint8_t* out = static_cast<uint8_t*>(buffer);
  while (delivered < count) {
    delivered += TakePending(out + delivered, count - delivered);
    if (delivered == count) break;
    if (!Step()) {
      if (IsEndCheckFailure()) return false;
      // Damage inside the data: the bytes decoded before it are still handed out, so a
      // reader keeps everything up to the damage (as with a truncated plain stream)
      // and the read fails only when it wants more than that.
      delivered += TakePending(out + delivered, count - delivered);
      return delivered == count;
    }
    if (writePosition_ == readPosition_) break;
  }
  if (count > 0 && delivered == count && NeedsEndCheck() && !Step()) return false;
  return state_ != InflateState::Failed || (delivered == count && !IsEndCheckFailure());
}

// A checksum or length mismatch condemns every byte of the pass that found it, so it
// fails the read at once; other damage fails only the reads that reach it.
bool Inflate::IsEndCheckFailure() const {
  return reader_.fault == InflateFault::ChecksumMismatch || reader_.fault == InflateFault::LengthMismatch;
}

// ---------------------------------------------------------------------------------
// InflateStream

InflateStream::InflateStream(InflateMode mode) : inflate_(mode) {}

InflateStream::~InflateStream() {
  Close();
}

void* InflateStream::operator new(size_t bytes) {
  return PoolOf<InflateStream>().Alloc(bytes);
}

void InflateStream::operator delete(void* object) {
  ObjectPool::FreeObject(object);
}

InflateStream* InflateStream::New(InflateMode mode) {
  return new InflateStream(mode);
}

void InflateStream::Delete(InflateStream* stream) {
  delete stream;
}

Stream::DeallocateFunction InflateStream::Deallocator() const {
  return &ObjectPool::FreeObject;
}

void InflateStream::DecryptTap(void* context, uint8_t* bytes, int64_t count) {
  static_cast<ZipKeys*>(context)->Decrypt(bytes, static_cast<size_t>(count));
}

bool InflateStream::Open(Stream* source, const ZipKeys* keys, bool ownsSource) {
  Close();
  if (source == nullptr) return false;
  if (ownsSource) ownedSource_ = StreamRef<Stream>(source);
  isEncrypted_ = keys != nullptr;
  if (isEncrypted_) {
    keys_ = *keys;
    savedKeys_ = *keys;
    tap_.Attach(source, &DecryptTap, &keys_);
    inflate_.Open(&tap_);
  } else {
    inflate_.Open(source);
  }
  return true;
}

bool InflateStream::Read(void* buffer, int64_t count, int64_t& bytesDone) {
  return inflate_.Read(buffer, count, bytesDone);
}

bool InflateStream::Close() {
  inflate_.Detach();
  tap_.Detach();
  isEncrypted_ = false;
  ownedSource_.Reset();
  return true;
}

bool InflateStream::Rewind() {
  keys_ = savedKeys_;
  return inflate_.Rewind();
}

int64_t InflateStream::Size() {
  uint32_t length = inflate_.PresetLength();
  return length != 0 ? int64_t{length} : -1;
}

bool InflateStream::AtEnd() {
  return inflate_.State() == InflateState::Done && inflate_.PendingBytes() == 0;
}

}  // namespace qm
