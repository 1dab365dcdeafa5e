// The editor object's small operations that talk to the synthesizer: the mode changes, program change, all
// notes off, the two send paths of every short and SysEx message, the audio-queue routing and the starters of
// the librarian transfers and of the hardware connection.
#include <sys/time.h>

#include <algorithm>
#include <cmath>

#include "KIT/IEffect/IControl.h"
#include "KIT/IEffect/IGraphics.h"
#include "KIT/shim/shim-sys.h"
#include "src/LibrarianEditor.h"
#include "src/LibrarianViewControl.h"
#include "src/MIDIMessageManager.h"
#include "src/PatchLibrarian.h"
#include "src/Vexmir.h"
#include "src/debugger.h"

namespace {
const char* const kMidiQueueFull = "MIDI queue full: message dropped!";
}

uint32_t Vexmir::defaultTicks() {
  return GetTickCount();
}

double Vexmir::paramValue(int idx) const {
  IParam* p = GetParam(idx);
  return p ? p->Value() : 0.0;
}

void Vexmir::storeParamValue(int idx, double value) {
  IParam* p = GetParam(idx);
  if (!p) return;
  if (!(value >= p->GetMin())) value = p->GetMin();  // NaN lands on the minimum too
  if (value > p->GetMax()) value = p->GetMax();
  p->Set(value);
}

int Vexmir::globalChannel() const {
  return std::clamp(static_cast<int>(paramValue(kGlobalMidiChannel)), 0, 15);
}

int Vexmir::timbreChannel(int timbre) const {
  int ch = static_cast<int>(paramValue(kMultiPartMIDICh + (timbre ? 1 : 0)));
  if (ch >= 16) return globalChannel();
  return std::clamp(ch, 0, 15);
}

int Vexmir::timbreOfChannel(int channel) const {
  for (int t = 0; t < 2; ++t)
    if (static_cast<int>(paramValue(kMultiPartMIDICh + t)) == channel) return t;
  return -1;
}

void Vexmir::lightMidiLed(int timbre) {
  if (timbre < 0 || timbre > 1) return;
  IGraphics* g = GetGUI();
  if (!g || midiLedOn[timbre]) return;
  g->SetParameterFromPlug(kMIDILed + timbre, 1.0, false);
  midiLedTime[timbre] = ticks();
  midiLedOn[timbre] = 1;
}

void Vexmir::sendMidiMsgAndLog(IMidiMsg* msg) {
  if (!msg) return;
  if (!midiOutReady) {
    displayStatus(noOutputText().c_str());
    return;
  }
  if (!trackIncomingMidi) lightMidiLed(timbreOfChannel(msg->Channel()));
  SendMidiMsg(msg);
}

void Vexmir::checksumCheckAndSend(const unsigned char* bytes, int length) {
  if (!midiOutReady) {
    displayStatus(noOutputText().c_str());
    return;
  }
  if (!bytes || length <= 0) return;
  if (midiManager) midiManager->sentToSynth(bytes, length);
  SendMidiSysex(const_cast<unsigned char*>(bytes), length);
  DebuggerOutput::logSysExOutMessageByte(bytes, length);
}

void Vexmir::MIDIOutRoutingSwitch(IMidiMsg* msg) {
  if (!msg) return;
  // Without an output port the audio callback sends nothing and the queue would only grow: the message is
  // dropped as a direct send drops it, with the same notice.
  if (midiOutViaAudioQueue && midiOutReady) {
    std::lock_guard<std::mutex> lock(midiQueueLock);
    if (!queueForAudio(msg)) displayStatus(kMidiQueueFull);
  } else {
    sendMidiMsgAndLog(msg);
  }
}

bool Vexmir::queueForAudio(const IMidiMsg* msg) {
  if (midiQueue.ToDo() >= kMaxQueuedMidiMessages) return false;
  midiQueue.Add(msg);
  return true;
}

int Vexmir::queuedMidiCount() {
  std::lock_guard<std::mutex> lock(midiQueueLock);
  return midiQueue.ToDo();
}

namespace {
void sendModeChange(Vexmir* plug, int mode) {
  if (!plug->midiOutReady) return;
  unsigned char body[] = {
      0x42, static_cast<unsigned char>(plug->deviceId & 0x7F), 0x58, 0x4E, static_cast<unsigned char>(mode), 0x00};
  plug->SendMidiSysex(body, sizeof body);
}
}  // namespace

void Vexmir::SendPatchEditOnCommand() {
  editModeOn = true;
  sendModeChange(this, 1);
}

void Vexmir::SendPatchEditOffCommand() {
  editModeOn = false;
  sendModeChange(this, 0);
}

// The pause the synthesizer needs after a program change is the following job's (SenderJob::leadPauseMs): a
// program change comes from host and editor threads, which must not pause.
void Vexmir::SendProgramChangeCommand(int program, int) {
  if (!midiOutReady) return;
  sendProgramChange(program);
}

void Vexmir::midiPortLost() {
  // Closed by its JACK server's end, the ports stay the project's, for the next action to open again.
  if (midiPortsLost()) return closePortsOfEndedServer(true);
  midiOutReady = false;
  midiInReady = false;
  dropExternalMIDIPorts();
  setParameterFromPlug(kDeviceOutSelection, 0);
  setParameterFromPlug(kDeviceInSelection, 0);
  log("MIDI: the port to the synthesizer was lost; both ports closed");
}

void Vexmir::AllSoundsOff() {
  allNotesOff(false);
}

void Vexmir::allNotesOff(bool queueLockHeld) {
  if (!midiOutReady || connectPending) return;
  for (int t = 0; t < 2; ++t) {
    IMidiMsg msg;
    msg.MakeControlChangeMsg(kAllNotesOff, 0.0, timbreChannel(t));
    if (midiOutViaAudioQueue && queueLockHeld)
      queueForAudio(&msg);
    else
      MIDIOutRoutingSwitch(&msg);
  }
}

int Vexmir::getTimerValue() const {
  int v = static_cast<int>(paramValue(kLibSyncTimer));
  if (v >= 0 && v <= 2) return 200 + 100 * v;
  if (v == 3) return 500;
  return 100;
}

// The editor counts as connecting only while the connection job really runs: a dropped start must not leave
// global dumps accepted at any time and all notes off silenced for good.
void Vexmir::sendSysExInitialization() {
  if (!midiOutReady || deviceBusy || !midiManager) return;
  SenderJob job;
  job.job = kJobDeviceIdEnquiry;
  midiManager->startJob(MidiWorker::kJobThread, job);
}

// Waits for a pending dump with a bound (two seconds), never forever: it may run under the plug-in mutex, and
// the dump it waits for may never come.
void Vexmir::sendPartDataBackToHardware(int) {
  if (!midiManager) return;
  constexpr int kStepMs = 200;
  constexpr int kMaxWaitMs = 2000;
  if (midiOutReady && !deviceBusy) pauseFor(kStepMs);
  int waited = 0;
  do {
    pauseFor(kStepMs);
    waited += kStepMs;
  } while (midiManager->dumpPending && waited < kMaxWaitMs);
  if (!(timbre1LockActive || timbre2LockActive || commonLockActive)) return;
  if (midiManager->isWorkerBusy(MidiWorker::kJobThread)) return;
  SenderJob job;
  job.job = kJobSendArrangement;
  job.arrangementFlag = false;
  midiManager->startJob(MidiWorker::kJobThread, job);
}

void Vexmir::sendPatchAndPatternToDevice(int, bool, bool, bool globalWithProgram, bool, bool) {
  sendGlobalWithProgram = globalWithProgram;
  dumpSendRunning = false;
  deviceBusy = false;
}

bool Vexmir::sendPatchToDeviceFromLibrarian(int slot, int side, int leadPauseMs) {
  PatchLibrarian* lib = librarian.get();
  if (!midiManager || !lib) return false;
  if (paramValue(kPartLock + (displayedTimbre ? 1 : 0)) == 1.0) return false;
  // A copy: the MIDI input may store into the open bank while this waits below.
  LibrarianPatch patch;
  {
    std::unique_lock<std::mutex> lock = lib->lockBanks();
    PatchFile* bank = lib->openBank(side, searchListShown);
    if (!bank) return false;
    PatchLibrarian::fillUncompletedBankFiles(bank);
    const LibrarianPatch* listed = PatchLibrarian::patchAt(bank, slot);
    if (!listed || listed->messages.size() == 0) return false;
    patch = *listed;
  }
  if (!outputUsable()) return false;
  // The program change, its pauses and the end of edit mode are the job's first steps, so that from the first one
  // the job owns the synthesizer and an outside program change is ignored. With the job thread busy nothing goes
  // out: the program change would switch the synthesizer under the running job.
  SenderJob job;
  job.job = kJobSendLibrarianPatch;
  job.patch = std::move(patch);
  job.slot = slot;
  job.leadPauseMs = leadPauseMs;
  job.programChange = std::clamp(slot, 0, 127);
  job.pauseAfterProgramChangeMs = getTimerValue() / 2 + 50;
  job.editModeOffFirst = true;
  return midiManager->startJob(MidiWorker::kJobThread, job);
}

bool Vexmir::storeAllPatchesToDeviceFromLibrarian(int side, int slot) {
  if (!outputUsable() || !midiManager || midiManager->isWorkerBusy(MidiWorker::kJobThread)) return false;
  PatchLibrarian* lib = librarian.get();
  if (!lib) return false;
  SenderJob job;
  job.job = kJobStoreAllPatches;
  job.side = side;
  job.slot = slot;
  job.editModeOffFirst = true;  // sent by the job, so that a store refused sends nothing into a running one
  {
    // The job works on its own copy: a rescan or an edit of the bank during the minutes of the store
    // cannot change or free what it sends.
    std::unique_lock<std::mutex> lock = lib->lockBanks();
    PatchFile* bank = lib->openBank(side, searchListShown);
    if (!bank) return false;
    job.bank = bank->patches;
  }
  return midiManager->startJob(MidiWorker::kJobThread, job);
}

void Vexmir::selectLibrarianSlot(int side, int slot) {
  if (librarian) librarian->selectSlot(side, slot);
}

void Vexmir::setLibrarianViewDirty() {
  if (IControl* view = firstControl(kLibrarianArea)) view->SetDirty(false);
}
