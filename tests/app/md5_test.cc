#include "app/md5.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "core/memory_stream.h"

namespace qm {
namespace {

std::string HexOf(const std::string& text) {
  return Md5Hex(Md5Of(text.data(), text.size())).CStr();
}

TEST(Md5, MatchesTheRfc1321TestSuite) {
  const struct {
    const char* text;
    const char* hex;
  } cases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const auto& c : cases) EXPECT_EQ(HexOf(c.text), c.hex) << '"' << c.text << '"';
}

TEST(Md5, PaddingAroundTheBlockEdge) {
  // From 56 bytes of remainder on the length spills into a second block.
  const struct {
    size_t length;
    const char* hex;  // of that many 'a's, from Python's hashlib
  } cases[] = {
      {55, "ef1772b6dff9a122358552954ad0df65"}, {56, "3b0c8ac703f828b04c6c197006d17218"},
      {63, "b06521f39153d618550606be297466d5"}, {64, "014842d480b571495a4a0363793f7367"},
      {65, "c743a45e0d2e6a95cb859adae0248435"}, {1000, "cabe45dcc9ae5b66ba86600cca6b8ba8"},
  };
  for (const auto& c : cases) EXPECT_EQ(HexOf(std::string(c.length, 'a')), c.hex) << c.length;
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
    EXPECT_EQ(state.total, static_cast<int64_t>(bytes.size()));
    const Md5Digest digest = Md5Final(state);
    EXPECT_EQ(state.total, -1);
    ASSERT_STREQ(Md5Hex(digest).CStr(), kPatternHex) << "seed " << seed << " round " << round;
    EXPECT_EQ(Md5Final(state), digest);  // finishing again gives the same digest
  }
}

TEST(Md5Stream, ReadingThroughHashesWhatWasDelivered) {
  const std::vector<uint8_t> bytes = PatternBytes();
  MemoryStream memory(bytes.data(), static_cast<int32_t>(bytes.size()));
  Md5Stream stream(&memory);
  EXPECT_EQ(stream.Flags(), memory.Flags());
  EXPECT_EQ(stream.Size(), static_cast<int64_t>(bytes.size()));
  ASSERT_TRUE(Skip(stream, stream.Size()));
  EXPECT_TRUE(stream.AtEnd());
  EXPECT_STREQ(Md5Hex(stream.Digest()).CStr(), kPatternHex);
}

TEST(Md5Stream, WritingHashesAndForwards) {
  const std::vector<uint8_t> bytes = PatternBytes();
  const int64_t size = static_cast<int64_t>(bytes.size());
  Md5Stream alone;
  EXPECT_EQ(alone.Flags(), kStreamOpen | kStreamWritable);
  ASSERT_TRUE(WriteAll(alone, bytes.data(), size));
  EXPECT_STREQ(Md5Hex(alone.Digest()).CStr(), kPatternHex);

  MemoryStream memory;
  Md5Stream through(&memory);
  ASSERT_TRUE(WriteAll(through, bytes.data(), 1000));
  ASSERT_TRUE(WriteAll(through, bytes.data() + 1000, size - 1000));
  EXPECT_EQ(through.Tell(), size);
  EXPECT_TRUE(through.Close());
  EXPECT_EQ(through.Flags(), 0u);
  int64_t bytesDone = 0;
  EXPECT_FALSE(through.Write("x", 1, bytesDone));
  EXPECT_EQ(Md5Of(memory.Data(), static_cast<size_t>(memory.SizeInBytes())), through.Digest());
}

}  // namespace
}  // namespace qm
