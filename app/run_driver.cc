#include "app/run_driver.h"

#include <sys/stat.h>
#include <sys/time.h>

#include <cstdint>
#include <cstdio>

#include "app/archive_bridge.h"
#include "app/diff_csv.h"
#include "app/directory_walk.h"
#include "app/file_intake.h"
#include "app/file_types.h"
#include "app/json_report.h"
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

constexpr uint32_t kListingOptions = DirectoryListing::kListParent;
constexpr uint32_t kReadShare = 7;

// Progress display state: when and at which count the line was last printed.
uint32_t lastPrintMs = 0;
int64_t lastPrintCount = 0;

bool IsRegularFile(const File& file) {
  struct stat info;
  return file.IsOpen() && fstat(file.Descriptor(), &info) == 0 && S_ISREG(info.st_mode);
}

// A single file argument, or standard input when input is given. Only a regular file
// is read: a FIFO, socket or device named on the command line is counted as not
// opened, so the run never waits on it.
void CountSingleFile(CountTotals& totals, const SharedString& argument, File& file, Stream* input) {
  const bool isOpened = input != nullptr || IsRegularFile(file);
  Stream& stream = input != nullptr ? *input : file;
  if (isOpened) {
    SharedString lowered = argument;
    lowered.ToLower();
    if (ScanArchive(lowered, totals, stream)) return;
  }
  // The directory part is normalised as any path; the file name stays exactly as
  // typed, so a name with a backslash or surrounding spaces is shown and recorded as it is.
  const char* text = argument.CStr();
  const char* slash = text + argument.Length();
  while (slash != text && slash[-1] != '/') --slash;
  const SharedString name(slash, text + argument.Length());
  // "/x.c" keeps the root "/" as its directory; "x.c" has the working directory ("").
  const char* parentEnd = slash == text ? text : slash == text + 1 ? slash : slash - 1;
  SharedString parent(text, parentEnd);
  NormalizePath(parent);
  rootAsGiven = parent;
  DirectoryListing listing;
  listing.Open(parent, kListingOptions);
  currentRoot = listing.AbsolutePath();
  if (!isOpened) {
    if (settings.listAnomalies) {
      std::printf("couldn't open file: %s\n", name.CStr());
    }
    ++totals.errorCount;
    return;
  }
  FileIntake(totals, listing, name, &stream, nullptr);
}

void CountArgument(CountTotals& totals, const SharedString& argument, bool isStdinMode) {
  currentRoot = argument;
  rootAsGiven = argument;
  if (isStdinMode) {
    File unused;
    CountSingleFile(totals, argument, unused, &StandardInput());
    return;
  }
  {
    DirectoryListing probe;
    if (probe.Open(argument, kListingOptions)) {
      currentRoot = probe.AbsolutePath();
      probe.Close();
      WalkDirectory(totals, currentRoot, 0);
      return;
    }
  }
  File file;
  if (file.Open(argument, kFileRead, kReadShare)) {
    CountSingleFile(totals, argument, file, nullptr);
    return;
  }
  // Neither a directory nor a readable file: the walk reports it.
  WalkDirectory(totals, argument, 0);
}

}  // namespace

int RunCount() {
  RouteMessagesForJson();
  BuildCharClassTable(settings.conservative);
  if (settings.showVersion) std::fputs("Quillmet v1.9\n", stdout);
  BuildExtensionMap();
  CountTotals totals;
  ResetTotals(totals);
  if (!settings.diffFile.IsEmpty()) LoadDiffCsv(settings.diffFile, totals);
  const bool isStdinMode = !settings.stdinName.IsEmpty();
  if (isStdinMode) {
    settings.dirArgs.Clear();
    settings.dirArgs.PushBack(settings.stdinName);
  }
  for (const SharedString& argument : settings.dirArgs) {
    CountArgument(totals, argument, isStdinMode);
  }
  PrintSummary(totals);
  ResetTotals(totals);
  return 0;
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
    std::printf("%ld total files\r", static_cast<long>(progressCount));
    std::fflush(stdout);
  }
}

}  // namespace qm
