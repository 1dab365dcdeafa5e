// Placeholder bodies of the transfer jobs: each returns at once. The dump requests, program and bank sends
// and the MIDI clock replace them.
#include "src/MIDIMessageSender.h"

void MIDIMessageSender::sendArrangementToDevice(bool) {}
void MIDIMessageSender::sendGlobalToDevice() {}
void MIDIMessageSender::sendPatchToDeviceFromLibrarian(const LibrarianPatch&, int, int) {}
void MIDIMessageSender::storeAllPatchesToDeviceFromLibrarian(int, int) {}
void MIDIMessageSender::sendActiveArrangementRequestSysex(bool) {}
void MIDIMessageSender::sendPartRequestSysex(bool) {}
void MIDIMessageSender::sendSinglePatchRequestSysex(bool) {}
void MIDIMessageSender::sendAllPatchRequestSysex() {}
void MIDIMessageSender::initClassicPatch(bool) {}
void MIDIMessageSender::sendDeviceIdEnquiry() {}
void MIDIMessageSender::startMIDIClockOutput() {}
void MIDIMessageSender::sendContinuousMIDIClock(int) {}
void MIDIMessageSender::stopMIDIClockOutput() {}
