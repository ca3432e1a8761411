// SharedString on the counting path: HashBytes over file names and extensions (every
// table lookup), comparison of equal-length names, appends that build paths and
// report cells, copies that share, and NormalizePath/JoinPath as the walk uses them
// once per entry.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <vector>

#include "core/path.h"
#include "core/shared_string.h"

namespace qm {
namespace {

std::vector<char> Text(int64_t sizeInBytes) {
  std::vector<char> text(static_cast<size_t>(sizeInBytes));
  for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char>('a' + i * 7 % 26);
  return text;
}

void BM_HashBytes(benchmark::State& state) {
  std::vector<char> text = Text(state.range(0));
  for (auto _ : state) benchmark::DoNotOptimize(HashBytes(text.data(), text.size()));
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_HashBytes)->Arg(3)->Arg(24)->Arg(4096);

void BM_CompareEqualLength(benchmark::State& state) {
  std::vector<char> text = Text(state.range(0));
  SharedString a(text.data(), text.data() + text.size());
  text.back() = '#';
  SharedString b(text.data(), text.data() + text.size());
  for (auto _ : state) {
    benchmark::DoNotOptimize(a.Compare(b));
    benchmark::DoNotOptimize(a == b);
  }
}
BENCHMARK(BM_CompareEqualLength)->Arg(24)->Arg(256);

void BM_AppendPieces(benchmark::State& state) {
  const int64_t pieceCount = state.range(0);
  for (auto _ : state) {
    SharedString s;
    for (int64_t i = 0; i < pieceCount; ++i) s.Append("src/", 4);
    benchmark::DoNotOptimize(s.CStr());
  }
  state.SetItemsProcessed(state.iterations() * pieceCount);
}
BENCHMARK(BM_AppendPieces)->Arg(8)->Arg(4096);

void BM_CopyShares(benchmark::State& state) {
  SharedString original("project/src/module/file_name.cc");
  for (auto _ : state) {
    SharedString copy(original);
    benchmark::DoNotOptimize(copy.CStr());
  }
}
BENCHMARK(BM_CopyShares);

void BM_JoinEntryPath(benchmark::State& state) {
  SharedString directory("/home/user/projects/quill/src/count");
  SharedString name("brace_scanner.cc");
  for (auto _ : state) {
    SharedString path = JoinPath(directory, name);
    benchmark::DoNotOptimize(path.CStr());
  }
}
BENCHMARK(BM_JoinEntryPath);

}  // namespace
}  // namespace qm
