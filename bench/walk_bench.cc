// The disk side of a run over /usr/include (or QM_BENCH_TREE when set), page cache
// warm, each step apart from the others:
//   BM_ListDirectories: every DirectoryListing::ReadNext of the tree (no file opened);
//   BM_ReadFiles:       open, size and read each file of a known type whole, as intake
//                       does for a file of the walk, through one reused buffer;
//   BM_WalkAndCount:    WalkDirectory with FileIntake, ClassifyText and the duplicate
//                       check, as a default run (no report): the whole counting path.
// Counters give files and bytes per second. scripts/bench_tree.py times whole runs of
// the tool against md5sum on a larger tree.
#include <benchmark/benchmark.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/directory_walk.h"
#include "app/file_intake.h"
#include "app/file_types.h"
#include "app/report_writer.h"
#include "app/run_state.h"
#include "app/settings.h"
#include "core/array.h"
#include "core/directory_listing.h"
#include "core/file.h"
#include "count/classify_text.h"

namespace qm {
namespace {

const char* TreeRoot() {
  const char* root = std::getenv("QM_BENCH_TREE");
  return root != nullptr && root[0] != '\0' ? root : "/usr/include";
}

// Every directory of the tree and every file of a known type, found once.
struct TreeFiles {
  std::vector<SharedString> directories;
  std::vector<SharedString> files;
  int64_t bytes = 0;
};

const TreeFiles& Tree() {
  static const TreeFiles tree = [] {
    ClearSettings();
    BuildExtensionMap();
    TreeFiles found;
    found.directories.push_back(TreeRoot());
    for (size_t next = 0; next < found.directories.size(); ++next) {
      const SharedString directory = found.directories[next];
      DirectoryListing listing;
      if (!listing.Open(directory, 0)) continue;
      DirEntry entry;
      while (listing.ReadNext(entry)) {
        SharedString path = directory;
        path.Append("/");
        path.Append(entry.name);
        if (entry.isDirectory) {
          found.directories.push_back(path);
          continue;
        }
        SharedString lowered = entry.name;
        lowered.ToLower();
        struct stat info;
        if (FileTypeOf(lowered) == kTypeUnknown || stat(path.CStr(), &info) != 0 || !S_ISREG(info.st_mode)) {
          continue;
        }
        found.files.push_back(path);
        found.bytes += info.st_size;
      }
    }
    return found;
  }();
  return tree;
}

void BM_ListDirectories(benchmark::State& state) {
  const TreeFiles& tree = Tree();
  int64_t entries = 0;
  for (auto _ : state) {
    for (const SharedString& directory : tree.directories) {
      DirectoryListing listing;
      if (!listing.Open(directory, DirectoryListing::kListParent)) continue;
      DirEntry entry;
      while (listing.ReadNext(entry)) ++entries;
    }
  }
  state.counters["entries/s"] = benchmark::Counter(static_cast<double>(entries), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ListDirectories)->Unit(benchmark::kMillisecond);

void BM_ReadFiles(benchmark::State& state) {
  const TreeFiles& tree = Tree();
  Array<uint8_t> buffer;
  for (auto _ : state) {
    for (const SharedString& path : tree.files) {
      File file;
      struct stat info;
      if (!file.Open(path, kFileRead, 7) || fstat(file.Descriptor(), &info) != 0) continue;
      buffer.SetCountUninitialized(0);
      buffer.Reserve(static_cast<int32_t>(info.st_size + 1));
      int64_t got = 0;
      benchmark::DoNotOptimize(file.Read(buffer.Data(), info.st_size, got));
    }
  }
  state.SetBytesProcessed(state.iterations() * tree.bytes);
  state.counters["files/s"] = benchmark::Counter(static_cast<double>(state.iterations() * tree.files.size()),
                                                 benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ReadFiles)->Unit(benchmark::kMillisecond);

void BM_WalkAndCount(benchmark::State& state) {
  const TreeFiles& tree = Tree();
  const char* argv[] = {"quillmet", TreeRoot()};
  ClearSettings();
  ClearRunState();
  if (!ParseCommandLine(2, argv)) {
    state.SkipWithError("the command line was refused");
    return;
  }
  BuildCharClassTable(settings.conservative);
  BuildExtensionMap();
  CountTotals totals;
  MessageOutput output;
  ProgressDisplay progress(false);
  Exclusions exclusions;
  for (auto _ : state) {
    ResetTotals(totals);
    FileIntake intake(totals, output, progress, exclusions, RecordingForReport());
    intake.Start(0);
    WalkDirectory(intake, exclusions, TreeRoot(), 0);
    intake.Finish();
  }
  ResetTotals(totals);
  state.SetBytesProcessed(state.iterations() * tree.bytes);
  state.counters["files/s"] = benchmark::Counter(static_cast<double>(state.iterations() * tree.files.size()),
                                                 benchmark::Counter::kIsRate);
}
BENCHMARK(BM_WalkAndCount)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace qm
