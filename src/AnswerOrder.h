// Which of the synthesizer's answers belong to the request waiting now. The synthesizer answers its requests in the
// order they came, and neither a program dump nor a store's result names what it answers: an answer that comes after
// its request's wait ended would be taken for the answer of the request after it. So a wait that ends without its
// answer is followed by a marker, the global data request; every program dump and store result that comes before the
// marker's answer is the late answer of a request that no longer waits, and is dropped.
#pragma once

#include <cstdint>
#include <mutex>

class AnswerOrder {
 public:
  // A marker that stays unanswered this long is taken for lost (a synthesizer that was away, a message lost on the
  // way): the answers after it count again.
  static constexpr uint32_t kMarkerLostMs = 10000;

  // Job thread: a marker went out at `now` (the plug-in's ticks).
  void markerSent(uint32_t now);
  // MIDI input: a global dump came; it answers the oldest marker still open.
  void globalDumpCame();
  // MIDI input: whether a program dump or a store result coming at `now` is a late answer.
  bool late(uint32_t now);

 private:
  std::mutex lock;
  int open = 0;            // markers sent and not answered
  uint32_t lastSent = 0;   // when the last of them went out
};
