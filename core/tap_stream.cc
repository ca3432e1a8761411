#include "core/tap_stream.h"

namespace qm {

bool TapStream::Read(void* buffer, int64_t count, int64_t& bytesDone) {
  if (inner_ == nullptr) return Stream::Read(buffer, count, bytesDone);
  const bool isOk = inner_->Read(buffer, count, bytesDone);
  // Bytes that arrived before a failure are handed on too: the tap's running state
  // must see every byte the caller may have got.
  if (tap_ != nullptr && bytesDone > 0) tap_(context_, static_cast<uint8_t*>(buffer), bytesDone);
  return isOk;
}

bool TapStream::Write(const void* buffer, int64_t count, int64_t& bytesDone) {
  if (inner_ == nullptr) return Stream::Write(buffer, count, bytesDone);
  return inner_->Write(buffer, count, bytesDone);
}

uint32_t TapStream::Flags() {
  return inner_ != nullptr ? inner_->Flags() : 0;
}

bool TapStream::Seek(int64_t offset, int origin) {
  return inner_ != nullptr && inner_->Seek(offset, origin);
}

int64_t TapStream::Tell() {
  return inner_ != nullptr ? inner_->Tell() : -1;
}

bool TapStream::Flush() {
  return inner_ == nullptr || inner_->Flush();
}

bool TapStream::AtEnd() {
  return inner_ != nullptr && inner_->AtEnd();
}

}  // namespace qm
