#include "tests/support/run_settings.h"

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

}  // namespace qm::test
