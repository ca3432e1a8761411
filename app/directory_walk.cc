#include "app/directory_walk.h"

#include <sys/resource.h>

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

namespace qm {
namespace {

// Every listing of the walk also returns ".."; it is skipped with ".".
constexpr uint32_t kWalkOptions = DirectoryListing::kListParent;

// One directory on the walk's stack. Its listing is open until the level either ends
// or is read ahead (all its remaining entries copied into readAhead, in order) to
// keep the number of open directories bounded.
struct WalkLevel {
  DirectoryListing listing;
  SharedString path;  // exact absolute path
  Array<DirEntry> readAhead;
  int32_t nextReadAhead = 0;
  bool isReadAhead = false;
};

bool NextEntry(WalkLevel& level, DirEntry& entry) {
  if (!level.isReadAhead) return level.listing.ReadNext(entry);
  if (level.nextReadAhead >= level.readAhead.Count()) return false;
  entry = std::move(level.readAhead[level.nextReadAhead++]);
  return true;
}

void ReadAheadAndClose(WalkLevel& level) {
  DirEntry entry;
  while (level.listing.ReadNext(entry)) level.readAhead.PushBack(entry);
  level.listing.Close();
  level.nextReadAhead = 0;
  level.isReadAhead = true;
}

void EndLevel(WalkLevel& level) {
  level.listing.Close();
  level.readAhead.Clear();
  level.nextReadAhead = 0;
  level.isReadAhead = false;
}

// Open listings the walk may hold: kMaxOpenListings, or a quarter of the descriptor
// limit when that is lower, so the files read beside the walk (one per worker) and
// the ignore files still find descriptors.
int32_t OpenListingBudget() {
  struct rlimit limit;
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return kMaxOpenListings;
  const rlim_t quarter = limit.rlim_cur / 4;
  if (quarter >= static_cast<rlim_t>(kMaxOpenListings)) return kMaxOpenListings;
  return quarter < 1 ? 1 : static_cast<int32_t>(quarter);
}

bool IsOutOfDescriptors(int reason) {
  return reason == EMFILE || reason == ENFILE;
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
  if (!start.listing.Open(path, kWalkOptions | DirectoryListing::kExactPath)) {
    if (depth > 0) ReportUnopened(intake, path);
    return false;
  }
  start.path = path.StartsWith("/") ? path : start.listing.AbsolutePath();
  // Under a working directory deeper than the system opens by name, the walk goes on
  // by paths relative to it, as given.
  if (start.path.Length() >= PATH_MAX) start.path = path;
  if (IsExcluded(intake, exclusions, start.path)) return true;
  WalkFilter filter;
  filter.Enter(start.path, SharedString());
  ReportRefusedIgnoreFiles(filter, intake);

  // Levels [0, firstOpen) have been read ahead; [firstOpen, activeCount) are open.
  int32_t openBudget = OpenListingBudget();
  int32_t activeCount = 1;
  int32_t firstOpen = 0;
  DirEntry entry;
  while (activeCount > 0) {
    WalkLevel& top = *levels[activeCount - 1];
    if (!NextEntry(top, entry)) {
      EndLevel(top);
      filter.Leave();
      --activeCount;
      if (firstOpen > activeCount) firstOpen = activeCount;
      continue;
    }
    if (!entry.isDirectory) {
      if (!filter.IsSkipped(entry.name, false)) intake.TakeDiskFile(path, top.path, entry.name, entry.kind);
      continue;
    }
    if (entry.name == "." || entry.name == ".." || entry.name == ".git" || settings.noRecursion) {
      continue;
    }
    if (exclusions.IsExcludedName(entry.name) || filter.IsSkipped(entry.name, true)) continue;
    if (activeCount == levels.Count()) levels.PushBack(std::make_unique<WalkLevel>());
    WalkLevel& child = *levels[activeCount];
    BuildChildPath(child.path, top.path, entry.name);
    if (activeCount - firstOpen >= openBudget) ReadAheadAndClose(*levels[firstOpen++]);
    // A real directory found by the read, opened under its exact name (a\b, "name ").
    bool isOpen = child.listing.Open(child.path, kWalkOptions | DirectoryListing::kExactPath);
    if (!isOpen && IsOutOfDescriptors(errno) && firstOpen < activeCount) {
      // Descriptors ran out (a low limit, or many held elsewhere): every open level
      // is read ahead and closed, the walk goes on with fewer, and the open is tried
      // again. Entries are met in the same order.
      openBudget = (activeCount - firstOpen) / 2 > 1 ? (activeCount - firstOpen) / 2 : 1;
      while (firstOpen < activeCount) ReadAheadAndClose(*levels[firstOpen++]);
      isOpen = child.listing.Open(child.path, kWalkOptions | DirectoryListing::kExactPath);
    }
    if (!isOpen) {
      ReportUnopened(intake, child.path);
      continue;
    }
    if (IsExcluded(intake, exclusions, child.path)) {
      child.listing.Close();
      continue;
    }
    ++activeCount;
    filter.Enter(child.path, entry.name);
    ReportRefusedIgnoreFiles(filter, intake);
  }
  return true;
}

}  // namespace qm
