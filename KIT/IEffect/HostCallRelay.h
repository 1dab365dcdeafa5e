// What the host's real-time calls hand to the plug-in (MIDI from the host's track, parameter changes) and the
// work the audio callback asks for, carried to a thread of the plug-in's own that may wait for the plug-in's
// mutex, for the MIDI ports or for a job thread. The host's calls only write into a bounded queue and wake the
// thread: they take no lock and never wait.
#pragma once

#include <semaphore.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>

class HostCallRelay {
 public:
  // One message or change, copied by value into the queue.
  struct Item {
    enum Kind : uint8_t { kMidi, kParam };
    Kind kind = kMidi;
    int32_t index = 0;  // the message's frame offset, or the parameter's index
    float value = 0.0f;  // the parameter's normalized value
    uint8_t data[3] = {0, 0, 0};
  };

  // `handle` runs on the relay's thread for each item, in the order the items were posted; `deferred` runs there
  // after each wake-up for which work was requested; `tick` (if any) runs there about every kTickPeriod. None runs
  // before start() or after stop(): what is posted or asked for before start() waits for it.
  static constexpr std::chrono::milliseconds kTickPeriod{250};
  HostCallRelay(std::function<void(const Item&)> handle, std::function<void()> deferred,
                std::function<void()> tick = {});
  ~HostCallRelay();
  HostCallRelay(const HostCallRelay&) = delete;
  HostCallRelay& operator=(const HostCallRelay&) = delete;

  // Any thread, lock-free. False when the queue is full (the item is then not taken) or the relay stopped.
  bool post(const Item& item);
  // Any thread, lock-free: `deferred` runs soon on the relay's thread.
  void requestDeferredWork();
  // Starts the thread (once what the functions call into is whole). Idempotent; never after stop().
  void start();
  // Ends the thread once the item in hand is done; what is still queued is dropped. Idempotent.
  void stop();
  // True when nothing is queued, asked for or being handled (for tests, which wait for the relay's work).
  bool idle() const;
  // Items refused because the queue was full (since the start).
  long droppedCount() const { return dropped_.load(std::memory_order_relaxed); }

 private:
  static constexpr size_t kCapacity = 4096;  // a power of two
  struct Cell {
    std::atomic<size_t> sequence{0};
    Item item;
  };
  bool take(Item* item);
  bool waitOrTick(std::chrono::steady_clock::time_point due);
  void run();

  std::function<void(const Item&)> handle_;
  std::function<void()> deferred_;
  std::function<void()> tick_;
  std::unique_ptr<Cell[]> cells_;
  alignas(64) std::atomic<size_t> enqueue_{0};
  alignas(64) std::atomic<size_t> dequeue_{0};
  std::atomic<bool> deferredRequested_{false};
  std::atomic<bool> stopping_{false};
  std::atomic<bool> working_{false};
  std::atomic<long> dropped_{0};
  sem_t wake_;
  std::thread thread_;
};
