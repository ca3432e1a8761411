// Crc32: the CRC-32 of gzip and zip (reflected polynomial 0xEDB88320), resumable:
// Crc32(Crc32(0, a, n), b, m) == Crc32(0, ab, n + m). Pure functions over compile-time
// tables (and carry-less multiplication where the processor has it): no state, safe on
// any thread; the caller owns the bytes. See bench/crc32_bench.cc.

// The inversion before and after is inside the function, so a fresh checksum starts
// from 0 and data may be fed in pieces, each call taking the previous result. On x86-64
// processors with carry-less multiplication, 64 bytes and more are folded 16 bytes at a
// time; otherwise it walks four bytes per step with three tables derived from the
// published one (slicing by four).
#pragma once

#include <cstddef>
#include <cstdint>

namespace qm {

// The published 256-entry table (entries[0]) and the three derived slicing tables:
// entries[k][b] is the CRC register after feeding byte b followed by k zero bytes.
struct Crc32TableSet {
  uint32_t entries[4][256];
};
extern const Crc32TableSet kCrc32Tables;

// CRC-32 of count bytes at data, continuing from previous (0 for a fresh checksum).
// Requires: data is readable for count bytes (may be null when count is 0).
uint32_t Crc32(uint32_t previous, const void* data, size_t count);

// One raw step of the register over the published table, without the inversions:
// (register >> 8) ^ table[(register ^ byte) & 255]. The zip encryption keys use it.
inline uint32_t Crc32Step(uint32_t crcRegister, uint8_t byte) {
  return (crcRegister >> 8) ^ kCrc32Tables.entries[0][(crcRegister ^ byte) & 0xFF];
}

}  // namespace qm
