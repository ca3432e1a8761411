#include "archive/crc32.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "archive/zip_keys.h"
#include "tests/support/archive_fixture.h"
#include "tests/support/temp_tree.h"

namespace qm {
namespace {

TEST(Crc32, KnownAnswers) {
  struct Case {
    const char* text;
    uint32_t crc;
  };
  const Case cases[] = {
      {"", 0x00000000u},
      {"a", 0xE8B7BE43u},
      {"123456789", 0xCBF43926u},
      {"The quick brown fox jumps over the lazy dog", 0x414FA339u},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Crc32(0, c.text, std::char_traits<char>::length(c.text)), c.crc) << c.text;
  }
  EXPECT_EQ(Crc32(0, nullptr, 0), 0u);
}

// Against the bitwise form of the archive fixtures at many lengths and alignments (the
// four-byte steps and the tail), and fed in random pieces, each call continuing from
// the last.
TEST(Crc32, MatchesBitwiseFormAndResumesAcrossPieces) {
  const uint32_t seed = 20240611;
  std::mt19937 random(seed);
  std::string data(10000, '\0');
  for (char& byte : data) byte = static_cast<char>(random());
  for (size_t offset = 0; offset < 4; ++offset) {
    for (size_t count = 0; count <= 300; count += 7) {
      ASSERT_EQ(Crc32(0, data.data() + offset, count), test::Crc32Of(data.substr(offset, count)))
          << "offset " << offset << " count " << count;
    }
  }
  const uint32_t whole = Crc32(0, data.data(), data.size());
  EXPECT_EQ(whole, test::Crc32Of(data));
  for (int round = 0; round < 20; ++round) {
    uint32_t crc = 0;
    for (size_t at = 0; at < data.size();) {
      size_t piece = std::min<size_t>(random() % 37, data.size() - at);
      crc = Crc32(crc, data.data() + at, piece);
      at += piece;
    }
    ASSERT_EQ(crc, whole) << "seed " << seed << " round " << round;
  }
}

// Key values from a small independent Python implementation of the traditional
// PKWARE encryption, run at test time: the keys after the password "secret", then the
// cipher text of a known plain text encrypted with those keys.
TEST(ZipKeys, AgreeWithIndependentImplementation) {
  test::TempTree tree;
  ASSERT_TRUE(tree.WriteFile("keys.py", R"(
T = [0] * 256
for n in range(256):
    T[n] = n
    for _ in range(8): T[n] = (T[n] >> 1) ^ (0xEDB88320 if T[n] & 1 else 0)
k = [0x12345678, 0x23456789, 0x34567890]
def update(b):
    k[0] = (k[0] >> 8) ^ T[(k[0] ^ b) & 255]
    k[1] = ((k[1] + (k[0] & 255)) * 134775813 + 1) & 0xFFFFFFFF
    k[2] = (k[2] >> 8) ^ T[(k[2] ^ (k[1] >> 24)) & 255]
for b in b"secret": update(b)
print("%08x %08x %08x" % tuple(k))
for b in b"Hello, zip keys! 0123456789":
    t = (k[2] | 2) & 0xFFFF
    print("%02x" % (b ^ (((t * (t ^ 1)) >> 8) & 255)), end="")
    update(b)
)"));
  FILE* pipe = popen(("python3 " + tree.Path("keys.py")).c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  unsigned key0 = 0, key1 = 0, key2 = 0;
  std::string cipher;
  unsigned byte;
  ASSERT_EQ(fscanf(pipe, "%x %x %x", &key0, &key1, &key2), 3);
  while (fscanf(pipe, "%2x", &byte) == 1) cipher += static_cast<char>(byte);
  pclose(pipe);

  ZipKeys keys = ZipKeys::FromPassword("secret", 6);
  EXPECT_EQ(keys.key0, key0);
  EXPECT_EQ(keys.key1, key1);
  EXPECT_EQ(keys.key2, key2);
  ASSERT_EQ(cipher.size(), 27u);
  uint8_t* bytes = reinterpret_cast<uint8_t*>(cipher.data());
  keys.Decrypt(bytes, 10);  // in two blocks: the keys carry over
  keys.Decrypt(bytes + 10, cipher.size() - 10);
  EXPECT_EQ(cipher, "Hello, zip keys! 0123456789");
}

}  // namespace
}  // namespace qm
