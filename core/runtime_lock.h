// RuntimeLock: the one process-wide mutex of the runtime library, taken around every
// raw directory read (DirectoryListing::ReadNext) by whichever thread reads. Reads of
// distinct directory streams need no lock, and in this program only the thread that
// owns the run reads directories, so it is never contended; it orders directory reads
// should several threads ever walk. The process entry creates it before anything else
// runs and destroys it after everything has finished. Nothing else is ever locked
// while it is held.

// It carries an enabled flag: while the flag is 0, Lock and Unlock do nothing; Create
// sets it to 1, so in this program the lock is always taken. It is held only for the
// few steps of one directory read.
//
// Failure: Create reports a mutex that cannot be initialised by returning false (the
// flag then stays 0 and the lock does nothing). Costs: one relaxed load when
// disabled, one uncontended mutex lock and unlock when enabled.
#pragma once

namespace qm {

class RuntimeLock {
 public:
  RuntimeLock() = delete;

  // Initialises the mutex and sets the enabled flag to 1; true on success. A second
  // Create while enabled does nothing and returns true.
  // Requires: no other thread is running (called by the process entry only).
  static bool Create();
  // Clears the enabled flag and destroys the mutex; nothing when not created.
  // Requires: no other thread is running and the lock is not held.
  static void Destroy();
  // Lock and unlock the mutex when enabled; nothing otherwise.
  // Requires: Unlock pairs with a Lock of the same thread, with no Create or
  // Destroy in between.
  static void Lock();
  static void Unlock();
  // Whether Create has enabled the lock (for tests and diagnostics).
  static bool IsEnabled();
};

// Holds the RuntimeLock for the lifetime of the object. Non-copyable.
class RuntimeLockScope {
 public:
  RuntimeLockScope() { RuntimeLock::Lock(); }
  ~RuntimeLockScope() { RuntimeLock::Unlock(); }
  RuntimeLockScope(const RuntimeLockScope&) = delete;
  RuntimeLockScope& operator=(const RuntimeLockScope&) = delete;
};

}  // namespace qm
