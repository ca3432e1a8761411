#include "core/timing_scope.h"

#include <time.h>

namespace qm {

namespace timing_detail {
std::atomic<int32_t> profileLevel{0};
}  // namespace timing_detail

namespace {

// The process-wide recorder. The spin lock is held only to append or copy events.
struct Recorder {
  std::atomic_flag isBusy = ATOMIC_FLAG_INIT;
  int32_t count = 0;
  int64_t droppedCount = 0;
  TimingEvent events[kTimingEventRoom];
};

Recorder recorder;

void LockRecorder() {
  while (recorder.isBusy.test_and_set(std::memory_order_acquire)) {
  }
}

void UnlockRecorder() {
  recorder.isBusy.clear(std::memory_order_release);
}

}  // namespace

int32_t ProfileLevel() {
  return timing_detail::profileLevel.load(std::memory_order_relaxed);
}

void SetProfileLevel(int32_t level) {
  timing_detail::profileLevel.store(level, std::memory_order_relaxed);
}

void timing_detail::Record(const char* name) {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  int64_t timestampNs = int64_t{now.tv_sec} * 1000000000 + now.tv_nsec;
  LockRecorder();
  if (recorder.count < kTimingEventRoom) {
    recorder.events[recorder.count++] = TimingEvent{timestampNs, name};
  } else {
    ++recorder.droppedCount;
  }
  UnlockRecorder();
}

int32_t CopyTimingEvents(TimingEvent* out, int32_t maxCount) {
  LockRecorder();
  int32_t count = recorder.count < maxCount ? recorder.count : maxCount;
  for (int32_t i = 0; i < count; ++i) out[i] = recorder.events[i];
  UnlockRecorder();
  return count < 0 ? 0 : count;
}

int64_t DroppedTimingEvents() {
  LockRecorder();
  int64_t dropped = recorder.droppedCount;
  UnlockRecorder();
  return dropped;
}

void ClearTimingEvents() {
  LockRecorder();
  recorder.count = 0;
  recorder.droppedCount = 0;
  UnlockRecorder();
}

}  // namespace qm
