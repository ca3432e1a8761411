// The seam between file intake and archive scanning: ScanArchive counts the members of
// a tar, compressed tar or zip through FileIntake and turns the scan's reports into
// messages and counters. The caller's thread; the stream stays the caller's.

// IsArchiveName (from
// archive/archive_scan.h) tells from a prepared name (ASCII-lowered by the caller;
// intake also trims it) whether it names a tar, compressed tar or zip archive by its
// ending, byte for byte. ScanArchive here counts the regular members of
// such an archive through FileIntake, each with its own stream and size; it is given
// the prepared name, the totals and an open, readable stream that stays the caller's.
// Both never print except ScanArchive's archive failure lines on standard error.
#pragma once

#include "app/run_state.h"
#include "archive/archive_scan.h"  // IsArchiveName
#include "core/shared_string.h"
#include "core/stream.h"

namespace qm {

// False, doing nothing, when preparedName is not an archive name. True for every
// archive name, whether or not the archive could be read (failures are counted in
// totals.errorCount, and fail the run when isArgument: an archive named on the command
// line or read from standard input). shownName names the archive in its messages;
// while it is scanned it is currentArchive, the name an archive inside it is shown under.
bool ScanArchive(const SharedString& preparedName, const SharedString& shownName, CountTotals& totals,
                 Stream& stream, bool isArgument = false);

}  // namespace qm
