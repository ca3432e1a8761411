// WalkRevision: counts one directory argument as it was at a git revision, read
// straight from the repository that holds it (no checkout), handing every file of the
// directory's tree to intake as a checkout's walk would. Runs on the thread that owns
// the run; the repository belongs to the caller and must outlive the intake's run (the
// workers read its blobs).

// The tree is walked depth first, each tree's entries in the byte order of their names
// (as the directory walk takes a directory's; git's own order puts "a-b" before "a"
// when "a" is a tree); a file's paths are those it
// would have in a checkout (the work tree's real path, then its path in the tree), so
// -xd, -f rows and -la lines read as for a checkout. Symbolic links and submodules are
// passed over, as the walk passes links over; subtrees named ".git" are skipped, all
// of them with -nr; -xd and -xn exclude as in the walk; -gi has nothing to do (only
// tracked files exist at a revision). Memory: one level's entries per level of depth.
#pragma once

#include "app/exclusions.h"
#include "app/file_intake.h"
#include "app/git_revision.h"
#include "core/hash_table.h"
#include "core/shared_string.h"

namespace qm {

// The repository's blobs as a content source for intake.
class RevisionContent final : public ContentSource {
 public:
  explicit RevisionContent(GitRepository& repository) : repository_(repository) {}
  bool ReadContent(const ContentId& id, Array<uint8_t>& bytes, bool& noMemory) override;
  bool ContentSize(const ContentId& id, int64_t& sizeInBytes) override;

 private:
  GitRepository& repository_;
};

// Walks the tree of argument's directory at revision. False with reason set when the
// directory is in no repository, the revision is unknown, or the directory did not
// exist in it; nothing is counted then.
// walkedRoot, when given, is set to the path the directory's checkout has.
bool WalkRevision(FileIntake& intake, Exclusions& exclusions, GitRepository& repository,
                  RevisionContent& content, const SharedString& argument, const char* revision,
                  SharedString& reason, SharedString* walkedRoot = nullptr);

// What the walks of one point of a history handed to intake, kept for the next point:
// a subtree met again at the same path with the same id is handed over again from
// here, without reading a tree, so a directory that did not change between two points
// is not walked again. Exact: the same tree at the same path gives the same files and
// notices (the run's exclusions do not change), and a subtree is walked afresh when one
// of its trees would now hold itself or was found to hold itself. Memory: an item per
// file, notice and subtree of the last two points walked (a few dozen bytes each, names
// shared with the walk).
class RevisionWalkMemo {
 public:
  // Between points: what was walked becomes what the next walk may reuse.
  void NextPoint();

 private:
  friend class RevisionWalker;
  struct Item {
    SharedString directory;  // a file's directory; empty for a notice
    SharedString text;       // a file's name, or a notice's line
    GitObjectId id;
  };
  struct Subtree {
    SharedString path;
    GitObjectId tree;
    int32_t begin = 0;  // its items, [begin, end)
    int32_t end = 0;
    bool isReplayable = true;  // false when a tree in it was found to hold itself
  };
  struct Point {
    Array<Item> items;
    Array<Subtree> subtrees;  // in walk order: a subtree's own follow it
    HashTable<SharedString, int32_t, StringKeyTraits, false> byPath;
  };
  Point previous_;
  Point current_;
};

// Walks an already resolved tree whose checkout path is root; memo, when given, keeps
// and reuses what was walked across the points of a history.
void WalkTree(FileIntake& intake, Exclusions& exclusions, GitRepository& repository, RevisionContent& content,
              const SharedString& root, const GitObjectId& tree, RevisionWalkMemo* memo = nullptr);

}  // namespace qm
