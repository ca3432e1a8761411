// TarReader: walks the 512-byte header blocks of a tar archive (POSIX ustar, pax
// extended headers, GNU long names) strictly front to back on a sequential stream, and
// hands each member's metadata to the caller in a TarEntry. It borrows its source and
// never seeks; memory is fixed per reader. One thread at a time; not copyable.

// The source may be a file, standard input, an InflateStream or any other readable
// stream. Extended headers are pax 'x' and 'g', GNU long names 'L' and long link names
// 'K'.
//
// Protocol. After a member header (NextEntry, or NextHeader until a header that is
// not extended) the source stands at the member's first data byte. The caller then
// reads or skips exactly entry.size bytes and the padding to the next multiple of 512
// (TarPaddingOf) before asking for the next header. One all-zero block ends the
// archive; a second one is never read, nor anything behind it.
//
// Member types. Regular files ('0', '7', NUL) are what callers count; every other
// type, including old GNU long names ('N'), Solaris extended headers ('X') and GNU
// sparse files ('S'), is delivered as a member of its type for the caller to pass
// over by its size, so the archive goes on behind it.
//
// Safety. Sizes in headers are claims: extended data (pax records, long names) is
// bounded by kMaxExtendedSize before anything is allocated, and every read can fail.
// Memory is fixed per reader: one 512-byte header block on the stack and a scratch
// buffer of at most kMaxExtendedSize + 1 bytes, freed with the reader. A malformed
// header ends the walk with the error flag set; the reader never crashes, loops or
// reads outside its buffers on damaged input.
//
// Ownership. The reader does not own its source; the source must outlive every call.
// TarEntry strings are SharedString handles that stay valid as long as the entry.
// Numeric fields may be octal or base-256 (see ParseNumeric).
//
// Copy rules: TarEntry is intentionally copyable (strings share their blocks).
// TarReader is neither copyable nor movable (it holds a pointer to its source).
#pragma once

#include <cstdint>

#include "core/array.h"
#include "core/shared_string.h"

namespace qm {

class Stream;

inline constexpr int64_t kTarBlockSize = 512;
// Largest pax header or GNU long name accepted, in bytes.
inline constexpr int64_t kMaxExtendedSize = 1048576;

// Padding bytes behind size bytes of member data: 512 - size mod 512, or 0.
// Requires: size >= 0.
inline int64_t TarPaddingOf(int64_t size) {
  const int64_t partial = size % kTarBlockSize;
  return partial == 0 ? 0 : kTarBlockSize - partial;
}

// The metadata of one member, as built up by one or more headers.
struct TarEntry {
  int64_t size = 0;              // bytes of member data behind the header; 0 when not set
  int64_t modificationTime = 0;  // seconds, from the mtime field
  SharedString name;             // member path; empty when not set
  SharedString linkName;         // target of a link
  SharedString userName;
  SharedString groupName;
  uint32_t mode = 0;  // permission bits
  uint32_t uid = 0;
  uint32_t gid = 0;
  uint32_t deviceMajor = 0;
  uint32_t deviceMinor = 0;
  char typeFlag = 0;  // the header's typeflag byte

  // Empties the strings and zeroes the numbers.
  void Clear();
};

// Largest member size accepted (4 EiB): a larger size, from a header field or a pax
// record, is damage, so positions past a member can never overflow.
inline constexpr int64_t kMaxTarMemberSize = INT64_MAX / 2;

// The value of an octal header field of `width` bytes. The field is read as if copied
// into a buffer one byte longer and terminated there: leading blanks are skipped, then
// digits 0-7 are taken, most significant first, up to the first other byte. No digits
// gives 0.
// Requires: 0 < width <= 20 (so the value cannot overflow; header fields are at most 12).
int64_t ParseOctal(const uint8_t* field, int32_t width);

// The value of a numeric header field (size, mode, ids, time, device numbers): octal
// as ParseOctal, or, when the first byte has its top bit set, the binary form GNU tar
// and star write for values octal cannot hold (sizes of 8 GiB and more): a big-endian
// two's complement number in the field's remaining bits, whose sign is bit 0x40 of
// the first byte (0x80 starts a positive value, 0xFF a negative one). Returns false
// when the value does not fit in 64 signed bits. Requires: 0 < width <= 20.
bool ParseNumeric(const uint8_t* field, int32_t width, int64_t& value);

class TarReader {
 public:
  TarReader() = default;
  TarReader(const TarReader&) = delete;
  TarReader& operator=(const TarReader&) = delete;

  // Starts reading source (not owned) from its current position; clears the global
  // defaults. Returns false for a null source (the reader stays closed).
  bool Open(Stream* source);
  // Forgets the source and the global defaults and frees the scratch buffer.
  void Close();
  bool IsOpen() const { return openMode_ == 0; }

  // Reads one header block and applies it to entry. Returns true when a header was
  // read and applied. Returns false at the end of the archive (error false): an
  // all-zero block, or, as GNU tar reads it, the end of the source where the next
  // member's header would start, after at least one member. Returns false with error
  // true on a failure: no source, a short or failed read (the source ending inside a
  // block, before any header, or after an extended header), a checksum mismatch (only
  // the unsigned sum is accepted), a size that is negative or above
  // kMaxTarMemberSize, extended data above kMaxExtendedSize, a malformed pax record or
  // a failed padding skip. Every other
  // type flag describes a member ('N', 'X' and the rest that are not read are passed
  // over by the caller by their size); for an old GNU sparse member ('S') the sparse
  // map blocks behind its header are consumed here, and its size is that of the
  // stored data. `extended` is true when the block was a pax or GNU extended
  // header, whose data has then been consumed: the entry carries what it set and the
  // caller must read the next header into the same entry.
  bool NextHeader(TarEntry& entry, bool& error, bool& extended);

  // Copies the global defaults into entry, then calls NextHeader until a header that
  // is not extended. On success the entry describes one member and the source stands
  // at its first data byte. Same results as NextHeader.
  bool NextEntry(TarEntry& entry, bool& error);

  // The defaults set by the last pax global header ('g').
  const TarEntry& GlobalDefaults() const { return globalDefaults_; }

 private:
  // Reads size bytes of pax records into entry, then skips the padding. Requires:
  // 0 < size <= kMaxExtendedSize.
  bool ReadPaxRecords(TarEntry& entry, int64_t size);
  // Reads a GNU long name of size bytes into target (text up to the first NUL), then
  // skips the padding. Sizes above kMaxExtendedSize fail.
  bool ReadLongName(SharedString& target, int64_t size);
  // Reads size bytes into the scratch buffer and puts a NUL behind them.
  bool ReadExtendedData(int64_t size);
  // Reads the sparse map blocks that follow a GNU sparse header, up to the one that
  // says no more follow.
  bool SkipSparseMap();

  Stream* source_ = nullptr;
  int32_t openMode_ = -1;  // -1 closed, 0 reading
  // Whether the source may end cleanly where the next header would start: a member
  // header (not an extended one) was the last header read.
  bool isAtMemberBoundary_ = false;
  TarEntry globalDefaults_;
  Array<uint8_t> scratch_;
};

}  // namespace qm
