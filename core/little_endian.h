// Little-endian loads and stores of 16-, 32- and 64-bit words at any alignment: the
// byte order of every format read here (gzip, zip, tar's neighbours, DEFLATE's bit
// buffer) and of MD5's words. Header only and stateless; each call is one load or
// store on a little-endian host. Requires: the bytes at `bytes` exist (callers check
// the count; nothing here can).
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace qm {

static_assert(std::endian::native == std::endian::little || std::endian::native == std::endian::big,
              "mixed-endian hosts are not supported");

inline uint16_t LoadLittle16(const uint8_t* bytes) {
  return static_cast<uint16_t>(bytes[0] | bytes[1] << 8);
}

inline uint32_t LoadLittle32(const uint8_t* bytes) {
  uint32_t word;
  std::memcpy(&word, bytes, sizeof word);
  if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap32(word);
  return word;
}

inline uint64_t LoadLittle64(const uint8_t* bytes) {
  uint64_t word;
  std::memcpy(&word, bytes, sizeof word);
  if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
  return word;
}

inline void StoreLittle32(uint8_t* bytes, uint32_t word) {
  if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap32(word);
  std::memcpy(bytes, &word, sizeof word);
}

}  // namespace qm
