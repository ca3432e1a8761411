#include "archive/crc32.h"

#include "core/little_endian.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

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

// Products of polynomials modulo the CRC polynomial, in the reflected bit order of
// the register (bit 31 is x^0): used to join the CRCs of two pieces of data.
constexpr uint32_t MultiplyModP(uint32_t a, uint32_t b) {
  uint32_t product = 0;
  for (uint32_t bit = 1u << 31; bit != 0; bit >>= 1) {
    if (a & bit) product ^= b;
    b = (b & 1u) ? (b >> 1) ^ kPolynomial : b >> 1;
  }
  return product;
}

// x^(2^k) modulo the polynomial, k = 0..63.
struct PowerTable {
  uint32_t entries[64];
};
constexpr PowerTable MakePowers() {
  PowerTable powers{};
  uint32_t power = 1u << 30;  // x^1
  for (int k = 0; k < 64; ++k) {
    powers.entries[k] = power;
    power = MultiplyModP(power, power);
  }
  return powers;
}
constexpr PowerTable kPowers = MakePowers();

// CRC of A followed by B, from crcA, crcB and B's length: A's register moved past
// byteCount zero bytes (a product with x^(8 byteCount)), then B's CRC added.
uint32_t CombineCrc32(uint32_t crcA, uint32_t crcB, size_t byteCount) {
  uint32_t shift = 1u << 31;  // x^0
  for (int k = 3; byteCount != 0; byteCount >>= 1, ++k) {
    if (byteCount & 1) shift = MultiplyModP(kPowers.entries[k], shift);
  }
  return MultiplyModP(shift, crcA) ^ crcB;
}

// Below this many bytes the data is walked as one chain; above it as two halves at
// once, whose table lookups overlap, joined by CombineCrc32 (a few hundred operations).
constexpr size_t kTwoChainBytes = 256;

inline uint32_t Word(const uint8_t* next) {
  return LoadLittle32(next);
}

}  // namespace

constinit const Crc32TableSet kCrc32Tables = MakeTables();

namespace {

// Four bytes at once: the register after the word, one lookup per table.
inline uint32_t Step4(uint32_t crc, uint32_t word) {
  const auto& t = kCrc32Tables.entries;
  crc ^= word;
  return t[3][crc & 0xFF] ^ t[2][(crc >> 8) & 0xFF] ^ t[1][(crc >> 16) & 0xFF] ^ t[0][crc >> 24];
}

}  // namespace

static_assert(MakeTables().entries[0][1] == 0x77073096u, "published CRC-32 table entry 1");
static_assert(MakeTables().entries[0][255] == 0x2D02EF8Du, "published CRC-32 table entry 255");

#if defined(__x86_64__)
namespace {

// Carry-less multiplication folds 16-byte blocks into a running 128-bit remainder:
// a block's low half (its first eight bytes, the higher powers) times x^(d+32) and its
// high half times x^(d-32), both modulo the polynomial and bit-reflected, move it d
// bits on, where it is added to the data there. Four remainders 64 bytes apart run at
// once and are folded into one at the end; what is left is 16 bytes whose CRC from a
// zero register is the CRC of everything folded.
constexpr int64_t kFold512Low = 0x154442bd4;   // x^544
constexpr int64_t kFold512High = 0x1c6e41596;  // x^480
constexpr int64_t kFold128Low = 0x1751997d0;   // x^160
constexpr int64_t kFold128High = 0x0ccaa009e;  // x^96

__attribute__((target("pclmul,sse2"))) inline __m128i Fold(__m128i remainder, __m128i constants,
                                                           __m128i data) {
  const __m128i low = _mm_clmulepi64_si128(remainder, constants, 0x00);
  const __m128i high = _mm_clmulepi64_si128(remainder, constants, 0x11);
  return _mm_xor_si128(_mm_xor_si128(low, high), data);
}

// The register after the first count & ~15 bytes. Requires: count >= 64.
__attribute__((target("pclmul,sse2"))) uint32_t FoldBlocks(uint32_t crcRegister, const uint8_t* data,
                                                           size_t count) {
  auto load = [](const uint8_t* at) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at)); };
  __m128i x0 = _mm_xor_si128(load(data), _mm_cvtsi32_si128(static_cast<int>(crcRegister)));
  __m128i x1 = load(data + 16);
  __m128i x2 = load(data + 32);
  __m128i x3 = load(data + 48);
  const uint8_t* next = data + 64;
  const uint8_t* const end = data + (count & ~size_t{15});
  const __m128i fold512 = _mm_set_epi64x(kFold512High, kFold512Low);
  for (; end - next >= 64; next += 64) {
    x0 = Fold(x0, fold512, load(next));
    x1 = Fold(x1, fold512, load(next + 16));
    x2 = Fold(x2, fold512, load(next + 32));
    x3 = Fold(x3, fold512, load(next + 48));
  }
  const __m128i fold128 = _mm_set_epi64x(kFold128High, kFold128Low);
  __m128i x = Fold(Fold(Fold(x0, fold128, x1), fold128, x2), fold128, x3);
  for (; next != end; next += 16) x = Fold(x, fold128, load(next));
  alignas(16) uint8_t rest[16];
  _mm_store_si128(reinterpret_cast<__m128i*>(rest), x);
  uint32_t result = 0;
  for (int i = 0; i < 16; i += 4) result = Step4(result, Word(rest + i));
  return result;
}

bool HasCarrylessMultiply() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("pclmul");
}
const bool hasCarrylessMultiply = HasCarrylessMultiply();

}  // namespace
#endif

// Hot: see bench/crc32_bench.cc.
uint32_t Crc32(uint32_t previous, const void* data, size_t count) {
  const uint8_t* next = static_cast<const uint8_t*>(data);
  const auto& t = kCrc32Tables.entries;
#if defined(__x86_64__)
  if (count >= 64 && hasCarrylessMultiply) {
    const uint32_t crc = FoldBlocks(~previous, next, count);
    const size_t folded = count & ~size_t{15};
    return count == folded ? ~crc : Crc32(~crc, next + folded, count - folded);
  }
#endif
  if (count >= kTwoChainBytes) {
    const size_t half = (count / 2) & ~size_t{3};
    const uint8_t* second = next + half;
    uint32_t crcA = ~previous;
    uint32_t crcB = ~0u;
    for (size_t i = 0; i < half; i += 4) {
      crcA = Step4(crcA, Word(next + i));
      crcB = Step4(crcB, Word(second + i));
    }
    const uint32_t tail = Crc32(~crcB, second + half, count - 2 * half);
    return CombineCrc32(~crcA, tail, count - half);
  }
  const uint8_t* const end = next + count;
  uint32_t crc = ~previous;
  while (end - next >= 4) {
    crc = Step4(crc, Word(next));
    next += 4;
  }
  while (next != end) crc = (crc >> 8) ^ t[0][(crc ^ *next++) & 0xFF];
  return ~crc;
}

}  // namespace qm
