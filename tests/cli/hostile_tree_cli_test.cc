// Files and directories changing under the walk, changed by a second thread: whatever
// the interleaving, the run must end with its report and exit status 0. The hostile
// trees and limits that data can describe are cases: tests/cases/cli/hostile/,
// tests/cases/cli/limits/ and tests/cases/archives/bombs/.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/report_text.h"
#include "tests/support/run_tool.h"
#include "tests/support/temp_tree.h"

namespace qm {
namespace {

using test::kRule;

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

}  // namespace
}  // namespace qm
