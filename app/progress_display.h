// ProgressDisplay (-sp): the running count of files of a known type, rewritten on
// standard error as "%ld total files\r" about once a second, and the final count once
// the run is over. Belongs to the run; used by the thread that owns the run.

// The line is rewritten when more than 999 ms have passed since the last print and the
// count changed since: never on the first file, never twice for one count.
#pragma once

#include <cstdint>

namespace qm {

class ProgressDisplay {
 public:
  explicit ProgressDisplay(bool isShown) : isShown_(isShown) {}
  ProgressDisplay(const ProgressDisplay&) = delete;
  ProgressDisplay& operator=(const ProgressDisplay&) = delete;

  // One more file of a known type (nothing when not shown).
  void Tick();
  // "%ld total files\n" with the final count, when shown.
  void Finish() const;
  int64_t Count() const { return progressCount_; }

 private:
  bool isShown_;
  int64_t progressCount_ = 0;
  uint32_t lastPrintMs_ = 0;  // wall-clock milliseconds, truncated to 32 bits
  int64_t lastPrintCount_ = 0;
};

}  // namespace qm
