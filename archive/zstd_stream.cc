#include "archive/zstd_stream.h"

#include <zstd.h>
#include <zstd_errors.h>

#include <new>

#include "core/allocation.h"
#include "core/little_endian.h"

namespace qm {

namespace {

constexpr int kWindowLogMax = 27;
static_assert((uint64_t{1} << kWindowLogMax) == kDecoderMemoryLimit);

// The window a frame header at [next, end) asks for, or 0 when the bytes do not hold a
// whole frame header. Layout (RFC 8878 3.1.1.1): magic (4 bytes), descriptor byte
// (bits 7-6 content size field code, bit 5 single segment, bits 1-0 dictionary ID
// size code), a window byte unless single segment (exponent in bits 7-3, mantissa in
// 2-0), the dictionary ID, the content size, which is the window of a single segment.
uint64_t WindowOfFrameHeader(const uint8_t* next, const uint8_t* end) {
  if (end - next < 6 || LoadLittle32(next) != 0xFD2FB528u) return 0;
  const uint8_t descriptor = next[4];
  const bool isSingleSegment = (descriptor & 0x20) != 0;
  if (!isSingleSegment) {
    const uint8_t window = next[5];
    const uint64_t base = uint64_t{1} << (10 + (window >> 3));
    return base + base / 8 * (window & 7);
  }
  static constexpr int kDictionaryIdBytes[4] = {0, 1, 2, 4};
  static constexpr int kContentSizeBytes[4] = {1, 2, 4, 8};
  const int at = 5 + kDictionaryIdBytes[descriptor & 3];
  const int bytes = kContentSizeBytes[descriptor >> 6];
  if (end - next < at + bytes) return 0;
  uint64_t size = 0;
  for (int i = bytes - 1; i >= 0; --i) size = size << 8 | next[at + i];
  return bytes == 2 ? size + 256 : size;
}

}  // namespace

// libzstd's decoding context; isFrameDone: the last frame begun has ended and every
// byte of it was handed out, so the input may end here.
struct ZstdStream::Library {
  ZSTD_DCtx* context = nullptr;
  bool isFrameDone = false;
  bool hasFrame = false;
};

ZstdStream::ZstdStream()
    : DecoderStream("zstd"), library_(new (AllocateOrDie(sizeof(Library), alignof(Library))) Library) {}

ZstdStream::~ZstdStream() {
  EndLibrary();
  ZSTD_freeDCtx(library_->context);
  library_->~Library();
  Free(library_);
}

DecoderFault ZstdStream::StartLibrary() {
  Library& library = *library_;
  library.isFrameDone = false;
  library.hasFrame = false;
  if (library.context == nullptr) {
    library.context = ZSTD_createDCtx();
    if (library.context == nullptr) return DecoderFault::kNoMemory;
  }
  if (ZSTD_isError(ZSTD_DCtx_reset(library.context, ZSTD_reset_session_and_parameters)) ||
      ZSTD_isError(ZSTD_DCtx_setParameter(library.context, ZSTD_d_windowLogMax, kWindowLogMax))) {
    return DecoderFault::kUnsupported;
  }
  return DecoderFault::kNone;
}

DecoderStream::Progress ZstdStream::Decode(Window& window, bool isInputEnd) {
  Library& library = *library_;
  if (window.inCount == 0 && isInputEnd && library.isFrameDone) return Progress::kEnd;
  const uint8_t* const start = window.in;
  ZSTD_inBuffer in{window.in, window.inCount, 0};
  ZSTD_outBuffer out{window.out, window.outCount, 0};
  const size_t result = ZSTD_decompressStream(library.context, &out, &in);
  window.in += in.pos;
  window.inCount -= in.pos;
  window.out += out.pos;
  window.outCount -= out.pos;
  if (ZSTD_isError(result)) {
    switch (ZSTD_getErrorCode(result)) {
      case ZSTD_error_prefix_unknown:
        return Fail(library.hasFrame ? DecoderFault::kTrailingData : DecoderFault::kNotFormat);
      case ZSTD_error_frameParameter_windowTooLarge:
        // A frame's header is read whole at a call's start, unless it was split
        // between two reads of the input; then the need is not known here.
        return Fail(DecoderFault::kMemoryLimit, WindowOfFrameHeader(start, start + in.size));
      case ZSTD_error_memory_allocation:
        return Fail(DecoderFault::kNoMemory);
      case ZSTD_error_frameParameter_unsupported:
      case ZSTD_error_dictionary_wrong:
        return Fail(DecoderFault::kUnsupported);
      default:  // corruption, a wrong checksum among them
        return Fail(DecoderFault::kCorrupt);
    }
  }
  // 0: a frame has ended and is flushed. Otherwise a frame is under way once input of
  // it was taken (a call that only flushes takes none).
  if (result == 0) {
    library.isFrameDone = true;
    library.hasFrame = true;
    if (IsSingleStream()) return Progress::kEnd;
  } else if (in.pos != 0) {
    library.isFrameDone = false;
  }
  if (window.inCount == 0 && isInputEnd && library.isFrameDone) return Progress::kEnd;
  return Progress::kRunning;
}

void ZstdStream::EndLibrary() {
  // The context is kept for the next start; StartLibrary resets it.
}

}  // namespace qm
