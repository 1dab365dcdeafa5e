// Tick times of the MIDI clock loop read against the grid the loop keeps: each tick has its place one interval
// after the last, a tick the machine ran late is made up by the next ones, and after a stall of more than a
// quarter second (the loop's own rule) the grid starts again at the late tick.
#pragma once

#include <cstdint>
#include <vector>

namespace clocktest {

struct GridReading {
  int64_t earliest = 0;     // the most negative lateness seen (a tick before its place), 0 when none was early
  int restarts = 0;         // stalls after which the grid started again
  double meanSpacing = 0;   // nanoseconds between ticks within the stretches between restarts
};

inline GridReading readGrid(const std::vector<int64_t>& times, int64_t interval) {
  constexpr int64_t kLongStall = 250'000'000;
  GridReading r;
  if (times.size() < 2) return r;
  int64_t place = times[0], start = times[0];
  size_t startIndex = 0;
  double spanSum = 0, gaps = 0;
  for (size_t k = 1; k < times.size(); ++k) {
    place += interval;
    const int64_t late = times[k] - place;
    if (late < r.earliest) r.earliest = late;
    // The loop looks after each tick at the place of the next one: more than the stall behind it, and the grid
    // starts again one interval after this tick.
    if (times[k] - (place + interval) > kLongStall) {
      spanSum += double(times[k - 1] - start);
      gaps += double(k - 1 - startIndex);
      ++r.restarts;
      place = times[k];
      start = times[k];
      startIndex = k;
    }
  }
  spanSum += double(times.back() - start);
  gaps += double(times.size() - 1 - startIndex);
  r.meanSpacing = gaps > 0 ? spanSum / gaps : 0;
  return r;
}

}  // namespace clocktest
