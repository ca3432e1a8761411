// BitWriter: builds DEFLATE streams (RFC 1951) field by field for tests, so that a test
// can state every header bit, code and length it feeds the decoder, including
// malformed ones. Bits are packed least significant first, as DEFLATE stores them;
// Huffman codes are given most significant bit first, as RFC 1951 writes them, and are
// reversed on the way in. Also helpers for the fixed code, canonical codes from code
// lengths, and gzip framing. Copyable; Bytes() pads the last byte with zero bits.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qm::test {

class BitWriter {
 public:
  // Appends the low `count` bits of value, bit 0 first. Requires: count <= 32.
  BitWriter& Bits(uint32_t value, int count);
  // Appends a Huffman code of `length` bits, most significant bit first.
  BitWriter& Code(uint32_t code, int length);
  // Pads with zero bits to the next byte boundary.
  BitWriter& Align();
  // Appends whole bytes. Requires: at a byte boundary (call Align first).
  BitWriter& Bytes(const void* data, size_t count);
  BitWriter& Bytes(const std::string& text) { return Bytes(text.data(), text.size()); }
  // Little-endian 16- and 32-bit values, at a byte boundary.
  BitWriter& U16(uint16_t value) { return Bits(value, 16); }
  BitWriter& U32(uint32_t value) { return Bits(value, 32); }

  // Block header: BFINAL (1 bit) then BTYPE (2 bits: 0 stored, 1 fixed, 2 dynamic).
  BitWriter& BlockHeader(bool isFinal, int type) { return Bits(isFinal ? 1 : 0, 1).Bits(type, 2); }
  // A whole stored block: header, padding, LEN, NLEN (the complement of LEN), bytes.
  BitWriter& StoredBlock(bool isFinal, const std::string& data);

  // Codes of the fixed Huffman code (BTYPE 1).
  BitWriter& FixedLiteral(int symbol);                              // literal/length symbols 0..287
  BitWriter& FixedDistance(int symbol) { return Code(symbol, 5); }  // distance symbols 0..31
  // A length/distance pair in the fixed code, with the symbols and extra bits chosen
  // from the tables of RFC 1951 3.2.5. Requires: 3 <= length <= 258, 1 <= distance <= 32768.
  BitWriter& FixedMatch(int length, int distance);

  // The bytes written so far, the last one padded with zero bits.
  std::vector<uint8_t> Bytes() const;
  std::string Text() const;

 private:
  std::vector<uint8_t> bytes_;
  uint64_t pending_ = 0;  // bits not yet in bytes_, bit 0 first
  int pendingCount_ = 0;
};

// Canonical Huffman codes (RFC 1951 3.2.2) for the given code lengths, most
// significant bit first; 0 for symbols without a code.
std::vector<uint32_t> CanonicalCodes(const std::vector<int>& lengths);

// A gzip member around raw DEFLATE bytes: the 10-byte header with flags 0 and the
// trailer with the given CRC-32 and ISIZE.
std::string GzipWrap(const std::string& deflated, uint32_t crc, uint32_t size);

}  // namespace qm::test
