#include "tests/support/bit_writer.h"

#include <cassert>

namespace qm::test {
namespace {

// RFC 1951 3.2.5.
constexpr int kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                 31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr int kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                  2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr int kDistanceBase[30] = {1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
                                   33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
                                   1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr int kDistanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                    6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

// Symbol and extra bits for a match length (3..258) or distance (1..32768).
struct SymbolWithExtra {
  int symbol;
  uint32_t extraValue;
  int extraBits;
};

SymbolWithExtra LengthSymbol(int length) {
  assert(length >= 3 && length <= 258);
  int index = 28;
  while (kLengthBase[index] > length) --index;
  return {257 + index, static_cast<uint32_t>(length - kLengthBase[index]), kLengthExtra[index]};
}

SymbolWithExtra DistanceSymbol(int distance) {
  assert(distance >= 1 && distance <= 32768);
  int index = 29;
  while (kDistanceBase[index] > distance) --index;
  return {index, static_cast<uint32_t>(distance - kDistanceBase[index]), kDistanceExtra[index]};
}

}  // namespace

BitWriter& BitWriter::Bits(uint32_t value, int count) {
  assert(count >= 0 && count <= 32);
  if (count < 32) value &= (1u << count) - 1;
  pending_ |= uint64_t{value} << pendingCount_;
  pendingCount_ += count;
  while (pendingCount_ >= 8) {
    bytes_.push_back(static_cast<uint8_t>(pending_));
    pending_ >>= 8;
    pendingCount_ -= 8;
  }
  return *this;
}

BitWriter& BitWriter::Code(uint32_t code, int length) {
  for (int i = length - 1; i >= 0; --i) Bits((code >> i) & 1, 1);
  return *this;
}

BitWriter& BitWriter::Align() {
  if (pendingCount_ > 0) Bits(0, 8 - pendingCount_);
  return *this;
}

BitWriter& BitWriter::Bytes(const void* data, size_t count) {
  assert(pendingCount_ == 0);
  const uint8_t* next = static_cast<const uint8_t*>(data);
  bytes_.insert(bytes_.end(), next, next + count);
  return *this;
}

BitWriter& BitWriter::StoredBlock(bool isFinal, const std::string& data) {
  assert(data.size() <= 0xFFFF);
  BlockHeader(isFinal, 0).Align();
  U16(static_cast<uint16_t>(data.size()));   // LEN
  U16(static_cast<uint16_t>(~data.size()));  // NLEN, its one's complement
  return Bytes(data);
}

BitWriter& BitWriter::FixedLiteral(int symbol) {
  // RFC 1951 3.2.6: 0-143 8 bits from 0x30, 144-255 9 bits from 0x190, 256-279
  // 7 bits from 0, 280-287 8 bits from 0xC0.
  if (symbol < 144) return Code(0x30 + symbol, 8);
  if (symbol < 256) return Code(0x190 + symbol - 144, 9);
  if (symbol < 280) return Code(symbol - 256, 7);
  return Code(0xC0 + symbol - 280, 8);
}

BitWriter& BitWriter::FixedMatch(int length, int distance) {
  SymbolWithExtra l = LengthSymbol(length);
  FixedLiteral(l.symbol).Bits(l.extraValue, l.extraBits);
  SymbolWithExtra d = DistanceSymbol(distance);
  return FixedDistance(d.symbol).Bits(d.extraValue, d.extraBits);
}

std::vector<uint8_t> BitWriter::Bytes() const {
  std::vector<uint8_t> out = bytes_;
  if (pendingCount_ > 0) out.push_back(static_cast<uint8_t>(pending_));
  return out;
}

std::string BitWriter::Text() const {
  std::vector<uint8_t> out = Bytes();
  return std::string(out.begin(), out.end());
}

std::vector<uint32_t> CanonicalCodes(const std::vector<int>& lengths) {
  int count[16] = {};
  for (int length : lengths) ++count[length];
  count[0] = 0;
  uint32_t next[16] = {};
  uint32_t code = 0;
  for (int bits = 1; bits < 16; ++bits) {
    code = (code + count[bits - 1]) << 1;
    next[bits] = code;
  }
  std::vector<uint32_t> codes(lengths.size(), 0);
  for (size_t symbol = 0; symbol < lengths.size(); ++symbol) {
    if (lengths[symbol] != 0) codes[symbol] = next[lengths[symbol]]++;
  }
  return codes;
}

std::string GzipWrap(const std::string& deflated, uint32_t crc, uint32_t size) {
  BitWriter w;
  w.Bits(31, 8).Bits(139, 8).Bits(8, 8);  // ID1, ID2, CM = deflate
  w.Bits(0, 8);                           // FLG: no optional fields
  w.U32(0);                               // MTIME
  w.Bits(0, 8).Bits(255, 8);              // XFL, OS = unknown
  w.Bytes(deflated);
  w.U32(crc).U32(size);  // trailer: CRC32, ISIZE
  return w.Text();
}

}  // namespace qm::test
