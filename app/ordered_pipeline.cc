#include "app/ordered_pipeline.h"

#include <cassert>

namespace qm {

void OrderedPipeline::Start(int32_t workerCount, int32_t slotCount, Client* client) {
  assert(!IsStarted() && workerCount >= 0 && slotCount >= 1 && client != nullptr);
  client_ = client;
  slotCount_ = slotCount;
  slotsInUse_ = slotCount;
  slotBase_ = 0;
  submitted_ = 0;
  taken_ = 0;
  working_ = 0;
  isPaused_ = false;
  merged_ = 0;
  isStopping_ = false;
  workerLimit_ = workerCount;
  isFinished_.Resize(0);
  isFinished_.Resize(slotCount);
  // The starts never move: reserved before any thread sees one.
  starts_.Reserve(workerCount);
  // A stack of its own size, not the process's stack limit (which may be tiny, or
  // many megabytes of address space per thread).
  pthread_attr_t attributes;
  const bool hasAttributes = pthread_attr_init(&attributes) == 0;
  if (hasAttributes) pthread_attr_setstacksize(&attributes, kWorkerStackBytes);
  for (int32_t worker = 0; worker < workerCount; ++worker) {
    starts_.PushBack(WorkerStart{this, worker});
    pthread_t thread;
    if (pthread_create(&thread, hasAttributes ? &attributes : nullptr, WorkerMain, &starts_[worker]) != 0)
      break;
    threads_.PushBack(thread);
  }
  if (hasAttributes) pthread_attr_destroy(&attributes);
}

void* OrderedPipeline::WorkerMain(void* argument) {
  const WorkerStart* start = static_cast<const WorkerStart*>(argument);
  start->pipeline->RunWorker(start->worker);
  return nullptr;
}

void OrderedPipeline::RunWorker(int32_t worker) {
  pthread_mutex_lock(&mutex_);
  for (;;) {
    // A held-back worker waits apart: the signal for new work must reach a worker
    // that may take it, or it is lost and the item waits for the owner.
    while (!isStopping_ && (isPaused_ || worker >= workerLimit_ || taken_ == submitted_)) {
      pthread_cond_wait(isPaused_ || worker >= workerLimit_ ? &limitChanged_ : &workAvailable_, &mutex_);
    }
    if (isStopping_ && taken_ == submitted_) break;
    const int32_t slot = SlotOf(taken_++);
    ++working_;
    pthread_mutex_unlock(&mutex_);
    client_->Work(slot, worker);
    pthread_mutex_lock(&mutex_);
    --working_;
    isFinished_[slot] = 1;
    // Only the owner waits here: for an item, or, pausing, for every worker to stop.
    pthread_cond_signal(&workFinished_);
  }
  pthread_mutex_unlock(&mutex_);
}

void OrderedPipeline::MergeHead(int64_t count) {
  const int64_t target = merged_ + count;
  for (;;) {
    pthread_mutex_lock(&mutex_);
    if (merged_ == submitted_) {
      pthread_mutex_unlock(&mutex_);
      return;
    }
    const int32_t slot = SlotOf(merged_);
    while (isFinished_[slot] == 0 && merged_ < target) {
      if (taken_ < submitted_ && (workerLimit_ < WorkerCount() || threads_.IsEmpty())) {
        // Rather than wait, the owner works on the oldest item no worker has begun,
        // in the place of the worker it holds back (or of the workers it has not).
        const int32_t helped = SlotOf(taken_++);
        pthread_mutex_unlock(&mutex_);
        client_->Work(helped, WorkerCount());
        pthread_mutex_lock(&mutex_);
        isFinished_[helped] = 1;
        continue;
      }
      pthread_cond_wait(&workFinished_, &mutex_);
    }
    const bool isReady = isFinished_[slot] != 0;
    isFinished_[slot] = 0;
    pthread_mutex_unlock(&mutex_);
    if (!isReady) return;
    client_->Merge(slot);
    ++merged_;
  }
}

int32_t OrderedPipeline::AcquireSlot() {
  // Without workers every item was merged when it was submitted.
  if (threads_.IsEmpty()) return SlotOf(submitted_);
  MergeHead(submitted_ - merged_ == slotsInUse_ ? 1 : 0);
  return SlotOf(submitted_);
}

void OrderedPipeline::Submit() {
  if (threads_.IsEmpty()) {
    // The owner alone: the item is worked on and merged now, with nothing to lock.
    const int32_t slot = SlotOf(submitted_);
    ++submitted_;
    ++taken_;
    client_->Work(slot, 0);
    client_->Merge(slot);
    ++merged_;
    return;
  }
  pthread_mutex_lock(&mutex_);
  ++submitted_;
  pthread_cond_signal(&workAvailable_);
  pthread_mutex_unlock(&mutex_);
  // Without workers the owner works on the item now, so it is merged before the next
  // one is filled.
  MergeHead(threads_.IsEmpty() ? 1 : 0);
}

void OrderedPipeline::Drain() {
  if (IsStarted()) MergeHead(submitted_ - merged_);
}

void OrderedPipeline::LimitWorkers(int32_t limit) {
  if (!IsStarted()) return;
  pthread_mutex_lock(&mutex_);
  workerLimit_ = limit < 1 ? 1 : limit;
  pthread_cond_broadcast(&workAvailable_);
  pthread_cond_broadcast(&limitChanged_);
  pthread_mutex_unlock(&mutex_);
}

void OrderedPipeline::PauseWorkers() {
  if (!IsStarted()) return;
  pthread_mutex_lock(&mutex_);
  assert(!isPaused_);
  isPaused_ = true;
  while (working_ > 0) pthread_cond_wait(&workFinished_, &mutex_);
  pthread_mutex_unlock(&mutex_);
}

void OrderedPipeline::ResumeWorkers() {
  if (!IsStarted()) return;
  pthread_mutex_lock(&mutex_);
  isPaused_ = false;
  pthread_cond_broadcast(&workAvailable_);
  pthread_cond_broadcast(&limitChanged_);
  pthread_mutex_unlock(&mutex_);
}

void OrderedPipeline::LimitSlots(int32_t count) {
  if (!IsStarted()) return;
  assert(submitted_ == merged_);
  pthread_mutex_lock(&mutex_);
  slotsInUse_ = count < 1 ? 1 : count > slotCount_ ? slotCount_ : count;
  slotBase_ = submitted_;
  pthread_mutex_unlock(&mutex_);
}

void OrderedPipeline::Stop() {
  if (!IsStarted()) return;
  Drain();
  pthread_mutex_lock(&mutex_);
  isStopping_ = true;
  pthread_cond_broadcast(&workAvailable_);
  pthread_cond_broadcast(&limitChanged_);
  pthread_mutex_unlock(&mutex_);
  for (pthread_t thread : threads_) pthread_join(thread, nullptr);
  threads_.Clear();
  starts_.Clear();
  client_ = nullptr;
}

}  // namespace qm
