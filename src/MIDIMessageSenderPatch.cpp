// Jobs 0 and 8: the current program built from the editor's parameters and sent to the synthesizer (or
// stored into the librarian), and the built-in initial program put into the librarian's selected slot.
#include <cstring>
#include <vector>

#include "KIT/IEffect/IEffectStructs.h"
#include "KIT/kitstring.h"
#include "src/MIDIMessageManager.h"
#include "src/MIDIMessageSender.h"
#include "src/PatchLibrarian.h"
#include "src/PatchManager.h"
#include "src/ProgramDump.h"
#include "src/Vexmir.h"

void MIDIMessageSender::sendArrangementToDevice(bool toLibrarian) {
  if (!plug) return;
  plug->DisplayProcessingIndicator(true);
  // One global dump per send: a recall during its long pause clears globalSent again, and is sent by a send of its
  // own (with its global settings) rather than by a second dump of this one.
  if (plug->sendGlobalWithProgram || !plug->globalSent) sendGlobalDump();
  const int t = plug->getTimerValue();

  uint8_t dump[kProgramDumpSize];
  std::string stored;
  {
    // The program's name and values are read, and the name kept, under the plug-in mutex: a host's recall or
    // state save changes and reads the same strings at the same moment.
    KIT_MutexLock lock(plug->GetMutex());
    const std::string name = plug->programName();
    plug->buildProgramDumpOf(name, plug->currentValues(), dump);
    stored = librarianProgramName(KIT_UTF8Head(name, kProgramNameLength));
    if (PatchManager* pm = plug->getPatchManager()) pm->setProgramName(stored);
  }
  plug->setLibrarianViewDirty();

  bool running = pause(t);
  if (running && !toLibrarian) {
    plug->checksumCheckAndSend(dump, kProgramDumpSize);
    running = pause(t);
  } else if (running) {
    plug->SetLibrarianRequestActive(true);
    PatchLibrarian* lib = plug->getLibrarian();
    const int slot = lib ? lib->selectedSlot(0) : -1;
    ISysEx sysex(0, dump, kProgramDumpSize);
    MIDIMessageManager::feedingOwnDump = true;
    plug->ProcessSysEx(&sysex, true);
    MIDIMessageManager::feedingOwnDump = false;
    const MIDIMessageManager* hub = plug->getMidiManager();
    const bool taken = hub && hub->replyTaken;
    running = pause(t);
    plug->SetLibrarianRequestActive(false);
    plug->SetLibrarianStatusUnsaved(true);
    // The button's own text stands until the store is done: then what went where.
    while (!stored.empty() && stored.back() == ' ') stored.pop_back();
    if (running && taken && slot >= 0)
      showStatus("\"" + stored + "\" stored into slot " + std::to_string(slot + 1) + "!");
  }
  plug->dumpSendRunning = false;
  plug->deviceBusy = false;
  if (running) plug->DisplayProcessingIndicator(false);
}

void MIDIMessageSender::initClassicPatch(bool onlyDuringHardwareUpdate) {
  if (!plug) return;
  plug->DisplayProcessingIndicator(true);
  uint8_t dump[kProgramDumpSize];
  std::memcpy(dump, initialProgramDump(), kProgramDumpSize);
  dump[2] = static_cast<uint8_t>(plug->deviceId.load() & 0x7F);
  if (onlyDuringHardwareUpdate && !plug->changeFromHardware) {
    plug->DisplayProcessingIndicator(false);
    return;
  }
  plug->SetLibrarianRequestActive(true);
  plug->answerReceived = false;
  ISysEx sysex(0, dump, kProgramDumpSize);
  MIDIMessageManager::feedingOwnDump = true;
  plug->ProcessSysEx(&sysex, true);
  MIDIMessageManager::feedingOwnDump = false;
  if (!pause(100)) return;
  plug->SetLibrarianStatusUnsaved(true);
  plug->DisplayProcessingIndicator(false);
}
