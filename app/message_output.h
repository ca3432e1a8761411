// Where the run's lines go, how names are shown in them, and the exit status they add
// up to: the report to standard output, the banner, -la lines and -le list to the info
// stream, errors to standard error after standard output is flushed. Process-wide
// state for one thread; ResetMessageOutput forgets it (tests).

// The info stream is standard error when the CSV or JSON report goes to standard
// output; flushing first keeps program order on a terminal. Shown() writes bytes
// 0x00-0x1F and 0x7F of a name as "\x" and two hex digits. A failed write to standard
// output does not stop the run: FinishStandardOutput reports it once at the end.
#pragma once

#include <cstdio>

#include "core/shared_string.h"

namespace qm {

// Exit statuses of the tool.
inline constexpr int kStatusSuccess = 0;
inline constexpr int kStatusRunFailed = 1;     // report produced, a named input or output unusable
inline constexpr int kStatusInvalidUsage = 2;  // command-line error, nothing counted

// Appends bytes with every control byte (0x00-0x1F, 0x7F) as "\x" and two lower-case
// hex digits; all other bytes as they are.
void AppendShown(SharedString& out, const char* bytes, int32_t length);
SharedString Shown(const SharedString& text);
SharedString Shown(const char* text);

// Standard output, or standard error when the CSV or JSON report goes to standard
// output.
FILE* InfoStream();

// printf to the info stream. Names in the arguments must already be Shown().
[[gnu::format(printf, 1, 2)]] void PrintInfo(const char* format, ...);

// Flushes standard output, then printf to standard error.
[[gnu::format(printf, 1, 2)]] void PrintError(const char* format, ...);

// Writes report bytes to standard output (buffered).
void WriteReport(const char* bytes, size_t length);

// The run will end with status 1.
void NoteRunFailure();
bool HasRunFailed();

// Flushes standard output. When any write to it failed (a full disk, a closed
// descriptor), prints "cannot write the report: REASON" on standard error and notes a
// run failure. Call once, at the end of the run.
void FinishStandardOutput();

// Forgets noted failures and write errors.
void ResetMessageOutput();

}  // namespace qm
