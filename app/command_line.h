// Command line: turns the argument vector into the process-wide settings
// (app/settings.h) by looping over the option table (app/option_table.h), and prints
// the usage text and the command-line error lines. This is where the application
// begins: the process entry calls AppMain once, on the main thread; the settings it
// fills are read-only while files are counted.

// Options and inputs mix in any order; every option is matched byte for byte and
// case-sensitively and applies globally; after "--" every argument is an input. Flags
// and single values are overwritten by later occurrences; lists accumulate. Errors are
// printed here on standard error ("invalid argument: %s\n" with the argument as typed,
// control bytes shown as \xNN; "dirname(s) not specified\n"), followed by the usage
// text, and give exit status 2; help prints the usage text on standard output (status
// 0). Nothing throws.
#pragma once

#include <cstdio>

namespace qm {

// Parses the arguments and runs (or, with --languages, prints the language list):
// returns the exit status (the run's, 0 or 1; 0 after help or the banner alone; 2
// after a command-line error, with the usage text on standard error).
int AppMain(int argc, const char* const* argv);

enum class CommandLineOutcome {
  kRun,      // settings filled, the run may start
  kHelp,     // any dashes followed by 'h' or '?' (-h, -?, --help)
  kVersion,  // every argument is -v or --version: the banner alone
  kInvalid,  // an error line was printed on standard error
};

// Fills settings from argv[1] to argv[argc - 1] and tells what to do. An option's value
// that its entry refuses is an error naming the argument (-max= other than ASCII
// digits, a -fe= list of fewer than two items, an empty --stdin= or file name, an
// option that takes the next argument given last); so are two report formats (-csv
// and -json: the later format's argument is named) and no input at all ("dirname(s)
// not specified"). --languages needs no directory argument. Calls FinaliseExclusions
// on kRun.
CommandLineOutcome ReadCommandLine(int argc, const char* const* argv);

// ReadCommandLine(...) == kRun.
bool ParseCommandLine(int argc, const char* const* argv);

// Writes the usage text to stream, each line ending in a newline: the banner, the
// usage line, every listed option of the option table in its order, the exit statuses.
void PrintUsage(FILE* stream);

// Completes the exclusion lists once, at the end of a successful parse: keeps the
// values as typed (excludeDirValues, excludeExtValues), appends the generated-file
// suffixes to excludeExts and lowers and dot-prefixes every entry; an excludeDirs entry
// that opens as a directory now is replaced by its real path (absolute, links
// resolved, a final '/' kept); any other is kept as typed.
void FinaliseExclusions();

}  // namespace qm
