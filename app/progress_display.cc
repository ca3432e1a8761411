#include "app/progress_display.h"

#include <sys/time.h>

#include <cinttypes>
#include <cstdio>

#include "app/message_output.h"

namespace qm {

namespace {

uint32_t NowMs() {
  timeval now;
  gettimeofday(&now, nullptr);
  return static_cast<uint32_t>(static_cast<uint64_t>(now.tv_sec) * 1000 + now.tv_usec / 1000);
}

}  // namespace

void ProgressDisplay::Tick() {
  if (!isShown_) return;
  ++progressCount_;
  const uint32_t nowMs = NowMs();
  if (progressCount_ == 1) {
    lastPrintMs_ = nowMs;
    lastPrintCount_ = 1;
  }
  if (nowMs - lastPrintMs_ > 999 && progressCount_ != lastPrintCount_) {
    lastPrintMs_ = nowMs;
    lastPrintCount_ = progressCount_;
    Print();
  }
}

void ProgressDisplay::Print() {
  char text[96];
  int length = std::snprintf(text, sizeof text, "%" PRId64 " files, %" PRId64 " MB counted", progressCount_,
                             countedBytes_ >> 20);
  SharedString line(text, text + length);
  if (stepCount_ > 0) {
    length = std::snprintf(text, sizeof text, "; %s %d of %d", stepName_,
                           stepsDone_ + 1 > stepCount_ ? stepCount_ : stepsDone_ + 1, stepCount_);
    line.Append(text, length);
  }
  if (archiveStream_ != nullptr) {
    const int64_t position = archiveStream_->Tell();
    if (position >= 0 && archiveSize_ > 0) {
      line.Append("; ");
      line.Append(Shown(archiveName_));
      length = std::snprintf(text, sizeof text, " %" PRId64 "%%", position * 100 / archiveSize_);
      line.Append(text, length);
    }
  }
  const int32_t shownLength = line.Length();
  for (int32_t pad = shownLength; pad < lastLineLength_; ++pad) line.Append(" ", 1);
  lastLineLength_ = shownLength;
  line.Append("\r", 1);
  std::fputs(line.CStr(), stderr);
}

void ProgressDisplay::BeginArchive(const SharedString& name, Stream& stream) {
  if (!isShown_ || archiveDepth_++ > 0) return;
  if ((stream.Flags() & kStreamPositioned) == 0) return;
  const int64_t size = stream.Size();
  if (size <= 0) return;
  archiveName_ = name;
  archiveStream_ = &stream;
  archiveSize_ = size;
}

void ProgressDisplay::EndArchive() {
  if (!isShown_ || --archiveDepth_ > 0) return;
  archiveName_.Clear();
  archiveStream_ = nullptr;
  archiveSize_ = 0;
}

void ProgressDisplay::Finish() const {
  if (isShown_) std::fprintf(stderr, "%" PRId64 " total files\n", progressCount_);
}

}  // namespace qm
