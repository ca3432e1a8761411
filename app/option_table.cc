#include "app/option_table.h"

#include "app/csv_report.h"
#include "app/html_report.h"
#include "app/json_report.h"
#include "app/markdown_report.h"

namespace qm {

namespace {

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
  if (*text == 0) return false;
  int32_t count = 0;
  for (; *text != 0; ++text) {
    if (*text < '0' || *text > '9') return false;
    if (count <= kMaxJobs) count = count * 10 + (*text - '0');
  }
  if (count < 1) return false;
  jobs = count < kMaxJobs ? count : kMaxJobs;
  return true;
}

// A --history count: decimal digits making a number from 1 to kMaxHistoryPoints.
bool ParseHistoryPoints(const char* text, int32_t& points) {
  if (*text == 0) return false;
  int32_t count = 0;
  for (; *text != 0; ++text) {
    if (*text < '0' || *text > '9') return false;
    count = count * 10 + (*text - '0');
    if (count > kMaxHistoryPoints) return false;
  }
  if (count < 1) return false;
  points = count;
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

void AppendListValue(const char* value, Array<SharedString>& list) {
  for (const SharedString& piece : SharedString(value).Split(",", false)) list.PushBack(piece);
}

// A file name that is not empty.
bool SetFile(const char* value, SharedString& file) {
  if (*value == 0) return false;
  file = value;
  return true;
}

// Pairs of reference and forced extensions (at least one pair); an odd last piece is
// ignored. Both get a leading '.' and are lowered; a later pair with the same reference
// extension replaces the forced extension of an earlier one.
bool AddForcedExtensions(const char* value, Settings& target) {
  if (CountListItems(value) < 2) return false;
  Array<SharedString, 0> pieces = SharedString(value).Split(",", false);
  for (int32_t i = 0; i + 1 < pieces.Count(); i += 2) {
    for (int32_t k = i; k < i + 2; ++k) {
      if (!pieces[k].StartsWith(".")) pieces[k].Insert(0, ".");
      pieces[k].ToLower();
    }
    target.forceExts.Insert(pieces[i], pieces[i + 1]);
  }
  return true;
}

template <bool Settings::*field, bool value>
bool SetFlag(const char*, Settings& target) {
  target.*field = value;
  return true;
}

using Apply = bool (*)(const char*, Settings&);
constexpr Apply kNoApply = nullptr;

}  // namespace

// clang-format off
const OptionSpec kOptionTable[] = {
    {"-h", "--help", 0, ValueCompletion::kNone, "-h, -? help", OptionEffect::kHelp, kNoApply, nullptr},
    {"-sp", "--show-progress", 0, ValueCompletion::kNone, "-sp show progress (off by default)", OptionEffect::kApply,
     SetFlag<&Settings::showProgress, true>, nullptr},
    {"-g", "--greedy", 0, ValueCompletion::kNone, "-g greedy mode (count punctuation as code)", OptionEffect::kApply,
     SetFlag<&Settings::conservative, false>, nullptr},
    {"-f", "--by-file", 0, ValueCompletion::kNone, "-f count by file (off by default)", OptionEffect::kApply,
     SetFlag<&Settings::byFile, true>, nullptr},
    {"-np", "--no-pretty-print", 0, ValueCompletion::kNone, "-np don't pretty-print numbers", OptionEffect::kApply,
     SetFlag<&Settings::prettyPrint, false>, nullptr},
    {"-nr", "--no-recursion", 0, ValueCompletion::kNone, "-nr don't recurse on subdirs", OptionEffect::kApply,
     SetFlag<&Settings::noRecursion, true>, nullptr},
    {"-gi", "--gitignore", 0, ValueCompletion::kNone, "-gi honour .gitignore, .ignore and .git/info/exclude files",
     OptionEffect::kApply, SetFlag<&Settings::useGitignore, true>, nullptr},
    {"-xd", "--exclude-dir", kAttachedOrLong, ValueCompletion::kDirectories, "-xd=dir,dir2,... exclude dirs",
     OptionEffect::kApply, [](const char* v, Settings& s) { AppendListValue(v, s.excludeDirs); return true; }, nullptr},
    {"-xe", "--exclude-ext", kAttachedOrLong, ValueCompletion::kText, "-xe=ext,ext2,... exclude extensions",
     OptionEffect::kApply, [](const char* v, Settings& s) { AppendListValue(v, s.excludeExts); return true; }, nullptr},
    {"-xn", "--exclude-name", kAttachedOrLong, ValueCompletion::kText, "-xn=name,name2,... exclude dirs with these names at any depth",
     OptionEffect::kApply, [](const char* v, Settings& s) { AppendListValue(v, s.excludeNames); return true; }, nullptr},
    {"-fe", "--force-ext", kAttachedOrLong, ValueCompletion::kText, "-fe=ref_ext,ext force extension\n    example: -fe=pas,inc",
     OptionEffect::kApply, AddForcedExtensions, nullptr},
    {"-le", "--list-extensions", 0, ValueCompletion::kNone, "-le list extensions in dir", OptionEffect::kApply,
     SetFlag<&Settings::listExtensions, true>, nullptr},
    {"-la", "--list-anomalies", 0, ValueCompletion::kNone, "-la list anomalies in dir (empty/dups/UTF-16)",
     OptionEffect::kApply, SetFlag<&Settings::listAnomalies, true>, nullptr},
    {"-v", "--version", 0, ValueCompletion::kNone, "-v always show version", OptionEffect::kApply,
     SetFlag<&Settings::showVersion, true>, nullptr},
    {"-max", "--max-file-size", kAttachedOrLong, ValueCompletion::kText, "-max=n ignore files bigger than n megabytes (default=64)",
     OptionEffect::kApply, [](const char* v, Settings& s) { return ParseMegabytes(v, s.maxFileSize); }, nullptr},
    {"-j", "--jobs", kAnyForm | kShortGlued, ValueCompletion::kText,
     "-j n, --jobs=n count with n threads (default: one per online CPU)", OptionEffect::kApply,
     [](const char* v, Settings& s) { return ParseJobs(v, s.jobs); }, nullptr},
    {"-stdin", "--stdin", kAttachedOrLong, ValueCompletion::kText, "-stdin=name.ext input from stdin\n    example: --stdin=*.tar",
     OptionEffect::kApply, [](const char* v, Settings& s) { return SetFile(v, s.stdinName); }, nullptr},
    {"-sa", "--scan-archives", 0, ValueCompletion::kNone,
     "-sa scan archives (zip, tar, tar.gz, tar.xz, tar.bz2, tar.zst) along the way (default=off)\n"
     "    note: nested zip archives will fail to open",
     OptionEffect::kApply, SetFlag<&Settings::scanArchives, true>, nullptr},
    {"-al", "--all-languages", 0, ValueCompletion::kNone, "-al count all languages, not only the 17 default ones",
     OptionEffect::kApply, SetFlag<&Settings::allLanguages, true>, nullptr},
    {"-git", "--git", kAttachedOrLong, ValueCompletion::kText,
     "-git=REV count each directory as it is at git revision REV", OptionEffect::kApply,
     [](const char* v, Settings& s) { return SetFile(v, s.gitRevision); }, nullptr},
    {nullptr, "--history", kLongAttached | kLongSeparate, ValueCompletion::kText,
     "--history=N count N points of the first-parent history up to -git=REV (HEAD)", OptionEffect::kApply,
     [](const char* v, Settings& s) { return ParseHistoryPoints(v, s.historyPoints); }, nullptr},
    {"-cmp", "--compare", 0, ValueCompletion::kNone,
     "-cmp OLD NEW compare two directories or archives: lines same, modified,\n"
     "    added and removed per language (-git=OLD..NEW dir: two revisions)",
     OptionEffect::kApply, SetFlag<&Settings::compare, true>, nullptr},
    {nullptr, "--languages", 0, ValueCompletion::kNone, "--languages list the languages with their files and comments",
     OptionEffect::kApply, SetFlag<&Settings::listLanguages, true>, nullptr},
    {"-csv", "--csv", kAnyForm, ValueCompletion::kFile,
     "-csv <filename> output results (total even if counting by file) to csv\n"
     "    note: always overwrites filename without prompting!\n"
     "    this implies no output to stdout unless stdout\n"
     "    is supplied as filename; csv will then\n"
     "    be printed to stdout instead",
     OptionEffect::kApply, [](const char* v, Settings& s) { return SetFile(v, s.csvFile); }, &kCsvReport},
    {"-json", "--json", kAnyForm, ValueCompletion::kFile,
     "-json <filename> output results as json instead (stdout: to stdout)",
     OptionEffect::kApply, [](const char* v, Settings& s) { return SetFile(v, s.jsonFile); }, &kJsonReport},
    {"-html", "--html", kAnyForm, ValueCompletion::kFile,
     "-html <filename> output results as one self-contained html page instead\n"
     "    (languages, a treemap of the directories, the biggest files, anomalies)",
     OptionEffect::kApply, [](const char* v, Settings& s) { return SetFile(v, s.htmlFile); }, &kHtmlReport},
    {"-md", "--md", kAnyForm, ValueCompletion::kFile,
     "-md <filename> output results as markdown tables instead (stdout: to stdout)",
     OptionEffect::kApply, [](const char* v, Settings& s) { return SetFile(v, s.mdFile); }, &kMarkdownReport},
    {"-diff", "--diff", kAnyForm, ValueCompletion::kFile,
     "-diff <filename> diff results with previously saved csv",
     OptionEffect::kApply, [](const char* v, Settings& s) { return SetFile(v, s.diffFile); }, nullptr},
    {"-c", "--conservative", 0, ValueCompletion::kNone, nullptr, OptionEffect::kApply,
     SetFlag<&Settings::conservative, true>, nullptr},
    {"-p", "--pretty-print", 0, ValueCompletion::kNone, nullptr, OptionEffect::kApply,
     SetFlag<&Settings::prettyPrint, true>, nullptr},
    {"--", nullptr, 0, ValueCompletion::kNone, nullptr, OptionEffect::kEndOptions, kNoApply, nullptr},
};
// clang-format on

const int32_t kOptionCount = sizeof kOptionTable / sizeof kOptionTable[0];

}  // namespace qm
