// A recursive mutex: a plain POSIX mutex plus the owning thread and a nesting depth. The owning thread may enter
// again; only its outermost Leave unlocks.
#pragma once

#include <pthread.h>

#include <atomic>

class KIT_Mutex {
 public:
  KIT_Mutex();
  ~KIT_Mutex();
  KIT_Mutex(const KIT_Mutex&) = delete;
  KIT_Mutex& operator=(const KIT_Mutex&) = delete;

  // Any thread. Blocks until the mutex is free or already held by the caller.
  void Enter();
  // True when the mutex was taken (or was already the caller's); never blocks.
  bool TryEnter();
  // Any thread. A Leave by a thread that does not hold the mutex is ignored: unlocking someone else's lock would
  // corrupt their critical section.
  void Leave();
  // True when the calling thread holds the mutex.
  bool IsHeldByCaller() const;
  // Nesting depth; meaningful only to the thread that holds the mutex.
  int GetDepth() const { return depth_; }

 private:
  pthread_mutex_t mutex_;
  // The owner is read by other threads to decide whether they hold the lock, so it is atomic; the depth is touched
  // only by the owner.
  std::atomic<pthread_t> owner_;
  std::atomic<bool> owned_{false};
  int depth_ = 0;
};

// Holds a KIT_Mutex for one scope.
class KIT_MutexLock {
 public:
  explicit KIT_MutexLock(KIT_Mutex* m) : m_(m) {
    if (m_) m_->Enter();
  }
  explicit KIT_MutexLock(KIT_Mutex& m) : KIT_MutexLock(&m) {}
  ~KIT_MutexLock() {
    if (m_) m_->Leave();
  }
  KIT_MutexLock(const KIT_MutexLock&) = delete;
  KIT_MutexLock& operator=(const KIT_MutexLock&) = delete;

 private:
  KIT_Mutex* m_;
};
