// FileIntake: where every file ends up (found by the walk, named on the command line,
// read from standard input, met inside an archive): excluded, handed to archive
// scanning, refused, noted as an anomaly, or read and classified into the caller's
// totals, with its -la lines. Called by one thread; with StartParallelIntake, worker
// threads read and classify, and the caller counts every file in walk order.

// What becomes of a file: skipped (-xe, also for archives), handed to archive scanning
// (-sa), counted as unknown without being read, refused (too big, unreadable), noted as
// an anomaly (empty, duplicate, UTF-16, converted and counted), or read whole into a
// reused buffer and classified into the totals. With -la it prints one line per refusal
// and anomaly on the info stream (app/message_output.h), names shown with control bytes
// escaped; the counters change either way. One bad file never stops the run: every
// failure is counted and reported as false.
//
// Names and paths. The name is the entry name exactly as the directory read gave it
// (or an archive member's file name). Its type and exclusion are decided on a prepared
// copy (white space trimmed, ASCII lowered). The full path is the directory's absolute
// path (a virtual listing's path as it is), '/', and the untouched name: no
// normalisation, so names with backslashes, quotes, surrounding spaces or newlines are
// opened and shown as they are. Display paths (messages, digest sources) are the full
// path relative to currentRoot (an archive member's: its path inside the archive),
// built only with -la.
//
// Limits. A file of exactly settings.maxFileSize bytes is read and counted; over the
// limit a file is "too big": a file from disk, a file argument or a regular file on
// standard input before it is read, a pipe on standard input as soon as it passes the
// limit. FIFOs, sockets and devices found on disk are counted as unreadable without
// being read (opening never blocks). A UTF-16 file whose UTF-8 form would not fit the
// 32-bit buffer is refused as too big. A file whose buffer cannot be had (out of
// memory) is "couldn't read file" and the run goes on; standard input of unknown size
// is read into a buffer of at most the limit plus one page.
//
// Duplicates. A file is a duplicate when its raw bytes equal those of a file counted
// earlier into the same totals. Only files of equal size and equal sampled bytes can
// be equal, so a file of 4 KiB or more read from disk whose size and sample no earlier
// file had is not hashed on arrival; it is hashed (read again) when a later file of
// its kind comes, and the result is the same as hashing every file
// (app/deferred_digests.h). The waiting files are kept in the totals' deferredDigests,
// which ResetTotals clears with the digest map.
//
// Threads. Intake is called by one thread. With StartParallelIntake, files of the walk
// and archive members are read (members by the calling thread, which decodes the
// archive) and classified by worker threads in batches, and counted into the totals,
// reported and checked for duplicates on the calling thread in the order they came:
// the run's output is the same as on one thread. Every totals, list and message stays
// on the calling thread. Anything else that reports (an archive's messages, a stream
// of unknown size, a directory that cannot be opened) first finishes the files in
// flight. A file from disk is held only while a worker reads and classifies it, so
// batches of files (paths only) may wait up to jobs + 32 at a time; at most jobs + 2
// batches of archive members are in flight, each at most 256 KiB of members plus one.
//
// Costs: on one thread each file is read once into one reused buffer, whose capacity
// only grows; the prepared name and the open path live in reused buffers, so a file of
// a known type costs no allocation beyond its digest map entry or, for a file whose
// digest waits, the copy of its path (with -f: its record, with -la: its display
// path). In parallel each file also costs a copy of its path; a file of 4 KiB or more
// from disk that an earlier file may equal is read a second time to be hashed (the
// worker that read it could not know).
#pragma once

#include <cstdint>

#include "app/run_state.h"
#include "core/array.h"
#include "core/directory_listing.h"
#include "core/shared_string.h"
#include "core/stream.h"

namespace qm {

// Counts one file. listing is the open listing of the file's directory, or a virtual
// one for archive members (then shown by their path inside the archive). Without a stream the file is opened
// from disk; with a stream and a size exactly size bytes are read from it (no limit applied: archive scanning
// checked it); with a stream and no size the stream is read to its end under the limit. The caller keeps
// ownership of the stream. Returns true when the file was counted, found empty or a duplicate, or dealt with
// by archive scanning (its result), or handed to the workers; false when excluded, of unknown type, too big,
// or not opened or read.
bool FileIntake(CountTotals& totals, const DirectoryListing& listing, const SharedString& name,
                Stream* stream = nullptr, const uint32_t* size = nullptr);

// The same for a file of the directory whose absolute path is directoryPath: the walk
// calls this, so that the directory's exact path is used whatever its listing holds.
// With a stream (a file argument, standard input), the stream is read to its end.
bool FileIntakeInDirectory(CountTotals& totals, const SharedString& directoryPath, const SharedString& name,
                           Stream* stream = nullptr);

// The path shown for the file name in directory: the full path relative to root
// (empty: the full path itself).
SharedString DisplayPathOf(const SharedString& root, const SharedString& directory, const SharedString& name);

enum class Utf16Kind { kNone, kLittleEndian, kBigEndian };

// The UTF-16 test: an even length and, within the first 1024 bytes, at least two zero
// bytes at odd offsets and one non-zero byte at an even offset (little-endian) or
// else, with at least 3 bytes examined, at least two zero bytes at even offsets and
// one non-zero byte at an odd offset (big-endian). A run of NULs is not UTF-16. No
// byte-order mark is looked for.
Utf16Kind DetectUtf16(const uint8_t* bytes, int64_t length);

enum class Utf16Conversion { kConverted, kTooLong, kNoMemory };

// Writes the UTF-8 form of count bytes of UTF-16 of the given byte order into out,
// each 16-bit unit taken as one code point (surrogates are not paired), with one byte
// of room behind it. kTooLong when the result would be longer than maxLength,
// kNoMemory when out cannot grow to hold it. Requires: count is even; kind is not kNone.
Utf16Conversion ConvertUtf16(const uint8_t* bytes, int64_t count, Utf16Kind kind, int64_t maxLength,
                             Array<uint8_t>& out);

// Starts jobs worker threads for the files of the walk (files named without a stream).
// True when they run; false for jobs < 2, when already running, or when no thread can
// be started (intake then goes on alone). Requires: settings and the classification
// tables are final, no file is in flight.
bool StartParallelIntake(int32_t jobs);

// Counts every file handed to the workers, in order. Call before anything is reported
// or counted that must come after them. Nothing when not running.
void FinishPendingFiles();

// Around the decoding of an archive on the calling thread (nested calls count): one
// worker fewer (at least one) takes files meanwhile, so the decoding keeps a core. The
// outermost calls finish the files in flight and give back the buffers the coming
// stretch does not use (the workers' read buffers before, the member batches after).
void BeginArchiveDecoding();
void EndArchiveDecoding();

// FinishPendingFiles, then ends the worker threads (idempotent).
void StopParallelIntake();

// Stops the workers and releases intake's reused buffers (part of the clean-up at exit; idempotent).
void ReleaseIntakeBuffers();

}  // namespace qm
