// The transfer jobs: every long exchange with the synthesizer (dump requests, program and bank sends,
// connecting, MIDI clock) is a numbered job that one of the hub's three workers runs on its own thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "src/AnswerOrder.h"
#include "src/JobClock.h"
#include "src/LibrarianPatch.h"
#include "src/MIDIClock.h"

class PatchManager;
class Vexmir;

// Job codes, as the starters write them.
enum ESenderJob {
  kJobSendArrangement = 0,           // sendArrangementToDevice(arrangementFlag)
  kJobSendGlobal = 1,                // sendGlobalToDevice()
  kJobSendLibrarianPatch = 2,        // sendPatchToDeviceFromLibrarian(patch, 0, slot)
  kJobStoreAllPatches = 3,           // storeAllPatchesToDeviceFromLibrarian(side, slot)
  kJobActiveArrangementRequest = 4,  // sendActiveArrangementRequestSysex(toEditor)
  kJobPartRequest = 5,               // sendPartRequestSysex(toEditor)
  kJobSinglePatchRequest = 6,        // sendSinglePatchRequestSysex(temporary, slot)
  kJobAllPatchRequest = 7,           // sendAllPatchRequestSysex()
  kJobInitClassicPatch = 8,          // initClassicPatch(classicFlag)
  kJobDeviceIdEnquiry = 9,           // sendDeviceIdEnquiry()
  kJobNothing = 10,
  kJobStartClock = 11,       // startMIDIClockOutput()
  kJobContinuousClock = 12,  // sendContinuousMIDIClock(tempo)
  kJobStopClock = 13,        // stopMIDIClockOutput()
};

// The code and arguments of one job. A starter fills one and the hub copies it into the worker that runs
// it, so a start on one worker can never change the job another worker is running. The program of job 2
// is a copy: a rescan of the librarian cannot free it under the job.
struct SenderJob {
  int job = kJobNothing;
  LibrarianPatch patch;
  // Job 3: a copy of the bank's programs, taken by the starter.
  std::vector<LibrarianPatch> bank;
  int side = 0;
  int slot = 0;
  bool toEditor = false;
  bool temporary = false;
  bool arrangementFlag = false;
  bool classicFlag = false;
  int tempo = 120;
  // What a job does first, on its own thread, for a starter that must not pause: a pause, a program change and
  // the pause after it, the end of edit mode (when a single program was being edited).
  int leadPauseMs = 0;
  int programChange = -1;
  int pauseAfterProgramChangeMs = 0;
  bool editModeOffFirst = false;
  // Job 0 for recalls that came while the job thread was busy: it first waits until recalls have stopped
  // coming for a while, so that a burst of recalls ends with one send of the last one.
  bool afterRecalls = false;
  // Job 0 for a recall's send: the input is held off and the global settings go first, set as the job starts, so
  // that a start that is refused leaves another job's flags alone.
  bool recalledSend = false;
};

class MIDIMessageSender {
 public:
  MIDIMessageSender(Vexmir* plug, PatchManager* patchManager);
  MIDIMessageSender(const MIDIMessageSender&) = delete;
  MIDIMessageSender& operator=(const MIDIMessageSender&) = delete;

  // Worker thread: runs the job named by job.job with its arguments; unknown codes and 10 return at once.
  void run(const SenderJob& job);
  // How long recalls must have stopped before the program of the last one goes out after a running send.
  static constexpr int kRecallQuietMs = 1000;

  // --- The jobs' own work, each on the worker that runs it. ---
  void sendArrangementToDevice(bool arrangement);
  void sendGlobalToDevice();
  // The global dump itself and its pause (job 1 without the indicator); false when the hub shuts down.
  bool sendGlobalDump();
  void sendPatchToDeviceFromLibrarian(const LibrarianPatch& patch, int unused, int slot);
  void storeAllPatchesToDeviceFromLibrarian(int side, const std::vector<LibrarianPatch>& bank);
  void sendActiveArrangementRequestSysex(bool toEditor);
  void sendPartRequestSysex(bool toEditor);
  void sendSinglePatchRequestSysex(bool temporary, int program);
  void sendAllPatchRequestSysex();
  void initClassicPatch(bool classic);
  void sendDeviceIdEnquiry();
  void startMIDIClockOutput();
  void sendContinuousMIDIClock(int tempo);
  void stopMIDIClockOutput();

  // Any thread. The continuous clock job ends within a millisecond once this is set true; false lets the
  // next start of the job run.
  void resetContinuousClock(bool reset) { midiClock.resetContinuousClock(reset); }
  bool isContinuousClockReset() const { return !midiClock.isRunning(); }

  // The clock of every pause and of the MIDI clock loop: the machine's, or a test's own. Set before any
  // job runs.
  void setClock(JobClock* c) {
    clock = c ? c : &JobClock::system();
    midiClock.setClock(clock);
  }
  JobClock& getClock() const { return *clock; }

  // Job threads: waits ms milliseconds, but returns at once (false) when the hub shuts down; true after a
  // full wait. Every pause of a job goes through here so that shut-down never waits out a long sleep.
  bool pause(int ms);
  // Job 0 after recalls: waits until none came for kRecallQuietMs, then takes the pending send over (its flags as
  // startRecalledProgramSend sets them). False when there is nothing left to send or the hub shuts down.
  bool settleAfterRecalls();
  // True once the hub shuts down: a job returns as soon as it sees this.
  bool stopping() const { return stopRequested; }
  // Hub, at shut-down: wakes every pause and makes stopping() true for good.
  void requestStop();

  // Set by a job that timed out or was cancelled; each job clears it when it begins.
  std::atomic<bool> failed{false};
  // Set by the user's "Cancel Data Request"; each job clears it when it begins and polls it while it waits.
  std::atomic<bool> cancel{false};

  Vexmir* const plug;
  PatchManager* const patchManager;

  // Test bench only: when set before any job starts, runs in place of every job.
  std::function<void(MIDIMessageSender&, const SenderJob&)> jobRunner;
  // Test bench only: sees every text a job shows on the display's name line, in order.
  std::function<void(const std::string&)> statusObserver;

  // --- Helpers of the job bodies (job threads) ---
  // Shows a text on the display's name line (and tells the observer); a `second` part that does not fit the line with
  // it goes on a line of its own.
  void showStatus(const std::string& text, const std::string& second = std::string());
  // The channel search: the request body (42 3n 58 ff) once on each channel, a pause after each; stops
  // when the answer came or the user cancelled. With `announce`, each channel is named on the display
  // first. True when it ended by a cancel.
  bool searchChannels(uint8_t function, int pauseMs, bool announce);
  // Sends a request body 42 3n 58 ff on channel n (the editor's own channel for -1).
  void sendRequest(uint8_t function, int channel = -1);
  // How a job waits for the synthesizer's answer to its request. Each poll comes after a pause of `pauseMs` and
  // shows `pollText` (when given); with `stopOnCancel` a cancel ends the wait. After poll `searchAt` (0: never),
  // with no answer yet, `searchFunction` is asked on every channel (pauses of `searchPauseMs`, each channel named
  // with `announceSearch`); a cancel during the search ends the wait, and with `stopOnMismatch` a dump of another
  // model ends it there too. Poll `lastPoll` shows `timeoutText` and ends it.
  struct AnswerWait {
    int pauseMs = 0;
    int lastPoll = 35;
    const char* timeoutText = "CONNECTION TIMED OUT!";
    const char* pollText = nullptr;
    bool stopOnCancel = true;
    int searchAt = 0;
    int searchPauseMs = 0;
    uint8_t searchFunction = 0x10;  // the program request
    bool announceSearch = false;
    bool stopOnMismatch = false;
    // When not negative: the count of the synthesizer's program changes when the job switched it; one more ends
    // the wait (kProgramChanged).
    int64_t switchedAt = -1;
    // The kinds of answers (AnswerOrder::Kind) the request takes, which must not be owed when it goes out, and the
    // kind it leaves owed when its wait ends without its answer (0: none).
    int takes = AnswerOrder::kProgram;
    int owes = AnswerOrder::kProgram;
  };
  // kPortLost: the ports closed under the wait (their JACK server ended); the display says so.
  enum class WaitEnd { kAnswered, kCancelled, kTimedOut, kMismatch, kShutDown, kProgramChanged, kPortLost };
  // Polls as `wait` says; the channel search's answer is no longer awaited once it returns. A wait that ends without
  // the answer, or whose request the channel search sent again, owes answers and sends a marker (see AnswerOrder).
  WaitEnd waitForAnswer(const AnswerWait& wait);
  // Before a request that takes an answer: while answers are owed, sends a marker and waits for the answer of one
  // (a fresh marker for every answer that may be an older one's; the markers' own channel search at `searchAt`),
  // with the wait's polls and end. kAnswered when the request may go out now.
  WaitEnd catchUp(const AnswerWait& wait);
  // Sends a marker on `channel` (the editor's own for -1), when both ports are there (nothing could answer otherwise).
  void sendAnswerMarker(int channel = -1);
  // showStatus for a request or store that succeeded: it also replaces a late answer said on the librarian's line.
  void showSuccess(const std::string& text);
  // How the store of one program ended, by what the synthesizer answered (nothing, for a model that never does), or
  // kNotSent when the output went away before all of it was sent.
  enum class StoreEnd { kConfirmed, kRefused, kNotWritten, kUnconfirmed, kSent, kNotSent, kShutDown };
  // Sends `dump`, pauses `dumpPauseMs`, requests the write into program memory `program` and pauses for it, reading
  // the synthesizer's results meanwhile. Where it confirms loads (*confirmsLoads, set once it answers one), a dump
  // unconfirmed after its pause is sent once more, and one still unconfirmed or refused is not written.
  StoreEnd storeProgram(const std::vector<uint8_t>& dump, int program, int dumpPauseMs, bool* confirmsLoads);
  // `head` and the programs (numbered from 1, in ranges), as many ranges as a status display of `displayChars`
  // (0: none) shows whole, up to four, then "and more".
  static std::string programListText(const std::string& head, const std::vector<int>& programs, size_t displayChars);
  // Asks for the program the job switched the synthesizer to when `switchedAt` of its program changes had come:
  // arms the single-program request, sends the request and waits as `wait` says. kProgramChanged when the
  // synthesizer switched program again before the answer came (the request is disarmed then, and nothing was
  // stored): the program must be asked for again.
  WaitEnd requestSwitchedProgram(AnswerWait wait, uint32_t switchedAt);

 private:
  WaitEnd pollForAnswer(const AnswerWait& wait);
  bool searched = false;    // the wait's request went out again on every channel
  int catchingUp = 0;       // the channel search sends markers for these kinds of answers owed

  JobClock* clock = &JobClock::system();
  MIDIClock midiClock{clock};
  std::atomic<bool> stopRequested{false};
  std::mutex pauseLock;
  std::condition_variable pauseWake;
};
