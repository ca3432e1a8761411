// Fuzz target for gzip members: header, DEFLATE data and trailer through an
// InflateStream in mode Gzip, read in 4096-byte pieces, then once more after a rewind;
// both decodings must agree. Output is capped to keep expanding inputs quick.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "archive/inflate_stream.h"
#include "core/memory_stream.h"

namespace {

constexpr size_t kOutputCap = size_t{1} << 22;

std::string Decode(qm::InflateStream& stream, bool& isOk) {
  std::string out;
  char buffer[4096];
  isOk = true;
  for (;;) {
    int64_t got = 0;
    isOk = stream.Read(buffer, sizeof buffer, got);
    if (got < 0 || got > static_cast<int64_t>(sizeof buffer)) std::abort();
    out.append(buffer, static_cast<size_t>(got));
    if (!isOk || got == 0 || out.size() >= kOutputCap) break;
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (size_t{1} << 20)) return 0;
  qm::MemoryStream source(data, static_cast<int32_t>(size));
  qm::InflateStream stream(qm::Gzip);
  stream.Open(&source, nullptr, false);
  bool isFirstOk = false, isSecondOk = false;
  const std::string first = Decode(stream, isFirstOk);
  if (!stream.Rewind()) std::abort();
  const std::string second = Decode(stream, isSecondOk);
  if (first != second || isFirstOk != isSecondOk) std::abort();
  if (isFirstOk && !stream.AtEnd() && first.size() < kOutputCap) std::abort();
  return 0;
}
