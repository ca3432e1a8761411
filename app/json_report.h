// The -json report: the run's totals as one JSON document (UTF-8, ending with a line
// break) written to a file or, for the name "stdout", to standard output, instead of
// the table; any bytes in names give valid JSON. Built whole from the run's totals on
// the main thread at the end of the run; a failure ends the JSON output, not the run.

// Keys and numbers are the table's: languages in table order (only types whose
// lineCount is not 0), the total row's sums, the anomaly counters, and with -f the
// by-file rows in the table's order; "punctuation" only in conservative mode, "diff"
// (the saved file's name) only with -diff. In names a byte that is not part of valid
// UTF-8 becomes U+FFFD, control characters (C0, DEL and C1) become escapes.
//
// Streams: with "-json stdout" standard output carries the document alone; the banner,
// -la lines, the -sp count and the -le list go to standard error (app/message_output.h).
//
// Failures print on standard error and end the JSON output; the run goes on:
//   "Couldn't create JSON file: %s: REASON", "Couldn't write JSON file: %s: REASON".
#pragma once

#include "app/run_state.h"
#include "core/shared_string.h"

namespace qm {

// Appends text as a JSON string, quotes included (see above for bytes).
void AppendJsonString(SharedString& out, const char* begin, const char* end);

// The document. With -f it also shortens and sorts fileRecords as the table does.
SharedString BuildJsonReport(const CountTotals& totals);

// The report in JSON mode: the document (written as app/csv_writer.h writes a CSV
// file), then the -le listing. False when the document was not written.
bool WriteJsonReport(const CountTotals& totals);

}  // namespace qm
