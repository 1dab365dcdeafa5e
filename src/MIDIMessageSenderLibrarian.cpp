// Jobs 2 and 3: librarian programs into the synthesizer. Job 2 sends one program to the edit buffer
// (audition, or one timbre of it loaded into the program being edited) and, when asked, writes it into a
// program memory; job 3 writes a whole bank into the 128 program memories. Both work on their own copies,
// so nothing the user does in the librarian meanwhile can change or free what they send. A store reads the results
// the synthesizer sends back and ends saying what it confirmed.
#include <algorithm>
#include <string>
#include <vector>

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
// How many pauses a store waits for a marker's answer before it goes out regardless.
constexpr int kStoreCatchUpPolls = 6;

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

using StoreEnd = MIDIMessageSender::StoreEnd;

std::string singleStoreText(StoreEnd end, int program) {
  const std::string p = "Program " + std::to_string(program + 1);
  switch (end) {
    case StoreEnd::kConfirmed:
      return p + " stored and confirmed!";
    case StoreEnd::kRefused:
      return p + " refused by the synth: not stored!";
    case StoreEnd::kNotWritten:
      return p + " not confirmed by the synth: not written!";
    case StoreEnd::kUnconfirmed:
      return p + " sent, not confirmed by the synth!";
    case StoreEnd::kNotSent:
      return p + " not stored: no MIDI output!";
    default:
      return p + " sent!";
  }
}

// What the synthesizer took of the programs a bank store reached. A synthesizer that answered none of them gets a
// neutral text; once it answered any, every program it did not confirm is named. A store that `stopped` early says
// nothing here unless a program is to be named.
std::string bankStoreText(const std::vector<StoreEnd>& ends, bool stopped, size_t displayChars) {
  std::vector<int> refused, notWritten, unconfirmed;
  for (size_t p = 0; p < ends.size(); ++p) {
    const StoreEnd e = ends[p];
    if (e == StoreEnd::kRefused) refused.push_back(static_cast<int>(p));
    if (e == StoreEnd::kNotWritten) notWritten.push_back(static_cast<int>(p));
    if (e != StoreEnd::kConfirmed) unconfirmed.push_back(static_cast<int>(p));
  }
  const std::string all = "All " + std::to_string(ends.size()) + " programs ";
  if (std::all_of(ends.begin(), ends.end(), [](StoreEnd e) { return e == StoreEnd::kSent; }))
    return stopped ? "" : all + "sent!";
  if (unconfirmed.empty()) return stopped ? "" : all + "stored and confirmed!";
  const char* head = refused.size() == unconfirmed.size()      ? "Refused by the synth: "
                     : notWritten.size() == unconfirmed.size() ? "Not confirmed (not written): "
                                                               : "Not confirmed: ";
  return MIDIMessageSender::programListText(head, unconfirmed, displayChars);
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

  const int t = plug->getTimerValue();
  if (plug->singleProgramFlag) {
    bool confirmsLoads = hub && hub->synthConfirmsLoads;
    const StoreEnd end = storeProgram(dump, slot, t, &confirmsLoads);
    if (end == StoreEnd::kShutDown) return;
    plug->singleProgramFlag = false;
    if (end == StoreEnd::kConfirmed)
      showSuccess(singleStoreText(end, slot));
    else
      showStatus(singleStoreText(end, slot));
  } else {
    plug->checksumCheckAndSend(dump.data(), static_cast<int>(dump.size()));
    // Audition: the program goes into the editor as if the synthesizer had sent it.
    plug->SetLibrarianRequestActive(false);
    ISysEx sysex(0, dump.data(), static_cast<int>(dump.size()));
    MIDIMessageManager::feedingOwnDump = true;
    plug->ProcessSysEx(&sysex, true);
    MIDIMessageManager::feedingOwnDump = false;
    if (hub) hub->dumpPending = false;
    if (!plug->answerReceived) {
      // The editor takes the program in from the input above; a cancel does not end this wait.
      AnswerWait wait;
      wait.pauseMs = t;
      wait.lastPoll = 20;
      wait.stopOnCancel = false;
      wait.owes = 0;  // the program is the editor's own
      if (waitForAnswer(wait) == WaitEnd::kShutDown) return;
    }
  }
  plug->DisplayProcessingIndicator(false);
}

MIDIMessageSender::StoreEnd MIDIMessageSender::storeProgram(const std::vector<uint8_t>& dump, int program,
                                                            int dumpPauseMs, bool* confirmsLoads) {
  MIDIMessageManager* hub = plug->getMidiManager();
  if (!hub) return StoreEnd::kShutDown;
  auto count = [hub](MIDIMessageManager::StoreResult kind, uint32_t before) {
    return hub->storeResults[kind] - before;
  };
  auto since = [&](MIDIMessageManager::StoreResult kind, uint32_t before) { return count(kind, before) != 0; };
  const uint32_t loadsBefore = hub->storeResults[MIDIMessageManager::kLoadCompleted];
  const uint32_t loadErrorsBefore = hub->storeResults[MIDIMessageManager::kLoadError];
  uint32_t writesBefore = 0, writeErrorsBefore = 0;
  // What the synthesizer owes: a load result for every dump sent, a write result for the write request.
  uint32_t dumpsSent = 0;
  bool writeSent = false;
  auto loaded = [&] { return since(MIDIMessageManager::kLoadCompleted, loadsBefore); };
  auto loadRefused = [&] { return !loaded() && since(MIDIMessageManager::kLoadError, loadErrorsBefore); };
  hub->readingStoreResults = true;
  // Results still owed to an earlier send are not this store's: a marker's answer first puts them behind. A synthesizer
  // slow to answer it gets the store after a few polls all the same: the marker went out before the store's messages,
  // so what comes after its answer is the store's own, and nothing before it is taken.
  AnswerWait catchUpWait;
  catchUpWait.pauseMs = std::max(dumpPauseMs, 1);
  catchUpWait.lastPoll = kStoreCatchUpPolls;
  catchUpWait.timeoutText = nullptr;
  catchUpWait.stopOnCancel = false;
  catchUpWait.takes = AnswerOrder::kResult;
  const WaitEnd caughtUp = catchUp(catchUpWait);
  if (caughtUp == WaitEnd::kShutDown) return StoreEnd::kShutDown;
  // Without an input port no result can come.
  bool confirming = *confirmsLoads && plug->midiInReady;
  // The output may go away during the store (a recall with ports that are not here): what it drops is not sent.
  bool outputGone = false;
  for (int send = 0; send < 2; ++send) {
    outputGone = outputGone || !plug->midiOutReady;
    plug->checksumCheckAndSend(dump.data(), static_cast<int>(dump.size()));
    ++dumpsSent;
    if (!pause(dumpPauseMs)) return StoreEnd::kShutDown;
    confirming = confirming || loadRefused();
    if (loaded() || !confirming) break;
  }
  StoreEnd end = StoreEnd::kSent;
  if (!loaded() && confirming) {
    // Written now, the program memory would take what the edit buffer held before.
    end = loadRefused() ? StoreEnd::kRefused : StoreEnd::kNotWritten;
  } else if (!loaded() && outputGone) {
    // The dump did not go out: no write request follows it, whatever the output is by now.
    end = StoreEnd::kNotSent;
  } else {
    writesBefore = hub->storeResults[MIDIMessageManager::kWriteCompleted];
    writeErrorsBefore = hub->storeResults[MIDIMessageManager::kWriteError];
    outputGone = outputGone || !plug->midiOutReady;
    sendWriteRequest(plug, program);
    writeSent = true;
    if (!pause(kWritePauseMs)) return StoreEnd::kShutDown;
    const bool written = since(MIDIMessageManager::kWriteCompleted, writesBefore);
    if (since(MIDIMessageManager::kWriteError, writeErrorsBefore) || loadRefused())
      end = StoreEnd::kRefused;
    else if (written && loaded())
      end = StoreEnd::kConfirmed;
    else if (written || loaded())
      end = StoreEnd::kUnconfirmed;
  }
  hub->readingStoreResults = false;
  // Once the synthesizer has confirmed a load, a store it does not answer is not confirmed: it is not taken for a
  // model that never answers.
  *confirmsLoads = *confirmsLoads || loaded() || loadRefused();
  hub->synthConfirmsLoads = *confirmsLoads;
  // A result still to come from a synthesizer that answers (a dump sent twice, the first answered late) is not the
  // next program's.
  const uint32_t loadResults =
      count(MIDIMessageManager::kLoadCompleted, loadsBefore) + count(MIDIMessageManager::kLoadError, loadErrorsBefore);
  const uint32_t writeResults = writeSent ? count(MIDIMessageManager::kWriteCompleted, writesBefore) +
                                                count(MIDIMessageManager::kWriteError, writeErrorsBefore)
                                          : 0;
  if ((*confirmsLoads || writeResults > 0) && (loadResults < dumpsSent || (writeSent && writeResults == 0))) {
    hub->answerOrder.owed(AnswerOrder::kResult, true);
    sendAnswerMarker();
  }
  return outputGone && end != StoreEnd::kConfirmed ? StoreEnd::kNotSent : end;
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
  std::string end = bank.empty() ? "Data write stopped: no bank!" : "";
  bool confirmsLoads = hub && hub->synthConfirmsLoads;
  std::vector<StoreEnd> ends;
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
    ends.push_back(storeProgram(dump, p, kAfterDumpPauseMs, &confirmsLoads));
    if (ends.back() == StoreEnd::kShutDown) return;
    // Programs sent into a port whose other end has gone are lost: the store must not claim them written.
    if (plug->midiPortsLost() || plug->externalMIDIOutLost()) {
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
  const std::string taken = bankStoreText(ends, !end.empty(), plug->statusDisplayChars());
  const bool allConfirmed =
      end.empty() && std::all_of(ends.begin(), ends.end(), [](StoreEnd e) { return e == StoreEnd::kConfirmed; });
  if (allConfirmed)
    showSuccess(taken);
  else
    showStatus(end.empty() ? taken : end, end.empty() ? std::string() : taken);
  plug->DisplayProcessingIndicator(false);
  if (lib) lib->selectSlot(0, 0);
}
