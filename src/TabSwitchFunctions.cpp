#include "src/TabSwitchFunctions.h"

#include <string>
#include <vector>

#include "KIT/IEffect/ControlLayer.h"
#include "KIT/IEffect/IControl.h"
#include "src/ControlDisplay.h"
#include "src/PatchLibrarian.h"
#include "src/Vexmir.h"
#include "src/VexmirParams.h"

namespace {

void hide(ControlLayer* layer, bool h) {
  if (layer) layer->Hide(h);
}

void gray(ControlLayer* layer, bool g) {
  if (layer) layer->GrayOut(g);
}

void grayControl(IControl* c, bool g) {
  if (c) c->GrayOut(g);
}

// The child of a layer at a list position (not by id), or null.
ControlLayer* childAt(ControlLayer* layer, int position) {
  if (!layer || position < 0 || position >= layer->childLayers.GetSize()) return nullptr;
  return layer->childLayers.Get(position);
}

// Shows the child whose id is `id` and hides every other child.
void showOnlyChild(ControlLayer* layer, int id) {
  if (!layer) return;
  layer->setSelectedZone(id);
  for (int i = 0; i < layer->childLayers.GetSize(); ++i) {
    ControlLayer* child = layer->childLayers.Get(i);
    child->Hide(child->getId() != id);
  }
}

// The button shares its place on the program bar with the librarian's bank chooser, so it never shows on the
// librarian tab, whatever switched the timbre there.
void showReleaseAllLocks(Vexmir* plug, int timbre) {
  ControlLayer* layer = plug->editorLayers.releaseAllLocks;
  if (!layer) return;
  const bool librarian = plug->editorLayers.root && plug->editorLayers.root->getSelectedZone() == 1;
  const bool locked =
      (timbre == 0 && plug->timbre1LockActive) || (timbre == 1 && plug->timbre2LockActive) || plug->commonLockActive;
  layer->Hide(librarian || !locked);
}

int intParam(Vexmir* plug, int idx) {
  return Vexmir::toInt(plug->paramValue(idx));
}

std::string stepText(Vexmir* plug, int stepParam) {
  return TabSwitchFunctions::getValueString(intParam(plug, stepParam) - 64);
}

}  // namespace

std::string TabSwitchFunctions::getValueString(double value) {
  return ControlDisplay::getValueString(value);
}

void TabSwitchFunctions::refreshTimbre(Vexmir* plug, int tab, int t) {
  const Vexmir::EditorLayers& L = plug->editorLayers;
  if (tab == 2) {
    ControlLayer* s = L.mainOscLayer ? childAt(L.mainOscLayer, L.mainOscLayer->getSelectedZone()) : nullptr;
    if (s) {
      const int v = intParam(plug, kVoiceAssign + t);
      s->showMultiLayers(30);
      s->GrayOutCustomZone(false, 30);
      s->showMultiLayers(40);
      s->GrayOutCustomZone(true, 40);
      if (v == 2) s->GrayOutCustomZone(false, 40);
      if (v == 1) s->GrayOutCustomZone(true, 30);
      s->showMultiLayers(10 + intParam(plug, kLfo1TempoSync + t));
      s->showMultiLayers(20 + intParam(plug, kLfo2TempoSync + t));
      s->showMultiLayers(50);
      s->GrayOutCustomZone(plug->paramValue(kAmpGateSw + t) != 0.0, 50);
    }
    const bool knob = plug->paramValue(kDelayFxTempoSync) == 0.0;
    hide(L.delayKnob, !knob);
    hide(L.delayMenu, knob);
    if (s) s->showMultiLayers(intParam(plug, kOsc1Waveform + t) == 5 ? 61 : 60);
    return;
  }
  if (tab != 3) return;
  ControlLayer* q = L.modSequence ? childAt(L.modSequence, L.modSequence->getSelectedZone()) : nullptr;
  if (q) {
    q->showMultiLayers(10);
    q->showMultiLayers(20);
    q->showMultiLayers(30);
  }
  static const int knobs[3] = {kSeq1Knob, kSeq2Knob, kSeq3Knob};
  static const int firstSteps[3] = {kSeq1Step1, kSeq2Step1, kSeq3Step1};
  for (int n = 0; n < 3; ++n) {
    if (q) q->GrayOutCustomZone(plug->paramValue(knobs[n] + t) == 0.0, 10 * (n + 1));
    std::vector<std::string> texts(16);
    for (int k = 0; k < 16; ++k) texts[k] = stepText(plug, firstSteps[n] + 2 * k + t);
    // Each sequence's texts go to its own display operation.
    if (n == 0) plug->displaySequence1Values(texts);
    if (n == 1) plug->displaySequence2Values(texts);
    if (n == 2) plug->displaySequence3Values(texts);
  }
}

void TabSwitchFunctions::mainTabSwitch(Vexmir* plug, int, int tab, int, int timbre) {
  if (!plug) return;
  const Vexmir::EditorLayers& L = plug->editorLayers;
  if (L.root) showOnlyChild(L.root, tab);
  hide(L.miniMixer, tab == 0);
  hide(L.leftPatchMenu, true);
  hide(L.rightPatchMenu, true);
  hide(L.bankEditMenu, true);
  // The search chooser lies where the bank chooser does: it must not catch clicks on the other tabs either.
  hide(L.rightSearchMenu, true);
  grayControl(plug->firstControl(kRandomize), false);
  for (ControlLayer* l : {L.discardChangesRight, L.keepBankOpen, L.saveChanges, L.midiSettingsButton, L.delayKnob,
                          L.delayMenu, L.velocityLevel})
    hide(l, true);
  hide(L.timbreControl, false);
  for (int p : {kControlLibrary, kShowLibrarian, kGlobalSettings, kShowModSequence})
    grayControl(plug->firstControl(p), false);
  gray(L.splitPoint, true);
  hide(L.searchField, true);
  showReleaseAllLocks(plug, timbre);
  const double commonMode = plug->paramValue(kCommonMode);
  gray(L.timbreControl, commonMode == 0.0);
  if (commonMode == 1.0) gray(L.splitPoint, false);

  const int t = L.root ? L.root->getSelectedZone() : tab;
  if (t <= 0) return;
  if (ControlLayer* tabLayer = childAt(L.root, t)) showOnlyChild(tabLayer, timbre);
  if (t > 4) return;

  switch (t) {
    case 1: {
      // Locks belong to the sound pages; the librarian uses the program bar for its own choosers.
      hide(L.releaseAllLocks, true);
      gray(L.timbreControl, true);
      grayControl(plug->firstControl(kGlobalSettings), true);
      grayControl(plug->firstControl(kShowModSequence), true);
      hide(L.miniMixer, true);
      grayControl(plug->firstControl(kDataType), true);
      hide(L.bankEditMenu, false);
      hide(L.keepBankOpen, true);
      hide(L.saveChanges, false);
      const bool unsaved = plug->paramValue(kBankEditUnsaved) == 1.0;
      hide(unsaved ? L.discardChangesRight : L.keepBankOpen, false);
      // The selection the parameters keep (those of a recalled project, or the musician's own, which they follow).
      if (PatchLibrarian* librarian = plug->getLibrarian())
        librarian->selectSlot(0, static_cast<int>(plug->paramValue(kCurrentPatch)));
      plug->updatePatchLibrarianView(0);
      plug->OnParamChange(kCurrentBank);
      if (plug->paramValue(kBankEditUnsaved) == 0.0) hide(L.leftPatchMenu, false);
      if (plug->searchListShown) {
        hide(L.searchField, false);
        hide(L.rightSearchMenu, false);
      } else {
        hide(L.rightPatchMenu, false);
      }
      hide(L.progress, true);
      break;
    }
    case 2:
    case 3:
      refreshTimbre(plug, t, timbre);
      break;
    case 4:
      hide(L.midiSettingsButton, false);
      grayControl(plug->firstControl(kRandomize), true);
      hide(L.velocityLevel, false);
      gray(L.velocityLevel, plug->paramValue(kMasterVelocityArea) < 8.0);
      grayControl(plug->firstControl(kShowLibrarian), true);
      gray(L.timbreControl, true);
      grayControl(plug->firstControl(kShowModSequence), true);
      break;
    default:
      break;
  }
}

void TabSwitchFunctions::quickTabSwitch(Vexmir* plug, int, int timbre, int, bool) {
  if (!plug) return;
  const Vexmir::EditorLayers& L = plug->editorLayers;
  showReleaseAllLocks(plug, timbre);
  const int tab = L.root ? L.root->getSelectedZone() : 0;
  ControlLayer* tabLayer = tab > 0 ? childAt(L.root, tab) : nullptr;
  if (!tabLayer) return;
  showOnlyChild(tabLayer, timbre);
  plug->displayedTimbre = timbre;
  refreshTimbre(plug, tab, timbre);
  if (plug->changeFromHardware) return;
  IMidiMsg msg;
  msg.MakeControlChangeMsg(static_cast<EControlChangeMsg>(95), timbre == 0 ? 0.0 : 1.0, plug->globalChannel());
  if (plug->midiOutReady) plug->sendMidiMsgAndLog(&msg);
}

void TabSwitchFunctions::followChange(Vexmir* plug, int paramIdx) {
  if (!plug) return;
  const Vexmir::EditorLayers& L = plug->editorLayers;
  if (paramIdx >= kSectionLockOsc1 && paramIdx <= kSectionLockArp) {
    plug->updateSectionLockFlags();
    showReleaseAllLocks(plug, plug->displayedTimbre);
    return;
  }
  const int tab = L.root ? L.root->getSelectedZone() : 0;
  if (paramIdx == kCommonMode) {
    const double mode = plug->paramValue(kCommonMode);
    gray(L.timbreControl, mode == 0.0 || tab == 1 || tab == 4);
    gray(L.splitPoint, mode != 1.0);
    return;
  }
  if (tab == 4 && paramIdx == kMasterVelocityArea) {
    gray(L.velocityLevel, plug->paramValue(kMasterVelocityArea) < 8.0);
    return;
  }
  // Only the shown timbre's own settings (and the program's delay sync) decide what its tab shows.
  const int t = plug->displayedTimbre;
  auto shown = [&](int timbre1Param) { return paramIdx == timbre1Param + t; };
  if (tab == 2) {
    if (shown(kVoiceAssign) || shown(kLfo1TempoSync) || shown(kLfo2TempoSync) || shown(kAmpGateSw) ||
        shown(kOsc1Waveform) || paramIdx == kDelayFxTempoSync)
      refreshTimbre(plug, 2, t);
    return;
  }
  if (tab != 3) return;
  static const int knobs[3] = {kSeq1Knob, kSeq2Knob, kSeq3Knob};
  static const int firstSteps[3] = {kSeq1Step1, kSeq2Step1, kSeq3Step1};
  ControlLayer* q = L.modSequence ? childAt(L.modSequence, L.modSequence->getSelectedZone()) : nullptr;
  for (int n = 0; n < 3; ++n) {
    if (shown(knobs[n])) {
      if (q) q->GrayOutCustomZone(plug->paramValue(paramIdx) == 0.0, 10 * (n + 1));
      return;
    }
    const int k = paramIdx - t - firstSteps[n];
    if (k >= 0 && k < 32 && k % 2 == 0) {
      plug->displaySequenceValue(n, k / 2, stepText(plug, paramIdx));
      return;
    }
  }
}
