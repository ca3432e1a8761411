// WalkDirectory: visits one directory argument and everything below it, depth first,
// each directory's entries in the byte order of their names, and hands every entry
// that is neither a directory nor a symbolic link to file intake. Memory stays bounded
// however deep the tree and one directory is open at a time; failures are reported in
// order through intake and the walk goes on. Runs on the thread that owns the run.

// Entries handed on: regular files, FIFOs, sockets, devices, entries of unreported
// type, each with the kind the directory read gave it. Subdirectories named ".git" are
// skipped, and so, with -nr, are all subdirectories; a directory that -xd or -xn
// excludes (app/exclusions.h) is skipped with everything below it. Symbolic links
// inside the tree are never followed.
//
// Order: the entries of a directory are read whole, sorted by name byte by byte, and
// taken in that order, a subdirectory's files before the entries after it: so which of
// two equal files is counted and the order of -la lines are the same on every file
// system, and the same as for a revision of a repository (app/revision_walk.h).
//
// Paths: a subdirectory's path is its parent's absolute path, '/', and its name as the
// directory read gave it. A name that path normalisation would alter (a backslash,
// trailing white space) cannot be opened exactly; such a directory is reported as not
// opened rather than walked under a different path.
//
// Depth and resources: the walk keeps an explicit stack, not the call stack, so
// thousands of levels cost no stack, and each level holds the names of its directory's
// entries (its listing is closed once they are read), so a deep tree needs one
// descriptor at a time. Subdirectories that cannot be opened are "failed to open dir:
// PATH: REASON\n" on standard error, after the files found before them; the walk goes
// on. The directory the walk starts from is opened by its exact text; when that fails
// nothing is printed (the caller names the argument). An ignore file that -gi refuses
// (app/ignore_rules.h) is "ignoring PATH: too large or too complex\n" on standard
// error, in order, and counts as an error.
#pragma once

#include <cstdint>

#include "app/exclusions.h"
#include "app/file_intake.h"
#include "core/shared_string.h"

namespace qm {

// Walks the directory at path (its real path, or as given) starting at depth (0 for
// a directory argument), handing its files to intake; display paths start at path.
// Returns true when the directory could be opened (also when it was excluded), false
// with errno set otherwise.
bool WalkDirectory(FileIntake& intake, Exclusions& exclusions, const SharedString& path, uint32_t depth);

}  // namespace qm
