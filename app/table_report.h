// The table report: the report model as the fixed-width text a run prints on standard
// output: the anomaly summary, a table with one row per language (or per file with -f)
// and a total row, and the list of extensions met (-le). A pure function of the model;
// any thread.

// Layout. Conservative mode has five number columns of width 11 (Files, Blank,
// Comment, Punctuation, Code), greedy mode four of width 14 (no Punctuation). The name
// cell is padded to N bytes plus one space (a longer name pushes its row right): N is
// 19 for the language table, and for the by-file table at least 31 (conservative) or
// 34 (greedy), widened to the longest path as shown (control bytes escaped as \xNN).
// Each number cell but the last is followed by one space, so a full language row is 79
// characters in both modes; the by-file table has no Files column. Rules are n + 60
// dashes, n being N for the language table and N - 12 or N - 15 (conservative,
// greedy) for the by-file table. Numbers are grouped by three with an apostrophe
// unless the model says plain; every value is printed as it is, negative ones too.
//
// Anomaly lines come before the first rule, each only when its count is not 0:
// errors, too big (the limit in megabytes, rounded up), duplicates, empty, UTF-16 LE,
// UTF-16 BE.
#pragma once

#include <cstdint>

#include "app/report_model.h"
#include "core/shared_string.h"

namespace qm {

// Appends value in width columns, right-aligned, digits grouped by three with an
// apostrophe ("1'234'567", "-1'234"); a wider text is not cut. No trailing space.
void PrintNumber(SharedString& out, int32_t width, int64_t value);

// Appends n + 60 '-' and a newline; n below 1 counts as 0.
void PrintRule(SharedString& out, int32_t n);

// The anomaly lines.
void PrintAnomalies(SharedString& out, const ReportModel& model);

// The -le list: "\nFound N unique extensions:\n" and one line per extension, shown
// with control bytes escaped. Also printed after a CSV or JSON report.
void PrintExtensions(SharedString& out, const ReportModel& model);

// The whole table report.
SharedString RenderTable(const ReportModel& model);

}  // namespace qm
