// The hub of the synthesizer protocol inside one plug-in instance: the state that the output side, the input
// side and the transfer jobs share, the librarian request records, the one MIDIMessageSender and the three
// workers that run its jobs.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "KIT/IEffect/IEffectStructs.h"
#include "src/AnswerOrder.h"
#include "src/LibrarianPatch.h"
#include "src/MIDIMessageSender.h"
#include "src/ProgramRandomizer.h"

class IControl;
class IGraphics;
class PatchLibrarian;
class PatchManager;
class Vexmir;

// A program requested from the synthesizer for the librarian, filled message by message by the SysEx input.
// The job thread arms and disarms it while the MIDI input thread (or a job feeding its own dump) fills it: the
// program is only touched under the record's lock; `active` can be read without it.
struct LibraryPatchRequest {
  int32_t unused = 1;
  std::atomic<bool> active{false};

  // Empties the program and sets `active`.
  void arm();
  void disarm() { active = false; }
  // While armed: appends one message; a 297-byte message completes the program: its name is taken from the
  // dump, `active` is cleared, the program is copied to `done` (when given) and the result is true. Any other
  // length leaves the request armed. A disarmed request takes nothing.
  bool addMessageData(const uint8_t* bytes, int length, LibrarianPatch* done = nullptr);
  // A copy of the program gathered so far.
  LibrarianPatch program() const;

 private:
  mutable std::mutex lock;
  LibrarianPatch patch;
};

// The all-programs request: the same record, filled program by program during a bank receive.
struct LibraryPatchRequestAll : LibraryPatchRequest {};

// The three workers: data jobs, MIDI start and stop, and the running clock.
enum class MidiWorker { kJobThread = 0, kClockControlThread = 1, kClockThread = 2 };

class MIDIMessageManager {
 public:
  // Host thread that creates the plug-in. Creates the sender; no worker runs until a job is started.
  MIDIMessageManager(Vexmir* plug, PatchManager* patchManager, PatchLibrarian* librarian, IGraphics* graphics);
  // Shuts down first (see shutDown), then deletes the sender.
  ~MIDIMessageManager();
  MIDIMessageManager(const MIDIMessageManager&) = delete;
  MIDIMessageManager& operator=(const MIDIMessageManager&) = delete;

  // Any thread. Starts `job` on the worker unless that worker still runs a job (the request is then dropped:
  // nothing is queued and no flag of the job is written) or the hub shuts down. The job's record is copied
  // into the worker under the start lock, which is held for nothing else: a worker's thread lives as long as the
  // hub and waits for its next job, so a start neither creates nor joins a thread (but the first). True when the
  // job was started.
  bool startJob(MidiWorker worker, const SenderJob& job);
  // Any thread. True while the worker runs a job.
  bool isWorkerBusy(MidiWorker worker) const;
  // Any thread. True while a transfer job runs: the action `what` names (a program change, a store) is not done,
  // and the display says "<what> ignored: a transfer is running".
  bool ignoredDuringJob(const std::string& what);
  static std::string ignoredText(const std::string& what) { return what + " ignored: a transfer is running"; }

  // --- The protocol's flags and the rules that tie them to the jobs ---
  // The waiting flag set by a message from the synthesizer (edit mode on), not by a job: it ends by itself
  // after this long when nothing answers it, so one stray message never leaves the editor deaf.
  static constexpr uint32_t kUnansweredWaitMs = 1000;
  // Set while the running job brings a program into the editor (a request for it, an audition).
  std::atomic<bool> jobFetchesIntoEditor{false};
  // Set while the running job stores programs into the open bank (a fetch for the librarian, the editor's program
  // stored into a slot, an initialized slot): that bank stays open until the job ends.
  std::atomic<bool> jobWritesIntoLibrarian{false};
  // Set while the running job sends programs of the librarian's banks (an audition, a store of one or all): no bank
  // is read again from its file until it ends.
  std::atomic<bool> jobSendsLibrarian{false};
  // Sets (or clears) the waiting flag and notes when; any thread.
  void setWaiting(bool on);
  // The waiting flag as the input sees it: a wait that no job owns ends once kUnansweredWaitMs have passed. Only
  // a job that brings a program into the editor owns it: during any other (a bank store runs for minutes) an
  // unanswered edit-mode message must not leave the knobs and the host's MIDI ignored.
  bool isWaiting();
  // Every rule that ties a flag to the job that owns it, broken now: empty when the protocol is at rest or each
  // set flag has its job running. Any thread; a snapshot, so a job that starts or ends meanwhile can make a
  // single reading disagree with the next.
  std::vector<std::string> protocolViolations() const;
  // Host thread that closes the plug-in. Refuses further starts, cancels and wakes the running jobs, and joins
  // the three workers. Idempotent; after it returns no job runs.
  void shutDown();

  // --- Short MIDI input (synthesizer and host) ---
  void ProcessMidiMsgFromDevice(IMidiMsg* msg);
  void ProcessMidiMsgFromDAW(IMidiMsg* msg, int timbre);
  void getLegacyCCparam(int cc, int channel, int value, bool refreshTab, bool mapValues);

  // --- SysEx input ---
  void ProcessSysEx(ISysEx* msg, bool fromDevice);
  void processSysExToUI(IControl* control, int value, bool quickTab, bool commonMode, bool incoming);
  void getNormalControl(int a, int b, int c, int d, int value, bool incoming);
  static void decodeTapPatternCode(const unsigned char* code, char* steps);
  // A received program dump into the editor's parameters (section locks honoured, no MIDI sent).
  void sysexPartPatchParse(ISysEx* msg);
  // A received global dump into the global parameters; only 235-byte dumps are taken.
  void sysexSettingsParse(ISysEx* msg);

  // --- Randomizer (MIDIMessageManagerRandomizer) ---
  // Fills the table of random entries; the generator is seeded once, when the hub is made.
  int randomGenerator();
  // The fold of table entry `entry` into the range of parameter `paramIdx`.
  int randomizer(int paramIdx, int entry);
  // Draws the program's parameters section by section, leaving locked sections as they are.
  void randomizePatchSettings(int timbre);
  ProgramRandomizer& getRandomizer() { return *programRandomizer; }

  // The librarian's request for one program (job 6): unless `temporary`, the synthesizer is first switched to
  // program `slot`, so that the slot receives the program of its own number. False when a running job refused it.
  bool sendSinglePatchRequestSysexFromLibrarian(bool temporary, int slot);

  MIDIMessageSender* getSender() const { return sender.get(); }
  // Moves a control to a received plain value as the synthesizer's hardware moves it: counted from the
  // parameter's minimum for SysEx values, as the raw 0..127 offset for control changes (v / range).
  static void moveControl(IControl* control, int value, bool fromMinimum);

  Vexmir* const plug;
  PatchManager* const patchManager;
  IGraphics* const graphics;
  PatchLibrarian* const librarian;

  LibraryPatchRequest singleRequest;
  LibraryPatchRequestAll allRequest;

  // Protocol flags shared by the editor, the input thread and the jobs: single values, no other data is
  // ordered by them.
  std::atomic<bool> dumpPending{false};        // the editor waits for a program or global dump
  std::atomic<bool> refreshPending{false};     // the SysEx input re-applies the timbre view at its end
  std::atomic<bool> bankSelectPending{false};  // CC 0 = 0 came from the synthesizer, its CC 32 is awaited
  std::atomic<bool> fromHost{false};           // the last short message came from the host
  std::atomic<bool> gotData{false};            // some data came from the synthesizer
  std::atomic<bool> incomingUpdate{false};     // a received value is being applied to a control
  std::atomic<bool> replyTaken{false};         // the awaited reply has been taken in
  std::atomic<bool> arrangementBusy{false};    // a program or bank send (jobs 0 to 3) runs
  // A request job has asked on other channels than the editor's and still waits: a program dump from
  // another channel is its answer.
  std::atomic<bool> channelSearchActive{false};
  // Program changes that came from the synthesizer, followed or not: each may have switched its program.
  std::atomic<uint32_t> synthProgramChanges{0};
  // Set while a job waits for the program it switched the synthesizer to (a program by slot, all programs): a
  // program change from the synthesizer meanwhile disarms the request, as the answer may then be another program.
  std::atomic<bool> switchedProgramAwaited{false};
  // MIDI input thread, for every program change from the synthesizer before anything filters it.
  void synthSwitchedProgram();

  // The synthesizer's results of a store (F0 42 3n 58 ff F7, ff 21 to 24 in this order), counted only while a store
  // reads them: outside a store a six-byte message is never interpreted.
  enum StoreResult { kWriteCompleted = 0, kWriteError, kLoadCompleted, kLoadError, kStoreResults };
  std::atomic<bool> readingStoreResults{false};
  std::atomic<uint32_t> storeResults[kStoreResults] = {};
  // The late answers of requests whose wait ended: a job sends the marker, the SysEx input drops what it marks.
  AnswerOrder answerOrder;
  // Set on a job's thread while it hands the editor a program of its own (an audition), which no marker orders.
  static thread_local bool feedingOwnDump;
  // MIDI input: a late answer was dropped; said where the musician looks. The librarian's line keeps it until the
  // next request or store that succeeds (lateAnswerOnLibrarianLine).
  void sayLateAnswerDropped();
  std::atomic<bool> lateAnswerOnLibrarianLine{false};
  // Every SysEx message that goes to the synthesizer: counts the global requests and owes the results nobody reads.
  void sentToSynth(const unsigned char* bytes, int length);
  // Whether the synthesizer connected has answered the load of a program stored: not every model of the family
  // answers, and only one that does is sent a dump again, and has it not written, when the dump stays unconfirmed.
  std::atomic<bool> synthConfirmsLoads{false};

  // The NRPN address being received; kNoNrpn when that part is not held.
  static constexpr int kNoNrpn = 0x80;
  std::atomic<int> nrpnMsb{0};
  std::atomic<int> nrpnLsb{0};
  std::atomic<uint32_t> lastProgramChangeTime{0};
  // When the waiting flag was last set (the plug-in's ticks).
  std::atomic<uint32_t> waitingSince{0};

 private:
  // One worker: its thread and the job handed to it.
  struct Worker {
    std::thread thread;  // started by the first job, joined at shut-down
    const char* name = "";
    SenderJob job;         // under the hub's start lock
    bool hasJob = false;   // under the hub's start lock
    std::condition_variable wake;
    MIDIMessageSender* sender = nullptr;
    MIDIMessageManager* hub = nullptr;
    std::atomic<bool> busy{false};
    void run();
  };

  // Under the start lock, just before a worker starts: the flags the job runs with (the waiting flag of a
  // request for the editor, the connect flag, the busy flag of a send).
  void beginJob(const SenderJob& job);
  // On the worker, after the job returned by whatever path: every flag and request record the job owns is
  // cleared, so nothing it armed outlives it.
  void endJob(const SenderJob& job);
  // Follows a program change from the synthesizer (fromHostMsg null) or the host, whose message is passed on to the
  // synthesizer before any job starts; false when it is not followed (a job runs: the change is ignored, not passed
  // on, and the display says so).
  bool programChange(int program, IMidiMsg* fromHostMsg);
  // A host's message on its way to the synthesizer, with the MIDI LED.
  void passOnFromHost(IMidiMsg* msg);
  void adoptChannel(int byte2);
  void parameterChange(const uint8_t* message);
  IControl* findCCControl(int channelKey, int cc, const int* timbreKeys, int nKeys);

  std::unique_ptr<MIDIMessageSender> sender;
  std::unique_ptr<ProgramRandomizer> programRandomizer;
  Worker workers[3];
  std::mutex startLock;
  bool shutDownDone = false;  // under startLock
};
