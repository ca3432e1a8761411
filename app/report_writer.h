// The report writer: puts a run's report model where the command line asked: the
// table on standard output, or one report format (CSV, JSON, ...) written whole to a
// file or, for the name "stdout", to standard output; then the -le list. Runs once, at
// the end of the run, on the thread that owns it. Failures print and mark the run
// failed; they never end it early.

// A report format is a renderer of the model and the settings field its option fills
// (app/option_table.h holds one entry per format; adding a format is a renderer and
// that entry). The file is created with mode 0666 less the umask, or truncated (an
// existing file is overwritten; a FIFO is waited for); every write is checked, and for
// a regular file so are the final sync and close, so a full disk never leaves a
// half-written file without a message:
//   "Couldn't create KIND file: NAME: REASON"  the file could not be opened (left untouched);
//   "Couldn't write KIND file: NAME: REASON"   a write, the sync or the close failed.
#pragma once

#include "app/message_output.h"
#include "app/report_model.h"
#include "app/settings.h"
#include "core/shared_string.h"

namespace qm {

struct ReportFormat {
  const char* kind;  // in messages: "CSV", "JSON"
  SharedString (*render)(const ReportModel&);
  SharedString Settings::*file;  // the file its option names
};

// Whether the report goes to standard output instead of the table ("-csv stdout").
bool IsReportOnStandardOutput();

// The report of the run: with settings.reportFormat that format (and the -le list on
// the info stream), else the table on standard output. False when a report file could
// not be written (already reported).
bool WriteRunReport(const ReportModel& model, MessageOutput& output);

// Writes a whole report text to standard output for "stdout", else to the named file,
// as above; kind names the format in the messages. False when it was not written.
bool WriteReportFile(const char* kind, const SharedString& fileName, const SharedString& text,
                     MessageOutput& output);

}  // namespace qm
