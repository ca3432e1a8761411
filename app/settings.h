// Settings: the process-wide options record. Written only while the command line is
// parsed (app/command_line.h) and read-only afterwards, so any thread may read it
// while files are counted. Its strings, lists and maps are released by ClearSettings,
// which the process entry runs at exit (idempotent).
#pragma once

#include <cstdint>

#include "core/array.h"
#include "core/hash_table.h"
#include "core/shared_string.h"

namespace qm {

inline constexpr int64_t kMegabyte = 1048576;
// Largest -max=n accepted as given; larger values are clamped to it, so that a file
// at the limit (plus the line break intake may add) still fits the 32-bit read buffer.
inline constexpr int64_t kMaxFileSizeMegabytes = 2047;
// Largest -j n accepted as given; larger values are clamped to it.
inline constexpr int32_t kMaxJobs = 64;
// Most points --history=N takes.
inline constexpr int32_t kMaxHistoryPoints = 100000;

struct ReportFormat;

struct Settings {
  bool showProgress = false;             // -sp
  bool byFile = false;                   // -f
  bool conservative = true;              // -c (true), -g (false)
  bool prettyPrint = true;               // -p (true), -np (false)
  bool listExtensions = false;           // -le
  bool listAnomalies = false;            // -la
  bool noRecursion = false;              // -nr
  bool scanArchives = false;             // -sa
  bool showVersion = false;              // -v
  bool allLanguages = false;             // -al: the language table's types too
  bool listLanguages = false;            // --languages: print the language list instead of counting
  int64_t maxFileSize = 64 * kMegabyte;  // -max=n, bytes
  int32_t jobs = 0;                      // -j n: threads; 0 when not given (one per online CPU)
  SharedString stdinName;                // --stdin=name
  SharedString csvFile;                  // -csv file
  SharedString diffFile;                 // -diff file
  Array<SharedString> excludeExts;       // -xe=list, completed by FinaliseExclusions
  Array<SharedString> excludeDirs;       // -xd=list, completed by FinaliseExclusions
  StringMap forceExts;                   // -fe=list: reference extension -> forced extension
  Array<SharedString> dirArgs;           // every argument not starting with '-'
  Array<SharedString> excludeNames;      // -xn=list: directory names skipped at any depth
  Array<SharedString> excludeDirValues;  // -xd values as typed, one per excludeDirs entry
  Array<SharedString> excludeExtValues;  // -xe values as typed, the first excludeExts entries
  bool useGitignore = false;             // -gi
  SharedString jsonFile;                 // -json file, --json=file
  SharedString gitRevision;              // -git=REV: directories read at this revision
  int32_t historyPoints = 0;             // --history=N: points of the first-parent history
  // -cmp OLD NEW: the two arguments compared; also set by -git=OLD..NEW (one directory
  // at two revisions, the text before and after ".." in compareOld and compareNew).
  bool compare = false;
  SharedString compareOld;
  SharedString compareNew;
  SharedString htmlFile;  // -html file, --html=file
  SharedString mdFile;    // -md file, --md=file
  // Every option as typed, in order, a value given as the next argument after a space
  // ("-g", "-xd=a,b", "-html page.html"): what a report shows of the command line.
  Array<SharedString> optionArgs;
  // The report that replaces the table (its option's file names where it goes), or
  // null for the table. Set at the end of a successful parse.
  const ReportFormat* reportFormat = nullptr;
};

extern Settings settings;

// Puts every field back to its default and releases all strings, lists and maps.
void ClearSettings();

}  // namespace qm
