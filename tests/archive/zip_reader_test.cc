#include "archive/zip_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "archive/inflate_stream.h"
#include "core/memory_stream.h"
#include "tests/support/archive_fixture.h"
#include "tests/support/temp_tree.h"

namespace qm {
namespace {

// Python helpers for archives the standard tools do not make: zip64 end records,
// hand-built encrypted entries, damaged directories.
const char* const kPythonPrelude = R"PY(
import io, struct, sys, warnings, zipfile, zlib
warnings.simplefilter('ignore')
def zip_of(files, comment=b'', method=zipfile.ZIP_DEFLATED):
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, 'w', method) as z:
        for name, data, *kind in files:
            z.writestr(name, data, compress_type=kind[0] if kind else None)
        z.comment = comment
    return buffer.getvalue()
def with_zip64_end(data, prefix=0):
    # The locator's offset counts from the start of the stream, prefix included.
    at = data.rfind(b'PK\x05\x06')
    n, size, offset = struct.unpack('<HII', data[at + 10:at + 20])
    record = struct.pack('<IQHHIIQQQQ', 0x06064b50, 44, 45, 45, 0, 0, n, n, size, offset)
    locator = struct.pack('<IIQI', 0x07064b50, 0, prefix + at, 1)
    return data[:at] + record + locator + struct.pack('<IHHHHIIH', 0x06054b50, 0, 0, 0xFFFF, 0xFFFF, ~0 & 0xFFFFFFFF, ~0 & 0xFFFFFFFF, 0)
def step(key, byte):
    return zlib.crc32(bytes([byte]), key ^ 0xFFFFFFFF) ^ 0xFFFFFFFF
def encrypt(data):
    k, out = [0x12345678, 0x23456789, 0x34567890], bytearray()
    for plain in data:
        t = (k[2] | 2) & 0xFFFF
        out.append(plain ^ (((t * (t ^ 1)) >> 8) & 0xFF))
        k[0] = step(k[0], plain)
        k[1] = ((k[1] + (k[0] & 0xFF)) * 134775813 + 1) & 0xFFFFFFFF
        k[2] = step(k[2], k[1] >> 24)
    return bytes(out)
def build(entries, count=None):
    # entries: (name, stored bytes, uncompressed size, crc, flags, time, central extra);
    # an uncompressed size of 0xFFFFFFFF marks all three central sizes and offset.
    local = central = b''
    for name, data, usize, crc, flags, time, extra in entries:
        fields = struct.pack('<HHHHHIII', 20, flags, 0, time, 0, crc, len(data), usize)
        offset = len(local)
        local += struct.pack('<I', 0x04034b50) + fields + struct.pack('<HH', len(name), 0) + name + data
        if usize == 0xFFFFFFFF:
            fields, offset = fields[:14] + struct.pack('<II', usize, usize), usize
        central += struct.pack('<IH', 0x02014b50, 20) + fields + struct.pack('<HHHHHII', len(name), len(extra), 0, 0, 0, 0, offset) + name + extra
    n = len(entries) if count is None else count
    return local + central + struct.pack('<IHHHHIIH', 0x06054b50, 0, 0, n, n, len(central), len(local), 0)
def plain(name, data, extra=b''):
    return (name, data, len(data), zlib.crc32(data), 0, 0, extra)
)PY";

// Runs the prelude and each script (an expression giving the archive's bytes) in one
// interpreter; returns the archives in order.
std::vector<std::string> MakeWithPython(const std::vector<std::string>& scripts) {
  test::TempTree tree;
  std::string program = kPythonPrelude;
  for (size_t i = 0; i < scripts.size(); ++i) {
    program += "open(sys.argv[1] + '." + std::to_string(i) + "', 'wb').write(" + scripts[i] + ")\n";
  }
  EXPECT_TRUE(test::RunsCleanly("python3", {"-c", program, tree.Path("z")}, tree.Root()));
  std::vector<std::string> archives(scripts.size());
  for (size_t i = 0; i < scripts.size(); ++i)
    test::ReadFileBytes(tree.Path("z." + std::to_string(i)), archives[i]);
  return archives;
}

// An archive in memory, opened at offset base; Read gives an entry's bytes, or
// "<none>" when it does not open and "<failed>" when its read fails.
struct MemoryZip {
  explicit MemoryZip(const std::string& archive, int64_t base = 0)
      : bytes(archive), stream(bytes.data(), static_cast<int32_t>(bytes.size())) {
    stream.Seek(base, kSeekStart);
    isOpen = reader.Open(&stream);
  }
  // The first entry of that name.
  std::string Read(const char* name, bool separateHandle = false) {
    int32_t index = 0;
    while (index < reader.EntryCount() && reader.Entries()[index].name != name) ++index;
    StreamRef<Stream> entry = reader.OpenEntry(index, nullptr, separateHandle);
    if (!entry) return "<none>";
    std::string data;
    char buffer[4096];
    for (int64_t done = 1; done > 0 && data.size() < (1u << 24);) {
      if (!entry->Read(buffer, sizeof buffer, done)) {
        data = "<failed>";
        break;
      }
      data.append(buffer, static_cast<size_t>(done));
    }
    return data;
  }
  // The base the reader settled on, a blank and the entry's bytes.
  std::string BaseAndText(const char* name) {
    return std::to_string(reader.BasePosition()) + " " + Read(name);
  }
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (int32_t i = 0; i < reader.EntryCount(); ++i) names.push_back(reader.Entries()[i].name.CStr());
    return names;
  }
  std::string bytes;
  MemoryStream stream;
  ZipReader reader;
  bool isOpen = false;
};

TEST(ZipReader, ReadsPythonMadeArchives) {
  const std::vector<std::string> archives = MakeWithPython({
      "zip_of([('a.c', b'first'), ('dir/', b''), ('b.c', b'bee'), ('a.c', b'second!')])",
      "zip_of([('a.c', b'x')], comment=b'c' * 65535)",
      // zip64 sizes and offset in the central extra field, behind zip64 end records.
      "with_zip64_end(build([(b'z.c', b'int x;\\n', 0xFFFFFFFF, zlib.crc32(b'int x;\\n'), 0, 0,"
      "  struct.pack('<HHQQQ', 1, 24, 7, 7, 0))]), prefix=1000)",
      // Encrypted: the check byte is the CRC's high byte, or with flag bit 3 the time's.
      "build([(b'good.c', encrypt(bytes(11) + bytes([zlib.crc32(b'secret') >> 24]) + b'secret'), 6, "
      "zlib.crc32(b'secret'), 1, 0, b''),"
      "       (b'bad.c', encrypt(bytes(12) + b'secret'), 6, zlib.crc32(b'secret'), 1, 0, b''),"
      "       (b'timed.c', encrypt(bytes(11) + b'\\x9c' + b'secret'), 6, zlib.crc32(b'secret'), 9, 0x9C00, "
      "b'')])",
      "build([plain(b'a.c', b'hello')[:3] + (zlib.crc32(b'hello') ^ 1, 0, 0, b''), plain(b'b.c', b'world')])",
      // Bytes put before archives whose offsets were not adjusted, as `cat` makes them.
      "b'#!/bin/sh\\nexit 0\\n' * 40 + zip_of([('a.c', b'first'), ('b.c', b'bee')])",
      "b'\\xff' * 300 + with_zip64_end(zip_of([('z.c', b'int z;')], method=0))",
  });
  MemoryZip duplicates(archives[0]);
  // Every record is an entry, also one whose name came before.
  EXPECT_EQ(duplicates.Names(), (std::vector<std::string>{"a.c", "dir/", "b.c", "a.c"}));
  EXPECT_EQ(duplicates.Read("a.c"), "first");
  EXPECT_EQ(duplicates.Read("missing.c"), "<none>");

  EXPECT_EQ(MemoryZip(archives[1]).Read("a.c"), "x");
  EXPECT_FALSE(MemoryZip(archives[1] + "zz").isOpen);  // the end record is now 65559 bytes from the end

  MemoryZip zip64(std::string(1000, '#') + archives[2], 1000);
  EXPECT_EQ(zip64.Read("z.c"), "int x;\n");

  MemoryZip encrypted(archives[3]);
  EXPECT_EQ(encrypted.Read("good.c") + encrypted.Read("bad.c") + encrypted.Read("timed.c"),
            "secret<none>secret");

  MemoryZip badCrc(archives[4]);
  EXPECT_EQ(badCrc.Read("a.c"), "<failed>");
  EXPECT_EQ(badCrc.Read("b.c"), "world");

  MemoryZip prefixed(archives[5]);
  EXPECT_EQ(prefixed.BaseAndText("b.c"), "680 bee");
  MemoryZip prefixedZip64(archives[6]);
  EXPECT_EQ(prefixedZip64.BaseAndText("z.c"), "300 int z;");
  MemoryZip both(std::string(10, '#') + archives[5], 10);  // opened inside a stream, and prefixed
  EXPECT_EQ(both.BaseAndText("a.c"), "690 first");
}

// Error paths

TEST(ZipReader, RejectsDamagedDirectories) {
  const std::pair<std::string, bool> cases[] = {
      {"build([plain(b'a.c', b'a')], count=40000)", true},  // the entry count is not trusted
      // Directory offset 0: the walk passes over the local headers.
      {"zip_of([('a.c', b'aaa')], method=0)[:-6] + struct.pack('<IH', 0, 0)", true},
      {"zip_of([('a.c', b'a')]).replace(b'PK\\x01\\x02', b'PK\\x09\\x09')", false},
      {"zip_of([('a.c', b'a')])[:-6] + struct.pack('<IH', 0x7FFFFFF0, 0)", false},
      {"zip_of([('a.c', b'a')])[:-6] + struct.pack('<IH', 0xFFFFFFFF, 0)", false},  // no locator
      {"with_zip64_end(zip_of([('a.c', b'a')]), prefix=12345)", false},
      {"build([plain(b'a.c', b'a', b'xy')])", false},  // extra field shorter than a block header
      {"build([plain(b'a.c', b'a', struct.pack('<HH', 9, 40) + b'z' * 8)])", false},
      // A local header claiming 2^64 - 16 bytes: a signed seek would go back and loop.
      {"(lambda l: l + struct.pack('<IHHHHIIH', 0x06054b50, 0, 0, 1, 1, len(l), 0, 0))("
       "struct.pack('<IHHHHHIIIHH', 0x04034b50, 20, 0, 0, 0, 0, 0, 0xFFFFFFFF, 0xFFFFFFFF, 3, 20) + b'a.c'"
       " + struct.pack('<HHQQ', 1, 16, 5, 2**64 - 16))",
       false},
      {"b'PK\\x03\\x04' + bytes(100)", false},
      {"b'PK\\x05\\x06'", false},
  };
  std::vector<std::string> scripts;
  for (const auto& [script, opens] : cases) scripts.push_back(script);
  const std::vector<std::string> archives = MakeWithPython(scripts);
  for (size_t i = 0; i < archives.size(); ++i)
    EXPECT_EQ(MemoryZip(archives[i]).isOpen, cases[i].second) << scripts[i];

  MemoryZip good(archives[0]);
  EXPECT_FALSE(good.reader.Open(&good.stream, 1));  // only mode 0
  InflateStream unpositioned(Raw);
  EXPECT_FALSE(good.reader.Open(&unpositioned));
}

// Every truncation is refused; with any one byte overwritten, opening and reading
// every entry ends without a fault (the sanitizer build catches any overread).
TEST(ZipReader, SurvivesTruncationAndEveryByteOverwritten) {
  const std::string bytes =
      MakeWithPython({"zip_of([('s.c', b'stored text\\n', 0), ('d/x.py', b'print(1)\\n' * 20, 8)])"})[0];
  for (size_t cut = 0; cut < bytes.size(); ++cut) EXPECT_FALSE(MemoryZip(bytes.substr(0, cut)).isOpen) << cut;
  for (size_t at = 0; at < bytes.size(); ++at) {
    for (char value : {'\0', '\xFF'}) {
      std::string damaged = bytes;
      damaged[at] = value;
      MemoryZip zip(damaged);
      for (const std::string& name : zip.Names()) zip.Read(name.c_str());
    }
  }
}

}  // namespace
}  // namespace qm
