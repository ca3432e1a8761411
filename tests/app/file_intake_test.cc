#include "app/file_intake.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/file_reading.h"
#include "app/file_types.h"
#include "app/md5.h"
#include "app/settings.h"
#include "count/classify_text.h"
#include "tests/support/run_settings.h"
#include "tests/support/temp_tree.h"

namespace qm {
namespace {

// The counters that are not 0, as one line, so a case states everything it changed.
std::string Changed(const CountTotals& totals) {
  std::string text;
  auto add = [&text](const std::string& name, int64_t value) {
    if (value != 0) text += (text.empty() ? "" : " ") + name + "=" + std::to_string(value);
  };
  for (int type = 0; type < kTypeSlots; ++type) {
    const std::string slot = "[" + std::to_string(type) + "]";
    add("files" + slot, totals.fileCount[type]);
    add("bytes" + slot, totals.byteCount[type]);
    add("lines" + slot, totals.lineCount[type]);
  }
  const std::pair<const char*, int64_t> others[] = {
      {"dup", totals.dupCount},    {"empty", totals.emptyCount}, {"le", totals.utf16LeCount},
      {"be", totals.utf16BeCount}, {"error", totals.errorCount}, {"tooBig", totals.tooBigCount}};
  for (const auto& [name, value] : others) add(name, value);
  return text;
}

class IntakeTest : public testing::Test {
 protected:
  void Configure(std::vector<std::string> options) {
    ASSERT_TRUE(test::ConfigureRun(options, tree.Root(), totals));
  }

  // Takes in the named files of the tree root in order; returns what went to
  // standard output.
  std::string Take(const std::vector<std::string>& names) {
    return test::TakeFiles(totals, tree.Root(), names);
  }

  test::TempTree tree;
  CountTotals totals;
};

TEST_F(IntakeTest, EveryKindOfFileWithItsMessageAndCounters) {
  const std::string fifo = "<fifo>", socket = "<socket>", overLimit = "<1048577>", atLimit = "<1048576>";
  const struct {
    const char* name;
    std::string bytes;  // or one of the markers above
    const char* option;
    std::string out;
    std::string changed;
  } cases[] = {
      {"e.c", "", "-c", "empty file: e.c\n", "empty=1"},
      {"Makefile", "all:\n", "-c", "", "files[0]=1"},
      {"Form1.Designer.cs", "x\n", "-c", "", ""},
      {"MAIN.C", "x", "-c", "", "files[3]=1 bytes[3]=1 lines[3]=1"},
      {" pad.py\t", "x\r", "-c", "", "files[12]=1 bytes[12]=2 lines[12]=1"},
      {"big.c", overLimit, "-max=1", "file too big: big.c\n", "tooBig=1"},
      {"edge.c", atLimit, "-max=1", "", "files[3]=1 bytes[3]=1048576 lines[3]=524288"},
      {"one.c", "x", "-max=0", "file too big: one.c\n", "tooBig=1"},
      {"none.c", "", "-max=0", "empty file: none.c\n", "empty=1"},
      {"p.c", fifo, "-c", "couldn't open file: p.c\n", "error=1"},
      {"s.c", socket, "-c", "couldn't open file: s.c\n", "error=1"},
      {"le.c", {"a\0b\0", 4}, "-c", "UTF-16 LE file: le.c\n", "files[3]=1 bytes[3]=4 lines[3]=1 le=1"},
      {"be.c", {"\0a\0\n", 4}, "-c", "UTF-16 BE file: be.c\n", "files[3]=1 bytes[3]=4 lines[3]=1 be=1"},
      {"odd.c", {"a\0b", 3}, "-c", "", "files[3]=1 bytes[3]=3 lines[3]=1"},
      {"single.c", {"a\0bc", 4}, "-c", "", "files[3]=1 bytes[3]=4 lines[3]=1"},
      {"late.c", std::string(1024, 'a') + std::string(4, 0), "-c", "", "files[3]=1 bytes[3]=1028 lines[3]=1"},
      // Text has a byte that is not 0 where its characters sit: NULs alone are not UTF-16.
      {"nul.c", std::string(2048, 0), "-c", "", "files[3]=1 bytes[3]=2048 lines[3]=1"},
  };
  for (const auto& row : cases) {
    SCOPED_TRACE(row.name);
    if (row.bytes == fifo) {
      ASSERT_TRUE(tree.MakeFifo(row.name));
    } else if (row.bytes == socket) {
      ASSERT_TRUE(tree.MakeSocket(row.name));
    } else if (row.bytes[0] == '<') {
      ASSERT_TRUE(tree.WriteSizedFile(row.name, std::stoll(row.bytes.substr(1)), "x\n"));
    } else {
      ASSERT_TRUE(tree.WriteFile(row.name, row.bytes));
    }
    // The counters are the same with and without -la; only -la prints.
    for (bool isListing : {false, true}) {
      Configure({row.option});
      settings.listAnomalies = isListing;
      EXPECT_EQ(Take({row.name}), isListing ? row.out : "");
      EXPECT_EQ(Changed(totals), row.changed);
    }
  }
}

TEST_F(IntakeTest, DuplicatesAreFoundByRawBytesBeforeConversion) {
  const std::string utf16(std::string("i\0n\0t\0\n\0", 8));
  ASSERT_TRUE(tree.WriteFile("a.c", "int\n"));
  ASSERT_TRUE(tree.WriteFile("sub dir/b.h", "int\n"));
  ASSERT_TRUE(tree.WriteFile("w.c", utf16));
  ASSERT_TRUE(tree.WriteFile("w2.c", utf16));
  Configure({"-la"});
  const std::string plainHex = Md5Hex(Md5Of("int\n", 4)).CStr();
  const std::string wideHex = Md5Hex(Md5Of(utf16.data(), utf16.size())).CStr();
  EXPECT_EQ(Take({"a.c", "sub dir/b.h", "w.c", "w2.c"}), "duplicate file: sub dir/b.h\n\tmd5:" + plainHex +
                                                             "\n\tdup source: a.c\n"
                                                             "UTF-16 LE file: w.c\n"
                                                             "UTF-16 LE file: w2.c\n"
                                                             "duplicate file: w2.c\n\tmd5:" +
                                                             wideHex + "\n\tdup source: w.c\n");
  EXPECT_EQ(Changed(totals), "files[3]=2 bytes[3]=12 lines[3]=2 dup=2 le=2");
}

TEST_F(IntakeTest, ExtensionsAndRecordsKeepTheNameAsGiven) {
  for (const char* name : {"a.C", "b.c", "Makefile", "name.", "x.Designer.cs", "y.PY"}) {
    ASSERT_TRUE(tree.WriteFile(name, std::string(name) + "\n\n"));
  }
  Configure({"-le", "-f"});
  Take({"a.C", "b.c", "Makefile", "name.", "x.Designer.cs", "y.PY"});
  std::vector<std::string> extensions;
  for (const auto& entry : uniqueExtensions) extensions.push_back(entry.key.CStr());
  EXPECT_EQ(extensions, (std::vector<std::string>{"C", "c", "", "cs", "PY"}));
  ASSERT_EQ(fileRecords.Count(), 3);
  const FileRecord& r = fileRecords[2];
  EXPECT_EQ(r.path.CStr(), tree.Path("y.PY"));
  EXPECT_EQ((std::vector<int64_t>{r.type, r.lines, r.blank, r.code, r.size, r.onDisk}),
            (std::vector<int64_t>{kTypePython, 2, 1, 1, 6, 1}));
}

TEST(Utf16, EachUnitBecomesOneCodePointInUtf8) {
  // a, e-acute, the euro sign and a lone surrogate, little- then big-endian.
  const std::string expected = "a\xC3\xA9\xE2\x82\xAC\xED\xA0\xBD";
  const std::string units[] = {{"a\0\xE9\0\xAC\x20\x3D\xD8", 8}, {"\0a\0\xE9\x20\xAC\xD8\x3D", 8}};
  for (int i = 0; i < 2; ++i) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(units[i].data());
    const Utf16Kind kind = i == 0 ? Utf16Kind::kLittleEndian : Utf16Kind::kBigEndian;
    Array<uint8_t> out;
    EXPECT_EQ(ConvertUtf16(bytes, 8, kind, 8, out), Utf16Conversion::kTooLong);
    ASSERT_EQ(ConvertUtf16(bytes, 8, kind, 9, out), Utf16Conversion::kConverted);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(out.Data()), out.Count()), expected);
  }
}

}  // namespace
}  // namespace qm
