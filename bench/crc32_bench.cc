// Speed of Crc32 (slicing by four) in bytes per second, from small to large pieces.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <random>
#include <vector>

#include "archive/crc32.h"

namespace {

void Crc32Pieces(benchmark::State& state) {
  std::vector<uint8_t> data(static_cast<size_t>(state.range(0)));
  std::mt19937 random(3);
  for (uint8_t& byte : data) byte = static_cast<uint8_t>(random());
  uint32_t crc = 0;
  for (auto _ : state) {
    crc = qm::Crc32(crc, data.data(), data.size());
    benchmark::DoNotOptimize(crc);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(Crc32Pieces)->Arg(7)->Arg(64)->Arg(4096)->Arg(1 << 20);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
