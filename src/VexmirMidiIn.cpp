// MIDI into the editor object: short messages and SysEx from the synthesizer (MIDI input thread) and from the
// host (a host thread), filtered here and handed to the hub.
#include "KIT/IEffect/ControlLayer.h"
#include "KIT/IEffect/IGraphics.h"
#include "src/MIDIMessageManager.h"
#include "src/Vexmir.h"

void Vexmir::ProcessMidiMsg(IMidiMsg* msg, bool fromDevice) {
  MIDIMessageManager* hub = midiManager.get();
  if (!msg || !hub) return;
  // The synthesizer switched its program, whether or not the editor follows the change.
  if (fromDevice && msg->StatusMsg() == IMidiMsg::kProgramChange && !(msg->mData1 & 0x80)) hub->synthSwitchedProgram();
  if (deviceBusy || dumpSendRunning || hub->isWaiting()) return;
  if (fromDevice && masterKeyboardFlag) return;
  if (msg->StatusMsg() == IMidiMsg::kNone) return;
  // A data byte with bit 7 set is a status byte of a message cut short (or a host's bad event): never a value, and
  // never passed on to the synthesizer.
  if ((msg->mData1 | msg->mData2) & 0x80) return;
  if (fromDevice) {
    hub->ProcessMidiMsgFromDevice(msg);
  } else {
    const int t = timbreOfChannel(msg->Channel());
    hub->ProcessMidiMsgFromDAW(msg, t < 0 ? 0 : t);
  }
}

void Vexmir::ProcessSysEx(ISysEx* msg, bool fromDevice) {
  MIDIMessageManager* hub = midiManager.get();
  if (!msg || !msg->mData || msg->mSize <= 0 || !hub) return;
  if (deviceBusy || dumpSendRunning) return;
  if (fromDevice ? deviceFilter[kFilterSysEx] : hostFilter[kFilterSysEx]) return;
  const uint8_t* d = msg->mData;
  const int n = msg->mSize;
  if (GetGUI() && trackIncomingMidi && n >= 9 && n <= 24 && (d[2] & 0xF0) == 0x30 && d[3] == 0x58)
    lightMidiLed(d[6] == 0 ? 0 : 1);
  hub->ProcessSysEx(msg, fromDevice);
  if (editorLayers.root) editorLayers.root->setControlsDirty();
  if (hub->replyTaken) answerReceived = true;
}
