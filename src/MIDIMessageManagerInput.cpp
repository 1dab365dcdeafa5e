// Short MIDI messages from the synthesizer and from the host: controls follow control changes and NRPNs,
// program changes request the new program, CC 95 picks the displayed timbre, and messages are passed on.
#include <algorithm>
#include <string>

#include "KIT/IEffect/IControl.h"
#include "KIT/IEffect/IParam.h"
#include "KIT/shim/shim-sys.h"
#include "src/MIDIMessageManager.h"
#include "src/PatchLibrarian.h"
#include "src/PatchManager.h"
#include "src/Vexmir.h"

namespace {

constexpr int kTimbreSelectCC = 95;

// The step of a stepped parameter that a received data value stands for. The synthesizer sends fixed values
// (0, 18, 36 ...) but reads ranges, and a host or controller may send anything in between: each value maps
// to the nearest step, the arpeggiator type to the synthesizer's own receive ranges.
int nearestStep(int v, int steps) {
  const double width = 127.0 / (steps - 1);
  return std::clamp(static_cast<int>(v / width + 0.5), 0, steps - 1);
}

int arpTypeOf(int v) {
  static const int lowest[] = {0, 22, 43, 64, 86, 107};
  int t = 0;
  for (int i = 0; i < 6; ++i)
    if (v >= lowest[i]) t = i;
  return t;
}

bool eightStepNrpn(int msb, int lsb) {
  return msb == 4 && ((lsb >= 0 && lsb <= 3) || (lsb >= 8 && lsb <= 11));
}

}  // namespace

// The value a control is moved with for a received CC (nrpn false) or NRPN data entry. *eightStep tells
// whether the eight-step map applied (the timbre view is refreshed after it).
static int mapIncoming(bool nrpn, int cc, int msb, int lsb, int v, bool* eightStep) {
  *eightStep = false;
  if (nrpn) {
    if (eightStepNrpn(msb, lsb)) {
      *eightStep = true;
      return nearestStep(v, 8);
    }
    if (msb == 0 && (lsb == 2 || lsb == 4)) return v >= 64 ? 1 : 0;  // arpeggiator on/off, latch
    if (msb == 0 && lsb == 10) return arpGatePercent(v);
    if (lsb == 7 && msb != 4) return arpTypeOf(v);
    return v;
  }
  switch (cc) {
    case 77:
      *eightStep = true;
      return nearestStep(v, 8);
    case 78:
      return nearestStep(v, 3);
    case 82:
    case 83:
    case 87:
    case 88:
      return nearestStep(v, 4);
    default:
      return v;
  }
}

IControl* MIDIMessageManager::findCCControl(int channelKey, int cc, const int* timbreKeys, int nKeys) {
  for (int i = 0; i < nKeys; ++i)
    if (IControl* c = plug->getCCControls(channelKey, cc, timbreKeys[i])) return c;
  return nullptr;
}

// CC 95 while the program has two timbres: 0 and 1 (both timbres) show timbre 1, 2 and above timbre 2, as the
// synthesizer reads it. Applied as a received change, so nothing goes back.
static void timbreSelect(Vexmir* plug, int value) {
  plug->setParameterFromPlug(kLayerLinker, 0.0);
  const double t = value >= 2 ? 1.0 : 0.0;
  plug->storeParamValue(kQuickTab, t);
  plug->OnParamChange2(kQuickTab);
  plug->setParameterFromPlug(kQuickTab, t);
  plug->setParameterFromPlug(kTimbreLED, t);
}

void MIDIMessageManager::synthSwitchedProgram() {
  ++synthProgramChanges;
  // Both this change and the answer come on this thread in the synthesizer's order: an answer after it is not the
  // program the job switched to.
  if (switchedProgramAwaited) singleRequest.disarm();
}

bool MIDIMessageManager::programChange(int program, IMidiMsg* fromHostMsg) {
  program = std::clamp(program, 0, 127);
  // A job owns the synthesizer and the librarian's selection until it ends: a program change from outside would
  // move the slot that a fetch stores into, or switch the program that a fetch asks for or a store writes. It is
  // ignored, and the musician is told.
  if (ignoredDuringJob("Program change " + std::to_string(program + 1))) return false;
  const bool fromDevice = !fromHostMsg;
  const bool library = plug->paramValue(kControlLibrary) == 1.0;
  if (!fromDevice && !library) plug->SendProgramChangeCommand(program, 0);
  // The host's change goes on before the job that follows it starts: the job must find the synthesizer already
  // switched.
  if (!fromDevice) passOnFromHost(fromHostMsg);
  lastProgramChangeTime = plug->ticks();
  if (library) {
    gotData = true;
    if (patchManager) patchManager->recalledProgram = program;
    if (librarian) librarian->selectSlot(0, program);
    singleRequest.active = false;
    // The program of the upper slot it just selected: the open bank's.
    plug->sendPatchToDeviceFromLibrarian(program, 0, 200);
    return true;
  }
  singleRequest.active = false;
  // Without an input port no answer can come: the program change goes out and nothing waits for a program.
  if (plug->midiInReady) {
    // The editor waits for the new program only when its request really starts (the job sets the flag): a
    // request dropped by a busy job thread must not leave the editor deaf to the synthesizer.
    SenderJob job;
    job.job = kJobPartRequest;
    job.toEditor = true;
    // The synthesizer's time to switch programs is the job's (this is a MIDI input or host thread).
    if (!fromDevice) job.leadPauseMs = plug->getTimerValue() / 2;
    startJob(MidiWorker::kJobThread, job);
  }
  if (patchManager) patchManager->recalledProgram = program;
  if (librarian) librarian->selectSlot(0, program);
  return true;
}

void MIDIMessageManager::ProcessMidiMsgFromDevice(IMidiMsg* msg) {
  fromHost = false;
  const int channel = msg->Channel();
  bool echo = false;
  switch (msg->StatusMsg()) {
    case IMidiMsg::kNoteOff:
    case IMidiMsg::kNoteOn:
      if (plug->deviceFilter[Vexmir::kFilterNote]) return;
      echo = true;
      break;
    case IMidiMsg::kPolyAftertouch:
      if (plug->deviceFilter[Vexmir::kFilterPolyPressure]) return;
      echo = true;
      break;
    case IMidiMsg::kChannelAftertouch:
      if (plug->deviceFilter[Vexmir::kFilterChannelPressure]) return;
      echo = true;
      break;
    case IMidiMsg::kPitchWheel:
      if (plug->deviceFilter[Vexmir::kFilterPitchBend]) return;
      echo = true;
      break;
    case IMidiMsg::kProgramChange: {
      if (plug->deviceFilter[Vexmir::kFilterPC]) return;
      if (channel != plug->globalChannel()) {
        int t = plug->timbreOfChannel(channel);
        if (t < 0) t = 0;
        if (plug->paramValue(kPartLock + t) == 1.0) return;
      }
      programChange(msg->mData1, nullptr);
      return;
    }
    case IMidiMsg::kControlChange: {
      if (plug->deviceFilter[Vexmir::kFilterCC]) return;
      const int cc = msg->mData1, value = msg->mData2;
      if (cc == 98) {
        nrpnLsb = value;
        return;
      }
      if (cc == 99) {
        nrpnMsb = value;
        return;
      }
      if (cc != 6) {
        nrpnMsb = kNoNrpn;
        nrpnLsb = kNoNrpn;
      }
      if (cc == 0 && value == 0) {
        bankSelectPending = true;
        return;
      }
      if (cc == 32 && bankSelectPending && (value == 64 || value == 66 || value == 80 || value == 96)) {
        bankSelectPending = false;
        return;
      }
      const int ch1 = channel + 1;
      echo = true;
      const bool delaySynced = plug->paramValue(kDelayFxTempoSync) == 1.0;
      const bool lfo1Synced = plug->paramValue(kLfo1TempoSync) == 1.0;
      const bool lfo2Synced = plug->paramValue(kLfo2TempoSync) == 1.0;
      if (cc == 12 || cc == 93 || cc == 94 || (cc == 13 && !delaySynced)) {
        IControl* c = plug->getCCControls(0, cc, 0);
        if (!c) c = plug->getCCControls(ch1, cc, 0);
        if (!c) c = plug->getCCControls(ch1, cc, 1);
        MIDIMessageManager::moveControl(c, value, false);
      } else if ((cc == 13 && delaySynced) || (cc == 27 && lfo1Synced) || (cc == 76 && lfo2Synced)) {
        static const int bounds[] = {9, 18, 26, 35, 43, 52, 60, 69, 77, 86, 94, 103, 111, 120};
        int step = 0;
        for (int b : bounds)
          if (value >= b) ++step;
        const int p = cc == 13 ? 0x2A : cc == 27 ? 0x6A : 0x6F;
        MIDIMessageManager::moveControl(plug->getSysexControl(0x58, 0x41, p, 0, 0), step, false);
      } else if (cc == 86) {
        getLegacyCCparam(86, ch1, value == 0 ? 0 : 1, true, true);
      } else if (cc == kTimbreSelectCC && plug->paramValue(kCommonMode) > 0.0) {
        timbreSelect(plug, value);
        return;
      } else {
        const int msb = nrpnMsb, lsb = nrpnLsb;
        IControl* c = nullptr;
        bool nrpn = false;
        int v = value;
        if (msb == kNoNrpn && lsb == kNoNrpn) {
          static const int keys[] = {0, 1, 2};
          c = findCCControl(ch1, cc, keys, 3);
          static const int anyKeys[] = {0, 1};
          if (!c) c = findCCControl(0, cc, anyKeys, 2);
          // CC 15 is oscillator 1's control 2, or its DWGS wave (sent doubled) while the timbre plays one; the
          // DWGS knob is registered under the channel key of its timbre and sub-key 1.
          if (cc == 15 && (ch1 == 1 || ch1 == 2) && plug->paramValue(kOsc1Waveform + ch1 - 1) == 5.0) {
            c = plug->getCCControls(ch1, 15, 1);
            v = value / 2;
          }
        } else if (msb <= 127 && lsb <= 127) {
          nrpn = true;
          nrpnLsb = 0;
          c = plug->getMsbLsbControl(ch1, msb, 0, lsb, 0);
          if (!c) c = plug->getMsbLsbControl(ch1, msb, 0, lsb, 1);
          if (!c) c = plug->getMsbLsbControl(0, msb, 0, lsb, 0);
          if (!c) c = plug->getMsbLsbControl(0, msb, 0, lsb, 1);
        }
        if (c) {
          bool eightStep = false;
          const int mapped = mapIncoming(nrpn, cc, msb, lsb, v, &eightStep);
          MIDIMessageManager::moveControl(c, mapped, false);
          if (eightStep) plug->OnParamChange2(kQuickTab);
        }
      }
      break;
    }
    default:
      return;
  }
  if (plug->trackIncomingMidi) plug->lightMidiLed(plug->timbreOfChannel(channel));
  if (echo && !plug->localControlFlag) plug->MIDIOutRoutingSwitch(msg);
}

void MIDIMessageManager::ProcessMidiMsgFromDAW(IMidiMsg* msg, int timbre) {
  if (!plug->midiOutReady) return;
  fromHost = true;
  switch (msg->StatusMsg()) {
    case IMidiMsg::kNoteOff:
    case IMidiMsg::kNoteOn:
      if (plug->hostFilter[Vexmir::kFilterNote]) return;
      break;
    case IMidiMsg::kPolyAftertouch:
      if (plug->hostFilter[Vexmir::kFilterPolyPressure]) return;
      break;
    case IMidiMsg::kChannelAftertouch:
      if (plug->hostFilter[Vexmir::kFilterChannelPressure]) return;
      break;
    case IMidiMsg::kPitchWheel:
      if (plug->hostFilter[Vexmir::kFilterPitchBend]) return;
      break;
    case IMidiMsg::kControlChange: {
      if (plug->hostFilter[Vexmir::kFilterCC]) return;
      const int cc = msg->mData1, value = msg->mData2;
      // Bank selects are not followed: the synthesizer's programs are one bank of 128.
      if (cc == 0 || cc == 32) return;
      getLegacyCCparam(cc, msg->Channel() + 1, value, false, true);
      break;
    }
    case IMidiMsg::kProgramChange:
      if (plug->hostFilter[Vexmir::kFilterPC]) return;
      if (plug->paramValue(kPartLock + (timbre ? 1 : 0)) == 1.0) return;
      programChange(msg->mData1, msg);
      return;
    default:
      return;
  }
  passOnFromHost(msg);
}

void MIDIMessageManager::passOnFromHost(IMidiMsg* msg) {
  if (plug->trackIncomingMidi) plug->lightMidiLed(plug->timbreOfChannel(msg->Channel()));
  plug->MIDIOutRoutingSwitch(msg);
}

void MIDIMessageManager::getLegacyCCparam(int cc, int channel, int value, bool refreshTab, bool mapValues) {
  IControl* c = nullptr;
  bool nrpn = false;
  const int msb = nrpnMsb, lsb = nrpnLsb;
  if (cc == 6) {
    c = plug->getMsbLsbControl(channel, msb, 0, lsb, 0);
    nrpn = true;
  }
  if (cc == 15) {
    // A host CC 15 addresses the timbre on its channel; it is halved while that timbre's oscillator 1 plays a
    // DWGS wave, as the output doubles it.
    const int t = plug->timbreOfChannel(channel - 1);
    if (plug->paramValue(kOsc1Waveform + (t == 1 ? 1 : 0)) == 5.0) value /= 2;
  }
  if (cc == kTimbreSelectCC && plug->paramValue(kCommonMode) > 0.0) {
    timbreSelect(plug, value);
    return;
  }
  if (cc == 86) {
    value = std::min(value, 1);
    refreshTab = true;
  }
  if (cc != 6 && msb <= 127 && lsb <= 127) c = plug->getMsbLsbControl(channel, msb, 0, lsb, 1);
  if (!c) {
    static const int keys[] = {0, 1, 2};
    c = findCCControl(channel, cc, keys, 3);
    nrpn = nrpn && c == nullptr;
  }
  if (!c) return;
  incomingUpdate = false;
  bool eightStep = false;
  if (!mapValues) {
    MIDIMessageManager::moveControl(c, value, false);
  } else {
    incomingUpdate = true;
    if (c->ParamIdx() == kGlobalLocalControl) {
      plug->localControlFlag = value != 0;
      MIDIMessageManager::moveControl(c, value, false);
    } else {
      MIDIMessageManager::moveControl(c, mapIncoming(nrpn, cc, msb, lsb, value, &eightStep), false);
    }
  }
  if (refreshTab) plug->OnParamChange2(kQuickTab);
  incomingUpdate = false;
}
