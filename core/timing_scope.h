// TimingScope: a named scope that marks an expensive operation ("File::Open",
// "Inflate::Read"). While the process-wide profile level is below 2 (always, in the
// counting program) the scope is inert: one relaxed load and a compare. Otherwise it
// records into a bounded process-wide recorder under a spin lock, from any thread.

// Its level is the process-wide profile level minus 2; when that is negative the
// scope records nothing and its end does nothing. The profile level starts at 0 and
// nothing in the counting program changes it.
//
// When the level is 2 or more, the scope appends a (timestamp, name) event when it
// begins and a (timestamp, no name) event when it ends to the process-wide recorder,
// under the recorder's spin lock. The recorder has a fixed room of kTimingEventRoom
// events; events past that are dropped and counted, so memory stays bounded. Names
// must be texts that live for the whole process (string literals).
//
// Copy rules: TimingScope is non-copyable and non-movable (it is a scope).
#pragma once

#include <atomic>
#include <cstdint>

namespace qm {

struct TimingEvent {
  int64_t timestampNs;  // monotonic clock
  const char* name;     // null for the end of a scope
};

inline constexpr int32_t kTimingEventRoom = 4096;

// The process-wide profile level (initially 0).
int32_t ProfileLevel();
void SetProfileLevel(int32_t level);

// Copies up to maxCount recorded events, oldest first, into out; returns how many.
int32_t CopyTimingEvents(TimingEvent* out, int32_t maxCount);
// Events dropped because the recorder was full.
int64_t DroppedTimingEvents();
// Forgets every recorded and dropped event.
void ClearTimingEvents();

namespace timing_detail {
extern std::atomic<int32_t> profileLevel;
void Record(const char* name);
}  // namespace timing_detail

class TimingScope {
 public:
  explicit TimingScope(const char* name)
      : level_(timing_detail::profileLevel.load(std::memory_order_relaxed) - 2) {
    if (level_ >= 0) [[unlikely]]
      timing_detail::Record(name);
  }
  ~TimingScope() {
    if (level_ >= 0) [[unlikely]]
      timing_detail::Record(nullptr);
  }
  TimingScope(const TimingScope&) = delete;
  TimingScope& operator=(const TimingScope&) = delete;

 private:
  int32_t level_;
};

}  // namespace qm
