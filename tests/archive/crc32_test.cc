#include "archive/crc32.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>

#include "tests/support/archive_fixture.h"

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

}  // namespace
}  // namespace qm
