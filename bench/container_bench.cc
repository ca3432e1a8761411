// Containers on the counting path: appending to arrays (read buffers, scanner
// lists), string-map lookups (extension table, by range and by string), digest-map
// insertion (duplicate detection) and the stable sort of type indexes (report order).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <random>
#include <vector>

#include "core/array.h"
#include "core/hash_table.h"
#include "core/shared_string.h"
#include "core/stable_sort.h"

namespace qm {
namespace {

void BM_PushBack(benchmark::State& state) {
  const int32_t count = static_cast<int32_t>(state.range(0));
  for (auto _ : state) {
    Array<int32_t> array;
    for (int32_t i = 0; i < count; ++i) array.PushBack(i);
    benchmark::DoNotOptimize(array.Data());
  }
  state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_PushBack)->Arg(16)->Arg(1 << 16);

void BM_PushBackInline(benchmark::State& state) {
  for (auto _ : state) {
    Array<int32_t, 256> array;
    for (int32_t i = 0; i < 200; ++i) array.PushBack(i);
    benchmark::DoNotOptimize(array.Data());
  }
  state.SetItemsProcessed(state.iterations() * 200);
}
BENCHMARK(BM_PushBackInline);

// Extension-like keys: ".c", ".h", ... plus some misses.
std::vector<SharedString> ExtensionKeys(int32_t count) {
  std::vector<SharedString> keys;
  for (int32_t i = 0; i < count; ++i) keys.push_back(SharedString::Format(".e%d", i));
  return keys;
}

void BM_StringMapFindByRange(benchmark::State& state) {
  std::vector<SharedString> keys = ExtensionKeys(64);
  StringMap map;
  for (int32_t i = 0; i < 32; ++i) map.FindOrInsert(keys[i]);  // half hit, half miss
  int64_t hits = 0;
  for (auto _ : state) {
    for (const SharedString& key : keys) hits += map.Find(key.CStr(), key.CStr() + key.Length()) != nullptr;
  }
  benchmark::DoNotOptimize(hits);
  state.SetItemsProcessed(state.iterations() * 64);
}
BENCHMARK(BM_StringMapFindByRange);

void BM_StringMapFindOrInsert(benchmark::State& state) {
  std::vector<SharedString> keys = ExtensionKeys(static_cast<int32_t>(state.range(0)));
  for (const SharedString& key : keys) key.Hash();  // cached once, as in the program
  for (auto _ : state) {
    StringMap map;
    for (const SharedString& key : keys) map.FindOrInsert(key);
    for (const SharedString& key : keys) map.FindOrInsert(key);
    benchmark::DoNotOptimize(map.Count());
  }
  state.SetItemsProcessed(state.iterations() * 2 * state.range(0));
}
BENCHMARK(BM_StringMapFindOrInsert)->Arg(64)->Arg(10000);

void BM_DigestMapInsert(benchmark::State& state) {
  const int32_t count = static_cast<int32_t>(state.range(0));
  std::mt19937 random(1);
  std::vector<DigestKey> digests(count);
  for (DigestKey& digest : digests) {
    for (uint8_t& byte : digest.bytes) byte = static_cast<uint8_t>(random());
  }
  for (auto _ : state) {
    DigestMap map;
    for (const DigestKey& digest : digests) map.FindOrInsert(digest);
    benchmark::DoNotOptimize(map.Count());
  }
  state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_DigestMapInsert)->Arg(50000);

// Type indexes ordered by a table of counts, larger first; 7000 merges through the
// buffer, 8000 splits without it at the top.
void BM_StableSortIndexes(benchmark::State& state) {
  const int32_t count = static_cast<int32_t>(state.range(0));
  std::mt19937 random(2);
  std::vector<int64_t> counts(count);
  for (int64_t& value : counts) value = random() % 1000;
  std::vector<int32_t> indexes(count);
  for (auto _ : state) {
    for (int32_t i = 0; i < count; ++i) indexes[i] = i;
    StableSort(indexes.data(), count, [&counts](int32_t a, int32_t b) { return counts[a] > counts[b]; });
    benchmark::DoNotOptimize(indexes.data());
  }
  state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_StableSortIndexes)->Arg(18)->Arg(7000)->Arg(8000)->Arg(100000);

}  // namespace
}  // namespace qm
