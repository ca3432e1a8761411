#include "archive/crc32.h"

namespace qm {
namespace {

constexpr uint32_t kPolynomial = 0xEDB88320u;

constexpr Crc32TableSet MakeTables() {
  Crc32TableSet tables{};
  for (uint32_t byte = 0; byte < 256; ++byte) {
    uint32_t value = byte;
    for (int bit = 0; bit < 8; ++bit) value = (value >> 1) ^ ((value & 1u) ? kPolynomial : 0u);
    tables.entries[0][byte] = value;
  }
  // Feeding one more zero byte to a register r gives (r >> 8) ^ table[r & 255].
  for (int k = 1; k < 4; ++k) {
    for (uint32_t byte = 0; byte < 256; ++byte) {
      uint32_t previous = tables.entries[k - 1][byte];
      tables.entries[k][byte] = (previous >> 8) ^ tables.entries[0][previous & 0xFF];
    }
  }
  return tables;
}

}  // namespace

constinit const Crc32TableSet kCrc32Tables = MakeTables();

static_assert(MakeTables().entries[0][1] == 0x77073096u, "published CRC-32 table entry 1");
static_assert(MakeTables().entries[0][255] == 0x2D02EF8Du, "published CRC-32 table entry 255");

// Hot: see bench/crc32_bench.cc.
uint32_t Crc32(uint32_t previous, const void* data, size_t count) {
  const uint8_t* next = static_cast<const uint8_t*>(data);
  const uint8_t* const end = next + count;
  const auto& t = kCrc32Tables.entries;
  uint32_t crc = ~previous;
  while (end - next >= 4) {
    // Little-endian word by bytes: the compiler turns this into one load.
    crc ^= uint32_t{next[0]} | uint32_t{next[1]} << 8 | uint32_t{next[2]} << 16 | uint32_t{next[3]} << 24;
    crc = t[3][crc & 0xFF] ^ t[2][(crc >> 8) & 0xFF] ^ t[1][(crc >> 16) & 0xFF] ^ t[0][crc >> 24];
    next += 4;
  }
  while (next != end) crc = (crc >> 8) ^ t[0][(crc ^ *next++) & 0xFF];
  return ~crc;
}

}  // namespace qm
