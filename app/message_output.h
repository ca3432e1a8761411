// Where the run's lines go, how names are shown in them, and the exit status they add
// up to. Standard output holds the report and nothing the user did not ask for there:
// the banner, -la lines and the -le list go to the info stream, which is standard
// output, or standard error when the CSV itself goes to standard output; errors go to
// standard error after whatever standard output holds is flushed, so a terminal shows
// both in program order. Every name a line shows goes through Shown(), which writes
// bytes 0x00-0x1F and 0x7F as "\x" and two lower-case hex digits, so no file name
// can move a terminal's cursor or clear its screen.
//
// Failures of the run (status 1) are noted here by whoever meets them; a write to
// standard output that fails does not stop the run: FinishStandardOutput reports it
// once at the end. One thread; the state is process-wide and reset by
// ResetMessageOutput (tests).
#pragma once

#include <cstdio>

#include "core/shared_string.h"

namespace qm {

// Exit statuses of the tool.
inline constexpr int kStatusSuccess = 0;
inline constexpr int kStatusRunFailed = 1;    // report produced, a named input or output unusable
inline constexpr int kStatusInvalidUsage = 2; // command-line error, nothing counted

// Appends bytes with every control byte (0x00-0x1F, 0x7F) as "\x" and two lower-case
// hex digits; all other bytes as they are.
void AppendShown(SharedString& out, const char* bytes, int32_t length);
SharedString Shown(const SharedString& text);
SharedString Shown(const char* text);

// Standard output, or standard error when the CSV goes to standard output.
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
