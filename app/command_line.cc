#include "app/command_line.h"

#include <cstdio>
#include <cstring>

#include "app/run_driver.h"
#include "app/settings.h"
#include "core/directory_listing.h"
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
    "       -stdin=name.ext input from stdin",
    "           example: --stdin=*.tar",
    "       -sa scan archives (zip/tar/gz) along the way (default=off)",
    "           note: nested archives will fail to open",
    "       -csv <filename> output results (total even if counting by file) to csv",
    "           note: always overwrites filename without prompting!",
    "           this implies no output to stdout unless stdout",
    "           is supplied as filename; csv will then",
    "           be printed to stdout instead",
    "       -json <filename> output results as json instead (stdout: to stdout)",
    "       -diff <filename> diff results with previously saved csv",
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

// Reads a decimal count of megabytes the way the C library's integer parsing does
// (leading white space, one sign, digits up to the first other byte, none gives 0).
// False for a negative count; counts above kMaxFileSizeMegabytes are clamped.
bool ParseMegabytes(const char* text, int64_t& bytes) {
  while (*text == ' ' || (*text >= '\t' && *text <= '\r')) ++text;
  bool isNegative = false;
  if (*text == '+' || *text == '-') isNegative = *text++ == '-';
  int64_t megabytes = 0;
  for (; *text >= '0' && *text <= '9'; ++text) {
    // Once past the clamp the exact value no longer matters; this keeps it small.
    if (megabytes <= kMaxFileSizeMegabytes) megabytes = megabytes * 10 + (*text - '0');
  }
  if (isNegative && megabytes != 0) return false;
  if (megabytes > kMaxFileSizeMegabytes) megabytes = kMaxFileSizeMegabytes;
  bytes = megabytes * kMegabyte;
  return true;
}

void PrintInvalid(const char* argument) {
  std::fprintf(stderr, "invalid argument: %s\n", argument);
}

// An unmatched argument of dashes alone is ignored (true). Any other ends the parse
// (false): dashes then 'h' or '?' ask for the usage text, anything else is an error.
bool IsIgnoredUnknown(const char* argument) {
  const char* rest = argument;
  while (*rest == '-') ++rest;
  if (*rest == 0) return true;
  if (*rest != 'h' && *rest != '?') PrintInvalid(argument);
  return false;
}

}  // namespace

int AppMain(int argc, const char* const* argv) {
  if (!ParseCommandLine(argc, argv)) {
    PrintUsage();
    return 0;
  }
  return RunCount();
}

bool ParseCommandLine(int argc, const char* const* argv) {
  const char* jsonArgument = nullptr;
  for (int i = 1; i < argc; ++i) {
    const char* argument = argv[i];
    if (argument[0] != '-') {
      settings.dirArgs.PushBack(SharedString(argument));
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
    if (const char* value = PrefixValue(argument, "-max=", "--max-file-size=")) {
      if (!ParseMegabytes(value, settings.maxFileSize)) {
        PrintInvalid(argument);
        return false;
      }
    } else if (const char* stdinValue = PrefixValue(argument, "-stdin=", "--stdin=")) {
      settings.stdinName = stdinValue;
    } else if (PrefixValue(argument, "-fe=", "--force-ext=") != nullptr) {
      AddForcedExtensions(SharedString(argument));
    } else if (const char* extList = PrefixValue(argument, "-xe=", "--exclude-ext=")) {
      AppendListValue(extList, settings.excludeExts);
    } else if (const char* dirList = PrefixValue(argument, "-xd=", "--exclude-dir=")) {
      AppendListValue(dirList, settings.excludeDirs);
    } else if (const char* nameList = PrefixValue(argument, "-xn=", "--exclude-name=")) {
      AppendListValue(nameList, settings.excludeNames);
    } else if (const char* jsonValue = PrefixValue(argument, nullptr, "--json=")) {
      if (*jsonValue == 0) {
        PrintInvalid(argument);
        return false;
      }
      settings.jsonFile = jsonValue;
      jsonArgument = argument;
    } else if (IsEither(argument, "-json", "--json")) {
      if (i + 1 == argc || *argv[i + 1] == 0) {
        PrintInvalid(argument);
        return false;
      }
      settings.jsonFile = argv[++i];
      jsonArgument = argument;
    } else if (IsEither(argument, "-v", "--version")) {
      settings.showVersion = true;
    } else if (i + 1 < argc && IsEither(argument, "-csv", "--csv")) {
      settings.csvFile = argv[++i];
    } else if (i + 1 < argc && IsEither(argument, "-diff", "--diff")) {
      settings.diffFile = argv[++i];
    } else if (!IsIgnoredUnknown(argument)) {
      return false;
    }
  }
  if (settings.stdinName.IsEmpty() && settings.dirArgs.IsEmpty()) {
    std::fputs("dirname(s) not specified\n", stderr);
    return false;
  }
  // One report replaces the table: JSON or CSV, not both.
  if (jsonArgument != nullptr && !settings.csvFile.IsEmpty()) {
    PrintInvalid(jsonArgument);
    return false;
  }
  FinaliseExclusions();
  return true;
}

void PrintUsage() {
  for (const char* line : kUsageLines) {
    std::fputs(line, stdout);
    std::fputc('\n', stdout);
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
  for (SharedString& directory : settings.excludeDirs) {
    NormalizePath(directory);
    DirectoryListing listing;
    if (listing.Open(directory, 1)) directory = listing.AbsolutePath();
  }
}

}  // namespace qm
