// Sets up a run for tests that drive the walk or intake directly: fresh settings from
// "quillmet <options> <root>" as the command line would parse them, the character
// classes of conservative mode, the extension map and zeroed totals; and an intake on
// one thread with its output and progress, as the run driver makes one.
#pragma once

#include <string>
#include <vector>

#include "app/file_intake.h"
#include "app/message_output.h"
#include "app/progress_display.h"
#include "app/report_writer.h"
#include "app/run_state.h"

namespace qm::test {

// Returns whether the options parsed.
bool ConfigureRun(const std::vector<std::string>& options, const std::string& root, CountTotals& totals);

// An intake into totals, started with workerCount workers.
struct TestIntake {
  explicit TestIntake(CountTotals& totals, int32_t workerCount = 0)
      : intake(totals, output, progress, exclusions, RecordingForReport()) {
    intake.Start(workerCount);
  }
  MessageOutput output;
  ProgressDisplay progress{false};
  Exclusions exclusions;
  FileIntake intake;
};

// Takes the named files of directory in order into totals (one thread) and returns
// what went to standard output.
std::string TakeFiles(CountTotals& totals, const std::string& directory,
                      const std::vector<std::string>& names);

}  // namespace qm::test
