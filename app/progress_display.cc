#include "app/progress_display.h"

#include <sys/time.h>

#include <cinttypes>
#include <cstdio>

namespace qm {

void ProgressDisplay::Tick() {
  if (!isShown_) return;
  ++progressCount_;
  timeval now;
  gettimeofday(&now, nullptr);
  const uint32_t nowMs = static_cast<uint32_t>(static_cast<uint64_t>(now.tv_sec) * 1000 + now.tv_usec / 1000);
  if (progressCount_ == 1) {
    lastPrintMs_ = nowMs;
    lastPrintCount_ = 1;
  }
  if (nowMs - lastPrintMs_ > 999 && progressCount_ != lastPrintCount_) {
    lastPrintMs_ = nowMs;
    lastPrintCount_ = progressCount_;
    std::fprintf(stderr, "%" PRId64 " total files\r", progressCount_);
  }
}

void ProgressDisplay::Finish() const {
  if (isShown_) std::fprintf(stderr, "%" PRId64 " total files\n", progressCount_);
}

}  // namespace qm
