// The Markdown report (-md): the report model as GitHub-flavoured Markdown tables for
// pull requests and documents: the language rows and total, with -f the file rows,
// with -diff the saved and current code per language. Numbers plain (no grouping;
// negative after -diff); names escaped as app/report_text.h says, so any bytes give
// valid text that no cell, link, mention or markup can break out of. A pure function
// of the model; any thread.

// In order, a blank line between: with -diff, "Current minus saved in NAME."; the
// table "| Language | Files | Blank | Comment | Punctuation | Code |" (no Punctuation
// column in the greedy layout) with the language rows and "Total" last; with -diff,
// "| Language | Saved files | Current files | Saved code | Current code | Change in
// code |" and its total; with -f, "| File | Language | Blank | ... |" with the file
// rows in order (an archive member as its archive, '/' and path).
#pragma once

#include "app/report_model.h"
#include "app/report_writer.h"
#include "core/shared_string.h"

namespace qm {

SharedString RenderMarkdown(const ReportModel& model);

extern const ReportFormat kMarkdownReport;

}  // namespace qm
