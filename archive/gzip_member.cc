#include "archive/gzip_member.h"

#include "archive/crc32.h"

namespace qm {
namespace {

constexpr uint8_t kFlagHeaderCrc = 0x02;
constexpr uint8_t kFlagExtra = 0x04;
constexpr uint8_t kFlagName = 0x08;
constexpr uint8_t kFlagComment = 0x10;
constexpr uint8_t kFlagsReserved = 0xE0;

// Reads header bytes while keeping the CRC-32 of every byte taken, for FHCRC.
class HeaderBytes {
 public:
  explicit HeaderBytes(BitReader& reader) : reader_(reader) {}

  bool Byte(uint8_t& value) {
    if (!reader_.ReadByteBits(value)) return false;
    crc_ = Crc32(crc_, &value, 1);
    return true;
  }
  bool Little(int byteCount, uint32_t& value) {
    value = 0;
    for (int i = 0; i < byteCount; ++i) {
      uint8_t byte;
      if (!Byte(byte)) return false;
      value |= uint32_t{byte} << (8 * i);
    }
    return true;
  }
  // A NUL-terminated text; keeps its first kMaxGzipTextLength bytes.
  bool Text(SharedString& out) {
    char kept[kMaxGzipTextLength];
    int32_t keptCount = 0;
    for (;;) {
      uint8_t byte;
      if (!Byte(byte)) return false;
      if (byte == 0) break;
      if (keptCount < kMaxGzipTextLength) kept[keptCount++] = static_cast<char>(byte);
    }
    out = SharedString(kept, kept + keptCount);
    return true;
  }
  uint32_t Crc() const { return crc_; }

 private:
  BitReader& reader_;
  uint32_t crc_ = 0;
};

}  // namespace

bool ReadGzipHeader(BitReader& reader, GzipHeaderInfo& info) {
  info = GzipHeaderInfo();
  HeaderBytes header(reader);
  uint8_t id1, id2, method, flags, extraFlags, system;
  if (!header.Byte(id1) || !header.Byte(id2)) return false;
  if (id1 != 31 || id2 != 139) return RejectInput(reader.fault, InflateFault::BadGzipMagic);
  if (!header.Byte(method)) return false;
  if (method != 8) return RejectInput(reader.fault, InflateFault::BadGzipMethod);
  if (!header.Byte(flags)) return false;
  if ((flags & kFlagsReserved) != 0) return RejectInput(reader.fault, InflateFault::BadGzipFlags);
  if (!header.Little(4, info.modificationTime) || !header.Byte(extraFlags) || !header.Byte(system)) {
    return false;
  }
  if (flags & kFlagExtra) {
    uint32_t extraLength;
    if (!header.Little(2, extraLength)) return false;
    for (uint32_t i = 0; i < extraLength; ++i) {
      uint8_t ignored;
      if (!header.Byte(ignored)) return false;
    }
  }
  if ((flags & kFlagName) && !header.Text(info.fileName)) return false;
  if ((flags & kFlagComment) && !header.Text(info.comment)) return false;
  if (flags & kFlagHeaderCrc) {
    uint32_t expected = header.Crc() & 0xFFFFu;
    uint32_t stored;
    if (!reader.ReadBits(16, stored)) return false;
    if (stored != expected) return RejectInput(reader.fault, InflateFault::BadGzipHeaderCrc);
  }
  return true;
}

bool CheckGzipTrailer(BitReader& reader, uint32_t crc, uint32_t totalOutput) {
  reader.AlignToByte();
  uint32_t storedCrc, storedSize;
  if (!reader.ReadBits32(storedCrc)) return false;
  if (storedCrc != crc) return RejectInput(reader.fault, InflateFault::ChecksumMismatch);
  if (!reader.ReadBits32(storedSize)) return false;
  if (storedSize != totalOutput) return RejectInput(reader.fault, InflateFault::LengthMismatch);
  return true;
}

}  // namespace qm
