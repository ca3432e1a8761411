// CountHistory (--history=N): counts the directory arguments at N points spread evenly
// along the first-parent history of their repository, from its first commit to -git's
// revision (HEAD when not given), both included, oldest first; each point counted as
// -git counts one revision, into totals of its own. Runs on the thread that owns the
// run, with intake's workers for each point.

// What was learnt of a file's content (its lines, digest, UTF-16 form) is kept by
// content id and type across points (app/file_intake.h, ContentFactsCache), so a file
// that did not change between two points is read and classified once: the cost grows
// with the distinct content of the history, not with points times tree size. Which
// files are duplicates, empty and so on is still decided at each point, exactly as for
// one revision. Memory: the facts cache (bounded), one point's totals, and libgit2's
// object cache, which keeps the trees met; the list of first-parent commits (a few
// dozen bytes each).
//
// The arguments must be directories in one repository, the first argument's: another
// is "cannot open NAME: REASON" and left out. A point where an argument's directory
// did not exist yet counts nothing for it.
#pragma once

#include <cstdint>

#include "app/exclusions.h"
#include "app/message_output.h"
#include "app/progress_display.h"
#include "app/report_model.h"

namespace qm {

// Fills model.history (and sets model.isHistory). False, with the message printed and
// the run failed, when nothing could be counted (no repository, an unknown revision).
bool CountHistory(int32_t workerCount, MessageOutput& output, ProgressDisplay& progress,
                  Exclusions& exclusions, ReportModel& model);

// The indices of `wanted` points spread evenly over count commits, both ends included,
// oldest first, each once (all of them when wanted >= count).
Array<int32_t> HistoryPointIndices(int32_t count, int32_t wanted);

}  // namespace qm
