#include "archive/archive_scan.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/file.h"
#include "core/memory_stream.h"
#include "tests/support/archive_fixture.h"
#include "tests/support/temp_tree.h"

namespace qm {
namespace {

// Records what archive scanning hands on, reading members as file intake does. Whole
// archives from files and pipes, nested archives and zips read from standard input
// are left to the end-to-end tests, which run the real intake.
class RecordingSink : public ArchiveMemberSink {
 public:
  bool Member(DirectoryListing& directory, const SharedString& name, Stream& data,
              const uint32_t* size) override {
    const std::string path = PathOf(directory.Path(), name);
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
  static std::string PathOf(const SharedString& directory, const SharedString& name) {
    return directory.IsEmpty() ? name.CStr() : std::string(directory.CStr()) + "/" + name.CStr();
  }
  void MemberTooBig(const SharedString& directory, const SharedString& name) override {
    tooBig.push_back(PathOf(directory, name));
  }
  void MemberUnreadable(const SharedString& directory, const SharedString& name) override {
    names.push_back(PathOf(directory, name) + " (unreadable)");
  }
  void ArchiveUnreadable(ArchiveKind kind, const char* reason) override {
    unreadable.push_back(std::string(kind == ArchiveKind::kZip ? "zip:" : "tar:") + archiveName +
                         (reason != nullptr ? std::string(": ") + reason : ""));
  }
  bool Scan(const char* name, Stream& stream) {
    archiveName = name;
    SharedString prepared = name;
    prepared.ToLower();
    return ScanArchive(prepared, stream, maxFileSize, *this);
  }

  int64_t maxFileSize = 1 << 20;
  std::string archiveName;
  std::vector<std::string> names, contents, tooBig, unreadable;
};

using test::TarMember;
const std::string kEnd(512, '\0');

// Bytes in memory, read as a positioned stream.
struct Input {
  explicit Input(const std::string& archive)
      : bytes(archive), stream(bytes.data(), static_cast<int32_t>(bytes.size())) {}
  std::string bytes;
  MemoryStream stream;
};

using Names = std::vector<std::string>;

TEST(ArchiveScan, NamesArchivesAndMembers) {
  const std::pair<const char*, ArchiveKind> kinds[] = {
      {"a.tar", ArchiveKind::kTar},          {"a.tgz", ArchiveKind::kGzipTar},
      {"d/a.tar.gz", ArchiveKind::kGzipTar}, {"a.zip", ArchiveKind::kZip},
      {"a.tar.xz", ArchiveKind::kXzTar},     {"a.txz", ArchiveKind::kXzTar},
      {"a.tar.bz2", ArchiveKind::kBzip2Tar}, {"a.tbz2", ArchiveKind::kBzip2Tar},
      {"a.tbz", ArchiveKind::kBzip2Tar},     {"a.tar.zst", ArchiveKind::kZstdTar},
      {"a.tzst", ArchiveKind::kZstdTar},     {"a.TAR", ArchiveKind::kNone},
      {"a.gz", ArchiveKind::kNone},          {"a.xz", ArchiveKind::kNone},
      {"a.tar.lz", ArchiveKind::kNone},      {"", ArchiveKind::kNone},
  };
  for (const auto& [name, kind] : kinds) {
    EXPECT_EQ(ArchiveKindOf(name), kind) << name;
    EXPECT_EQ(IsArchiveName(name), kind != ArchiveKind::kNone) << name;
  }
  const char* const members[][3] = {
      {"a.c", "", "a.c"},
      {"src/a.c", "src", "a.c"},
      {"./src/../lib/x.h", "lib", "x.h"},
      {"dir/", "", "dir"},
      {".github/work flows/ci.yml", ".github/work flows", "ci.yml"},  // plain but for the blank
      {"src\\lib\\x.h", "src/lib", "x.h"},
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

// Size claims past the end of the archive are the hostile tree tests' part.
TEST(ArchiveScan, FeedsRegularTarMembersWithinTheSizeLimit) {
  Input input(TarMember("src/", "", '5') + TarMember("src/a.c", "int a;\n") + TarMember("link", "", '2') +
              TarMember("src/../b.c", std::string(513, 'b')) + TarMember("contig.c", "c\n", '7') +
              TarMember("old.c", "o\n", '\0') + TarMember("src/big.c", std::string(2000, 'g')) + kEnd);
  RecordingSink sink;
  sink.maxFileSize = 1000;
  EXPECT_TRUE(sink.Scan("X.TAR", input.stream));
  EXPECT_EQ(sink.names, (Names{"src/a.c", "b.c", "contig.c", "old.c"}));
  EXPECT_EQ(sink.contents[1], std::string(513, 'b'));
  EXPECT_EQ(sink.tooBig, (Names{"src/big.c"}));  // the member's path in the archive (issue 12)
  EXPECT_TRUE(sink.unreadable.empty());
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
    z.writestr('bz.c', b'bzip2\n' * 100, compress_type=zipfile.ZIP_BZIP2)
    z.writestr('lz.c', b'lzma\n' * 100, compress_type=zipfile.ZIP_LZMA)
    z.writestr('ppmd.c', b'a method not read')
    z.writestr('good.c', b'good\n')
    z.writestr('good.c', b'good\n')  # a second record of one name
    z.writestr('past.c', b'past\n')
    z.writestr('inside.c', b'inside\n')
    z.writestr('locked.c', b'locked with a password\n')
data = bytearray(buffer.getvalue())
at = data.find(b'PK\x01\x02')
while at >= 0:
    name = bytes(data[at + 46:at + 46 + struct.unpack('<H', data[at + 28:at + 30])[0]])
    if name == b'badcrc.c': data[at + 16] ^= 1
    if name == b'longer.c': data[at + 24:at + 28] = struct.pack('<I', 4)  # CRC still of all 10
    if name == b'past.c': data[at + 42:at + 46] = struct.pack('<I', len(data) + 100)
    if name == b'inside.c': data[at + 42:at + 46] = struct.pack('<I', 1)
    if name == b'ppmd.c':
        local = struct.unpack('<I', data[at + 42:at + 46])[0]
        data[at + 10] = data[local + 8] = 98
    if name == b'locked.c':  # its first 12 bytes now read as an encryption header
        local = struct.unpack('<I', data[at + 42:at + 46])[0]
        data[at + 8] |= 1
        data[local + 6] |= 1
    at = data.find(b'PK\x01\x02', at + 4)
open(sys.argv[1], 'wb').write(bytes(data))
)PY";
  ASSERT_TRUE(test::RunsCleanly("python3", {"-c", script, "t.zip"}, tree.Root()));
  File file;
  ASSERT_TRUE(file.Open(tree.Path("t.zip").c_str(), kFileRead, 7));
  RecordingSink sink;
  sink.maxFileSize = 4096;
  EXPECT_TRUE(sink.Scan("T.ZIP", file));
  // A directory entry goes on like an empty file; bzip2 and LZMA entries are read, an
  // unknown method is skipped. Every record is a member, and one whose data cannot be
  // found or needs a password is reported, not lost.
  EXPECT_EQ(sink.names,
            (Names{"src", "src/a.c", "badcrc.c (failed)", "longer.c (failed)", "bz.c", "lz.c", "good.c",
                   "good.c", "past.c (unreadable)", "inside.c (unreadable)", "locked.c (unreadable)"}));
  EXPECT_EQ(sink.contents[1], "int a;\n");
  const auto repeated = [](const std::string& line) {
    std::string text;
    for (int i = 0; i < 100; ++i) text += line;
    return text;
  };
  EXPECT_EQ(sink.contents[4], repeated("bzip2\n"));
  EXPECT_EQ(sink.contents[5], repeated("lzma\n"));
  EXPECT_EQ(sink.tooBig, (Names{"src/big.c"}));
  EXPECT_TRUE(sink.unreadable.empty());
}

// Directory records that all point at one highly compressible entry would make a tiny
// zip cost terabytes of decoding; the scan stops once the entries claim more than
// DEFLATE could ever expand the archive to.
TEST(ArchiveScan, StopsZipsWhoseEntriesOverlapIntoABomb) {
  test::TempTree tree;
  const std::string script = R"PY(
import io, struct, sys, zipfile
buffer = io.BytesIO()
with zipfile.ZipFile(buffer, 'w', zipfile.ZIP_DEFLATED) as z:
    z.writestr('zeros.c', b'\0' * (1 << 20))
data = buffer.getvalue()
cd = data.find(b'PK\x01\x02')
end = data.find(b'PK\x05\x06')
record = data[cd:end]
records = b''.join(record[:46] + b'z%04d.c' % i + record[46 + 7:] for i in range(300))
tail = struct.pack('<4sHHHHIIH', b'PK\x05\x06', 0, 0, 300, 300, len(records), cd, 0)
open(sys.argv[1], 'wb').write(data[:cd] + records + tail)
)PY";
  ASSERT_TRUE(test::RunsCleanly("python3", {"-c", script, "bomb.zip"}, tree.Root()));
  File file;
  ASSERT_TRUE(file.Open(tree.Path("bomb.zip").c_str(), kFileRead, 7));
  RecordingSink sink;
  EXPECT_TRUE(sink.Scan("bomb.zip", file));
  EXPECT_GT(sink.names.size(), 1u);
  EXPECT_LT(sink.names.size(), 30u);
  EXPECT_EQ(sink.unreadable, (Names{"zip:bomb.zip"}));
}

}  // namespace
}  // namespace qm
