#include "archive/decoder_stream.h"

#include <cstdio>

#include "archive/crc32.h"
#include "core/allocation.h"

namespace qm {

namespace {

// The most one Decode call is offered: bzip2 counts in unsigned int.
constexpr size_t kMaxStepBytes = size_t{1} << 30;

}  // namespace

DecoderStream::~DecoderStream() {
  // The subclass has ended its library in its own destructor.
  Free(input_);
}

void* DecoderStream::operator new(size_t bytes) {
  return AllocateOrDie(bytes, alignof(std::max_align_t));
}

void DecoderStream::operator delete(void* object) {
  Free(object);
}

Stream::DeallocateFunction DecoderStream::Deallocator() const {
  return &Free;
}

bool DecoderStream::Open(Stream* source, bool ownsSource) {
  Close();
  if (source == nullptr) return false;
  if (ownsSource) ownedSource_ = StreamRef<Stream>(source);
  source_ = source;
  startPosition_ = (source->Flags() & kStreamPositioned) != 0 ? source->Tell() : -1;
  Restart();
  return true;
}

bool DecoderStream::Close() {
  EndLibrary();
  source_ = nullptr;
  ownedSource_.Reset();
  state_ = State::kIdle;
  return true;
}

bool DecoderStream::Rewind() {
  if (source_ == nullptr) return false;
  EndLibrary();
  const bool isBack = startPosition_ >= 0 ? source_->Seek(startPosition_, kSeekStart) : source_->Rewind();
  Restart();
  if (!isBack) Fail(DecoderFault::kSourceFailed);
  return state_ == State::kRunning;
}

void DecoderStream::Restart() {
  fault_ = DecoderFault::kNone;
  reason_[0] = '\0';
  inNext_ = inEnd_ = input_;
  isInputEnd_ = false;
  runningCrc_ = 0;
  totalOutput_ = 0;
  state_ = State::kRunning;
  if (input_ == nullptr) {
    input_ = static_cast<uint8_t*>(Allocate(kInputBytes));
    inNext_ = inEnd_ = input_;
    if (input_ == nullptr) {
      Fail(DecoderFault::kNoMemory);
      return;
    }
  }
  const DecoderFault fault = StartLibrary();
  if (fault != DecoderFault::kNone) Fail(fault);
}

bool DecoderStream::Refill() {
  int64_t got = 0;
  if (!source_->Read(input_, kInputBytes, got) || got < 0 || got > static_cast<int64_t>(kInputBytes)) {
    Fail(DecoderFault::kSourceFailed);
    return false;
  }
  inNext_ = input_;
  inEnd_ = input_ + got;
  isInputEnd_ = got == 0;
  return true;
}

DecoderStream::Progress DecoderStream::Fail(DecoderFault fault, uint64_t neededBytes) {
  state_ = State::kFailed;
  if (fault_ != DecoderFault::kNone) return Progress::kFailed;
  fault_ = fault;
  const char* name = formatName_;
  const unsigned long long limitMiB = kDecoderMemoryLimit >> 20;
  switch (fault) {
    case DecoderFault::kNone:
    case DecoderFault::kNoSource:
      std::snprintf(reason_, sizeof reason_, "no data");
      break;
    case DecoderFault::kSourceFailed:
      std::snprintf(reason_, sizeof reason_, "the compressed data cannot be read");
      break;
    case DecoderFault::kNoMemory:
      std::snprintf(reason_, sizeof reason_, "out of memory");
      break;
    case DecoderFault::kNotFormat:
      std::snprintf(reason_, sizeof reason_, "not %s data", name);
      break;
    case DecoderFault::kTruncated:
      std::snprintf(reason_, sizeof reason_, "truncated %s data", name);
      break;
    case DecoderFault::kCorrupt:
      std::snprintf(reason_, sizeof reason_, "corrupt %s data", name);
      break;
    case DecoderFault::kUnsupported:
      std::snprintf(reason_, sizeof reason_, "%s options this decoder does not support", name);
      break;
    case DecoderFault::kMemoryLimit:
      if (neededBytes > kDecoderMemoryLimit) {
        std::snprintf(reason_, sizeof reason_, "%s data needs %llu MiB of memory, over the %llu MiB limit",
                      name, static_cast<unsigned long long>((neededBytes + (1 << 20) - 1) >> 20), limitMiB);
      } else {
        std::snprintf(reason_, sizeof reason_, "%s data needs more memory than the %llu MiB limit", name,
                      limitMiB);
      }
      break;
    case DecoderFault::kTrailingData:
      std::snprintf(reason_, sizeof reason_, "other bytes after the %s data", name);
      break;
    case DecoderFault::kChecksumMismatch:
      std::snprintf(reason_, sizeof reason_, "CRC-32 mismatch");
      break;
  }
  return Progress::kFailed;
}

// Hot: see bench/decoder_bench.cc. The library writes straight into the caller's
// buffer; the input is refilled only when the library has taken all of it.
bool DecoderStream::Read(void* buffer, int64_t count, int64_t& bytesDone) {
  bytesDone = 0;
  if (count <= 0 || state_ == State::kDone) return state_ != State::kFailed && count >= 0;
  if (source_ == nullptr) {
    Fail(DecoderFault::kNoSource);
    return false;
  }
  auto* const start = static_cast<uint8_t*>(buffer);
  uint8_t* out = start;
  uint8_t* const outEnd = start + count;
  while (out != outEnd && state_ == State::kRunning) {
    if (inNext_ == inEnd_ && !isInputEnd_ && !Refill()) break;
    const size_t room = static_cast<size_t>(outEnd - out);
    Window window{inNext_, static_cast<size_t>(inEnd_ - inNext_), out,
                  room < kMaxStepBytes ? room : kMaxStepBytes};
    const Progress progress = Decode(window, isInputEnd_);
    const bool hasConsumed = window.in != inNext_;
    const bool hasProduced = window.out != out;
    if (hasExpectedCrc_ && hasProduced) runningCrc_ = Crc32(runningCrc_, out, window.out - out);
    totalOutput_ += static_cast<uint64_t>(window.out - out);
    inNext_ = window.in;
    out = window.out;
    if (progress == Progress::kFailed) break;
    if (progress == Progress::kEnd) {
      state_ = State::kDone;
      if (hasExpectedCrc_ && runningCrc_ != expectedCrc_) Fail(DecoderFault::kChecksumMismatch);
      break;
    }
    if (!hasConsumed && !hasProduced) {
      // A library that takes nothing with input at hand and room to write is stuck on
      // damage; one that waits for input that will never come was cut short.
      if (inNext_ != inEnd_) {
        Fail(DecoderFault::kCorrupt);
      } else if (isInputEnd_) {
        Fail(DecoderFault::kTruncated);
      }
    }
  }
  bytesDone = out - start;
  return state_ != State::kFailed;
}

}  // namespace qm
