// GitRepository: a git repository opened for reading its objects, the one place the
// program meets libgit2: revisions resolved to trees, trees listed, blobs measured and
// read, first-parent history. Nothing is ever written to the repository and nothing is
// checked out. One object per repository, owned by its user; ReadBlob and BlobSize may
// be called from any thread (each thread reading at once has an object database of its
// own, so blobs are decompressed in parallel), the rest from one.

// Failures are return values; the reason is git's own message (or ours where git gives
// none), for "cannot open NAME: REASON". Objects are named by their 20-byte ids. Costs:
// a blob is decompressed (and its deltas applied) by libgit2 into its own buffer and
// copied once into the caller's; a tree is parsed each time it is read. Memory: what
// libgit2 keeps for the repository (its pack windows and object cache, bounded by its
// defaults) and the caller's buffers.
#pragma once

#include <cstdint>

#include "core/array.h"
#include "core/shared_string.h"

namespace qm {

struct GitObjectId {
  uint8_t bytes[20] = {};
  bool operator==(const GitObjectId& other) const;
};

// The id as 40 lower-case hexadecimal digits, or its first `digits`.
SharedString GitHex(const GitObjectId& id, int32_t digits = 40);

enum class GitEntryKind : uint8_t {
  kBlob,       // a file (executable or not)
  kTree,       // a directory
  kLink,       // a symbolic link
  kSubmodule,  // a commit of another repository
};

struct GitTreeEntry {
  SharedString name;
  GitEntryKind kind = GitEntryKind::kBlob;
  GitObjectId id;
};

struct GitCommitPoint {
  GitObjectId commit;
  GitObjectId tree;
  int64_t time = 0;  // committer time, seconds since 1970 UTC
};

class GitRepository {
 public:
  GitRepository();
  ~GitRepository();
  GitRepository(const GitRepository&) = delete;
  GitRepository& operator=(const GitRepository&) = delete;

  // Opens the repository that holds directory (looking upwards from it, as git does).
  // subPath receives directory's path below the top of the work tree ("" at the top).
  bool Open(const SharedString& directory, SharedString& subPath, SharedString& reason);

  // The real path of the work tree's top (no final '/').
  const SharedString& Workdir() const { return workdir_; }

  // The tree of revision (anything git accepts: a tag, a branch, HEAD~10, an id,
  // v1.0^{tree}) and, below it, the tree at subPath.
  bool FindTree(const char* revision, const SharedString& subPath, GitObjectId& tree, SharedString& reason);

  // The entries of a tree, in the tree's order.
  bool ReadTree(const GitObjectId& tree, Array<GitTreeEntry>& entries);

  // The size of a blob without reading it. Any thread.
  bool BlobSize(const GitObjectId& blob, int64_t& sizeInBytes);

  // Appends a blob's bytes to bytes, keeping one byte of room behind them. False when
  // it cannot be read or the buffer cannot grow (noMemory then true). Any thread.
  bool ReadBlob(const GitObjectId& blob, Array<uint8_t>& bytes, bool& noMemory);

  // The first-parent history ending at revision, oldest first: every commit from the
  // first one to revision's.
  bool FirstParentHistory(const char* revision, Array<GitCommitPoint>& points, SharedString& reason);

  struct Handles;  // libgit2's handles, known only to the implementation

 private:
  Handles* handles_;
  SharedString workdir_;
};

}  // namespace qm
