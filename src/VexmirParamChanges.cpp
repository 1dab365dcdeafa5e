// The parameter logic: the editor's reaction to an edit (OnParamChange) and to a value that came from the
// synthesizer (OnParamChange2), and the send step every synthesizer parameter goes through.
#include <algorithm>
#include <climits>
#include <cmath>
#include <mutex>
#include <string>
#include <vector>

#include "KIT/IEffect/ControlLayer.h"
#include "KIT/IEffect/IControl.h"
#include "KIT/IEffect/IControls.h"
#include "KIT/IEffect/IGraphics.h"
#include "src/ControlAction.h"
#include "src/ControlDisplay.h"
#include "src/LibrarianEditor.h"
#include "src/LibrarianViewControl.h"
#include "src/LinkManager.h"
#include "src/MIDIMessageManager.h"
#include "src/PatchLibrarian.h"
#include "src/PatchManager.h"
#include "src/PortMenu.h"
#include "src/StateChunk.h"
#include "src/TabSwitchFunctions.h"
#include "src/UIConfigManager.h"
#include "src/Vexmir.h"

namespace {
const char* const kSetMidiFirst = "Set MIDI I/O First!";

uint8_t dataByte(int v) {
  return static_cast<uint8_t>(std::clamp(v, 0, 127));
}
}  // namespace

int Vexmir::toInt(double v) {
  return IParam::WholeNumber(v);
}

void Vexmir::setParameterFromPlug(int idx, double value) {
  if (IGraphics* g = GetGUI())
    g->SetParameterFromPlug(idx, value, false);
  else
    storeParamValue(idx, value);
}

IControl* Vexmir::firstControl(int paramIdx) const {
  IParam* p = GetParam(paramIdx);
  ControlAction* a = p ? p->GetControlAction() : nullptr;
  if (a && !a->controls.empty()) return a->controls.front();
  return findFirstControl(paramIdx);
}

void Vexmir::cacheEditorObjects() {
  EditorLayers& L = editorLayers;
  L.root = namedLayer("root");
  L.miniMixer = namedLayer("miniMixer");
  L.timbreControl = namedLayer("timbreControlLayer");
  L.splitPoint = namedLayer("splitPointLayer");
  L.discardChangesRight = namedLayer("discardChangesLayerRight");
  L.keepBankOpen = namedLayer("keepBankOpenLayer");
  L.saveChanges = namedLayer("saveChangesLayer");
  L.searchField = namedLayer("searchField");
  L.midiSettingsButton = namedLayer("midiSettingsButton");
  L.velocityLevel = namedLayer("velocityLevelLayer");
  L.delayKnob = namedLayer("delayKnobLayer");
  L.delayMenu = namedLayer("delayMenuLayer");
  L.releaseAllLocks = namedLayer("releaseAllLocksLayer");
  L.mainOscLayer = namedLayer("mainOscLayer");
  L.modSequence = namedLayer("modSequence");
  L.leftPatchMenu = namedLayer("LeftPatchPopupMenu");
  L.rightPatchMenu = namedLayer("RightPatchPopupMenu");
  L.bankEditMenu = namedLayer("BANKEDITMENU");
  L.rightSearchMenu = namedLayer("RightSearchPopupMenu");
  L.progress = namedLayer("PROGRESS");
  cacheDisplayControls();
  static const int firstSteps[3] = {kModSeq1Value01, kModSeq2Value01, kModSeq3Value01};
  for (int n = 0; n < 3; ++n) {
    sequenceTexts[n].assign(16, nullptr);
    for (int k = 0; k < 16; ++k) sequenceTexts[n][k] = dynamic_cast<ITextControl*>(firstControl(firstSteps[n] + k));
  }
}

void Vexmir::displaySequenceValues(int sequence, const std::vector<std::string>& texts) {
  for (size_t k = 0; k < texts.size(); ++k) displaySequenceValue(sequence, static_cast<int>(k), texts[k]);
}

void Vexmir::displaySequenceValue(int sequence, int step, const std::string& text) {
  if (sequence < 0 || sequence > 2 || step < 0) return;
  const std::vector<ITextControl*>& controls = sequenceTexts[sequence];
  if (static_cast<size_t>(step) < controls.size() && controls[static_cast<size_t>(step)])
    controls[static_cast<size_t>(step)]->SetTextFromPlug(text.c_str());
}

// ---------------------------------------------------------------------------------------------
// The send step

namespace {

// The exact values the synthesizer uses for the stepped CC parameters (the input maps undo these by range).
int mapCCValue(int paramIdx, double value, int v) {
  auto is = [&](int timbre1Idx) { return paramIdx == timbre1Idx || paramIdx == timbre1Idx + 1; };
  auto exactly = [&](std::initializer_list<int> steps) {
    int i = 0;
    for (int s : steps) {
      if (value == i) return s;
      ++i;
    }
    return v;
  };
  if (is(kOsc1Waveform)) return exactly({0, 18, 36, 54, 72, 90, 108, 126});
  if (is(kOsc2Waveform)) return exactly({0, 64, 127});
  if (is(kOsc2OscMod) || is(kFilterType) || is(kLfo1Waveform) || is(kLfo2Waveform)) return exactly({0, 43, 85, 127});
  if (is(kOsc1DWGSWave)) return 2 * v;
  return v;
}

int mapNRPNValue(ControlAction* a, int paramIdx, double value, int v) {
  const int plain = v + (a->valueOffset > 0 ? a->valueOffset : 0);
  if (paramIdx == kArpOnOff || paramIdx == kArpLatch) {
    // The synthesizer sends 0 and 127 and reads 64 and above as on.
    return value == 0.0 ? 0 : 127;
  }
  if (paramIdx == kArpType) {
    static const int types[] = {0, 26, 51, 77, 102, 127};
    return v >= 1 && v <= 5 ? types[v] : plain;
  }
  if (paramIdx >= kVPatchSrc1 && paramIdx <= kVPatchDest4T2) {
    static const int steps[] = {0, 18, 36, 54, 72, 90, 108, 126};
    return v >= 1 && v <= 7 ? steps[v] : plain;
  }
  if (paramIdx == kArpGate) return arpGateData(v);
  return plain;
}

}  // namespace

void Vexmir::processControlAction(ControlAction* action, int paramIdx, double value) {
  if (!action) return;
  const int v = toInt(value);
  if (action->lastValue == static_cast<double>(v)) return;
  if (!midiOutReady) {
    // Only a binding that would send something asks for a port: tabs and other editor switches just work.
    const bool sends = action->type == ControlAction::kCCOnTimbreChannel || action->type == ControlAction::kCCOffOn ||
                       action->type == ControlAction::kNRPN || action->type == ControlAction::kSysExPerValue ||
                       action->type == ControlAction::kSysExMessages;
    if (sends && paramIdx != kDeviceOutSelection && paramIdx != kDeviceInSelection && paramIdx != kGlobalMidiChannel)
      displayStatus(noOutputText().c_str());
    return;
  }
  if (!editorReady) return;
  action->lastValue = static_cast<double>(v);

  IParam* param = GetParam(paramIdx);
  const std::vector<IControl*> controls = action->controls;
  for (IControl* c : controls) {
    if (linkInProgress) storeParamValue(paramIdx, value);
    if (param) c->SetValueFromPlug(param->GetNormalized());
  }

  MIDIMessageManager* hub = midiManager.get();
  // A received value is never sent back; one moved for a received message goes back only when the synthesizer's
  // local control is off, or when it came from the host.
  auto gate = [&]() {
    if (changeFromHardware) return false;
    if (!hub) return true;
    return !hub->incomingUpdate || !localControlFlag || hub->fromHost;
  };
  auto sendCC = [&](int cc, int data, int channel) {
    IMidiMsg msg(0, static_cast<uint8_t>(0xB0 | (channel & 0x0F)), dataByte(cc), dataByte(data));
    if (gate()) MIDIOutRoutingSwitch(&msg);
  };
  const int timbre = action->timbre == 1 ? 1 : 0;

  switch (action->type) {
    case ControlAction::kCCOnTimbreChannel: {
      int channel = timbreChannel(timbre);
      // The effect CCs stay on the global channel, as the synthesizer keeps them there.
      if (paramIdx == kModFxSpeed || paramIdx == kModFxDepth || paramIdx == kDelayFxTime || paramIdx == kDelayFxDepth)
        channel = globalChannel();
      const int data = mapCCValue(paramIdx, value, v);
      displayCC("CC|" + std::to_string(action->ccNumber));
      sendCC(action->ccNumber, data, channel);
      break;
    }
    case ControlAction::kCCOffOn: {
      const int data = value == 0.0 ? action->offValue : action->onValue;
      displayCC("CC|" + std::to_string(action->ccNumber));
      sendCC(action->ccNumber, data, timbreChannel(timbre));
      break;
    }
    case ControlAction::kNRPN: {
      const bool global =
          paramIdx == kArpGate || paramIdx == kArpOnOff || paramIdx == kArpLatch || paramIdx == kArpType;
      const int channel = global ? globalChannel() : timbreChannel(timbre);
      const int data = mapNRPNValue(action, paramIdx, value, v);
      sendCC(99, action->nrpnMsb, channel);
      sendCC(98, action->nrpnLsb, channel);
      displayCC("MSB/LSB");
      sendCC(action->ccNumber, data, channel);
      break;
    }
    case ControlAction::kSysExPerValue:
    case ControlAction::kSysExMessages: {
      if (!editModeOn && !changeFromHardware) SendPatchEditOnCommand();
      const ControlActionSysExMessage& sx = action->sysex;
      std::vector<const std::vector<int>*> lists;
      if (action->type == ControlAction::kSysExMessages && sx.hasMultiMessages) {
        if (v >= 0 && static_cast<size_t>(v) < sx.multiMessages.size())
          for (const std::vector<int>& m : sx.multiMessages[static_cast<size_t>(v)]) lists.push_back(&m);
      } else if (v >= 0 && static_cast<size_t>(v) < sx.messages.size()) {
        lists.push_back(&sx.messages[static_cast<size_t>(v)]);
      }
      for (const std::vector<int>* list : lists) {
        if (list->size() < 2) continue;
        std::vector<unsigned char> bytes(list->size());
        for (size_t i = 0; i < list->size(); ++i) bytes[i] = static_cast<unsigned char>((*list)[i] & 0x7F);
        bytes[1] = static_cast<unsigned char>(deviceId & 0x7F);
        if (action->type == ControlAction::kSysExMessages && !sx.hasMultiMessages && bytes.size() >= 8 &&
            bytes[3] == 0x41 && (bytes[4] == 0x43 || bytes[4] == 0x53) && bytes[5] <= 1 && bytes[6] == 0x10) {
          bytes[6] = 0x7F;
          bytes[7] = 0x7F;
        }
        displayCC("SysEx");
        if (!gate()) continue;
        if (paramValue(kDeviceOutSelection) == 0.0) {
          displayStatus(noOutputText().c_str());
          continue;
        }
        SendMidiSysex(bytes.data(), static_cast<int>(bytes.size()));
      }
      break;
    }
    default:
      break;
  }
}

// ---------------------------------------------------------------------------------------------
// The change handlers

// The multi-layer switch, the timbre link and the send step of a parameter with a binding.
void Vexmir::applyCommonTail(ControlAction* action, int paramIdx, double value, int v) {
  if (!action) return;
  if (ControlLayer* multi = action->multiLayer) {
    multi->setSelectedZone(v);
    for (int i = 0; i < multi->childLayers.GetSize(); ++i) {
      ControlLayer* child = multi->childLayers.Get(i);
      child->Hide(child->getId() != v);
    }
  }
  if (linkInProgress) return;
  if (paramValue(kLayerLinker) == 1.0) LinkManager::controlLinker(this, action->linkInfo, paramIdx, v, value);
  processControlAction(action, paramIdx, value);
}

std::string Vexmir::missingPortsText(bool answer) {
  const bool out = outputUsable();
  const bool in = !answer || inputUsable();
  if (out && in) return std::string();
  if (out) return std::string(kSetMidiFirst) + " Choose MIDI IN";
  return std::string(kSetMidiFirst) + (in ? " Choose MIDI OUT" : " Choose MIDI IN and OUT");
}

// A name typed in the top bar keeps what the synthesizer can show of it, as the librarian's rename does; the
// musician reads the name it became when that changed it.
std::string Vexmir::takeTypedProgramName() {
  bool changed = false;
  const std::string shown = showableName(programName(), &changed);
  if (changed) {
    if (IParam* p = GetParam(kPatchName)) p->SetDisplayText(0, shown.c_str());
    if (IControl* c = firstControl(kPatchName)) c->SetDirty(false);
    typedNameNote = keptNameNote(shown);
    typedNameKept = shown;
  } else if (shown != typedNameKept) {
    typedNameNote.clear();
  }
  // The entry reports its text more than once: the note stays for the name it was about.
  return typedNameNote;
}

void Vexmir::startRequestJob(int job, bool toEditor, int leadPauseMs, int programChange) {
  if (!midiManager || !missingPortsText(true).empty()) return;
  SenderJob j;
  j.job = job;
  j.toEditor = toEditor;
  j.leadPauseMs = leadPauseMs;
  if (programChange >= 0) {
    j.programChange = programChange;
    j.pauseAfterProgramChangeMs = getTimerValue() / 2;
  }
  // The job sets its waiting flag as it starts: a dropped request leaves nothing waiting.
  midiManager->startJob(MidiWorker::kJobThread, j);
}

// Opening a port waits for the MIDI server (and, on JACK, for the connection to go live): that is done on the relay's
// thread, without the plug-in mutex, so that neither the thread that chose the port nor any host call waits for it.
void Vexmir::openPortFromParam(int paramIdx) {
  portChoiceRequested[paramIdx == kDeviceOutSelection] = true;
  GetHostCallRelay().requestDeferredWork();
}

// Connecting asks the synthesizer for its global data: it starts once both ports are open, whichever was chosen
// last, since without the input no answer can come.
void Vexmir::openChosenPort(int paramIdx) {
  const bool out = paramIdx == kDeviceOutSelection;
  // The port chosen, by the list the menu showed: kept by its name where no server answers. Read under the plug-in's
  // lock: the editor rewrites the menu's texts as it opens (this may run on the relay's thread).
  std::string wanted;
  double wantedNormalized = 0.0;
  {
    KIT_MutexLock lock(mMutex);
    wanted = chosenPortName(out);
    wantedNormalized = GetParam(paramIdx) ? GetParam(paramIdx)->GetNormalized() : 0.0;
  }
  // Nothing can be opened on a JACK server that went away: the menus are brought to the server that runs now (if
  // any) first, each choice kept by its name (the other port a server's end closed by the name the project kept),
  // and this one is carried out here.
  if (awaitingServer || midiServerGone()) {
    portChoiceRequested[out] = true;
    refreshPortMenus();
    portChoiceRequested[out] = false;
  }
  std::unique_lock<std::mutex> ports(portChangeLock);
  std::vector<std::string> names = out ? getExternalMIDIOutNames() : getExternalMIDIInNames();
  int index = std::clamp(toInt(paramValue(paramIdx)), 0, static_cast<int>(names.size()) - 1);
  const std::string listed = names.empty() ? std::string("OFF") : names[static_cast<size_t>(index)];
  const std::string name = namesPort(listed) ? listed : wanted;
  takeMidiLate();
  if (out) {
    midiOutReady = false;
    setExternalMIDIOut(index, name.c_str());
  } else {
    midiInReady = false;
    setExternalMIDIIn(index, name.c_str());
  }
  // The choice is kept by its name beside the other port the project names, to be opened once the server answers.
  const auto keepChoice = [&](void (Vexmir::*await)(const std::string&, const std::string&, double, double)) {
    KIT_MutexLock lock(mMutex);
    std::string kept[2];
    double normalized[2] = {projectPortNormalized(0), projectPortNormalized(1)};
    projectPortNames(&kept[0], &kept[1]);
    kept[out] = name;
    normalized[out] = wantedNormalized;
    (this->*await)(kept[0], kept[1], normalized[0], normalized[1]);
  };
  if (midiAnswerLate()) {
    // Not answered in time: the choice waits for the answer, and the relay opens it once it comes.
    ports.unlock();
    keepChoice(&Vexmir::awaitAnswerFor);
    return;
  }
  if (index == 0 && namesPort(name) && (midiServerEnded() || (names.size() <= 1 && midiSystemProblem()))) {
    // The server did not answer (or ended): the choice waits for one, as the ports a server's end closes.
    ports.unlock();
    keepChoice(&Vexmir::awaitServerFor);
    closePortsOfEndedServer(true);
    const char* problem = midiSystemProblem();
    tellPortNote(std::string(problem ? problem : "No MIDI system") + ", set to OFF: " + name);
    return;
  }
  KIT_MutexLock lock(mMutex);
  // A port that could not be opened shows OFF, in the menu of the ports there are.
  if (index != toInt(paramValue(paramIdx))) {
    setPortMenuTexts(GetParam(paramIdx), names);
    storeParamValue(paramIdx, index);
    if (IGraphics* g = GetGUI()) g->SetParameterFromPlug(paramIdx, index, false);
  }
  if (out) {
    midiOutReady = index > 0 && isExternalMIDIOutOpen();
    continuousClockStarted = false;  // the running clock ended while the output was reopened
    if (!midiOutReady && midiManager) midiManager->getSender()->resetContinuousClock(true);
  } else {
    midiInReady = index > 0 && isExternalMIDIInOpen();
  }
  if (const char* problem = names.size() <= 1 ? midiSystemProblem() : nullptr) {
    displayStatus(problem);
  } else if (midiOutReady && midiInReady) {
    sendSysExInitialization();
  } else if (index > 0 && (midiOutReady || midiInReady)) {
    displayStatus(midiOutReady ? "MIDI OUT set: choose MIDI IN to connect" : "MIDI IN set: choose MIDI OUT to connect");
  }
}

// While a port is being opened (which waits for the MIDI server) the menus show the lists as they are: the
// musician's click never waits for it.
void Vexmir::refreshPortMenus() {
  std::unique_lock<std::mutex> ports(portChangeLock, std::try_to_lock);
  if (!ports.owns_lock()) return;
  const std::vector<std::string> kept[2] = {getExternalMIDIInNames(), getExternalMIDIOutNames()};
  const std::vector<std::string> fresh[2] = {rereadExternalMIDIInNames(), rereadExternalMIDIOutNames()};
  KIT_MutexLock lock(mMutex);
  // Ports a JACK server's end closed are chosen by the names the project kept (all but one the musician has just
  // chosen); while no MIDI system answers they keep waiting for it.
  std::string awaited[2];
  const bool awaiting = awaitingServer, noSystem = midiSystemProblem() != nullptr;
  if (awaiting) projectPortNames(&awaited[0], &awaited[1]);
  if (!noSystem) stopAwaitingServer();
  std::string gone;
  for (int out = 0; out < 2; ++out) {
    const int idx = out ? kDeviceOutSelection : kDeviceInSelection;
    IParam* param = GetParam(idx);
    if (!param || kept[out].empty()) continue;
    // The choice is kept by name: it may be one the relay's thread has yet to open.
    const std::string& chosen =
        awaiting && !portChoiceRequested[out]
            ? awaited[out]
            : kept[out][static_cast<size_t>(std::clamp(param->Int(), 0, (int)kept[out].size() - 1))];
    const auto at = std::find(fresh[out].begin(), fresh[out].end(), chosen);
    const int now = at == fresh[out].end() ? 0 : static_cast<int>(at - fresh[out].begin());
    setPortMenuTexts(param, fresh[out]);
    setParameterFromPlug(idx, now);
    // Listed but not open (its MIDI server went away and came back): opened again by its name.
    if (now > 0 && now != (out ? getSelectedMIDIOut() : getSelectedMIDIIn()) && !portChoiceRequested[out])
      openPortFromParam(idx);
    if (now > 0 || chosen == "OFF" || (awaiting && noSystem)) continue;
    gone += std::string(gone.empty() ? "" : ", ") + (out ? "MIDI OUT " : "MIDI IN ") + chosen;
    if (out) {
      midiOutReady = false;
      continuousClockStarted = false;
      if (midiManager) midiManager->getSender()->resetContinuousClock(true);
    } else {
      midiInReady = false;
    }
  }
  if (!gone.empty()) displayStatus(("Port gone: " + gone).c_str());
}

void Vexmir::OnParamChange(int paramIdx) {
  KIT_MutexLock lock(mMutex);
  IParam* param = GetParam(paramIdx);
  if (!param) return;
  const double value = param->Value();
  const int v = toInt(value);
  ControlAction* action = param->GetControlAction();
  // What the musician must read after the control's own name and value: a port still missing, a name changed.
  std::string note;
  bool refusal = false;  // the note is a refused store's
  // The display keeps what the press and its job said: the store button's release adds no "off" over it.
  bool keepShown = false;

  if (paramIdx >= kMIDIFilterDAWCCPassThrough && paramIdx <= kMIDIFilterHWSEPassThrough) {
    const int kind = (paramIdx - kMIDIFilterDAWCCPassThrough) % kNumFilterKinds;
    (paramIdx <= kMIDIFilterDAWSEPassThrough ? hostFilter : deviceFilter)[kind] = value != 1.0;
  }

  // The librarian's parameters: bank lists, next and previous bank, rescan, data type, search, discard, rename.
  if (librarianEditor && librarianEditor->onParamChange(paramIdx)) return;

  switch (paramIdx) {
    case kGlobalMidiChannel:
      deviceId = 0x30 + std::clamp(v, 0, 15);
      break;
    case kGlobalLocalControl:
      localControlFlag = value == 1.0;
      break;
    case kMasterKeyboard:
      masterKeyboardFlag = value == 1.0;
      displayStatus(masterKeyboardFlag ? "UI updates only when on plug-in channel"
                                       : "UI updates on every controller movement");
      break;
    case kMIDIFilterTrackIncomingMIDI:
      trackIncomingMidi = value == 1.0;
      break;
    case kMIDIFilterToDAWBuffer:
      midiOutViaAudioQueue = value == 1.0;
      queueStepsPerBlock = GetBlockSize() > 0 ? GetBlockSize() : 1;
      showMidiOutDelay();
      break;
    case kSendMIDIClockPointer:
      sendClockStartStop = value == 1.0;
      break;
    case kSendMIDIClockInfo:
      sendClockTicks = value == 1.0;
      if (midiManager) midiManager->getSender()->resetContinuousClock(value != 1.0);
      continuousClockStarted = false;
      break;
    case kDeviceOutSelection:
    case kDeviceInSelection:
      openPortFromParam(paramIdx);
      break;
    case kReadFromTimbre1:
    case kReadFromTimbre2:
    case kLoadToTimbre1:
    case kLoadToTimbre2:
      // Each pair is one choice: pressing one releases the other.
      if (v == 1) setParameterFromPlug((paramIdx - kReadFromTimbre1) % 2 == 0 ? paramIdx + 1 : paramIdx - 1, 0.0);
      break;
    case kOverwriteBank: {
      // The editor's program into the selected slot of the open bank, as if the synthesizer had sent it. Where it
      // cannot start the musician reads why, on the press and again on the release.
      const int slot = librarian ? librarian->selectedSlot(0) : -1;
      keepShown = v != 1;
      // The press is the musician's next action: what the librarian's line said of the last one goes.
      if (v == 1 && librarianEditor) librarianEditor->clearMessage();
      if (!midiManager || !librarian) break;
      if (v == 1 && !librarian->openBank(0, false)) {
        refusedButton = "Program not stored: no bank is open";
      } else if (v == 1 && slot < 0) {
        refusedButton = "Program not stored: no slot is highlighted";
      } else if (v == 1 && midiManager->isWorkerBusy(MidiWorker::kJobThread)) {
        refusedButton = MIDIMessageManager::ignoredText("Store into slot " + std::to_string(slot + 1));
      } else if (v == 1 && librarianEditor &&
                 !librarianEditor->slotsWritable(slot, slot + 1, "Program not stored",
                                                 "Store it again to replace it.")) {
        // The slot's program changed on disk since the list showed it: the line says so, and the button too.
        refusedButton = librarianEditor->lastMessage();
      } else if (v == 1) {
        refusedButton.clear();
        sendGlobalWithProgram = false;
        SenderJob j;
        j.job = kJobSendArrangement;
        j.arrangementFlag = true;
        midiManager->startJob(MidiWorker::kJobThread, j);
      }
      note = refusedButton;
      refusal = !note.empty();
      if (v != 1) refusedButton.clear();
      break;
    }
    case kReserved518:  // "Cancel Data Request"
      if (v == 1 && midiManager) midiManager->getSender()->cancel = true;
      break;
    case kRequestTempData:
      if (v != 0) startRequestJob(kJobActiveArrangementRequest, true);
      note = missingPortsText(true);
      break;
    case kRandomize:
      randomizeProgram();
      break;
    case kPatchUp:
    case kPatchDown: {
      note = missingPortsText(true);
      const int program =
          patchManager ? (patchManager->recalledProgram + (paramIdx == kPatchUp ? 1 : -1) + 128) % 128 : 0;
      // While a job runs the buttons are not followed, as a program change from outside is not: the synthesizer
      // keeps the program the job switched it to, and a store keeps its flag. The text follows the button's own
      // name on its press and on its release.
      const bool jobRuns = midiManager && midiManager->isWorkerBusy(MidiWorker::kJobThread);
      if (v != 0)
        refusedButton = jobRuns ? MIDIMessageManager::ignoredText("Program change " + std::to_string(program + 1)) : "";
      if (!refusedButton.empty()) {
        note = refusedButton;
        if (v == 0) refusedButton.clear();
        break;
      }
      if (jobRuns) break;
      singleProgramFlag = false;
      if (v == 0 || !patchManager) break;
      patchManager->recalledProgram = program;
      if (midiOutReady) {
        SendProgramChangeCommand(program, displayedTimbre);
        startRequestJob(kJobPartRequest, true, getTimerValue() / 2);
      } else {
        // The ports wait for their server: the job opens them first, then changes the program.
        startRequestJob(kJobPartRequest, true, 0, program);
      }
      break;
    }
    case kPushArrangement:
    case kPatchName:
      note = paramIdx == kPushArrangement ? missingPortsText(false) : takeTypedProgramName();
      if ((paramIdx == kPatchName || v != 0) && midiManager && outputUsable() &&
          !midiManager->isWorkerBusy(MidiWorker::kJobThread)) {
        SenderJob j;
        j.job = kJobSendArrangement;
        midiManager->startJob(MidiWorker::kJobThread, j);
      }
      break;
    case kFirstRunExit:
      // The notice goes at once; the file remembers that it was seen (only when the file exists).
      if (v == 1) {
        setUISettingsLine(2, "yes");
        if (ControlLayer* notice = uiConfig ? uiConfig->getLayer("firstRunNotification") : nullptr) notice->Hide(true);
      }
      break;
    case kMainTab:
    case kShowModSequence:
    case kShowLibrarian:
    case kGlobalSettings: {
      int tab = v;
      if (paramIdx == kShowModSequence) tab = v != 0 ? 3 : 2;
      if (paramIdx == kShowLibrarian) tab = v != 0 ? 1 : (paramValue(kShowModSequence) == 1.0 ? 3 : 2);
      if (paramIdx == kGlobalSettings) tab = v != 0 ? 4 : (paramValue(kShowModSequence) == 1.0 ? 3 : 2);
      if (paramIdx != kMainTab) {
        setParameterFromPlug(kMainTab, tab);
      } else {
        // A tab set directly (a recalled project opens the timbre page): the tab buttons light for the page shown,
        // so that the next click on one of them switches as it shows. The sequence button keeps its page under the
        // librarian and the global settings.
        const int shown = toInt(paramValue(kMainTab));
        setParameterFromPlug(kShowLibrarian, shown == 1 ? 1 : 0);
        setParameterFromPlug(kGlobalSettings, shown == 4 ? 1 : 0);
        if (shown == 2 || shown == 3) setParameterFromPlug(kShowModSequence, shown == 3 ? 1 : 0);
      }
      TabSwitchFunctions::mainTabSwitch(this, kMainTab, toInt(paramValue(kMainTab)), 0, displayedTimbre);
      // The bank choosers are shown with the librarian tab only: none of them may catch a click elsewhere.
      if (librarianEditor) librarianEditor->librarianTabShown(toInt(paramValue(kMainTab)) == 1);
      if (paramIdx == kGlobalSettings && v == 0 && midiOutReady && midiManager) {
        // Leaving the global settings sends them to the synthesizer.
        if (editModeOn) SendPatchEditOffCommand();
        SenderJob j;
        j.job = kJobSendGlobal;
        midiManager->startJob(MidiWorker::kJobThread, j);
      }
      return;
    }
    case kQuickTab:
      displayedTimbre = std::clamp(v, 0, 1);
      TabSwitchFunctions::quickTabSwitch(this, kQuickTab, displayedTimbre, 0, true);
      applyCommonTail(action, paramIdx, value, v);
      OnParamChange2(kQuickTab);
      return;
    case kCommonMode:
      // A single-timbre program has no timbre 2 to show: the timbre tabs follow the voice mode chosen here as
      // they follow one received from the synthesizer.
      if (v == 0 && displayedTimbre != 0) {
        displayedTimbre = 0;
        setParameterFromPlug(kQuickTab, 0.0);
        TabSwitchFunctions::quickTabSwitch(this, kQuickTab, 0, 0, true);
      }
      break;
    default:
      break;
  }

  if (action) {
    if (!keepShown) ControlDisplay::controlDisplay(this, paramIdx, value, false);
    // A control that sends nothing leaves no message name behind from the control edited before it.
    if (action->type == ControlAction::kUnbound || action->type == ControlAction::kNone) displayCC("---");
    applyCommonTail(action, paramIdx, value, v);
  }
  if (refusal) {
    // Said as an outcome: the musician's next action on the librarian (a slot clicked, a bank opened) ends it.
    displayOutcome(note);
    refusalShown = true;
  } else if (!note.empty()) {
    displayStatus(note.c_str());
  }
  // After the control's own name and value: the display says when the new size or colour scheme applies.
  if (paramIdx == kUserInterfaceSize && v >= 0 && v <= 2)
    keepUISetting(1, v == 0 ? "small" : v == 1 ? "normal" : "large", "Size changes applied...");
  if (paramIdx == kUserInterfaceSkin && (v == 0 || v == 1))
    keepUISetting(0, v == 0 ? "normal" : "black", "Skin changes applied...");
  TabSwitchFunctions::followChange(this, paramIdx);
}

// Each flag says whether any lock of its group is on: the sections of timbre 1 (odd parameters from 353), of
// timbre 2 (even ones), or the common sections (chorus, delay, EQ, arpeggiator).
void Vexmir::updateSectionLockFlags() {
  bool timbre[2] = {false, false};
  for (int i = kSectionLockOsc1; i < kSectionLockFXChorus; ++i)
    if (paramValue(i) == 1.0) timbre[(i - kSectionLockOsc1) % 2] = true;
  bool common = false;
  for (int i = kSectionLockFXChorus; i <= kSectionLockArp; ++i)
    if (paramValue(i) == 1.0) common = true;
  timbre1LockActive = timbre[0];
  timbre2LockActive = timbre[1];
  commonLockActive = common;
}

void Vexmir::OnParamChange2(int paramIdx) {
  KIT_MutexLock lock(mMutex);
  IParam* param = GetParam(paramIdx);
  if (!param) return;
  changeFromHardware = true;
  const double value = param->Value();
  const int v = toInt(value);
  auto setPlug = [&](int idx, double x) { setParameterFromPlug(idx, x); };
  bool tail = true;

  if (paramIdx == kTimbreSelectTrigger) {
    if (v == 0) {
      tail = false;
    } else {
      double t = 1.0;
      if (toInt(paramValue(kQuickTab)) > 0) {
        setPlug(kLayerLinker, 0.0);
        t = 0.0;
      }
      storeParamValue(kQuickTab, t);
      OnParamChange2(kQuickTab);
      changeFromHardware = true;
      setPlug(kQuickTab, t);
    }
  } else if (paramIdx == kLayerLinker) {
    storeParamValue(kQuickTab, 0.0);
    OnParamChange2(kQuickTab);
    changeFromHardware = true;
    setPlug(kQuickTab, 0.0);
    setPlug(kTimbreLED, 2.0);
  }

  if (tail) {
    ControlDisplay::controlDisplay(this, paramIdx, value, false);
    if (paramIdx == kCommonMode) {
      if (v != 0) {
        if (editorLayers.timbreControl) editorLayers.timbreControl->GrayOut(false);
      } else {
        storeParamValue(kQuickTab, 0.0);
        if (editorLayers.timbreControl) editorLayers.timbreControl->GrayOut(true);
        OnParamChange2(kQuickTab);
        changeFromHardware = true;
      }
    } else if (paramIdx == kQuickTab) {
      TabSwitchFunctions::quickTabSwitch(this, kQuickTab, std::clamp(v, 0, 1), 0, false);
    }
    if (ControlAction* action = param->GetControlAction()) applyCommonTail(action, paramIdx, value, v);
    TabSwitchFunctions::followChange(this, paramIdx);
  }
  // A value from the synthesizer ends a wait that no job owns; a request's own wait (a timbre switch while it
  // runs) ends only with its dump or with the job.
  if (midiManager && !midiManager->isWorkerBusy(MidiWorker::kJobThread)) midiManager->dumpPending = false;
  changeFromHardware = false;
}
