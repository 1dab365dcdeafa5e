// The editor object's side of the transfers: the processing indicator with its Cancel buttons, the
// librarian request and unsaved states, the librarian's Store commands, the randomize command and the
// small look-ups the jobs use.
#include <algorithm>
#include <string>
#include <vector>

#include "KIT/IEffect/ControlLayer.h"
#include "KIT/IEffect/IControl.h"
#include "KIT/IEffect/IGraphics.h"
#include "src/MIDIMessageManager.h"
#include "src/PatchLibrarian.h"
#include "src/PatchManager.h"
#include "src/UIConfigManager.h"
#include "src/Vexmir.h"

namespace {

// The two "Cancel Data Request" buttons share one parameter.
constexpr int kCancelDataRequest = 518;
// The librarian tab's button sits left of the general one.
constexpr int kLibrarianCancelX = 860;

void collectControls(ControlLayer* layer, int paramIdx, std::vector<IControl*>* out) {
  for (int i = 0; i < layer->controls.GetSize(); ++i)
    if (layer->controls.Get(i)->ParamIdx() == paramIdx) out->push_back(layer->controls.Get(i));
  for (int i = 0; i < layer->childLayers.GetSize(); ++i) collectControls(layer->childLayers.Get(i), paramIdx, out);
}

// Every control bound to the parameter, top-level ones first.
std::vector<IControl*> controlsOf(IGraphics* g, int paramIdx) {
  std::vector<IControl*> out;
  if (!g) return out;
  for (int i = 0; i < g->NControls(); ++i)
    if (g->GetControl(i)->ParamIdx() == paramIdx) out.push_back(g->GetControl(i));
  for (int i = 0; i < g->NLayers(); ++i) collectControls(g->GetLayer(i), paramIdx, &out);
  return out;
}

void hideLayer(Vexmir* plug, const char* name, bool hide) {
  if (ControlLayer* layer = plug->layerNamed(name)) layer->Hide(hide);
}

}  // namespace

ControlLayer* Vexmir::layerNamed(const std::string& name) const {
  return uiConfig ? uiConfig->getLayer(name) : nullptr;
}

void Vexmir::setJobClock(JobClock* clock) {
  if (midiManager) midiManager->getSender()->setClock(clock);
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

void Vexmir::sendProgramChange(int program) {
  if (!midiOutReady) return;
  IMidiMsg msg;
  msg.MakeProgramChangeMsg(std::clamp(program, 0, 127) / 127.0, globalChannel());
  sendMidiMsgAndLog(&msg);
}

int Vexmir::librarianCurrentProgram() const {
  return patchManager ? std::clamp(static_cast<int>(patchManager->recalledProgram), 0, 127) : 0;
}

void Vexmir::DisplayProcessingIndicator(bool show) {
  hideLayer(this, "releaseAllLocksLayer", true);
  deviceBusy = false;
  processingIndicatorShown = show;
  IGraphics* g = GetGUI();
  const std::vector<IControl*> cancelButtons = controlsOf(g, kCancelDataRequest);
  IControl* search = g ? findFirstControl(kPatchSearch) : nullptr;
  const bool librarianTab = static_cast<int>(paramValue(kMainTab)) == 1;
  hideLayer(this, "PROGRESS", !show);
  for (IControl* button : cancelButtons) button->Hide(true);
  if (show) {
    const int librarianX = static_cast<int>(kLibrarianCancelX * getUIScale());
    for (IControl* button : cancelButtons) {
      const bool isLibrarians = button->GetRECT()->L <= librarianX + 1;
      if (isLibrarians == librarianTab) button->Hide(false);
    }
    if (librarianTab) {
      hideLayer(this, "searchField", true);
      if (search) search->GrayOut(true);
    }
    return;
  }
  if (midiManager) midiManager->dumpPending = false;
  const int tab = static_cast<int>(paramValue(kMainTab));
  if (tab > 3) {
    hideLayer(this, "midiSettingsButton", false);
  } else if (tab == 1) {
    if (static_cast<int>(paramValue(kPatchSearch)) == 1) hideLayer(this, "searchField", false);
    if (search) search->GrayOut(false);
  }
  const bool timbreLocked = displayedTimbre == 0 ? timbre1LockActive.load() : timbre2LockActive.load();
  if (timbreLocked || commonLockActive) hideLayer(this, "releaseAllLocksLayer", false);
}

void Vexmir::SetLibrarianRequestActive(bool active) {
  if (midiManager) {
    if (active) {
      midiManager->dumpPending = false;
      midiManager->singleRequest.arm();
    } else {
      midiManager->dumpPending = true;
      midiManager->singleRequest.active = false;
    }
    midiManager->replyTaken = false;
  }
  answerReceived = false;
}

void Vexmir::SetLibrarianStatusUnsaved(bool unsaved) {
  if (!unsaved) return;
  if (midiManager) {
    midiManager->dumpPending = false;
    midiManager->singleRequest.active = false;
  }
  storeParamValue(kBankEditUnsaved, 1.0);
  storeParamValue(kDiscardBankData, 0.0);
  hideLayer(this, "discardChangesLayerRight", false);
  hideLayer(this, "keepBankOpenLayer", true);
  hideLayer(this, "LeftPatchPopupMenu", true);
  hideLayer(this, "saveChangesLayer", true);
}

void Vexmir::SendSingleProgramFromLibrarian(bool storeAfterSend) {
  singleProgramFlag = storeAfterSend;
  const int slot = librarian ? librarian->selectedUpperSlot : 0;
  sendPatchToDeviceFromLibrarian(slot, librarian && librarian->selectedUpperSlot < 0 ? 1 : 0);
}

void Vexmir::SendAllProgramsFromLibrarian() {
  const int side = librarian && librarian->selectedUpperSlot < 0 ? 1 : 0;
  if (librarian) librarian->selectedUpperSlot = 0;
  storeAllPatchesToDeviceFromLibrarian(side, 0);
}

void Vexmir::randomizeProgram() {
  if (static_cast<int>(paramValue(kRandomize)) != 1 || !(paramValue(kMainTab) > 0.0) || !midiManager) return;
  midiManager->randomGenerator();
  midiManager->randomizePatchSettings(displayedTimbre);
  partRequestPending = true;
  if (!midiManager->isWorkerBusy(MidiWorker::kJobThread)) {
    SenderJob job;
    job.job = kJobSendArrangement;
    job.arrangementFlag = false;
    midiManager->arrangementBusy = true;
    if (!midiManager->startJob(MidiWorker::kJobThread, job)) midiManager->arrangementBusy = false;
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
