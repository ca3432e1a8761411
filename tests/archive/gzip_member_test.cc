#include "archive/gzip_member.h"

#include <gtest/gtest.h>

#include <string>

#include "archive/crc32.h"
#include "archive/inflate_stream.h"
#include "core/memory_stream.h"
#include "tests/support/bit_writer.h"

namespace qm {
namespace {

using test::BitWriter;

struct GzipResult {
  bool isOk = true;
  std::string bytes;
  InflateFault fault = InflateFault::None;
};

GzipResult DecodeGzip(const std::string& input) {
  MemoryStream source(input.data(), static_cast<int32_t>(input.size()));
  InflateStream stream(Gzip);
  stream.Open(&source, nullptr, false);
  GzipResult result;
  char buffer[4096];
  for (;;) {
    int64_t got = 0;
    result.isOk = stream.Read(buffer, sizeof buffer, got);
    result.bytes.append(buffer, static_cast<size_t>(got));
    if (!result.isOk || got == 0) break;
  }
  const Inflate& decoder = stream.Decoder();
  result.fault = decoder.Fault();
  return result;
}

// A member with every optional header field; the FHCRC covers the extra field's
// length and bytes and the strings with their terminating NULs.
std::string HeaderWithAllFields(bool isHeaderCrcRight) {
  BitWriter header;
  header.Bits(31, 8).Bits(139, 8).Bits(8, 8);
  header.Bits(0x02 | 0x04 | 0x08 | 0x10 | 0x01, 8);    // FHCRC, FEXTRA, FNAME, FCOMMENT, FTEXT
  header.U32(123456).Bits(2, 8).Bits(3, 8);            // MTIME, XFL, OS
  header.U16(5).Bytes("XY\x01\x00z", 5);               // XLEN and the extra field
  header.Bytes("name.txt", 9).Bytes("a comment", 10);  // both with their NUL
  const std::string bytes = header.Text();
  uint32_t crc = Crc32(0, bytes.data(), bytes.size());
  if (!isHeaderCrcRight) crc = Crc32(0, bytes.data(), bytes.size() - 1);  // without the last NUL
  const std::string deflated = BitWriter().StoredBlock(true, "body").Text();
  return bytes + BitWriter().U16(static_cast<uint16_t>(crc)).Text() + deflated +
         BitWriter().U32(Crc32(0, "body", 4)).U32(4).Text();
}

TEST(GzipMember, ReadsOptionalFieldsAndChecksTheHeaderCrc) {
  GzipResult r = DecodeGzip(HeaderWithAllFields(true));
  EXPECT_TRUE(r.isOk && r.bytes == "body");
  GzipResult bad = DecodeGzip(HeaderWithAllFields(false));
  EXPECT_FALSE(bad.isOk);
  EXPECT_EQ(bad.fault, InflateFault::BadGzipHeaderCrc);
}

// Long names are read whole; whatever follows the trailer is never looked at.
TEST(GzipMember, CutsLongNamesAndIgnoresWhatFollowsTheTrailer) {
  const std::string longName(10000, 'n');
  BitWriter w;
  w.Bits(31, 8).Bits(139, 8).Bits(8, 8).Bits(0x08, 8).U32(0).U16(0);  // FNAME only
  w.Bytes(longName.c_str(), longName.size() + 1);
  w.Bytes(BitWriter().StoredBlock(true, "x").Text()).U32(Crc32(0, "x", 1)).U32(1);
  GzipResult r = DecodeGzip(w.Text() + "trailing garbage, or a second member");
  EXPECT_TRUE(r.isOk && r.bytes == "x");
}

// Error paths

TEST(GzipMember, RejectsDamagedHeadersAndTrailers) {
  const std::string body = BitWriter().StoredBlock(true, "data").Text();
  const uint32_t crc = Crc32(0, "data", 4);
  const std::string good = test::GzipWrap(body, crc, 4);
  auto patched = [&](size_t at, char value) {
    std::string bytes = good;
    bytes[at] = value;
    return bytes;
  };
  struct Case {
    const char* name;
    std::string bytes;
    InflateFault fault;
  };
  const Case cases[] = {
      {"ID1", patched(0, 30), InflateFault::BadGzipMagic},
      {"CM", patched(2, 7), InflateFault::BadGzipMethod},
      {"reserved flag", patched(3, 0x20), InflateFault::BadGzipFlags},
      {"trailer CRC-32", test::GzipWrap(body, crc ^ 0x10000, 4), InflateFault::ChecksumMismatch},
      {"trailer ISIZE", test::GzipWrap(body, crc, 5), InflateFault::LengthMismatch},
      {"header cut short", good.substr(0, 7), InflateFault::TruncatedInput},
      {"trailer cut short", good.substr(0, good.size() - 1), InflateFault::TruncatedInput},
  };
  for (const Case& c : cases) {
    GzipResult r = DecodeGzip(c.bytes);
    EXPECT_FALSE(r.isOk) << c.name;
    EXPECT_EQ(r.fault, c.fault) << c.name;
  }
}

}  // namespace
}  // namespace qm
