#include "KIT/IEffect/HostCallRelay.h"

#include <pthread.h>

#include <time.h>

#include <cerrno>
#include <cstdio>
#include <exception>

HostCallRelay::HostCallRelay(std::function<void(const Item&)> handle, std::function<void()> deferred,
                             std::function<void()> tick)
    : handle_(std::move(handle)), deferred_(std::move(deferred)), tick_(std::move(tick)), cells_(new Cell[kCapacity]) {
  for (size_t i = 0; i < kCapacity; ++i) cells_[i].sequence.store(i, std::memory_order_relaxed);
  sem_init(&wake_, 0, 0);
}

void HostCallRelay::start() {
  if (!thread_.joinable() && !stopping_.load()) thread_ = std::thread([this] { run(); });
}

HostCallRelay::~HostCallRelay() {
  stop();
  sem_destroy(&wake_);
}

void HostCallRelay::stop() {
  if (stopping_.exchange(true)) {
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
    return;
  }
  sem_post(&wake_);
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

// A bounded queue for many producers and one consumer: each cell's sequence number tells whose turn it is, so a
// producer claims a cell with one compare-and-swap and publishes it with one store.
bool HostCallRelay::post(const Item& item) {
  if (stopping_.load(std::memory_order_relaxed)) return false;
  size_t pos = enqueue_.load(std::memory_order_relaxed);
  for (;;) {
    Cell& cell = cells_[pos & (kCapacity - 1)];
    const size_t seq = cell.sequence.load(std::memory_order_acquire);
    const intptr_t diff = static_cast<intptr_t>(seq) - static_cast<intptr_t>(pos);
    if (diff == 0) {
      if (enqueue_.compare_exchange_weak(pos, pos + 1, std::memory_order_relaxed)) {
        cell.item = item;
        cell.sequence.store(pos + 1, std::memory_order_release);
        sem_post(&wake_);
        return true;
      }
    } else if (diff < 0) {
      dropped_.fetch_add(1, std::memory_order_relaxed);
      return false;
    } else {
      pos = enqueue_.load(std::memory_order_relaxed);
    }
  }
}

bool HostCallRelay::take(Item* item) {
  const size_t pos = dequeue_.load(std::memory_order_relaxed);
  Cell& cell = cells_[pos & (kCapacity - 1)];
  const size_t seq = cell.sequence.load(std::memory_order_acquire);
  if (static_cast<intptr_t>(seq) - static_cast<intptr_t>(pos + 1) < 0) return false;
  *item = cell.item;
  cell.sequence.store(pos + kCapacity, std::memory_order_release);
  dequeue_.store(pos + 1, std::memory_order_relaxed);
  return true;
}

void HostCallRelay::requestDeferredWork() {
  if (!deferredRequested_.exchange(true, std::memory_order_acq_rel)) sem_post(&wake_);
}

// Waits for a post or a request, or with a tick until the tick is due: true when the tick is due.
bool HostCallRelay::waitOrTick(std::chrono::steady_clock::time_point due) {
  if (!tick_) {
    while (sem_wait(&wake_) != 0 && errno == EINTR) {
    }
    return false;
  }
  // steady_clock is CLOCK_MONOTONIC on Linux: a change of the wall clock neither stops nor hurries the tick.
  const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(due.time_since_epoch()).count();
  const timespec deadline{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
  while (sem_clockwait(&wake_, CLOCK_MONOTONIC, &deadline) != 0) {
    if (errno != EINTR) break;
  }
  return std::chrono::steady_clock::now() >= due;
}

void HostCallRelay::run() {
  pthread_setname_np(pthread_self(), "vexmir-relay");
  auto due = std::chrono::steady_clock::now() + kTickPeriod;
  while (!stopping_.load(std::memory_order_acquire)) {
    const bool ticks = waitOrTick(due);
    working_.store(true, std::memory_order_release);
    // Nothing may leave a thread entry: a failing item is dropped and the relay goes on.
    try {
      Item item;
      while (!stopping_.load(std::memory_order_acquire) && take(&item)) handle_(item);
      if (!stopping_.load(std::memory_order_acquire) && deferredRequested_.exchange(false, std::memory_order_acq_rel))
        deferred_();
      if (ticks && !stopping_.load(std::memory_order_acquire)) {
        due = std::chrono::steady_clock::now() + kTickPeriod;
        tick_();
      }
    } catch (const std::exception& e) {
      std::fprintf(stderr, "Vexmir: host message not handled: %s\n", e.what());
    } catch (...) {
      std::fprintf(stderr, "Vexmir: host message not handled\n");
    }
    working_.store(false, std::memory_order_release);
  }
}

bool HostCallRelay::idle() const {
  return !working_.load(std::memory_order_acquire) && !deferredRequested_.load(std::memory_order_acquire) &&
         dequeue_.load(std::memory_order_acquire) == enqueue_.load(std::memory_order_acquire);
}
