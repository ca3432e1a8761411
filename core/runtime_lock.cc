#include "core/runtime_lock.h"

#include <pthread.h>

#include <atomic>
#include <cstdint>

namespace qm {

namespace {

pthread_mutex_t runtimeMutex;
std::atomic<int32_t> isEnabled{0};

}  // namespace

bool RuntimeLock::Create() {
  if (isEnabled.load(std::memory_order_relaxed) != 0) return true;
  if (pthread_mutex_init(&runtimeMutex, nullptr) != 0) return false;
  isEnabled.store(1, std::memory_order_release);
  return true;
}

void RuntimeLock::Destroy() {
  if (isEnabled.exchange(0, std::memory_order_acq_rel) == 0) return;
  pthread_mutex_destroy(&runtimeMutex);
}

void RuntimeLock::Lock() {
  if (isEnabled.load(std::memory_order_acquire) != 0) pthread_mutex_lock(&runtimeMutex);
}

void RuntimeLock::Unlock() {
  if (isEnabled.load(std::memory_order_acquire) != 0) pthread_mutex_unlock(&runtimeMutex);
}

bool RuntimeLock::IsEnabled() {
  return isEnabled.load(std::memory_order_relaxed) != 0;
}

}  // namespace qm
