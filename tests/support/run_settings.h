// Sets up a run for tests that drive the walk or intake directly: fresh settings from
// "quillmet <options> <root>" as the command line would parse them, the character
// classes of conservative mode, the extension map and zeroed totals. Returns whether
// the options parsed.
#pragma once

#include <string>
#include <vector>

#include "app/run_state.h"

namespace qm::test {

bool ConfigureRun(const std::vector<std::string>& options, const std::string& root, CountTotals& totals);

}  // namespace qm::test
