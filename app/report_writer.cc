#include "app/report_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "app/table_report.h"
#include "core/file.h"

namespace qm {

namespace {

void ReportWriteFailure(const char* kind, const SharedString& fileName, int reason, MessageOutput& output) {
  output.Error("Couldn't write %s file: %s: %s\n", kind, Shown(fileName).CStr(), std::strerror(reason));
}

// Writes all of text to descriptor; false with errno set when a write fails.
bool WriteAllTo(int descriptor, const char* text, size_t length) {
  while (length > 0) {
    const ssize_t written = write(descriptor, text, length);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    text += written;
    length -= static_cast<size_t>(written);
  }
  return true;
}

}  // namespace

bool WriteReportFile(const char* kind, const SharedString& fileName, const SharedString& text,
                     MessageOutput& output) {
  const size_t length = static_cast<size_t>(text.Length());
  if (fileName == "stdout") {
    // Nothing else goes to standard output in this mode; what is buffered there (a
    // test harness may have printed) comes first.
    std::fflush(stdout);
    if (WriteAllTo(STDOUT_FILENO, text.CStr(), length)) return true;
    ReportWriteFailure(kind, fileName, errno, output);
    return false;
  }
  // A FIFO named here (process substitution) is waited for, as any writer would.
  int descriptor;
  do {
    descriptor = open(fileName.CStr(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  } while (descriptor < 0 && errno == EINTR);
  if (descriptor < 0) {
    const int reason = errno;
    output.Error("Couldn't create %s file: %s: %s\n", kind, Shown(fileName).CStr(), std::strerror(reason));
    return false;
  }
  bool isWritten = WriteAllTo(descriptor, text.CStr(), length);
  // A full disk may only show when the data reaches it; devices and pipes cannot be
  // synced, and need not be.
  if (isWritten && IsRegularDescriptor(descriptor)) isWritten = fsync(descriptor) == 0;
  int reason = errno;
  if (close(descriptor) != 0 && isWritten) {
    isWritten = false;
    reason = errno;
  }
  if (!isWritten) ReportWriteFailure(kind, fileName, reason, output);
  return isWritten;
}

bool IsReportOnStandardOutput() {
  const ReportFormat* format = settings.reportFormat;
  return format != nullptr && settings.*format->file == "stdout";
}

bool WriteRunReport(const ReportModel& model, MessageOutput& output) {
  const ReportFormat* format = settings.reportFormat;
  if (format == nullptr) {
    const SharedString report = RenderTable(model);
    output.WriteReport(report.CStr(), static_cast<size_t>(report.Length()));
    return true;
  }
  const bool isWritten = WriteReportFile(format->kind, settings.*format->file, format->render(model), output);
  if (model.listsExtensions) {
    SharedString listing;
    PrintExtensions(listing, model);
    output.Info("%s", listing.CStr());
  }
  return isWritten;
}

}  // namespace qm
