#include "archive/tar_reader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/memory_stream.h"
#include "tests/support/run_tool.h"
#include "tests/support/temp_tree.h"

namespace qm {
namespace {

std::string Octal(int64_t value, int digits) {
  char text[32];
  std::snprintf(text, sizeof text, "%0*llo", digits, static_cast<long long>(value));
  return text;
}

// Writes the checksum as 6 octal digits, NUL, blank; signedSum adds the bytes as
// signed chars, as some old writers did.
void Seal(std::string& block, bool signedSum = false) {
  block.replace(148, 8, 8, ' ');
  int64_t sum = 0;
  for (char c : block) sum += signedSum ? static_cast<signed char>(c) : static_cast<unsigned char>(c);
  block.replace(148, 7, Octal(sum, 6) + std::string(1, '\0'));
}

// A POSIX ustar header block.
std::string Header(const std::string& name, int64_t size, char type = '0', const std::string& prefix = "") {
  std::string block(512, '\0');
  block.replace(0, std::min<size_t>(name.size(), 100), name, 0, 100);
  block.replace(100, 7, "0000644");
  block.replace(124, 11, Octal(size, 11));
  block[156] = type;
  block.replace(257, 8,
                std::string("ustar\0"
                            "00",
                            8));
  block.replace(345, prefix.size(), prefix);
  Seal(block);
  return block;
}

std::string Padded(const std::string& data) {
  return data + std::string((512 - data.size() % 512) % 512, '\0');
}
std::string Member(const std::string& name, const std::string& data) {
  return Header(name, static_cast<int64_t>(data.size())) + Padded(data);
}
std::string Extended(char type, const std::string& data) {
  return Header("././@PaxHeader", static_cast<int64_t>(data.size()), type) + Padded(data);
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

TEST(ParseOctal, ReadsTheFieldFormsWritersUse) {
  const std::pair<std::string, int64_t> cases[] = {
      {std::string("0000644\0", 8), 0644},
      {"   12 \0\0", 012},
      {std::string(8, '\0'), 0},
      {"77777777", 077777777},  // full width, no terminator
      {"0000018x", 01},
      {std::string("\x80\0\0\0\0\0\0\x10", 8), 0},  // base-256 is not read
      {" \t1234  ", 0},                             // only blanks are skipped
  };
  for (const auto& [field, expected] : cases) {
    EXPECT_EQ(ParseOctal(reinterpret_cast<const uint8_t*>(field.data()), 8), expected) << field;
  }
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
  ASSERT_EQ(test::RunProgram("/usr/bin/tar", args).exitStatus, 0);
  std::ifstream in(tree.Path("t.tar"), std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  Walk walk = WalkArchive(bytes.str());
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
      Extended('x', "19 path=pax/name.c\n12 size=700\n") + Header("ignored.c", 5, '0', "pre") +
      Padded(std::string(700, 'p')) +                       // pax path without prefix, pax size
      Extended('x', "10 size=0\n") + Member("b.c", "bb") +  // a pax size of 0 leaves the ustar one
      Header("@", 133, 'L') + Padded(longName) + Header("short.c", 2, '0', "pre") + Padded("ok") +
      Header("@", 150, 'K') + Padded(std::string(150, 't')) + Header("link", 0, '2') +
      Header("dev", 1024, '3') + Extended('g', "17 path=global.c\n") +
      Member("own.c", "1") +  // global path wins
      kEnd + "bytes behind the end block are never read";
  Walk walk = WalkArchive(archive);
  EXPECT_FALSE(walk.error);
  // A 'K' header's placeholder name must not rename the member behind it.
  EXPECT_EQ(walk.names, (std::vector<std::string>{"pax/name.c", "b.c", longName, "link", "dev", "global.c"}));
  EXPECT_EQ(walk.data[0].size(), 700u);
  EXPECT_EQ(walk.data[1], "bb");
  EXPECT_EQ(walk.data[4], "");  // devices carry no data whatever their size field says
}

// Error paths

TEST(TarReader, RejectsDamagedHeaders) {
  std::string signedSum = Header("caf\xc3\xa9.c", 0);
  Seal(signedSum, true);
  std::string flipped = Header("a.c", 0);
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
      {"pax header above 1 MiB", Header("x", kMaxExtendedSize + 1, 'x')},
      {"long name above 1 MiB", Header("x", kMaxExtendedSize + 1, 'L')},
      {"checksum written as a signed sum", signedSum},
      {"flipped bit", flipped},
      {"type N", Header("v", 0, 'N')},
      {"type S", Header("v", 0, 'S')},
      {"type X", Header("v", 0, 'X')},
      {"no end block", ""},
  };
  for (const auto& [what, damage] : cases) {
    Walk walk =
        WalkArchive(Member("first.c", "1") + damage + (damage.empty() ? "" : Member("after.c", "a") + kEnd));
    EXPECT_TRUE(walk.error) << what;
    EXPECT_EQ(walk.names, std::vector<std::string>{"first.c"}) << what;
  }
  EXPECT_FALSE(WalkArchive(Header("caf\xc3\xa9.c", 0) + kEnd).error);  // the unsigned sum passes
}

TEST(TarReader, TruncationAtEveryByteFailsAfterAPrefixOfTheMembers) {
  const std::string archive = Extended('x', "16 path=p/one.c\n") + Member("one.c", "1111") +
                              Header("@", 3, 'L') + Padded("two") + Member("x", std::string(600, '2')) + kEnd;
  const Walk full = WalkArchive(archive);
  ASSERT_FALSE(full.error);
  ASSERT_EQ(full.names, (std::vector<std::string>{"p/one.c", "two"}));
  for (size_t cut = 0; cut < archive.size(); ++cut) {
    const Walk walk = WalkArchive(archive.substr(0, cut));
    ASSERT_TRUE(walk.error) << cut;
    for (size_t i = 0; i < walk.names.size(); ++i) EXPECT_EQ(walk.names[i], full.names[i]) << cut;
  }
}

}  // namespace
}  // namespace qm
