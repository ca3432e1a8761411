// The CSV report (-csv): the report model's language rows and total row as CSV text,
// the format a later run reads back with -diff (app/diff_csv.h). A pure function of
// the model; any thread.

// Lines end in LF alone, fields are separated by ',', numbers are plain decimal. The
// header is "Type,Files,Blank,Comment,Punctuation,Code" (greedy layout: without
// ",Punctuation"); then one row per language row of the model, in its order: name,
// files, blank, comment, (punctuation), code; then "Total," and the total row. The
// file holds the language rows even with -f. A name holding ',', '"', CR or LF is
// quoted, with its '"' doubled.
#pragma once

#include "app/report_model.h"
#include "app/report_writer.h"
#include "core/shared_string.h"

namespace qm {

// Appends text as one CSV field: as it is, or quoted when it holds ',', '"', CR or LF.
void AppendCsvField(SharedString& out, const char* text);

SharedString RenderCsv(const ReportModel& model);

extern const ReportFormat kCsvReport;

}  // namespace qm
