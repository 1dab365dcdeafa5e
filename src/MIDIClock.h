// The MIDI timing clock of one plug-in instance: F8 24 times per quarter note while it runs. The loop
// runs on the clock thread of the instance's MIDI hub; the audio callback and the parameter handler
// start and stop it through the running flag. Every instance keeps its own clock state.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "src/JobClock.h"

class MIDIClock {
 public:
  static constexpr int kMinTempo = 20;
  static constexpr int kMaxTempo = 300;
  static constexpr uint8_t kTimingClock = 0xF8;
  static constexpr uint8_t kStart = 0xFA;
  static constexpr uint8_t kStop = 0xFC;

  explicit MIDIClock(JobClock* clock = nullptr) : clock(clock ? clock : &JobClock::system()) {}

  // A tempo in beats per minute limited to 20..300: a tempo of 0 or below 20 (no host tempo, a list
  // text without digits) would make the ticks infinitely or absurdly far apart.
  static int clampTempo(int bpm);
  // Nanoseconds between two ticks at the (clamped) tempo: 20,833,333 at 120 BPM.
  static int64_t tickInterval(int bpm);
  // The tempo a "tempoValues" text gives: its leading digits (0 without any). An index outside the list
  // gives 0.
  static int tempoFromList(const std::vector<std::string>& list, int index);

  // Any thread: false stops a running loop within a millisecond; true lets the next run() go on.
  void resetContinuousClock(bool stop) { running = !stop; }
  bool isRunning() const { return running.load(); }

  // Clock thread: sends F8 at once and then every tickInterval(bpm) until the running flag is cleared
  // or outputReady() says no (then nothing more is sent and the flag is cleared). Ticks keep to a grid
  // of deadlines from the first one, so the time a send takes does not stretch the period and ticks
  // held up by the machine are made up at once; after a stall of more than a quarter second the grid
  // starts again from the late tick. Returns the number of ticks sent.
  int run(int bpm, const std::function<bool()>& outputReady, const std::function<void(uint8_t)>& send);

  JobClock& getClock() { return *clock; }
  void setClock(JobClock* c) { clock = c ? c : &JobClock::system(); }

 private:
  std::atomic<bool> running{false};
  JobClock* clock;
};
