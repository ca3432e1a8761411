#include "app/md5.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "core/memory_stream.h"
#include "tests/support/stream_writes.h"

namespace qm {
namespace {

// The RFC 1321 suite, then runs of 'a' (digests from Python's hashlib) around the block
// edge: from 56 bytes of remainder on, the length spills into a second block.
TEST(Md5, KnownAnswers) {
  const std::pair<std::string, const char*> cases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
      {std::string(55, 'a'), "ef1772b6dff9a122358552954ad0df65"},
      {std::string(56, 'a'), "3b0c8ac703f828b04c6c197006d17218"},
      {std::string(64, 'a'), "014842d480b571495a4a0363793f7367"},
  };
  for (const auto& [text, hex] : cases) {
    EXPECT_EQ(Md5Hex(Md5Of(text.data(), text.size())).CStr(), std::string(hex)) << '"' << text << '"';
  }
}

std::vector<uint8_t> PatternBytes() {
  std::vector<uint8_t> bytes(100000);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7 + 3);
  return bytes;
}
constexpr const char* kPatternHex = "59f08777fcd1aa2b8e0c8f892cfaae09";  // hashlib

TEST(Md5, PiecewiseUpdatesGiveTheOneShotDigest) {
  const std::vector<uint8_t> bytes = PatternBytes();
  const uint32_t seed = 20240611;
  std::mt19937 random(seed);
  for (int round = 0; round < 20; ++round) {
    Md5State state;
    size_t at = 0;
    while (at < bytes.size()) {
      const size_t piece = std::min<size_t>(bytes.size() - at, random() % (round < 10 ? 70 : 5000));
      Md5Update(state, bytes.data() + at, piece);
      at += piece;
    }
    const Md5Digest digest = Md5Final(state);
    ASSERT_STREQ(Md5Hex(digest).CStr(), kPatternHex) << "seed " << seed << " round " << round;
    EXPECT_EQ(Md5Final(state), digest);  // finishing again gives the same digest
  }
}

// Reading through the stream hashes what was delivered; writing hashes and forwards,
// alone or in front of another stream.
TEST(Md5Stream, HashesWhatPassesThrough) {
  const std::vector<uint8_t> bytes = PatternBytes();
  const int64_t size = static_cast<int64_t>(bytes.size());
  MemoryStream memory(bytes.data(), static_cast<int32_t>(size));
  Md5Stream reader(&memory);
  EXPECT_EQ(reader.Size(), size);
  ASSERT_TRUE(Skip(reader, size));
  EXPECT_STREQ(Md5Hex(reader.Digest()).CStr(), kPatternHex);

  Md5Stream alone;
  ASSERT_TRUE(test::WriteAll(alone, bytes.data(), size));
  EXPECT_STREQ(Md5Hex(alone.Digest()).CStr(), kPatternHex);
  MemoryStream target;
  Md5Stream writer(&target);
  ASSERT_TRUE(test::WriteAll(writer, bytes.data(), 1000));
  ASSERT_TRUE(test::WriteAll(writer, bytes.data() + 1000, size - 1000));
  EXPECT_TRUE(writer.Close());
  EXPECT_EQ(Md5Of(target.Data(), static_cast<size_t>(target.SizeInBytes())), writer.Digest());
  EXPECT_STREQ(Md5Hex(writer.Digest()).CStr(), kPatternHex);
}

}  // namespace
}  // namespace qm
