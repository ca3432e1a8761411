#include "tests/support/run_settings.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "app/command_line.h"
#include "app/file_types.h"
#include "app/settings.h"
#include "count/classify_text.h"

namespace qm::test {

bool ConfigureRun(const std::vector<std::string>& options, const std::string& root, CountTotals& totals) {
  ClearSettings();
  ClearRunState();
  std::vector<const char*> argv{"quillmet"};
  for (const std::string& option : options) argv.push_back(option.c_str());
  argv.push_back(root.c_str());
  if (!ParseCommandLine(static_cast<int>(argv.size()), argv.data())) return false;
  BuildCharClassTable(true);
  BuildExtensionMap();
  ResetTotals(totals);
  return true;
}

std::string TakeFiles(CountTotals& totals, const std::string& directory,
                      const std::vector<std::string>& names) {
  testing::internal::CaptureStdout();
  {
    TestIntake run(totals);
    const SharedString root(directory.c_str());
    for (const std::string& name : names) {
      run.intake.TakeDiskFile(root, root, SharedString(name.data(), name.data() + name.size()));
    }
    run.intake.Finish();
  }
  std::fflush(stdout);
  return testing::internal::GetCapturedStdout();
}

}  // namespace qm::test
