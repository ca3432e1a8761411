// Deferred digests: duplicate detection that hashes only the files it must. A file
// whose content class (size and sixteen sampled bytes) no earlier file had is counted
// unhashed, its path waiting; a later file of that class gets the waiting one hashed
// first, so the same duplicates are found as by hashing every file. Each totals record
// owns one DeferredDigests, used by the one thread that owns the totals.

// Two files can only hold equal bytes when they are of one content class: the same
// size and the same bytes at sixteen places spread evenly over them (ContentClassOf).
// A file read from disk whose class no earlier file had is counted without being
// hashed: its path waits under its class instead. When a later file of that class
// arrives, the waiting file is read again from disk, hashed and entered into the
// digest map (with the display path it had when it was counted) before the later
// file is looked up. The digest map so ends up holding, for every class that more than
// one file had, exactly what hashing every file on arrival would have put there, and
// the same duplicates are found with the same "dup source". On a source tree nearly
// every file is alone in its class; such files are read once and never hashed.
//
// Files under kDeferredMinBytes are always hashed on arrival: for them the hash costs
// little, and a waiting file costs the memory of its path. Files that cannot be read
// again (archive members, standard input) are always hashed on arrival too.
//
// Where the waiting files are kept: in a DeferredDigests, one per totals (beside the
// digest map it feeds), keyed by size and content class. A class is either waiting
// (a file of it was counted unhashed and its paths are kept) or settled (every later
// file of it is hashed on arrival, no path is kept). The digest map holds MD5 digests
// only. Files of one size whose 64-bit classes happened to be equal would only cost
// hashing: the digests still decide.
//
// Files that change while the run goes on: a waiting file is hashed as it is on disk
// when it is needed. One that can no longer be opened, or no longer holds as many
// bytes, is left out of the digest map, and the later file is then compared with the
// others only. A file rewritten with the same size is compared by its new bytes.
//
// Costs: ContentClassOf reads 128 bytes of a file. Per class met one table entry of
// 40 bytes (as a hashed file has one digest map entry) and, while a file waits, a
// copy of its full path (with -la also its display path): on the Linux source tree,
// 32,000 waiting files raise the peak memory of a run by about 2 MiB. A re-read goes
// through a 32 KiB buffer on the stack. Nothing is reported: a waiting file that
// cannot be hashed is simply left out.
#pragma once

#include <cstdint>

#include "app/content_source.h"
#include "app/md5.h"
#include "core/hash_table.h"
#include "core/shared_string.h"

namespace qm {

// Files this large and larger may wait for their digest.
inline constexpr int64_t kDeferredMinBytes = 4096;

// The content class of sizeInBytes raw bytes: a 64-bit mix of the size and of 8 bytes
// at each of sixteen offsets spread evenly from the first byte to the last. Equal
// bytes always give equal classes. Requires: bytes valid for sizeInBytes bytes.
uint64_t ContentClassOf(const uint8_t* bytes, int64_t sizeInBytes);

// The classes met by the files counted into one totals, each waiting or settled.
// Entries go only all at once, by Clear. Intentionally copyable: a copy deep-copies
// the table, sharing the path blocks. Changed only by DeferDigest and SettleDigests.
// Where a waiting file that is not on disk is read again: its source and id (source
// null: the file at its path).
struct WaitingSource {
  ContentSource* source = nullptr;
  ContentId id;
};

class DeferredDigests {
 public:
  // Classes met (waiting or settled).
  int32_t ClassCount() const { return classes_.Count(); }
  // Forgets every class and releases the paths and the table's storage.
  void Clear() { classes_.Clear(); }

 private:
  friend bool MustHashNow(const DeferredDigests& deferred, int64_t sizeInBytes, uint64_t contentClass,
                          bool canReadAgain);
  friend void DeferDigest(DeferredDigests& deferred, int64_t sizeInBytes, uint64_t contentClass,
                          const SharedString& fullPath, const SharedString& displayPath,
                          const WaitingSource& again);
  friend void SettleDigests(DeferredDigests& deferred, DigestMap& digests, int64_t sizeInBytes,
                            uint64_t contentClass);

  // An empty fullPath marks a settled class (a waiting file always has a path), so a
  // class entered by FindOrInsert starts settled.
  struct WaitingFile {
    SharedString fullPath;     // where the waiting file is read again
    SharedString displayPath;  // what the digest map will hold for it (empty without -la)
    WaitingSource again;       // for a file that is not on disk, where it is read again
  };
  // Key: the 64-bit class in the first 8 bytes (so the bucket key is well mixed), the
  // size in the last 8.
  HashTable<DigestKey, WaitingFile, DigestKeyTraits, false> classes_;
};

// True when a counted file of sizeInBytes raw bytes of the given content class must
// be hashed on arrival: it is under kDeferredMinBytes, it cannot be read again from
// its path, or an earlier file counted into the same totals had its class. False when
// it may wait (then give it to DeferDigest once it is counted).
bool MustHashNow(const DeferredDigests& deferred, int64_t sizeInBytes, uint64_t contentClass,
                 bool canReadAgain);

// Lets a counted file wait: fullPath is where it is read again (or, with a source in
// again, the path it is shown by), displayPath what the digest map will hold for it
// (empty without -la). Both are shared, not copied. Requires: fullPath is not empty;
// MustHashNow(deferred, sizeInBytes, contentClass, true) is false.
void DeferDigest(DeferredDigests& deferred, int64_t sizeInBytes, uint64_t contentClass,
                 const SharedString& fullPath, const SharedString& displayPath,
                 const WaitingSource& again = {});

// Call before the digest of a file that was hashed on arrival is looked up in digests.
// Settles the file's class: hashes the file waiting in it, if any, enters its digest
// into digests (unless already there) and releases its paths; from then on every file
// of that class is hashed on arrival. Files under kDeferredMinBytes are left alone.
void SettleDigests(DeferredDigests& deferred, DigestMap& digests, int64_t sizeInBytes, uint64_t contentClass);

// The MD5 digest of the first sizeInBytes bytes of the regular file at path, read in
// pieces, or with a source in again of the content it names (read whole). False when
// it cannot be opened or read or ends early.
bool HashFileAgain(const SharedString& path, const WaitingSource& again, int64_t sizeInBytes,
                   Md5Digest& digest);

}  // namespace qm
