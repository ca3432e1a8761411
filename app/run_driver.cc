#include "app/run_driver.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "app/archive_bridge.h"
#include "app/diff_csv.h"
#include "app/directory_walk.h"
#include "app/file_intake.h"
#include "app/file_types.h"
#include "app/json_report.h"
#include "app/message_output.h"
#include "app/run_state.h"
#include "app/settings.h"
#include "app/summary_report.h"
#include "core/directory_listing.h"
#include "core/file.h"
#include "core/path.h"
#include "core/standard_streams.h"
#include "count/classify_text.h"

namespace qm {
namespace {

constexpr uint32_t kReadShare = 7;

// Progress display state: when and at which count the line was last printed.
uint32_t lastPrintMs = 0;
int64_t lastPrintCount = 0;

// "cannot open NAME: REASON" for an argument that cannot be used: one error in the
// report and a failed run. An empty argument is shown as ''.
void ReportUnopenedArgument(CountTotals& totals, const SharedString& argument, const char* reason) {
  PrintError("cannot open %s: %s\n", argument.IsEmpty() ? "''" : Shown(argument).CStr(), reason);
  ++totals.errorCount;
  NoteRunFailure();
}

// A file argument or standard input: offered to archive scanning under its lowered
// name (whatever -sa says; an archive is named by shownName in its messages), then
// counted as one file named by the bytes after its last '/'.
void CountStream(CountTotals& totals, const SharedString& argument, const SharedString& directory,
                 const SharedString& shownName, Stream& stream) {
  SharedString lowered = argument;
  lowered.ToLower();
  // -xe holds for archives too: an excluded one is not opened.
  if (!IsExcludedName(lowered) && ScanArchive(lowered, shownName, totals, stream, true)) return;
  const char* text = argument.CStr();
  const char* slash = text + argument.Length();
  while (slash != text && slash[-1] != '/') --slash;
  currentRoot = directory;
  FileIntakeInDirectory(totals, directory, SharedString(slash, text + argument.Length()), &stream);
}

void CountFileArgument(CountTotals& totals, const SharedString& argument) {
  File file;
  if (!file.Open(argument, kFileRead, kReadShare)) {
    ReportUnopenedArgument(totals, argument, std::strerror(errno));
    return;
  }
  if (!file.IsRegularFile()) {
    ReportUnopenedArgument(totals, argument, "not a regular file");
    return;
  }
  // The file's directory is the real path of the text before its last '/'.
  const char* text = argument.CStr();
  const char* slash = text + argument.Length();
  while (slash != text && slash[-1] != '/') --slash;
  SharedString parent = slash == text       ? SharedString(".")
                        : slash == text + 1 ? SharedString("/")
                                            : SharedString(text, slash - 1);
  SharedString directory;
  if (!RealPath(parent, directory)) directory = parent;
  CountStream(totals, argument, directory, argument, file);
}

void CountDirectoryArgument(CountTotals& totals, const SharedString& argument) {
  SharedString root;
  if (!RealPath(argument, root) || root.Length() >= PATH_MAX) {
    // No real path the system can open (one past PATH_MAX, as under a working
    // directory that deep): the directory is walked by the argument's own text.
    root = argument;
  }
  currentRoot = root;
  const bool isWalked = WalkDirectory(totals, root, 0);
  const int reason = errno;
  FinishPendingFiles();
  if (!isWalked) ReportUnopenedArgument(totals, argument, std::strerror(reason));
}

// Threads to count with: -j n, else one per online CPU (at most the -j limit).
int32_t JobCount() {
  if (settings.jobs > 0) return settings.jobs;
  const long online = sysconf(_SC_NPROCESSORS_ONLN);
  return online < 1 ? 1 : online > kMaxJobs ? kMaxJobs : static_cast<int32_t>(online);
}

// Opens the argument exactly as typed, without waiting on it: a directory is walked, a
// regular file counted, anything else refused unread.
void CountArgument(CountTotals& totals, const SharedString& argument) {
  const int descriptor = open(argument.CStr(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (descriptor < 0) {
    const int reason = errno;
    // A socket cannot be opened at all; like a FIFO or a device it is no regular file.
    struct stat info;
    const bool isSpecial =
        stat(argument.CStr(), &info) == 0 && !S_ISDIR(info.st_mode) && !S_ISREG(info.st_mode);
    ReportUnopenedArgument(totals, argument, isSpecial ? "not a regular file" : std::strerror(reason));
    return;
  }
  struct stat info;
  const bool isKnown = fstat(descriptor, &info) == 0;
  const int statErrno = errno;
  close(descriptor);
  if (!isKnown) {
    ReportUnopenedArgument(totals, argument, std::strerror(statErrno));
  } else if (S_ISDIR(info.st_mode)) {
    CountDirectoryArgument(totals, argument);
  } else if (S_ISREG(info.st_mode)) {
    CountFileArgument(totals, argument);
  } else {
    ReportUnopenedArgument(totals, argument, "not a regular file");
  }
}

// Punctuation counted as code, for a -diff file saved in the other mode: the lines
// were classified in the saved file's mode and both sides are compared as greedy.
void FoldPunctuationIntoCode(CountTotals& totals) {
  for (FileTypeId type = 0; type < kTypeSlots; ++type) {
    totals.codeLines[type] += totals.punctLines[type];
    totals.punctLines[type] = 0;
  }
  for (FileRecord& record : fileRecords) {
    record.code += record.punctuation;
    record.punctuation = 0;
  }
}

}  // namespace

int RunCount() {
  if (settings.showVersion) PrintInfo("Quillmet v1.9\n");
  BuildExtensionMap();
  CountTotals totals;
  ResetTotals(totals);
  bool isFoldingPunctuation = false;
  if (!settings.diffFile.IsEmpty()) {
    DiffLayout savedLayout = DiffLayout::kUnknown;
    if (!LoadDiffCsv(settings.diffFile, totals, savedLayout)) NoteRunFailure();
    if (savedLayout != DiffLayout::kUnknown &&
        (savedLayout == DiffLayout::kConservative) != settings.conservative) {
      settings.conservative = savedLayout == DiffLayout::kConservative;
      isFoldingPunctuation = true;
    }
  }
  BuildCharClassTable(settings.conservative);
  StartParallelIntake(JobCount());
  if (!settings.stdinName.IsEmpty()) {
    CountStream(totals, settings.stdinName, SharedString(), settings.stdinName, StandardInput());
  }
  for (const SharedString& argument : settings.dirArgs) CountArgument(totals, argument);
  StopParallelIntake();
  if (isFoldingPunctuation) {
    FoldPunctuationIntoCode(totals);
    settings.conservative = false;
  }
  PrintSummary(totals);
  FinishStandardOutput();
  ResetTotals(totals);
  return HasRunFailed() ? kStatusRunFailed : kStatusSuccess;
}

void ProgressTick() {
  ++progressCount;
  timeval now;
  gettimeofday(&now, nullptr);
  const uint32_t nowMs = static_cast<uint32_t>(static_cast<uint64_t>(now.tv_sec) * 1000 + now.tv_usec / 1000);
  if (progressCount == 1) {
    lastPrintMs = nowMs;
    lastPrintCount = 1;
  }
  if (nowMs - lastPrintMs > 999 && progressCount != lastPrintCount) {
    lastPrintMs = nowMs;
    lastPrintCount = progressCount;
    std::fprintf(stderr, "%ld total files\r", static_cast<long>(progressCount));
  }
}

}  // namespace qm
