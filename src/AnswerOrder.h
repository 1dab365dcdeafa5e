// Which of the synthesizer's answers belong to the request waiting now. The synthesizer answers its requests in the
// order they came, and neither a program dump nor a store's result names what it answers. So once more requests of a
// kind have gone out than answers of that kind came (a wait that ended, the channel search asking again, a cancelled
// transfer, a store whose result did not come, a sent dump whose result nobody reads), answers of that kind are owed:
// every one that comes is the late answer of a request that no longer waits, and is dropped, until the answer of a
// marker sent after them has come. No time decides that: only the order of the answers.
//
// The marker is the global data request. Its answers are all alike, and a marker may go unanswered (a synthesizer
// that was away), so a marker's answer is told from an earlier one's by counting: the global requests sent on each
// channel are numbered, and the k-th global dump that comes on a channel answers a request numbered k or later
// (answers keep their order; a lost request only moves the later ones down). A global dump whose lowest possible
// number lies after the last global request sent before answers became owed answers a marker sent since: everything
// sent before that marker has then been answered or lost. An answer taken in order (a program, a store's result)
// proves every global request sent before its own request answered or lost, so older requests that were lost stop
// counting there.
//
// While answers of a kind are owed no request that takes one goes out: the job sends a marker and waits for its
// answer first, so nothing of that kind lies between the owed answers and the request.
#pragma once

#include <cstdint>
#include <mutex>

class AnswerOrder {
 public:
  static constexpr int kChannels = 16;
  // The kinds of answers: program dumps (to program requests), store results (to sent dumps and write requests).
  enum Kind { kProgram = 1, kResult = 2, kAnyKind = kProgram | kResult };

  // Job thread: answers of `kind` are owed from now on. With `said` (a wait or a store that ended without them) a
  // dropped one is said to the musician, as a dropped program dump always is; the result of a sent dump nobody reads
  // is dropped silently.
  void owed(Kind kind, bool said);
  // Whether answers of any of `kinds` are owed.
  bool owing(int kinds = kAnyKind) const;
  // A global data request (a marker or a request of global data) goes out on `channel`.
  void globalRequestSent(int channel);
  // The request about to go out follows every global request sent so far: its answer, once taken, says so.
  void requestGoesOut();
  // How many global dumps came while answers were owed that may have been older markers' answers: each one makes the
  // job send a fresh marker, so that a marker of this owing is still on its way.
  uint32_t olderAnswers() const;

  // MIDI input: a global dump came on `channel`. True when it came while answers were owed: it is a marker's (or a
  // late) answer and is not taken; its coming may end what is owed.
  bool globalDumpCame(int channel);
  // MIDI input: whether an answer of `kind` coming now is a late answer, and whether dropping it is to be said.
  bool late(Kind kind) const;
  bool dropsSaid(Kind kind) const;
  // MIDI input: an answer of the request that went out last was taken.
  void answerTaken();

 private:
  static int index(Kind kind) { return kind == kProgram ? 0 : 1; }
  mutable std::mutex lock;
  bool owes[2] = {};
  bool said[2] = {};
  uint32_t older = 0;
  uint32_t sent[kChannels] = {};         // global requests sent on each channel
  uint32_t answered[kChannels] = {};     // the lowest number the next global dump on the channel can answer, less one
  uint32_t owedFrom[2][kChannels] = {};  // `sent` when answers of each kind became owed
  uint32_t atRequest[kChannels] = {};    // `sent` when the last request that takes an answer went out
};
