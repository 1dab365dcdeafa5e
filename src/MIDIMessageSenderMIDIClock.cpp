// Jobs 11 to 13: MIDI start and stop on the host transport's edges, and the running timing clock.
#include <vector>

#include "src/MIDIMessageSender.h"
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
  // The arpeggiator tempo index v stands for v + 20 BPM, as the program dump codes it and as the host
  // tempo is written into it.
  const int tempo = plug->paramValue(kOverrideTempo) == 1.0 ? static_cast<int>(plug->GetTempo())
                                                             : static_cast<int>(plug->paramValue(kArpTempo)) + 20;
  midiClock.run(
      tempo, [this] { return plug->midiOutReady.load() && !stopping(); },
      [this](uint8_t byte) { sendRealTime(plug, byte); });
}
