#include "archive/zip_reader.h"

#include <cstring>

#include "archive/bzip2_stream.h"
#include "archive/crc32.h"
#include "archive/inflate_stream.h"
#include "archive/xz_stream.h"
#include "archive/zip_keys.h"
#include "archive/zstd_stream.h"
#include "core/little_endian.h"
#include "core/stream.h"

namespace qm {

namespace {

constexpr uint32_t kZip64Marker = 0xFFFFFFFF;
constexpr uint16_t kFlagEncrypted = 1;
constexpr uint16_t kFlagDataDescriptor = 8;
constexpr int64_t kEncryptionHeaderSize = 12;

// Methods read besides stored and deflated: each names a library format.
constexpr uint16_t kMethodBzip2 = 12;
constexpr uint16_t kMethodLzma = 14;
constexpr uint16_t kMethodZstd = 93;
constexpr uint16_t kMethodXz = 95;
// An LZMA entry's data starts with the LZMA version (2 bytes) and the size of the
// properties that follow (2 bytes), which is 5.
constexpr int64_t kLzmaPropertiesSize = 5;

bool ReadU32(Stream& stream, uint32_t& value) {
  uint8_t bytes[4];
  if (!ReadExactly(stream, bytes, 4)) return false;
  value = LoadLittle32(bytes);
  return true;
}

// Every seek while the directory is read goes forward: that is what bounds the walk
// over a hostile directory by the size of the file.
bool SeekForward(Stream& stream, uint64_t count) {
  if (count == 0) return true;
  if (count > static_cast<uint64_t>(INT64_MAX)) return false;
  return stream.Seek(static_cast<int64_t>(count), kSeekCurrent);
}

// base + offset as a position, or -1 when it does not fit.
int64_t PositionOf(int64_t base, uint64_t offset) {
  if (base < 0 || offset > static_cast<uint64_t>(INT64_MAX - base)) return -1;
  return base + static_cast<int64_t>(offset);
}

// The 26 bytes that a local header starts with and a central header repeats after
// its version-made-by field: version needed, flags, method, time, date, CRC-32, the
// two 32-bit sizes, name and extra lengths.
void LoadSharedHeaderFields(const uint8_t* fields, ZipEntry& entry) {
  entry.versionNeeded = LoadLittle16(fields);
  entry.flags = LoadLittle16(fields + 2);
  entry.method = LoadLittle16(fields + 4);
  entry.modificationTime = LoadLittle16(fields + 6);
  entry.modificationDate = LoadLittle16(fields + 8);
  entry.crc32 = LoadLittle32(fields + 10);
  entry.compressedSize = LoadLittle32(fields + 14);
  entry.uncompressedSize = LoadLittle32(fields + 18);
  entry.nameLength = LoadLittle16(fields + 22);
  entry.extraLength = LoadLittle16(fields + 24);
}

}  // namespace

bool ZipReader::Open(Stream* source, int32_t mode) {
  Close();
  if (mode != 0 || source == nullptr) return false;
  if ((source->Flags() & kStreamPositioned) == 0) return false;
  const int64_t base = source->Tell();
  if (base < 0) return false;
  source_ = source;
  base_ = base;
  mode_ = 0;
  if (!ReadDirectory()) {
    Close();
    return false;
  }
  return true;
}

void ZipReader::Close() {
  entries_.Clear();
  nameBuffer_.Clear();
  source_ = nullptr;
  base_ = -1;
  directoryPosition_ = -1;
  mode_ = -1;
}

bool ZipReader::ReadDirectory() {
  entries_.Clear();
  Stream& source = *source_;

  // The end record is the last signature within kZipEndRecordSearch bytes of the
  // end; searching the tail from the back in one buffer finds the same record as
  // probing 4 bytes at each distance from 22 on, with one read instead of 65537.
  const int64_t size = source.Size();
  if (size < kZipEndRecordSize) return false;
  const int64_t tailSize = size < kZipEndRecordSearch ? size : kZipEndRecordSearch;
  Array<uint8_t> tail;
  tail.Resize(static_cast<int32_t>(tailSize));
  if (!source.Seek(size - tailSize, kSeekStart) || !ReadExactly(source, tail.Data(), tailSize)) return false;
  int64_t endRecord = -1;
  for (int64_t distance = kZipEndRecordSize; distance <= tailSize; ++distance) {
    if (LoadLittle32(tail.Data() + (tailSize - distance)) == kZipEndRecordSignature) {
      endRecord = size - distance;
      break;
    }
  }
  tail.Clear();
  if (endRecord < 0 || !source.Seek(endRecord + 4, kSeekStart)) return false;

  ZipEndRecord record;
  record.directoryEnd = endRecord;
  if (!ReadEndRecord(record)) return false;
  directoryPosition_ = PositionOf(base_, record.directoryOffset);
  if (!IsAtSignature(directoryPosition_, false) && record.directoryEnd >= 0 &&
      record.directorySize <= static_cast<uint64_t>(record.directoryEnd)) {
    // Bytes before the archive: the directory really starts directorySize bytes before
    // the end record, and the difference moves every offset.
    const int64_t actual = record.directoryEnd - static_cast<int64_t>(record.directorySize);
    if (actual > base_ && static_cast<uint64_t>(actual - base_) > record.directoryOffset &&
        IsAtSignature(actual, true)) {
      base_ = actual - static_cast<int64_t>(record.directoryOffset);
      directoryPosition_ = actual;
    }
  }
  if (directoryPosition_ < 0 || !source.Seek(directoryPosition_, kSeekStart)) return false;

  // The entry count of the end record is not trusted: records are read until an end
  // signature. Each iteration reads at least 4 bytes and seeks only forward.
  for (;;) {
    uint32_t signature = 0;
    if (!ReadU32(source, signature)) return false;
    switch (signature) {
      case kZipCentralHeaderSignature: {
        ZipEntry entry;
        if (!ReadCentralHeader(entry)) return false;
        entries_.PushBack(entry);
        break;
      }
      case kZipLocalHeaderSignature: {
        ZipEntry local;
        if (!ReadLocalHeader(source, local) || !SeekForward(source, local.compressedSize)) return false;
        break;
      }
      case kZipEndRecordSignature:
      case kZip64EndRecordSignature:
        return true;
      default:
        return false;
    }
  }
}

bool ZipReader::IsAtSignature(int64_t position, bool isCentralOnly) {
  uint32_t signature = 0;
  if (position < 0 || !source_->Seek(position, kSeekStart) || !ReadU32(*source_, signature)) return false;
  if (signature == kZipCentralHeaderSignature) return true;
  return !isCentralOnly && (signature == kZipLocalHeaderSignature || signature == kZipEndRecordSignature ||
                            signature == kZip64EndRecordSignature);
}

bool ZipReader::IsZip64EndRecordAt(int64_t position) {
  uint32_t signature = 0;
  return position >= 0 && source_->Seek(position, kSeekStart) && ReadU32(*source_, signature) &&
         signature == kZip64EndRecordSignature;
}

bool ZipReader::ReadEndRecord(ZipEndRecord& record) {
  Stream& source = *source_;
  const int64_t afterSignature = source.Tell();
  uint8_t fields[18];
  if (afterSignature < 0 || !ReadExactly(source, fields, sizeof fields)) return false;
  record.diskNumber = LoadLittle16(fields);
  record.directoryDisk = LoadLittle16(fields + 2);
  record.entriesOnDisk = LoadLittle16(fields + 4);
  record.totalEntries = LoadLittle16(fields + 6);
  record.directorySize = LoadLittle32(fields + 8);
  record.directoryOffset = LoadLittle32(fields + 12);
  record.commentLength = LoadLittle16(fields + 16);
  if (!SeekForward(source, record.commentLength)) return false;
  if (record.directoryOffset != kZip64Marker) return true;

  // The zip64 locator, when there is one, ends where the end record's signature
  // begins. Without it the 32-bit values stand.
  uint32_t signature = 0;
  const int64_t locator = afterSignature - 24;
  if (locator < 0 || !source.Seek(locator, kSeekStart) || !ReadU32(source, signature)) return false;
  if (signature != kZip64LocatorSignature) return true;
  uint8_t locatorFields[12];
  if (!ReadExactly(source, locatorFields, sizeof locatorFields)) return false;
  // The record is where the locator says, or, when bytes were put before the archive,
  // just before the locator.
  uint64_t zip64Record = LoadLittle64(locatorFields + 4);
  const int64_t adjacent = locator - kZip64EndRecordSize;
  if (adjacent > 0 && zip64Record < static_cast<uint64_t>(adjacent) &&
      !IsZip64EndRecordAt(static_cast<int64_t>(zip64Record)) && IsZip64EndRecordAt(adjacent)) {
    zip64Record = static_cast<uint64_t>(adjacent);
  }
  if (zip64Record > static_cast<uint64_t>(INT64_MAX) ||
      !source.Seek(static_cast<int64_t>(zip64Record), kSeekStart) || !ReadU32(source, signature) ||
      signature != kZip64EndRecordSignature) {
    return false;
  }
  record.directoryEnd = static_cast<int64_t>(zip64Record);
  // Record size (8), version made by (2), version needed (2), then the fields.
  uint8_t zip64Fields[52];
  if (!ReadExactly(source, zip64Fields, sizeof zip64Fields)) return false;
  record.diskNumber = LoadLittle32(zip64Fields + 12);
  record.directoryDisk = LoadLittle32(zip64Fields + 16);
  record.entriesOnDisk = LoadLittle64(zip64Fields + 20);
  record.totalEntries = LoadLittle64(zip64Fields + 28);
  record.directorySize = LoadLittle64(zip64Fields + 36);
  record.directoryOffset = LoadLittle64(zip64Fields + 44);
  record.commentLength = 0;
  return true;
}

bool ZipReader::ReadCentralHeader(ZipEntry& entry) {
  Stream& source = *source_;
  uint8_t fields[42];
  if (!ReadExactly(source, fields, sizeof fields)) return false;
  entry.versionMadeBy = LoadLittle16(fields);
  LoadSharedHeaderFields(fields + 2, entry);
  entry.commentLength = LoadLittle16(fields + 28);
  entry.diskNumberStart = LoadLittle16(fields + 30);
  entry.internalAttributes = LoadLittle16(fields + 32);
  entry.externalAttributes = LoadLittle32(fields + 34);
  entry.localHeaderOffset = LoadLittle32(fields + 38);

  nameBuffer_.Resize(entry.nameLength);
  if (!ReadExactly(source, nameBuffer_.Data(), entry.nameLength)) return false;
  entry.name = SharedString(nameBuffer_.Data(), nameBuffer_.Data() + entry.nameLength);
  if (entry.extraLength != 0 && !ReadExtraField(source, entry.extraLength, entry.uncompressedSize,
                                                entry.compressedSize, &entry.localHeaderOffset)) {
    return false;
  }
  return SeekForward(source, entry.commentLength);
}

bool ZipReader::ReadLocalHeader(Stream& source, ZipEntry& entry) {
  uint8_t fields[26];
  if (!ReadExactly(source, fields, sizeof fields)) return false;
  LoadSharedHeaderFields(fields, entry);
  if (!SeekForward(source, entry.nameLength)) return false;
  return entry.extraLength == 0 ||
         ReadExtraField(source, entry.extraLength, entry.uncompressedSize, entry.compressedSize, nullptr);
}

bool ZipReader::ReadExtraField(Stream& source, uint32_t length, uint64_t& uncompressedSize,
                               uint64_t& compressedSize, uint64_t* localHeaderOffset) {
  if (length == 0) return true;
  if (length < 4) return false;
  uint32_t consumed = 0;
  for (;;) {
    uint8_t header[4];
    if (!ReadExactly(source, header, 4)) return false;
    const uint16_t id = LoadLittle16(header);
    const uint16_t blockSize = LoadLittle16(header + 2);
    if (id == 1) {
      // Only the values whose 32-bit field holds the marker are present, in this
      // order; a value the block is too short for leaves it and the later ones unread.
      uint8_t data[24];
      const uint16_t taken = blockSize < sizeof data ? blockSize : static_cast<uint16_t>(sizeof data);
      if (!ReadExactly(source, data, taken) || !SeekForward(source, blockSize - taken)) return false;
      uint16_t cursor = 0;
      uint64_t* fields[3] = {&uncompressedSize, &compressedSize, localHeaderOffset};
      for (uint64_t* field : fields) {
        if (field == nullptr || *field != kZip64Marker) continue;
        if (cursor + 8 > taken) break;
        *field = LoadLittle64(data + cursor);
        cursor += 8;
      }
    } else if (!SeekForward(source, blockSize)) {
      return false;
    }
    consumed += uint32_t{blockSize} + 4;
    if (consumed == length) return true;
    if (consumed > length || length - consumed < 4) return false;
  }
}

StreamRef<Stream> ZipReader::OpenEntry(int32_t index, const ZipKeys* keys, bool separateHandle,
                                       ZipOpenFailure* failure) {
  ZipOpenFailure ignored;
  ZipOpenFailure& why = failure != nullptr ? *failure : ignored;
  why = ZipOpenFailure::kNoEntry;
  if (mode_ != 0 || source_ == nullptr || index < 0 || index >= entries_.Count()) return {};
  const ZipEntry* entry = &entries_[index];
  ZipKeys entryKeys = keys != nullptr ? *keys : ZipKeys{};
  StreamRef<Stream> duplicate;
  Stream* source = source_;
  if (separateHandle) {
    why = ZipOpenFailure::kNoHandle;
    duplicate = StreamRef<Stream>(source_->Duplicate());
    if (!duplicate) return {};
    source = duplicate.Get();
  }

  // The offset is a claim: it must lead to a local header's signature.
  why = ZipOpenFailure::kBadLocalHeader;
  const int64_t localHeader = PositionOf(base_, entry->localHeaderOffset);
  uint32_t signature = 0;
  if (localHeader < 0 || !source->Seek(localHeader, kSeekStart) || !ReadU32(*source, signature) ||
      signature != kZipLocalHeaderSignature) {
    return {};
  }
  ZipEntry local;
  if (!ReadLocalHeader(*source, local)) return {};
  const bool isEncrypted = (local.flags & kFlagEncrypted) != 0;
  if ((local.method & ~uint16_t{8}) != 0) {
    return OpenLibraryEntry(*entry, local.method, isEncrypted, separateHandle, *source, why);
  }

  if (isEncrypted) {
    why = ZipOpenFailure::kBadLocalHeader;
    uint8_t header[kEncryptionHeaderSize];
    if (!ReadExactly(*source, header, kEncryptionHeaderSize)) return {};
    why = ZipOpenFailure::kWrongKeys;
    entryKeys.Decrypt(header, kEncryptionHeaderSize);
    const uint8_t expected = (local.flags & kFlagDataDescriptor) != 0
                                 ? static_cast<uint8_t>(entry->modificationTime >> 8)
                                 : static_cast<uint8_t>(entry->crc32 >> 24);
    if (header[kEncryptionHeaderSize - 1] != expected) return {};
  }
  why = ZipOpenFailure::kNone;

  InflateStream* stream = InflateStream::New(Raw);
  if (local.method == 8) {
    stream->SetMode(RawCrc);
    stream->SetPresetLength(
        entry->uncompressedSize <= 0xFFFFFFFFu ? static_cast<uint32_t>(entry->uncompressedSize) : 0);
  } else {
    stream->SetMode(Stored);
    stream->SetPresetLength(static_cast<uint32_t>(entry->uncompressedSize));
  }
  stream->SetChecksumFunction(Crc32);
  stream->SetExpectedChecksum(entry->crc32);
  stream->Open(source, isEncrypted ? &entryKeys : nullptr, separateHandle);
  return StreamRef<Stream>(stream);
}

StreamRef<Stream> ZipReader::OpenLibraryEntry(const ZipEntry& entry, uint16_t method, bool isEncrypted,
                                              bool ownsSource, Stream& source, ZipOpenFailure& why) {
  why = ZipOpenFailure::kUnsupportedMethod;
  if (method != kMethodBzip2 && method != kMethodLzma && method != kMethodZstd && method != kMethodXz)
    return {};
  why = ZipOpenFailure::kNotDecryptable;
  if (isEncrypted) return {};
  DecoderStream* stream = nullptr;
  if (method == kMethodLzma) {
    why = ZipOpenFailure::kBadLzmaHeader;
    uint8_t header[4 + kLzmaPropertiesSize];
    if (!ReadExactly(source, header, 4) || LoadLittle16(header + 2) != kLzmaPropertiesSize ||
        !ReadExactly(source, header + 4, kLzmaPropertiesSize)) {
      return {};
    }
    auto* lzma = new XzStream();
    lzma->SetRawLzma(header + 4, entry.uncompressedSize);
    stream = lzma;
  } else if (method == kMethodXz) {
    stream = new XzStream();
  } else if (method == kMethodBzip2) {
    stream = new Bzip2Stream();
  } else {
    stream = new ZstdStream();
  }
  why = ZipOpenFailure::kNone;
  stream->SetSingleStream(true);
  stream->SetExpectedCrc32(entry.crc32);
  stream->Open(&source, ownsSource);
  return StreamRef<Stream>(stream);
}

}  // namespace qm
