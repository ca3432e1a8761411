#include "app/report_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
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

// Writes text to the open descriptor, syncs it when it is a regular file (a full disk
// may only show when the data reaches it; devices and pipes cannot be synced, and
// need not be) and closes it. False with reason set when any step failed.
bool WriteSyncClose(int descriptor, const SharedString& text, int& reason) {
  bool isWritten = WriteAllTo(descriptor, text.CStr(), static_cast<size_t>(text.Length()));
  if (isWritten && IsRegularDescriptor(descriptor)) isWritten = fsync(descriptor) == 0;
  reason = errno;
  if (close(descriptor) != 0 && isWritten) {
    isWritten = false;
    reason = errno;
  }
  return isWritten;
}

// The report written into the file itself, as any writer would: created 0666 less
// the umask, or truncated in place; a FIFO is waited for.
bool WriteInPlace(const char* kind, const SharedString& fileName, const SharedString& text,
                  MessageOutput& output) {
  int descriptor;
  do {
    descriptor = open(fileName.CStr(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  } while (descriptor < 0 && errno == EINTR);
  if (descriptor < 0) {
    const int reason = errno;
    output.Error("Couldn't create %s file: %s: %s\n", kind, Shown(fileName).CStr(), std::strerror(reason));
    return false;
  }
  int reason = 0;
  if (WriteSyncClose(descriptor, text, reason)) return true;
  ReportWriteFailure(kind, fileName, reason, output);
  return false;
}

// Whether the name is replaced by renaming a complete file over it: nothing is there
// yet, or a regular file (not a link) with no other name, owned by this user, so that
// renaming changes neither its owner nor what other names see. existing tells which.
bool IsReplaceable(const SharedString& fileName, struct stat& info, bool& isExisting) {
  isExisting = lstat(fileName.CStr(), &info) == 0;
  if (!isExisting) return errno == ENOENT;
  return S_ISREG(info.st_mode) && info.st_nlink == 1 && info.st_uid == geteuid();
}

// Opens a new file beside fileName, named ".quillmet-PID-N.tmp" in its directory,
// created 0666 less the umask as the report itself would be. -1 with errno set when
// none could be made; temporary receives its name.
int CreateTemporary(const SharedString& fileName, SharedString& temporary) {
  const char* const begin = fileName.CStr();
  const char* const lastSlash = std::strrchr(begin, '/');
  for (int attempt = 0; attempt < 100; ++attempt) {
    temporary = lastSlash != nullptr ? SharedString(begin, lastSlash + 1) : SharedString();
    char name[64];
    const int length =
        std::snprintf(name, sizeof name, ".quillmet-%ld-%d.tmp", static_cast<long>(getpid()), attempt);
    temporary.Append(name, length);
    int descriptor;
    do {
      descriptor = open(temporary.CStr(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    } while (descriptor < 0 && errno == EINTR);
    if (descriptor >= 0 || errno != EEXIST) return descriptor;
  }
  return -1;
}

// The directory entry made by a rename reaches the disk with the directory's sync.
void SyncDirectoryOf(const SharedString& fileName) {
  const char* const begin = fileName.CStr();
  const char* const lastSlash = std::strrchr(begin, '/');
  const SharedString directory = lastSlash == nullptr ? SharedString(".")
                                 : lastSlash == begin ? SharedString("/")
                                                      : SharedString(begin, lastSlash);
  const int descriptor = open(directory.CStr(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (descriptor < 0) return;
  fsync(descriptor);
  close(descriptor);
}

}  // namespace

bool WriteReportFile(const char* kind, const SharedString& fileName, const SharedString& text,
                     MessageOutput& output) {
  if (fileName == "stdout") {
    // Nothing else goes to standard output in this mode; what is buffered there (a
    // test harness may have printed) comes first.
    std::fflush(stdout);
    if (WriteAllTo(STDOUT_FILENO, text.CStr(), static_cast<size_t>(text.Length()))) return true;
    ReportWriteFailure(kind, fileName, errno, output);
    return false;
  }
  struct stat existing;
  bool isExisting = false;
  if (!IsReplaceable(fileName, existing, isExisting)) return WriteInPlace(kind, fileName, text, output);
  // The old report stays whole until the new one is complete on disk: a temporary file
  // beside it is written, synced and renamed over it. A directory where no file can be
  // made (its permissions, a read-only mount) gets the report written in place, as
  // before.
  SharedString temporary;
  const int descriptor = CreateTemporary(fileName, temporary);
  if (descriptor < 0) {
    const int reason = errno;
    if (reason == EACCES || reason == EPERM || reason == EROFS || reason == ENAMETOOLONG ||
        reason == EEXIST) {
      return WriteInPlace(kind, fileName, text, output);
    }
    output.Error("Couldn't create %s file: %s: %s\n", kind, Shown(fileName).CStr(), std::strerror(reason));
    return false;
  }
  int reason = 0;
  // A file that exists keeps its permission bits; a new one has 0666 less the umask.
  bool isWritten = !isExisting || fchmod(descriptor, existing.st_mode & 0777) == 0;
  if (!isWritten) {
    reason = errno;
    close(descriptor);
  } else {
    isWritten = WriteSyncClose(descriptor, text, reason);
  }
  if (isWritten && rename(temporary.CStr(), fileName.CStr()) != 0) {
    isWritten = false;
    reason = errno;
  }
  if (!isWritten) {
    unlink(temporary.CStr());
    ReportWriteFailure(kind, fileName, reason, output);
    return false;
  }
  SyncDirectoryOf(fileName);
  return true;
}

bool IsReportOnStandardOutput() {
  const ReportFormat* format = settings.reportFormat;
  return format != nullptr && settings.*format->file == "stdout";
}

IntakeRecording RecordingForReport() {
  const ReportFormat* format = settings.reportFormat;
  IntakeRecording recording;
  recording.keepsFileRecords = settings.byFile || (format != nullptr && format->needsFileRows);
  recording.keepsAnomalyPaths = format != nullptr && format->needsAnomalyPaths;
  return recording;
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
