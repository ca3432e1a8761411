// The standard streams: input, output and error as Streams over descriptors 0, 1 and
// 2, made once for the process (StandardInput(), StandardOutput(), StandardError()).
// The descriptors are borrowed, never closed, and nothing is buffered here. One
// thread at a time per stream; not copyable, not movable.

// StandardInputStream (flags 3: open, readable): one Read keeps reading into the
// caller's buffer, each read(2) continuing where the previous one stopped, until the
// request is met, the input ends or an error occurs (false; the bytes done so far are
// reported). EINTR is retried. When the descriptor is a regular file (input redirected
// from a file) the stream is also positioned: Seek, Tell and Size work on the file, so
// what is passed over is sought over and a zip can be read.
//
// StandardOutputStream (flags 5: open, writable): one Write loops over short writes
// and EINTR until every byte is out or write(2) fails, so no byte is lost silently;
// on failure bytesDone says how many went out. The error stream is the same class
// over descriptor 2.
//
// The descriptors are borrowed, never closed; Close does nothing. The objects are
// process-wide, made on first use and never destroyed; other instances may be made over any descriptor
// (tests use pipes). Not copyable, not movable. Nothing is buffered here.
#pragma once

#include <cstdint>

#include "core/stream.h"

namespace qm {

class StandardInputStream : public Stream {
 public:
  explicit StandardInputStream(int descriptor = 0) : descriptor_(descriptor) {}
  bool Read(void* buffer, int64_t count, int64_t& bytesDone) override;
  uint32_t Flags() override;
  bool Seek(int64_t offset, int origin) override;
  int64_t Tell() override;
  int64_t Size() override;
  // The descriptor read (borrowed), for callers that measure a regular file behind it.
  int Descriptor() const { return descriptor_; }

 private:
  // Whether the descriptor is a regular file: 0 not known yet, 1 yes, -1 no.
  bool IsRegularFile();

  int descriptor_;
  int isRegular_ = 0;
};

class StandardOutputStream : public Stream {
 public:
  explicit StandardOutputStream(int descriptor = 1) : descriptor_(descriptor) {}
  bool Write(const void* buffer, int64_t count, int64_t& bytesDone) override;
  uint32_t Flags() override { return kStreamOpen | kStreamWritable; }

 private:
  int descriptor_;
};

// The process-wide streams over descriptors 0, 1 and 2.
StandardInputStream& StandardInput();
StandardOutputStream& StandardOutput();
StandardOutputStream& StandardError();

}  // namespace qm
