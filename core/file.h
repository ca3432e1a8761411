// File: a Stream over an operating-system file descriptor, opened by path. The File
// owns its descriptor and closes it on Close or destruction; a read-only open never
// blocks, so a FIFO in a source tree cannot stall the run. One thread at a time; not
// copyable, not movable; no operation prints.

// A File is closed (Flags() 0) until Open succeeds; then its flags are open,
// readable and/or writable from the mode, append with kFileAppend, and positioned
// when the descriptor can seek (regular files and devices; not pipes, FIFOs or
// sockets). Every descriptor is opened close-on-exec. A read-only open never blocks:
// it opens with O_NONBLOCK and clears that flag at once, so a FIFO met in a source
// tree opens (and reads as empty while it has no writer) instead of stalling the run.
// IsRegularFile() lets callers refuse FIFOs, sockets and devices.
//
// Read is one read(2) (retried on EINTR): short reads are normal and 0 bytes is the
// end. Write is one write(2) (retried on EINTR); in append mode it writes at the end
// and leaves the offset where it was. Whole files are read with ReadAll
// (core/stream.h): one size query, one read loop.
//
// Ownership: a File is a plain object (a local or a member) or comes from the "File"
// object pool through File::New() and goes back through Destroy() or the last
// StreamRef. The descriptor is owned and closed by Close() or the destructor; Close
// always gives the descriptor up, also when close(2) reports an error, so a descriptor
// number is never closed twice.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/object_pool.h"
#include "core/shared_string.h"
#include "core/stream.h"

namespace qm {

// Mode bits of File::Open.
inline constexpr uint32_t kFileRead = 1;
inline constexpr uint32_t kFileWrite = 2;  // kFileRead | kFileWrite: both
inline constexpr uint32_t kFileCreate = 4;
inline constexpr uint32_t kFileTruncate = 8;
inline constexpr uint32_t kFileAppend = 16;

class File : public Stream {
 public:
  static constexpr const char* kPoolName = "File";
  // `new File` and `delete` use the "File" pool group.
  static void* operator new(size_t bytes) { return PoolOf<File>().Alloc(bytes); }
  static void operator delete(void* object) { ObjectPool::FreeObject(object); }

  File() = default;
  // Closes the file; the result is ignored.
  ~File() override;

  // A closed File from the "File" object pool of the current thread's pool group.
  // Free it with Destroy(), delete, or hand it to a StreamRef.
  static File* New() { return new File(); }

  // The pool's free.
  DeallocateFunction Deallocator() const override;
  bool Read(void* buffer, int64_t count, int64_t& bytesDone) override;
  bool Write(const void* buffer, int64_t count, int64_t& bytesDone) override;
  // True when not open. Otherwise closes the descriptor; false when close(2) reports
  // an error (the descriptor is given up all the same). Flags become 0.
  bool Close() override;
  uint32_t Flags() override { return stateFlags_; }
  // lseek(2): false when closed, for an unknown origin or a target before 0.
  bool Seek(int64_t offset, int origin) override;
  int64_t Tell() override;
  // fsync(2) when writable; true when not.
  bool Flush() override;
  // Cuts the file at the current offset when writable; true when not.
  bool Truncate() override;
  // Another pooled File on the same path with the same mode (less create and
  // truncate, so the data stays as it is) and share, at the same offset; null when
  // that fails or this file is closed.
  Stream* Duplicate() override;

  // Opens path with mode (kFile* bits) and keeps share (no effect on opening; passed
  // on by Duplicate). An open file is closed first (false if that fails). Access is
  // mode & 3 (0 fails). Create and truncate: create or truncate; truncate only:
  // truncate an existing file; create only: create a new file, failing if the path
  // exists; neither: open an existing file. New files get permission 0600. On failure
  // the file stays closed with flags 0.
  virtual bool Open(const SharedString& path, uint32_t mode, uint32_t share);

  // True for an open file whose descriptor is a regular file (fstat).
  bool IsRegularFile() const;

  bool IsOpen() const { return descriptorPlusOne_ != 0; }
  // The operating-system descriptor, or -1 when closed.
  int Descriptor() const { return descriptorPlusOne_ - 1; }
  // The path given to the last successful Open; empty when closed.
  const SharedString& Path() const { return path_; }
  uint32_t Mode() const { return mode_; }
  uint32_t Share() const { return share_; }

 private:
  int descriptorPlusOne_ = 0;  // 0: no descriptor
  SharedString path_;
  uint32_t stateFlags_ = 0;
  uint32_t mode_ = 0;
  uint32_t share_ = 0;
};

// The one file-kind check: true when the open descriptor is a regular file (fstat),
// false for FIFOs, sockets, devices, directories and on any failure.
bool IsRegularDescriptor(int descriptor);

}  // namespace qm
