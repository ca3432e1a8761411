#include "app/directory_walk.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/file_types.h"
#include "app/settings.h"
#include "count/classify_text.h"
#include "tests/support/run_settings.h"
#include "tests/support/temp_tree.h"

namespace qm {
namespace {

class WalkTest : public testing::Test {
 protected:
  // Fresh settings from the options (-f always, so the records tell what was counted).
  void Configure(std::vector<std::string> options) {
    options.insert(options.begin(), "-f");
    ASSERT_TRUE(test::ConfigureRun(options, tree.Root(), totals));
  }

  // Walks path as a directory argument; returns what went to standard error.
  std::string Walk(const std::string& path) {
    currentRoot = path.c_str();
    testing::internal::CaptureStderr();
    WalkDirectory(totals, SharedString(path.c_str()), 0);
    return testing::internal::GetCapturedStderr();
  }

  // Counted files, relative to the tree root, sorted.
  std::vector<std::string> Counted() const {
    std::vector<std::string> paths;
    for (const FileRecord& record : fileRecords) {
      std::string path = record.path.CStr();
      paths.push_back(path.rfind(tree.Root() + "/", 0) == 0 ? path.substr(tree.Root().size() + 1) : path);
    }
    std::sort(paths.begin(), paths.end());
    return paths;
  }

  // Files with distinct contents, so that none is a duplicate of another.
  void AddFiles(const std::vector<std::string>& paths) {
    for (const std::string& path : paths) ASSERT_TRUE(tree.WriteFile(path, "int " + path + ";\n"));
  }

  test::TempTree tree;
  CountTotals totals;
};

using Paths = std::vector<std::string>;

TEST_F(WalkTest, SkipsGitDirectoriesAtAnyDepthOnly) {
  AddFiles({"a.c", ".git/x.c", "sub/.git/deep/y.c", ".github/g.c", "sub/.GIT/h.c", "sub/s.c"});
  Configure({});
  EXPECT_EQ(Walk(tree.Root()), "");
  EXPECT_EQ(Counted(), (Paths{".github/g.c", "a.c", "sub/.GIT/h.c", "sub/s.c"}));
  Configure({"-nr"});
  Walk(tree.Root());
  EXPECT_EQ(Counted(), (Paths{"a.c"}));
}

TEST_F(WalkTest, ExcludedDirectoryIsATextPrefixOfTheAbsolutePath) {
  AddFiles({"gen/a.c", "generated/b.c", "ge/c.c", "keep/gen/d.c"});
  Configure({"-xd=" + tree.Path("gen"), "-xd=gen"});
  EXPECT_EQ(Walk(tree.Root()), "");
  EXPECT_EQ(Counted(), (Paths{"ge/c.c", "keep/gen/d.c"}));
  EXPECT_EQ(Walk(tree.Path("generated/")), "");
  EXPECT_EQ(Counted(), (Paths{"ge/c.c", "keep/gen/d.c"}));
}

// Links given as arguments are resolved by the run driver before the walk (cases).
TEST_F(WalkTest, LinksInsideAreNotFollowedAMissingStartIsLeftToTheCaller) {
  AddFiles({"real/a.c"});
  ASSERT_TRUE(tree.MakeSymlink("top/dirlink", tree.Path("real")));
  ASSERT_TRUE(tree.MakeSymlink("top/filelink.c", tree.Path("real/a.c")));
  ASSERT_TRUE(tree.MakeSymlink("top/dangling.c", tree.Path("nothing")));
  Configure({});
  EXPECT_EQ(Walk(tree.Path("top")), "");
  EXPECT_EQ(Counted(), Paths{});
  EXPECT_EQ(totals.fileCount[kTypeUnknown] + totals.errorCount, 0);
  testing::internal::CaptureStderr();
  EXPECT_FALSE(WalkDirectory(totals, tree.Path("no/such").c_str(), 0));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST_F(WalkTest, NamesAreUsedExactlyAsTheDirectoryGivesThem) {
  AddFiles({"a\\b.c", "x.c ", " lead.c", "new\nline.c", "\xff\xfe.c", "'q'.c", "d/e/z.c", "d\\e/hidden.c",
            "sp ace/in.c"});
  Configure({});
  // A directory whose name normalisation would change (d\e beside d/e) is walked under
  // its own name, not confused with another directory.
  EXPECT_EQ(Walk(tree.Root()), "");
  EXPECT_EQ(Counted(), (Paths{" lead.c", "'q'.c", "a\\b.c", "d/e/z.c", "d\\e/hidden.c", "new\nline.c",
                              "sp ace/in.c", "x.c ", "\xff\xfe.c"}));
  EXPECT_EQ(totals.errorCount, 0);
}

TEST_F(WalkTest, DeepTreesNeedNeitherStackNorManyDescriptors) {
  ASSERT_TRUE(tree.MakeDeepChain("deep", "d", 1200, "bottom.c", "int bottom;\n"));
  ASSERT_TRUE(tree.MakeDeepChain("long", "directory", 500, "lost.c", "int lost;\n"));
  AddFiles({"top.c"});
  Configure({});
  rlimit saved;
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
  rlimit few = saved;
  few.rlim_cur = kMaxOpenListings + 32;
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &few), 0);
  const std::string err = Walk(tree.Root());
  setrlimit(RLIMIT_NOFILE, &saved);
  // The long chain ends where its paths pass the system's path length limit.
  EXPECT_EQ(err.rfind("failed to open dir: " + tree.Path("long/directory/directory"), 0), 0u);
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1);
  EXPECT_EQ(totals.fileCount[kTypeC], 2);
  EXPECT_EQ(fileRecords.Count(), 2);
}

TEST_F(WalkTest, UnreadableSubdirectoryIsReportedAndTheWalkGoesOn) {
  AddFiles({"a.c", "locked/b.c", "z/c.c"});
  ASSERT_TRUE(tree.SetMode("", 0755));
  ASSERT_TRUE(tree.SetMode("locked", 0));
  Configure({});
  // Root reads everything, so the walk runs in a child under an unprivileged account.
  int pipeFds[2];
  ASSERT_EQ(pipe(pipeFds), 0);
  const pid_t pid = fork();
  if (pid == 0) {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(100);
    dup2(pipeFds[1], 2);
    currentRoot = tree.Root().c_str();
    // 101: the scratch directory itself is out of the account's reach (TMPDIR).
    if (!WalkDirectory(totals, currentRoot, 0)) _exit(101);
    _exit(static_cast<int>(totals.fileCount[kTypeC]));
  }
  close(pipeFds[1]);
  std::string err;
  char buffer[512];
  for (ssize_t got; (got = read(pipeFds[0], buffer, sizeof buffer)) > 0;) err.append(buffer, got);
  close(pipeFds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 101) GTEST_SKIP() << "the temporary directory is not reachable unprivileged";
  EXPECT_EQ(WEXITSTATUS(status), 2);
  EXPECT_EQ(err, "failed to open dir: " + tree.Path("locked") + ": Permission denied\n");
}

}  // namespace
}  // namespace qm
