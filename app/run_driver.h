// The run driver: one counting run over the settings the command line filled: the
// banner, the -diff file, every argument counted in command-line order into one totals,
// then the report. It owns the run's state (totals, intake, progress, messages) for the
// run and nothing past it; the thread that calls it owns the run (intake's workers
// come and go within it).

// RunCount prints the banner with -v, builds the extension map, loads the -diff CSV
// into fresh totals (a file saved in the other mode switches the run's classification
// to that mode, punctuation folded into code at the end), then counts standard input
// (--stdin=) and every argument in command-line order into those same totals. Each
// argument is opened exactly as typed, without waiting on it: a directory is walked
// from its real path, a regular file is offered to archive scanning under its lowered
// name and otherwise counted as one file, anything else is "cannot open NAME: REASON".
// Finally the report model is built and written. No argument's failure stops the run;
// it makes the exit status 1.
//
// Start here to read the program: app/command_line.h parses, this file drives,
// app/directory_walk.h and app/file_intake.h find and count files, app/report_model.h
// and its renderers report.
#pragma once

namespace qm {

// The run. Returns 0, or 1 when something named on the command line (an argument, the
// -diff file, the report file) or standard output could not be used.
int RunCount();

}  // namespace qm
