#include "app/revision_walk.h"

#include <cstring>
#include <memory>
#include <utility>

#include "app/message_output.h"
#include "app/settings.h"
#include "core/path.h"
#include "core/stable_sort.h"

namespace qm {

namespace {

// A tree's entries in the byte order of their names, the order the directory walk
// takes a directory's entries in.
bool ReadSortedTree(GitRepository& repository, const GitObjectId& tree, Array<GitTreeEntry>& entries) {
  if (!repository.ReadTree(tree, entries)) return false;
  StableSort(entries.Data(), entries.Count(),
             [](const GitTreeEntry& a, const GitTreeEntry& b) { return a.name.Compare(b.name) < 0; });
  return true;
}

// One tree on the walk's stack, with its entries and the next one to take.
struct TreeLevel {
  SharedString path;  // the directory's path in a checkout
  GitObjectId tree;
  Array<GitTreeEntry> entries;
  int32_t next = 0;
  int32_t subtree = -1;  // its record in the walk's memo
};

// A checkout cannot hold a path of more levels than this (each level adds at least two
// bytes to a path the system opens by name).
constexpr int32_t kMaxTreeDepth = 2048;

// A damaged or made-up repository may name a tree inside itself (ids are not checked
// on every read): a subtree already on the walk's path would never end.
bool IsOnPath(const Array<std::unique_ptr<TreeLevel>>& levels, int32_t depth, const GitObjectId& tree) {
  for (int32_t i = 0; i < depth; ++i) {
    if (levels[i]->tree == tree) return true;
  }
  return false;
}

}  // namespace

bool RevisionContent::ReadContent(const ContentId& id, Array<uint8_t>& bytes, bool& noMemory) {
  GitObjectId blob;
  std::memcpy(blob.bytes, id.bytes, sizeof blob.bytes);
  bytes.SetCountUninitialized(0);
  if (repository_.ReadBlob(blob, bytes, noMemory)) return true;
  bytes.SetCountUninitialized(0);
  return false;
}

bool RevisionContent::ContentSize(const ContentId& id, int64_t& sizeInBytes) {
  GitObjectId blob;
  std::memcpy(blob.bytes, id.bytes, sizeof blob.bytes);
  return repository_.BlobSize(blob, sizeInBytes);
}

void RevisionWalkMemo::NextPoint() {
  std::swap(previous_, current_);
  current_.items.Clear();
  current_.subtrees.Clear();
  current_.byPath.Clear();
}

// One walk of a tree: hands its files and notices to intake, and with a memo, records
// them (and where each subtree's begin and end) or hands over the last point's again.
class RevisionWalker {
 public:
  RevisionWalker(FileIntake& intake, RevisionContent& content, const SharedString& root,
                 RevisionWalkMemo* memo)
      : intake_(intake), content_(content), root_(root), memo_(memo) {}

  void File(const SharedString& directory, const SharedString& name, const GitObjectId& blob) {
    ContentId id;
    std::memcpy(id.bytes, blob.bytes, sizeof id.bytes);
    intake_.TakeSourcedFile(root_, directory, name, content_, id);
    if (memo_ != nullptr) memo_->current_.items.PushBack(RevisionWalkMemo::Item{directory, name, blob});
  }

  void Notice(const SharedString& line) {
    intake_.TakeNotice(line, false, false);
    if (memo_ != nullptr) memo_->current_.items.PushBack(RevisionWalkMemo::Item{SharedString(), line, {}});
  }

  // The subtree at path begins; its index, for EndSubtree (-1 without a memo).
  int32_t BeginSubtree(const SharedString& path, const GitObjectId& tree) {
    if (memo_ == nullptr) return -1;
    RevisionWalkMemo::Point& point = memo_->current_;
    point.byPath.Insert(path, point.subtrees.Count());
    point.subtrees.PushBack(RevisionWalkMemo::Subtree{path, tree, point.items.Count(), 0});
    return point.subtrees.Count() - 1;
  }

  void EndSubtree(int32_t index) {
    if (index >= 0) memo_->current_.subtrees[index].end = memo_->current_.items.Count();
  }

  void KeepFromReplay(int32_t index) {
    if (index >= 0) memo_->current_.subtrees[index].isReplayable = false;
  }

  // Hands over the subtree at path as the last point walked it, when it had the same
  // id there and none of its trees is on the walk's path (the first depth levels), which
  // would now hold itself.
  bool Replay(const SharedString& path, const GitObjectId& tree,
              const Array<std::unique_ptr<TreeLevel>>& levels, int32_t depth) {
    if (memo_ == nullptr) return false;
    const RevisionWalkMemo::Point& last = memo_->previous_;
    const int32_t* found = last.byPath.Find(path);
    if (found == nullptr || !(last.subtrees[*found].tree == tree) || !last.subtrees[*found].isReplayable) {
      return false;
    }
    const RevisionWalkMemo::Subtree& subtree = last.subtrees[*found];
    int32_t after = *found + 1;  // past the records of the subtree's own subtrees
    while (after < last.subtrees.Count() && last.subtrees[after].begin < subtree.end) ++after;
    for (int32_t i = *found; i < after; ++i) {
      if (IsOnPath(levels, depth, last.subtrees[i].tree)) return false;
    }
    RevisionWalkMemo::Point& point = memo_->current_;
    const int32_t shift = point.items.Count() - subtree.begin;
    for (int32_t i = *found; i < after; ++i) {
      RevisionWalkMemo::Subtree moved = last.subtrees[i];
      moved.begin += shift;
      moved.end += shift;
      point.byPath.Insert(moved.path, point.subtrees.Count());
      point.subtrees.PushBack(std::move(moved));
    }
    for (int32_t i = subtree.begin; i < subtree.end; ++i) {
      const RevisionWalkMemo::Item& item = last.items[i];
      if (item.directory.IsEmpty()) {
        intake_.TakeNotice(item.text, false, false);
      } else {
        ContentId id;
        std::memcpy(id.bytes, item.id.bytes, sizeof id.bytes);
        intake_.TakeSourcedFile(root_, item.directory, item.text, content_, id);
      }
      point.items.PushBack(item);
    }
    return true;
  }

 private:
  FileIntake& intake_;
  RevisionContent& content_;
  const SharedString& root_;
  RevisionWalkMemo* memo_;
};

void WalkTree(FileIntake& intake, Exclusions& exclusions, GitRepository& repository, RevisionContent& content,
              const SharedString& root, const GitObjectId& tree, RevisionWalkMemo* memo) {
  SharedString notice;
  if (exclusions.IsExcludedDirectory(root, notice)) {
    if (!notice.IsEmpty()) intake.TakeNotice(notice, false, false);
    return;
  }
  RevisionWalker walker(intake, content, root, memo);
  Array<std::unique_ptr<TreeLevel>> levels;
  if (walker.Replay(root, tree, levels, 0)) return;
  levels.PushBack(std::make_unique<TreeLevel>());
  levels[0]->path = root;
  levels[0]->tree = tree;
  levels[0]->subtree = walker.BeginSubtree(root, tree);
  int32_t depth = 1;
  if (!ReadSortedTree(repository, tree, levels[0]->entries)) levels[0]->entries.Clear();
  while (depth > 0) {
    TreeLevel& top = *levels[depth - 1];
    if (top.next == top.entries.Count()) {
      walker.EndSubtree(top.subtree);
      --depth;
      continue;
    }
    const GitTreeEntry& entry = top.entries[top.next++];
    if (entry.kind == GitEntryKind::kBlob) {
      walker.File(top.path, entry.name, entry.id);
      continue;
    }
    // Links and submodules are passed over, as the walk passes links over.
    if (entry.kind != GitEntryKind::kTree || entry.name == ".git" || settings.noRecursion) continue;
    if (exclusions.IsExcludedName(entry.name)) continue;
    if (depth == levels.Count()) levels.PushBack(std::make_unique<TreeLevel>());
    TreeLevel& child = *levels[depth];
    child.path = top.path;
    AppendPathComponent(child.path, entry.name);
    if (exclusions.IsExcludedDirectory(child.path, notice)) {
      if (!notice.IsEmpty()) walker.Notice(notice);
      continue;
    }
    if (walker.Replay(child.path, entry.id, levels, depth)) continue;
    child.next = 0;
    child.tree = entry.id;
    // A tree that cannot be read is a damaged repository: it counts as a directory that
    // cannot be opened.
    const bool isTooDeep = depth >= kMaxTreeDepth;
    const bool isCycle = !isTooDeep && IsOnPath(levels, depth, entry.id);
    if (isTooDeep || isCycle || !ReadSortedTree(repository, entry.id, child.entries)) {
      SharedString line("failed to open dir: ");
      line.Append(Shown(child.path));
      line.Append(isTooDeep ? ": File name too long\n"
                  : isCycle ? ": a tree that holds itself\n"
                            : ": cannot read its tree\n");
      walker.Notice(line);
      // Whether a tree holds itself depends on the trees above it, which may differ at
      // another point: no open subtree is handed over again.
      if (isCycle) {
        for (int32_t i = 0; i < depth; ++i) walker.KeepFromReplay(levels[i]->subtree);
      }
      continue;
    }
    child.subtree = walker.BeginSubtree(child.path, entry.id);
    ++depth;
  }
}

bool WalkRevision(FileIntake& intake, Exclusions& exclusions, GitRepository& repository,
                  RevisionContent& content, const SharedString& argument, const char* revision,
                  SharedString& reason, SharedString* walkedRoot) {
  SharedString subPath;
  GitObjectId tree;
  if (!repository.Open(argument, subPath, reason) || !repository.FindTree(revision, subPath, tree, reason)) {
    return false;
  }
  SharedString root = repository.Workdir();
  if (!subPath.IsEmpty()) AppendPathComponent(root, subPath);
  if (walkedRoot != nullptr) *walkedRoot = root;
  WalkTree(intake, exclusions, repository, content, root, tree);
  return true;
}

}  // namespace qm
