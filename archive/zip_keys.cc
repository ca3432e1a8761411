#include "archive/zip_keys.h"

#include "archive/crc32.h"

namespace qm {

void ZipKeys::Update(uint8_t plainByte) {
  key0 = Crc32Step(key0, plainByte);
  key1 = (key1 + (key0 & 0xFFu)) * 134775813u + 1u;  // wraps modulo 2^32 as unsigned
  key2 = Crc32Step(key2, static_cast<uint8_t>(key1 >> 24));
}

void ZipKeys::Decrypt(uint8_t* bytes, size_t count) {
  for (size_t i = 0; i < count; ++i) bytes[i] = DecryptByte(bytes[i]);
}

}  // namespace qm
