// Jobs 2 and 3: librarian programs into the synthesizer. Job 2 sends one program to the edit buffer
// (audition, or one timbre of it loaded into the program being edited) and, when asked, writes it into a
// program memory; job 3 writes a whole bank into the 128 program memories. Both work on their own copies,
// so nothing the user does in the librarian meanwhile can change or free what they send.
#include <string>

#include "src/MIDIMessageManager.h"
#include "src/MIDIMessageSender.h"
#include "src/PatchLibrarian.h"
#include "src/ProgramDump.h"
#include "src/ProgramTransfer.h"
#include "src/Vexmir.h"

namespace {

// The synthesizer needs this long to write a program memory.
constexpr int kWritePauseMs = 1800;
constexpr int kAfterDumpPauseMs = 500;
constexpr int kAfterProgramChangeMs = 75;

void sendAllNotesOff(Vexmir* plug) {
  IMidiMsg msg;
  msg.MakeControlChangeMsg(kAllNotesOff, 0.0, 0);
  plug->sendMidiMsgAndLog(&msg);
}

void sendWriteRequest(Vexmir* plug, int program) {
  const unsigned char body[6] = {0x42, static_cast<unsigned char>(plug->deviceId.load() & 0x7F),
                                 0x58, 0x11,
                                 0x00, static_cast<unsigned char>(program & 0x7F)};
  plug->checksumCheckAndSend(body, 6);
}

// The program dump of a librarian program: its first message when that is a whole program dump.
const SysexBytes* programDumpOf(const LibrarianPatch& patch) {
  if (patch.messages.empty()) return nullptr;
  const SysexBytes& m = patch.messages.front().data;
  return isWholeProgramDump(m.data(), m.size()) ? &m : nullptr;
}

}  // namespace

void MIDIMessageSender::sendPatchToDeviceFromLibrarian(const LibrarianPatch& patch, int, int slot) {
  if (!plug) return;
  MIDIMessageManager* hub = plug->getMidiManager();
  plug->DisplayProcessingIndicator(true);
  const SysexBytes* source = programDumpOf(patch);
  if (!source || slot < 0 || slot > 127) {
    // Nothing that the synthesizer could take: nothing is sent.
    showStatus("No program to send!");
    plug->singleProgramFlag = false;
    plug->DisplayProcessingIndicator(false);
    return;
  }
  sendAllNotesOff(plug);
  if (!pause(50)) return;
  // The librarian stores whole, correct program dumps (the reader checks them), so the dump goes out as
  // stored: no top bits need repairing here.
  std::vector<uint8_t> dump(source->data(), source->data() + source->size());

  // One timbre of the program into one timbre of the editor's program: each pair of switches holds at most
  // one choice (the last one pressed), and a load needs both a source and a target.
  const int intoTimbre = plug->paramValue(kLoadToTimbre2) == 1.0 ? 1 : plug->paramValue(kLoadToTimbre1) == 1.0 ? 0 : -1;
  const int fromTimbre =
      plug->paramValue(kReadFromTimbre2) == 1.0 ? 1 : plug->paramValue(kReadFromTimbre1) == 1.0 ? 0 : -1;
  if (intoTimbre >= 0 && fromTimbre >= 0) {
    uint8_t editorDump[kProgramDumpSize];
    {
      KIT_MutexLock lock(plug->GetMutex());  // the editor's program as one piece (see sendArrangementToDevice)
      plug->buildProgramDumpOf(plug->programName(), plug->currentValues(), editorDump);
    }
    loadTimbreFromLibrarian(dump.data(), editorDump, intoTimbre, fromTimbre);
  }
  if (plug->paramValue(kOverrideTempo) == 1.0) putArpTempo(dump.data(), static_cast<int>(plug->paramValue(kArpTempo)));
  for (int t = 0; t < 2; ++t)
    if (plug->paramValue(kLockPartMIDIch + t) == 1.0)
      putPartChannel(dump.data(), t, static_cast<int>(plug->paramValue(kMultiPartMIDICh + t)));
  dump[2] = static_cast<uint8_t>(plug->deviceId.load() & 0x7F);
  plug->checksumCheckAndSend(dump.data(), static_cast<int>(dump.size()));

  const int t = plug->getTimerValue();
  if (!plug->singleProgramFlag) {
    // Audition: the program goes into the editor as if the synthesizer had sent it.
    plug->SetLibrarianRequestActive(false);
    ISysEx sysex(0, dump.data(), static_cast<int>(dump.size()));
    plug->ProcessSysEx(&sysex, true);
    if (hub) hub->dumpPending = false;
    if (!plug->answerReceived) {
      // The editor takes the program in from the input above; a cancel does not end this wait.
      AnswerWait wait;
      wait.pauseMs = t;
      wait.lastPoll = 20;
      wait.stopOnCancel = false;
      if (waitForAnswer(wait) == WaitEnd::kShutDown) return;
    }
  } else {
    if (!pause(t)) return;
    sendWriteRequest(plug, slot);
    if (!pause(kWritePauseMs)) return;
    plug->singleProgramFlag = false;
  }
  plug->DisplayProcessingIndicator(false);
}

void MIDIMessageSender::storeAllPatchesToDeviceFromLibrarian(int side, const std::vector<LibrarianPatch>& bank) {
  if (!plug) return;
  MIDIMessageManager* hub = plug->getMidiManager();
  PatchLibrarian* lib = plug->getLibrarian();
  plug->DisplayProcessingIndicator(true);
  sendAllNotesOff(plug);
  if (!pause(50)) return;
  cancel = false;
  const int t = plug->getTimerValue();
  std::string end = bank.empty() ? "Data write stopped: no bank!" : "Data write completed!";
  for (int p = 0; p < 128 && !bank.empty(); ++p) {
    if (hub) {
      hub->dumpPending = false;
      hub->singleRequest.disarm();
      hub->allRequest.disarm();
    }
    const SysexBytes* source = static_cast<size_t>(p) < bank.size() ? programDumpOf(bank[p]) : nullptr;
    if (!source) {
      end = "Data write stopped at program " + std::to_string(p + 1) + "!";
      break;
    }
    plug->sendProgramChange(p);
    if (!pause(t / 2) || !pause(kAfterProgramChangeMs)) return;
    std::vector<uint8_t> dump(source->data(), source->data() + source->size());
    dump[2] = static_cast<uint8_t>(plug->deviceId.load() & 0x7F);
    plug->selectLibrarianSlot(side, p);
    plug->checksumCheckAndSend(dump.data(), static_cast<int>(dump.size()));
    if (!pause(kAfterDumpPauseMs)) return;
    sendWriteRequest(plug, p);
    if (!pause(kWritePauseMs)) return;
    // Programs sent into a port whose other end has gone are lost: the store must not claim them written.
    if (plug->externalMIDIOutLost()) {
      end = "Data write stopped at program " + std::to_string(p + 1) + ": the MIDI port was lost!";
      plug->midiPortLost();
      break;
    }
    showStatus("Please wait! Writing.. " + std::to_string(p * 100 / 127) + "%");
    if (cancel) {
      end = "Data write cancelled!";
      break;
    }
  }
  // Whatever ended the store, the librarian's controls come back and the display says how it ended.
  showStatus(end);
  plug->DisplayProcessingIndicator(false);
  if (lib) lib->selectSlot(0, 0);
}
