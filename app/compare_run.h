// CompareSides (-cmp OLD NEW, -git=OLD..NEW DIR): what became of every line between two
// counted versions of a tree, by language and kind, into the report model's compare
// report. Runs on the thread that owns the run, with its own workers for the pairs.

// Pairing. A file's key is its path below its side's root: for a directory or a
// revision the walked directory; for an archive the archive itself, and when every
// member lies under one top directory that directory (so "lua-5.3.0/src/lvm.c" and
// "lua-5.4.0/src/lvm.c" pair). Files of equal keys pair; the others are added or
// removed whole, except that a removed and an added file with the same text pair as
// moved and count as same: taken in key order, each added file with the removed one of
// the smallest key that holds its text and is not taken yet.
//
// Lines. A pair of equal texts (or of equal revision content ids) is same without a
// diff. Any other pair is compared line by line with a minimal diff (app/line_diff.h;
// lines with their breaks, compared byte for byte); in each run of changes the first
// min(removed, added) lines are modified, the rest removed or added. A removed line has
// its kind in OLD, every other line its kind in NEW, each classified by its own file's
// type; removed lines count for OLD's language, the others for NEW's.
//
// Work and memory. Pairs are compared on the workers in batches, each into its own
// result, so the report is the same at any -j. A file from disk or of a revision is
// read again when its pair is compared (a pair of equal revision content ids is not
// read at all); only what cannot be read again, the members of an archive side, is held
// (the records hold their texts). A worker holds the two texts of its pair, their kinds
// and their line lists; moves read the removed files and the added ones of a removed
// one's size on this thread. A pair of more than 4 Mi lines together is compared by
// its common start and end alone (the rest replaced), so a worker's diff holds at most
// about 300 MB.
#pragma once

#include <cstdint>

#include "app/report_model.h"
#include "app/run_state.h"
#include "core/array.h"
#include "core/shared_string.h"

namespace qm {

// One counted side: its file records (with texts) and where its paths start.
struct CompareSide {
  Array<FileRecord> records;
  SharedString root;        // a directory or revision: the walked directory's path
  SharedString archive;     // an archive: its name as intake shows it (the argument)
  SharedString archiveTop;  // the one top directory of all its members, or empty
};

// Fills model.compare (languages in table order: most code lines in NEW first, then
// most removed code lines, then the smaller type id; only languages with any line;
// the files by key) and sets model.isCompare. The sides' records are used up.
void CompareSides(int32_t workerCount, CompareSide& oldSide, CompareSide& newSide, ReportModel& model);

// The key of every record of a side, in record order (the rule above).
Array<SharedString> CompareKeys(const CompareSide& side);

}  // namespace qm
