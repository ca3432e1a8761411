// DirectoryListing: an iterator over the entries of one directory, in the order the
// operating system's directory read returns them (nothing is sorted). It owns its
// directory stream and its path; entries are copied out and stay valid after it moves
// on. One thread per listing; raw reads run under the RuntimeLock. Not copyable.

// Failure: Open returns false when the path is not a directory (or a link to one)
// that can be opened; read errors end the listing as if the directory were exhausted.
// Costs: one readdir per entry. The entry type the directory reports is trusted; only
// where it reports none (DT_UNKNOWN: XFS without ftype, some NFS and FUSE mounts) is
// the entry looked up itself, with one fstatat relative to the open directory that
// does not follow a link. A link is stat'ed once more with kFollowLinks. ReadNext
// reuses the block of entry.name when the caller kept no copy of it, so a walk that
// does not store names allocates nothing per entry.
//
// A virtual listing (OpenVirtual) has a path but no directory stream: it names the
// "directory" of archive members, whose entry paths are not prefixed with the
// working directory. ReadNext on it returns false at once.
//
// Copy rules: non-copyable and non-movable (it owns an open directory stream).
#pragma once

#include <cstdint>

#include "core/shared_string.h"

namespace qm {

// What an entry is, as the directory reported it or, where it reported nothing, as
// the entry itself says (not through a link). kUnknown: neither could tell (the entry
// vanished between the read and the look-up, or the look-up failed).
enum class EntryKind : uint8_t {
  kUnknown,
  kRegularFile,
  kDirectory,
  kSymbolicLink,
  kOther,  // FIFO, socket, character or block device
};

struct DirEntry {
  SharedString name;
  EntryKind kind = EntryKind::kUnknown;  // of the entry itself, never of a link's target
  bool isDirectory = false;              // a directory, or with kFollowLinks a link to one
  bool isLink = false;                   // kind == kSymbolicLink
};

class DirectoryListing {
 public:
  // Option bits.
  static constexpr uint32_t kListParent = 1;   // also return ".." (except in "/")
  static constexpr uint32_t kFollowLinks = 2;  // return symbolic links, typed by target
  // Open: take the path byte for byte, neither normalised nor followed as a link. For
  // directories whose names came from a directory read (a\b, "name ", 'q'), which
  // normalising would turn into other paths.
  static constexpr uint32_t kExactPath = 4;

  DirectoryListing() = default;
  ~DirectoryListing() { Close(); }
  DirectoryListing(const DirectoryListing&) = delete;
  DirectoryListing& operator=(const DirectoryListing&) = delete;

  // Closes what is open, then opens the directory at the normalised path ("." when
  // empty). When the path itself is a symbolic link, the listing opens the link's
  // target instead and Path() becomes that target, normalised; a relative target is
  // taken relative to the directory holding the link. A link that cannot be read is
  // opened as it is. With kExactPath neither happens. Returns whether the directory
  // stream could be opened; on
  // failure Path() still holds the path tried.
  bool Open(const SharedString& path, uint32_t options);
  // Closes what is open and stores the normalised path and options without opening
  // anything. Always true.
  bool OpenVirtual(const SharedString& path, uint32_t options);
  // Fills entry with the next entry and returns true; false when the directory is
  // exhausted, a read fails or nothing is open. "." is never returned; ".." only
  // with kListParent outside the root; symbolic links only with kFollowLinks (then
  // isLink is set and isDirectory tells whether the target is a directory). An entry
  // of unreported type is looked up relative to the open directory (see Costs).
  bool ReadNext(DirEntry& entry);
  // Closes the directory stream and releases the path. Also done by the destructor.
  void Close();

  const SharedString& Path() const { return path_; }
  bool IsVirtual() const { return isVirtual_; }
  bool IsRoot() const { return isRoot_; }
  bool IsOpen() const { return handle_ != nullptr; }
  uint32_t Options() const { return options_; }
  // Path() when it begins with '/', else the working directory joined with Path()
  // (for an open listing, the working directory as it was when it was opened).
  SharedString AbsolutePath() const;

 private:
  void* handle_ = nullptr;  // DIR*
  SharedString path_;
  uint32_t options_ = 0;
  bool isRoot_ = false;
  bool isVirtual_ = false;
  SharedString absolutePath_;  // filled by Open for a relative path
};

// The full path of an entry: the listing's path, prefixed with the working directory
// unless the listing is virtual or its path starts with '/', joined with name.
SharedString EntryPath(const DirectoryListing& listing, const SharedString& name);

// EntryPath made relative to base with MakeRelative. Callers pass an absolute base
// for a real listing; for a virtual one base is used as given.
SharedString DisplayPath(const DirectoryListing& listing, const SharedString& name, const SharedString& base);

}  // namespace qm
