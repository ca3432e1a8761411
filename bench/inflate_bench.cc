// Decoding speed of InflateStream in mode Gzip, in MB/s of output. Uses
// /tmp/usrinclude.tar.gz when present (make it once with
// `tar czf /tmp/usrinclude.tar.gz -C /usr include`) and compares with
// `gzip -dc file >/dev/null` on the same file; otherwise it gzips generated source-like
// text with the gzip tool first.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "archive/inflate_stream.h"
#include "core/memory_stream.h"

namespace {

constexpr const char* kSamplePath = "/tmp/usrinclude.tar.gz";

std::string ReadFile(const char* path) {
  std::string bytes;
  FILE* file = std::fopen(path, "rb");
  if (file == nullptr) return bytes;
  std::vector<char> chunk(1 << 20);
  size_t got;
  while ((got = std::fread(chunk.data(), 1, chunk.size(), file)) > 0) bytes.append(chunk.data(), got);
  std::fclose(file);
  return bytes;
}

std::string GeneratedGzip() {
  std::mt19937 random(1);
  const char* words[] = {"int", "return", "const",   "std::string", "if (",   "for (",      "{",
                         "}",   ";",      "value",   "count",       "buffer", "// comment", "#include",
                         "0",   "1",      "nullptr", "auto",        "=",      "+"};
  std::string text;
  while (text.size() < (size_t{32} << 20)) {
    for (int i = 1 + random() % 12; i > 0; --i) text += std::string(words[random() % 20]) + ' ';
    text += '\n';
  }
  const std::string path = "/tmp/inflate_bench_generated.txt";
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return {};
  std::fwrite(text.data(), 1, text.size(), file);
  std::fclose(file);
  if (std::system(("gzip -f -6 " + path).c_str()) != 0) return {};
  std::string gz = ReadFile((path + ".gz").c_str());
  std::remove((path + ".gz").c_str());
  return gz;
}

const std::string& Sample() {
  static const std::string sample = [] {
    std::string bytes = ReadFile(kSamplePath);
    if (bytes.empty()) {
      std::fprintf(stderr, "note: %s missing; using generated data\n", kSamplePath);
      bytes = GeneratedGzip();
    }
    return bytes;
  }();
  return sample;
}

void DecodeSample(benchmark::State& state) {
  const std::string& sample = Sample();
  if (sample.empty()) {
    state.SkipWithError("no sample data");
    return;
  }
  const int64_t readSize = state.range(0);
  std::vector<char> buffer(static_cast<size_t>(readSize));
  int64_t totalBytes = 0;
  for (auto _ : state) {
    qm::MemoryStream source(sample.data(), static_cast<int32_t>(sample.size()));
    qm::InflateStream stream(qm::Gzip);
    stream.Open(&source, nullptr, false);
    int64_t got = 0;
    while (stream.Read(buffer.data(), readSize, got) && got > 0) totalBytes += got;
    if (!stream.AtEnd()) state.SkipWithError("decoding failed");
  }
  state.SetBytesProcessed(totalBytes);
}
BENCHMARK(DecodeSample)->Arg(512)->Arg(65536)->Unit(benchmark::kMillisecond)->UseRealTime();

void GzipToolOnSample(benchmark::State& state) {
  if (ReadFile(kSamplePath).empty()) {
    state.SkipWithError("no sample file");
    return;
  }
  const int64_t outputBytes = [] {
    FILE* pipe = popen((std::string("gzip -dc ") + kSamplePath + " | wc -c").c_str(), "r");
    long long count = 0;
    if (pipe != nullptr && std::fscanf(pipe, "%lld", &count) != 1) count = 0;
    if (pipe != nullptr) pclose(pipe);
    return static_cast<int64_t>(count);
  }();
  for (auto _ : state) {
    if (std::system((std::string("gzip -dc ") + kSamplePath + " >/dev/null").c_str()) != 0) {
      state.SkipWithError("gzip failed");
    }
  }
  state.SetBytesProcessed(outputBytes * state.iterations());
}
BENCHMARK(GzipToolOnSample)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
