// Archive counting end to end: the real binary on tar, tar.gz and zip files made at
// test time by GNU tar, gzip, Info-ZIP zip and Python 3, with whole standard output,
// standard error and exit status compared. An archive must count exactly like the
// tree it was made from and, when damaged, keep what it counted, say so on standard
// error and still print the report. Member names and nested archives are data cases
// (tests/cases/archives/).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "app/md5.h"
#include "tests/support/archive_fixture.h"
#include "tests/support/report_text.h"
#include "tests/support/run_tool.h"
#include "tests/support/temp_tree.h"

// Skips the test when an archiver it needs is not installed.
#define QM_REQUIRE_TOOL(name) \
  if (qm::test::FindProgram(name).empty()) GTEST_SKIP() << (name) << " is not installed"

namespace qm {
namespace {

using test::kRule;
using test::kHeader;
using test::Row;

// The type table: header, rows, rule and the total row.
std::string Table(const std::vector<std::string>& rows, const std::string& total) {
  std::string table = kHeader;
  for (const std::string& row : rows) table += row;
  return table + kRule + total;
}

// The table of a run that counted files of one type only.
std::string OneTypeTable(const char* type, const char* files, const char* code) {
  return Table({Row(type, files, "0", "0", "0", code)}, Row("Total", files, "0", "0", "0", code));
}

const std::string kEmptyTable = Table({}, Row("Total", "0", "0", "0", "0", "0"));
const std::string kOneError = "1 errors (couldn't read/open)\n";

std::string Utf16(const std::string& ascii, bool isBigEndian) {
  std::string out;
  for (const char c : ascii) {
    out.push_back(isBigEndian ? '\0' : c);
    out.push_back(isBigEndian ? c : '\0');
  }
  return out;
}

std::string HexDigest(const std::string& bytes) {
  return Md5Hex(Md5Of(bytes.data(), bytes.size())).CStr();
}

class ArchiveCli : public testing::Test {
 protected:
  test::ToolResult Run(const std::vector<std::string>& args, const std::string* input = nullptr) {
    test::ToolOptions options;
    options.workDir = tree.Root();
    if (input != nullptr) options.standardInput = *input;
    return test::RunTool(args, options);
  }

  // Runs an archiver in the tree's root.
  testing::AssertionResult Make(const std::string& program, const std::vector<std::string>& args) {
    return test::RunsCleanly(program, args, tree.Root());
  }

  // gzip -c of a file in the tree into another one.
  testing::AssertionResult Gzip(const std::string& level, const std::string& from, const std::string& to) {
    std::string compressed;
    testing::AssertionResult made = test::RunsCleanly("gzip", {level, "-c", from}, tree.Root(), &compressed);
    if (!made) return made;
    if (!tree.WriteFile(to, compressed)) return testing::AssertionFailure() << "cannot write " << to;
    return testing::AssertionSuccess();
  }

  std::string Bytes(const std::string& relative) {
    std::string bytes;
    EXPECT_TRUE(test::ReadFileBytes(tree.Path(relative), bytes)) << relative;
    return bytes;
  }

  // Expects the whole result of one run.
  void ExpectRun(const std::vector<std::string>& args, const std::string& out, const std::string& err,
                 const std::string* input = nullptr) {
    const test::ToolResult result = Run(args, input);
    std::string shown;
    for (const std::string& arg : args) shown += arg + " ";
    EXPECT_EQ(result.out, out) << shown;
    EXPECT_EQ(result.err, err) << shown;
    EXPECT_EQ(result.exitStatus, 0) << shown;
  }

  test::TempTree tree;
};

// A tree of this project's own sources plus samples of several languages, an empty
// file, a duplicate, UTF-16 files of both byte orders, members whose data ends at,
// just before and just after a 512-byte block, one over 64 KiB, a path too long for a
// ustar name field, names with a space and non-ASCII bytes, files of unknown type and
// a symbolic link. Returns the sorted relative paths of its directories and files.
std::vector<std::string> BuildSampleTree(test::TempTree& tree, const std::string& root,
                                         const std::string& duplicated) {
  namespace fs = std::filesystem;
  std::string everything;
  for (const char* folder : {"core", "count"}) {
    for (const fs::directory_entry& entry : fs::directory_iterator(fs::path(QM_SOURCE_DIR) / folder)) {
      const std::string extension = entry.path().extension().string();
      std::string bytes;
      if (!entry.is_regular_file() || (extension != ".h" && extension != ".cc") ||
          !test::ReadFileBytes(entry.path().string(), bytes)) {  // renamed meanwhile
        continue;
      }
      EXPECT_TRUE(tree.WriteFile(root + "/src/" + folder + "/" + entry.path().filename().string(), bytes));
      everything += bytes;
    }
  }
  while (everything.size() <= 70000) everything += everything + "int pad;\n";
  const std::string padded = "// pad\n" + std::string(504, ';') + "\n";  // 512 bytes
  const std::string accented = "\xc3\xbcn\xc3\xaf";                      // three letters, two non-ASCII
  const std::pair<std::string, std::string> files[] = {
      {"big/all.cc", everything},
      {"gen/go/main.go", "package main\n\n// main\nfunc main() {\n\ts := `raw\n/* no */`\n\t_ = s\n}\n"},
      {"gen/py/m.py", "\"\"\"Module.\n\nDocstring.\n\"\"\"\nimport os\n\n\ndef f():\n    return os.sep\n"},
      {"gen/orig.h", duplicated},
      {"zz/copy.h", duplicated},
      {"edge/empty.c", ""},
      {"edge/wide.c", Utf16("int wide;\r\n// w\r\n", false)},
      {"edge/wide_be.py", Utf16("# be\nx = 1\n", true)},
      {"edge/pad511.c", padded.substr(1)},
      {"edge/pad512.c", padded},
      {"edge/pad513.c", padded + "x"},
      {"edge/noeol.c", "int last"},
      {"edge/with space.js", "var s = 1;\n"},
      {"edge/" + accented + "code.py", "u = '" + accented + "'\n"},
      {"edge/Upper.PY", "UP = 1\n"},
      {"edge/README", "not source\n"},
      {"edge/data.tar.bz2", "BZh9 not an archive name\n"},
      {"long/" + std::string(70, 'd') + "/" + std::string(50, 'e') + "/deeply_nested_name.rs",
       "fn deep() {\n}\n"},
  };
  for (const auto& [path, bytes] : files) EXPECT_TRUE(tree.WriteFile(root + "/" + path, bytes)) << path;
  EXPECT_TRUE(tree.MakeSymlink(root + "/link.c", "gen/orig.h"));

  std::vector<std::string> paths;
  const fs::path base(tree.Path(root));
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(base)) {
    paths.push_back(fs::relative(entry.path(), base).string());
  }
  std::sort(paths.begin(), paths.end());
  return paths;
}

TEST_F(ArchiveCli, ArchivesCountExactlyLikeTheTreeTheyWereMadeFrom) {
  QM_REQUIRE_TOOL("tar");
  QM_REQUIRE_TOOL("gzip");
  QM_REQUIRE_TOOL("zip");
  const std::string duplicated = "#pragma once\n// original\nint original();\n";
  const std::vector<std::string> paths = BuildSampleTree(tree, "proj", duplicated);
  ASSERT_GT(paths.size(), 40u);
  std::string tarList;  // "./" in front, as a stored path the reader has to normalise
  std::string zipList;  // Info-ZIP would follow the link; the walk and tar pass over it
  for (const std::string& path : paths) {
    tarList += "./" + path + "\n";
    if (path != "link.c") zipList += path + "\n";
  }
  ASSERT_TRUE(tree.WriteFile("tar.list", tarList));

  const test::ToolResult fromTree = Run({"proj"});
  ASSERT_EQ(fromTree.err, "");
  const std::string& expected = fromTree.out;
  for (const char* format : {"ustar", "pax", "gnu"}) {
    ASSERT_TRUE(Make("tar", {std::string("--format=") + format, "--no-recursion", "-C", "proj", "-cf",
                             std::string(format) + ".tar", "-T", "tar.list"}));
  }
  ASSERT_TRUE(Gzip("-9n", "pax.tar", "sample.tar.gz"));
  ASSERT_TRUE(Gzip("-1", "gnu.tar", "sample.tgz"));  // with the name field set
  ASSERT_TRUE(test::RunsCleanly("zip", {"-q", "../sample.zip", "-@"}, tree.Path("proj"), nullptr, &zipList));

  std::string listedOnce;
  for (const std::string archive :
       {"ustar.tar", "pax.tar", "gnu.tar", "sample.tar.gz", "sample.tgz", "sample.zip"}) {
    const std::string bytes = Bytes(archive);
    ExpectRun({archive}, expected, "");
    // Found by the walk with -sa, and read from standard input (a tar only).
    ASSERT_TRUE(tree.WriteFile("walk/" + archive + "/" + archive, bytes));
    ExpectRun({"-sa", "walk/" + archive}, expected, "");
    if (archive.find(".zip") == std::string::npos) ExpectRun({"--stdin=" + archive}, expected, "", &bytes);
    // -la names members by their paths inside the archive, the same in every format.
    const test::ToolResult listed = Run({"-la", archive});
    if (listedOnce.empty()) listedOnce = listed.out;
    EXPECT_EQ(listed.out, listedOnce) << archive;
  }
  for (const std::string& line :
       {std::string("empty file: edge/empty.c\n"), std::string("UTF-16 LE file: edge/wide.c\n"),
        std::string("UTF-16 BE file: edge/wide_be.py\n"),
        "duplicate file: zz/copy.h\n\tmd5:" + HexDigest(duplicated) + "\n\tdup source: gen/orig.h\n"}) {
    EXPECT_NE(listedOnce.find(line), std::string::npos) << line;
  }
  ASSERT_GT(listedOnce.size(), expected.size());
  EXPECT_EQ(listedOnce.substr(listedOnce.size() - expected.size()), expected);
  const std::string tgz = Bytes("sample.tgz");
  ExpectRun({"--stdin=In.TGZ"}, expected, "", &tgz);
  // A zip needs a positioned stream.
  const std::string zip = Bytes("sample.zip");
  ExpectRun({"--stdin=sample.zip"}, kOneError + kEmptyTable, "cannot open zip file: sample.zip\n", &zip);
}

TEST_F(ArchiveCli, ArchiveNamesIgnoreCaseAndWalkedArchivesNeedScanArchives) {
  QM_REQUIRE_TOOL("tar");
  QM_REQUIRE_TOOL("gzip");
  QM_REQUIRE_TOOL("zip");
  ASSERT_TRUE(tree.WriteFile("m.go", "package m\n\n// M is it.\nfunc M() {\n}\n"));
  ASSERT_TRUE(tree.MakeDir("x") && tree.MakeDir("y") && tree.MakeDir("z"));
  ASSERT_TRUE(Make("tar", {"-cf", "x/X.TAR", "m.go"}));
  ASSERT_TRUE(Gzip("-6", "x/X.TAR", "y/Y.TGZ"));
  ASSERT_TRUE(Make("zip", {"-q", "z/Z.ZIP", "m.go"}));
  const std::string counted =
      Table({Row("Go source", "1", "1", "1", "1", "2")}, Row("Total", "1", "1", "1", "1", "2"));
  const std::vector<std::string> cases[] = {
      {"x", "x/X.TAR", "TAR"}, {"y", "y/Y.TGZ", "TGZ"}, {"z", "z/Z.ZIP", "ZIP"}};
  for (const auto& c : cases) {
    const std::string& directory = c[0];
    ExpectRun({c[1]}, counted, "");
    // Without -sa the walk counts an archive as one file of unknown type, not shown.
    ExpectRun({"-le", directory}, kEmptyTable + "\nFound 1 unique extensions:\n" + c[2] + "\n", "");
    // Exclusions come before scanning: an excluded archive is never opened.
    ExpectRun({"-sa", "-xe=tar,tgz,zip", directory}, kEmptyTable, "");
    ExpectRun({"-xe=tar,tgz,zip", c[1]}, kEmptyTable, "");
  }
}

// a.c (7 bytes), b.py (2000 bytes) and c.lua in a ustar tar of 10240 bytes: headers at
// 0, 1024 and 3584, b's data at 1536, the end blocks at 4608. Whatever the damage, the
// members read before it are counted.
TEST_F(ArchiveCli, DamagedTarEndsWithAMessageAndKeepsTheMembersBefore) {
  QM_REQUIRE_TOOL("tar");
  std::string python;
  for (int i = 0; i < 333; ++i) python += "x = 1\n";
  ASSERT_TRUE(tree.WriteFile("a.c", "int a;\n") && tree.WriteFile("b.py", python + "#\n") &&
              tree.WriteFile("c.lua", "local c = 1\nlocal d = 2\n"));
  ASSERT_TRUE(Make("tar", {"--format=ustar", "-cf", "good.tar", "a.c", "b.py", "c.lua"}));
  const std::string good = Bytes("good.tar");
  ASSERT_EQ(good.size(), 10240u);
  ASSERT_EQ(good.substr(1024, 4), "b.py");
  ASSERT_EQ(good.substr(4608, 1024), std::string(1024, '\0'));
  const std::string onlyA = OneTypeTable("C source", "1", "1");
  const std::string all = Table({Row("Python source", "1", "0", "1", "0", "333"),
                                 Row("Lua source", "1", "0", "0", "0", "2"), Row("C source", "1", "0", "0", "0", "1")},
                                Row("Total", "3", "0", "1", "0", "336"));
  std::string badChecksum = good;
  badChecksum[1024 + 1] = 'X';  // "bXpy": b's header no longer matches its checksum
  const std::string gzip = test::GzipOfStoredBlocks(good, 512);  // block k: the tar's bytes from 512k
  const struct {
    const char* name;
    std::string bytes;
    std::string out;
  } cases[] = {
      {"bad.tar", good.substr(0, 1124), kOneError + onlyA},  // cut in b's header
      {"bad.tar", good.substr(0, 2536),
       "couldn't open/read file: b.py\n2 errors (couldn't read/open)\n" + onlyA},
      {"bad.tar", good.substr(0, 4608), kOneError + all},  // no end block
      {"bad.tar", badChecksum, kOneError + onlyA},
      // Cut 100 bytes into the block of the end marker: every member is whole.
      {"cut.tar.gz", gzip.substr(0, test::StoredBlockOffset(9, 512) + 5 + 100), kOneError + all},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name + std::to_string(c.bytes.size()));
    const std::string message = std::string("cannot read tar/tgz file: ") + c.name + "\n";
    ASSERT_TRUE(tree.WriteFile(c.name, c.bytes));
    ExpectRun({"-la", c.name}, c.out, message);
    ExpectRun({"-la", std::string("--stdin=") + c.name}, c.out, message, &c.bytes);
  }
  ExpectRun({"-la", "good.tar"}, all, "");
}

// a.c, b.py (102000 bytes, data from 1536) and c.lua in a ustar tar followed by
// 70000 more zero bytes, gzip-compressed with stored blocks of 4096 bytes so that one
// exact field can be damaged. The damage lies far behind a.c and the members lie far
// before the trailer, so the outcome does not depend on how much the decoder produces
// ahead of the reader.
TEST_F(ArchiveCli, DamagedGzipEndsWithAMessageAndKeepsTheMembersBefore) {
  QM_REQUIRE_TOOL("tar");
  std::string python;
  for (int i = 0; i < 17000; ++i) python += "x = 1\n";
  ASSERT_TRUE(tree.WriteFile("a.c", "int a;\n") && tree.WriteFile("b.py", python) &&
              tree.WriteFile("c.lua", "local c = 1\nlocal d = 2\n"));
  ASSERT_TRUE(Make("tar", {"--format=ustar", "-cf", "t.tar", "a.c", "b.py", "c.lua"}));
  const std::string tar = Bytes("t.tar") + std::string(70000, '\0');
  ASSERT_EQ(tar.substr(1024, 4), "b.py");
  const std::string gzip = test::GzipOfStoredBlocks(tar, 4096);

  const std::string onlyA = OneTypeTable("C source", "1", "1");
  const std::string all =
      Table({Row("Python source", "1", "0", "0", "0", "17'000"), Row("Lua source", "1", "0", "0", "0", "2"),
             Row("C source", "1", "0", "0", "0", "1")},
            Row("Total", "3", "0", "0", "0", "17'003"));
  const std::string message = "cannot read tar/tgz file: t.tar.gz\n";
  std::string badBlock = gzip;  // NLEN of the block holding b's bytes 68096 to 72191
  badBlock[test::StoredBlockOffset(17, 4096) + 3] ^= 0x01;
  std::string badCrc = gzip;
  badCrc[gzip.size() - 8] ^= 0x01;
  std::string badLength = gzip;
  badLength[gzip.size() - 4] ^= 0x01;
  const struct {
    const char* what;
    std::string bytes;
    std::string out;
    std::string err;
  } cases[] = {
      {"intact", gzip, all, ""},
      {"damaged block header", badBlock,
       "couldn't open/read file: b.py\n2 errors (couldn't read/open)\n" + onlyA, message},
      {"wrong CRC-32 in the trailer", badCrc, kOneError + all, message},
      {"wrong length in the trailer", badLength, kOneError + all, message},
      {"garbage after the trailer", gzip + "garbage\n\x1f\x8b", all, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(tree.WriteFile("t.tar.gz", c.bytes));
    ExpectRun({"-la", "t.tar.gz"}, c.out, c.err);
    ExpectRun({"-la", "--stdin=t.tar.gz"}, c.out, c.err, &c.bytes);
  }
}

// a.c, b.py and c.lua zipped by Info-ZIP, deflated and stored.
TEST_F(ArchiveCli, DamagedZipIsRefusedOrItsEntryCountedAsUnreadable) {
  QM_REQUIRE_TOOL("zip");
  std::string python;
  for (int i = 0; i < 400; ++i) python += "x = 1\n";
  ASSERT_TRUE(tree.WriteFile("a.c", "int a;\n") && tree.WriteFile("b.py", python) &&
              tree.WriteFile("c.lua", "local c = 1\nlocal d = 2\n"));
  ASSERT_TRUE(Make("zip", {"-q", "deflated.zip", "a.c", "b.py", "c.lua"}));
  ASSERT_TRUE(Make("zip", {"-q", "-0", "stored.zip", "a.c", "b.py", "c.lua"}));
  const std::string deflated = Bytes("deflated.zip");
  const std::string stored = Bytes("stored.zip");
  std::vector<test::ZipRecord> deflatedRecords, storedRecords;
  size_t deflatedEnd = 0, storedEnd = 0;
  ASSERT_TRUE(test::ListZipRecords(deflated, deflatedRecords, deflatedEnd));
  ASSERT_TRUE(test::ListZipRecords(stored, storedRecords, storedEnd));
  ASSERT_EQ(deflatedRecords.size(), 3u);
  ASSERT_EQ(deflatedRecords[1].name, "b.py");
  ASSERT_EQ(storedRecords[1].name, "b.py");
  const size_t b = deflatedRecords[1].centralOffset;

  auto changed = [](std::string bytes, size_t at, int32_t delta) {
    test::PutLittleEndian32(bytes, at, test::GetLittleEndian32(bytes, at) + static_cast<uint32_t>(delta));
    return bytes;
  };
  auto flipped = [](std::string bytes, size_t at) {
    bytes[at] ^= 0x40;
    return bytes;
  };
  const std::string entryFails =
      "couldn't open/read file: b.py\n" + kOneError +
      Table({Row("Lua source", "1", "0", "0", "0", "2"), Row("C source", "1", "0", "0", "0", "1")},
            Row("Total", "2", "0", "0", "0", "3"));
  const std::string refused = kOneError + kEmptyTable;
  const std::string message = "cannot open zip file: bad.zip\n";
  const struct {
    const char* what;
    std::string bytes;
    std::string out;
    std::string err;
  } cases[] = {
      {"wrong CRC-32 in the directory", changed(deflated, b + test::kCentralCrc32, 1), entryFails, ""},
      {"size one too large", changed(deflated, b + test::kCentralUncompressedSize, 1), entryFails, ""},
      {"size one too small", changed(deflated, b + test::kCentralUncompressedSize, -1), entryFails, ""},
      {"stored data damaged", flipped(stored, storedRecords[1].dataOffset + 100), entryFails, ""},
      {"stored size one too large",
       changed(stored, storedRecords[1].centralOffset + test::kCentralUncompressedSize, 1), entryFails, ""},
      {"directory offset", changed(deflated, deflatedEnd + test::kEndRecordDirectoryOffset, 1), refused,
       message},
      {"end record signature", flipped(deflated, deflatedEnd + 1), refused, message},
      {"cut inside the directory", deflated.substr(0, b + 10), refused, message},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(tree.WriteFile("bad.zip", c.bytes));
    ExpectRun({"-la", "bad.zip"}, c.out, c.err);
  }
}

// a.c, then an archive holding b.py and c.rs, then d.lua: what the inner archive
// does, the outer one goes on at the member's end.
TEST_F(ArchiveCli, SymbolicLinksAreNotCountedInAnyFormat) {
  QM_REQUIRE_TOOL("tar");
  QM_REQUIRE_TOOL("zip");
  ASSERT_TRUE(tree.WriteFile("d/a.c", "int a;\nint b;\n"));
  ASSERT_TRUE(tree.MakeSymlink("d/link.c", "a.c"));
  ASSERT_TRUE(test::RunsCleanly("tar", {"-cf", "../links.tar", "a.c", "link.c"}, tree.Path("d")));
  ASSERT_TRUE(test::RunsCleanly("zip", {"-q", "-y", "../links.zip", "a.c", "link.c"}, tree.Path("d")));
  for (const char* argument : {"d", "links.tar", "links.zip"}) {
    ExpectRun({"-la", argument}, OneTypeTable("C source", "1", "2"), "");
  }
}

}  // namespace
}  // namespace qm
