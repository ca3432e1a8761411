// Fuzz target for ParseCommandLine. The input is cut at NUL bytes into arguments
// (argv[0] is added), so option texts, values and directory names mix freely; the
// settings are put back to their defaults before and after every run. What the parse
// writes to standard error is captured in memory instead of printed, and checked: at
// most one line, and only one of the command-line messages. After a successful parse
// the settings must be complete and in range: something to count, every excluded
// suffix lowered and dot-prefixed and ending with the generated-file suffixes, every
// forced extension pair dot-prefixed and lowered, a size limit of whole megabytes
// within the clamp, and every directory argument taken from the arguments in order.
//
// -xd values are opened as directories (read-only) while the exclusions are finished;
// nothing else touches the file system.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "app/command_line.h"
#include "app/message_output.h"
#include "app/settings.h"

namespace {

constexpr size_t kMaxArguments = 512;
constexpr size_t kMaxInputBytes = size_t{1} << 14;

std::string_view View(const qm::SharedString& text) {
  return std::string_view(text.CStr(), static_cast<size_t>(text.Length()));
}

bool IsLoweredWithDot(const qm::SharedString& text) {
  if (!text.StartsWith(".")) return false;
  for (char c : View(text)) {
    if (c >= 'A' && c <= 'Z') return false;
  }
  return true;
}

// Runs the parse with the C stream stderr pointed at a memory buffer, and returns
// what was written there. The sanitizers and libFuzzer write to their own streams,
// so findings are still shown.
bool ParseCapturingErrors(const std::vector<const char*>& argv, std::string& errors) {
  static char buffer[2 * kMaxInputBytes + 256];
  FILE* capture = fmemopen(buffer, sizeof buffer, "w");
  if (capture == nullptr) std::abort();
  FILE* const saved = stderr;
  stderr = capture;
  const bool isOk = qm::ParseCommandLine(static_cast<int>(argv.size()), argv.data());
  stderr = saved;
  std::fflush(capture);
  const long written = std::ftell(capture);
  std::fclose(capture);
  errors.assign(buffer, written > 0 ? static_cast<size_t>(written) : 0);
  return isOk;
}

// Error lines show arguments with their control bytes escaped.
bool IsOneOfArguments(std::string_view line, const std::vector<const char*>& argv) {
  for (size_t i = 1; i < argv.size(); ++i) {
    if (line == View(qm::Shown(argv[i]))) return true;
  }
  return false;
}

bool HasOptionEnd(const std::vector<const char*>& argv) {
  for (size_t i = 1; i < argv.size(); ++i) {
    if (std::string_view(argv[i]) == "--") return true;
  }
  return false;
}

void CheckSettings(const std::vector<const char*>& argv) {
  const qm::Settings& s = qm::settings;
  if (s.stdinName.IsEmpty() && s.dirArgs.IsEmpty() && !s.listLanguages)
    std::abort();  // --languages needs none
  if (s.maxFileSize < 0 || s.maxFileSize > qm::kMaxFileSizeMegabytes * qm::kMegabyte ||
      s.maxFileSize % qm::kMegabyte != 0) {
    std::abort();
  }
  const int32_t suffixCount = s.excludeExts.Count();
  if (suffixCount < 3) std::abort();
  if (View(s.excludeExts[suffixCount - 3]) != ".designer.cs" ||
      View(s.excludeExts[suffixCount - 2]) != ".g.cs" || View(s.excludeExts[suffixCount - 1]) != ".g.i.cs") {
    std::abort();
  }
  for (const qm::SharedString& suffix : s.excludeExts) {
    if (!IsLoweredWithDot(suffix)) std::abort();
  }
  for (int32_t i = 0; i < s.forceExts.Count(); ++i) {
    if (!IsLoweredWithDot(s.forceExts.Key(i)) || !IsLoweredWithDot(s.forceExts.Value(i))) std::abort();
  }
  // Directory arguments are a subsequence of the arguments, none starting with '-'
  // unless "--" ended the options.
  const bool isDashAllowed = HasOptionEnd(argv);
  size_t next = 1;
  for (const qm::SharedString& directory : s.dirArgs) {
    if (directory.StartsWith("-") && !isDashAllowed) std::abort();
    while (next < argv.size() && View(directory) != argv[next]) ++next;
    if (next == argv.size()) std::abort();
    ++next;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kMaxInputBytes) return 0;
  // Arguments are C strings: one copy of the input with a terminator after the end.
  std::string text(reinterpret_cast<const char*>(data), size);
  std::vector<const char*> argv;
  argv.push_back("quillmet");
  if (size > 0) {
    for (size_t start = 0; start <= text.size() && argv.size() <= kMaxArguments;) {
      argv.push_back(text.c_str() + start);
      const size_t stop = text.find('\0', start);
      if (stop == std::string::npos) break;
      start = stop + 1;
    }
  }

  qm::ClearSettings();
  std::string errors;
  const bool isOk = ParseCapturingErrors(argv, errors);
  if (isOk) {
    if (!errors.empty()) std::abort();
    CheckSettings(argv);
  } else if (!errors.empty() && errors != "dirname(s) not specified\n" &&
             errors != "invalid argument: - (count standard input with --stdin=NAME.EXT)\n" &&
             errors != "-cmp compares two directories or archives: -cmp OLD NEW\n" &&
             errors != "-git=OLD..NEW compares one directory at two revisions: -git=OLD..NEW DIR\n") {
    // "invalid argument: ARG" or "ARG needs a value: FORM", ARG one of the arguments.
    constexpr std::string_view kInvalid = "invalid argument: ";
    constexpr std::string_view kNeedsValue = " needs a value: ";
    if (errors.back() != '\n' || errors.find('\n') != errors.size() - 1) std::abort();
    std::string_view argument;
    if (errors.compare(0, kInvalid.size(), kInvalid) == 0) {
      argument = std::string_view(errors).substr(kInvalid.size(), errors.size() - kInvalid.size() - 1);
    } else {
      const size_t at = errors.find(kNeedsValue);
      if (at == std::string::npos || errors.compare(at + kNeedsValue.size(), 1, "-") != 0) std::abort();
      argument = std::string_view(errors).substr(0, at);
    }
    if (!IsOneOfArguments(argument, argv)) std::abort();
  }
  qm::ClearSettings();
  return 0;
}
