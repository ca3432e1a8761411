// Exclusions: the run's -xd directory prefixes and -xn directory names, matched here,
// and which -xd, -xn and -xe values excluded something, so that none goes silent. One
// object per run, used by the thread that owns the run (the walk, intake); memory is
// one counter per value.

// -xd is a text prefix of absolute paths: /src/gen excludes /src/gen, what lies below
// it, and a sibling that only shares the text (/src/generated), which is said once per
// such directory ("-xd=VALUE also excludes PATH (a text prefix)"). A value written with
// a final '/' means that directory alone and what lies below it. -xn names a directory
// at any depth, byte for byte, also for the members of archives stored under one. The
// -xe test itself is the file types' (IsExcludedName); intake notes its matches here.
// After the run each value that excluded nothing is said: "-xd=VALUE excluded
// nothing" (or -xn=, -xe=), VALUE as typed.
#pragma once

#include <cstdint>

#include "app/message_output.h"
#include "core/array.h"
#include "core/shared_string.h"

namespace qm {

class Exclusions {
 public:
  // Sized from the settings' lists (complete: after FinaliseExclusions).
  Exclusions();
  Exclusions(const Exclusions&) = delete;
  Exclusions& operator=(const Exclusions&) = delete;

  // Whether the directory at this exact absolute path is excluded by -xd. When a value
  // excludes it only as text, notice is set to the line that says so (else emptied).
  bool IsExcludedDirectory(const SharedString& path, SharedString& notice);

  // Whether a directory of this name is excluded by -xn.
  bool IsExcludedName(const SharedString& name) {
    return IsExcludedName(name.CStr(), name.CStr() + name.Length());
  }
  bool IsExcludedName(const char* begin, const char* end);

  // Whether a path of directories (components separated by '/', as inside an archive)
  // has a component named in -xn.
  bool HasExcludedName(const SharedString& directoryPath);

  // A name that IsExcludedName of the file types excluded: notes the -xe values it ends with.
  void NoteExcludedSuffix(const SharedString& preparedName);

  // The "excluded nothing" lines, on standard error.
  void ReportUnused(MessageOutput& output) const;

 private:
  Array<int64_t> directoryHits_;  // per settings.excludeDirs entry
  Array<int64_t> nameHits_;       // per settings.excludeNames entry
  Array<int64_t> suffixHits_;     // per settings.excludeExtValues entry
};

}  // namespace qm
