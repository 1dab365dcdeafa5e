// Jobs 11 to 13: MIDI start and stop on the host transport's edges, and the running timing clock.
#include <vector>

#include "src/MIDIMessageSender.h"
#include "src/UIConfigManager.h"
#include "src/Vexmir.h"

namespace {
void sendRealTime(Vexmir* plug, uint8_t byte) {
  // A port closed since the job was started sends nothing.
  if (plug->midiOutReady) plug->SendMidiSysex2(std::vector<unsigned char>{byte});
}
}  // namespace

void MIDIMessageSender::startMIDIClockOutput() {
  if (plug && plug->sendClockStartStop) sendRealTime(plug, MIDIClock::kStart);
}

void MIDIMessageSender::stopMIDIClockOutput() {
  if (plug && plug->sendClockStartStop) sendRealTime(plug, MIDIClock::kStop);
}

void MIDIMessageSender::sendContinuousMIDIClock(int) {
  if (!plug || !plug->sendClockTicks) return;
  // The host's tempo is whatever the host says (NaN, zero, absurdly large): it is cut to an int safely and the
  // clock limits it. Otherwise the arpeggiator tempo is an index into the tempo list the knob shows.
  int tempo = 0;
  if (plug->paramValue(kOverrideTempo) == 1.0) {
    tempo = Vexmir::toInt(plug->GetTempo());
  } else if (UIConfigManager* config = plug->getUIConfig()) {
    tempo = MIDIClock::tempoFromList(config->getValueList("tempoValues"), Vexmir::toInt(plug->paramValue(kArpTempo)));
  }
  midiClock.run(
      tempo, [this] { return plug->midiOutReady.load() && !stopping(); },
      [this](uint8_t byte) { sendRealTime(plug, byte); });
}
