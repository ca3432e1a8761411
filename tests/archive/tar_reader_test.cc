#include "archive/tar_reader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "core/memory_stream.h"
#include "tests/support/archive_fixture.h"
#include "tests/support/temp_tree.h"

namespace qm {
namespace {

using test::TarHeader;
using test::TarMember;
using test::TarPadded;

std::string Extended(char type, const std::string& data) {
  return TarHeader("././@PaxHeader", static_cast<int64_t>(data.size()), type) + TarPadded(data);
}
const std::string kEnd(512, '\0');

struct Walk {
  std::vector<std::string> names;
  std::vector<std::string> data;
  bool error = false;
};

// Walks an archive the way archive scanning does: entry, data, padding, next entry.
Walk WalkArchive(const std::string& bytes) {
  MemoryStream stream(bytes.data(), static_cast<int32_t>(bytes.size()));
  TarReader reader;
  EXPECT_TRUE(reader.Open(&stream));
  Walk walk;
  TarEntry entry;
  while (reader.NextEntry(entry, walk.error)) {
    walk.names.push_back(entry.name.CStr());
    std::string data(static_cast<size_t>(std::min<int64_t>(entry.size, 1 << 16)), '\0');
    int64_t done = 0;
    if (!stream.Read(data.data(), static_cast<int64_t>(data.size()), done) || done != entry.size ||
        !Skip(stream, TarPaddingOf(entry.size))) {
      walk.error = true;
      break;
    }
    walk.data.push_back(data);
  }
  return walk;
}

TEST(ParseNumeric, ReadsTheFieldFormsWritersUse) {
  const std::pair<std::string, int64_t> cases[] = {
      {std::string("0000644\0", 8), 0644},
      {"   12 \0\0", 012},
      {"77777777", 077777777},  // full width, no terminator
      {"0000018x", 01},
      {" \t1234  ", 0},  // only blanks are skipped
      // Base-256, as GNU tar writes sizes of 8 GiB and more and negative times.
      {std::string("\x80\0\0\0\0\0\0\x10", 8), 0x10},
      {std::string("\x80\0\0\0\0\x02\0\0", 8), int64_t{2} << 16},
      {std::string("\xbf\xff\xff\xff\xff\xff\xff\xff", 8), (int64_t{1} << 62) - 1},
      {std::string("\xff\xff\xff\xff\xff\xff\xff\xff", 8), -1},
      {std::string("\xff\xff\xff\xff\xff\xff\xff\x00", 8), -256},
      {std::string("\xc0\0\0\0\0\0\0\0", 8), -(int64_t{1} << 62)},
  };
  for (const auto& [field, expected] : cases) {
    int64_t value = 7;
    EXPECT_TRUE(ParseNumeric(reinterpret_cast<const uint8_t*>(field.data()), 8, value)) << field;
    EXPECT_EQ(value, expected) << field;
  }
  // Twelve bytes hold 94 bits: what needs more than 63 fails.
  const std::string fits = std::string("\x80\0\0\0", 4) + "\x7f" + std::string(7, '\xff');
  const std::string tooLarge = std::string("\x80\0\0\0", 4) + "\x80" + std::string(7, '\0');
  const std::string tooSmall = std::string("\xff\xff\xff\xff", 4) + "\x7f" + std::string(7, '\xff');
  int64_t value = 0;
  EXPECT_TRUE(ParseNumeric(reinterpret_cast<const uint8_t*>(fits.data()), 12, value));
  EXPECT_EQ(value, INT64_MAX);
  EXPECT_FALSE(ParseNumeric(reinterpret_cast<const uint8_t*>(tooLarge.data()), 12, value));
  EXPECT_FALSE(ParseNumeric(reinterpret_cast<const uint8_t*>(tooSmall.data()), 12, value));
}

// A header whose size field is written in base-256.
std::string BinarySizeHeader(const std::string& name, int64_t size) {
  std::string block = TarHeader(name, 0);
  block[124] = '\x80';
  for (int i = 0; i < 11; ++i) block[124 + 11 - i] = static_cast<char>(i < 8 ? (size >> (8 * i)) & 0xFF : 0);
  if (size < 0) block.replace(124, 4, "\xff\xff\xff\xff");
  block.replace(148, 8, 8, ' ');
  int64_t sum = 0;
  for (const char c : block) sum += static_cast<unsigned char>(c);
  char number[24];
  std::snprintf(number, sizeof number, "%06llo", static_cast<long long>(sum));
  block.replace(148, 7, std::string(number) + '\0');
  return block;
}

// A member of 8 GiB or more has a base-256 size: its data is passed over by that size
// and the members behind it are read (a size read as 0 made its data headers).
TEST(TarReader, ReadsSizesWrittenInBase256) {
  const std::string inner = TarMember("inner.c", "int inner;\n") + kEnd;
  const std::string archive = BinarySizeHeader("outer.tar", static_cast<int64_t>(inner.size())) + inner +
                              TarMember("after.c", "a") + kEnd;
  const Walk walk = WalkArchive(archive);
  EXPECT_FALSE(walk.error);
  EXPECT_EQ(walk.names, (std::vector<std::string>{"outer.tar", "after.c"}));
  EXPECT_EQ(walk.data[0], inner);

  const int64_t huge = (int64_t{8} << 30) + 1;
  const std::string hugeHeader = BinarySizeHeader("huge.c", huge);
  MemoryStream stream(hugeHeader.data(), 512);
  TarReader reader;
  ASSERT_TRUE(reader.Open(&stream));
  TarEntry entry;
  bool error = false;
  ASSERT_TRUE(reader.NextEntry(entry, error));
  EXPECT_EQ(entry.size, huge);
}

class GnuTarFormats : public ::testing::TestWithParam<const char*> {};

TEST_P(GnuTarFormats, DeliversEveryMemberWithItsNameAndData) {
  test::TempTree tree;
  const std::string format = GetParam();
  std::vector<std::pair<std::string, std::string>> files = {
      {"src/a.c", "int a;\n"},
      {"src/" + std::string(98, 'n') + ".c", "x\n"},            // a 100-byte name without NUL
      {std::string(150, 'd') + "/f.h", std::string(513, 'h')},  // prefix + name
      {"empty.txt", ""},
  };
  if (format != "ustar") files.push_back({std::string(120, 'l') + ".py", "print(1)\n"});
  std::vector<std::string> args = {"-C", tree.Path("in"), "--format=" + format, "-cf", tree.Path("t.tar")};
  for (const auto& [path, data] : files) {
    ASSERT_TRUE(tree.WriteFile("in/" + path, data));
    args.push_back(path);
  }
  std::string bytes;
  ASSERT_TRUE(test::RunsCleanly("tar", args, tree.Root()));
  ASSERT_TRUE(test::ReadFileBytes(tree.Path("t.tar"), bytes));
  Walk walk = WalkArchive(bytes);
  EXPECT_FALSE(walk.error);
  ASSERT_EQ(walk.names.size(), files.size());
  for (size_t i = 0; i < files.size(); ++i) {
    EXPECT_EQ(walk.names[i], files[i].first) << format;
    EXPECT_EQ(walk.data[i], files[i].second) << files[i].first;
  }
}

INSTANTIATE_TEST_SUITE_P(TarReader, GnuTarFormats, ::testing::Values("ustar", "pax", "gnu"));

TEST(TarReader, ExtendedHeadersSetNamesAndSizes) {
  const std::string longName = std::string(130, 'q') + ".c";
  const std::string archive =
      Extended('x', "19 path=pax/name.c\n12 size=700\n") + TarHeader("ignored.c", 5, '0', "pre") +
      TarPadded(std::string(700, 'p')) +                       // pax path without prefix, pax size
      Extended('x', "10 size=0\n") + TarMember("b.c", "bb") +  // a pax size of 0 leaves the ustar one
      TarHeader("@", 133, 'L') + TarPadded(longName) + TarHeader("short.c", 2, '0', "pre") + TarPadded("ok") +
      TarHeader("@", 150, 'K') + TarPadded(std::string(150, 't')) + TarHeader("link", 0, '2') +
      TarHeader("dev", 1024, '3') + Extended('g', "17 path=global.c\n") +
      TarMember("own.c", "1") +  // global path wins
      kEnd + "bytes behind the end block are never read";
  Walk walk = WalkArchive(archive);
  EXPECT_FALSE(walk.error);
  // A 'K' header's placeholder name must not rename the member behind it.
  EXPECT_EQ(walk.names, (std::vector<std::string>{"pax/name.c", "b.c", longName, "link", "dev", "global.c"}));
  EXPECT_EQ(walk.data[0].size(), 700u);
  EXPECT_EQ(walk.data[1], "bb");
  EXPECT_EQ(walk.data[4], "");  // devices carry no data whatever their size field says
}

// A GNU sparse header ('S', GNU magic) whose sparse map goes on in mapBlocks blocks
// of its own, each saying whether another follows, then size bytes of stored data.
std::string GnuSparseMember(const std::string& name, const std::string& data, int mapBlocks) {
  std::string header = TarHeader(name, static_cast<int64_t>(data.size()), 'S');
  header.replace(257, 8, std::string("ustar  \0", 8));
  header[482] = mapBlocks > 0 ? 1 : 0;
  header.replace(148, 8, 8, ' ');
  int64_t sum = 0;
  for (const char c : header) sum += static_cast<unsigned char>(c);
  char checksum[24];
  std::snprintf(checksum, sizeof checksum, "%06llo", static_cast<long long>(sum));
  header.replace(148, 7, std::string(checksum) + '\0');
  for (int i = 0; i < mapBlocks; ++i) {
    std::string map(512, '\0');
    map[504] = i + 1 < mapBlocks ? 1 : 0;
    header += map;
  }
  return header + TarPadded(data);
}

// Types that are not read are members of their own type whose data (by the size
// field) the caller passes over; the archive goes on behind them.
TEST(TarReader, UnreadMemberTypesArePassedOverByTheirSize) {
  const std::string archive =
      TarMember("n", "old long name data", 'N') + TarMember("x", "20 path=ignored.c\n", 'X') +
      GnuSparseMember("s0", "stored", 0) + GnuSparseMember("s2", std::string(700, 's'), 2) +
      TarMember("after.c", "a") + kEnd;
  const Walk walk = WalkArchive(archive);
  EXPECT_FALSE(walk.error);
  EXPECT_EQ(walk.names, (std::vector<std::string>{"n", "x", "s0", "s2", "after.c"}));
  EXPECT_EQ(walk.data[3], std::string(700, 's'));
  EXPECT_EQ(walk.data[4], "a");
}

// Error paths

TEST(TarReader, RejectsDamagedHeaders) {
  const std::string signedSum = TarHeader("caf\xc3\xa9.c", 0, '0', "", true);
  std::string flipped = TarHeader("a.c", 0);
  flipped[300] ^= 1;
  const std::pair<const char*, std::string> cases[] = {
      {"record without '='", Extended('x', "12 pathxx.c\n")},
      {"record without final line feed", Extended('x', "12 path=x.c ")},
      {"length not followed by a blank", Extended('x', "12_path=x.c\n")},
      {"length running past the data", Extended('x', "99 path=x.c\n")},
      {"length of zero", Extended('x', "0 path=x.c\n")},
      {"length inside its own digits", Extended('x', "2 path=x.c\n")},
      {"size that overflows", Extended('x', "29 size=99999999999999999999\n")},
      {"bad global record", Extended('g', "12 pathxx.c\n")},
      {"pax header above 1 MiB", TarHeader("x", kMaxExtendedSize + 1, 'x')},
      {"long name above 1 MiB", TarHeader("x", kMaxExtendedSize + 1, 'L')},
      {"checksum written as a signed sum", signedSum},
      {"flipped bit", flipped},
      {"negative base-256 size", BinarySizeHeader("neg.c", -512)},
      {"base-256 size past 4 EiB", BinarySizeHeader("huge.c", INT64_MAX / 2 + 1)},
      {"pax size past 4 EiB", Extended('x', "29 size=4611686018427387904\n") + TarHeader("huge.c", 0)},
      {"pax header and then the end", Extended('x', "16 path=p/one.c\n")},
  };
  for (const auto& [what, damage] : cases) {
    const bool isCut = std::string(what).find("the end") != std::string::npos;
    Walk walk =
        WalkArchive(TarMember("first.c", "1") + damage + (isCut ? "" : TarMember("after.c", "a") + kEnd));
    EXPECT_TRUE(walk.error) << what;
    EXPECT_EQ(walk.names, std::vector<std::string>{"first.c"}) << what;
  }
  EXPECT_FALSE(WalkArchive(TarHeader("caf\xc3\xa9.c", 0) + kEnd).error);  // the unsigned sum passes
  EXPECT_TRUE(WalkArchive("").error);                                     // no header at all is no archive
}

TEST(TarReader, TruncationAtEveryByteFailsAfterAPrefixOfTheMembers) {
  const std::string archive = Extended('x', "16 path=p/one.c\n") + TarMember("one.c", "1111") +
                              TarHeader("@", 3, 'L') + TarPadded("two") +
                              TarMember("x", std::string(600, '2')) + kEnd;
  const Walk full = WalkArchive(archive);
  ASSERT_FALSE(full.error);
  ASSERT_EQ(full.names, (std::vector<std::string>{"p/one.c", "two"}));
  // The source may end without end blocks where a member's header would start, after
  // one.c or after x, as GNU tar reads it: anywhere else it is damage.
  for (size_t cut = 0; cut < archive.size(); ++cut) {
    const Walk walk = WalkArchive(archive.substr(0, cut));
    ASSERT_EQ(walk.error, cut != 2048 && cut != 4608) << cut;
    for (size_t i = 0; i < walk.names.size(); ++i) EXPECT_EQ(walk.names[i], full.names[i]) << cut;
  }
}

}  // namespace
}  // namespace qm
