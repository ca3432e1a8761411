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

void WalkTree(FileIntake& intake, Exclusions& exclusions, GitRepository& repository, RevisionContent& content,
              const SharedString& root, const GitObjectId& tree) {
  SharedString notice;
  if (exclusions.IsExcludedDirectory(root, notice)) {
    if (!notice.IsEmpty()) intake.TakeNotice(notice, false, false);
    return;
  }
  Array<std::unique_ptr<TreeLevel>> levels;
  levels.PushBack(std::make_unique<TreeLevel>());
  levels[0]->path = root;
  levels[0]->tree = tree;
  int32_t depth = 1;
  if (!ReadSortedTree(repository, tree, levels[0]->entries)) depth = 0;
  while (depth > 0) {
    TreeLevel& top = *levels[depth - 1];
    if (top.next == top.entries.Count()) {
      --depth;
      continue;
    }
    const GitTreeEntry& entry = top.entries[top.next++];
    if (entry.kind == GitEntryKind::kBlob) {
      ContentId id;
      std::memcpy(id.bytes, entry.id.bytes, sizeof id.bytes);
      intake.TakeSourcedFile(root, top.path, entry.name, content, id);
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
      if (!notice.IsEmpty()) intake.TakeNotice(notice, false, false);
      continue;
    }
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
      intake.TakeNotice(line, false, false);
      continue;
    }
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
