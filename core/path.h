// Path text operations on plain SharedString values with '/' as the only separator.
// Only CurrentDirectory and RealPath touch the file system; the text operations never
// fail, and a path that needs no rewriting is not copied (its block stays shared).
// Stateless: any thread may call them; results belong to the caller.
#pragma once

#include "core/shared_string.h"

namespace qm {

// Rewrites path in place, in this order:
//  1. every '\' becomes '/';
//  2. "/./" becomes "/", repeatedly;
//  3. a leading "./" is dropped;
//  4. runs of '/' collapse: the first run keeps at most two slashes (so
//     "//server//share" stays a network name), every later run becomes one;
//  5. until nothing changes: trim whitespace (bytes 8-11, 13, 32), drop a pair of
//     matching enclosing quotes (' or "), drop one trailing '/' (a lone "/" stays);
//  6. "component/../" is removed, repeatedly; ".." and "." components are never
//     consumed, so "../../x" stays and "a/../../x" becomes "../x";
//  7. trailing "/." is removed, repeatedly;
//  8. a trailing "component/.." is removed, keeping the slash before the component
//     ("a/b/.." gives "a/", "b/.." gives "").
void NormalizePath(SharedString& path);

// a joined with b, normalised. An empty a gives the normalised b; an empty
// (normalised) b gives a unchanged. A '/' is put between unless a ends with one or
// b starts with one; a b starting with '/' is appended, not taken as absolute.
SharedString JoinPath(const SharedString& a, const SharedString& b);

// Appends name to path in path's own block, with a '/' between unless path is empty
// or already ends with one. Nothing is normalised: the name stays byte for byte, so
// a path built from a directory read opens exactly that entry.
void AppendPathComponent(SharedString& path, const char* name, int32_t length);
inline void AppendPathComponent(SharedString& path, const SharedString& name) {
  AppendPathComponent(path, name.CStr(), name.Length());
}

// path rewritten relative to base (which is normalised first): the common leading
// components are dropped and one "../" is put in front per remaining component of
// base; the result is normalised. "/a/b/c.txt" against "/a" gives "b/c.txt",
// against "/a/d" gives "../b/c.txt".
SharedString MakeRelative(const SharedString& path, const SharedString& base);

// The working directory, normalised; the empty string when it cannot be read
// (or is longer than 8191 bytes).
SharedString CurrentDirectory();

// The real path of path (realpath(3): absolute, every link and ".." resolved by the
// system, the text itself never rewritten). False, with errno set, when it cannot be
// resolved (missing, too long); realPath is then unchanged.
bool RealPath(const SharedString& path, SharedString& realPath);

}  // namespace qm
