// The run driver: one counting run over the settings that the command line filled.
// RunCount sets the classification mode, prints the banner with -v, builds the
// extension map, loads the -diff CSV into fresh totals, then counts every directory
// argument in command-line order into those same totals: a directory is walked, a
// single readable file (or standard input with --stdin=) is offered to archive
// scanning under its lowered name and otherwise counted as one file. Finally the
// report is printed. No argument's failure stops the run; the result is always 0.
//
// Start here to read the program: app/command_line.h parses, this file drives,
// app/directory_walk.h and app/file_intake.h find and count files.
#pragma once

namespace qm {

// The run. Returns 0.
int RunCount();

// One step of the progress display (-sp): counts the file in progressCount and
// rewrites "%ld total files\r" on standard output when more than 999 ms have passed
// since the last print and the count has changed since; never on the first file.
void ProgressTick();

}  // namespace qm
