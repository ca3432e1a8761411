// OrderedPipeline: items handed to worker threads and taken back in submission order.
// The owning thread fills and submits slots and alone merges finished ones; a worker
// (or the owner, when it has no workers or in place of one LimitWorkers holds back)
// works on one slot at a time. Slots need no locks: the mutex that hands a slot over
// orders every access.

// A worker runs the client's Work on a submitted slot; the owner runs Merge on
// finished slots, strictly in submission order. A slot belongs to the owner while it
// is filled or merged and to one worker while it is worked on. At most slotCount items
// are in flight (fewer under LimitSlots), which bounds the memory held by their slots.
// With no worker threads (asked for none, or none could be started) the owner works on
// every item itself when it is submitted, so each item is worked on and merged before
// the next one is filled.
//
// Each worker has a stack of kWorkerStackBytes: work functions keep their frames
// small. Costs: one mutex hand-over per item each way. Not copyable; the owner is one
// thread.
#pragma once

#include <pthread.h>

#include <cstddef>
#include <cstdint>

#include "core/array.h"

namespace qm {

class OrderedPipeline {
 public:
  static constexpr size_t kWorkerStackBytes = 512 * 1024;

  class Client {
   public:
    // Work on one slot: worker is 0 to WorkerCount() - 1 for the worker threads,
    // WorkerCount() for the owner. Called on any of those threads.
    virtual void Work(int32_t slot, int32_t worker) = 0;
    // Merging of one finished slot, on the owner's thread, in submission order.
    virtual void Merge(int32_t slot) = 0;

   protected:
    ~Client() = default;
  };

  OrderedPipeline() = default;
  OrderedPipeline(const OrderedPipeline&) = delete;
  OrderedPipeline& operator=(const OrderedPipeline&) = delete;
  ~OrderedPipeline() { Stop(); }

  // Starts up to workerCount threads (0: none) over slotCount slots for client, which
  // must outlive the pipeline's run. WorkerCount() then says how many threads run.
  // Requires: not started; workerCount >= 0; slotCount >= 1.
  void Start(int32_t workerCount, int32_t slotCount, Client* client);
  bool IsStarted() const { return client_ != nullptr; }
  int32_t WorkerCount() const { return threads_.Count(); }
  int32_t SlotCount() const { return slotCount_; }

  // The slot the next item goes into. Merges finished items first; when every slot
  // is in flight, waits for the oldest to finish and merges it.
  int32_t AcquireSlot();
  // Hands the slot from AcquireSlot to the workers, then merges whatever finished.
  void Submit();
  // Merges every submitted item, waiting for each in turn.
  void Drain();
  // Lets only workers 0 to limit - 1 take items from now on (at least one; the
  // default is all), as when the owner has work of its own that needs a core.
  void LimitWorkers(int32_t limit);
  // Holds every worker back as soon as it has finished what it works on, and waits for
  // that; until ResumeWorkers the owner may use what the workers use (their buffers),
  // for instance from a Merge. Requires: not paused already.
  void PauseWorkers();
  void ResumeWorkers();
  // Uses only slots 0 to count - 1 from now on (1 to slotCount; the default is all),
  // so at most count items are in flight and only those slots hold memory, as for
  // items that hold much of it. Requires: nothing in flight (as after Drain).
  void LimitSlots(int32_t count);
  // Drain, then ends and joins the threads. Nothing when not started.
  void Stop();

 private:
  static void* WorkerMain(void* argument);
  void RunWorker(int32_t worker);
  // Merges finished items at the head; waits until count more have been merged (or
  // everything submitted, whichever is less).
  void MergeHead(int64_t count);

  pthread_mutex_t mutex_ = PTHREAD_MUTEX_INITIALIZER;
  pthread_cond_t workAvailable_ = PTHREAD_COND_INITIALIZER;  // for the workers not held back
  pthread_cond_t limitChanged_ = PTHREAD_COND_INITIALIZER;   // for the workers held back
  pthread_cond_t workFinished_ = PTHREAD_COND_INITIALIZER;
  Array<pthread_t> threads_;
  Array<uint8_t> isFinished_;  // per slot, under mutex_
  Client* client_ = nullptr;
  int32_t slotCount_ = 0;
  // Item n goes to slot (n - slotBase_) % slotsInUse_ (both under mutex_).
  int32_t slotsInUse_ = 0;
  int64_t slotBase_ = 0;
  int32_t SlotOf(int64_t item) const { return static_cast<int32_t>((item - slotBase_) % slotsInUse_); }
  int32_t workerLimit_ = 0;  // workers that may take items (under mutex_)
  int64_t submitted_ = 0;    // items handed to the workers (under mutex_)
  int64_t taken_ = 0;        // items a worker has begun (under mutex_)
  int32_t working_ = 0;      // worker threads working on an item (under mutex_)
  bool isPaused_ = false;    // under mutex_
  int64_t merged_ = 0;       // items merged (owner only)
  bool isStopping_ = false;
  // Passed to each thread: the pipeline and the worker's index.
  struct WorkerStart {
    OrderedPipeline* pipeline;
    int32_t worker;
  };
  Array<WorkerStart> starts_;
};

}  // namespace qm
