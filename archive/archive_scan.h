// Archive scanning: counts the members of a tar, gzip-compressed tar or zip archive
// as if they were files, handing each regular member with a stream of exactly its
// bytes to an ArchiveMemberSink (the application's file intake), which counts and
// reports it; nothing here prints. The caller owns the archive stream and the sink;
// ScanArchive runs on the caller's thread and calls the sink there.

// ScanArchive walks the archive named by a prepared name (trimmed, ASCII capitals
// lowered), names every regular member and applies the size limit; the sink counts
// the member or scans it as a nested archive, and prints the messages.
//
// Formats by name ending: ".tar" plain tar, ".tgz" or ".tar.gz" gzip-compressed tar
// (one or more gzip members in a row), ".zip" zip. A tar is read strictly front to
// back (standard input works); a zip needs a positioned stream, so a zip on standard
// input or inside another archive is reported as unreadable ("cannot open zip file").
//
// Symbolic links are passed over in every format: tar members of type '2' and zip
// entries made on Unix whose mode marks a link.
//
// Member naming. A stored path M is normalised to P; its directory D is P joined with
// ".." and normalised, its file name N is P made relative to D. The sink gets a
// virtual listing of D and N; its reports name a member by D and N too, and the sink
// builds what it shows.
//
// Robustness. Every member is read through a LimitedStream of its own size: however
// much of it the sink reads (nothing, all of it, or a nested archive up to its end
// block), the walk goes on exactly at the member's end, so no member of an outer
// archive is lost to an inner one. Nesting deeper than kMaxArchiveDepth is reported
// as unreadable instead of recursing further. A zip member's stream also checks at its
// last byte that the entry's data ends there with a good CRC-32. For a gzip-compressed
// tar the rest of the gzip data after the end block is read, so its trailer (CRC-32
// and length) is checked; a mismatch reports the archive as unreadable after the
// members before it were counted. A zip's entries together may not claim more than
// kMaxInflateRatio times the archive's size (DEFLATE cannot expand more): directory
// records that point many entries at one small, highly compressible piece of data
// would otherwise make a tiny archive cost terabytes of decoding. The entry that
// crosses the bound reports the archive as unreadable and ends the scan. Damage of any kind (truncation, bad
// checksums, absurd sizes, malformed headers) ends that archive or member with its message and keeps what was
// counted before; memory is fixed per level of nesting (a tar reader with at most 1 MiB of extended header
// data, one inflate decoder for a gzip tar, a zip directory table) and no size read from an archive is
// allocated unchecked.
//
// Zip entries are the records of the central directory, in its order: two records of
// one name are two members (intake finds the second a duplicate when its bytes are
// equal). An entry of a method that is not read is passed over without a word.
//
// Costs: members are streamed; the walk itself copies no member data except what it
// skips. Tar data passed over (members too big, not counted, or of types not read) is
// sought over when the stream can seek (a plain tar file) and read and discarded in
// 8 KiB pieces otherwise. Stack use per level of nesting stays small (no buffer of
// 8 KiB or more; the gzip decoder comes from its pool), so deep nesting cannot
// exhaust a small stack.
#pragma once

#include <cstdint>

#include "core/directory_listing.h"
#include "core/shared_string.h"
#include "core/stream.h"

namespace qm {

enum class ArchiveKind {
  kNone,
  kTar,      // ".tar"
  kGzipTar,  // ".tgz", ".tar.gz"
  kZip,      // ".zip"
};

// The most bytes one byte of DEFLATE data can stand for: a 258-byte match coded in
// two bits gives 1032. Stored entries give at most one.
inline constexpr int64_t kMaxInflateRatio = 1032;

// Archives nested inside archives deeper than this are not opened (the outermost
// archive is depth 1).
inline constexpr int32_t kMaxArchiveDepth = 16;

// The archive format a prepared name asks for, by its ending, compared byte for byte.
ArchiveKind ArchiveKindOf(const SharedString& preparedName);

// True when the prepared name ends in ".tar", ".tgz", ".tar.gz" or ".zip".
bool IsArchiveName(const SharedString& preparedName);

// Where archive scanning delivers members and reports trouble. Implemented by the
// application (file intake and its messages); tests record the calls.
class ArchiveMemberSink {
 public:
  virtual ~ArchiveMemberSink() = default;

  // One regular member, named name inside the virtual listing directory. data holds
  // exactly the member's bytes (reading past them gives the end); size is the
  // member's size, which the caller reads exactly, or null to read data to its end.
  // The result is the intake's; scanning goes on either way.
  virtual bool Member(DirectoryListing& directory, const SharedString& name, Stream& data,
                      const uint32_t* size) = 0;
  // A member larger than the size limit was passed over ("file too big: %s" with
  // -la, tooBigCount). directory and name as Member would have them.
  virtual void MemberTooBig(const SharedString& directory, const SharedString& name) = 0;
  // A zip entry whose data cannot be reached (its local header offset leads nowhere),
  // that is encrypted with a password other than the empty one, or that the directory
  // says is empty while its data holds bytes or fails its CRC-32 ("couldn't read
  // file: %s" with -la, errorCount).
  virtual void MemberUnreadable(const SharedString& directory, const SharedString& name) = 0;
  // The archive (or the rest of it) could not be read: for kTar and kGzipTar
  // "cannot read tar/tgz file: %s", for kZip "cannot open zip file: %s", on
  // standard error, errorCount.
  virtual void ArchiveUnreadable(ArchiveKind kind) = 0;
  // Whether members in this directory inside the archive (normalised, as given to
  // Member) are passed over without a word, before their size is checked.
  virtual bool IsSkippedDirectory(const SharedString& /*directory*/) { return false; }
};

// Scans the archive in stream (open for reading, owned and closed by the caller),
// feeding every regular member to sink. Members larger than maxFileSize (or than a
// 32-bit read buffer can hold) are reported with MemberTooBig and passed over.
// Returns false, doing nothing, when preparedName is not an archive name; true for
// every archive name, whether the archive could be read or not.
bool ScanArchive(const SharedString& preparedName, Stream& stream, int64_t maxFileSize,
                 ArchiveMemberSink& sink);

// Splits a member path as stored into its directory inside the archive and its file
// name (see Member naming above).
void NameArchiveMember(const SharedString& storedPath, SharedString& directory, SharedString& fileName);

}  // namespace qm
