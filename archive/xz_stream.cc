#include "archive/xz_stream.h"

#include <lzma.h>

#include <cstring>
#include <new>

#include "core/allocation.h"
#include "core/little_endian.h"

namespace qm {

// liblzma's stream and, for raw LZMA, the filter chain it decodes with.
struct XzStream::Library {
  lzma_stream stream = LZMA_STREAM_INIT;
  bool isActive = false;
  bool isRawLzma = false;
  uint8_t properties[5] = {};
  uint64_t uncompressedSize = 0;
  lzma_options_lzma options;
};

XzStream::XzStream()
    : DecoderStream("xz"), library_(new (AllocateOrDie(sizeof(Library), alignof(Library))) Library) {}

XzStream::~XzStream() {
  EndLibrary();
  library_->~Library();
  Free(library_);
}

void XzStream::SetRawLzma(const uint8_t properties[5], uint64_t uncompressedSize) {
  library_->isRawLzma = true;
  SetFormatName("LZMA");
  std::memcpy(library_->properties, properties, sizeof library_->properties);
  library_->uncompressedSize = uncompressedSize;
}

namespace {

DecoderFault FaultOf(lzma_ret result) {
  switch (result) {
    case LZMA_MEM_ERROR:
      return DecoderFault::kNoMemory;
    case LZMA_MEMLIMIT_ERROR:
      return DecoderFault::kMemoryLimit;
    case LZMA_FORMAT_ERROR:
      return DecoderFault::kNotFormat;
    case LZMA_OPTIONS_ERROR:
      return DecoderFault::kUnsupported;
    case LZMA_BUF_ERROR:
      return DecoderFault::kTruncated;
    default:  // LZMA_DATA_ERROR, a failed check among them
      return DecoderFault::kCorrupt;
  }
}

}  // namespace

DecoderFault XzStream::StartLibrary() {
  Library& library = *library_;
  EndLibrary();
  lzma_ret result;
  if (!library.isRawLzma) {
    result =
        lzma_stream_decoder(&library.stream, kDecoderMemoryLimit, IsSingleStream() ? 0 : LZMA_CONCATENATED);
  } else {
    // The property byte is (pb * 5 + lp) * 9 + lc; the dictionary size follows.
    const uint32_t packed = library.properties[0];
    if (packed >= 9 * 5 * 5) return DecoderFault::kCorrupt;
    std::memset(&library.options, 0, sizeof library.options);
    library.options.lc = packed % 9;
    library.options.lp = packed / 9 % 5;
    library.options.pb = packed / 45;
    const uint32_t dictionarySize = LoadLittle32(library.properties + 1);
    library.options.dict_size = dictionarySize < LZMA_DICT_SIZE_MIN ? LZMA_DICT_SIZE_MIN : dictionarySize;
    library.options.ext_flags = LZMA_LZMA1EXT_ALLOW_EOPM;
    library.options.ext_size_low = static_cast<uint32_t>(library.uncompressedSize);
    library.options.ext_size_high = static_cast<uint32_t>(library.uncompressedSize >> 32);
    const lzma_filter filters[2] = {{LZMA_FILTER_LZMA1EXT, &library.options}, {LZMA_VLI_UNKNOWN, nullptr}};
    if (library.options.lc + library.options.lp > LZMA_LCLP_MAX) return DecoderFault::kUnsupported;
    const uint64_t need = lzma_raw_decoder_memusage(filters);
    if (need == UINT64_MAX) return DecoderFault::kUnsupported;
    if (need > kDecoderMemoryLimit) {
      Fail(DecoderFault::kMemoryLimit, need);
      return DecoderFault::kMemoryLimit;
    }
    result = lzma_raw_decoder(&library.stream, filters);
  }
  if (result != LZMA_OK) return FaultOf(result);
  library.isActive = true;
  return DecoderFault::kNone;
}

DecoderStream::Progress XzStream::Decode(Window& window, bool isInputEnd) {
  lzma_stream& stream = library_->stream;
  stream.next_in = window.in;
  stream.avail_in = window.inCount;
  stream.next_out = window.out;
  stream.avail_out = window.outCount;
  // Concatenated streams end only when told that the input has.
  const lzma_ret result = lzma_code(&stream, isInputEnd ? LZMA_FINISH : LZMA_RUN);
  window.in = stream.next_in;
  window.inCount = stream.avail_in;
  window.out = stream.next_out;
  window.outCount = stream.avail_out;
  if (result == LZMA_OK) return Progress::kRunning;
  if (result == LZMA_STREAM_END) return Progress::kEnd;
  if (result == LZMA_MEMLIMIT_ERROR) return Fail(DecoderFault::kMemoryLimit, lzma_memusage(&stream));
  return Fail(FaultOf(result));
}

void XzStream::EndLibrary() {
  Library& library = *library_;
  if (!library.isActive) return;
  lzma_end(&library.stream);
  library.stream = LZMA_STREAM_INIT;
  library.isActive = false;
}

}  // namespace qm
