// The standard streams: input, output and error as Streams over descriptors 0, 1 and
// 2, made once for the process (StandardInput(), StandardOutput(), StandardError()).
// The descriptors are borrowed, never closed, and nothing is buffered here. One
// thread at a time per stream; not copyable, not movable.

// StandardInputStream (flags 3: open, readable, not positioned): one Read keeps
// reading into the caller's buffer, each read(2) continuing where the previous one
// stopped, until the request is met, the input ends or an error occurs (false; the
// bytes done so far are reported). EINTR is retried.
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
  uint32_t Flags() override { return kStreamOpen | kStreamReadable; }
  // The descriptor read (borrowed), for callers that measure a regular file behind it.
  int Descriptor() const { return descriptor_; }

 private:
  int descriptor_;
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
