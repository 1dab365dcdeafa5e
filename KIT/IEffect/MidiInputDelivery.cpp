#include "KIT/IEffect/MidiInputDelivery.h"

#include <cstdio>

#include "KIT/IEffect/IEffectBase.h"
#include "KIT/IEffect/JackOwner.h"

MidiInputDelivery::MidiInputDelivery(IEffectBase* plug) : plug_(plug), thread_([this] { run(); }) {}

void MidiInputDelivery::stop() {
  {
    std::lock_guard<std::mutex> lock(lock_);
    stop_ = true;
  }
  wake_.notify_one();
  if (thread_.joinable()) thread_.join();
}

void MidiInputDelivery::abandon() {
  {
    std::lock_guard<std::mutex> lock(lock_);
    stop_ = true;
    abandoned_ = true;
  }
  wake_.notify_one();
  if (thread_.joinable()) thread_.detach();
}

// Nothing here may be unwound by a cancellation: its work is a function of its own, run with cancellation held.
void MidiInputDelivery::post(double, std::vector<unsigned char>* message, void* self) {
  auto* d = static_cast<MidiInputDelivery*>(self);
  if (!d || !message || message->empty()) return;
  const int held = jackowner::holdCancellation();
  d->take(*message);
  jackowner::letCancellation(held);
}

__attribute__((noinline)) void MidiInputDelivery::take(const std::vector<unsigned char>& message) {
  try {
    std::lock_guard<std::mutex> lock(lock_);
    if (queue_.size() >= kQueueLimit) {
      ++dropped_;
      return;
    }
    queue_.push_back(message);
  } catch (...) {  // no memory for the copy: the message is lost, the library's thread goes on
    return;
  }
  wake_.notify_one();
}

void MidiInputDelivery::run() {
  std::unique_lock<std::mutex> lock(lock_);
  for (;;) {
    wake_.wait(lock, [this] { return stop_ || !queue_.empty(); });
    if (stop_) return;
    if (dropped_) {
      std::fprintf(stderr, "MIDI: %zu incoming messages dropped (the editor fell behind)\n", dropped_);
      dropped_ = 0;
    }
    std::vector<unsigned char> message = std::move(queue_.front());
    queue_.pop_front();
    lock.unlock();
    IEffectBase::MIDICallback(0.0, &message, plug_);
    lock.lock();
  }
}
