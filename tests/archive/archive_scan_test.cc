#include "archive/archive_scan.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "archive/limited_stream.h"
#include "core/file.h"
#include "core/memory_stream.h"
#include "tests/support/run_tool.h"
#include "tests/support/temp_tree.h"

namespace qm {
namespace {

// Records what archive scanning hands on, reading members as file intake does and,
// with scansNested, scanning archive members the way intake does with -sa.
class RecordingSink : public ArchiveMemberSink {
 public:
  bool Member(DirectoryListing& directory, const SharedString& name, Stream& data,
              const uint32_t* size) override {
    const std::string path =
        directory.Path().IsEmpty() ? name.CStr() : std::string(directory.Path().CStr()) + "/" + name.CStr();
    EXPECT_TRUE(currentRoot.IsEmpty() && rootAsGiven.IsEmpty()) << path;
    SharedString prepared = name;
    prepared.ToLower();
    if (scansNested && IsArchiveName(prepared)) {
      const SharedString savedRoot = currentRoot;
      currentRoot = rootAsGiven = name;
      ScanArchive(prepared, data, maxFileSize, *this, currentRoot, rootAsGiven);
      currentRoot = rootAsGiven = savedRoot;
      return true;
    }
    std::string bytes(*size, '\0');
    int64_t got = 0, done = 1;
    bool isOk = true;
    while (isOk && done > 0 && got < *size) {
      isOk = data.Read(bytes.data() + got, *size - got, done);
      got += done;
    }
    isOk = isOk && got == *size;
    names.push_back(isOk ? path : path + " (failed)");
    contents.push_back(bytes);
    return isOk;
  }
  void MemberTooBig(const SharedString& displayPath) override { tooBig.push_back(displayPath.CStr()); }
  void ArchiveUnreadable(ArchiveKind kind, const SharedString& archiveName) override {
    unreadable.push_back(std::string(kind == ArchiveKind::kZip ? "zip:" : "tar:") + archiveName.CStr());
  }
  // Scans stream as the run driver does: both roots hold the archive's name.
  bool Scan(const char* name, Stream& stream) {
    currentRoot = rootAsGiven = name;
    SharedString prepared = name;
    prepared.ToLower();
    return ScanArchive(prepared, stream, maxFileSize, *this, currentRoot, rootAsGiven);
  }

  int64_t maxFileSize = 1 << 20;
  bool scansNested = false;
  SharedString currentRoot, rootAsGiven;
  std::vector<std::string> names, contents, tooBig, unreadable;
};

std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

// A ustar member with a valid checksum, its data padded to the block size.
std::string TarMember(const std::string& name, const std::string& data, char type = '0') {
  std::string block(512, '\0');
  char number[16];
  block.replace(0, name.size(), name);
  std::snprintf(number, sizeof number, "%011llo", static_cast<unsigned long long>(data.size()));
  block.replace(124, 11, number);
  block[156] = type;
  block.replace(257, 6, std::string("ustar\0", 6));
  block.replace(148, 8, 8, ' ');
  int64_t sum = 0;
  for (char c : block) sum += static_cast<unsigned char>(c);
  std::snprintf(number, sizeof number, "%06llo", static_cast<long long>(sum));
  block.replace(148, 7, std::string(number) + '\0');
  return block + data + std::string((512 - data.size() % 512) % 512, '\0');
}
const std::string kEnd(512, '\0');

bool RunOk(const std::string& program, const std::vector<std::string>& args,
           const std::string& workDir = "") {
  test::ToolOptions options;
  options.workDir = workDir;
  return test::RunProgram(program, args, options).exitStatus == 0;
}

// Bytes in memory; unpositioned, they read as standard input does.
struct Input {
  explicit Input(const std::string& archive, bool isPositioned = true)
      : bytes(archive),
        memory(bytes.data(), static_cast<int32_t>(bytes.size())),
        pipe(memory, static_cast<int64_t>(bytes.size()), false),
        stream(isPositioned ? static_cast<Stream&>(memory) : pipe) {}
  std::string bytes;
  MemoryStream memory;
  LimitedStream pipe;
  Stream& stream;
};

using Names = std::vector<std::string>;

TEST(ArchiveScan, NamesArchivesAndMembers) {
  const std::pair<const char*, ArchiveKind> kinds[] = {
      {"a.tar", ArchiveKind::kTar}, {"a.tgz", ArchiveKind::kGzipTar},  {"d/a.tar.gz", ArchiveKind::kGzipTar},
      {"a.zip", ArchiveKind::kZip}, {"a.tar.bz2", ArchiveKind::kNone}, {"a.TAR", ArchiveKind::kNone},
      {"a.gz", ArchiveKind::kNone}, {"", ArchiveKind::kNone},
  };
  for (const auto& [name, kind] : kinds) {
    EXPECT_EQ(ArchiveKindOf(name), kind) << name;
    EXPECT_EQ(IsArchiveName(name), kind != ArchiveKind::kNone) << name;
  }
  const char* const members[][3] = {
      {"a.c", "", "a.c"},
      {"src/a.c", "src", "a.c"},
      {"./src/../lib/x.h", "lib", "x.h"},
      {"a/b/c/d.py", "a/b/c", "d.py"},
      {"dir/", "", "dir"},
  };
  for (const auto& [stored, directory, fileName] : members) {
    SharedString gotDirectory, gotName;
    NameArchiveMember(stored, gotDirectory, gotName);
    EXPECT_EQ(gotDirectory, directory) << stored;
    EXPECT_EQ(gotName, fileName) << stored;
  }
  RecordingSink sink;
  Input notes("");
  EXPECT_FALSE(sink.Scan("notes.txt", notes.stream));
}

TEST(ArchiveScan, FeedsRegularTarMembersWithinTheSizeLimit) {
  const std::string pax = "22 size=1099511627776\n";
  Input input(TarMember("src/", "", '5') + TarMember("src/a.c", "int a;\n") + TarMember("link", "", '2') +
              TarMember("src/../b.c", std::string(513, 'b')) + TarMember("contig.c", "c\n", '7') +
              TarMember("old.c", "o\n", '\0') + TarMember("src/big.c", std::string(2000, 'g')) +
              TarMember("@", pax, 'x') + TarMember("huge.c", "tiny") + TarMember("never.c", "n\n") + kEnd);
  RecordingSink sink;
  sink.maxFileSize = 1000;
  EXPECT_TRUE(sink.Scan("X.TAR", input.stream));
  EXPECT_EQ(sink.names, (Names{"src/a.c", "b.c", "contig.c", "old.c"}));
  EXPECT_EQ(sink.contents[1], std::string(513, 'b'));
  // Too-big messages name the file alone; a 2^40-byte claim ends the archive.
  EXPECT_EQ(sink.tooBig, (Names{"big.c", "huge.c"}));
  EXPECT_EQ(sink.unreadable, (Names{"tar:X.TAR"}));
}

TEST(ArchiveScan, ReadsTarsAndGzipCompressedTarsFromFilesAndPipes) {
  test::TempTree tree;
  ASSERT_TRUE(tree.WriteFile("in/src/main.c", "int main(void) { return 0; }\n"));
  ASSERT_TRUE(tree.WriteFile("in/lib/util.py", std::string(60000, '#') + "\n"));
  ASSERT_TRUE(RunOk("/usr/bin/tar", {"-C", tree.Path("in"), "-cf", tree.Path("t.tar"), "src", "lib"}));
  ASSERT_TRUE(
      RunOk("/bin/sh", {"-c", "gzip -c t.tar > named.tgz && gzip -n -c t.tar > plain.tar.gz"}, tree.Root()));
  for (const char* name : {"t.tar", "named.tgz", "plain.tar.gz"}) {
    File file;
    ASSERT_TRUE(file.Open(tree.Path(name).c_str(), kFileRead, 7));
    Input piped(ReadFileBytes(tree.Path(name)), false);
    for (Stream* stream : {static_cast<Stream*>(&file), &piped.stream}) {
      RecordingSink sink;
      sink.Scan(name, *stream);
      EXPECT_EQ(sink.names, (Names{"src/main.c", "lib/util.py"})) << name;
      EXPECT_TRUE(sink.unreadable.empty()) << name;
    }
  }
  // Over 32 KiB of tar: its end block is decoded before the pass that reaches the
  // gzip trailer, so only reading on after the end block finds a damaged one.
  const std::string good = ReadFileBytes(tree.Path("named.tgz"));
  for (size_t fromEnd : {8u, 4u}) {  // the CRC-32, then ISIZE
    Input damaged(good);
    damaged.bytes[good.size() - fromEnd] ^= 0x40;
    RecordingSink sink;
    sink.Scan("t.tgz", damaged.stream);
    EXPECT_EQ(sink.names, (Names{"src/main.c", "lib/util.py"}));
    EXPECT_EQ(sink.unreadable, (Names{"tar:t.tgz"})) << fromEnd;
  }
  Input trailing(good + "garbage after the gzip member is never read");
  RecordingSink sink;
  sink.Scan("t.tgz", trailing.stream);
  EXPECT_TRUE(sink.unreadable.empty());
}

TEST(ArchiveScan, TruncatedTarsFailAfterAPrefixOfTheirMembers) {
  test::TempTree tree;
  ASSERT_TRUE(tree.WriteFile("in/a.c", "aaaa\n") && tree.WriteFile("in/b.c", std::string(700, 'b')));
  ASSERT_TRUE(RunOk("/usr/bin/tar",
                    {"-C", tree.Path("in"), "--format=ustar", "-czf", tree.Path("t.tgz"), "a.c", "b.c"}));
  const std::string tar = TarMember("a.c", "aaaa\n") + TarMember("b.c", std::string(700, 'b')) + kEnd;
  for (const auto& [name, archive] :
       {std::pair{"t.tar", tar}, std::pair{"t.tgz", ReadFileBytes(tree.Path("t.tgz"))}}) {
    for (size_t cut = 0; cut < archive.size(); ++cut) {
      Input input(archive.substr(0, cut));
      RecordingSink sink;
      sink.Scan(name, input.stream);
      ASSERT_EQ(sink.unreadable.size(), 1u) << name << " cut at " << cut;
      ASSERT_LE(sink.names.size(), 2u);
      EXPECT_TRUE(sink.names.empty() || sink.names[0].rfind("a.c", 0) == 0) << name << " cut at " << cut;
    }
  }
}

TEST(ArchiveScan, NestedArchivesLoseNoOuterMember) {
  test::TempTree tree;
  ASSERT_TRUE(tree.WriteFile("in/x.c", "x\n") && tree.WriteFile("in/y.c", "y\n") &&
              tree.WriteFile("out/after.c", "a\n"));
  ASSERT_TRUE(
      RunOk("/usr/bin/tar", {"-C", tree.Path("in"), "-cf", tree.Path("out/inner.tar"), "x.c", "y.c"}));
  ASSERT_TRUE(RunOk("/usr/bin/tar", {"-C", tree.Path("in"), "-czf", tree.Path("out/inner.tgz"), "y.c"}));
  ASSERT_TRUE(RunOk("/usr/bin/zip", {"-q", tree.Path("out/inner.zip"), "x.c"}, tree.Path("in")));
  ASSERT_TRUE(RunOk("/usr/bin/tar", {"-C", tree.Path("out"), "-cf", tree.Path("outer.tar"), "inner.tar",
                                     "inner.tgz", "inner.zip", "after.c"}));
  ASSERT_TRUE(RunOk("/usr/bin/zip", {"-q", tree.Path("outer.zip"), "inner.tar", "inner.zip", "after.c"},
                    tree.Path("out")));
  for (const char* outer : {"outer.tar", "outer.zip"}) {
    File file;
    ASSERT_TRUE(file.Open(tree.Path(outer).c_str(), kFileRead, 7));
    RecordingSink sink;
    sink.scansNested = true;
    sink.Scan(outer, file);
    const bool isTar = std::string(outer) == "outer.tar";
    EXPECT_EQ(sink.names, isTar ? (Names{"x.c", "y.c", "y.c", "after.c"}) : (Names{"x.c", "y.c", "after.c"}));
    // A zip inside an archive has no positioned stream: it cannot be opened.
    EXPECT_EQ(sink.unreadable, (Names{"zip:inner.zip"})) << outer;
  }
  // A damaged inner tar ends itself only; nesting stops at the depth limit.
  const std::string cutInner =
      TarMember("in.c", "i\n") + TarMember("cut.c", std::string(900, 'c')).substr(0, 700);
  Input damaged(TarMember("inner.tar", cutInner) + TarMember("after.c", "a\n") + kEnd);
  std::string deep = TarMember("core.c", "c\n") + kEnd;
  for (int level = 0; level < kMaxArchiveDepth + 2; ++level) deep = TarMember("n.tar", deep) + kEnd;
  Input tooDeep(deep);
  RecordingSink sink;
  sink.scansNested = true;
  sink.Scan("outer.tar", damaged.stream);
  sink.Scan("top.tar", tooDeep.stream);
  EXPECT_EQ(sink.names, (Names{"in.c", "cut.c (failed)", "after.c"}));
  EXPECT_EQ(sink.unreadable, (Names{"tar:inner.tar", "tar:n.tar"}));
}

TEST(ArchiveScan, FeedsZipEntriesAndIsolatesDamagedOnes) {
  test::TempTree tree;
  const std::string script = R"PY(
import io, struct, sys, zipfile, zlib
buffer = io.BytesIO()
with zipfile.ZipFile(buffer, 'w') as z:
    z.writestr('src/', b'')
    z.writestr('src/a.c', b'int a;\n')
    z.writestr('src/big.c', b'b' * 5000, compress_type=zipfile.ZIP_DEFLATED)
    z.writestr('badcrc.c', b'deflated text\n' * 50, compress_type=zipfile.ZIP_DEFLATED)
    z.writestr('longer.c', b'0123456789', compress_type=zipfile.ZIP_DEFLATED)
    z.writestr('bz.c', b'bzip2', compress_type=zipfile.ZIP_BZIP2)
    z.writestr('good.c', b'good\n')
data = bytearray(buffer.getvalue())
at = data.find(b'PK\x01\x02')
while at >= 0:
    name = bytes(data[at + 46:at + 46 + struct.unpack('<H', data[at + 28:at + 30])[0]])
    if name == b'badcrc.c': data[at + 16] ^= 1
    if name == b'longer.c': data[at + 24:at + 28] = struct.pack('<I', 4)  # CRC still of all 10
    at = data.find(b'PK\x01\x02', at + 4)
open(sys.argv[1], 'wb').write(bytes(data))
)PY";
  ASSERT_TRUE(RunOk("/usr/bin/env", {"python3", "-c", script, tree.Path("t.zip")}));
  File file;
  ASSERT_TRUE(file.Open(tree.Path("t.zip").c_str(), kFileRead, 7));
  RecordingSink sink;
  sink.maxFileSize = 4096;
  EXPECT_TRUE(sink.Scan("T.ZIP", file));
  // A directory entry goes on like an empty file; an unknown method is skipped.
  EXPECT_EQ(sink.names, (Names{"src", "src/a.c", "badcrc.c (failed)", "longer.c (failed)", "good.c"}));
  EXPECT_EQ(sink.contents[1], "int a;\n");
  EXPECT_EQ(sink.tooBig, (Names{"big.c"}));
  EXPECT_TRUE(sink.unreadable.empty());

  Input piped(ReadFileBytes(tree.Path("t.zip")), false);
  Input cut(piped.bytes.substr(0, piped.bytes.size() - 3));
  RecordingSink other;
  EXPECT_TRUE(other.Scan("stdin.zip", piped.stream));
  other.Scan("cut.zip", cut.stream);
  EXPECT_TRUE(other.names.empty());
  EXPECT_EQ(other.unreadable, (Names{"zip:stdin.zip", "zip:cut.zip"}));
}

}  // namespace
}  // namespace qm
