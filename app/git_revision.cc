#include "app/git_revision.h"

#include <git2.h>
#include <pthread.h>

#include <cstring>

#include "core/path.h"

namespace qm {

// libgit2 lets one object database decompress one object at a time, so threads that
// read blobs at once each lease a database of their own, opened on the same
// repository (its packs are shared); an idle one waits in `spare` for the next reader.
// At most one per thread that ever read at once, freed with the repository.
struct GitRepository::Handles {
  git_repository* repository = nullptr;
  git_odb* odb = nullptr;
  SharedString gitDirectory;  // where a reader opens the same repository again
  pthread_mutex_t readersLock = PTHREAD_MUTEX_INITIALIZER;
  Array<git_repository*> readers;
  Array<git_odb*> spare;
};

namespace {

// git's message for the last failure on this thread, or the fallback.
SharedString GitReason(const char* fallback) {
  const git_error* error = git_error_last();
  return SharedString(error != nullptr && error->message != nullptr ? error->message : fallback);
}

void ToOid(const GitObjectId& id, git_oid& oid) {
  std::memcpy(oid.id, id.bytes, sizeof id.bytes);
}

// A database of this thread's own for the time it reads; the shared one when no other
// can be opened (it is safe on any thread, only slower when shared).
class OdbLease {
 public:
  explicit OdbLease(GitRepository::Handles& handles) : handles_(handles) {
    pthread_mutex_lock(&handles.readersLock);
    if (!handles.spare.IsEmpty()) {
      odb_ = handles.spare.Back();
      handles.spare.PopBack();
    }
    pthread_mutex_unlock(&handles.readersLock);
    if (odb_ == nullptr) odb_ = OpenReader();
  }
  ~OdbLease() {
    if (odb_ == handles_.odb) return;
    pthread_mutex_lock(&handles_.readersLock);
    handles_.spare.PushBack(odb_);
    pthread_mutex_unlock(&handles_.readersLock);
  }
  OdbLease(const OdbLease&) = delete;
  OdbLease& operator=(const OdbLease&) = delete;

  git_odb* Odb() const { return odb_; }

 private:
  git_odb* OpenReader() {
    git_repository* reader = nullptr;
    git_odb* odb = nullptr;
    if (git_repository_open_ext(&reader, handles_.gitDirectory.CStr(), GIT_REPOSITORY_OPEN_NO_SEARCH,
                                nullptr) != 0) {
      return handles_.odb;
    }
    if (git_repository_odb(&odb, reader) != 0) {
      git_repository_free(reader);
      return handles_.odb;
    }
    pthread_mutex_lock(&handles_.readersLock);
    handles_.readers.PushBack(reader);
    pthread_mutex_unlock(&handles_.readersLock);
    return odb;
  }

  GitRepository::Handles& handles_;
  git_odb* odb_ = nullptr;
};

GitObjectId FromOid(const git_oid* oid) {
  GitObjectId id;
  std::memcpy(id.bytes, oid->id, sizeof id.bytes);
  return id;
}

}  // namespace

bool GitObjectId::operator==(const GitObjectId& other) const {
  return std::memcmp(bytes, other.bytes, sizeof bytes) == 0;
}

SharedString GitHex(const GitObjectId& id, int32_t digits) {
  static constexpr char kHex[] = "0123456789abcdef";
  char text[41];
  for (int i = 0; i < 20; ++i) {
    text[2 * i] = kHex[id.bytes[i] >> 4];
    text[2 * i + 1] = kHex[id.bytes[i] & 15];
  }
  return SharedString(text, text + (digits < 0 || digits > 40 ? 40 : digits));
}

GitRepository::GitRepository() : handles_(new Handles) {
  git_libgit2_init();
  // An object's id is not recomputed on every read (git itself does not either): the
  // compressed data carries its own checksum, and hashing each blob again would cost
  // more than decompressing it.
  git_libgit2_opts(GIT_OPT_ENABLE_STRICT_HASH_VERIFICATION, 0);
}

GitRepository::~GitRepository() {
  for (git_odb* odb : handles_->spare) git_odb_free(odb);
  for (git_repository* reader : handles_->readers) git_repository_free(reader);
  pthread_mutex_destroy(&handles_->readersLock);
  if (handles_->odb != nullptr) git_odb_free(handles_->odb);
  if (handles_->repository != nullptr) git_repository_free(handles_->repository);
  delete handles_;
  git_libgit2_shutdown();
}

bool GitRepository::Open(const SharedString& directory, SharedString& subPath, SharedString& reason) {
  subPath.Clear();
  SharedString realDirectory;
  if (!RealPath(directory, realDirectory)) realDirectory = directory;
  if (git_repository_open_ext(&handles_->repository, realDirectory.CStr(), 0, nullptr) != 0) {
    reason = GitReason("not in a git repository");
    handles_->repository = nullptr;
    return false;
  }
  if (git_repository_odb(&handles_->odb, handles_->repository) != 0) {
    reason = GitReason("cannot read the object database");
    handles_->odb = nullptr;
    return false;
  }
  handles_->gitDirectory = git_repository_path(handles_->repository);
  // A bare repository has no work tree: the directory itself stands for its top.
  const char* top = git_repository_workdir(handles_->repository);
  SharedString workdir = top != nullptr ? SharedString(top) : realDirectory;
  while (workdir.Length() > 1 && workdir.EndsWith("/")) workdir.Erase(workdir.Length() - 1, 1);
  if (!RealPath(workdir, workdir_)) workdir_ = workdir;
  if (realDirectory.StartsWith(workdir_.CStr()) &&
      (realDirectory.Length() == workdir_.Length() || realDirectory[workdir_.Length()] == '/')) {
    const int32_t skip =
        realDirectory.Length() == workdir_.Length() ? workdir_.Length() : workdir_.Length() + 1;
    subPath = SharedString(realDirectory.CStr() + skip, realDirectory.CStr() + realDirectory.Length());
  }
  // Inside .git itself there is no tracked directory to read.
  if (subPath == ".git" || subPath.StartsWith(".git/")) {
    reason = "inside the repository's .git directory";
    return false;
  }
  return true;
}

bool GitRepository::FindTree(const char* revision, const SharedString& subPath, GitObjectId& tree,
                             SharedString& reason) {
  git_object* object = nullptr;
  if (git_revparse_single(&object, handles_->repository, revision) != 0) {
    reason = GitReason("unknown revision");
    return false;
  }
  git_object* peeled = nullptr;
  const int peelStatus = git_object_peel(&peeled, object, GIT_OBJECT_TREE);
  git_object_free(object);
  if (peelStatus != 0) {
    reason = GitReason("the revision names no tree");
    return false;
  }
  const git_tree* top = reinterpret_cast<const git_tree*>(peeled);
  bool isFound = true;
  if (subPath.IsEmpty()) {
    tree = FromOid(git_tree_id(top));
  } else {
    git_tree_entry* entry = nullptr;
    if (git_tree_entry_bypath(&entry, top, subPath.CStr()) != 0) {
      reason = SharedString("no directory ");
      reason.Append(subPath);
      reason.Append(" at this revision");
      isFound = false;
    } else if (git_tree_entry_type(entry) != GIT_OBJECT_TREE) {
      reason = SharedString(subPath);
      reason.Append(" is no directory at this revision");
      isFound = false;
    } else {
      tree = FromOid(git_tree_entry_id(entry));
    }
    git_tree_entry_free(entry);
  }
  git_object_free(peeled);
  return isFound;
}

bool GitRepository::ReadTree(const GitObjectId& id, Array<GitTreeEntry>& entries) {
  entries.Clear();
  git_oid oid;
  ToOid(id, oid);
  git_tree* tree = nullptr;
  if (git_tree_lookup(&tree, handles_->repository, &oid) != 0) return false;
  const size_t count = git_tree_entrycount(tree);
  for (size_t i = 0; i < count; ++i) {
    const git_tree_entry* entry = git_tree_entry_byindex(tree, i);
    GitTreeEntry listed;
    listed.name = git_tree_entry_name(entry);
    listed.id = FromOid(git_tree_entry_id(entry));
    switch (git_tree_entry_filemode(entry)) {
      case GIT_FILEMODE_TREE:
        listed.kind = GitEntryKind::kTree;
        break;
      case GIT_FILEMODE_LINK:
        listed.kind = GitEntryKind::kLink;
        break;
      case GIT_FILEMODE_COMMIT:
        listed.kind = GitEntryKind::kSubmodule;
        break;
      default:
        listed.kind = GitEntryKind::kBlob;
        break;
    }
    entries.PushBack(std::move(listed));
  }
  git_tree_free(tree);
  return true;
}

bool GitRepository::BlobSize(const GitObjectId& blob, int64_t& sizeInBytes) {
  git_oid oid;
  ToOid(blob, oid);
  size_t length = 0;
  git_object_t type = GIT_OBJECT_INVALID;
  OdbLease lease(*handles_);
  if (git_odb_read_header(&length, &type, lease.Odb(), &oid) != 0 || type != GIT_OBJECT_BLOB) return false;
  sizeInBytes = static_cast<int64_t>(length);
  return true;
}

bool GitRepository::ReadBlob(const GitObjectId& blob, Array<uint8_t>& bytes, bool& noMemory) {
  noMemory = false;
  git_oid oid;
  ToOid(blob, oid);
  git_odb_object* object = nullptr;
  OdbLease lease(*handles_);
  if (git_odb_read(&object, lease.Odb(), &oid) != 0) {
    // libgit2 reports a failed allocation as its own error class.
    const git_error* error = git_error_last();
    noMemory = error != nullptr && error->klass == GIT_ERROR_NOMEMORY;
    return false;
  }
  bool isRead = git_odb_object_type(object) == GIT_OBJECT_BLOB;
  const size_t length = git_odb_object_size(object);
  const int64_t end = int64_t{bytes.Count()} + static_cast<int64_t>(length);
  if (isRead && (end + 1 > INT32_MAX || !bytes.TryReserve(static_cast<int32_t>(end + 1)))) {
    noMemory = end + 1 <= INT32_MAX;
    isRead = false;
  }
  if (isRead)
    bytes.Append(static_cast<const uint8_t*>(git_odb_object_data(object)), static_cast<int32_t>(length));
  git_odb_object_free(object);
  return isRead;
}

bool GitRepository::FirstParentHistory(const char* revision, Array<GitCommitPoint>& points,
                                       SharedString& reason) {
  points.Clear();
  git_object* object = nullptr;
  if (git_revparse_single(&object, handles_->repository, revision) != 0) {
    reason = GitReason("unknown revision");
    return false;
  }
  git_object* peeled = nullptr;
  const int peelStatus = git_object_peel(&peeled, object, GIT_OBJECT_COMMIT);
  git_object_free(object);
  if (peelStatus != 0) {
    reason = GitReason("the revision names no commit");
    return false;
  }
  git_commit* commit = reinterpret_cast<git_commit*>(peeled);
  while (commit != nullptr) {
    GitCommitPoint point;
    point.commit = FromOid(git_commit_id(commit));
    point.tree = FromOid(git_commit_tree_id(commit));
    point.time = static_cast<int64_t>(git_commit_time(commit));
    points.PushBack(point);
    git_commit* parent = nullptr;
    if (git_commit_parentcount(commit) > 0 && git_commit_parent(&parent, commit, 0) != 0) {
      reason = GitReason("a commit of the history cannot be read");
      git_commit_free(commit);
      return false;
    }
    git_commit_free(commit);
    commit = parent;
  }
  // Oldest first.
  for (int32_t i = 0, j = points.Count() - 1; i < j; ++i, --j) std::swap(points[i], points[j]);
  return true;
}

}  // namespace qm
