// Decoding speed of XzStream, Bzip2Stream and ZstdStream, in MB/s of output, on 32 MB
// of generated source-like text compressed by each format's tool at start, read in
// pieces of 8 KiB (how tar data that is passed over is read) and 1 MiB (how members
// are read into their batch), next to the tool itself decoding the same file to
// /dev/null: the stream should cost no more than the tool.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "archive/bzip2_stream.h"
#include "archive/xz_stream.h"
#include "archive/zstd_stream.h"
#include "core/memory_stream.h"

namespace {

struct Format {
  const char* tool;  // compresses with "-c", decodes with "-dc"
  const char* path;
  qm::DecoderStream* (*make)();
};
const Format kFormats[] = {
    {"xz", "/tmp/decoder_bench.xz", []() -> qm::DecoderStream* { return new qm::XzStream(); }},
    {"bzip2", "/tmp/decoder_bench.bz2", []() -> qm::DecoderStream* { return new qm::Bzip2Stream(); }},
    {"zstd", "/tmp/decoder_bench.zst", []() -> qm::DecoderStream* { return new qm::ZstdStream(); }},
};

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

// The compressed sample of a format, made once.
const std::string& Sample(const Format& format) {
  static std::string samples[3];
  std::string& sample = samples[&format - kFormats];
  if (!sample.empty()) return sample;
  const char* textPath = "/tmp/decoder_bench.txt";
  if (ReadFile(textPath).empty()) {
    std::mt19937 random(1);
    const char* words[] = {"int", "return", "const",   "std::string", "if (",   "for (",      "{",
                           "}",   ";",      "value",   "count",       "buffer", "// comment", "#include",
                           "0",   "1",      "nullptr", "auto",        "=",      "+"};
    std::string text;
    while (text.size() < (size_t{32} << 20)) {
      for (int i = 1 + random() % 12; i > 0; --i) text += std::string(words[random() % 20]) + ' ';
      text += '\n';
    }
    FILE* file = std::fopen(textPath, "wb");
    if (file == nullptr) return sample;
    std::fwrite(text.data(), 1, text.size(), file);
    std::fclose(file);
  }
  const std::string command = std::string(format.tool) + " -c " + textPath + " > " + format.path;
  if (std::system(command.c_str()) == 0) sample = ReadFile(format.path);
  return sample;
}

void DecodeStream(benchmark::State& state) {
  const Format& format = kFormats[state.range(0)];
  const std::string& sample = Sample(format);
  if (sample.empty()) {
    state.SkipWithError("no sample data");
    return;
  }
  const int64_t readSize = state.range(1);
  std::vector<char> buffer(static_cast<size_t>(readSize));
  int64_t totalBytes = 0;
  for (auto _ : state) {
    qm::MemoryStream source(sample.data(), static_cast<int32_t>(sample.size()));
    std::unique_ptr<qm::DecoderStream> stream(format.make());
    stream->Open(&source, false);
    int64_t got = 0;
    while (stream->Read(buffer.data(), readSize, got) && got > 0) totalBytes += got;
    if (!stream->AtEnd()) state.SkipWithError("decoding failed");
  }
  state.SetLabel(format.tool);
  state.SetBytesProcessed(totalBytes);
}
BENCHMARK(DecodeStream)
    ->ArgsProduct({{0, 1, 2}, {8192, 1 << 20}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void ToolDecoding(benchmark::State& state) {
  const Format& format = kFormats[state.range(0)];
  if (Sample(format).empty()) {
    state.SkipWithError("no sample data");
    return;
  }
  const std::string command = std::string(format.tool) + " -dc " + format.path + " > /dev/null";
  for (auto _ : state) {
    if (std::system(command.c_str()) != 0) state.SkipWithError("the tool failed");
  }
  state.SetLabel(format.tool);
  state.SetBytesProcessed((int64_t{32} << 20) * state.iterations());
}
BENCHMARK(ToolDecoding)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace
