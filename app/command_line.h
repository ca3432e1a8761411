// Command line: turns the argument vector into the process-wide settings
// (app/settings.h) and prints the usage text and the command-line error lines. This is
// where the application begins: the process entry calls AppMain once.
//
// Options and directory arguments mix in any order; every option is matched byte for
// byte and case-sensitively, in a fixed order, and applies globally. Flags and single
// values are overwritten by later occurrences; lists accumulate. Errors are printed
// here ("invalid argument: %s\n", "dirname(s) not specified\n" on standard error) and
// reported as false; nothing throws. The exit status is always 0.
#pragma once

#include "core/shared_string.h"

namespace qm {

// Parses the arguments; on failure prints the usage text and returns 0; with
// --languages prints the language list and returns 0; else returns the result of
// RunCount (also 0).
int AppMain(int argc, const char* const* argv);

// Fills settings from argv[1] to argv[argc - 1]. True when the run may start. Prints
// its own error lines before returning false; -h, -?, --help (any dashes followed by
// 'h' or '?') return false without one. Calls FinaliseExclusions on success.
// --languages needs no directory argument.
// -max=n takes a decimal n (leading white space and one sign allowed, no digits gives
// 0): a negative n is an invalid argument, an n above kMaxFileSizeMegabytes is clamped
// to it, and the limit is n megabytes of 1048576 bytes.
bool ParseCommandLine(int argc, const char* const* argv);

// Writes the usage text to standard output, each line ending in a newline.
void PrintUsage();

// Takes one whole -fe= or --force-ext= argument: the value after its first '=' is cut
// at ',' (empty pieces dropped) and taken in pairs (reference, forced); an odd last
// piece is ignored. Both get a leading '.' and are lowered; a later pair with the same
// reference extension replaces the forced extension of an earlier one.
void AddForcedExtensions(const SharedString& argument);

// Completes the exclusion lists once, at the end of a successful parse: appends the
// generated-file suffixes to excludeExts and lowers and dot-prefixes every entry;
// normalises every excludeDirs entry and, when it names a directory now, replaces it
// by that directory's absolute path (symbolic links followed).
void FinaliseExclusions();

}  // namespace qm
