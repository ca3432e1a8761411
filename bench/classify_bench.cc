// Throughput of ClassifyText per language family over real code found on this
// machine, one ClassifyText call per file as intake makes them:
//   C/C++ headers: every .h under /usr/include (also read as C++, D, C#, Java, PHP,
//                  Go, Rust: the brace languages share one scanner, and their own
//                  corpora are absent or tiny here);
//   Python:        the .py files of the standard library under /usr/lib/python3.11;
//   Pascal:        the Free Pascal sources under /usr/share/fpcsrc when present;
//   JavaScript:    the .js files under /usr/lib/node_modules when present;
//   Lua:           the C headers with "//", "/*", "*/" rewritten to "--", "--[[",
//                  "]]", as no Lua corpus exists here.
// A corpus that finds no files falls back to the C headers. Targets: 1 GB/s for the
// headers in conservative mode, 500 MB/s for every language.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "count/classify_text.h"
#include "count/language_table.h"

namespace qm {
namespace {

// Files laid end to end, with the offset of each file's first byte (and the end).
struct Corpus {
  std::string bytes;
  std::vector<size_t> starts{0};
};

constexpr size_t kMaxCorpusBytes = size_t{256} << 20;

Corpus LoadCorpus(const char* root, std::initializer_list<std::string_view> extensions) {
  Corpus corpus;
  std::error_code error;
  namespace fs = std::filesystem;
  fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied, error);
  for (; !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    if (!it->is_regular_file(error) || it->is_symlink(error)) continue;
    const std::string extension = it->path().extension().string();
    bool wanted = false;
    for (std::string_view candidate : extensions) wanted = wanted || extension == candidate;
    if (!wanted) continue;
    std::ifstream file(it->path(), std::ios::binary);
    corpus.bytes.append(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    if (corpus.bytes.size() == corpus.starts.back()) continue;
    corpus.starts.push_back(corpus.bytes.size());
    if (corpus.bytes.size() > kMaxCorpusBytes) break;
  }
  return corpus;
}

const Corpus& Headers() {
  static const Corpus corpus = LoadCorpus("/usr/include", {".h"});
  return corpus;
}

const Corpus& OrHeaders(const Corpus& corpus) {
  return corpus.starts.size() > 1 ? corpus : Headers();
}

const Corpus& PythonCorpus() {
  static const Corpus corpus = LoadCorpus("/usr/lib/python3.11", {".py"});
  return OrHeaders(corpus);
}

const Corpus& PascalCorpus() {
  static const Corpus corpus = LoadCorpus("/usr/share/fpcsrc", {".pas", ".pp", ".inc", ".dpr"});
  return OrHeaders(corpus);
}

const Corpus& JavaScriptCorpus() {
  static const Corpus corpus = LoadCorpus("/usr/lib/node_modules", {".js"});
  return OrHeaders(corpus);
}

const Corpus& LuaCorpus() {
  static const Corpus corpus = [] {
    const Corpus& headers = Headers();
    Corpus lua;
    lua.bytes.reserve(headers.bytes.size() + headers.bytes.size() / 16);
    for (size_t file = 0; file + 1 < headers.starts.size(); ++file) {
      for (size_t i = headers.starts[file]; i < headers.starts[file + 1]; ++i) {
        const char byte = headers.bytes[i];
        const char next = i + 1 < headers.starts[file + 1] ? headers.bytes[i + 1] : '\0';
        if (byte == '/' && next == '/') {
          lua.bytes += "--";
        } else if (byte == '/' && next == '*') {
          lua.bytes += "--[[";
        } else if (byte == '*' && next == '/') {
          lua.bytes += "]]";
        } else {
          lua.bytes += byte;
          continue;
        }
        ++i;
      }
      lua.starts.push_back(lua.bytes.size());
    }
    return lua;
  }();
  return corpus;
}

void ClassifyCorpus(benchmark::State& state, const Corpus& corpus, FileTypeId type, bool conservative) {
  BuildCharClassTable(conservative);
  const auto* text = reinterpret_cast<const uint8_t*>(corpus.bytes.data());
  LineTotals totals;
  totals.ResetLines();
  for (auto _ : state) {
    for (size_t file = 0; file + 1 < corpus.starts.size(); ++file) {
      const size_t start = corpus.starts[file];
      ClassifyText(totals, type, text + start, static_cast<int32_t>(corpus.starts[file + 1] - start));
    }
    benchmark::DoNotOptimize(totals);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(corpus.bytes.size()));
  state.counters["files"] = static_cast<double>(corpus.starts.size() - 1);
  const double iterations = static_cast<double>(state.iterations());
  state.counters["lines"] = static_cast<double>(totals.lineCount[type]) / iterations;
  state.counters["code%"] = 100.0 * static_cast<double>(totals.codeLines[type]) /
                            static_cast<double>(totals.lineCount[type] > 0 ? totals.lineCount[type] : 1);
  BuildCharClassTable(true);
}

void BM_HeadersConservative(benchmark::State& state) {
  ClassifyCorpus(state, Headers(), kTypeHeader, true);
}
void BM_HeadersGreedy(benchmark::State& state) {
  ClassifyCorpus(state, Headers(), kTypeHeader, false);
}
void BM_HeadersAsC(benchmark::State& state) {
  ClassifyCorpus(state, Headers(), kTypeC, true);
}
void BM_HeadersAsD(benchmark::State& state) {
  ClassifyCorpus(state, Headers(), kTypeD, true);
}
void BM_HeadersAsCSharp(benchmark::State& state) {
  ClassifyCorpus(state, Headers(), kTypeCSharp, true);
}
void BM_HeadersAsPhp(benchmark::State& state) {
  ClassifyCorpus(state, Headers(), kTypePhp, true);
}
void BM_HeadersAsGo(benchmark::State& state) {
  ClassifyCorpus(state, Headers(), kTypeGo, true);
}
void BM_HeadersAsRust(benchmark::State& state) {
  ClassifyCorpus(state, Headers(), kTypeRust, true);
}
void BM_JavaScript(benchmark::State& state) {
  ClassifyCorpus(state, JavaScriptCorpus(), kTypeJavaScript, true);
}
void BM_Python(benchmark::State& state) {
  ClassifyCorpus(state, PythonCorpus(), kTypePython, true);
}
void BM_PythonGreedy(benchmark::State& state) {
  ClassifyCorpus(state, PythonCorpus(), kTypePython, false);
}
void BM_Pascal(benchmark::State& state) {
  ClassifyCorpus(state, PascalCorpus(), kTypePascal, true);
}
void BM_Lua(benchmark::State& state) {
  ClassifyCorpus(state, LuaCorpus(), kTypeLua, true);
}
// The generic scanner (-al types) on '#'-comment text: Python read as shell and as Perl.
void BM_PythonAsShell(benchmark::State& state) {
  ClassifyCorpus(state, PythonCorpus(), TableTypeNamed("Shell script"), true);
}
void BM_PythonAsPerl(benchmark::State& state) {
  ClassifyCorpus(state, PythonCorpus(), TableTypeNamed("Perl source"), true);
}

BENCHMARK(BM_HeadersConservative)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HeadersGreedy)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HeadersAsC)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HeadersAsD)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HeadersAsCSharp)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HeadersAsPhp)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HeadersAsGo)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HeadersAsRust)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_JavaScript)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Python)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PythonGreedy)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Pascal)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Lua)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PythonAsShell)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PythonAsPerl)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace qm
