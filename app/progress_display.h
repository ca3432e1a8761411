// ProgressDisplay (-sp): one line on standard error, rewritten about once a second,
// with the files of a known type met so far, the megabytes counted and, while an
// archive of known size is read, how far into it the run is; and the final count once
// the run is over. Belongs to the run; used by the thread that owns the run.

// The line ("1234 files, 56 MB counted", "; point 3 of 10" in a history and "; NAME
// 37%" inside an archive, ending in
// '\r', padded to cover a longer line before it) is rewritten when more than 999 ms have
// passed since the last print and something changed since: never on the first file.
// The final line is "N total files" with the count of files of a known type met.
#pragma once

#include <cstdint>

#include "core/shared_string.h"
#include "core/stream.h"

namespace qm {

class ProgressDisplay {
 public:
  explicit ProgressDisplay(bool isShown) : isShown_(isShown) {}
  ProgressDisplay(const ProgressDisplay&) = delete;
  ProgressDisplay& operator=(const ProgressDisplay&) = delete;

  // One more file of a known type (nothing when not shown).
  void Tick();
  // Bytes of a file counted.
  void AddCountedBytes(int64_t bytes) { countedBytes_ += bytes; }
  // An archive begins or ends. The outermost one, read from stream, is shown with how
  // far into it the run is when the stream knows its position and size. The stream
  // must stay open until EndArchive.
  void BeginArchive(const SharedString& name, Stream& stream);
  void EndArchive();
  // A run in steps (the points of a history, the sides of a compare): done of count
  // are over; the line names them by `what` ("point").
  void SetStep(int32_t done, int32_t count, const char* what = "point") {
    stepsDone_ = done;
    stepCount_ = count;
    stepName_ = what;
  }
  // "%ld total files\n" with the final count, when shown.
  void Finish() const;
  int64_t Count() const { return progressCount_; }

 private:
  void Print();

  bool isShown_;
  int64_t progressCount_ = 0;
  int64_t countedBytes_ = 0;
  uint32_t lastPrintMs_ = 0;  // wall-clock milliseconds, truncated to 32 bits
  int64_t lastPrintCount_ = 0;
  int32_t lastLineLength_ = 0;
  int32_t archiveDepth_ = 0;
  int32_t stepsDone_ = 0;
  int32_t stepCount_ = 0;
  const char* stepName_ = "point";
  SharedString archiveName_;  // the outermost archive being read, when its size is known
  Stream* archiveStream_ = nullptr;
  int64_t archiveSize_ = 0;
};

}  // namespace qm
