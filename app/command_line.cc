#include "app/command_line.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <utility>

#include "app/file_types.h"
#include "app/message_output.h"
#include "app/option_table.h"
#include "app/report_writer.h"
#include "app/run_driver.h"
#include "app/settings.h"
#include "core/path.h"

namespace qm {
namespace {

constexpr const char* kUsageHead[] = {
    kVersionBanner,
    "usage: Quillmet [args] <dir> [<dir2> ...]",
    "args:",
};

constexpr const char* kUsageTail[] = {
    "exit status:",
    "       0 success",
    "       1 report produced, but a named dir or file, the -diff file, the csv",
    "           file or standard output could not be used",
    "       2 invalid command line (nothing counted)",
};

bool IsEither(const char* argument, const char* shortText, const char* longText) {
  return std::strcmp(argument, shortText) == 0 || std::strcmp(argument, longText) == 0;
}

// How an argument matches an option of the table.
enum class Match { kNone, kFlag, kAttached, kSeparate, kMissingValue };

// kAttached sets value to the text after the '=' (or the glued digits).
Match MatchOption(const OptionSpec& option, const char* argument, const char*& value) {
  const struct {
    const char* text;
    uint8_t attachedForm;
    uint8_t separateForm;
    uint8_t gluedForm;
  } spellings[] = {{option.shortText, kShortAttached, kShortSeparate, kShortGlued},
                   {option.longText, kLongAttached, kLongSeparate, 0}};
  for (const auto& spelling : spellings) {
    if (spelling.text == nullptr) continue;
    const size_t length = std::strlen(spelling.text);
    if (std::strncmp(argument, spelling.text, length) != 0) continue;
    const char* rest = argument + length;
    if (*rest == 0) {
      if (option.forms == 0) return Match::kFlag;
      return (option.forms & spelling.separateForm) != 0 ? Match::kSeparate : Match::kMissingValue;
    }
    if (*rest == '=' && (option.forms & spelling.attachedForm) != 0) {
      value = rest + 1;
      return Match::kAttached;
    }
    if ((option.forms & spelling.gluedForm) != 0 && *rest >= '0' && *rest <= '9') {
      value = rest;
      return Match::kAttached;
    }
  }
  return Match::kNone;
}

// The form an option's value is given in, as its usage line shows it: the first word
// when it holds the '=' ("-xd=dir,dir2,..."), else the first two ("-csv <filename>").
SharedString ValueFormOf(const OptionSpec& option) {
  const char* usage = option.usage != nullptr ? option.usage : "";
  const char* end = usage;
  while (*end != 0 && *end != ' ' && *end != '\n') ++end;
  if (std::memchr(usage, '=', static_cast<size_t>(end - usage)) == nullptr && *end == ' ') {
    ++end;
    while (*end != 0 && *end != ' ' && *end != ',' && *end != '\n') ++end;
  }
  return SharedString(usage, end);
}

// "-xd needs a value: -xd=dir,dir2,...": an option that takes a value given without one.
void PrintMissingValue(const char* argument, const OptionSpec& option) {
  std::fprintf(stderr, "%s needs a value: %s\n", Shown(argument).CStr(), ValueFormOf(option).CStr());
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

// An argument no option matches: "-" is invalid (standard input is named with
// --stdin=); other dashes alone are ignored (kRun); dashes then 'h' or '?' ask for the
// usage text; anything else is invalid.
CommandLineOutcome ReadUnknown(const char* argument) {
  if (std::strcmp(argument, "-") == 0) {
    std::fputs("invalid argument: - (count standard input with --stdin=NAME.EXT)\n", stderr);
    return CommandLineOutcome::kInvalid;
  }
  const char* rest = argument;
  while (*rest == '-') ++rest;
  if (*rest == 0) return CommandLineOutcome::kRun;
  if (*rest == 'h' || *rest == '?') return CommandLineOutcome::kHelp;
  PrintInvalid(argument);
  return CommandLineOutcome::kInvalid;
}

// The report format the options ask for. Two formats are an error naming the argument
// of the later one in the table.
bool ChooseReportFormat(const Array<const char*>& reportArguments) {
  settings.reportFormat = nullptr;
  for (int32_t i = 0; i < kOptionCount; ++i) {
    if (reportArguments[i] == nullptr) continue;
    if (settings.reportFormat != nullptr) {
      PrintInvalid(reportArguments[i]);
      return false;
    }
    settings.reportFormat = kOptionTable[i].report;
  }
  return true;
}

// A compare's two sides: -cmp OLD NEW (directories or archives), or -git=OLD..NEW DIR
// (both revisions named). It reports what changed: no saved CSV, no history, no
// standard input.
bool ReadCompareSides(const char* compareArgument, const char* historyArgument) {
  settings.compare = true;
  const int32_t range = settings.gitRevision.Find("..");
  if (range >= 0) {
    const char* text = settings.gitRevision.CStr();
    settings.compareOld = SharedString(text, text + range);
    settings.compareNew = SharedString(text + range + 2, text + settings.gitRevision.Length());
    if (settings.compareOld.IsEmpty() || settings.compareNew.IsEmpty() || settings.dirArgs.Count() != 1) {
      std::fputs("-git=OLD..NEW compares one directory at two revisions: -git=OLD..NEW DIR\n", stderr);
      return false;
    }
  } else {
    if (settings.dirArgs.Count() != 2 || !settings.gitRevision.IsEmpty()) {
      std::fputs("-cmp compares two directories or archives: -cmp OLD NEW\n", stderr);
      return false;
    }
    settings.compareOld = settings.dirArgs[0];
    settings.compareNew = settings.dirArgs[1];
  }
  if (!settings.stdinName.IsEmpty() || !settings.diffFile.IsEmpty()) {
    PrintInvalid(compareArgument);
    return false;
  }
  if (historyArgument != nullptr) {
    PrintInvalid(historyArgument);
    return false;
  }
  return true;
}

}  // namespace

int AppMain(int argc, const char* const* argv) {
  switch (ReadCommandLine(argc, argv)) {
    case CommandLineOutcome::kRun:
      if (!settings.listLanguages) return RunCount();
      {
        MessageOutput output;
        PrintLanguageList();
        output.FinishStandardOutput();
        return output.ExitStatus();
      }
    case CommandLineOutcome::kHelp: {
      MessageOutput output;
      PrintUsage(stdout);
      output.FinishStandardOutput();
      return output.ExitStatus();
    }
    case CommandLineOutcome::kVersion: {
      MessageOutput output;
      std::fputs(kVersionBanner, stdout);
      std::fputc('\n', stdout);
      output.FinishStandardOutput();
      return output.ExitStatus();
    }
    case CommandLineOutcome::kInvalid:
      break;
  }
  PrintUsage(stderr);
  return kStatusInvalidUsage;
}

CommandLineOutcome ReadCommandLine(int argc, const char* const* argv) {
  if (IsVersionOnly(argc, argv)) return CommandLineOutcome::kVersion;
  bool isOptionsEnded = false;
  const char* historyArgument = nullptr;
  const char* compareArgument = nullptr;  // -cmp, or -git=OLD..NEW
  // Per entry of the table that asks for a report format: the argument that did.
  Array<const char*> reportArguments;
  reportArguments.Resize(kOptionCount);
  for (int i = 1; i < argc; ++i) {
    const char* argument = argv[i];
    if (isOptionsEnded || argument[0] != '-') {
      settings.dirArgs.PushBack(SharedString(argument));
      continue;
    }
    Match match = Match::kNone;
    int32_t entry = 0;
    const char* value = nullptr;
    for (; entry < kOptionCount; ++entry) {
      match = MatchOption(kOptionTable[entry], argument, value);
      if (match != Match::kNone) break;
    }
    if (match == Match::kNone) {
      const CommandLineOutcome outcome = ReadUnknown(argument);
      if (outcome != CommandLineOutcome::kRun) return outcome;
      continue;
    }
    const OptionSpec& option = kOptionTable[entry];
    if (option.effect == OptionEffect::kHelp) return CommandLineOutcome::kHelp;
    if (option.effect == OptionEffect::kEndOptions) {
      isOptionsEnded = true;
      continue;
    }
    if (match == Match::kMissingValue || (match == Match::kSeparate && i + 1 == argc)) {
      PrintMissingValue(argument, option);
      return CommandLineOutcome::kInvalid;
    }
    // The next argument is the value, whatever it looks like ("-f", "stdout").
    SharedString typed(argument);
    if (match == Match::kSeparate) {
      value = argv[i + 1];
      if (!option.apply(value, settings)) {
        PrintInvalid(argument);
        return CommandLineOutcome::kInvalid;
      }
      typed.Append(" ", 1);
      typed.Append(value);
      ++i;
    } else if (!option.apply(value, settings)) {
      PrintInvalid(argument);
      return CommandLineOutcome::kInvalid;
    }
    settings.optionArgs.PushBack(std::move(typed));
    if (option.report != nullptr) reportArguments[entry] = argument;
    if (option.apply != nullptr && option.longText != nullptr &&
        std::strcmp(option.longText, "--history") == 0) {
      historyArgument = argument;
    }
    if (option.longText != nullptr &&
        (std::strcmp(option.longText, "--compare") == 0 ||
         (std::strcmp(option.longText, "--git") == 0 && settings.gitRevision.Find("..") >= 0))) {
      compareArgument = argument;
    }
  }
  if (settings.stdinName.IsEmpty() && settings.dirArgs.IsEmpty() && !settings.listLanguages) {
    std::fputs("dirname(s) not specified\n", stderr);
    return CommandLineOutcome::kInvalid;
  }
  if (!ChooseReportFormat(reportArguments)) return CommandLineOutcome::kInvalid;
  // A history reports its points: a saved CSV has nothing to be compared with.
  if (historyArgument != nullptr && !settings.diffFile.IsEmpty()) {
    PrintInvalid(historyArgument);
    return CommandLineOutcome::kInvalid;
  }
  if (compareArgument != nullptr && !ReadCompareSides(compareArgument, historyArgument)) {
    return CommandLineOutcome::kInvalid;
  }
  FinaliseExclusions();
  return CommandLineOutcome::kRun;
}

bool ParseCommandLine(int argc, const char* const* argv) {
  return ReadCommandLine(argc, argv) == CommandLineOutcome::kRun;
}

void PrintUsage(FILE* stream) {
  for (const char* line : kUsageHead) {
    std::fputs(line, stream);
    std::fputc('\n', stream);
  }
  for (int32_t entry = 0; entry < kOptionCount; ++entry) {
    const char* usage = kOptionTable[entry].usage;
    if (usage == nullptr) continue;
    // The first line at 7 spaces, continuation lines (their own 4 spaces) at 11.
    std::fputs("       ", stream);
    for (const char* cursor = usage; *cursor != 0; ++cursor) {
      std::fputc(*cursor, stream);
      if (*cursor == '\n') std::fputs("       ", stream);
    }
    std::fputc('\n', stream);
  }
  for (const char* line : kUsageTail) {
    std::fputs(line, stream);
    std::fputc('\n', stream);
  }
}

void FinaliseExclusions() {
  // The values as typed, for the messages about them.
  settings.excludeExtValues = settings.excludeExts;
  settings.excludeDirValues = settings.excludeDirs;
  for (const char* generated : {".designer.cs", ".g.cs", ".g.i.cs"}) {
    settings.excludeExts.PushBack(SharedString(generated));
  }
  for (SharedString& suffix : settings.excludeExts) {
    suffix.ToLower();
    if (!suffix.StartsWith(".")) suffix.Insert(0, ".");
  }
  // An entry that opens as a directory becomes its real path, the form every walked
  // path starts with; any other is kept as typed. A final '/' stays: the directory
  // alone and what lies below it, not every path its text begins.
  for (SharedString& directory : settings.excludeDirs) {
    SharedString realPath;
    if (!RealDirectoryPath(directory, realPath)) continue;
    if (directory.EndsWith("/") && !realPath.EndsWith("/")) realPath.Append("/", 1);
    directory = realPath;
  }
}

}  // namespace qm
