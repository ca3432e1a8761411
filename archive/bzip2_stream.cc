#include "archive/bzip2_stream.h"

#include <bzlib.h>

#include <climits>
#include <cstring>
#include <new>

#include "core/allocation.h"

namespace qm {

// libbz2's stream; between two streams of a file none is active.
struct Bzip2Stream::Library {
  bz_stream stream;
  bool isActive = false;
  int32_t streamsDone = 0;
};

Bzip2Stream::Bzip2Stream()
    : DecoderStream("bzip2"), library_(new (AllocateOrDie(sizeof(Library), alignof(Library))) Library) {}

Bzip2Stream::~Bzip2Stream() {
  EndLibrary();
  library_->~Library();
  Free(library_);
}

namespace {

// Normal mode (verbosity 0, small 0): the fast decoder, about 3.7 MB at most.
DecoderFault Begin(bz_stream& stream) {
  std::memset(&stream, 0, sizeof stream);
  const int result = BZ2_bzDecompressInit(&stream, 0, 0);
  if (result == BZ_OK) return DecoderFault::kNone;
  return result == BZ_MEM_ERROR ? DecoderFault::kNoMemory : DecoderFault::kUnsupported;
}

}  // namespace

DecoderFault Bzip2Stream::StartLibrary() {
  EndLibrary();
  library_->streamsDone = 0;
  const DecoderFault fault = Begin(library_->stream);
  library_->isActive = fault == DecoderFault::kNone;
  return fault;
}

DecoderStream::Progress Bzip2Stream::Decode(Window& window, bool isInputEnd) {
  Library& library = *library_;
  if (!library.isActive) {
    // Between streams: the input's end ends the data; anything else starts a stream.
    if (window.inCount == 0) return isInputEnd ? Progress::kEnd : Progress::kRunning;
    const DecoderFault fault = Begin(library.stream);
    if (fault != DecoderFault::kNone) return Fail(fault);
    library.isActive = true;
  }
  bz_stream& stream = library.stream;
  // libbz2 counts in unsigned int, and reads its input through a non-const pointer.
  const unsigned int inCount =
      window.inCount < UINT_MAX ? static_cast<unsigned int>(window.inCount) : UINT_MAX;
  const unsigned int outCount =
      window.outCount < UINT_MAX ? static_cast<unsigned int>(window.outCount) : UINT_MAX;
  stream.next_in = const_cast<char*>(reinterpret_cast<const char*>(window.in));
  stream.avail_in = inCount;
  stream.next_out = reinterpret_cast<char*>(window.out);
  stream.avail_out = outCount;
  const int result = BZ2_bzDecompress(&stream);
  window.in += inCount - stream.avail_in;
  window.inCount -= inCount - stream.avail_in;
  window.out += outCount - stream.avail_out;
  window.outCount -= outCount - stream.avail_out;
  switch (result) {
    case BZ_OK:
      return Progress::kRunning;
    case BZ_STREAM_END:
      BZ2_bzDecompressEnd(&stream);
      library.isActive = false;
      ++library.streamsDone;
      return IsSingleStream() ? Progress::kEnd : Progress::kRunning;
    case BZ_DATA_ERROR_MAGIC:
      // After a whole stream, bytes that are no stream are trailing garbage.
      return library.streamsDone > 0 ? Progress::kEnd : Fail(DecoderFault::kNotFormat);
    case BZ_MEM_ERROR:
      return Fail(DecoderFault::kNoMemory);
    default:  // BZ_DATA_ERROR, a failed CRC among them
      return Fail(DecoderFault::kCorrupt);
  }
}

void Bzip2Stream::EndLibrary() {
  Library& library = *library_;
  if (!library.isActive) return;
  BZ2_bzDecompressEnd(&library.stream);
  library.isActive = false;
}

}  // namespace qm
