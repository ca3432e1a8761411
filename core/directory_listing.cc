#include "core/directory_listing.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "core/path.h"
#include "core/runtime_lock.h"

namespace qm {

namespace {

// Linux refuses link targets of PATH_MAX (4096) bytes or more; a longer answer is a
// cut one and is not used.
constexpr size_t kLinkBufferSize = 4097;

DIR* Stream(void* handle) {
  return static_cast<DIR*>(handle);
}

bool IsDots(const char* name) {
  return name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0));
}

// The target of the symbolic link at path, normalised, or the empty string when path
// is no link or the link cannot be read. A relative target is resolved against the
// link's own directory, as the system does when it follows the link.
SharedString LinkTarget(const SharedString& path) {
  struct stat info;
  if (path.IsEmpty() || lstat(path.CStr(), &info) != 0 || !S_ISLNK(info.st_mode)) {
    return SharedString();
  }
  char buffer[kLinkBufferSize];
  ssize_t length = readlink(path.CStr(), buffer, sizeof buffer);
  if (length <= 0 || static_cast<size_t>(length) >= sizeof buffer) return SharedString();
  SharedString target(buffer, buffer + length);
  int32_t lastSlash = -1;
  for (int32_t i = path.Length() - 1; i >= 0; --i) {
    if (path[i] == '/') {
      lastSlash = i;
      break;
    }
  }
  if (target[0] != '/' && lastSlash >= 0) {
    target = JoinPath(SharedString(path.CStr(), path.CStr() + lastSlash + 1), target);
  } else {
    NormalizePath(target);
  }
  return target;
}

SharedString MakeAbsolute(const SharedString& path) {
  if (path.StartsWith("/")) return path;
  return JoinPath(CurrentDirectory(), path);
}

}  // namespace

bool DirectoryListing::Open(const SharedString& path, uint32_t options) {
  Close();
  options_ = options;
  path_ = path;
  if ((options & kExactPath) == 0) {
    NormalizePath(path_);
    SharedString target = LinkTarget(path_);
    if (!target.IsEmpty()) path_ = target;
  }
  isRoot_ = path_ == "/";
  const char* const openPath = path_.IsEmpty() ? "." : path_.CStr();
  if ((options & kExactPath) != 0) {
    // Not even a link swapped in after the directory was read is followed.
    const int descriptor = open(openPath, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (descriptor < 0) return false;
    handle_ = fdopendir(descriptor);
    if (handle_ == nullptr) {
      const int reason = errno;
      close(descriptor);
      errno = reason;
      return false;
    }
  } else {
    handle_ = opendir(openPath);
    if (handle_ == nullptr) return false;
  }
  absolutePath_ = MakeAbsolute(path_);
  return true;
}

bool DirectoryListing::OpenVirtual(const SharedString& path, uint32_t options) {
  Close();
  options_ = options;
  path_ = path;
  NormalizePath(path_);
  isRoot_ = path_ == "/";
  isVirtual_ = true;
  return true;
}

void DirectoryListing::Close() {
  if (handle_ != nullptr) closedir(Stream(handle_));
  handle_ = nullptr;
  path_.Clear();
  absolutePath_.Clear();
  options_ = 0;
  isRoot_ = false;
  isVirtual_ = false;
}

SharedString DirectoryListing::AbsolutePath() const {
  if (handle_ != nullptr) return absolutePath_;
  return MakeAbsolute(path_);
}

namespace {

EntryKind KindOfMode(mode_t mode) {
  if (S_ISREG(mode)) return EntryKind::kRegularFile;
  if (S_ISDIR(mode)) return EntryKind::kDirectory;
  if (S_ISLNK(mode)) return EntryKind::kSymbolicLink;
  return EntryKind::kOther;
}

// The kind the directory read reported; kUnknown for DT_UNKNOWN (and any type this
// system does not name).
EntryKind KindOfType(unsigned char type) {
  switch (type) {
    case DT_REG:
      return EntryKind::kRegularFile;
    case DT_DIR:
      return EntryKind::kDirectory;
    case DT_LNK:
      return EntryKind::kSymbolicLink;
    case DT_FIFO:
    case DT_SOCK:
    case DT_CHR:
    case DT_BLK:
      return EntryKind::kOther;
    default:
      return EntryKind::kUnknown;
  }
}

}  // namespace

// Hot: runs once per entry of every directory walked.
bool DirectoryListing::ReadNext(DirEntry& entry) {
  if (handle_ == nullptr) return false;
  for (;;) {
    const dirent* raw;
    {
      RuntimeLockScope lock;
      raw = readdir(Stream(handle_));
    }
    // The record stays valid until the next readdir on this stream, which only this
    // listing makes.
    if (raw == nullptr) return false;
    const char* name = raw->d_name;
    EntryKind kind = KindOfType(raw->d_type);
    if (IsDots(name)) {
      // Named by their text, not their type: file systems that report no entry
      // types would otherwise hand "." and ".." out as files.
      if (name[1] == 0 || (options_ & kListParent) == 0 || isRoot_) continue;
      kind = EntryKind::kDirectory;
    } else if (kind == EntryKind::kUnknown) {
      // Relative to the open directory: the name is exactly the one read, whatever
      // the directory's path has become, and a link is not followed.
      struct stat info;
      if (fstatat(dirfd(Stream(handle_)), name, &info, AT_SYMLINK_NOFOLLOW) == 0)
        kind = KindOfMode(info.st_mode);
    }
    const bool isLink = kind == EntryKind::kSymbolicLink;
    if (isLink && (options_ & kFollowLinks) == 0) continue;
    // Reuse the name's block when the caller kept no copy of it.
    entry.name.EraseLeft(-1);
    entry.name.Append(name, static_cast<int32_t>(std::strlen(name)));
    bool isDirectory = kind == EntryKind::kDirectory;
    if (isLink) {
      struct stat info;
      isDirectory = fstatat(dirfd(Stream(handle_)), name, &info, 0) == 0 && S_ISDIR(info.st_mode);
    }
    entry.kind = kind;
    entry.isDirectory = isDirectory;
    entry.isLink = isLink;
    return true;
  }
}

SharedString EntryPath(const DirectoryListing& listing, const SharedString& name) {
  const SharedString& path = listing.Path();
  if (listing.IsVirtual() || path.StartsWith("/")) return JoinPath(path, name);
  if (listing.IsOpen()) return JoinPath(listing.AbsolutePath(), name);
  return JoinPath(JoinPath(CurrentDirectory(), path), name);
}

SharedString DisplayPath(const DirectoryListing& listing, const SharedString& name,
                         const SharedString& base) {
  return MakeRelative(EntryPath(listing, name), base);
}

}  // namespace qm
