// ZipKeys: the state of the traditional PKWARE zip encryption, three 32-bit keys that
// carry over from call to call, so a stream may be decrypted in blocks of any size. A
// plain value type: intentionally copyable, owned by whoever holds it, one thread at a
// time per value. No allocation, never fails.

// A default-constructed value holds the published initial keys (0x12345678,
// 0x23456789, 0x34567890), which is the state for an empty password; Update feeds one
// plain byte (a password byte while keying, then every decrypted byte), and Decrypt
// turns cipher bytes into plain bytes in place, advancing the keys. The stream that
// decrypts an entry keeps a copy of the keys it was opened with to restart.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qm {

struct ZipKeys {
  uint32_t key0 = 0x12345678u;
  uint32_t key1 = 0x23456789u;
  uint32_t key2 = 0x34567890u;

  // Advances the keys over one plain byte.
  void Update(uint8_t plainByte);

  // The byte that is XORed onto the next cipher byte; depends on key2 only.
  uint8_t KeyStreamByte() const {
    uint32_t t = (key2 | 2u) & 0xFFFFu;
    return static_cast<uint8_t>((t * (t ^ 1u)) >> 8);
  }

  // Decrypts one byte and advances the keys with the plain result.
  uint8_t DecryptByte(uint8_t cipherByte) {
    uint8_t plainByte = static_cast<uint8_t>(cipherByte ^ KeyStreamByte());
    Update(plainByte);
    return plainByte;
  }

  // Decrypts count bytes in place. Requires: bytes is writable for count bytes.
  void Decrypt(uint8_t* bytes, size_t count);
};

}  // namespace qm
