#include "KIT/IEffect/MidiInputDelivery.h"

#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "KIT/IEffect/IEffectBase.h"

MidiInputDelivery::MidiInputDelivery(IEffectBase* plug)
    : plug_(plug), ring_(new unsigned char[kRingBytes]), wake_(eventfd(0, EFD_CLOEXEC)) {
  if (wake_ < 0) std::fprintf(stderr, "MIDI: no wake-up for the input's messages: %s\n", std::strerror(errno));
}

MidiInputDelivery::~MidiInputDelivery() {
  stop();
  if (wake_ >= 0) close(wake_);
}

void MidiInputDelivery::start() {
  if (!thread_.joinable() && !stop_.load()) thread_ = std::thread([this] { run(); });
}

void MidiInputDelivery::stop() {
  stop_.store(true);
  const uint64_t one = 1;
  if (wake_ >= 0 && write(wake_, &one, sizeof one) < 0) std::perror("MIDI: input wake-up");
  if (thread_.joinable()) thread_.join();
}

void MidiInputDelivery::abandon() {
  abandoned_ = true;
  stop_.store(true);
  const uint64_t one = 1;
  if (wake_ >= 0 && write(wake_, &one, sizeof one) < 0) std::perror("MIDI: input wake-up");
  if (thread_.joinable()) thread_.detach();
}

void MidiInputDelivery::copyIn(size_t at, const unsigned char* bytes, size_t length) {
  const size_t from = at & (kRingBytes - 1), first = length < kRingBytes - from ? length : kRingBytes - from;
  std::memcpy(ring_.get() + from, bytes, first);
  std::memcpy(ring_.get(), bytes + first, length - first);
}

void MidiInputDelivery::copyOut(size_t at, unsigned char* bytes, size_t length) const {
  const size_t from = at & (kRingBytes - 1), first = length < kRingBytes - from ? length : kRingBytes - from;
  std::memcpy(bytes, ring_.get() + from, first);
  std::memcpy(bytes + first, ring_.get(), length - first);
}

// A cancellation acting anywhere here leaves a message half copied and unpublished, which the next post overwrites.
void MidiInputDelivery::post(double, std::vector<unsigned char>* message, void* self) {
  auto* d = static_cast<MidiInputDelivery*>(self);
  if (!d || !message || message->empty()) return;
  const size_t length = message->size();
  const size_t at = d->written_.load(std::memory_order_relaxed);
  if (kHeaderBytes + length > kRingBytes - (at - d->read_.load(std::memory_order_acquire))) {
    d->dropped_.fetch_add(1, std::memory_order_relaxed);
    return;
  }
  const uint32_t header = static_cast<uint32_t>(length);
  d->copyIn(at, reinterpret_cast<const unsigned char*>(&header), kHeaderBytes);
  d->copyIn(at + kHeaderBytes, message->data(), length);
  d->written_.store(at + kHeaderBytes + length, std::memory_order_release);
  const uint64_t one = 1;
  if (d->wake_ >= 0) (void)!write(d->wake_, &one, sizeof one);
}

void MidiInputDelivery::discardPosted() {
  discardUntil_.store(written_.load(std::memory_order_acquire), std::memory_order_release);
}

bool MidiInputDelivery::take(std::vector<unsigned char>* message) {
  for (;;) {
    const size_t at = read_.load(std::memory_order_relaxed);
    if (written_.load(std::memory_order_acquire) == at) return false;
    uint32_t length = 0;
    copyOut(at, reinterpret_cast<unsigned char*>(&length), kHeaderBytes);
    const size_t next = at + kHeaderBytes + length;
    // Positions only grow (and wrap as unsigned): a message ending at or before the mark was posted before it.
    const bool discarded = static_cast<std::ptrdiff_t>(discardUntil_.load(std::memory_order_acquire) - next) >= 0;
    if (!discarded) {
      message->resize(length);
      copyOut(at + kHeaderBytes, message->data(), length);
    }
    read_.store(next, std::memory_order_release);
    if (!discarded) return true;
  }
}

void MidiInputDelivery::run() {
  pthread_setname_np(pthread_self(), "vexmir-midi-in");
  std::vector<unsigned char> message;
  while (!stop_.load()) {
    uint64_t posted = 0;
    if (wake_ < 0 || (read(wake_, &posted, sizeof posted) < 0 && errno != EINTR))
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (const size_t dropped = dropped_.exchange(0))
      std::fprintf(stderr, "MIDI: %zu incoming messages dropped (the editor fell behind)\n", dropped);
    while (!stop_.load() && take(&message)) IEffectBase::MIDICallback(0.0, &message, plug_);
  }
}
