// MD5 as intake uses it: one digest over each file's bytes. BM_Md5Update hashes one
// large buffer (64 MiB, the speed to hold against md5sum on a file of that size) and
// typical source-file sizes; BM_Md5Stream hashes through an Md5Stream over a memory
// stream, skipped in 8192-byte reads, as intake does.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <vector>

#include "app/md5.h"
#include "core/memory_stream.h"

namespace qm {
namespace {

std::vector<uint8_t> Bytes(int64_t sizeInBytes) {
  std::vector<uint8_t> bytes(static_cast<size_t>(sizeInBytes));
  uint32_t x = 12345;
  for (uint8_t& byte : bytes) {
    x = x * 1103515245u + 12345u;
    byte = static_cast<uint8_t>(x >> 24);
  }
  return bytes;
}

void BM_Md5Update(benchmark::State& state) {
  const std::vector<uint8_t> bytes = Bytes(state.range(0));
  for (auto _ : state) benchmark::DoNotOptimize(Md5Of(bytes.data(), bytes.size()));
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_Md5Update)->Arg(100)->Arg(4096)->Arg(64 << 10)->Arg(64 << 20);

void BM_Md5Stream(benchmark::State& state) {
  const std::vector<uint8_t> bytes = Bytes(state.range(0));
  for (auto _ : state) {
    MemoryStream memory(bytes.data(), static_cast<int32_t>(bytes.size()));
    Md5Stream stream(&memory);
    benchmark::DoNotOptimize(Skip(stream, stream.Size()));
    benchmark::DoNotOptimize(stream.Digest());
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_Md5Stream)->Arg(4096)->Arg(1 << 20);

}  // namespace
}  // namespace qm
