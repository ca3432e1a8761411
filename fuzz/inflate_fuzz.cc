// Fuzz target for the DEFLATE decoder. The first input byte picks the mode and a read
// size; the rest is the compressed data. The data is decoded once with large reads
// and once with reads of the picked size: both must agree byte for byte on the output,
// on where it fails and on what is handed out after a failure. A rewind must then
// reproduce the first decoding. Output is capped so that a small input expanding a
// thousandfold stays quick.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "archive/crc32.h"
#include "archive/inflate_stream.h"
#include "core/memory_stream.h"

namespace {

constexpr size_t kOutputCap = size_t{1} << 22;

struct Outcome {
  std::string bytes;
  bool isOk = true;
  qm::InflateFault fault = qm::InflateFault::None;
};

Outcome ReadAllOf(qm::InflateStream& stream, int64_t readSize) {
  Outcome outcome;
  std::string buffer(static_cast<size_t>(readSize), '\0');
  for (;;) {
    int64_t got = 0;
    const bool isOk = stream.Read(buffer.data(), readSize, got);
    if (got < 0 || got > readSize) std::abort();
    outcome.bytes.append(buffer.data(), static_cast<size_t>(got));
    if (!isOk && outcome.isOk) {
      // The failing read may leave decoded bytes pending: later reads hand them out
      // and keep failing.
      outcome.isOk = false;
      outcome.fault = stream.Decoder().Fault();
      continue;
    }
    if (isOk != outcome.isOk) std::abort();
    if (got == 0 || outcome.bytes.size() >= kOutputCap) break;
  }
  return outcome;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > (size_t{1} << 20)) return 0;
  const uint8_t control = data[0];
  const qm::InflateMode modes[4] = {qm::Raw, qm::RawCrc, qm::Stored, qm::Raw};
  const qm::InflateMode mode = modes[control & 3];
  const int64_t readSize = 1 + (control >> 2) * (control >> 2) * 3;  // 1 .. 11908
  qm::MemoryStream source(data + 1, static_cast<int32_t>(size - 1));
  qm::InflateStream stream(mode);
  // For the checked modes, claim the CRC-32 and length of a guess: the input itself.
  stream.SetExpectedChecksum(qm::Crc32(0, data + 1, size - 1));
  stream.SetPresetLength((control & 3) == 3 ? 0 : static_cast<uint32_t>(size - 1));
  stream.Open(&source, nullptr, false);

  const Outcome whole = ReadAllOf(stream, 1 << 16);
  if (!stream.Rewind()) std::abort();
  const Outcome chunked = ReadAllOf(stream, readSize);
  const size_t common = whole.bytes.size() < chunked.bytes.size() ? whole.bytes.size() : chunked.bytes.size();
  if (whole.bytes.compare(0, common, chunked.bytes, 0, common) != 0) std::abort();
  if (whole.bytes.size() < kOutputCap && chunked.bytes.size() < kOutputCap) {
    if (whole.bytes != chunked.bytes || whole.isOk != chunked.isOk || whole.fault != chunked.fault)
      std::abort();
  }
  return 0;
}
