// The -diff reader: loads the totals CSV of an earlier run (as app/csv_report.h writes
// it) into a freshly reset CountTotals by subtracting its numbers, so that counting
// afterwards leaves current-minus-saved in every counter the report shows. Memory is
// fixed whatever the input; the caller owns the totals. Run on the main thread before
// counting starts; only LoadDiffCsv prints (to standard error).

// The parser and reader classes are in app/diff_csv_internal.h. Numbers: an optional
// '+' or '-', then decimal digits up to the first other byte; anything else, or
// nothing, is 0. Values beyond 64 bits saturate at INT64_MIN and INT64_MAX. A
// counter becomes the exact sum of the rows' values (whatever their order), held
// within +-kDiffCounterLimit, so that counting on top of a loaded diff and the
// report's sums can never overflow.
#pragma once

#include <cstdint>

#include "app/message_output.h"
#include "app/run_state.h"
#include "core/shared_string.h"

namespace qm {

// lineCount of a type named in the saved file, so that the report lists the type
// whatever is counted later (2^62 - 1). Also the bound of every diffed counter.
inline constexpr int64_t kDiffLineMarker = 4611686018427387903;
inline constexpr int64_t kDiffCounterLimit = kDiffLineMarker;

// The most bytes read from a -diff file; a longer one is refused (no saved CSV comes
// near it, and /dev/zero would otherwise be read for ever).
inline constexpr int64_t kMaxDiffCsvBytes = int64_t{64} << 20;

// The mode a -diff file was saved in, told by its header.
enum class DiffLayout { kUnknown, kConservative, kGreedy };

// Applies a whole CSV text held in memory; returns false when the header is not one
// of the two the CSV writer writes or a row had the wrong field count.
bool ApplyDiffCsv(const uint8_t* next, const uint8_t* end, CountTotals& totals);

// Loads the -diff file into the totals (called once, right after ResetTotals, before
// anything is counted) and tells the mode it was saved in. The file is opened
// blocking, so a FIFO is waited for. A file that cannot be opened or read prints
// "Failed to open diff CSV: %s: REASON\n"; a wrong header, a row with the wrong field
// count or more than kMaxDiffCsvBytes bytes print "Failed to parse diff CSV: %s\n"
// (both on standard error, the name's control bytes shown as \xNN). Returns false
// after either; the rows applied before a failure stay applied.
bool LoadDiffCsv(const SharedString& fileName, CountTotals& totals, DiffLayout& layout,
                 MessageOutput& output);

}  // namespace qm
