// What the walk does on trees is held by the end-to-end cases (tests/cases/cli/walk,
// tests/cases/cli/hostile); a directory that only root could read needs a child
// process that gives up root's rights, so it is tested here.
#include "app/directory_walk.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "app/settings.h"
#include "tests/support/run_settings.h"
#include "tests/support/temp_tree.h"

namespace qm {
namespace {

TEST(WalkDirectory, UnreadableSubdirectoryIsReportedAndTheWalkGoesOn) {
  test::TempTree tree;
  CountTotals totals;
  for (const char* path : {"a.c", "locked/b.c", "z/c.c"}) ASSERT_TRUE(tree.WriteFile(path, path));
  ASSERT_TRUE(tree.SetMode("", 0755));
  ASSERT_TRUE(tree.SetMode("locked", 0));
  ASSERT_TRUE(test::ConfigureRun({}, tree.Root(), totals));
  // Root reads everything, so the walk runs in a child under an unprivileged account.
  int pipeFds[2];
  ASSERT_EQ(pipe(pipeFds), 0);
  const pid_t pid = fork();
  if (pid == 0) {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(100);
    dup2(pipeFds[1], 2);
    test::TestIntake run(totals);
    // 101: the scratch directory itself is out of the account's reach (TMPDIR).
    if (!WalkDirectory(run.intake, run.exclusions, tree.Root().c_str(), 0)) _exit(101);
    run.intake.Finish();
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
