// The run driver: one counting run over the settings the command line filled: the
// banner, the -diff file, every argument counted in command-line order into one totals,
// then the report. It owns nothing past the run; one thread (it starts and stops the
// intake workers).

// RunCount prints the banner with -v, builds the extension map, loads the -diff CSV
// into fresh totals (a file saved in the other mode switches the run to that mode,
// punctuation folded into code at the end), sets the classification mode, then counts
// standard input (--stdin=) and every argument in command-line order into those same
// totals. Each argument is opened exactly as typed, without waiting on it: a
// directory is walked from its real path, a regular file is offered to archive
// scanning under its lowered name and otherwise counted as one file, anything else is
// "cannot open NAME: REASON". Finally the report is printed. No argument's failure
// stops the run; it makes the exit status 1.
//
// Start here to read the program: app/command_line.h parses, this file drives,
// app/directory_walk.h and app/file_intake.h find and count files.
#pragma once

namespace qm {

// The run. Returns 0, or 1 when something named on the command line (an argument, the
// -diff file, the CSV file) or standard output could not be used.
int RunCount();

// One step of the progress display (-sp): counts the file in progressCount and
// rewrites "%ld total files\r" on standard error when more than 999 ms have passed
// since the last print and the count has changed since; never on the first file.
void ProgressTick();

}  // namespace qm
