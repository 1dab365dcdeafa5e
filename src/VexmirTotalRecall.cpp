// The host state chunk of the editor object: written on the host's get-chunk, read on its set-chunk (a
// project recall: parameters, ports by name, the MIDI filter and clock flags, the editor tab, and the
// recalled program sent to the synthesizer again).
#include <algorithm>
#include <cmath>
#include <string>

#include "KIT/IEffect/IControl.h"
#include "KIT/IEffect/IGraphics.h"
#include "KIT/IEffect/JackOwner.h"
#include "KIT/IEffect/IParam.h"
#include "KIT/kitstring.h"
#include "src/LibrarianEditor.h"
#include "src/MIDIMessageManager.h"
#include "src/PatchLibrarian.h"
#include "src/PatchManager.h"
#include "src/PortMenu.h"
#include "src/StateChunk.h"
#include "src/Vexmir.h"

namespace {

double normalizedOf(Vexmir* plug, int idx) {
  IParam* p = plug->GetParam(idx);
  return p ? p->GetNormalized() : 0.0;
}

std::string displayTextOf(Vexmir* plug, int idx) {
  IParam* p = plug->GetParam(idx);
  const char* text = p ? p->GetDisplayText(p->Int()) : nullptr;
  return text ? text : std::to_string(p ? p->Int() : 0);
}

}  // namespace

bool Vexmir::SerializeState(ByteChunk* chunk) {
  return SerializeState2(chunk, true);
}

int Vexmir::UnserializeState(ByteChunk* chunk, int startPos) {
  return UnserializeState2(chunk, startPos, true);
}

bool Vexmir::SerializeProject(ByteChunk* chunk, std::string* digest) {
  if (!patchManager) return IEffectVST::SerializeProject(chunk, digest);
  return SerializeState2(chunk, true, digest);
}

bool Vexmir::SerializeState2(ByteChunk* chunk, bool full, std::string* digest) {
  if (!chunk) return false;
  KIT_MutexLock lock(mMutex);
  PluginState state;
  projectState(&state, full);
  if (full && patchManager) setLibrarianViewDirty();
  writeStateBody(chunk, state, full && patchManager);
  // The synthesizer's channel message is taken in without the mutex: the digest of a state built again could hold a
  // channel that the chunk lacks, which would then never be told.
  if (digest) *digest = projectDigest(state);
  return true;
}

std::string Vexmir::ProjectDigest() {
  KIT_MutexLock lock(mMutex);
  if (!patchManager) return IEffectVST::ProjectDigest();
  PluginState state;
  projectState(&state, true);
  return projectDigest(state);
}

void Vexmir::projectState(PluginState* out, bool full) {
  KIT_MutexLock lock(mMutex);
  PluginState& state = *out;
  state.quickTab = paramValue(kQuickTab);
  if (full && patchManager) {
    std::vector<std::string>& names = patchManager->patch.names;
    // The name the editor shows is the program's name, even when no dump has gone out since it was typed.
    const std::string shown = programName();
    if (!shown.empty()) names[0] = KIT_UTF8Head(shown, kStateShortNameLength);
    // The ports the project names: those a JACK server's end closed too (nothing is asked of the MIDI system here).
    projectPortNames(&names[3], &names[4]);
    state.patch = patchManager->block();
    state.deviceInNormalized = projectPortNormalized(0);
    state.deviceOutNormalized = projectPortNormalized(1);
    state.bankNormalized = normalizedOf(this, kBankSelection);
    state.programNormalized = normalizedOf(this, kPatchSelection);
    // What no parameter holds: the bytes last received, and the open bank by its path with its edits that are not
    // saved.
    state.hasReceived = true;
    state.receivedProgram.assign(receivedProgram, receivedProgram + kProgramDataSize);
    state.receivedGlobal.assign(receivedGlobal, receivedGlobal + kGlobalDataSize);
    if (librarianEditor)
      librarianEditor->projectBank(&state.editedBankPath, &state.editedBankImage, &state.editedBankStamp);
    state.currentPatch = paramValue(kCurrentPatch);
    state.currentBank = paramValue(kCurrentBank);
    // A recall handed over to the editor's thread and not carried out yet: the project holds what the recall will
    // do there, decided as it will decide then. Its bank and selection, unless the open bank stays (its edits are in
    // no file and must not leave the project); then the recall's selection only where it will take it.
    std::lock_guard<std::mutex> handOff(recallHandOverLock);
    if (const RecalledLibrarian* part = recallHandedOver.get();
        part && part->full && librarianEditor && (part->hasSelection || !part->bankImage.empty())) {
      const LibrarianEditor::RecallOutcome outcome = librarianEditor->recallOutcome(part->bankPath, part->bankImage);
      if (!outcome.keepsOpenBank) {
        state.editedBankPath = part->bankPath;
        state.editedBankImage = part->bankImage;
        state.editedBankStamp = part->bankStamp;
        if (part->hasSelection) state.currentBank = part->currentBank;
      }
      if (part->hasSelection && (!outcome.keepsOpenBank || outcome.takesSelection))
        state.currentPatch = part->currentPatch;
    }
  }
  // The MIDI lights show only activity: the project holds them off.
  state.values.resize(kStateParamCount);
  for (int i = 0; i < kStateParamCount; ++i)
    state.values[static_cast<size_t>(i)] = i == kMIDILed || i == kMIDILedT2 ? 0.0 : paramValue(i);
}

bool Vexmir::startRecalledProgramSend() {
  // The program (with the global settings first) is sent by job 0; its flags are set only when it starts,
  // so a busy job thread leaves nothing stuck and a refused start clears nothing.
  if (!midiManager || midiManager->isWorkerBusy(MidiWorker::kJobThread)) return false;
  SenderJob job;
  job.job = kJobSendArrangement;
  job.arrangementFlag = false;
  job.recalledSend = true;
  return midiManager->startJob(MidiWorker::kJobThread, job);
}

void Vexmir::startPendingRecallSend() {
  if (!midiManager || !recallSendPending || midiManager->isWorkerBusy(MidiWorker::kJobThread)) return;
  SenderJob job;
  job.job = kJobSendArrangement;
  job.arrangementFlag = false;
  job.afterRecalls = true;
  midiManager->startJob(MidiWorker::kJobThread, job);
}

std::string Vexmir::recallLibrarianBank(const RecalledLibrarian& part) {
  if (!librarianEditor || !part.full || (!part.hasSelection && part.bankImage.empty())) return std::string();
  // The open bank as the project left it, found by its path (by its position where the project kept no path or
  // its bank is gone), with the edits the project kept; edits made here stay open and flagged whatever the project
  // holds.
  log("PROJECT RECALL: open bank stored " + part.bankPath);
  bool opened = false;
  librarianEditor->takeRenameRefusal();
  std::string note = librarianEditor->recallProjectBank(
      part.bankPath, part.bankImage, part.bankStamp, part.hasSelection ? &part.currentBank : nullptr, &opened);
  // A name being typed that the recall refused is said with what the recall says, not on the librarian's line only.
  if (const std::string refused = librarianEditor->takeRenameRefusal(); !refused.empty())
    note = note.empty() || note == refused ? refused : refused + " - " + note;
  // A project from elsewhere may hold any finite number here: it is brought into range before it becomes a slot.
  if (opened && part.hasSelection && librarian)
    librarian->selectSlot(0, static_cast<int>(std::clamp(part.currentPatch, -1.0, 127.0)));
  return note;
}

bool Vexmir::recallHandsOver() {
  IGraphics* g = GetGUI();
  return librarianEditor && g && g->WindowIsOpen() && (g->ModalShown() || !g->OnEditorThread());
}

void Vexmir::finishHandedOverRecall() {
  std::unique_ptr<RecalledLibrarian> part;
  {
    std::lock_guard<std::mutex> lock(recallHandOverLock);
    part.swap(recallHandedOver);
  }
  if (!part) return;
  // A project saved meanwhile holds what this does (see SerializeState2): only a bank other than the project's, which
  // the librarian's recall says, changes it.
  finishRecallInEditor(*part, recallLibrarianBank(*part));
}

void Vexmir::finishRecallInEditor(const RecalledLibrarian& part, const std::string& bankNote) {
  // The editor tab with the recalled timbre. Leaving the librarian ends an entry of its own, and what that says (a
  // rename the recall sent nowhere) is read after the timbre's name, with the recall's notes.
  IGraphics* g = GetGUI();
  const std::string toldBefore = librarianEditor ? librarianEditor->lastMessage() : std::string();
  if (g) g->SetParameterFromPlug(kMainTab, 2.0, false);
  storeParamValue(kMainTab, 2.0);
  OnParamChange(kMainTab);
  OnParamChange(kQuickTab);
  const std::string entryNote =
      librarianEditor && librarianEditor->lastMessage() != toldBefore ? librarianEditor->lastMessage() : std::string();
  // A port of the project that is not there now (renamed, unplugged) stays OFF, and a bank that is gone is stood in
  // for by another: the musician is told which.
  const std::string& portNote = part.portNote;
  std::string text = portNote.empty() ? bankNote : portNote;
  if (!portNote.empty() && !bankNote.empty()) text += " - " + bankNote;
  if (!entryNote.empty()) text += (text.empty() ? "" : " - ") + entryNote;
  if (!text.empty()) {
    if (midiManager)
      midiManager->getSender()->showStatus(text);
    else
      displayStatus(text.c_str());
  }
  // The ports to choose are read whole on the librarian's line.
  if (!portNote.empty() && librarianEditor) librarianEditor->note(portNote);
}

int Vexmir::UnserializeState2(ByteChunk* chunk, int startPos, bool full) {
  if (!chunk) return -1;
  // The whole body is read and checked before anything is applied: a cut or damaged chunk changes
  // nothing, not even the ports.
  PluginState state;
  const int end = readStateBody(*chunk, startPos, full, &state);
  if (end < 0) {
    log("PROJECT RECALL: state data cut short or damaged, nothing recalled");
    return -1;
  }
  const bool reopen = full && patchManager;
  std::string inName, outName;
  {
    KIT_MutexLock lock(mMutex);
    storeParamValue(kQuickTab, state.quickTab);
    displayedTimbre = static_cast<int>(paramValue(kQuickTab));
    if (reopen) {
      inName = untilZero(state.patch.names[3]);
      outName = untilZero(state.patch.names[4]);
      // The output stays ready while it is reopened: what a running job sends meanwhile is held back by the port
      // operation and goes out after it, and the audio callback keeps its queue (its send finds the port busy).
    }
  }
  // The ports are reopened without the plug-in mutex: that waits for the MIDI server (and on JACK for the new
  // connections to go live), and the audio callback, the MIDI input and the editor must not wait for it. A caller
  // that holds the mutex itself keeps it meanwhile.
  PortReopen ports;
  if (reopen) {
    // The host's call returns within about a second of its arrival, answered or not.
    const jackowner::AnswerWithin call;
    std::lock_guard<std::mutex> changing(portChangeLock);
    ports = reopenPortsByName(inName, outName, true);
  }

  KIT_MutexLock lock(mMutex);
  std::string portNote;
  if (reopen && ports.late) {
    // Not answered in time: the project names the recalled ports, which the relay opens once the server answers.
    patchManager->setState(state.patch);
    awaitAnswerFor(inName, outName, state.deviceInNormalized, state.deviceOutNormalized);
  } else if (reopen) {
    // The recalled names are taken in with the rest of the state, after the ports: a send still running keeps the
    // name of the program it sends, and would otherwise overwrite them while the ports are reopened.
    patchManager->setState(state.patch);
    // A port of the project that is not there now (renamed, unplugged) stays OFF, as one does where no MIDI system
    // answers (a JACK server that stopped): the musician reads which.
    portNote = takeReopenedPorts(ports, inName, outName);
    log("PROJECT RECALL: MIDI In device after checking devices " + displayTextOf(this, kDeviceInSelection));
    log("PROJECT RECALL: MIDI Out device after checking devices " + displayTextOf(this, kDeviceOutSelection));
    // A clock loop that ended while the output was reopened is started again by the next audio block.
    continuousClockStarted = false;
    if (IParam* bank = GetParam(kBankSelection)) bank->SetNormalized(std::clamp(state.bankNormalized, 0.0, 1.0));
    if (IParam* program = GetParam(kPatchSelection))
      program->SetNormalized(std::clamp(state.programNormalized, 0.0, 1.0));
    patchManager->recalledBank = static_cast<int32_t>(paramValue(kBankSelection));
    patchManager->recalledProgram = static_cast<int32_t>(paramValue(kPatchSelection));
  }

  // Parameters 0..472, each limited to its range, without parameter logic. The flag of unsaved bank edits is no
  // value of the project: it belongs to the bank open here, whose programs differ from its file or not.
  // The lights a project saved before they were held off do not come back lit.
  for (int i = 0; i < kStateParamCount; ++i)
    if (i != kBankEditUnsaved && i != kMIDILed && i != kMIDILedT2)
      storeParamValue(i, state.values[static_cast<size_t>(i)]);
  if (state.hasReceived) {
    // The bytes no parameter holds come back as they were saved, never those of the program received last.
    setReceivedProgramData(state.receivedProgram.data());
    setReceivedGlobalData(state.receivedGlobal.data());
  } else {
    // An older project does not carry them: its program starts from the initial program's bytes, not from those
    // of whatever program was received last.
    resetReceivedProgramData();
  }
  // The librarian's part and the editor tab belong to the editor's thread while the editor is open: a recall that
  // comes on another thread, or while a menu, panel or question stands, changes none of them here. What the musician
  // chooses meanwhile goes onto what is shown; the editor's thread carries the recall's side out on its next idle
  // with nothing standing (or as the editor closes).
  RecalledLibrarian part;
  part.full = reopen;
  part.bankPath = state.editedBankPath;
  part.bankImage = state.editedBankImage;
  part.bankStamp = state.editedBankStamp;
  part.hasSelection = state.hasSelection;
  part.currentBank = state.currentBank;
  part.currentPatch = state.currentPatch;
  part.portNote = portNote;
  const bool handOver = recallHandsOver();
  const std::string bankNote = handOver ? std::string() : recallLibrarianBank(part);

  // The flags that follow parameters are derived from the values just recalled, not from the old ones.
  for (int k = 0; k < kNumFilterKinds; ++k) {
    hostFilter[k] = paramValue(kMIDIFilterDAWCCPassThrough + k) != 1.0;
    deviceFilter[k] = paramValue(kMIDIFilterDAWCCPassThrough + kNumFilterKinds + k) != 1.0;
  }
  trackIncomingMidi = paramValue(kMIDIFilterTrackIncomingMIDI) == 1.0;
  midiOutViaAudioQueue = paramValue(kMIDIFilterToDAWBuffer) == 1.0;
  sendClockStartStop = paramValue(kSendMIDIClockPointer) == 1.0;
  sendClockTicks = paramValue(kSendMIDIClockInfo) == 1.0;
  deviceId = 0x30 + globalChannel();
  log("PROJECT RECALL: hardware DeviceID " + std::to_string(deviceId.load()));
  localControlFlag = paramValue(kGlobalLocalControl) != 0.0;
  masterKeyboardFlag = paramValue(kMasterKeyboard) == 1.0;
  updateSectionLockFlags();

  if (full && patchManager) {
    const std::string name = untilZero(patchManager->patch.names[0]);
    if (IParam* p = GetParam(kPatchName)) p->SetDisplayText(0, name.c_str());
    // The name field is drawn again whether or not the name's value moved (only a moved value dirties it). Marked
    // to be drawn again first, then dirty, as a hidden control is: an editor that was drawing the old name and
    // makes the field clean after it keeps it dirty.
    if (IControl* c = firstControl(kPatchName)) {
      c->SetRedraw(true);
      c->SetDirty(false);
    }
    log("PROJECT RECALL: Patch name " + name);
  }

  globalSent = false;
  if (full && midiOutReady) {
    SendPatchEditOffCommand();
    // A job still running (the program of a recall just before, a bank store) takes no second one: the program
    // is then sent once the job thread is free and recalls have stopped coming, so that a burst of recalls (a
    // host loading a project recalls twice) ends with one send of the last state after the running one.
    if (midiManager) lastRecallNanoseconds = midiManager->getSender()->getClock().nowNanoseconds();
    recallSendPending = false;
    if (!startRecalledProgramSend()) {
      recallSendPending = true;
      // The job may have ended meanwhile: the relay's thread looks again.
      GetHostCallRelay().requestDeferredWork();
    }
  } else {
    recallSendPending = false;
  }
  // The queue's pace follows the recalled offset knob: two steps per unit on top of the host's block.
  queueStepsPerBlock = toInt(2.0 * paramValue(kAdjustDAWOffset) + GetBlockSize());
  log("PROJECT RECALL: MIDI In device after nonautomated params " + displayTextOf(this, kDeviceInSelection));
  log("PROJECT RECALL: MIDI Out device after nonautomated params " + displayTextOf(this, kDeviceOutSelection));
  displayStatus("Project Data Recalled");

  {
    // The last recall wins: one handed over before this one is not carried out after it.
    std::lock_guard<std::mutex> handOff(recallHandOverLock);
    recallHandedOver = handOver ? std::make_unique<RecalledLibrarian>(std::move(part)) : nullptr;
  }
  if (!handOver) finishRecallInEditor(part, bankNote);
  // The host holds the project it handed over: what the editor keeps now that differs from it (a port gone, another
  // bank left open) is told on the next idle, once.
  if (reopen) {
    ProjectHeld(projectDigest(state));
    ProjectChanged();
  }
  return end;
}
