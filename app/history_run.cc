#include "app/history_run.h"

#include <ctime>

#include "app/file_intake.h"
#include "app/revision_walk.h"
#include "app/run_state.h"
#include "app/settings.h"
#include "core/path.h"

namespace qm {

namespace {

// One directory argument: its path below the repository's top, and the path its
// checkout has.
struct HistoryArgument {
  SharedString subPath;
  SharedString root;
};

SharedString DateOf(int64_t seconds) {
  const time_t time = static_cast<time_t>(seconds);
  tm parts;
  char text[32];
  if (gmtime_r(&time, &parts) == nullptr || std::strftime(text, sizeof text, "%Y-%m-%d", &parts) == 0) {
    return SharedString("?");
  }
  return SharedString(text);
}

void ReportUnopened(MessageOutput& output, const SharedString& argument, const SharedString& reason) {
  output.Error("cannot open %s: %s\n", argument.IsEmpty() ? "''" : Shown(argument).CStr(),
               Shown(reason).CStr());
  output.NoteRunFailure();
}

}  // namespace

Array<int32_t> HistoryPointIndices(int32_t count, int32_t wanted) {
  Array<int32_t> indices;
  if (count <= 0 || wanted <= 0) return indices;
  if (wanted >= count) {
    for (int32_t i = 0; i < count; ++i) indices.PushBack(i);
    return indices;
  }
  if (wanted == 1) {
    indices.PushBack(count - 1);
    return indices;
  }
  for (int32_t i = 0; i < wanted; ++i) {
    // Rounded to the nearest commit; with wanted < count the indices never repeat.
    const int32_t index =
        static_cast<int32_t>((int64_t{i} * (count - 1) * 2 + (wanted - 1)) / (int64_t{wanted - 1} * 2));
    if (indices.IsEmpty() || indices.Back() != index) indices.PushBack(index);
  }
  return indices;
}

bool CountHistory(int32_t workerCount, MessageOutput& output, ProgressDisplay& progress,
                  Exclusions& exclusions, ReportModel& model) {
  model.isHistory = true;
  const char* revision = settings.gitRevision.IsEmpty() ? "HEAD" : settings.gitRevision.CStr();
  GitRepository repository;
  RevisionContent content(repository);
  Array<HistoryArgument> arguments;
  SharedString reason;
  for (int32_t i = 0; i < settings.dirArgs.Count(); ++i) {
    const SharedString& argument = settings.dirArgs[i];
    HistoryArgument taken;
    if (i == 0) {
      if (!repository.Open(argument, taken.subPath, reason)) {
        ReportUnopened(output, argument, reason);
        return false;
      }
    } else {
      // Another argument must lie in the same work tree.
      GitRepository other;
      if (!other.Open(argument, taken.subPath, reason)) {
        ReportUnopened(output, argument, reason);
        continue;
      }
      if (!(other.Workdir() == repository.Workdir())) {
        ReportUnopened(output, argument, "not in the repository of the history");
        continue;
      }
    }
    taken.root = repository.Workdir();
    if (!taken.subPath.IsEmpty()) AppendPathComponent(taken.root, taken.subPath);
    arguments.PushBack(std::move(taken));
  }
  Array<GitCommitPoint> commits;
  if (arguments.IsEmpty() || !repository.FirstParentHistory(revision, commits, reason)) {
    if (!arguments.IsEmpty()) ReportUnopened(output, settings.dirArgs[0], reason);
    return false;
  }
  const Array<int32_t> indices = HistoryPointIndices(commits.Count(), settings.historyPoints);
  ContentFactsCache cache;
  RevisionWalkMemo memo;
  for (int32_t step = 0; step < indices.Count(); ++step) {
    const GitCommitPoint& point = commits[indices[step]];
    const SharedString commitHex = GitHex(point.commit);
    CountTotals totals;
    ResetTotals(totals);
    {
      FileIntake intake(totals, output, progress, exclusions, IntakeRecording{});
      intake.SetFactsCache(&cache);
      intake.Start(workerCount);
      for (const HistoryArgument& argument : arguments) {
        GitObjectId tree;
        // A directory that did not exist yet at this point has nothing to count.
        if (!repository.FindTree(commitHex.CStr(), argument.subPath, tree, reason)) continue;
        WalkTree(intake, exclusions, repository, content, argument.root, tree, &memo);
      }
      intake.Finish();
      memo.NextPoint();
    }
    model.history.PushBack(BuildHistoryPoint(totals, commitHex, DateOf(point.time)));
    fileRecords.Clear();
    progress.SetStep(step + 1, indices.Count());
  }
  return true;
}

}  // namespace qm
