// Job 1: the editor's global settings sent to the synthesizer as a global dump.
#include <vector>

#include "src/GlobalDump.h"
#include "src/MIDIMessageManager.h"
#include "src/MIDIMessageSender.h"
#include "src/Vexmir.h"

namespace {
// The synthesizer takes a while to store its global settings; nothing is sent meanwhile.
constexpr int kGlobalStorePauseMs = 3000;
}  // namespace

bool MIDIMessageSender::sendGlobalDump() {
  if (!plug) return false;
  uint8_t dump[kGlobalDumpSize];
  plug->buildGlobalDumpOf(plug->currentValues(), dump);
  plug->globalSent = true;
  plug->checksumCheckAndSend(dump, kGlobalDumpSize);
  return pause(kGlobalStorePauseMs);
}

void MIDIMessageSender::sendGlobalToDevice() {
  if (!plug) return;
  plug->DisplayProcessingIndicator(true);
  if (!sendGlobalDump()) return;
  plug->DisplayProcessingIndicator(false);
}
