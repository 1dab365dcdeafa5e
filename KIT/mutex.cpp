#include "KIT/mutex.h"

KIT_Mutex::KIT_Mutex() : owner_(pthread_t()) {
  pthread_mutex_init(&mutex_, nullptr);
}

KIT_Mutex::~KIT_Mutex() {
  pthread_mutex_destroy(&mutex_);
}

bool KIT_Mutex::IsHeldByCaller() const {
  // owned_ is written only by the holder, so a thread that is not the holder can never see itself as owner.
  return owned_.load(std::memory_order_acquire) &&
         pthread_equal(owner_.load(std::memory_order_relaxed), pthread_self());
}

void KIT_Mutex::Enter() {
  if (IsHeldByCaller()) {
    ++depth_;
    return;
  }
  pthread_mutex_lock(&mutex_);
  owner_.store(pthread_self(), std::memory_order_relaxed);
  owned_.store(true, std::memory_order_release);
  depth_ = 1;
}

bool KIT_Mutex::TryEnter() {
  if (IsHeldByCaller()) {
    ++depth_;
    return true;
  }
  if (pthread_mutex_trylock(&mutex_) != 0) return false;
  owner_.store(pthread_self(), std::memory_order_relaxed);
  owned_.store(true, std::memory_order_release);
  depth_ = 1;
  return true;
}

void KIT_Mutex::Leave() {
  if (!IsHeldByCaller()) return;
  if (--depth_ > 0) return;
  owned_.store(false, std::memory_order_release);
  pthread_mutex_unlock(&mutex_);
}
