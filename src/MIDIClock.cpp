#include "src/MIDIClock.h"

#include <cctype>

namespace {
// Longest single wait of the loop, so that a stop request is seen within this time.
constexpr int64_t kStopPollNanoseconds = 1'000'000;
constexpr int64_t kLongStallNanoseconds = 250'000'000;
}  // namespace

int MIDIClock::clampTempo(int bpm) {
  return bpm < kMinTempo ? kMinTempo : bpm > kMaxTempo ? kMaxTempo : bpm;
}

int64_t MIDIClock::tickInterval(int bpm) {
  return int64_t{60'000'000'000} / (int64_t{24} * clampTempo(bpm));
}

int MIDIClock::tempoFromList(const std::vector<std::string>& list, int index) {
  if (index < 0 || static_cast<size_t>(index) >= list.size()) return 0;
  int value = 0;
  for (char c : list[static_cast<size_t>(index)]) {
    if (!std::isdigit(static_cast<unsigned char>(c))) break;
    value = value * 10 + (c - '0');
    if (value > 100000) break;
  }
  return value;
}

int MIDIClock::run(int bpm, const std::function<bool()>& outputReady, const std::function<void(uint8_t)>& send) {
  const int64_t interval = tickInterval(bpm);
  int ticks = 0;
  send(kTimingClock);
  ++ticks;
  int64_t next = clock->nowNanoseconds() + interval;
  while (running.load()) {
    if (clock->nowNanoseconds() < next) {
      clock->waitUntil(next, kStopPollNanoseconds);
      continue;
    }
    if (!outputReady()) {
      running = false;
      break;
    }
    send(kTimingClock);
    ++ticks;
    const int64_t now = clock->nowNanoseconds();
    next += interval;
    // A short stall is made up by the next ticks, so that a synthesizer following the clock stays on the
    // beat; after a long one (the machine was suspended) the grid starts again from now.
    if (now - next > kLongStallNanoseconds) next = now + interval;
  }
  return ticks;
}
