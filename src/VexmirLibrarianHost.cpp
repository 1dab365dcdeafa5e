#include "src/VexmirLibrarianHost.h"

#include <string>

#include "KIT/IEffect/ControlLayer.h"
#include "KIT/IEffect/IGraphics.h"
#include "src/LibrarianEditor.h"
#include "src/MIDIMessageManager.h"
#include "src/MIDIMessageSender.h"
#include "src/PatchLibrarian.h"
#include "src/Vexmir.h"

namespace {

ControlLayer* findLayer(ControlLayer* layer, const std::string& name) {
  if (!layer) return nullptr;
  if (layer->getName() == name) return layer;
  for (int i = 0; i < layer->childLayers.GetSize(); ++i)
    if (ControlLayer* found = findLayer(layer->childLayers.Get(i), name)) return found;
  return nullptr;
}

}  // namespace

ControlLayer* VexmirLibrarianHost::librarianLayer(const std::string& name) {
  IGraphics* graphics = plugin_ ? plugin_->GetGUI() : nullptr;
  if (!graphics) return nullptr;
  for (int i = 0; i < graphics->NLayers(); ++i)
    if (ControlLayer* found = findLayer(graphics->GetLayer(i), name)) return found;
  return nullptr;
}

bool VexmirLibrarianHost::midiOutputChosen() {
  return plugin_ && plugin_->outputUsable();
}

bool VexmirLibrarianHost::jobCanStart() {
  if (!plugin_ || !plugin_->outputUsable()) return false;
  // A job still running drops the request: say so rather than report a send that never happens.
  MIDIMessageManager* hub = plugin_->getMidiManager();
  return hub && !hub->isWorkerBusy(MidiWorker::kJobThread);
}

bool VexmirLibrarianHost::portsChosen(bool answer) {
  const std::string missing = plugin_ ? plugin_->missingPortsText(answer) : std::string();
  if (!missing.empty()) showMessage(missing);
  return plugin_ && missing.empty();
}

bool VexmirLibrarianHost::notStarted(const std::string& what, bool oneProgram) {
  // Without an output nothing can go: the musician reads what to choose first.
  if (!portsChosen(false)) return false;
  MIDIMessageManager* hub = plugin_ ? plugin_->getMidiManager() : nullptr;
  if (hub && hub->ignoredDuringJob(what)) return false;
  // The part lock keeps the librarian's programs off the timbre shown.
  if (oneProgram && plugin_ && plugin_->paramValue(kPartLock + (plugin_->displayedTimbre ? 1 : 0)) == 1.0)
    showMessage(what + " not sent: Part Lock is on");
  return false;
}

bool VexmirLibrarianHost::sendProgram(int side, int slot, const LibrarianPatch&) {
  if (jobCanStart()) {
    // The plug-in reads the program from the bank the side shows: its search flag must say which list.
    plugin_->searchListShown = editor_ && editor_->lowerListShowsSearch;
    plugin_->singleProgramFlag = false;
    if (plugin_->sendPatchToDeviceFromLibrarian(slot, side)) return true;
  }
  return notStarted("Audition of slot " + std::to_string(slot + 1), true);
}

// The Store commands go through the plug-in's own, which take the side and slot from the librarian's selection:
// the slot stored becomes the highlighted one.
bool VexmirLibrarianHost::storeProgram(int side, int slot, const LibrarianPatch&) {
  if (jobCanStart()) {
    plugin_->searchListShown = editor_ && editor_->lowerListShowsSearch;
    plugin_->selectLibrarianSlot(side, slot);
    if (plugin_->SendSingleProgramFromLibrarian(true)) return true;
  }
  return notStarted("Store to program " + std::to_string(slot + 1), true);
}

bool VexmirLibrarianHost::storeBank(int side, const PatchFile&) {
  if (jobCanStart()) {
    plugin_->selectLibrarianSlot(side, 0);
    if (plugin_->SendAllProgramsFromLibrarian()) return true;
  }
  return notStarted("Bank store");
}

bool VexmirLibrarianHost::startJob(int code, bool toEditor, bool temporary) {
  MIDIMessageManager* hub = plugin_ ? plugin_->getMidiManager() : nullptr;
  if (!hub) return false;
  SenderJob job;
  job.job = code;
  job.toEditor = toEditor;
  job.temporary = temporary;
  job.slot = plugin_->displayedTimbre;
  return hub->startJob(MidiWorker::kJobThread, job);
}

bool VexmirLibrarianHost::requestProgram(int slot, int targetSlot, bool toEditor) {
  MIDIMessageManager* hub = plugin_ ? plugin_->getMidiManager() : nullptr;
  if (!hub || !portsChosen(true)) return false;
  if (toEditor) return startJob(kJobPartRequest, true);
  if (targetSlot < 0) return false;
  // The answer is stored into the selected upper slot by the SysEx input; slot -1 asks for the edit
  // buffer ("temporary"), any other the program memory. A refused request selects nothing.
  if (hub->isWorkerBusy(MidiWorker::kJobThread)) return false;
  PatchLibrarian* lib = plugin_->getLibrarian();
  const int upper = lib ? lib->selectedSlot(0) : -1, lower = lib ? lib->selectedSlot(1) : -1;
  plugin_->selectLibrarianSlot(0, targetSlot);
  if (hub->sendSinglePatchRequestSysexFromLibrarian(slot < 0, slot < 0 ? targetSlot : slot)) return true;
  plugin_->selectLibrarianSlot(lower >= 0 ? 1 : 0, lower >= 0 ? lower : upper);
  return false;
}

bool VexmirLibrarianHost::requestAllPrograms() {
  MIDIMessageManager* hub = plugin_ ? plugin_->getMidiManager() : nullptr;
  return hub && portsChosen(true) && startJob(kJobAllPatchRequest);
}

bool VexmirLibrarianHost::transferIntoOpenBank() {
  MIDIMessageManager* hub = plugin_ ? plugin_->getMidiManager() : nullptr;
  return hub && hub->jobWritesIntoLibrarian;
}

bool VexmirLibrarianHost::transferUsesBanks() {
  MIDIMessageManager* hub = plugin_ ? plugin_->getMidiManager() : nullptr;
  return hub && (hub->jobWritesIntoLibrarian || hub->jobSendsLibrarian);
}

bool VexmirLibrarianHost::syncCurrentFromHardware() {
  return portsChosen(true) && startJob(kJobActiveArrangementRequest, true);
}

bool VexmirLibrarianHost::pushCurrentToHardware() {
  return plugin_ && plugin_->outputUsable() && startJob(kJobSendArrangement);
}

bool VexmirLibrarianHost::initializeCurrentProgram() {
  return startJob(kJobInitClassicPatch);
}

void VexmirLibrarianHost::searchModeChanged(bool on) {
  if (plugin_) plugin_->searchListShown = on;
}

void VexmirLibrarianHost::showMessage(const std::string& text) {
  lastMessage_ = text;
  if (plugin_) plugin_->displayOutcome(text);
}

void VexmirLibrarianHost::showHint(const std::string& text) {
  if (plugin_) plugin_->displayOutcome(lastMessage_, text);
}

void VexmirLibrarianHost::clearMessage() {
  if (plugin_) plugin_->endOutcome();
}

void VexmirLibrarianHost::endRefusal() {
  if (plugin_) plugin_->endRefusal();
}

void VexmirLibrarianHost::log(const std::string& line) {
  if (plugin_) plugin_->log(line);
}
