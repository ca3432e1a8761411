// Archive scanning: counts the members of a tar, compressed tar (gzip, xz, bzip2,
// zstd) or zip archive as if they were files, handing each regular member with a
// stream of exactly its bytes to an ArchiveMemberSink (the application's file intake),
// which counts and reports it; nothing here prints. The caller owns the archive stream and the sink;
// ScanArchive runs on the caller's thread and calls the sink there.

// ScanArchive walks the archive named by a prepared name (trimmed, ASCII capitals
// lowered), names every regular member and applies the size limit; the sink counts
// the member or scans it as a nested archive, and prints the messages.
//
// Formats by name ending: ".tar" plain tar, ".tgz" or ".tar.gz" gzip-compressed tar
// (one or more gzip members in a row), ".txz" or ".tar.xz" xz-compressed, ".tbz",
// ".tbz2" or ".tar.bz2" bzip2-compressed, ".tzst" or ".tar.zst" zstd-compressed tar
// (each also several streams in a row, archive/xz_stream.h, bzip2_stream.h,
// zstd_stream.h), ".zip" zip. A tar is read strictly front to back (standard input
// works); a zip needs a positioned stream, so a zip on standard input or inside
// another archive is reported as unreadable ("cannot open zip file").
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
// last byte that the entry's data ends there with a good CRC-32. For a compressed tar
// the rest of the compressed data after the end block is read, so its trailers and
// checks are verified; a mismatch reports the archive as unreadable after the
// members before it were counted. A zip entry's claimed size counts as that size
// divided by the most its method can expand data (MaxExpansionOf), and the entries
// together may not count more than the archive's size: directory records that point
// many entries at one small, highly compressible piece of data would otherwise make a
// tiny archive cost terabytes of decoding. The entry that crosses the bound reports
// the archive as unreadable and ends the scan. Damage of any kind (truncation, bad
// checksums, absurd sizes, malformed headers) ends that archive or member with its
// message and keeps what was counted before. Memory is bounded per level of nesting:
// a tar reader with at most 1 MiB of extended header data, one decoder for a
// compressed tar (inflate about 170 KiB, bzip2 at most 3.7 MB, xz and zstd at most
// kDecoderMemoryLimit, 128 MiB, as the data asks), a zip directory table and one
// entry's decoder; no size read from an archive is allocated unchecked.
//
// Zip entries are the records of the central directory, in its order: two records of
// one name are two members (intake finds the second a duplicate when its bytes are
// equal). Methods read: stored (0), DEFLATE (8), bzip2 (12), LZMA (14), zstd (93) and
// xz (95); an entry of another method is passed over without a word.
//
// Costs: members are streamed; the walk itself copies no member data except what it
// skips. Tar data passed over (members too big, not counted, or of types not read) is
// sought over when the stream can seek (a plain tar file) and read and discarded in
// 8 KiB pieces otherwise. Stack use per level of nesting stays small (no buffer of
// 8 KiB or more; the decoders live on the heap), so deep nesting cannot exhaust a
// small stack.
#pragma once

#include <cstdint>

#include "core/directory_listing.h"
#include "core/shared_string.h"
#include "core/stream.h"

namespace qm {

enum class ArchiveKind {
  kNone,
  kTar,       // ".tar"
  kGzipTar,   // ".tgz", ".tar.gz"
  kZip,       // ".zip"
  kXzTar,     // ".txz", ".tar.xz"
  kBzip2Tar,  // ".tbz", ".tbz2", ".tar.bz2"
  kZstdTar,   // ".tzst", ".tar.zst"
};

// The most bytes one byte of DEFLATE data can stand for: a 258-byte match coded in
// two bits gives 1032. Stored entries give at most one.
inline constexpr int64_t kMaxInflateRatio = 1032;

// The most bytes one byte of a zip entry of this method can stand for, with room to
// spare: stored and DEFLATE kMaxInflateRatio; LZMA and xz 2^14 (a 273-byte match costs
// at least 14 range-coded bits of about 0.022 bits each: about 7,100); zstd 2^16 (a
// 128 KiB block takes at least 4 bytes: 32,768); bzip2 2^22 (about 46 MB of runs per
// block of some 34 bytes: 1.4 million). Unknown methods: kMaxInflateRatio.
int64_t MaxExpansionOf(uint16_t zipMethod);

// Archives nested inside archives deeper than this are not opened (the outermost
// archive is depth 1).
inline constexpr int32_t kMaxArchiveDepth = 16;

// The archive format a prepared name asks for, by its ending, compared byte for byte.
ArchiveKind ArchiveKindOf(const SharedString& preparedName);

// True when the prepared name ends in one of the endings of ArchiveKind.
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
  // "cannot read tar/tgz file: %s", for kZip "cannot open zip file: %s", for the
  // other kinds "cannot read tar.xz file: %s: %s" (tar.bz2, tar.zst) with reason, on
  // standard error, errorCount. reason is null for kTar, kGzipTar and kZip, else the
  // decoder's FailureReason, "damaged tar data" when the decoder was not at fault, or
  // "nested more than 16 archives deep"; valid during the call.
  virtual void ArchiveUnreadable(ArchiveKind kind, const char* reason) = 0;
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
