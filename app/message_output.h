// Where the run's lines go, how names are shown in them, and the exit status they add
// up to: the report to standard output, the banner, -la lines and -le list to the info
// stream, errors to standard error after standard output is flushed. A MessageOutput
// belongs to the run (AppMain makes one) and is used by the thread that owns the run.

// The info stream is standard error when the report (CSV, JSON) goes to standard
// output; flushing first keeps program order on a terminal. Shown() writes bytes
// 0x00-0x1F and 0x7F of a name as "\x" and two hex digits. A failed write to standard
// output does not stop the run: FinishStandardOutput reports it once at the end.
#pragma once

#include <cstddef>
#include <cstdio>

#include "core/shared_string.h"

namespace qm {

// Exit statuses of the tool.
inline constexpr int kStatusSuccess = 0;
inline constexpr int kStatusRunFailed = 1;     // report produced, a named input or output unusable
inline constexpr int kStatusInvalidUsage = 2;  // command-line error, nothing counted

// Appends bytes with every control byte (0x00-0x1F, 0x7F) as "\x" and two lower-case
// hex digits; all other bytes as they are.
void AppendShown(SharedString& out, const char* bytes, int32_t length);
SharedString Shown(const SharedString& text);
SharedString Shown(const char* text);

// Not copyable: one per run.
class MessageOutput {
 public:
  // isReportOnStandardOutput: a CSV or JSON report goes to standard output, so the
  // info stream is standard error.
  explicit MessageOutput(bool isReportOnStandardOutput = false)
      : info_(isReportOnStandardOutput ? stderr : stdout) {}
  MessageOutput(const MessageOutput&) = delete;
  MessageOutput& operator=(const MessageOutput&) = delete;

  FILE* InfoStream() const { return info_; }

  // printf to the info stream. Names in the arguments must already be Shown().
  [[gnu::format(printf, 2, 3)]] void Info(const char* format, ...);

  // Flushes standard output, then printf to standard error.
  [[gnu::format(printf, 2, 3)]] void Error(const char* format, ...);

  // Writes report bytes to standard output (buffered).
  void WriteReport(const char* bytes, size_t length);

  // The run will end with status 1.
  void NoteRunFailure() { isRunFailed_ = true; }
  bool HasRunFailed() const { return isRunFailed_; }

  // Flushes standard output. When any write to it failed (a full disk, a closed
  // descriptor), prints "cannot write the report: REASON" on standard error and notes a
  // run failure. Call once, at the end of the run.
  void FinishStandardOutput();

  // The exit status: kStatusRunFailed after a noted failure, else kStatusSuccess.
  int ExitStatus() const { return isRunFailed_ ? kStatusRunFailed : kStatusSuccess; }

 private:
  void NoteStandardOutputResult(bool isWritten);

  FILE* info_;
  bool isRunFailed_ = false;
  int reportWriteErrno_ = 0;  // of the first failed write to standard output; 0 while none failed
};

}  // namespace qm
