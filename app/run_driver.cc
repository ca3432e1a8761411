#include "app/run_driver.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

#include "app/compare_run.h"
#include "app/diff_csv.h"
#include "app/directory_walk.h"
#include "app/exclusions.h"
#include "app/file_intake.h"
#include "app/file_types.h"
#include "app/history_run.h"
#include "app/message_output.h"
#include "app/option_table.h"
#include "app/ordered_pipeline.h"
#include "app/progress_display.h"
#include "app/report_model.h"
#include "app/report_writer.h"
#include "app/revision_walk.h"
#include "app/run_state.h"
#include "app/settings.h"
#include "core/file.h"
#include "core/path.h"
#include "core/standard_streams.h"
#include "count/classify_text.h"

namespace qm {
namespace {

constexpr uint32_t kReadShare = 7;

// A repository opened for -git, and its blobs as intake reads them.
struct RevisionSource {
  GitRepository repository;
  RevisionContent content{repository};
};
using RevisionSources = Array<std::unique_ptr<RevisionSource>>;

// "cannot open NAME: REASON" for an argument that cannot be used, after everything
// counted before it: one error in the report and a failed run. An empty argument is
// shown as ''.
void ReportUnopenedArgument(FileIntake& intake, const SharedString& argument, const char* reason) {
  SharedString line("cannot open ");
  line.Append(argument.IsEmpty() ? SharedString("''") : Shown(argument));
  line.Append(": ");
  line.Append(reason);
  line.Append("\n", 1);
  intake.TakeNotice(line, true, true);
}

void CountFileArgument(FileIntake& intake, const SharedString& argument) {
  File file;
  if (!file.Open(argument, kFileRead, kReadShare)) {
    ReportUnopenedArgument(intake, argument, std::strerror(errno));
    return;
  }
  if (!file.IsRegularFile()) {
    ReportUnopenedArgument(intake, argument, "not a regular file");
    return;
  }
  // The file's directory is the real path of the text before its last '/'.
  const char* text = argument.CStr();
  const char* slash = text + argument.Length();
  while (slash != text && slash[-1] != '/') --slash;
  SharedString parent = slash == text       ? SharedString(".")
                        : slash == text + 1 ? SharedString("/")
                                            : SharedString(text, slash - 1);
  // A real path the system cannot open (under a working directory past the path
  // limit): the directory as given, relative to the working directory.
  SharedString directory;
  if (!RealPath(parent, directory) || directory.Length() >= PATH_MAX) directory = parent;
  intake.TakeStream(argument, directory, argument, file);
}

void CountDirectoryArgument(FileIntake& intake, Exclusions& exclusions, const SharedString& argument) {
  SharedString root;
  if (!RealPath(argument, root) || root.Length() >= PATH_MAX) {
    // No real path the system can open (one past PATH_MAX, as under a working
    // directory that deep): the directory is walked by the argument's own text.
    root = argument;
  }
  if (!WalkDirectory(intake, exclusions, root, 0))
    ReportUnopenedArgument(intake, argument, std::strerror(errno));
}

// The address space the process may still take (under ulimit -v, or -d, which counts
// mappings too), or -1 when it is not limited.
int64_t AddressSpaceLeft() {
  int64_t limitBytes = -1;
  for (const int resource : {RLIMIT_AS, RLIMIT_DATA}) {
    rlimit limit;
    if (getrlimit(resource, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) continue;
    const int64_t bytes = static_cast<int64_t>(limit.rlim_cur);
    if (limitBytes < 0 || bytes < limitBytes) limitBytes = bytes;
  }
  if (limitBytes < 0) return -1;
  // What the process holds already: the program, its libraries, its heap.
  long pages = 0;
  if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(statm, "%ld", &pages) != 1) pages = 0;
    std::fclose(statm);
  }
  const int64_t used = static_cast<int64_t>(pages) * sysconf(_SC_PAGESIZE);
  return limitBytes > used ? limitBytes - used : 0;
}

// Worker threads to count with: -j n, else one per online CPU (at most the -j limit);
// one thread needs no workers. Under an address-space limit the workers' stacks and
// what each may hold at once (the largest file and its UTF-8 form) take at most half
// of what is left, so that more threads never leave a file less room than one thread
// has; a tight limit counts on one thread.
int32_t WorkerCount() {
  int32_t jobs = settings.jobs;
  if (jobs <= 0) {
    const long online = sysconf(_SC_NPROCESSORS_ONLN);
    jobs = online < 1 ? 1 : online > kMaxJobs ? kMaxJobs : static_cast<int32_t>(online);
  }
  const int64_t left = AddressSpaceLeft();
  if (left >= 0) {
    const int64_t perWorker = static_cast<int64_t>(OrderedPipeline::kWorkerStackBytes) +
                              3 * std::max(settings.maxFileSize, kMegabyte);
    jobs = static_cast<int32_t>(std::min<int64_t>(jobs, left / 2 / perWorker));
  }
  return jobs < 2 ? 0 : jobs;
}

// With -git=REV: a directory argument is read at that revision of the repository that
// holds it; the repositories stay open until the intake's run is over.
void CountRevisionArgument(FileIntake& intake, Exclusions& exclusions, RevisionSources& sources,
                           const SharedString& argument, const char* revision,
                           SharedString* walkedRoot = nullptr) {
  sources.PushBack(std::make_unique<RevisionSource>());
  RevisionSource& source = *sources.Back();
  SharedString reason;
  if (!WalkRevision(intake, exclusions, source.repository, source.content, argument, revision, reason,
                    walkedRoot)) {
    ReportUnopenedArgument(intake, argument, reason.CStr());
  }
}

// Opens the argument exactly as typed, without waiting on it: a directory is walked (at
// -git's revision, if given), a regular file counted, anything else refused unread.
void CountArgument(FileIntake& intake, Exclusions& exclusions, RevisionSources& sources,
                   const SharedString& argument) {
  const int descriptor = open(argument.CStr(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (descriptor < 0) {
    const int reason = errno;
    // A socket cannot be opened at all; like a FIFO or a device it is no regular file.
    struct stat info;
    const bool isSpecial =
        stat(argument.CStr(), &info) == 0 && !S_ISDIR(info.st_mode) && !S_ISREG(info.st_mode);
    ReportUnopenedArgument(intake, argument, isSpecial ? "not a regular file" : std::strerror(reason));
    return;
  }
  struct stat info;
  const bool isKnown = fstat(descriptor, &info) == 0;
  const int statErrno = errno;
  close(descriptor);
  if (!isKnown) {
    ReportUnopenedArgument(intake, argument, std::strerror(statErrno));
  } else if (S_ISDIR(info.st_mode)) {
    if (settings.gitRevision.IsEmpty()) {
      CountDirectoryArgument(intake, exclusions, argument);
    } else {
      CountRevisionArgument(intake, exclusions, sources, argument, settings.gitRevision.CStr());
    }
  } else if (S_ISREG(info.st_mode)) {
    CountFileArgument(intake, argument);
  } else {
    ReportUnopenedArgument(intake, argument, "not a regular file");
  }
}

// On a terminal, a word after the report for the files of types no language claims:
// how many, and the options that say more.
void ReportUnknownTypes(const CountTotals& totals, MessageOutput& output) {
  const int64_t count = totals.fileCount[kTypeUnknown];
  if (count <= 0 || isatty(STDERR_FILENO) == 0) return;
  if (settings.allLanguages) {
    output.Error("%" PRId64 " files of other types not counted; -le lists the extensions met\n", count);
  } else {
    output.Error("%" PRId64
                 " files of other types not counted; -al counts %d languages, -le lists the extensions met\n",
                 count, kTypeInvalid - 1);
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

// A compare: each side counted on its own, every path with its text, then compared.
// For two revisions a content counted on the old side is not read again. A side that
// could not be read whole (not opened, a damaged archive) would show its files as
// removed or added: false, after its message, and nothing is compared.
bool CountCompare(MessageOutput& output, ProgressDisplay& progress, Exclusions& exclusions,
                  ReportModel& model) {
  const bool isRevisions = !settings.gitRevision.IsEmpty();
  ContentFactsCache cache;
  RevisionSources sources;  // the compare reads their contents again
  CompareSide sides[2];
  for (int32_t side = 0; side < 2; ++side) {
    const SharedString& argument = isRevisions ? settings.dirArgs[0] : settings.dirArgs[side];
    CountTotals totals;
    ResetTotals(totals);
    progress.SetStep(side, 2, "side");
    {
      FileIntake intake(totals, output, progress, exclusions, IntakeRecording{true, false, true});
      if (isRevisions) intake.SetFactsCache(&cache);
      intake.Start(WorkerCount());
      struct stat info;
      if (isRevisions) {
        CountRevisionArgument(intake, exclusions, sources, argument,
                              (side == 0 ? settings.compareOld : settings.compareNew).CStr(),
                              &sides[side].root);
      } else if (stat(argument.CStr(), &info) == 0 && S_ISDIR(info.st_mode)) {
        if (!RealPath(argument, sides[side].root) || sides[side].root.Length() >= PATH_MAX) {
          sides[side].root = argument;
        }
        CountArgument(intake, exclusions, sources, argument);
      } else {
        sides[side].archive = argument;
        intake.WatchArchiveTop(argument);
        CountArgument(intake, exclusions, sources, argument);
        // The members are offered on this thread as the archive is read.
        sides[side].archiveTop = intake.ArchiveTop();
      }
      intake.Finish();
    }
    sides[side].records = std::move(fileRecords);
    fileRecords.Clear();
    if (output.HasRunFailed()) return false;
    AnomalyCounts& anomalies = model.anomalies;
    anomalies.errors += totals.errorCount;
    anomalies.tooBig += totals.tooBigCount;
    anomalies.empty += totals.emptyCount;
    anomalies.utf16Le += totals.utf16LeCount;
    anomalies.utf16Be += totals.utf16BeCount;
  }
  CompareSides(WorkerCount(), sides[0], sides[1], model);
  return true;
}

}  // namespace

int RunCount() {
  MessageOutput output(IsReportOnStandardOutput());
  if (settings.showVersion) output.Info("%s\n", kVersionBanner);
  BuildExtensionMap();
  CountTotals totals;
  ResetTotals(totals);
  // The mode lines are classified in: the settings', unless the -diff file was saved
  // in the other one.
  bool isConservative = settings.conservative;
  bool isFoldingPunctuation = false;
  // With -diff, the saved side for the reports that show it next to the current one.
  SavedCounts saved;
  const bool isDiff = !settings.diffFile.IsEmpty();
  if (isDiff) {
    DiffLayout savedLayout = DiffLayout::kUnknown;
    if (!LoadDiffCsv(settings.diffFile, totals, savedLayout, output)) output.NoteRunFailure();
    KeepSavedCounts(totals, saved);
    if (savedLayout != DiffLayout::kUnknown && (savedLayout == DiffLayout::kConservative) != isConservative) {
      isConservative = savedLayout == DiffLayout::kConservative;
      isFoldingPunctuation = true;
    }
  }
  BuildCharClassTable(isConservative);
  ProgressDisplay progress(settings.showProgress);
  Exclusions exclusions;
  if (settings.compare) {
    ReportModel model = BuildReportModel(totals, isConservative);
    const bool isCompared = CountCompare(output, progress, exclusions, model);
    progress.Finish();
    if (isCompared && !WriteRunReport(model, output)) output.NoteRunFailure();
    exclusions.ReportUnused(output);
    output.FinishStandardOutput();
    return output.ExitStatus();
  }
  if (settings.historyPoints > 0) {
    ReportModel model = BuildReportModel(totals, isConservative);
    if (CountHistory(WorkerCount(), output, progress, exclusions, model)) {
      progress.Finish();
      if (!WriteRunReport(model, output)) output.NoteRunFailure();
    }
    exclusions.ReportUnused(output);
    output.FinishStandardOutput();
    return output.ExitStatus();
  }
  {
    RevisionSources sources;  // outlive the intake, whose workers read them
    FileIntake intake(totals, output, progress, exclusions, RecordingForReport());
    intake.Start(WorkerCount());
    if (!settings.stdinName.IsEmpty()) {
      intake.TakeStream(settings.stdinName, SharedString(), settings.stdinName, StandardInput());
    }
    for (const SharedString& argument : settings.dirArgs)
      CountArgument(intake, exclusions, sources, argument);
    intake.Finish();
  }
  if (isFoldingPunctuation) {
    FoldPunctuationIntoCode(totals);
    isConservative = false;
  }
  progress.Finish();
  if (!WriteRunReport(BuildReportModel(totals, isConservative, isDiff ? &saved : nullptr), output)) {
    output.NoteRunFailure();
  }
  exclusions.ReportUnused(output);
  ReportUnknownTypes(totals, output);
  output.FinishStandardOutput();
  ResetTotals(totals);
  return output.ExitStatus();
}

}  // namespace qm
