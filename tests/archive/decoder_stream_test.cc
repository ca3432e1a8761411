// XzStream, Bzip2Stream and ZstdStream through one harness: every case runs for each
// format on data made by the format's own tool at test time.
#include "archive/decoder_stream.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "archive/bzip2_stream.h"
#include "archive/crc32.h"
#include "archive/xz_stream.h"
#include "archive/zstd_stream.h"
#include "core/memory_stream.h"
#include "tests/support/archive_fixture.h"
#include "tests/support/temp_tree.h"

namespace qm {
namespace {

struct Format {
  const char* name;
  const char* compress;  // a shell command from standard input to standard output
  std::function<DecoderStream*()> make;
};

const Format kFormats[] = {
    {"xz", "xz -c", [] { return new XzStream(); }},
    {"bzip2", "bzip2 -c", [] { return new Bzip2Stream(); }},
    {"zstd", "zstd -q -c", [] { return new ZstdStream(); }},
};

// Text of about `lines` lines, the same for a seed.
std::string SampleText(int lines, uint32_t seed = 7) {
  std::mt19937 random(seed);
  std::string text;
  for (int i = 0; i < lines; ++i) text += "line " + std::to_string(random() % 1000) + " of text;\n";
  return text;
}

// data piped through a shell command, or "" when it fails.
std::string Filtered(const std::string& data, const std::string& command) {
  test::TempTree tree;
  std::string out;
  if (!tree.WriteFile("in", data) || !test::RunsCleanly("sh", {"-c", command + " < in > out"}, tree.Root()) ||
      !test::ReadFileBytes(tree.Path("out"), out)) {
    return "";
  }
  return out;
}

struct Decoded {
  bool isOk = true;
  std::string bytes;
  DecoderFault fault = DecoderFault::kNone;
};

// Decodes input with read sizes from nextCount (64 KiB when none).
Decoded Decode(const Format& format, const std::string& input, const std::function<int64_t()>& nextCount = {},
               const std::function<void(DecoderStream&)>& setUp = {}) {
  MemoryStream source(input.data(), static_cast<int32_t>(input.size()));
  std::unique_ptr<DecoderStream> stream(format.make());
  if (setUp) setUp(*stream);
  stream->Open(&source, false);
  Decoded result;
  std::vector<char> buffer(1 << 22);  // the largest read asked for
  for (int64_t got = 1; result.isOk && got > 0;) {
    got = -1;
    result.isOk = stream->Read(buffer.data(), nextCount ? nextCount() : 65536, got);
    result.bytes.append(buffer.data(), static_cast<size_t>(got));
  }
  result.fault = stream->Fault();
  EXPECT_EQ(stream->AtEnd(), result.isOk) << format.name;
  return result;
}

TEST(DecoderStream, DecodesWholeBytewiseAndInRandomChunksAndAfterRewind) {
  const std::string text = SampleText(40000);
  for (const Format& format : kFormats) {
    const std::string packed = Filtered(text, format.compress);
    ASSERT_FALSE(packed.empty()) << format.name;
    const Decoded whole = Decode(format, packed, [] { return int64_t{1} << 22; });
    EXPECT_TRUE(whole.isOk && whole.bytes == text) << format.name;
    const Decoded bytewise = Decode(format, packed, [] { return 1; });
    EXPECT_TRUE(bytewise.isOk && bytewise.bytes == text) << format.name;
    const uint32_t seed = 12345;
    std::mt19937 random(seed);
    const Decoded chunks = Decode(format, packed, [&] { return 1 + random() % 70000; });
    EXPECT_TRUE(chunks.isOk && chunks.bytes == text) << format.name << " seed " << seed;

    MemoryStream source(packed.data(), static_cast<int32_t>(packed.size()));
    std::unique_ptr<DecoderStream> stream(format.make());
    stream->Open(&source, false);
    std::string first(1000, '\0');
    int64_t got = 0;
    ASSERT_TRUE(stream->Read(first.data(), 1000, got) && got == 1000);
    ASSERT_TRUE(stream->Rewind());
    ASSERT_TRUE(stream->Read(first.data(), 1000, got) && got == 1000);
    EXPECT_EQ(first, text.substr(0, 1000)) << format.name;
  }
}

// Streams written one after another (as parallel compressors write them) are one
// file's data; a zip entry (single stream) stops at the first one's end. xz padding
// and zstd skippable frames between them are passed over.
TEST(DecoderStream, ReadsStreamsInARowUnlessSingle) {
  const std::string a = SampleText(300, 1), b = SampleText(500, 2);
  for (const Format& format : kFormats) {
    std::string packed = Filtered(a, format.compress);
    if (std::string(format.name) == "xz") packed += std::string(8, '\0');
    if (std::string(format.name) == "zstd") packed += std::string("\x50\x2a\x4d\x18\x03\0\0\0abc", 11);
    packed += Filtered(b, format.compress);
    const Decoded both = Decode(format, packed);
    EXPECT_TRUE(both.isOk && both.bytes == a + b) << format.name;
    const Decoded first =
        Decode(format, packed, {}, [](DecoderStream& stream) { stream.SetSingleStream(true); });
    EXPECT_TRUE(first.isOk && first.bytes == a) << format.name;
  }
}

// Error paths

TEST(DecoderStream, EveryTruncationFails) {
  const std::string text = SampleText(60);
  for (const Format& format : kFormats) {
    const std::string packed = Filtered(text, format.compress);
    ASSERT_FALSE(packed.empty()) << format.name;
    for (size_t length = 0; length < packed.size(); ++length) {
      const Decoded cut = Decode(format, packed.substr(0, length), [] { return 777; });
      EXPECT_FALSE(cut.isOk) << format.name << " cut at " << length;
      EXPECT_EQ(text.compare(0, cut.bytes.size(), cut.bytes), 0) << format.name << " cut at " << length;
    }
  }
}

TEST(DecoderStream, NamesEachKindOfDamage) {
  const std::string text = SampleText(2000);
  for (const Format& format : kFormats) {
    const std::string name = format.name;
    const std::string packed = Filtered(text, format.compress);
    Decoded d = Decode(format, "this is plain text, not compressed data\n");
    EXPECT_EQ(d.fault, DecoderFault::kNotFormat) << name;
    std::string damaged = packed;
    for (size_t at = packed.size() / 3; at < packed.size() / 3 + 8; ++at)
      damaged[at] = static_cast<char>(~damaged[at]);
    d = Decode(format, damaged);
    EXPECT_EQ(d.fault, DecoderFault::kCorrupt) << name;
    d = Decode(format, packed.substr(0, packed.size() / 2));
    EXPECT_FALSE(d.isOk) << name;
    EXPECT_EQ(d.fault, DecoderFault::kTruncated) << name;
    // A zip entry's CRC-32 is checked at its end.
    d = Decode(format, packed, {}, [&](DecoderStream& stream) {
      stream.SetSingleStream(true);
      stream.SetExpectedCrc32(Crc32(0, text.data(), text.size()) ^ 1);
    });
    EXPECT_EQ(d.fault, DecoderFault::kChecksumMismatch) << name;
    EXPECT_EQ(d.bytes, text) << name;
    // Other bytes after the data: xz and zstd refuse them, bzip2 ignores them as bzip2 -dc does.
    d = Decode(format, packed + "trailing bytes that are no stream");
    EXPECT_EQ(d.isOk, name == "bzip2") << name;
    EXPECT_EQ(d.bytes, text) << name;
  }
  std::unique_ptr<DecoderStream> stream(new ZstdStream());
  EXPECT_EQ(stream->FailureReason(), nullptr);
  MemoryStream empty("", 0);
  stream->Open(&empty, false);
  char byte;
  int64_t got = 0;
  EXPECT_FALSE(stream->Read(&byte, 1, got));
  EXPECT_STREQ(stream->FailureReason(), "truncated zstd data");
}

// Data whose dictionary or window is over the limit fails before the memory is taken.
TEST(DecoderStream, RefusesDataThatNeedsMoreThanTheMemoryLimit) {
  const std::string text = SampleText(300);
  const std::string xz = Filtered(text, "xz -c --lzma2=dict=256MiB");
  std::unique_ptr<DecoderStream> stream(new XzStream());
  MemoryStream source(xz.data(), static_cast<int32_t>(xz.size()));
  stream->Open(&source, false);
  std::string out(100, '\0');
  int64_t got = 0;
  EXPECT_FALSE(stream->Read(out.data(), 100, got));
  EXPECT_STREQ(stream->FailureReason(), "xz data needs 257 MiB of memory, over the 128 MiB limit");

  const Decoded zstd = Decode(kFormats[2], Filtered(text, "zstd -q -c --long=30"));
  EXPECT_EQ(zstd.fault, DecoderFault::kMemoryLimit);

  // Raw LZMA (zip method 14): properties lc 3, lp 0, pb 2 and a 1 GiB dictionary.
  const uint8_t properties[5] = {93, 0, 0, 0, 0x40};
  auto* lzma = new XzStream();
  stream.reset(lzma);
  lzma->SetRawLzma(properties, 1000);
  stream->Open(&source, false);
  EXPECT_FALSE(stream->Read(out.data(), 100, got));
  EXPECT_STREQ(stream->FailureReason(), "LZMA data needs 1025 MiB of memory, over the 128 MiB limit");
}

}  // namespace
}  // namespace qm
