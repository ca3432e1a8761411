// The JSON report (-json): the report model as one JSON document (UTF-8, ending with a
// line break); any bytes in names give valid JSON. A pure function of the model; any
// thread.

// Keys come in a fixed order: "mode" ("conservative" or "greedy"), "diff" (the saved
// file's name, only with -diff), "languages" (the language rows in order), "total",
// "anomalies" (errors, tooBig, duplicates, empty, utf16 of both byte orders) and, with
// -f, "files" (the file rows in order, an archive member's with "archive", the archive
// as -la lines show it); "punctuation" only in the conservative layout.
// In names a byte that is not part of valid UTF-8 becomes U+FFFD, control characters
// (C0, DEL and C1) become escapes.
#pragma once

#include "app/report_model.h"
#include "app/report_writer.h"
#include "core/shared_string.h"

namespace qm {

// Appends text as a JSON string, quotes included (see above for bytes).
void AppendJsonString(SharedString& out, const char* begin, const char* end);

SharedString RenderJson(const ReportModel& model);

extern const ReportFormat kJsonReport;

}  // namespace qm
