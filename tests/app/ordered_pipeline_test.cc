#include "app/ordered_pipeline.h"

#include <gtest/gtest.h>

#include <atomic>
#include <vector>

namespace qm {
namespace {

// Items are numbers written into slots; work squares them after a pause of a few
// microseconds chosen from the number (so items finish out of order), merge records
// them. Every slot is checked to be worked on by one thread at a time and merged only
// after its work.
class Recorder final : public OrderedPipeline::Client {
 public:
  explicit Recorder(int32_t slotCount) : slots_(slotCount), busy_(slotCount) {}

  void Work(int32_t slot, int32_t worker) override {
    EXPECT_EQ(busy_[slot].exchange(1), 0) << "slot " << slot << " worked on twice at once";
    if (worker == ownerIndex) ++ownerWorked;
    workerMask |= 1u << worker;
    Slot& item = slots_[slot];
    for (int spin = 0; spin < item.value % 7 * 500; ++spin) spinSink_.fetch_add(1, std::memory_order_relaxed);
    item.result = item.value * item.value;
    item.isWorked = true;
    const int32_t inFlight = ++inFlight_;
    int32_t seen = maxInFlight.load();
    while (inFlight > seen && !maxInFlight.compare_exchange_weak(seen, inFlight)) {
    }
    --inFlight_;
    busy_[slot] = 0;
  }

  void Merge(int32_t slot) override {
    Slot& item = slots_[slot];
    EXPECT_TRUE(item.isWorked) << "slot " << slot << " merged before its work";
    merged.push_back(item.result);
    item.isWorked = false;
  }

  void Fill(int32_t slot, int64_t value) { slots_[slot].value = value; }

  std::vector<int64_t> merged;
  std::atomic<int32_t> maxInFlight{0};
  std::atomic<int32_t> ownerWorked{0};
  int32_t ownerIndex = -1;
  std::atomic<uint32_t> workerMask{0};  // the threads that worked

 private:
  struct Slot {
    int64_t value = 0;
    int64_t result = 0;
    bool isWorked = false;
  };
  std::vector<Slot> slots_;
  std::vector<std::atomic<int>> busy_;
  std::atomic<int32_t> inFlight_{0};
  std::atomic<int64_t> spinSink_{0};
};

std::vector<int64_t> Squares(int64_t count) {
  std::vector<int64_t> squares;
  for (int64_t i = 0; i < count; ++i) squares.push_back(i * i);
  return squares;
}

void Submit(OrderedPipeline& pipeline, Recorder& recorder, int64_t value) {
  const int32_t slot = pipeline.AcquireSlot();
  recorder.Fill(slot, value);
  pipeline.Submit();
}

TEST(OrderedPipeline, MergesInSubmissionOrderAtAnyWorkerCount) {
  for (int32_t workers : {0, 1, 2, 5}) {
    SCOPED_TRACE(workers);
    Recorder recorder(3);
    OrderedPipeline pipeline;
    pipeline.Start(workers, 3, &recorder);
    EXPECT_EQ(pipeline.WorkerCount(), workers);
    recorder.ownerIndex = workers;
    for (int64_t i = 0; i < 500; ++i) Submit(pipeline, recorder, i);
    pipeline.Stop();
    EXPECT_EQ(recorder.merged, Squares(500));
    // Without workers the owner works on each item as it is submitted.
    if (workers == 0) {
      EXPECT_EQ(recorder.ownerWorked.load(), 500);
    }
  }
}

TEST(OrderedPipeline, WithoutWorkersEachItemIsMergedWhenSubmitted) {
  Recorder recorder(1);
  OrderedPipeline pipeline;
  pipeline.Start(0, 1, &recorder);
  for (int64_t i = 0; i < 5; ++i) {
    Submit(pipeline, recorder, i);
    EXPECT_EQ(recorder.merged.size(), static_cast<size_t>(i + 1));
  }
  pipeline.Stop();
}

TEST(OrderedPipeline, LimitsBoundSlotsAndWorkersAndTheOwnerTakesHeldBackWork) {
  Recorder recorder(8);
  OrderedPipeline pipeline;
  pipeline.Start(4, 8, &recorder);
  recorder.ownerIndex = 4;
  // One worker and two slots: at most two items in flight, and the owner works in
  // the place of the three workers held back rather than wait.
  pipeline.Drain();
  pipeline.LimitSlots(2);
  pipeline.LimitWorkers(1);
  recorder.workerMask = 0;
  for (int64_t i = 0; i < 300; ++i) {
    const int32_t slot = pipeline.AcquireSlot();
    EXPECT_LT(slot, 2);
    recorder.Fill(slot, i);
    pipeline.Submit();
  }
  pipeline.Drain();
  EXPECT_LE(recorder.maxInFlight.load(), 2);
  EXPECT_EQ(recorder.workerMask & ~((1u << 0) | (1u << 4)), 0u) << "a held-back worker worked";
  // Back to every slot and worker.
  pipeline.LimitSlots(8);
  pipeline.LimitWorkers(4);
  for (int64_t i = 300; i < 600; ++i) Submit(pipeline, recorder, i);
  pipeline.Stop();
  EXPECT_EQ(recorder.merged, Squares(600));
}

TEST(OrderedPipeline, StopMergesWhatIsInFlightAndCanStartAgain) {
  Recorder recorder(4);
  OrderedPipeline pipeline;
  pipeline.Start(2, 4, &recorder);
  for (int64_t i = 0; i < 3; ++i) Submit(pipeline, recorder, i);
  pipeline.Stop();
  EXPECT_EQ(recorder.merged, Squares(3));
  EXPECT_FALSE(pipeline.IsStarted());
  pipeline.Stop();  // nothing
  pipeline.Start(3, 4, &recorder);
  for (int64_t i = 3; i < 10; ++i) Submit(pipeline, recorder, i);
  pipeline.Stop();
  EXPECT_EQ(recorder.merged, Squares(10));
}

}  // namespace
}  // namespace qm
