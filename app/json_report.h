// The -json report: the run's totals as one JSON document (UTF-8, ending with a line
// break) written to a file or, for the name "stdout", to standard output, instead of
// the table. Keys and numbers are the table's: languages in table order (only types
// whose lineCount is not 0), the total row's sums, the anomaly counters, and with -f
// the by-file rows in the table's order; "punctuation" only in conservative mode,
// "diff" (the saved file's name) only with -diff. Any bytes can be written: in names a
// byte that is not part of valid UTF-8 becomes U+FFFD, control characters (C0, DEL
// and C1) become escapes.
//
// Streams: with "-json stdout" standard output carries the document alone. The run
// driver calls RouteMessagesForJson first, which keeps the real standard output for
// the document and sends everything else printed on standard output (banner, -la,
// -sp, -le) to standard error, line by line in program order.
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

// With "-json stdout": moves standard output's descriptor aside for the document and
// points descriptor 1 at standard error, line-buffered. Does nothing otherwise.
// Call once, before anything is printed.
void RouteMessagesForJson();

// The report in JSON mode: the -sp count, the document, then the -le listing.
void WriteJsonReport(const CountTotals& totals);

}  // namespace qm
