#include "app/command_line.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "app/file_types.h"
#include "app/message_output.h"
#include "app/run_driver.h"
#include "app/settings.h"
#include "core/path.h"

namespace qm {
namespace {

struct FlagOption {
  const char* shortText;
  const char* longText;
  bool Settings::*field;
  bool value;
};

// Exact options, in matching order.
constexpr FlagOption kFlagOptions[] = {
    {"-sp", "--show-progress", &Settings::showProgress, true},
    {"-f", "--by-file", &Settings::byFile, true},
    {"-g", "--greedy", &Settings::conservative, false},
    {"-p", "--pretty-print", &Settings::prettyPrint, true},
    {"-np", "--no-pretty-print", &Settings::prettyPrint, false},
    {"-c", "--conservative", &Settings::conservative, true},
    {"-le", "--list-extensions", &Settings::listExtensions, true},
    {"-la", "--list-anomalies", &Settings::listAnomalies, true},
    {"-nr", "--no-recursion", &Settings::noRecursion, true},
    {"-sa", "--scan-archives", &Settings::scanArchives, true},
    {"-al", "--all-languages", &Settings::allLanguages, true},
    {"--languages", "--languages", &Settings::listLanguages, true},
    {"-gi", "--gitignore", &Settings::useGitignore, true},
};

constexpr const char* kUsageLines[] = {
    "Quillmet v1.9",
    "usage: Quillmet [args] <dir> [<dir2> ...]",
    "args:",
    "       -h, -? help",
    "       -sp show progress (off by default)",
    "       -g greedy mode (count punctuation as code)",
    "       -f count by file (off by default)",
    "       -np don't pretty-print numbers",
    "       -nr don't recurse on subdirs",
    "       -gi honour .gitignore, .ignore and .git/info/exclude files",
    "       -xd=dir,dir2,... exclude dirs",
    "       -xe=ext,ext2,... exclude extensions",
    "       -xn=name,name2,... exclude dirs with these names at any depth",
    "       -fe=ref_ext,ext force extension",
    "           example: -fe=pas,inc",
    "       -le list extensions in dir",
    "       -la list anomalies in dir (empty/dups/UTF-16)",
    "       -v always show version",
    "       -max=n ignore files bigger than n megabytes (default=64)",
    "       -j n, --jobs=n count with n threads (default: one per online CPU)",
    "       -stdin=name.ext input from stdin",
    "           example: --stdin=*.tar",
    "       -sa scan archives (zip/tar/gz) along the way (default=off)",
    "           note: nested zip archives will fail to open",
    "       -al count all languages, not only the 17 default ones",
    "       --languages list the languages with their files and comments",
    "       -csv <filename> output results (total even if counting by file) to csv",
    "           note: always overwrites filename without prompting!",
    "           this implies no output to stdout unless stdout",
    "           is supplied as filename; csv will then",
    "           be printed to stdout instead",
    "       -json <filename> output results as json instead (stdout: to stdout)",
    "       -diff <filename> diff results with previously saved csv",
    "exit status:",
    "       0 success",
    "       1 report produced, but a named dir or file, the -diff file, the csv",
    "           file or standard output could not be used",
    "       2 invalid command line (nothing counted)",
};

bool IsEither(const char* argument, const char* shortText, const char* longText) {
  return std::strcmp(argument, shortText) == 0 || std::strcmp(argument, longText) == 0;
}

// The value after the first '=' when the argument starts with one of the prefixes
// (each ends in '='), else null.
const char* PrefixValue(const char* argument, const char* shortPrefix, const char* longPrefix) {
  for (const char* prefix : {shortPrefix, longPrefix}) {
    if (prefix == nullptr) continue;
    const size_t length = std::strlen(prefix);
    if (std::strncmp(argument, prefix, length) == 0) return std::strchr(argument, '=') + 1;
  }
  return nullptr;
}

void AppendListValue(const char* value, Array<SharedString>& list) {
  for (const SharedString& piece : SharedString(value).Split(",", false)) list.PushBack(piece);
}

// A count of megabytes: one or more ASCII digits and nothing else. Counts above
// kMaxFileSizeMegabytes are clamped to it.
bool ParseMegabytes(const char* text, int64_t& bytes) {
  if (*text == 0) return false;
  int64_t megabytes = 0;
  for (; *text != 0; ++text) {
    if (*text < '0' || *text > '9') return false;
    // Once past the clamp the exact value no longer matters; this keeps it small.
    if (megabytes <= kMaxFileSizeMegabytes) megabytes = megabytes * 10 + (*text - '0');
  }
  if (megabytes > kMaxFileSizeMegabytes) megabytes = kMaxFileSizeMegabytes;
  bytes = megabytes * kMegabyte;
  return true;
}

// A -j value: decimal digits making a number from 1; larger than kMaxJobs is clamped.
bool ParseJobs(const char* text, int32_t& jobs) {
  if (text == nullptr || *text == 0) return false;
  int32_t count = 0;
  for (; *text != 0; ++text) {
    if (*text < '0' || *text > '9') return false;
    if (count <= kMaxJobs) count = count * 10 + (*text - '0');
  }
  if (count < 1) return false;
  jobs = count < kMaxJobs ? count : kMaxJobs;
  return true;
}

// Pieces of a comma-separated value once empty pieces are dropped.
int32_t CountListItems(const char* value) {
  int32_t count = 0;
  for (const char* cursor = value; *cursor != 0; ++cursor) {
    if (*cursor != ',' && (cursor == value || cursor[-1] == ',')) ++count;
  }
  return count;
}

bool RealDirectoryPath(const SharedString& path, SharedString& realPath) {
  const int descriptor = open(path.CStr(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (descriptor < 0) return false;
  close(descriptor);
  return RealPath(path, realPath);
}

void PrintInvalid(const char* argument) {
  std::fprintf(stderr, "invalid argument: %s\n", Shown(argument).CStr());
}

bool IsVersionOnly(int argc, const char* const* argv) {
  if (argc < 2) return false;
  for (int i = 1; i < argc; ++i) {
    if (!IsEither(argv[i], "-v", "--version")) return false;
  }
  return true;
}

}  // namespace

int AppMain(int argc, const char* const* argv) {
  switch (ReadCommandLine(argc, argv)) {
    case CommandLineOutcome::kRun:
      if (!settings.listLanguages) return RunCount();
      PrintLanguageList();
      FinishStandardOutput();
      return HasRunFailed() ? kStatusRunFailed : kStatusSuccess;
    case CommandLineOutcome::kHelp:
      PrintUsage(stdout);
      FinishStandardOutput();
      return HasRunFailed() ? kStatusRunFailed : kStatusSuccess;
    case CommandLineOutcome::kVersion:
      std::fputs(kUsageLines[0], stdout);
      std::fputc('\n', stdout);
      FinishStandardOutput();
      return HasRunFailed() ? kStatusRunFailed : kStatusSuccess;
    case CommandLineOutcome::kInvalid:
      break;
  }
  PrintUsage(stderr);
  return kStatusInvalidUsage;
}

CommandLineOutcome ReadCommandLine(int argc, const char* const* argv) {
  if (IsVersionOnly(argc, argv)) return CommandLineOutcome::kVersion;
  bool isOptionsEnded = false;
  const char* jsonArgument = nullptr;
  for (int i = 1; i < argc; ++i) {
    const char* argument = argv[i];
    if (isOptionsEnded || argument[0] != '-') {
      settings.dirArgs.PushBack(SharedString(argument));
      continue;
    }
    if (std::strcmp(argument, "--") == 0) {
      isOptionsEnded = true;
      continue;
    }
    bool isMatched = false;
    for (const FlagOption& option : kFlagOptions) {
      if (IsEither(argument, option.shortText, option.longText)) {
        settings.*option.field = option.value;
        isMatched = true;
        break;
      }
    }
    if (isMatched) continue;
    bool isValid = true;
    if (const char* value = PrefixValue(argument, "-max=", "--max-file-size=")) {
      isValid = ParseMegabytes(value, settings.maxFileSize);
    } else if (const char* jobsValue = PrefixValue(argument, "-j=", "--jobs=")) {
      isValid = ParseJobs(jobsValue, settings.jobs);
    } else if (IsEither(argument, "-j", "--jobs")) {
      isValid = i + 1 < argc && ParseJobs(argv[i + 1], settings.jobs);
      if (isValid) ++i;
    } else if (const char* stdinValue = PrefixValue(argument, "-stdin=", "--stdin=")) {
      isValid = *stdinValue != 0;
      settings.stdinName = stdinValue;
    } else if (const char* forced = PrefixValue(argument, "-fe=", "--force-ext=")) {
      isValid = CountListItems(forced) >= 2;
      if (isValid) AddForcedExtensions(SharedString(argument));
    } else if (const char* extList = PrefixValue(argument, "-xe=", "--exclude-ext=")) {
      AppendListValue(extList, settings.excludeExts);
    } else if (const char* dirList = PrefixValue(argument, "-xd=", "--exclude-dir=")) {
      AppendListValue(dirList, settings.excludeDirs);
    } else if (const char* nameList = PrefixValue(argument, "-xn=", "--exclude-name=")) {
      AppendListValue(nameList, settings.excludeNames);
    } else if (const char* jsonValue = PrefixValue(argument, nullptr, "--json=")) {
      isValid = *jsonValue != 0;
      settings.jsonFile = jsonValue;
      jsonArgument = argument;
    } else if (IsEither(argument, "-json", "--json")) {
      isValid = i + 1 < argc && argv[i + 1][0] != 0;
      if (isValid) settings.jsonFile = argv[++i];
      jsonArgument = argument;
    } else if (IsEither(argument, "-v", "--version")) {
      settings.showVersion = true;
    } else if (const char* csvValue = PrefixValue(argument, nullptr, "--csv=")) {
      isValid = *csvValue != 0;
      settings.csvFile = csvValue;
    } else if (const char* diffValue = PrefixValue(argument, nullptr, "--diff=")) {
      isValid = *diffValue != 0;
      settings.diffFile = diffValue;
    } else if (const bool isCsv = IsEither(argument, "-csv", "--csv");
               isCsv || IsEither(argument, "-diff", "--diff")) {
      // The next argument is the file name, whatever it looks like ("-f", "stdout").
      isValid = i + 1 < argc && argv[i + 1][0] != 0;
      if (isValid) (isCsv ? settings.csvFile : settings.diffFile) = argv[++i];
    } else {
      // Dashes alone are ignored; dashes then 'h' or '?' ask for the usage text.
      const char* rest = argument;
      while (*rest == '-') ++rest;
      if (*rest == 0) continue;
      if (*rest == 'h' || *rest == '?') return CommandLineOutcome::kHelp;
      isValid = false;
    }
    if (!isValid) {
      PrintInvalid(argument);
      return CommandLineOutcome::kInvalid;
    }
  }
  if (settings.stdinName.IsEmpty() && settings.dirArgs.IsEmpty() && !settings.listLanguages) {
    std::fputs("dirname(s) not specified\n", stderr);
    return CommandLineOutcome::kInvalid;
  }
  // One report replaces the table: JSON or CSV, not both.
  if (jsonArgument != nullptr && !settings.csvFile.IsEmpty()) {
    PrintInvalid(jsonArgument);
    return CommandLineOutcome::kInvalid;
  }
  FinaliseExclusions();
  return CommandLineOutcome::kRun;
}

bool ParseCommandLine(int argc, const char* const* argv) {
  return ReadCommandLine(argc, argv) == CommandLineOutcome::kRun;
}

void PrintUsage(FILE* stream) {
  for (const char* line : kUsageLines) {
    std::fputs(line, stream);
    std::fputc('\n', stream);
  }
}

void AddForcedExtensions(const SharedString& argument) {
  const int32_t equals = argument.Find("=");
  if (equals < 0) return;
  const char* text = argument.CStr();
  Array<SharedString, 0> pieces = SharedString(text + equals + 1, text + argument.Length()).Split(",", false);
  for (int32_t i = 0; i + 1 < pieces.Count(); i += 2) {
    for (int32_t k = i; k < i + 2; ++k) {
      if (!pieces[k].StartsWith(".")) pieces[k].Insert(0, ".");
      pieces[k].ToLower();
    }
    settings.forceExts.Insert(pieces[i], pieces[i + 1]);
  }
}

void FinaliseExclusions() {
  for (const char* generated : {".designer.cs", ".g.cs", ".g.i.cs"}) {
    settings.excludeExts.PushBack(SharedString(generated));
  }
  for (SharedString& suffix : settings.excludeExts) {
    suffix.ToLower();
    if (!suffix.StartsWith(".")) suffix.Insert(0, ".");
  }
  // An entry that opens as a directory becomes its real path, the form every walked
  // path starts with; any other is kept as typed.
  for (SharedString& directory : settings.excludeDirs) {
    SharedString realPath;
    if (RealDirectoryPath(directory, realPath)) directory = realPath;
  }
}

}  // namespace qm
