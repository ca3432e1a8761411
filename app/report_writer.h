// The report writer: puts a run's report model where the command line asked: the
// table on standard output, or one report format (CSV, JSON, ...) written whole to a
// file or, for the name "stdout", to standard output; then the -le list. Runs once, at
// the end of the run, on the thread that owns it. Failures print and mark the run
// failed; they never end it early.

// A report format is a renderer of the model and the settings field its option fills
// (app/option_table.h holds one entry per format; adding a format is a renderer and
// that entry). A name that is nothing yet or a regular file of this user with no other
// name is replaced whole: the report is written to ".quillmet-PID-N.tmp" beside it,
// synced and renamed over it, so a full disk never leaves the old report (a saved CSV
// kept for -diff) lost or a new one cut short; an existing file keeps its permission
// bits, a new one has 0666 less the umask. Anything else (a link, a device such as
// /dev/null, a FIFO, a directory where no file can be made) is written in place as any
// writer would (a FIFO is waited for). Every write, the sync and the close are
// checked:
//   "Couldn't create KIND file: NAME: REASON"  the file could not be opened (left untouched);
//   "Couldn't write KIND file: NAME: REASON"   a write, the sync, the close or the rename failed.
#pragma once

#include "app/message_output.h"
#include "app/report_model.h"
#include "app/settings.h"
#include "core/shared_string.h"

namespace qm {

struct ReportFormat {
  const char* kind;  // in messages: "CSV", "JSON"
  SharedString (*render)(const ReportModel&);
  SharedString Settings::*file;    // the file its option names
  bool needsFileRows = false;      // the file rows also without -f (a page's treemap)
  bool needsAnomalyPaths = false;  // the paths of the anomalies (a page's lists)
};

// Whether the report goes to standard output instead of the table ("-csv stdout").
bool IsReportOnStandardOutput();

// What intake must record for the report the settings ask for: file records with -f
// or for a format that needs file rows, anomaly paths for one that needs them.
IntakeRecording RecordingForReport();

// The report of the run: with settings.reportFormat that format (and the -le list on
// the info stream), else the table on standard output. False when a report file could
// not be written (already reported).
bool WriteRunReport(const ReportModel& model, MessageOutput& output);

// Writes a whole report text to standard output for "stdout", else to the named file,
// as above; kind names the format in the messages. False when it was not written.
bool WriteReportFile(const char* kind, const SharedString& fileName, const SharedString& text,
                     MessageOutput& output);

}  // namespace qm
