#include "archive/tar_reader.h"

#include <cassert>
#include <cstring>

#include "core/path.h"
#include "core/stream.h"

namespace qm {

namespace {

// Header block layout: offset and width of each field used.
constexpr int32_t kNameOffset = 0, kNameWidth = 100;
constexpr int32_t kModeOffset = 100, kModeWidth = 8;
constexpr int32_t kUidOffset = 108, kUidWidth = 8;
constexpr int32_t kGidOffset = 116, kGidWidth = 8;
constexpr int32_t kSizeOffset = 124, kSizeWidth = 12;
constexpr int32_t kMtimeOffset = 136, kMtimeWidth = 12;
constexpr int32_t kChecksumOffset = 148, kChecksumWidth = 8;
constexpr int32_t kTypeFlagOffset = 156;
constexpr int32_t kLinkNameOffset = 157, kLinkNameWidth = 100;
constexpr int32_t kMagicOffset = 257;
constexpr int32_t kUserNameOffset = 265, kUserNameWidth = 32;
constexpr int32_t kGroupNameOffset = 297, kGroupNameWidth = 32;
constexpr int32_t kDevMajorOffset = 329, kDevMajorWidth = 8;
constexpr int32_t kDevMinorOffset = 337, kDevMinorWidth = 8;
constexpr int32_t kPrefixOffset = 345, kPrefixWidth = 155;
// Old GNU sparse members ('S'): the header's "more sparse map follows" byte, and the
// same byte in each 512-byte map block that follows the header (before the data).
constexpr int32_t kSparseExtendedOffset = 482;
constexpr int32_t kSparseMapExtendedOffset = 504;
static_assert(kPrefixOffset + kPrefixWidth + 12 == kTarBlockSize, "header fields fill the block");

// A text field: the bytes up to the first NUL, at most width of them (a field may
// fill its whole width without a terminator).
SharedString FieldText(const uint8_t* field, int32_t width) {
  const auto* begin = reinterpret_cast<const char*>(field);
  const void* nul = std::memchr(begin, 0, static_cast<size_t>(width));
  const char* end = nul != nullptr ? static_cast<const char*>(nul) : begin + width;
  return SharedString(begin, end);
}

bool IsAllZero(const uint8_t* block) {
  for (int64_t i = 0; i < kTarBlockSize; ++i) {
    if (block[i] != 0) return false;
  }
  return true;
}

// A numeric field that only describes the member (mode, ids, time, devices): a value
// that does not fit reads as 0, as a field without digits does.
int64_t NumericOrZero(const uint8_t* field, int32_t width) {
  int64_t value = 0;
  return ParseNumeric(field, width, value) ? value : 0;
}

bool IsGnuHeader(const uint8_t* block) {
  return std::memcmp(block + kMagicOffset, "ustar  ", 7) == 0;
}

bool IsUstarHeader(const uint8_t* block) {
  const uint8_t* magic = block + kMagicOffset;
  if (std::memcmp(magic, "ustar", 5) != 0) return false;
  return magic[5] == 0 || (magic[5] == ' ' && magic[6] == ' ');
}

// Decimal digits of a pax value into a 64-bit number. No digits gives 0; anything
// after the digits is ignored. False when the value does not fit in 63 bits.
bool ParseDecimal(const uint8_t* cursor, const uint8_t* end, int64_t& value) {
  value = 0;
  for (; cursor < end && *cursor >= '0' && *cursor <= '9'; ++cursor) {
    const int64_t digit = *cursor - '0';
    if (value > (INT64_MAX - digit) / 10) return false;
    value = value * 10 + digit;
  }
  return true;
}

}  // namespace

void TarEntry::Clear() {
  size = 0;
  modificationTime = 0;
  name.Clear();
  linkName.Clear();
  userName.Clear();
  groupName.Clear();
  mode = uid = gid = deviceMajor = deviceMinor = 0;
  typeFlag = 0;
}

int64_t ParseOctal(const uint8_t* field, int32_t width) {
  assert(width > 0 && width <= 20);
  int32_t i = 0;
  while (i < width && field[i] == ' ') ++i;
  int64_t value = 0;
  for (; i < width && field[i] >= '0' && field[i] <= '7'; ++i) value = value * 8 + (field[i] - '0');
  return value;
}

bool ParseNumeric(const uint8_t* field, int32_t width, int64_t& value) {
  assert(width > 0 && width <= 20);
  if ((field[0] & 0x80) == 0) {
    value = ParseOctal(field, width);
    return true;
  }
  // Base-256: the bits after the marker bit form a two's complement number. A negative
  // one is read as its complement m, the value being -(m + 1); either way the magnitude
  // must fit in 63 bits.
  const uint8_t flip = (field[0] & 0x40) != 0 ? 0xFF : 0x00;
  uint64_t magnitude = (field[0] ^ flip) & 0x3F;
  for (int32_t i = 1; i < width; ++i) {
    if (magnitude > (UINT64_MAX >> 8)) return false;
    magnitude = magnitude << 8 | static_cast<uint8_t>(field[i] ^ flip);
  }
  if (magnitude > static_cast<uint64_t>(INT64_MAX)) return false;
  value = flip != 0 ? -static_cast<int64_t>(magnitude) - 1 : static_cast<int64_t>(magnitude);
  return true;
}

bool TarReader::Open(Stream* source) {
  Close();
  if (source == nullptr) return false;
  source_ = source;
  openMode_ = 0;
  isAtMemberBoundary_ = false;
  return true;
}

void TarReader::Close() {
  source_ = nullptr;
  openMode_ = -1;
  globalDefaults_.Clear();
  scratch_.Clear();
}

bool TarReader::NextEntry(TarEntry& entry, bool& error) {
  entry = globalDefaults_;
  bool extended = true;
  while (extended) {
    if (!NextHeader(entry, error, extended)) return false;
  }
  return true;
}

bool TarReader::NextHeader(TarEntry& entry, bool& error, bool& extended) {
  error = false;
  extended = false;
  if (source_ == nullptr || openMode_ != 0) {
    error = true;
    return false;
  }
  uint8_t block[kTarBlockSize];
  // The source ending where a member's header would start ends the archive, as GNU
  // tar reads it (writers that stop without end blocks); a short last block is
  // damage, not an end marker.
  int64_t firstRead = 0;
  if (!source_->Read(block, kTarBlockSize, firstRead) || firstRead < 0 || firstRead > kTarBlockSize) {
    error = true;
    return false;
  }
  if (firstRead == 0 && isAtMemberBoundary_) return false;
  if (firstRead == 0 || !ReadExactly(*source_, block + firstRead, kTarBlockSize - firstRead)) {
    error = true;
    return false;
  }
  isAtMemberBoundary_ = false;
  if (block[0] == 0 && IsAllZero(block)) return false;

  const char typeFlag = static_cast<char>(block[kTypeFlagOffset]);
  const bool isUstar = IsUstarHeader(block);
  // The name fields of a GNU long-name header hold a placeholder ("././@LongLink"),
  // never the member's name: applying them would name the member after it when only
  // the link target was long.
  if (typeFlag != 'K' && typeFlag != 'L') {
    if (entry.linkName.IsEmpty()) entry.linkName = FieldText(block + kLinkNameOffset, kLinkNameWidth);
    if (entry.name.IsEmpty()) {
      entry.name = FieldText(block + kNameOffset, kNameWidth);
      if (isUstar && block[kPrefixOffset] != 0) {
        SharedString path = FieldText(block + kPrefixOffset, kPrefixWidth);
        AppendPathComponent(path, entry.name);
        entry.name = path;
      }
    }
  }

  // A size that is negative or absurd is damage: the data behind it cannot be found.
  int64_t headerSize = 0;
  if (!ParseNumeric(block + kSizeOffset, kSizeWidth, headerSize) || headerSize < 0 ||
      headerSize > kMaxTarMemberSize) {
    error = true;
    return false;
  }
  if (entry.size == 0) entry.size = headerSize;
  if (typeFlag == '3' || typeFlag == '4' || typeFlag == '5' || typeFlag == '6' || typeFlag == 'I') {
    entry.size = 0;
  }
  entry.mode = static_cast<uint32_t>(NumericOrZero(block + kModeOffset, kModeWidth));
  entry.modificationTime = NumericOrZero(block + kMtimeOffset, kMtimeWidth);
  entry.uid = static_cast<uint32_t>(NumericOrZero(block + kUidOffset, kUidWidth));
  entry.gid = static_cast<uint32_t>(NumericOrZero(block + kGidOffset, kGidWidth));
  entry.typeFlag = typeFlag;
  if (isUstar) {
    entry.deviceMajor = static_cast<uint32_t>(NumericOrZero(block + kDevMajorOffset, kDevMajorWidth));
    entry.deviceMinor = static_cast<uint32_t>(NumericOrZero(block + kDevMinorOffset, kDevMinorWidth));
    entry.userName = FieldText(block + kUserNameOffset, kUserNameWidth);
    entry.groupName = FieldText(block + kGroupNameOffset, kGroupNameWidth);
  }

  // Only the unsigned sum is accepted: old writers that summed signed bytes are
  // refused when a byte above 127 makes the two sums differ.
  // The checksum field counts as blanks: the whole block is summed (a loop without a
  // branch, which the compiler vectorises), then the field's own bytes are swapped
  // for blanks.
  const int64_t storedChecksum = ParseOctal(block + kChecksumOffset, kChecksumWidth);
  uint32_t wholeSum = 0;
  for (int32_t i = 0; i < kTarBlockSize; ++i) wholeSum += block[i];
  int64_t sum = wholeSum + int64_t{' '} * kChecksumWidth;
  for (int32_t i = kChecksumOffset; i < kChecksumOffset + kChecksumWidth; ++i) sum -= block[i];
  if (sum != storedChecksum) {
    error = true;
    return false;
  }

  switch (typeFlag) {
    case 'S':
      // The data holds only the stored pieces of a sparse file, headerSize bytes in
      // all; the sparse map may go on in blocks of its own before it.
      if (IsGnuHeader(block) && block[kSparseExtendedOffset] != 0 && !SkipSparseMap()) {
        error = true;
        return false;
      }
      isAtMemberBoundary_ = true;
      return true;
    case 'g': {
      extended = true;
      TarEntry defaults;
      if (headerSize != 0 && (headerSize > kMaxExtendedSize || !ReadPaxRecords(defaults, headerSize))) {
        error = true;
        return false;
      }
      globalDefaults_ = defaults;
      entry = globalDefaults_;
      return true;
    }
    case 'x':
      extended = true;
      entry.Clear();
      if (headerSize == 0) return true;
      if (headerSize > kMaxExtendedSize || !ReadPaxRecords(entry, headerSize)) {
        error = true;
        return false;
      }
      return true;
    case 'K':
    case 'L':
      extended = true;
      if (!ReadLongName(typeFlag == 'K' ? entry.linkName : entry.name, headerSize)) {
        error = true;
        return false;
      }
      entry.size = 0;
      return true;
    default:
      // The size may come from a pax record, checked here with the header's.
      if (entry.size < 0 || entry.size > kMaxTarMemberSize) {
        error = true;
        return false;
      }
      isAtMemberBoundary_ = true;
      return true;
  }
}

bool TarReader::SkipSparseMap() {
  uint8_t block[kTarBlockSize];
  do {
    if (!ReadExactly(*source_, block, kTarBlockSize)) return false;
  } while (block[kSparseMapExtendedOffset] != 0);
  return true;
}

bool TarReader::ReadExtendedData(int64_t size) {
  assert(size >= 0 && size <= kMaxExtendedSize);
  scratch_.Resize(static_cast<int32_t>(size + 1));
  if (!ReadExactly(*source_, scratch_.Data(), size)) return false;
  scratch_[static_cast<int32_t>(size)] = 0;
  return true;
}

bool TarReader::ReadPaxRecords(TarEntry& entry, int64_t size) {
  if (!ReadExtendedData(size)) return false;
  const uint8_t* data = scratch_.Data();
  const uint8_t* dataEnd = data + size;
  // Each record is "<length> <key>=<value>\n", length counting the whole record. The
  // record must lie inside the data and hold a key before its '=', so every record
  // moves the cursor forward and a length of 0 cannot loop.
  const uint8_t* record = data;
  while (record < dataEnd && *record != 0) {
    const uint8_t* cursor = record;
    int64_t length = 0;
    for (; cursor < dataEnd && *cursor >= '0' && *cursor <= '9'; ++cursor) {
      length = length * 10 + (*cursor - '0');
      if (length > size) return false;  // longer than the data: it runs past the end
    }
    if (cursor >= dataEnd || *cursor != ' ') return false;
    if (length > dataEnd - record) return false;
    const uint8_t* recordEnd = record + length;
    const uint8_t* key = cursor + 1;
    if (key >= recordEnd) return false;
    const auto* equals =
        static_cast<const uint8_t*>(std::memchr(key, '=', static_cast<size_t>(recordEnd - key)));
    if (equals == nullptr) return false;
    const uint8_t* value = equals + 1;
    const auto* lineFeed =
        static_cast<const uint8_t*>(std::memchr(value, '\n', static_cast<size_t>(recordEnd - value)));
    if (lineFeed == nullptr) return false;

    const auto* keyText = reinterpret_cast<const char*>(key);
    const auto keyLength = static_cast<size_t>(equals - key);
    auto keyIs = [keyText, keyLength](const char* wanted) {
      return std::strlen(wanted) == keyLength && std::memcmp(keyText, wanted, keyLength) == 0;
    };
    const auto* valueText = reinterpret_cast<const char*>(value);
    const auto* valueEnd = reinterpret_cast<const char*>(lineFeed);
    int64_t number = 0;
    if (keyIs("path")) {
      entry.name = SharedString(valueText, valueEnd);
    } else if (keyIs("linkpath")) {
      entry.linkName = SharedString(valueText, valueEnd);
    } else if (keyIs("uname")) {
      entry.userName = SharedString(valueText, valueEnd);
    } else if (keyIs("gname")) {
      entry.groupName = SharedString(valueText, valueEnd);
    } else if (keyIs("size") || keyIs("uid") || keyIs("gid")) {
      if (!ParseDecimal(value, lineFeed, number)) return false;
      if (keyIs("size")) {
        entry.size = number;
      } else if (keyIs("uid")) {
        entry.uid = static_cast<uint32_t>(number);
      } else {
        entry.gid = static_cast<uint32_t>(number);
      }
    }
    record = recordEnd;
  }
  return Skip(*source_, TarPaddingOf(size));
}

bool TarReader::ReadLongName(SharedString& target, int64_t size) {
  target.Clear();
  if (size == 0) return true;
  if (size > kMaxExtendedSize || !ReadExtendedData(size)) return false;
  target = SharedString(reinterpret_cast<const char*>(scratch_.Data()), nullptr);
  return Skip(*source_, TarPaddingOf(size));
}

}  // namespace qm
