// Deferred digests: duplicate detection that hashes only the files it must. Two files
// can only hold equal bytes when they are of one content class: the same size and the
// same bytes at sixteen places spread evenly over them (ContentClassOf). A file read
// from disk whose class no earlier file had is counted without being hashed: its path
// waits under its class instead. When a later file of that class arrives, the waiting
// file is read again from disk, hashed and entered into the digest map (with the
// display path it had when it was counted) before the later file is looked up. The
// digest map so ends up holding, for every class that more than one file had, exactly
// what hashing every file on arrival would have put there, and the same duplicates are
// found with the same "dup source". On a source tree nearly every file is alone in its
// class; such files are read once and never hashed.
//
// Files under kDeferredMinBytes are always hashed on arrival: for them the hash costs
// little, and a waiting file costs the memory of its path. Files that cannot be read
// again (archive members, standard input) are always hashed on arrival too.
//
// Where the waiting files are kept: in the digest map itself, under class keys, so
// that they belong to the totals they were counted into and go when ResetTotals clears
// the map. A class key holds the 64-bit class in its first 8 bytes and the size XOR a
// fixed tag in the others; an MD5 digest could only equal one by chance (odds near
// 2^-128 per key, those of two different files sharing a digest, which the duplicate
// check accepts anyway). Files of one size whose classes happened to share a key would
// only cost hashing: the digests still decide. The key tagged kPathTag holds the
// waiting file's full path, or the empty text once files of that class are hashed on
// arrival; with -la the key tagged kDisplayTag holds its display path until it is
// hashed.
//
// Files that change while the run goes on: a waiting file is hashed as it is on disk
// when it is needed. One that can no longer be opened, or no longer holds as many
// bytes, is left out of the digest map, and the later file is then compared with the
// others only. A file rewritten with the same size is compared by its new bytes.
//
// Costs: ContentClassOf reads 128 bytes of a file. Per class met one map entry (as a
// hashed file has one for its digest) and, while a file waits, a copy of its full path
// (with -la two entries and also the display path): on the Linux source tree, 32,000
// waiting files raise the peak memory of a run by about 2 MiB. A re-read goes through
// a 32 KiB buffer on the stack. Nothing is reported: a waiting file that cannot be
// hashed is simply left out. One thread.
#pragma once

#include <cstdint>

#include "core/hash_table.h"
#include "core/shared_string.h"

namespace qm {

// Files this large and larger may wait for their digest.
inline constexpr int64_t kDeferredMinBytes = 4096;

// The content class of sizeInBytes raw bytes: a 64-bit mix of the size and of 8 bytes
// at each of sixteen offsets spread evenly from the first byte to the last. Equal
// bytes always give equal classes. Requires: bytes valid for sizeInBytes bytes.
uint64_t ContentClassOf(const uint8_t* bytes, int64_t sizeInBytes);

// True when a counted file of sizeInBytes raw bytes of the given content class must
// be hashed on arrival: it is under kDeferredMinBytes, it cannot be read again from
// its path, or an earlier file counted into digests' totals had its class. False when
// it may wait (then give it to DeferDigest once it is counted).
bool MustHashNow(const DigestMap& digests, int64_t sizeInBytes, uint64_t contentClass, bool canReadAgain);

// Lets a counted file wait: fullPath is where it is read again, displayPath what the
// digest map will hold for it (empty without -la).
// Requires: MustHashNow(digests, sizeInBytes, contentClass, true) is false.
void DeferDigest(DigestMap& digests, int64_t sizeInBytes, uint64_t contentClass, const SharedString& fullPath,
                 const SharedString& displayPath);

// Call before the digest of a file that was hashed on arrival is looked up in digests.
// Hashes the file waiting in its class, if any, and enters it; from then on every
// file of that class is hashed on arrival.
void SettleDigests(DigestMap& digests, int64_t sizeInBytes, uint64_t contentClass);

// The key of a content class of files of sizeInBytes bytes, with one of the tags below.
inline constexpr uint64_t kPathTag = 0x68746170'73616c63u;     // "clasPath" in bytes
inline constexpr uint64_t kDisplayTag = 0x77656976'73616c63u;  // "clasView" in bytes
DigestKey ClassKey(uint64_t contentClass, int64_t sizeInBytes, uint64_t tag);

}  // namespace qm
