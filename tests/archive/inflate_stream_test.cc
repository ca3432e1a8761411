#include "archive/inflate_stream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "archive/crc32.h"
#include "archive/zip_keys.h"
#include "core/memory_stream.h"
#include "tests/support/archive_fixture.h"
#include "tests/support/bit_writer.h"
#include "tests/support/temp_tree.h"

namespace qm {
namespace {

using test::BitWriter;
using test::CanonicalCodes;

uint32_t CrcOf(const std::string& bytes) {
  return Crc32(0, bytes.data(), bytes.size());
}

struct Decoded {
  bool isOk = true;
  std::string bytes;
  InflateFault fault = InflateFault::None;
};

// Reads stream to its end (or first failure) with read sizes from nextCount.
Decoded ReadToEnd(InflateStream& stream, const std::function<int64_t()>& nextCount) {
  Decoded result;
  std::vector<char> buffer(70000);
  for (int64_t got = 1; result.isOk && got > 0;) {
    got = -1;  // a read that leaves it unset fails loudly
    result.isOk = stream.Read(buffer.data(), nextCount(), got);
    result.bytes.append(buffer.data(), static_cast<size_t>(got));
  }
  result.fault = stream.Decoder().Fault();
  return result;
}

// Decodes input from a fresh stream; a checksum, when given, is expected of the output.
Decoded Decode(const std::string& input, InflateMode mode = Raw, int64_t readSize = 65536,
               const std::function<int64_t()>& nextCount = nullptr, const uint32_t* checksum = nullptr,
               int64_t presetLength = -1) {
  MemoryStream source(input.data(), static_cast<int32_t>(input.size()));
  InflateStream stream(mode);
  if (checksum != nullptr) stream.SetExpectedChecksum(*checksum);
  if (presetLength >= 0) stream.SetPresetLength(static_cast<uint32_t>(presetLength));
  stream.Open(&source, nullptr, false);
  return ReadToEnd(
      stream, nextCount ? nextCount : [&] { return readSize; });
}

const std::vector<uint32_t> kFiveBitCodes = CanonicalCodes(std::vector<int>(19, 5));

// A final dynamic block header: HLIT, HDIST and HCLEN, then, for hclen 15, a
// code-length code giving all 19 symbols 5 bits (kFiveBitCodes).
// The header follows whatever w already holds.
BitWriter DynamicStart(uint32_t hlit, uint32_t hdist, uint32_t hclen, BitWriter w = {}) {
  w.BlockHeader(true, 2).Bits(hlit, 5).Bits(hdist, 5).Bits(hclen, 4);
  for (uint32_t i = 0; hclen == 15 && i < 19; ++i) w.Bits(5, 3);
  return w;
}

// A whole dynamic block header for the given code lengths, each written as itself.
BitWriter DynamicHeader(const std::vector<int>& literalLengths, const std::vector<int>& distanceLengths,
                        BitWriter w = {}) {
  w = DynamicStart(static_cast<uint32_t>(literalLengths.size() - 257),
                   static_cast<uint32_t>(distanceLengths.size() - 1), 15, std::move(w));
  for (int length : literalLengths) w.Code(kFiveBitCodes[length], 5);
  for (int length : distanceLengths) w.Code(kFiveBitCodes[length], 5);
  return w;
}

// Literal/length code lengths with codes for the given symbols only.
std::vector<int> LiteralLengths(std::initializer_list<std::pair<int, int>> symbolLengths,
                                size_t count = 257) {
  std::vector<int> lengths(count, 0);
  for (auto [symbol, length] : symbolLengths) lengths[static_cast<size_t>(symbol)] = length;
  return lengths;
}

// python3's zlib writes each file given as raw DEFLATE (wbits -15) at several levels and
// strategies; "flushes" mixes sync and full flushes, which add empty stored blocks.
constexpr const char* kZlibCases[] = {"level0",  "level1", "level6", "level9", "filtered",
                                      "huffman", "rle",    "fixed",  "flushes"};
constexpr const char* kZlibScript = R"(
import sys, zlib as Z
cases = {"level0": (0, 0), "level1": (1, 0), "level6": (6, 0), "level9": (9, 0), "filtered": (6, Z.Z_FILTERED),
         "huffman": (6, Z.Z_HUFFMAN_ONLY), "rle": (6, Z.Z_RLE), "fixed": (6, Z.Z_FIXED), "flushes": (6, 0)}
for path in sys.argv[1:]:
    data = open(path, "rb").read()
    for name, (level, strategy) in cases.items():
        c = Z.compressobj(level, Z.DEFLATED, -15, 9, strategy)
        if name == "flushes":
            out = b"".join(c.compress(data[i:i + 7000]) + c.flush(Z.Z_SYNC_FLUSH if i % 2 else Z.Z_FULL_FLUSH)
                           for i in range(0, len(data), 7000)) + c.flush()
        else:
            out = c.compress(data) + c.flush()
        open(path + "." + name, "wb").write(out)
)";

TEST(Inflate, DecodesZlibOutputWholeBytewiseAndInRandomChunks) {
  std::mt19937 random(4242);
  std::string noise(40000, '\0'), runs, text, part;
  for (char& c : noise) c = static_cast<char>(random());
  // Runs of one byte (long distance-1 matches) between words from a small alphabet.
  while (runs.size() < 120000) {
    runs.append(random() % 600, static_cast<char>('a' + random() % 3));
    for (int i = random() % 50; i > 0; --i) runs += static_cast<char>('a' + random() % 8);
  }
  // Real text: this project's sources, repeated past several windows.
  for (const char* name : {"/archive/inflate_stream.cc", "/archive/inflate_stream.h", "/archive/crc32.cc"}) {
    if (test::ReadFileBytes(std::string(QM_SOURCE_DIR) + name, part)) text += part;
  }
  while (text.size() < 150000) text += text;

  test::TempTree tree;
  const std::string inputs[] = {noise, runs, text};
  std::string command = "python3 " + tree.Path("zlib.py");
  ASSERT_TRUE(tree.WriteFile("zlib.py", kZlibScript));
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(tree.WriteFile("data" + std::to_string(i), inputs[i]));
    command += " " + tree.Path("data" + std::to_string(i));
  }
  ASSERT_EQ(std::system(command.c_str()), 0);
  for (int i = 0; i < 3; ++i) {
    for (const char* name : kZlibCases) {
      const std::string label = "data" + std::to_string(i) + "." + name;
      std::string compressed;
      ASSERT_TRUE(test::ReadFileBytes(tree.Path(label), compressed) && !compressed.empty()) << label;
      for (int64_t readSize : {65536, 1}) {
        Decoded d = Decode(compressed, Raw, readSize);
        ASSERT_TRUE(d.isOk && d.bytes == inputs[i]) << label << " read size " << readSize;
      }
      const uint32_t seed = static_cast<uint32_t>(random());
      std::mt19937 chunks(seed);
      const uint32_t crc = CrcOf(inputs[i]);
      Decoded chunked = Decode(
          compressed, RawCrc, 0, [&] { return 1 + chunks() % 9000; }, &crc);
      ASSERT_TRUE(chunked.isOk && chunked.bytes == inputs[i]) << label << " chunk seed " << seed;
    }
  }
}

// Expected output of a sequence of literals and matches, copying byte by byte; a
// distance before the start of the output reads the window's zeros.
struct Piece {
  std::string literals;
  int length = 0;
  int distance = 0;
};

TEST(Inflate, BackReferencesRepeatWrapAndReadZerosBeforeTheStart) {
  const std::string filler(32700, 'f');
  const std::vector<std::vector<Piece>> cases = {
      {{"x", 258, 1}, {"", 258, 1}, {"", 258, 1}},                // distance 1, length 258
      {{"ab", 3, 2}, {"cde", 7, 3}, {"0123456789", 258, 9}},      // short overlapping distances
      {{"", 10, 5}, {"q", 4, 100}},                               // before the start: zeros
      {{filler, 258, 1000}, {"", 258, 32768}, {"", 258, 32700}},  // across the window's end
      {{filler, 200, 32768}, {"", 258, 4}},                       // the oldest byte in the window
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    BitWriter w;
    std::string expected;
    for (const Piece& piece : cases[i]) {
      if (piece.literals.size() > 1000) {
        w.StoredBlock(false, piece.literals.substr(0, 30000))
            .StoredBlock(false, piece.literals.substr(30000));
      } else if (!piece.literals.empty()) {
        w.BlockHeader(false, 1);
        for (char c : piece.literals) w.FixedLiteral(static_cast<uint8_t>(c));
        w.FixedLiteral(256);
      }
      expected += piece.literals;
      w.BlockHeader(false, 1).FixedMatch(piece.length, piece.distance).FixedLiteral(256);
      for (int k = 0; k < piece.length; ++k) {
        const int64_t from = static_cast<int64_t>(expected.size()) - piece.distance;
        expected += from >= 0 ? expected[static_cast<size_t>(from)] : '\0';
      }
    }
    w.StoredBlock(true, "");
    for (int64_t readSize : {int64_t{1}, int64_t{777}, int64_t{65536}}) {
      Decoded d = Decode(w.Text(), Raw, readSize);
      ASSERT_TRUE(d.isOk && d.bytes == expected) << "case " << i << " read size " << readSize;
    }
  }
}

// Codes of every length from 1 to 15 in both alphabets, so that the longest ones sit
// in the lookup tables' second level, with extra bits behind them: the output must be
// that of the symbols written, and a pattern the code leaves unused must be refused.
TEST(Inflate, CodesOfEveryLengthUpToFifteenBitsDecode) {
  std::vector<int> literals(285, 0), distances(30, 0);
  for (int i = 0; i < 13; ++i)
    literals[static_cast<size_t>('a' + i)] = distances[static_cast<size_t>(i)] = i + 1;
  for (int symbol : {int{'n'}, 256, 265, 284}) literals[static_cast<size_t>(symbol)] = 15;
  for (int symbol : {13, 20, 26, 29}) distances[static_cast<size_t>(symbol)] = 15;
  const std::vector<uint32_t> literalCodes = CanonicalCodes(literals),
                              distanceCodes = CanonicalCodes(distances);
  // (symbol, base, extra bits) of the lengths and distances used.
  const int lengthSymbols[][3] = {{265, 11, 1}, {284, 227, 5}};
  const int distanceSymbols[][3] = {{0, 1, 0},   {3, 4, 0},     {8, 17, 3},     {12, 65, 5},
                                    {13, 97, 5}, {20, 1025, 9}, {26, 8193, 12}, {29, 24577, 13}};

  BitWriter w = DynamicHeader(literals, distances);
  std::string expected;
  std::mt19937 random(15);
  auto literal = [&](int symbol) {
    w.Code(literalCodes[static_cast<size_t>(symbol)], literals[static_cast<size_t>(symbol)]);
    expected += static_cast<char>(symbol);
  };
  while (expected.size() < 33000) literal('a' + static_cast<int>(random() % 14));
  for (const auto& length : lengthSymbols) {
    for (const auto& distance : distanceSymbols) {
      for (uint32_t pick : {0u, 1u, ~0u}) {  // no, one and every extra bit set
        const uint32_t lengthExtra = pick & ((1u << length[2]) - 1);
        const uint32_t distanceExtra = pick & ((1u << distance[2]) - 1);
        w.Code(literalCodes[static_cast<size_t>(length[0])], 15).Bits(lengthExtra, length[2]);
        w.Code(distanceCodes[static_cast<size_t>(distance[0])], distances[static_cast<size_t>(distance[0])]);
        w.Bits(distanceExtra, distance[2]);
        const size_t back = static_cast<size_t>(distance[1]) + distanceExtra;
        for (uint32_t k = 0; k < static_cast<uint32_t>(length[1]) + lengthExtra; ++k) {
          expected += expected[expected.size() - back];
        }
        literal('n');
      }
    }
  }
  literal('a');
  w.Code(literalCodes[256], 15);
  // Followed by bytes no decoder reads, so that the fast path decodes up to the end.
  for (const std::string& input : {w.Text(), w.Text() + std::string(64, '\0')}) {
    for (int64_t readSize : {65536, 777}) {
      Decoded d = Decode(input, Raw, readSize);
      ASSERT_TRUE(d.isOk && d.bytes == expected) << "input " << input.size() << " read size " << readSize;
    }
  }

  // Without 'n' and distance 13 the codes keep the same lengths but are one short, so
  // the last 15-bit pattern of each (where 284 and 29 were) has no symbol.
  std::vector<int> fewerLiterals = literals, fewerDistances = distances;
  fewerLiterals['n'] = 0;
  fewerDistances[13] = 0;
  const std::string unusedLiteral =
      DynamicHeader(fewerLiterals, distances).Code(literalCodes[284], 15).Text();
  const std::string unusedDistance = DynamicHeader(literals, fewerDistances)
                                         .Code(literalCodes[265], 15)
                                         .Bits(0, 1)
                                         .Code(distanceCodes[29], 15)
                                         .Text();
  for (const std::string& bytes : {unusedLiteral, unusedDistance}) {
    for (const std::string& input : {bytes, bytes + std::string(64, '\0')}) {
      Decoded d = Decode(input);
      EXPECT_FALSE(d.isOk);
      EXPECT_EQ(d.fault, InflateFault::UnusedCode) << "input " << input.size();
    }
  }
}

// Error paths

TEST(Inflate, RejectsEachKindOfDamagedStream) {
  const std::vector<int> aEndLength = LiteralLengths({{'a', 2}, {256, 2}, {257, 1}}, 258);
  const struct Case {
    const char* name;
    std::string bytes;
    InflateFault fault;
  } cases[] = {
      {"block type 3", BitWriter().BlockHeader(true, 3).Text(), InflateFault::BadBlockType},
      {"LEN not ~NLEN", BitWriter().BlockHeader(true, 0).Align().U16(5).U16(5).Text(),
       InflateFault::StoredLengthMismatch},
      {"no code-length code", DynamicStart(0, 0, 0).Bits(0, 12).Text(), InflateFault::NoCodes},
      // Code-length code: symbols 16, 17, 18 all of length 1.
      {"over-subscribed", DynamicStart(0, 0, 0).Bits(1, 3).Bits(1, 3).Bits(1, 3).Bits(0, 3).Text(),
       InflateFault::OverSubscribed},
      {"no end-of-block code", DynamicHeader(LiteralLengths({{'a', 1}, {'b', 1}}), {1}).Text(),
       InflateFault::NoEndOfBlock},
      {"all distance lengths 0", DynamicHeader(LiteralLengths({{'a', 1}, {256, 1}}), {0}).Text(),
       InflateFault::NoCodes},
      // 257 + 1 lengths, then runs of 138 and 121 zeros: one too many.
      {"repeat past the end",
       DynamicStart(0, 0, 15)
           .Code(kFiveBitCodes[18], 5)
           .Bits(127, 7)
           .Code(kFiveBitCodes[18], 5)
           .Bits(110, 7)
           .Text(),
       InflateFault::RepeatPastEnd},
      // A literal 'a', then length 3 with distance bit 1, which has no code.
      {"unused bit pattern",
       DynamicHeader(aEndLength, {1}).Code(CanonicalCodes(aEndLength)['a'], 2).Code(0, 1).Code(1, 1).Text(),
       InflateFault::UnusedCode},
      {"literal/length symbol 286",
       BitWriter().BlockHeader(true, 1).FixedLiteral('a').FixedLiteral(286).Text(),
       InflateFault::BadLiteralSymbol},
      {"distance symbol 30",
       BitWriter().BlockHeader(true, 1).FixedLiteral('a').FixedLiteral(257).FixedDistance(30).Text(),
       InflateFault::BadDistanceSymbol},
      {"truncated", BitWriter().BlockHeader(false, 1).FixedLiteral('a').FixedLiteral(256).Text(),
       InflateFault::TruncatedInput},
  };
  for (const Case& c : cases) {
    // As given (the careful path near the end of the input) and, unless the damage is
    // the end itself, followed by enough bytes that the fast path meets the damage.
    const size_t padding = c.fault == InflateFault::TruncatedInput ? 0 : 64;
    for (const std::string& input : {c.bytes, c.bytes + std::string(padding, '\0')}) {
      Decoded d = Decode(input);
      EXPECT_FALSE(d.isOk) << c.name;
      EXPECT_EQ(d.fault, c.fault) << c.name << " input size " << input.size();
    }
  }

  struct FailingSource : Stream {
    bool Read(void*, int64_t, int64_t& bytesDone) override { return (bytesDone = 0) != 0; }
  } failing;
  InflateStream unopened, failingRead;
  failingRead.Open(&failing, nullptr, false);
  for (auto [stream, fault] :
       {std::pair{&unopened, InflateFault::NoSource}, {&failingRead, InflateFault::SourceReadFailed}}) {
    char byte;
    int64_t got = 0;
    EXPECT_FALSE(stream->Read(&byte, 1, got));
    EXPECT_EQ(stream->Decoder().Fault(), fault);
  }
}

// Stored, fixed and dynamic blocks (the dynamic one with a single distance code of one
// bit: an incomplete code, accepted while its unused pattern is not met) in a gzip
// member that fails when cut anywhere.
TEST(Inflate, EveryTruncationOfAStreamFails) {
  BitWriter w;
  w.StoredBlock(false, "abc");
  w.BlockHeader(false, 1).FixedLiteral('d').FixedMatch(10, 1).FixedLiteral(256);
  const std::vector<int> literals = LiteralLengths({{'e', 1}, {256, 2}, {257, 2}}, 258);
  const std::vector<uint32_t> codes = CanonicalCodes(literals);
  const std::string deflated = DynamicHeader(literals, {1}, w)
                                   .Code(codes['e'], 1)
                                   .Code(codes[257], 2)
                                   .Code(0, 1)
                                   .Code(codes[256], 2)
                                   .Text();
  const std::string expected = "abcdddddddddddeeee";
  const std::string full = test::GzipWrap(deflated, CrcOf(expected), static_cast<uint32_t>(expected.size()));
  ASSERT_EQ(Decode(full, Gzip).bytes, expected);
  for (size_t size = 0; size < full.size(); ++size) {
    Decoded d = Decode(full.substr(0, size), Gzip, 7);
    EXPECT_FALSE(d.isOk) << "cut at " << size;
    EXPECT_EQ(d.fault, InflateFault::TruncatedInput) << "cut at " << size;
  }
}

TEST(Inflate, ThousandsOfEmptyBlocksDecodeInBoundedTime) {
  BitWriter w;
  for (int i = 0; i < 100000; ++i) w.StoredBlock(false, "");
  for (int i = 0; i < 100000; ++i) w.BlockHeader(false, 1).FixedLiteral(256);
  w.BlockHeader(true, 1).FixedLiteral('z').FixedLiteral(256);
  const auto start = std::chrono::steady_clock::now();
  Decoded d = Decode(w.Text());
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_TRUE(d.isOk && d.bytes == "z");
}

// A caller that knows the size reads exactly that much and never asks again: the read
// that delivers the last byte must already have checked the CRC-32. Sizes cover a pass
// ending exactly on the last byte (32509) and several passes. Stored mode copies the
// preset length and no more (the source runs on), and checks the CRC-32 even of nothing.
TEST(Inflate, WrongCrcFailsTheReadThatDeliversTheLastByte) {
  for (int size : {0, 1, 1000, 32509, 65018, 100000}) {
    std::string data;
    for (int i = 0; data.size() < static_cast<size_t>(size); ++i) data += std::to_string(i * 7919 % 1000);
    data.resize(static_cast<size_t>(size));
    BitWriter w;
    for (size_t at = 0; at < data.size() || at == 0; at += 65535)
      w.StoredBlock(at + 65535 >= data.size(), data.substr(at, 65535));
    for (InflateMode mode : {RawCrc, Stored}) {
      const std::string input = mode == Stored ? data + "more" : w.Text();
      for (uint32_t crc : {CrcOf(data), CrcOf(data) ^ 1u}) {
        MemoryStream source(input.data(), static_cast<int32_t>(input.size()));
        InflateStream stream(mode);
        stream.SetExpectedChecksum(crc);
        stream.SetPresetLength(static_cast<uint32_t>(size));
        stream.Open(&source, nullptr, false);
        std::string out(data.size() + 1, '\0');
        int64_t got = 0;
        const bool isOk = stream.Read(out.data(), std::max(size, 1), got);  // reading 0 bytes decodes nothing
        EXPECT_EQ(isOk, crc == CrcOf(data)) << "size " << size << " mode " << mode;
        EXPECT_TRUE(!isOk || (got == size && out.substr(0, data.size()) == data));
        EXPECT_EQ(stream.AtEnd(), isOk);
      }
    }
  }
  // A stored source that ends early delivers what came, then fails.
  const uint32_t crc = CrcOf("hello");
  Decoded early = Decode("hel", Stored, 3, nullptr, &crc, 5);
  EXPECT_FALSE(early.isOk);
  EXPECT_EQ(early.bytes, "hel");
}

TEST(InflateStream, FailureHandsOutPendingBytesThenFailsAgain) {
  const std::string data(50, 'p');
  const std::string input = test::GzipWrap(BitWriter().StoredBlock(true, data).Text(), CrcOf(data) + 1, 50);
  MemoryStream source(input.data(), static_cast<int32_t>(input.size()));
  InflateStream stream(Gzip);
  stream.Open(&source, nullptr, false);
  char buffer[100];
  int64_t got = -1;
  for (int64_t expected : {0, 50, 0}) {  // the pass reaching the end fails; its bytes still come
    EXPECT_FALSE(stream.Read(buffer, 100, got));
    EXPECT_EQ(got, expected);
  }
  EXPECT_TRUE(stream.Rewind());  // recovers, and fails the same way again
  EXPECT_FALSE(stream.Read(buffer, 100, got));
  EXPECT_EQ(stream.Decoder().Fault(), InflateFault::ChecksumMismatch);
}

TEST(InflateStream, RewindRestartsTheDataAndTheEndReadsAsZeroBytes) {
  std::string data;
  for (int i = 0; i < 9000; ++i) data += std::to_string(i);
  const std::string input =
      "0123" +
      BitWriter().StoredBlock(false, data.substr(0, 20000)).StoredBlock(true, data.substr(20000)).Text();
  MemoryStream source(input.data(), static_cast<int32_t>(input.size()));
  ASSERT_TRUE(source.Seek(4, kSeekStart));  // the data does not start at position 0
  InflateStream stream(Raw);
  stream.Open(&source, nullptr, false);
  char buffer[100];
  int64_t got = -1;
  EXPECT_TRUE(stream.Read(buffer, 100, got));
  EXPECT_EQ(std::string(buffer, 100), data.substr(0, 100));
  ASSERT_TRUE(stream.Rewind());
  Decoded d = ReadToEnd(stream, [] { return 4096; });
  EXPECT_TRUE(d.isOk && d.bytes == data);
  EXPECT_TRUE(stream.Read(buffer, 100, got));
  EXPECT_EQ(got, 0);
}

// An entry deflated and encrypted by Info-ZIP's zip decodes through the stream's
// decrypting tap, from a pooled stream that owns its source; Rewind restores the keys.
TEST(InflateStream, DecodesEntriesEncryptedByZip) {
  test::TempTree tree;
  std::string text;
  for (int i = 0; i < 3000; ++i) text += "line " + std::to_string(i % 97) + "\n";
  ASSERT_TRUE(tree.WriteFile("a.txt", text));
  ASSERT_TRUE(test::RunsCleanly("zip", {"-q", "-6", "-P", "s3cret", "a.zip", "a.txt"}, tree.Root()));
  std::string archive;
  ASSERT_TRUE(test::ReadFileBytes(tree.Path("a.zip"), archive));
  auto u16 = [&](size_t at) {
    return uint32_t{uint8_t(archive[at])} | uint32_t{uint8_t(archive[at + 1])} << 8;
  };
  ASSERT_TRUE(archive.size() > 30 && (u16(6) & 1) == 1 && u16(8) == 8);  // encrypted and deflated
  const size_t data = 30 + u16(26) + u16(28);
  ZipKeys keys;  // keyed by the password's bytes in turn
  for (const char byte : std::string("s3cret")) keys.Update(static_cast<uint8_t>(byte));
  std::string header = archive.substr(data, 12);
  keys.Decrypt(reinterpret_cast<uint8_t*>(header.data()), 12);
  InflateStream* stream = InflateStream::New(RawCrc);
  stream->SetExpectedChecksum(CrcOf(text));
  stream->SetPresetLength(static_cast<uint32_t>(text.size()));
  stream->Open(new MemoryStream(archive.data() + data + 12, static_cast<int32_t>(archive.size() - data - 12)),
               &keys, true);
  for (int round = 0; round < 2; ++round) {
    Decoded d = ReadToEnd(*stream, [] { return 1000; });
    EXPECT_TRUE(d.isOk && d.bytes == text) << "round " << round;
    ASSERT_TRUE(stream->Rewind());
  }
  InflateStream::Delete(stream);
}

}  // namespace
}  // namespace qm
