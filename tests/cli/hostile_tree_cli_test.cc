// Hostile trees end to end: special files with source names, files and directories
// changing under the walk, chains deeper than the path limit, odd names, a hundred
// thousand empty files, archives that claim or expand to gigabytes, and result files
// that cannot be written. Whatever the tree, the run must end with its report and exit
// status 0, within bounded time and memory. Archive fixtures are built byte by byte
// here, so the tests need no archiver; Python starts the tool where its peak memory
// is measured.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "archive/crc32.h"
#include "tests/support/archive_fixture.h"
#include "tests/support/bit_writer.h"
#include "tests/support/report_text.h"
#include "tests/support/run_tool.h"
#include "tests/support/temp_tree.h"

namespace qm {
namespace {

using test::kRule;
using test::kHeader;

// The type table of a run that counted `files` one-line C files (no type row when 0).
std::string CTable(int files) {
  auto row = [files](const char* type) {
    char line[160];
    std::snprintf(line, sizeof line, "%-19s %11d %11d %11d %11d %11d\n", type, files, 0, 0, 0, files);
    return std::string(line);
  };
  return kHeader + (files > 0 ? row("C source") : "") + kRule + row("Total");
}

std::vector<std::string> SortedLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) lines.push_back(line);
  std::sort(lines.begin(), lines.end());
  return lines;
}

// Checks that out is some anomaly lines (in directory order, so compared as a set)
// followed by exactly `rest`.
void ExpectAnomaliesThen(const std::string& out, const std::vector<std::string>& anomalies,
                         const std::string& rest) {
  ASSERT_GE(out.size(), rest.size()) << out;
  EXPECT_EQ(out.substr(out.size() - rest.size()), rest) << out;
  std::vector<std::string> expected = anomalies;
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(SortedLines(out.substr(0, out.size() - rest.size())), expected) << out;
}

void ExpectCleanExit(const test::ToolResult& result) {
  EXPECT_TRUE(result.isStarted);
  EXPECT_EQ(result.signal, 0) << "the tool was killed or crashed";
  EXPECT_EQ(result.exitStatus, 0);
}

// Archive fixtures --------------------------------------------------------------

void PutLe(std::string& out, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

const std::string kTarEnd(1024, '\0');
const std::string kOneError = "1 errors (couldn't read/open)\n";

std::string Gzip(const std::string& bytes) { return test::GzipOfStoredBlocks(bytes, 65535); }

// Raw DEFLATE data for zeroCount zero bytes, in one fixed-code block: a literal zero,
// then matches of 258 bytes at distance 1 (13 bits each, about 1032:1).
std::string DeflatedZeros(uint64_t zeroCount) {
  test::BitWriter writer;
  writer.BlockHeader(true, 1).FixedLiteral(0);
  uint64_t left = zeroCount - 1;
  for (; left >= 258; left -= 258) writer.FixedMatch(258, 1);
  if (left >= 3) {
    writer.FixedMatch(static_cast<int>(left), 1);
  } else {
    for (; left > 0; --left) writer.FixedLiteral(0);
  }
  writer.FixedLiteral(256);
  return writer.Text();
}

// CRC-32 of count zero bytes.
uint32_t ZerosCrc(uint64_t count) {
  static const std::string kZeros(1 << 20, '\0');
  uint32_t crc = 0;
  for (; count > 0;) {
    const uint64_t piece = std::min<uint64_t>(count, kZeros.size());
    crc = Crc32(crc, kZeros.data(), piece);
    count -= piece;
  }
  return crc;
}

struct ZipMember {
  std::string name;
  std::string data;         // as stored
  uint16_t method = 8;      // 0 stored, 8 deflated
  uint32_t crc = 0;
  uint32_t sizeClaim = 0;   // uncompressed size written in both headers
};

// A zip of the members, each with a local header and a directory entry.
std::string Zip(const std::vector<ZipMember>& members) {
  std::string out;
  std::string directory;
  // Method, flags, time, date, CRC-32, sizes and name length: the same in both headers.
  auto putShared = [](std::string& to, const ZipMember& member) {
    for (uint64_t value : {uint64_t{member.method}, uint64_t{0}, uint64_t{0}, uint64_t{0x21}}) PutLe(to, value, 2);
    for (uint64_t value : {uint64_t{member.crc}, uint64_t{member.data.size()}, uint64_t{member.sizeClaim}}) {
      PutLe(to, value, 4);
    }
    PutLe(to, member.name.size(), 2);
  };
  for (const ZipMember& member : members) {
    const uint32_t offset = static_cast<uint32_t>(out.size());
    PutLe(out, 0x04034b50, 4);
    PutLe(out, 20, 2);
    putShared(out, member);
    PutLe(out, 0, 2);
    out += member.name + member.data;

    PutLe(directory, 0x02014b50, 4);
    PutLe(directory, 20, 2);
    PutLe(directory, 20, 2);
    putShared(directory, member);
    for (int i = 0; i < 4; ++i) PutLe(directory, 0, 2);  // extra, comment, disk, internal
    PutLe(directory, 0, 4);
    PutLe(directory, offset, 4);
    directory += member.name;
  }
  const uint32_t directoryOffset = static_cast<uint32_t>(out.size());
  out += directory;
  PutLe(out, 0x06054b50, 4);
  for (uint64_t value : {uint64_t{0}, uint64_t{0}, uint64_t{members.size()}, uint64_t{members.size()}}) {
    PutLe(out, value, 2);
  }
  PutLe(out, directory.size(), 4);
  PutLe(out, directoryOffset, 4);
  PutLe(out, 0, 2);
  return out;
}

ZipMember StoredMember(const std::string& name, const std::string& text) {
  return {name, text, 0, Crc32(0, text.data(), text.size()), static_cast<uint32_t>(text.size())};
}

class HostileTree : public testing::Test {
 protected:
  test::ToolResult Run(const std::vector<std::string>& args, int timeLimitSeconds = 60) {
    test::ToolOptions options;
    options.workDir = tree.Root();
    options.timeLimitSeconds = timeLimitSeconds;
    return test::RunTool(args, options);
  }

  test::TempTree tree;
};

TEST_F(HostileTree, PipesAndSocketsWithSourceNamesAreErrorsNotHangs) {
  ASSERT_TRUE(tree.WriteFile("ok.c", "int ok;\n"));
  ASSERT_TRUE(tree.MakeFifo("pipe.c"));
  ASSERT_TRUE(tree.MakeSocket("socket.py"));
  ASSERT_TRUE(tree.MakeFifo("sub/pipe.tar"));  // opened for scanning with -sa
  ASSERT_TRUE(tree.MakeFifo("sub/pipe.zip"));
  ASSERT_TRUE(tree.MakeFifo("sub/pipe.tgz"));
  // Opening a pipe for reading would wait for a writer: the time limit catches that.
  const test::ToolResult result = Run({"-la", "-sa", "."}, 20);
  ExpectCleanExit(result);
  ExpectAnomaliesThen(result.out,
                      {"couldn't open file: pipe.c", "couldn't open file: socket.py",
                       "couldn't open file: sub/pipe.tar", "couldn't open file: sub/pipe.zip",
                       "couldn't open file: sub/pipe.tgz"},
                      "5 errors (couldn't read/open)\n" + CTable(1));
  EXPECT_EQ(result.err, "");
}

TEST_F(HostileTree, FilesAndDirectoriesChangingDuringTheWalkEndInAReport) {
  constexpr int kDirectories = 20;
  constexpr int kFilesPerDirectory = 40;
  auto fileName = [](int d, int f) { return "d" + std::to_string(d) + "/f" + std::to_string(f) + ".c"; };
  for (int d = 0; d < kDirectories; ++d) {
    for (int f = 0; f < kFilesPerDirectory; ++f) {
      ASSERT_TRUE(tree.WriteFile(fileName(d, f), "int v" + std::to_string(d * 1000 + f) + ";\n"));
    }
  }
  // A second thread truncates, deletes, regrows and swaps files for pipes, and
  // removes whole directories, while the tool walks. Any interleaving must end well;
  // no outcome is required beyond that.
  std::atomic<bool> isDone{false};
  std::thread mutator([&] {
    unsigned seed = 12345;
    while (!isDone.load()) {
      seed = seed * 1103515245u + 12345u;
      const int d = static_cast<int>((seed >> 8) % kDirectories);
      const int f = static_cast<int>((seed >> 16) % kFilesPerDirectory);
      const std::string path = tree.Path(fileName(d, f));
      const unsigned action = (seed >> 4) % 5;
      if (action == 0) {
        truncate(path.c_str(), 0);
      } else if (action == 1) {
        const std::string dir = tree.Path("d" + std::to_string(d));
        for (int k = 0; k < kFilesPerDirectory; ++k) unlink(tree.Path(fileName(d, k)).c_str());
        rmdir(dir.c_str());
        mkdir(dir.c_str(), 0755);
      } else {
        unlink(path.c_str());
        if (action == 3) mkfifo(path.c_str(), 0644);
        if (action == 4) tree.WriteSizedFile(fileName(d, f), 1 + (seed >> 20) % 100000, "x = 1;\n");
      }
    }
  });
  std::vector<test::ToolResult> results;
  for (int round = 0; round < 3; ++round) results.push_back(Run({"-la", "-f", "."}, 30));
  isDone.store(true);
  mutator.join();
  for (const test::ToolResult& result : results) {
    ExpectCleanExit(result);
    EXPECT_NE(result.out.find(kRule + "Total "), std::string::npos) << result.out;
    for (const std::string& line : SortedLines(result.err)) {
      EXPECT_EQ(line.rfind("failed to open dir: ", 0), 0u) << line;
    }
  }
}

// Makes dir0/name/name/... (levels directories in all, dir0 first) through directory
// descriptors, so the chain may run past PATH_MAX, with the file "f<level>.c" holding
// "int v<level>;" in each.
bool MakeChainWithFiles(const std::string& dir0, const std::string& name, int levels) {
  int fd = open(dir0.c_str(), O_RDONLY | O_DIRECTORY);
  for (int level = 0; fd >= 0 && level < levels; ++level) {
    const std::string file = "f" + std::to_string(level) + ".c";
    const std::string text = "int v" + std::to_string(level) + ";\n";
    const int fileFd = openat(fd, file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const bool isWritten = fileFd >= 0 && write(fileFd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    if (fileFd >= 0) close(fileFd);
    const int next = isWritten && level + 1 < levels && mkdirat(fd, name.c_str(), 0755) == 0
                         ? openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY)
                         : -1;
    close(fd);
    fd = next;
    if (!isWritten) return false;
  }
  if (fd >= 0) close(fd);
  return true;
}

// The walk opens directories and files by full path: the first directory at PATH_MAX
// bytes or more is reported once and nothing below it is counted.
TEST_F(HostileTree, ChainsPastThePathLimitCountWhatTheLimitAllows) {
  ASSERT_TRUE(tree.WriteFile("deep/top.c", "int top;\n"));
  ASSERT_TRUE(tree.MakeDeepChain("deep", "d", 4000, "bottom.c", "int bottom;\n"));
  std::string deepUnopened = tree.Path("deep");
  while (deepUnopened.size() < PATH_MAX) deepUnopened += "/d";
  // 40 levels of 250-byte names, a file at each level: about 10 000 bytes deep.
  constexpr int kLevels = 40;
  const std::string name(250, 'n');
  ASSERT_TRUE(tree.MakeDir("long"));
  ASSERT_TRUE(MakeChainWithFiles(tree.Path("long"), name, kLevels));
  int counted = 1;  // deep/top.c
  int unreadable = 0;
  std::string longUnopened;
  std::string directory = tree.Path("long");
  for (int level = 0; level < kLevels && longUnopened.empty(); ++level) {
    if (directory.size() >= PATH_MAX) {
      longUnopened = directory;
    } else {
      const std::string file = "/f" + std::to_string(level) + ".c";
      (directory.size() + file.size() < PATH_MAX ? counted : unreadable) += 1;
    }
    directory += "/" + name;
  }
  ASSERT_FALSE(longUnopened.empty());
  const test::ToolResult result = Run({"deep", "long"}, 20);
  ExpectCleanExit(result);
  const std::string errors = unreadable > 0 ? std::to_string(unreadable) + " errors (couldn't read/open)\n" : "";
  EXPECT_EQ(result.out, errors + CTable(counted));
  EXPECT_EQ(result.err, "failed to open dir: " + deepUnopened + ": File name too long\nfailed to open dir: " +
                            longUnopened + ": File name too long\n");
}

TEST_F(HostileTree, WorkingDirectoryPastTheCwdBufferIsStillWalked) {
  // Run from a working directory more than 8192 bytes deep, which CurrentDirectory
  // cannot read: "." then has no absolute path, and its subdirectories must still be
  // walked by their relative paths (they were refused as "./<name>").
  constexpr int kLevels = 36;
  constexpr int kStartLevel = 33;  // 33 levels of 251 bytes: past 8192
  const std::string name(250, 'n');
  ASSERT_TRUE(tree.MakeDir("cwd"));
  ASSERT_TRUE(MakeChainWithFiles(tree.Path("cwd"), name, kLevels));
  std::string components = "cwd";
  for (int level = 0; level < kStartLevel; ++level) components += "/" + name;
  // A single chdir cannot take a path that long; Python goes down one level at a time.
  const char kLauncher[] =
      "import os, sys\n"
      "for part in sys.argv[1].split('/'): os.chdir(part)\n"
      "os.execv(sys.argv[2], sys.argv[2:])\n";
  test::ToolOptions options;
  options.workDir = tree.Root();
  options.timeLimitSeconds = 20;
  const test::ToolResult result =
      test::RunProgram("/usr/bin/python3", {"-c", kLauncher, components, QM_BINARY, "-np", "."}, options);
  ExpectCleanExit(result);
  EXPECT_EQ(result.out, CTable(kLevels - kStartLevel));
  EXPECT_EQ(result.err, "");
}

TEST_F(HostileTree, OddNamesAreCountedOrReportedByteForByte) {
  ASSERT_TRUE(tree.WriteFile("new\nline.c", "int a;\n"));
  ASSERT_TRUE(tree.WriteFile("\xff\xfe\x80.c", "int b;\n"));
  ASSERT_TRUE(tree.WriteFile(" padded.c ", "int c;\n"));
  ASSERT_TRUE(tree.WriteFile("copy\xc3.c", "int a;\n"));  // same bytes as new\nline.c
  ASSERT_TRUE(tree.WriteFile("%s%n%x.c", ""));               // names are data, not formats
  // Directories whose path normalisation would rewrite are walked under their own names.
  ASSERT_TRUE(tree.WriteFile("dir\\name/kept.c", "int f;\n"));
  ASSERT_TRUE(tree.WriteFile("trailing /kept.c", "int g;\n"));
  const test::ToolResult result = Run({"-np", "."}, 20);
  ExpectCleanExit(result);
  EXPECT_EQ(result.out, "1 dup files ignored\n1 empty files ignored\n" + CTable(5));
  EXPECT_EQ(result.err, "");
  // The anomaly lines name the files exactly as they are called, control bytes escaped.
  const test::ToolResult listed = Run({"-la", "-np", "."}, 20);
  ExpectCleanExit(listed);
  EXPECT_NE(listed.out.find("empty file: %s%n%x.c\n"), std::string::npos) << listed.out;
  const bool isNewlineFirst = listed.out.find("dup source: new\\x0aline.c\n") != std::string::npos;
  EXPECT_NE(listed.out.find(isNewlineFirst ? "duplicate file: copy\xc3.c\n" : "duplicate file: new\\x0aline.c\n"),
            std::string::npos)
      << listed.out;
}

TEST_F(HostileTree, HundredThousandEmptyFilesAreCountedAsEmpty) {
  constexpr int kDirectories = 100;
  constexpr int kFilesPerDirectory = 1000;
  // The first file of each directory is made, the others are hard links to it: to the
  // walk they are distinct empty files, and a link costs a small part of a new inode
  // (making 100 000 inodes took over 20 s here).
  for (int d = 0; d < kDirectories; ++d) {
    const std::string dir = "e" + std::to_string(d);
    const std::string first = tree.Path(dir + "/0.c");
    ASSERT_TRUE(tree.WriteFile(dir + "/0.c", ""));
    for (int f = 1; f < kFilesPerDirectory; ++f) {
      const std::string path = tree.Path(dir + "/" + std::to_string(f) + ".c");
      ASSERT_EQ(link(first.c_str(), path.c_str()), 0) << path;
    }
  }
  ASSERT_TRUE(tree.WriteFile("real.c", "int real;\n"));
  const test::ToolResult result = Run({"-np", "."}, 60);
  ExpectCleanExit(result);
  EXPECT_EQ(result.out, "100000 empty files ignored\n" + CTable(1));
  EXPECT_EQ(result.err, "");
}

// The highest resident size of one run of the tool, in bytes, or -1. A child keeps the
// resident size its parent had when it was forked as its own peak, so the tool is
// started from a small Python process rather than from this (large) test, and that
// process reports the peak it gets from wait4.
int64_t PeakResidentBytes(const std::vector<std::string>& args, const std::string& workDir,
                          const std::string* input = nullptr) {
  const char kLauncher[] =
      "import os, sys\n"
      "pid = os.fork()\n"
      "if pid == 0:\n"
      "    null = os.open(os.devnull, os.O_WRONLY)\n"
      "    os.dup2(null, 1)\n"
      "    os.dup2(null, 2)\n"
      "    os.execv(sys.argv[1], sys.argv[1:])\n"
      "_, status, usage = os.wait4(pid, 0)\n"
      "print(usage.ru_maxrss * 1024 if os.WIFEXITED(status) else -1)\n";
  std::vector<std::string> launcherArgs = {"-c", kLauncher, QM_BINARY};
  launcherArgs.insert(launcherArgs.end(), args.begin(), args.end());
  test::ToolOptions options;
  options.workDir = workDir;
  if (input != nullptr) options.standardInput = *input;
  const test::ToolResult result = test::RunProgram("/usr/bin/python3", launcherArgs, options);
  return result.exitStatus == 0 && !result.out.empty() ? std::atoll(result.out.c_str()) : -1;
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kIsAddressSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kIsAddressSanitized = true;
#else
constexpr bool kIsAddressSanitized = false;
#endif
#else
constexpr bool kIsAddressSanitized = false;
#endif

// Little memory or stack is one file's problem, never the run's: a file whose buffer
// cannot be had is unreadable, nested archives keep small frames. The limits are set
// with setrlimit in the child (through Python) just before the tool starts.
TEST_F(HostileTree, LowMemoryAndASmallStackEndInAReport) {
  // The address sanitizer reserves terabytes of address space and grows frames.
  if (kIsAddressSanitized || std::getenv("QM_TOOL_WRAPPER") != nullptr) GTEST_SKIP();
  constexpr int64_t kBigBytes = int64_t{64} << 20;  // the default limit
  ASSERT_TRUE(tree.WriteSizedFile("mem/big.c", kBigBytes, "int x;\n"));
  ASSERT_TRUE(tree.WriteFile("mem/small.c", "int y;\n"));
  std::string big;
  ASSERT_TRUE(test::ReadFileBytes(tree.Path("mem/big.c"), big));
  std::string nested = test::TarMember("a.c", "int a;\n") + kTarEnd;
  for (int level = 0; level < 20; ++level) {
    nested = test::TarMember("l" + std::to_string(level) + ".tgz", Gzip(nested)) + kTarEnd;
  }
  ASSERT_TRUE(tree.WriteFile("nest/deep.tgz", Gzip(nested)));
  ASSERT_TRUE(tree.WriteFile("nest/z.zip", Zip({StoredMember("z.c", "int z;\n")})));
  const char kLauncher[] =
      "import os, resource, sys\n"
      "which = resource.RLIMIT_AS if sys.argv[1] == 'as' else resource.RLIMIT_STACK\n"
      "resource.setrlimit(which, (int(sys.argv[2]), int(sys.argv[2])))\n"
      "if sys.argv[3] != '-': os.dup2(os.open(sys.argv[3], os.O_RDONLY), 0)\n"
      "os.execv(sys.argv[4], sys.argv[4:])\n";
  // Nesting is cut at 16 levels; the archive is named by the chain of outer archives.
  const std::string tooDeep =
      "cannot read tar/tgz file: deep.tgz/l19.tgz/l18.tgz/l17.tgz/l16.tgz/l15.tgz/l14.tgz/l13.tgz/l12.tgz/"
      "l11.tgz/l10.tgz/l9.tgz/l8.tgz/l7.tgz/l6.tgz/l5.tgz/l4.tgz\n";
  const struct {
    const char* limit;
    int64_t bytes;
    std::string inputFile;  // standard input redirected from it, or "-"
    const std::string* inputPipe;
    std::vector<std::string> args;
    std::string out, err;
  } cases[] = {
      {"as", 50'000'000, "-", nullptr, {"mem"}, "couldn't read file: big.c\n" + kOneError + CTable(1), ""},
      {"as", 50'000'000, "-", &big, {"--stdin=a.c"}, "couldn't read file: a.c\n" + kOneError + CTable(0), ""},
      // A regular file on standard input is measured, not read, as on disk.
      {"as", 50'000'000, tree.Path("mem/big.c"), nullptr, {"-max=63", "--stdin=a.c"},
       "file too big: a.c\n1 files bigger than 63 MB ignored\n" + CTable(0), ""},
      {"stack", 64 << 10, "-", nullptr, {"-sa", "nest"}, kOneError + CTable(1), tooDeep},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"-c",         kLauncher, c.limit, std::to_string(c.bytes),
                                     c.inputFile, QM_BINARY, "-la"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    test::ToolOptions options;
    options.workDir = tree.Root();
    options.timeLimitSeconds = 30;
    if (c.inputPipe != nullptr) options.standardInput = *c.inputPipe;
    const test::ToolResult result = test::RunProgram("/usr/bin/python3", args, options);
    ExpectCleanExit(result);
    EXPECT_EQ(result.out, c.out) << c.args.back();
    EXPECT_EQ(result.err, c.err) << c.args.back();
  }
  // Standard input of unknown size is read into one buffer of at most the limit and a
  // page, never copied whole (it took twice the limit).
  const std::string input = big.substr(0, 16 << 20);
  const int64_t peak = PeakResidentBytes({"-max=16", "--stdin=a.c"}, tree.Root(), &input);
  EXPECT_GT(peak, 0);
  EXPECT_LT(peak, int64_t{26} << 20);
}

TEST_F(HostileTree, ZipBombsStayWithinTheSizeLimitAndBoundedMemory) {
  constexpr uint64_t kBombBytes = uint64_t{1} << 31;  // 2 GiB of zeros
  constexpr uint64_t kLieBytes = uint64_t{1} << 28;   // 256 MiB said to be 1000 bytes
  const std::string bomb = DeflatedZeros(kBombBytes);
  ASSERT_LT(bomb.size(), 16u << 20);
  ZipMember honest{"bomb.c", bomb, 8, ZerosCrc(kBombBytes), static_cast<uint32_t>(kBombBytes)};
  ZipMember lying{"lie.c", DeflatedZeros(kLieBytes), 8, ZerosCrc(1000), 1000};
  // The same data claiming exactly the default limit: the most a claim can make intake read.
  ZipMember atLimit{"limit.c", lying.data, 8, ZerosCrc(64 << 20), 64 << 20};
  ASSERT_TRUE(tree.WriteFile("bomb.zip", Zip({honest, StoredMember("ok.c", "int ok;\n")})));
  ASSERT_TRUE(tree.WriteFile("lie.zip", Zip({lying, StoredMember("ok2.c", "int ok2;\n")})));
  ASSERT_TRUE(tree.WriteFile("limit.zip", Zip({atLimit})));

  const std::string tooBig = "file too big: bomb.c\n1 files bigger than ";
  const struct {
    std::vector<std::string> args;
    std::string out;
    int64_t peakBoundInBytes;
  } cases[] = {
      // The honest claim is over the limit (also the largest one that can be given),
      // so nothing is inflated.
      {{"-max=64", "bomb.zip"}, tooBig + "64 MB ignored\n" + CTable(1), 0},
      {{"-max=99999", "bomb.zip"}, tooBig + "2047 MB ignored\n" + CTable(1), int64_t{32} << 20},
      // A member that inflates to more than its directory entry claims is decoded only
      // as far as the claim, then fails as unreadable since its data did not end there.
      {{"lie.zip"}, "couldn't open/read file: lie.c\n" + kOneError + CTable(1), int64_t{32} << 20},
      {{"limit.zip"}, "couldn't open/read file: limit.c\n" + kOneError + CTable(0), int64_t{100} << 20},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"-la", "-np"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const test::ToolResult result = Run(args, 20);
    ExpectCleanExit(result);
    EXPECT_EQ(result.out, c.out) << c.args.back();
    EXPECT_EQ(result.err, "");
    // A wrapper such as valgrind has a resident size of its own.
    if (c.peakBoundInBytes == 0 || std::getenv("QM_TOOL_WRAPPER") != nullptr) continue;
    const int64_t peak = PeakResidentBytes(c.args, tree.Root());
    EXPECT_GT(peak, 0) << c.args.back();
    EXPECT_LT(peak, c.peakBoundInBytes) << c.args.back();
  }
}

TEST_F(HostileTree, TarMembersClaimingATerabyteAreRefusedWithoutReading) {
  const std::string paxRecord = "22 size=1099511627776\n";  // 2^40 bytes
  ASSERT_EQ(paxRecord.size(), 22u);
  std::string claim = test::TarHeader("PaxHeader", paxRecord.size(), 'x') + paxRecord;
  claim.resize(1024, '\0');
  claim += test::TarHeader("huge.c", 0) + std::string(512, 'x');
  const std::string after = test::TarMember("after.c", "int after;\n") + kTarEnd;
  ASSERT_TRUE(tree.WriteFile("huge.tar", claim + after));
  ASSERT_TRUE(tree.WriteFile("huge.tar.gz", Gzip(claim + after)));
  // The member's data would run far past the end: skipping it fails, which ends the
  // archive with an error after the member was refused as too big.
  for (const char* name : {"huge.tar", "huge.tar.gz"}) {
    const test::ToolResult result = Run({"-la", "-np", name}, 20);
    ExpectCleanExit(result);
    EXPECT_EQ(result.out, "file too big: huge.c\n1 errors (couldn't read/open)\n"
                          "1 files bigger than 64 MB ignored\n" + CTable(0))
        << name;
    EXPECT_EQ(result.err, std::string("cannot read tar/tgz file: ") + name + "\n");
  }
}

// Data passed over in a tar file is sought over, not read: a sparse 40 GiB member
// (reading it took 11 s) costs nothing, and the member behind it is counted.
TEST_F(HostileTree, HugeTarMembersArePassedOverWithASeek) {
  constexpr int64_t kHugeBytes = int64_t{40} << 30;
  const std::string paxRecord = "20 size=42949672960\n";
  ASSERT_EQ(paxRecord.size(), 20u);
  std::string claim = test::TarHeader("PaxHeader", paxRecord.size(), 'x') + paxRecord;
  claim.resize(1024, '\0');
  claim += test::TarHeader("huge.c", 0);
  const std::string after = test::TarMember("after.c", "int after;\n") + kTarEnd;
  ASSERT_TRUE(tree.WriteFile("huge.tar", claim));
  const int fd = open(tree.Path("huge.tar").c_str(), O_WRONLY);
  ASSERT_GE(fd, 0);
  const ssize_t written = pwrite(fd, after.data(), after.size(), static_cast<off_t>(claim.size() + kHugeBytes));
  close(fd);
  ASSERT_EQ(written, static_cast<ssize_t>(after.size()));
  const test::ToolResult result = Run({"-la", "-np", "huge.tar"}, 5);
  ExpectCleanExit(result);
  EXPECT_EQ(result.out, "file too big: huge.c\n1 files bigger than 64 MB ignored\n" + CTable(1));
  EXPECT_EQ(result.err, "");
}

// A .tar.gz may be several gzip members in a row, as gzip -dc reads them: each is
// decoded with its own trailer check. Bytes behind a trailer that do not start a
// member are never read; ones that start a damaged member make the archive unreadable.
TEST_F(HostileTree, GzipMembersAreReadInARowAndGarbageAfterThemIgnored) {
  const std::string tar = test::TarMember("a.c", "int a;\n") + test::TarMember("b.c", "int b;\n") + kTarEnd;
  const std::string archive = Gzip(tar);
  std::string badTrailer = Gzip(tar.substr(700));
  badTrailer[badTrailer.size() - 5] ^= 1;  // CRC-32 of the second member
  const struct {
    std::string bytes;
    int counted;
    bool isUnreadable;
  } cases[] = {
      {archive + "this is not gzip data\n", 2, false},
      {archive + std::string(70000, '\0'), 2, false},
      {archive + std::string(4096, '\xff'), 2, false},
      {archive + std::string("\x1f\x8b\x08\x00junk", 8), 2, true},  // a member cut short
      // Split inside a member's data, inside a header, and in three.
      {Gzip(tar.substr(0, 700)) + Gzip(tar.substr(700)), 2, false},
      {Gzip(tar.substr(0, 520)) + Gzip(tar.substr(520, 10)) + Gzip(tar.substr(530)), 2, false},
      {Gzip(tar.substr(0, 700)) + badTrailer, 1, true},  // a.c is all in the first member
  };
  int index = 0;
  for (const auto& c : cases) {
    const std::string name = "g" + std::to_string(index++) + ".tar.gz";
    ASSERT_TRUE(tree.WriteFile(name, c.bytes));
    const test::ToolResult result = Run({"-la", name}, 20);
    ExpectCleanExit(result);
    EXPECT_EQ(result.out, (c.isUnreadable ? kOneError : "") + CTable(c.counted)) << name;
    EXPECT_EQ(result.err, c.isUnreadable ? "cannot read tar/tgz file: " + name + "\n" : "") << name;
  }
}

}  // namespace
}  // namespace qm
