// ZipReader: reads the central directory of a zip archive (with zip64) from a borrowed,
// positioned stream, keeps every ZipEntry in directory order, and opens any entry as
// a stream (the caller's) that delivers its uncompressed bytes and checks their
// CRC-32. Methods 0 and 8, optionally with traditional encryption, and 12 (bzip2), 14
// (LZMA), 93 (zstd) and 95 (xz). A damaged directory fails Open, never hangs. One
// thread at a time; not copyable.

// The format is PKWARE's APPNOTE, with the zip64 end records and extra fields for
// sizes and offsets. Two entries of one name are two entries.
//
// Offsets in the directory are relative to the base: the source's position when the
// reader was opened, so an archive may start inside a larger stream. The zip64 end
// record's own offset, in its locator, is taken from the start of the source.
// Bytes put before an archive without adjusting its offsets (a self-extracting
// program, `cat prefix x.zip`) are found as unzip finds them: when the directory
// offset leads to no zip signature, but the directory ends where the end record
// begins (or the zip64 end record, found just before its locator), the base moves by
// the difference and every offset is read from there.
//
// Safety. Every size, offset and count in the archive is a claim: the directory is
// read record by record, every read can fail, and every seek made while it is read
// goes forward, so a damaged or hostile directory (looping offsets, lying entry
// counts, lengths pointing outside the file) ends with a failed Open after at most
// one pass over the file, never a hang. Nothing is allocated by a size read from the
// archive except entry names (at most 65535 bytes each, read as they are stored into
// a heap buffer, never the stack). Memory is the entries array (proportional to the
// directory actually read) plus a fixed 64 KiB heap buffer while the end record is
// searched.
//
// Ownership. The reader borrows its source while open; the source must stay valid
// until Close. Streams returned by OpenEntry are independent heap objects held by the
// returned handle; each seeks the shared source only when it is opened and rewound, so
// the caller finishes one entry stream before opening the next (or uses a separate
// handle).
//
// Copy rules: ZipEntry is intentionally copyable. ZipReader is neither copyable nor
// movable (it holds its source).
#pragma once

#include <cstdint>

#include "core/array.h"
#include "core/shared_string.h"
#include "core/stream.h"

namespace qm {

struct ZipKeys;

inline constexpr uint32_t kZipLocalHeaderSignature = 0x04034b50;
inline constexpr uint32_t kZipCentralHeaderSignature = 0x02014b50;
inline constexpr uint32_t kZipEndRecordSignature = 0x06054b50;
inline constexpr uint32_t kZip64EndRecordSignature = 0x06064b50;
inline constexpr uint32_t kZip64LocatorSignature = 0x07064b50;
// The end record without its comment, and the farthest it can start from the end of
// the archive (its comment is at most 65535 bytes).
inline constexpr int64_t kZipEndRecordSize = 22;
inline constexpr int64_t kZipEndRecordSearch = kZipEndRecordSize + 65536;
// A zip64 end record without extensible data, as writers make it.
inline constexpr int64_t kZip64EndRecordSize = 56;

// One central directory record. The same type holds a local header while it is read;
// then only versionNeeded, flags, method, time, date, crc32, the sizes and the name
// and extra lengths are filled.
struct ZipEntry {
  uint64_t localHeaderOffset = 0;  // relative to the archive's base
  uint64_t compressedSize = 0;
  uint64_t uncompressedSize = 0;  // for the size limit, the stored copy and intake
  SharedString name;              // the name bytes as stored, no conversion
  uint32_t crc32 = 0;             // expected CRC-32 of the uncompressed bytes
  uint32_t externalAttributes = 0;
  uint16_t versionMadeBy = 0;
  uint16_t versionNeeded = 0;
  uint16_t flags = 0;  // bit 0: encrypted; bit 3: sizes and CRC in a data descriptor
  uint16_t method = 0;
  uint16_t modificationTime = 0;
  uint16_t modificationDate = 0;
  uint16_t nameLength = 0;
  uint16_t extraLength = 0;
  uint16_t commentLength = 0;
  uint16_t diskNumberStart = 0;
  uint16_t internalAttributes = 0;
};

// The entries in directory order.
using ZipEntryTable = Array<ZipEntry>;

// Why OpenEntry gave no stream.
enum class ZipOpenFailure {
  kNone,
  kNoEntry,            // no entry of that index, or the reader is closed
  kNoHandle,           // the separate handle could not be made
  kBadLocalHeader,     // the offset leads past the end or to no local header
  kUnsupportedMethod,  // a method other than 0, 8, 12, 14, 93 and 95
  kWrongKeys,          // encrypted, and the check byte does not fit the keys
  kNotDecryptable,     // encrypted with a method other than 0 and 8
  kBadLzmaHeader,      // LZMA data whose 4-byte header or properties cannot be read
};

// The end of central directory record, widened to the zip64 field sizes.
struct ZipEndRecord {
  uint32_t diskNumber = 0;
  uint32_t directoryDisk = 0;
  uint64_t entriesOnDisk = 0;
  uint64_t totalEntries = 0;  // a claim; never used to size anything
  uint64_t directorySize = 0;
  uint64_t directoryOffset = 0;
  uint16_t commentLength = 0;
  int64_t directoryEnd = -1;  // where the directory ends in the source: the position
                              // of the (zip64) end record, or -1 when not known
};

class ZipReader {
 public:
  ZipReader() = default;
  ~ZipReader() { Close(); }
  ZipReader(const ZipReader&) = delete;
  ZipReader& operator=(const ZipReader&) = delete;

  // Opens the archive on source for reading (mode 0; any other mode fails). An open
  // reader is closed first. Fails when the source is null or not positioned, when no
  // end record is found within kZipEndRecordSearch bytes of the source's end, and on
  // any short read, failed seek or unknown signature while the directory is read;
  // the reader is then closed.
  bool Open(Stream* source, int32_t mode = 0);
  // Drops every entry and forgets the source. Also done by the destructor.
  void Close();
  bool IsOpen() const { return mode_ == 0; }

  // The entries in directory order, every directory record one entry.
  const ZipEntryTable& Entries() const { return entries_; }
  int32_t EntryCount() const { return entries_.Count(); }
  int64_t BasePosition() const { return base_; }
  int64_t DirectoryPosition() const { return directoryPosition_; }

  // A new stream of the uncompressed bytes of entry `index` (of Entries()): an
  // InflateStream for methods 0 and 8, a DecoderStream of one stream for the others
  // (archive/decoder_stream.h), or a null handle with the reason in *failure (when not
  // null): no such entry, a local header offset that leads past the end or to bytes
  // that are not a local header, a method not read, an encryption check byte that
  // does not match (keys null: the keys of an empty password), encryption of another
  // method than 0 and 8, an unreadable LZMA header, or a failed Duplicate. With
  // separateHandle the stream reads a Duplicate of the source, which it owns;
  // otherwise it reads the shared source. A CRC-32 mismatch or damaged data makes the
  // stream's reads fail.
  StreamRef<Stream> OpenEntry(int32_t index, const ZipKeys* keys, bool separateHandle,
                              ZipOpenFailure* failure = nullptr);

 private:
  bool ReadDirectory();
  // OpenEntry for the library methods, the source standing after the local header.
  static StreamRef<Stream> OpenLibraryEntry(const ZipEntry& entry, uint16_t method, bool isEncrypted,
                                            bool ownsSource, Stream& source, ZipOpenFailure& why);
  // Reads the end record whose signature the source has just passed.
  bool ReadEndRecord(ZipEndRecord& record);
  // Whether the source holds a central header signature at position (or, unless
  // isCentralOnly, any other zip signature). Moves the source.
  bool IsAtSignature(int64_t position, bool isCentralOnly);
  // Whether the source holds a zip64 end record signature at position. Moves the source.
  bool IsZip64EndRecordAt(int64_t position);
  bool ReadCentralHeader(ZipEntry& entry);
  // Reads a local header whose signature source has just passed; the source then
  // stands at the entry's data.
  bool ReadLocalHeader(Stream& source, ZipEntry& entry);
  // Reads an extra field of length bytes, taking the zip64 values (id 1) of the
  // fields that hold 0xFFFFFFFF. offset is null for a local header.
  static bool ReadExtraField(Stream& source, uint32_t length, uint64_t& uncompressedSize,
                             uint64_t& compressedSize, uint64_t* localHeaderOffset);

  Stream* source_ = nullptr;
  int64_t base_ = -1;
  int64_t directoryPosition_ = -1;
  int32_t mode_ = -1;  // -1 closed, 0 reading
  ZipEntryTable entries_;
  Array<char> nameBuffer_;  // the name of the record being read
};

}  // namespace qm
