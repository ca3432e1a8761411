#include "app/directory_walk.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <utility>

#include "app/exclusions.h"
#include "app/ignore_rules.h"
#include "app/message_output.h"
#include "app/settings.h"
#include "core/array.h"
#include "core/directory_listing.h"
#include "core/path.h"
#include "core/stable_sort.h"

namespace qm {
namespace {

// Every listing of the walk also returns ".."; it is skipped with ".".
constexpr uint32_t kWalkOptions = DirectoryListing::kListParent;

// One directory on the walk's stack: its entries, read whole and sorted by name when
// the walk enters it (its listing is closed at once, so the walk holds one directory
// open at a time however deep it goes), and the next one to take.
struct LevelEntry {
  int32_t nameStart = 0;  // in the level's names
  int32_t nameLength = 0;
  EntryKind kind = EntryKind::kUnknown;
  bool isDirectory = false;
};

struct WalkLevel {
  SharedString path;  // exact absolute path
  Array<char> names;  // the entries' names, one after another
  Array<LevelEntry> entries;
  int32_t next = 0;
};

// Opens the directory at the level's path, reads every entry and closes it; entries
// are sorted by name, byte by byte, so the walk's order (which file of two equal ones
// is counted, the order of -la lines) is the same on every file system and is the
// order in which a revision's tree is walked. The names are kept in one buffer, so a
// level costs no allocation per entry. False with errno set when the directory cannot
// be opened.
bool ReadLevel(WalkLevel& level, DirEntry& entry, SharedString* absolutePath = nullptr) {
  DirectoryListing listing;
  level.names.SetCountUninitialized(0);
  level.entries.SetCountUninitialized(0);
  level.next = 0;
  if (!listing.Open(level.path, kWalkOptions | DirectoryListing::kExactPath)) return false;
  if (absolutePath != nullptr)
    *absolutePath = level.path.StartsWith("/") ? level.path : listing.AbsolutePath();
  while (listing.ReadNext(entry)) {
    level.entries.PushBack(
        LevelEntry{level.names.Count(), entry.name.Length(), entry.kind, entry.isDirectory});
    level.names.Append(entry.name.CStr(), entry.name.Length());
  }
  listing.Close();
  const char* names = level.names.Data();
  StableSort(level.entries.Data(), level.entries.Count(), [names](const LevelEntry& a, const LevelEntry& b) {
    const int order =
        std::memcmp(names + a.nameStart, names + b.nameStart,
                    static_cast<size_t>(a.nameLength < b.nameLength ? a.nameLength : b.nameLength));
    return order != 0 ? order < 0 : a.nameLength < b.nameLength;
  });
  return true;
}

// A subdirectory the walk cannot open; errno holds the reason. Printed after every
// file found before it.
void ReportUnopened(FileIntake& intake, const SharedString& path) {
  const int reason = errno;
  SharedString line("failed to open dir: ");
  line.Append(Shown(path));
  line.Append(": ");
  line.Append(std::strerror(reason));
  line.Append("\n", 1);
  intake.TakeNotice(line, false, false);
}

// The ignore files the filter refused on entering a directory: each is an error,
// reported after every file found before it.
void ReportRefusedIgnoreFiles(const WalkFilter& filter, FileIntake& intake) {
  for (const SharedString& path : filter.Refused()) {
    SharedString line("ignoring ");
    line.Append(Shown(path));
    line.Append(": too large or too complex\n");
    intake.TakeNotice(line, true, false);
  }
}

// Parent path, '/', and the name exactly as read, built in target's own block. A
// parent of "." (the working directory when its absolute path could not be read, such
// as one deeper than CurrentDirectory's buffer) gives the bare name, as normalising
// "./name" would: the listing reopens it relative to the same working directory.
void BuildChildPath(SharedString& target, const SharedString& parent, const SharedString& name) {
  target.Erase(0, -1);
  if (!(parent == ".")) target.Append(parent.CStr(), parent.Length());
  AppendPathComponent(target, name);
}

// An excluded directory; a value that excludes it only as text is said so, in order.
bool IsExcluded(FileIntake& intake, Exclusions& exclusions, const SharedString& path) {
  SharedString notice;
  const bool isExcluded = exclusions.IsExcludedDirectory(path, notice);
  if (!notice.IsEmpty()) intake.TakeNotice(notice, false, false);
  return isExcluded;
}

}  // namespace

bool WalkDirectory(FileIntake& intake, Exclusions& exclusions, const SharedString& path, uint32_t depth) {
  Array<std::unique_ptr<WalkLevel>> levels;
  levels.PushBack(std::make_unique<WalkLevel>());
  WalkLevel& start = *levels[0];
  start.path = path;
  SharedString absolutePath;
  DirEntry read;      // reused by every directory read
  SharedString name;  // the entry being taken, rewritten in its own block
  if (!ReadLevel(start, read, &absolutePath)) {
    if (depth > 0) ReportUnopened(intake, path);
    return false;
  }
  // Under a working directory deeper than the system opens by name, the walk goes on
  // by paths relative to it, as given.
  if (absolutePath.Length() < PATH_MAX) start.path = absolutePath;
  if (IsExcluded(intake, exclusions, start.path)) return true;
  WalkFilter filter;
  filter.Enter(start.path, SharedString());
  ReportRefusedIgnoreFiles(filter, intake);

  int32_t activeCount = 1;
  while (activeCount > 0) {
    WalkLevel& top = *levels[activeCount - 1];
    if (top.next == top.entries.Count()) {
      // The level keeps its buffers for the next directory read at this depth.
      filter.Leave();
      --activeCount;
      continue;
    }
    const LevelEntry entry = top.entries[top.next++];
    name.Erase(0, -1);
    name.Append(top.names.Data() + entry.nameStart, entry.nameLength);
    if (!entry.isDirectory) {
      if (!filter.IsSkipped(name, false)) intake.TakeDiskFile(path, top.path, name, entry.kind);
      continue;
    }
    if (name == "." || name == ".." || name == ".git" || settings.noRecursion) continue;
    if (exclusions.IsExcludedName(name) || filter.IsSkipped(name, true)) continue;
    if (activeCount == levels.Count()) levels.PushBack(std::make_unique<WalkLevel>());
    WalkLevel& child = *levels[activeCount];
    BuildChildPath(child.path, top.path, name);
    if (IsExcluded(intake, exclusions, child.path)) continue;
    // A real directory found by the read, opened under its exact name (a\b, "name ").
    if (!ReadLevel(child, read)) {
      ReportUnopened(intake, child.path);
      continue;
    }
    ++activeCount;
    filter.Enter(child.path, name);
    ReportRefusedIgnoreFiles(filter, intake);
  }
  return true;
}

}  // namespace qm
