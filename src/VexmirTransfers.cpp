// The editor object's side of the transfers: the processing indicator with its Cancel buttons, the
// librarian request and unsaved states, the librarian's Store commands, the randomize command and the
// small look-ups the jobs use.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "KIT/IEffect/ControlLayer.h"
#include "KIT/IEffect/IControl.h"
#include "KIT/IEffect/IGraphics.h"
#include "src/MIDIMessageManager.h"
#include "src/PatchLibrarian.h"
#include "src/PatchManager.h"
#include "src/ProgressIndicator.h"
#include "src/TabSwitchFunctions.h"
#include "src/UIConfigManager.h"
#include "src/Vexmir.h"

namespace {

void hideLayer(UIConfigManager* config, const char* name, bool hide) {
  if (ControlLayer* layer = config ? config->getLayer(name) : nullptr) layer->Hide(hide);
}

}  // namespace

void Vexmir::setJobClock(JobClock* clock) {
  if (midiManager) midiManager->getSender()->setClock(clock);
}

void Vexmir::pauseFor(int ms) {
  (midiManager ? midiManager->getSender()->getClock() : JobClock::system()).sleepMilliseconds(ms);
}

std::string Vexmir::programName() const {
  IParam* p = GetParam(kPatchName);
  const char* text = p ? p->GetDisplayText(0) : nullptr;
  return text ? std::string(text) : std::string();
}

std::vector<double> Vexmir::currentValues() const {
  std::vector<double> values(kNumParams, 0.0);
  for (int i = 0; i < kNumParams; ++i) values[static_cast<size_t>(i)] = paramValue(i);
  return values;
}

void Vexmir::buildProgramDumpOf(const std::string& name, const std::vector<double>& values, uint8_t* out) {
  KIT_MutexLock lock(GetMutex());
  buildProgramDump(values.data(), name, static_cast<uint8_t>(deviceId.load()), receivedProgram, out);
}

void Vexmir::buildGlobalDumpOf(const std::vector<double>& values, uint8_t* out) {
  KIT_MutexLock lock(GetMutex());
  buildGlobalDump(values.data(), static_cast<uint8_t>(deviceId.load()), receivedGlobal, out);
}

void Vexmir::setReceivedProgramData(const uint8_t* data) {
  KIT_MutexLock lock(GetMutex());
  std::memcpy(receivedProgram, data, kProgramDataSize);
  ProjectChanged();
}

void Vexmir::setReceivedGlobalData(const uint8_t* data) {
  KIT_MutexLock lock(GetMutex());
  std::memcpy(receivedGlobal, data, kGlobalDataSize);
  ProjectChanged();
}

void Vexmir::resetReceivedProgramData() {
  setReceivedProgramData(initialProgramData());
}

void Vexmir::sendProgramChange(int program) {
  if (!midiOutReady) return;
  program = std::clamp(program, 0, 127);
  IMidiMsg msg;
  msg.MakeProgramChangeMsg(program / 127.0, globalChannel());
  sendMidiMsgAndLog(&msg);
  // The synthesizer plays this program now: the librarian follows it.
  if (patchManager) patchManager->recalledProgram = program;
}

int Vexmir::librarianCurrentProgram() const {
  return patchManager ? std::clamp(static_cast<int>(patchManager->recalledProgram), 0, 127) : 0;
}

void Vexmir::DisplayProcessingIndicator(bool show) {
  hideLayer(uiConfig, "releaseAllLocksLayer", true);
  deviceBusy = false;
  processingIndicatorShown = show;
  IControl* search = findFirstControl(kPatchSearch);
  const bool librarianTab = static_cast<int>(paramValue(kMainTab)) == 1;
  if (progressIndicator) progressIndicator->Hide(!show);
  hideLayer(uiConfig, "PROGRESS", !show);
  for (IControl* button : cancelButtons)
    if (button) button->Hide(true);
  if (show) {
    // One Cancel button: the librarian's on the librarian tab, the general one elsewhere.
    if (IControl* button = cancelButtons[librarianTab ? 0 : 1]) button->Hide(false);
    if (librarianTab) {
      hideLayer(uiConfig, "searchField", true);
      if (search) search->GrayOut(true);
    }
    return;
  }
  if (midiManager) midiManager->dumpPending = false;
  const int tab = static_cast<int>(paramValue(kMainTab));
  if (tab > 3) {
    hideLayer(uiConfig, "midiSettingsButton", false);
  } else if (tab == 1) {
    if (static_cast<int>(paramValue(kPatchSearch)) == 1) hideLayer(uiConfig, "searchField", false);
    if (search) search->GrayOut(false);
  }
  // The lock button belongs to the sound pages: the librarian keeps that place for its bank chooser.
  const bool timbreLocked = displayedTimbre == 0 ? timbre1LockActive.load() : timbre2LockActive.load();
  if (tab != 1 && (timbreLocked || commonLockActive)) hideLayer(uiConfig, "releaseAllLocksLayer", false);
}

void Vexmir::SetLibrarianRequestActive(bool active) {
  if (midiManager) {
    if (active) {
      midiManager->dumpPending = false;
      midiManager->singleRequest.arm();
    } else {
      midiManager->setWaiting(true);
      midiManager->singleRequest.disarm();
    }
    midiManager->replyTaken = false;
  }
  answerReceived = false;
}

void Vexmir::SetLibrarianStatusUnsaved(bool unsaved) {
  if (!unsaved) return;
  if (midiManager) {
    midiManager->dumpPending = false;
    midiManager->singleRequest.disarm();
  }
  storeParamValue(kBankEditUnsaved, 1.0);
  storeParamValue(kDiscardBankData, 0.0);
  ProjectChanged();
  hideLayer(uiConfig, "discardChangesLayerRight", false);
  hideLayer(uiConfig, "keepBankOpenLayer", true);
  hideLayer(uiConfig, "LeftPatchPopupMenu", true);
  hideLayer(uiConfig, "saveChangesLayer", true);
}

bool Vexmir::SendSingleProgramFromLibrarian(bool storeAfterSend) {
  singleProgramFlag = storeAfterSend;
  // The upper bank while one of its slots is selected, else the lower one; each side sends its own
  // selected slot, never a slot number taken from the other bank.
  const int upper = librarian ? librarian->selectedSlot(0) : -1;
  const int side = upper < 0 ? 1 : 0;
  const int slot = side == 0 ? upper : (librarian ? librarian->selectedSlot(1) : -1);
  if (sendPatchToDeviceFromLibrarian(slot, side)) return true;
  singleProgramFlag = false;  // nothing went out: the next audition must not store
  return false;
}

bool Vexmir::SendAllProgramsFromLibrarian() {
  const int side = librarian && librarian->selectedSlot(0) < 0 ? 1 : 0;
  selectLibrarianSlot(side, 0);
  return storeAllPatchesToDeviceFromLibrarian(side, 0);
}

void Vexmir::randomizeProgram() {
  if (static_cast<int>(paramValue(kRandomize)) != 1 || !(paramValue(kMainTab) > 0.0) || !midiManager) return;
  midiManager->randomGenerator();
  midiManager->randomizePatchSettings(displayedTimbre);
  // The shown timbre's switchable sections (oscillator 1's DWGS wave, LFO and delay sync) follow the new values,
  // as after a received program; the timbre itself does not change, so no timbre select is sent.
  const bool fromHardware = changeFromHardware;
  changeFromHardware = true;
  TabSwitchFunctions::quickTabSwitch(this, kQuickTab, displayedTimbre, 0, false);
  changeFromHardware = fromHardware;
  partRequestPending = true;
  if (!midiManager->isWorkerBusy(MidiWorker::kJobThread)) {
    SenderJob job;
    job.job = kJobSendArrangement;
    job.arrangementFlag = false;
    midiManager->startJob(MidiWorker::kJobThread, job);
  }
  // The command runs under the plug-in mutex: it does not wait for the job, which reads the values
  // already set.
  displayStatus("Patch Randomized");
  if (IGraphics* g = GetGUI())
    g->SetParameterFromPlug(kRandomize, 0.0, false);
  else
    storeParamValue(kRandomize, 0.0);
  OnParamChange(kRequestTempData);
}
