// Fuzz target for the library decoders (XzStream, Bzip2Stream, ZstdStream). The first
// input byte picks the decoder (bits 0-1: xz, bzip2, zstd, raw LZMA whose 5 property
// bytes and 32-bit little-endian uncompressed size come next), single-stream mode (bit 2) and a read size
// (bits 3-7); the rest is the compressed data. It is decoded once with large reads and once with reads of the
// picked size: both must agree on the output and on the fault, a failed read must give
// no reason-less fault, and a rewind must reproduce the first decoding. Output is
// capped so that highly expanding inputs stay quick.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "archive/bzip2_stream.h"
#include "archive/xz_stream.h"
#include "archive/zstd_stream.h"
#include "core/little_endian.h"
#include "core/memory_stream.h"

namespace {

constexpr size_t kOutputCap = size_t{1} << 22;

struct Outcome {
  std::string bytes;
  bool isOk = true;
  qm::DecoderFault fault = qm::DecoderFault::kNone;
};

Outcome ReadAllOf(qm::DecoderStream& stream, int64_t readSize) {
  Outcome outcome;
  std::string buffer(static_cast<size_t>(readSize), '\0');
  for (;;) {
    int64_t got = -1;
    outcome.isOk = stream.Read(buffer.data(), readSize, got);
    if (got < 0 || got > readSize) std::abort();
    outcome.bytes.append(buffer.data(), static_cast<size_t>(got));
    if (!outcome.isOk) {
      outcome.fault = stream.Fault();
      if (outcome.fault == qm::DecoderFault::kNone || stream.FailureReason() == nullptr) std::abort();
      // A failed stream stays failed.
      if (stream.Read(buffer.data(), readSize, got) || got != 0) std::abort();
      break;
    }
    if (got == 0) {
      if (!stream.AtEnd()) std::abort();
      break;
    }
    if (got != readSize && !stream.AtEnd()) std::abort();  // short only at the end
    if (outcome.bytes.size() >= kOutputCap) break;
  }
  return outcome;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > (size_t{1} << 20)) return 0;
  const uint8_t selector = data[0];
  const int kind = selector & 3;
  size_t skipped = 1;
  std::unique_ptr<qm::DecoderStream> stream;
  if (kind == 0) {
    stream.reset(new qm::XzStream());
  } else if (kind == 1) {
    stream.reset(new qm::Bzip2Stream());
  } else if (kind == 2) {
    stream.reset(new qm::ZstdStream());
  } else {
    if (size < 10) return 0;
    auto* lzma = new qm::XzStream();
    lzma->SetRawLzma(data + 1, qm::LoadLittle32(data + 6));
    stream.reset(lzma);
    skipped = 10;
  }
  stream->SetSingleStream((selector & 4) != 0);
  const int64_t readSize = 1 + (selector >> 3) * 97;
  qm::MemoryStream source(data + skipped, static_cast<int32_t>(size - skipped));
  stream->Open(&source, false);
  // A rewind fails only where the start failed (data that needs too much memory).
  const Outcome large = ReadAllOf(*stream, 1 << 16);
  if (!stream->Rewind() && !large.bytes.empty()) std::abort();
  const Outcome small = ReadAllOf(*stream, readSize);
  if (!stream->Rewind() && !large.bytes.empty()) std::abort();
  const Outcome again = ReadAllOf(*stream, 1 << 16);
  if (again.bytes != large.bytes || again.isOk != large.isOk || again.fault != large.fault) std::abort();
  // How much a library hands out before it finds damage depends on the room it is
  // given (zstd checks a frame's checksum before output written straight into a large
  // buffer counts): on a failure, and where the cap cut one of them, the outputs need
  // only agree over the shorter one.
  const bool isCapped = large.bytes.size() >= kOutputCap || small.bytes.size() >= kOutputCap;
  const size_t common = std::min(large.bytes.size(), small.bytes.size());
  if (large.bytes.compare(0, common, small.bytes, 0, common) != 0) std::abort();
  if (!isCapped && (small.isOk != large.isOk || small.fault != large.fault)) std::abort();
  if (!isCapped && large.isOk && small.bytes != large.bytes) std::abort();
  return 0;
}
