// Hostile runs that need more than a data case (tests/cases/cli/hostile/ and
// tests/cases/archives/bombs/): files and directories changing under the walk (a second
// thread), and low memory or a small stack (resource limits). Whatever happens, the run
// must end with its report and exit status 0. Python starts the tool where its limits
// are set or its peak memory is measured.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/archive_fixture.h"
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

void ExpectCleanExit(const test::ToolResult& result) {
  EXPECT_TRUE(result.isStarted);
  EXPECT_EQ(result.signal, 0) << "the tool was killed or crashed";
  EXPECT_EQ(result.exitStatus, 0);
}

// Archive fixtures --------------------------------------------------------------

const std::string kTarEnd(1024, '\0');
const std::string kOneError = "1 errors (couldn't read/open)\n";

std::string Gzip(const std::string& bytes) { return test::GzipOfStoredBlocks(bytes, 65535); }

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
  ASSERT_TRUE(tree.WriteFile("z.c", "int z;\n"));
  ASSERT_TRUE(test::RunsCleanly("zip", {"-q", "nest/z.zip", "z.c"}, tree.Root()));
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

}  // namespace
}  // namespace qm
