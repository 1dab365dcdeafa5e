// The jobs that ask the synthesizer for data and wait for it: connecting (the global data), the current
// program with or without the global data, one program into the librarian and all 128 programs. They send,
// pause, poll the answer-received and cancel flags and report through the display; the answer itself is
// taken in by the SysEx input on the MIDI input thread.
#include <algorithm>
#include <string>
#include <vector>

#include "src/LibrarianEditor.h"
#include "src/MIDIMessageManager.h"
#include "src/MIDIMessageSender.h"
#include "src/PatchLibrarian.h"
#include "src/Vexmir.h"

namespace {

constexpr uint8_t kProgramRequest = 0x10;
constexpr uint8_t kGlobalRequest = 0x0E;

const char* const kCancelled = "Data request CANCELLED!";
const char* const kCompleted = "Data request completed!";
const char* const kProcessing = "Processing, please wait...";
const char* const kDataProcessing = "Data processing, please wait...";
const char* const kPortLost = "Data request stopped: the MIDI port was lost!";

// The wait of the requests for one program: polls of t, the channel search after the 30th, time-out at the 35th.
MIDIMessageSender::AnswerWait programWait(int t, bool stopOnCancel) {
  MIDIMessageSender::AnswerWait wait;
  wait.pauseMs = t;
  wait.stopOnCancel = stopOnCancel;
  wait.searchAt = 30;
  wait.searchPauseMs = t;
  return wait;
}

// A synthesizer that leaves this many programs in a row unanswered has gone: asking for the rest would only
// time out one by one.
constexpr int kUnansweredProgramsBeforeStopping = 3;

// A program is asked for again when the synthesizer switched program before its answer came; a synthesizer that
// keeps switching leaves its slot as it was after this many tries.
constexpr int kProgramAsks = 3;

// The end of a fetch of all programs that did not get every one: which programs did not come, and that their slots
// are as they were.
std::string notReceivedText(const std::vector<int>& missing, bool stoppedEarly, size_t displayChars) {
  return MIDIMessageSender::programListText(
      stoppedEarly ? "Synth stopped; not received (slots kept): " : "Not received (slots kept): ", missing,
      displayChars);
}

}  // namespace

// A job's message stands alone: the value and message fields of the control shown before it are cleared.
void MIDIMessageSender::showStatus(const std::string& text, const std::string& second) {
  if (plug) plug->displayOutcome(text, second);
  if (statusObserver) statusObserver(second.empty() ? text : text + " " + second);
}

void MIDIMessageSender::showSuccess(const std::string& text) {
  showStatus(text);
  MIDIMessageManager* hub = plug ? plug->getMidiManager() : nullptr;
  if (hub && hub->lateAnswerOnLibrarianLine.exchange(false))
    if (LibrarianEditor* editor = plug->getLibrarianEditor()) editor->note(text);
}

void MIDIMessageSender::sendRequest(uint8_t function, int channel) {
  if (!plug) return;
  const int device = channel < 0 ? plug->deviceId.load() : 0x30 + (channel & 0x0F);
  const unsigned char body[4] = {0x42, static_cast<unsigned char>(device & 0x7F), 0x58, function};
  plug->checksumCheckAndSend(body, 4);
}

bool MIDIMessageSender::searchChannels(uint8_t function, int pauseMs, bool announce) {
  MIDIMessageManager* hub = plug ? plug->getMidiManager() : nullptr;
  if (hub) hub->channelSearchActive = true;
  searched = true;
  for (int n = 0; n < 16; ++n) {
    sendRequest(function, n);
    if (announce) showStatus("Please wait, checking DeviceID " + std::to_string(n + 1));
    if (!pause(pauseMs)) return true;
    if (cancel) return true;
    // A marker's search ends once a marker's answer has put the answers in order, a request's once it is answered.
    if (catchingUp ? hub && !hub->answerOrder.owing(catchingUp) : plug && plug->answerReceived) return false;
  }
  return false;
}

MIDIMessageSender::WaitEnd MIDIMessageSender::waitForAnswer(const AnswerWait& wait) {
  searched = false;
  const WaitEnd end = pollForAnswer(wait);
  MIDIMessageManager* hub = plug ? plug->getMidiManager() : nullptr;
  if (hub) hub->channelSearchActive = false;
  // A wait that ended without its answer, or one whose request went out again on the synthesizer's channel, leaves
  // an answer owed: the marker goes out at once, so that its answer is usually in before the next request.
  if (hub && wait.owes && end != WaitEnd::kShutDown &&
      ((end != WaitEnd::kAnswered && !plug->answerReceived) || searched)) {
    hub->answerOrder.owed(static_cast<AnswerOrder::Kind>(wait.owes), true);
    sendAnswerMarker();
  }
  return end;
}

void MIDIMessageSender::sendAnswerMarker(int channel) {
  if (!plug || !plug->midiOutReady || !plug->midiInReady) return;
  sendRequest(kGlobalRequest, channel);
}

MIDIMessageSender::WaitEnd MIDIMessageSender::catchUp(const AnswerWait& wait) {
  MIDIMessageManager* hub = plug ? plug->getMidiManager() : nullptr;
  if (!hub) return WaitEnd::kShutDown;
  AnswerOrder& order = hub->answerOrder;
  const int kinds = wait.takes;
  if (order.owing(kinds)) {
    sendAnswerMarker();
    uint32_t older = order.olderAnswers();
    // The request goes out within an eighth of a pause of the marker's answer; the wait's polls count whole pauses.
    constexpr int kSteps = 8;
    const int step = std::max(1, wait.pauseMs / kSteps);
    for (int k = 1; order.owing(kinds); ++k) {
      for (int s = 0; s < kSteps && order.owing(kinds); ++s) {
        if (!pause(step)) return WaitEnd::kShutDown;
        if (order.olderAnswers() != older) {
          // That answer may have been an older marker's: one more of this owing goes out.
          older = order.olderAnswers();
          sendAnswerMarker();
        }
      }
      if (!order.owing(kinds)) break;
      if (plug->midiPortsLost()) {
        plug->closePortsOfEndedServer(true);
        showStatus(kPortLost);
        return WaitEnd::kPortLost;
      }
      if (wait.pollText) showStatus(wait.pollText);
      if (wait.stopOnCancel && cancel) return WaitEnd::kCancelled;
      if (k == wait.searchAt) {
        // A synthesizer on another channel answers a marker only there.
        catchingUp = kinds;
        const bool cancelled = searchChannels(kGlobalRequest, wait.searchPauseMs, false);
        catchingUp = 0;
        hub->channelSearchActive = false;
        if (cancelled && (stopping() || wait.stopOnCancel))
          return stopping() ? WaitEnd::kShutDown : WaitEnd::kCancelled;
      }
      if (!order.owing(kinds)) break;
      if (k >= wait.lastPoll) {
        if (wait.timeoutText) showStatus(wait.timeoutText);
        return WaitEnd::kTimedOut;
      }
    }
  }
  order.requestGoesOut();
  return WaitEnd::kAnswered;
}

MIDIMessageSender::WaitEnd MIDIMessageSender::pollForAnswer(const AnswerWait& wait) {
  for (int k = 1;; ++k) {
    if (!pause(wait.pauseMs)) return WaitEnd::kShutDown;
    // No answer can come through ports that closed; the request says so at once rather than searching the channels.
    if (!plug->answerReceived && plug->midiPortsLost()) {
      plug->closePortsOfEndedServer(true);
      showStatus(kPortLost);
      return WaitEnd::kPortLost;
    }
    if (wait.pollText) showStatus(wait.pollText);
    if (wait.stopOnCancel && cancel) return WaitEnd::kCancelled;
    if (wait.switchedAt >= 0 && plug->getMidiManager()->synthProgramChanges != wait.switchedAt)
      return WaitEnd::kProgramChanged;
    if (k == wait.searchAt) {
      if (wait.stopOnMismatch && plug->dataMismatch) return WaitEnd::kMismatch;
      if (!plug->answerReceived && searchChannels(wait.searchFunction, wait.searchPauseMs, wait.announceSearch))
        return stopping() ? WaitEnd::kShutDown : WaitEnd::kCancelled;
    }
    if (plug->answerReceived) return WaitEnd::kAnswered;
    if (k >= wait.lastPoll) {
      showStatus(wait.timeoutText);
      return WaitEnd::kTimedOut;
    }
  }
}

MIDIMessageSender::WaitEnd MIDIMessageSender::requestSwitchedProgram(AnswerWait wait, uint32_t switchedAt) {
  MIDIMessageManager* hub = plug->getMidiManager();
  hub->switchedProgramAwaited = true;
  plug->SetLibrarianRequestActive(true);
  // Armed first, then tested: a change that came before is seen here, one that comes after disarms the request.
  WaitEnd end = catchUp(wait);
  if (end == WaitEnd::kAnswered) end = WaitEnd::kProgramChanged;
  if (end == WaitEnd::kProgramChanged && hub->synthProgramChanges == switchedAt) {
    sendRequest(kProgramRequest);
    wait.switchedAt = switchedAt;
    end = waitForAnswer(wait);
  }
  hub->switchedProgramAwaited = false;
  if (end == WaitEnd::kProgramChanged) hub->singleRequest.disarm();
  return end;
}

void MIDIMessageSender::sendDeviceIdEnquiry() {
  if (!plug) return;
  MIDIMessageManager* hub = plug->getMidiManager();
  plug->DisplayProcessingIndicator(true);
  cancel = false;
  plug->SetLibrarianRequestActive(false);
  if (hub) {
    hub->dumpPending = false;
    hub->synthConfirmsLoads = false;  // the synthesizer connected now has yet to answer a store
  }
  showStatus("Connecting to Hardware");
  failed = false;
  const int t = plug->getTimerValue();
  AnswerWait wait;
  wait.pauseMs = t;
  wait.lastPoll = 25;
  wait.timeoutText = "No response from Hardware";
  wait.pollText = kProcessing;
  wait.searchAt = 15;
  wait.searchPauseMs = t / 2;
  wait.searchFunction = kGlobalRequest;
  wait.stopOnMismatch = true;
  // A global dump is taken only once nothing is owed; one that comes late is the synthesizer's same settings.
  wait.takes = AnswerOrder::kAnyKind;
  wait.owes = 0;
  WaitEnd end = catchUp(wait);
  if (end == WaitEnd::kAnswered) {
    sendRequest(kGlobalRequest);
    end = waitForAnswer(wait);
  }
  if (end == WaitEnd::kShutDown) return;
  const bool cancelled = end == WaitEnd::kCancelled;
  if (end == WaitEnd::kTimedOut || end == WaitEnd::kPortLost) failed = true;
  if (plug->dataMismatch) {
    showStatus("VX MIDI CLOCK TURNED OFF!");
    plug->displayText("VX MIDI CLOCK TURNED OFF!", "DATA MISMATCH", std::string());
    failed = true;
  }
  if (!pause(t)) return;
  // A cancelled connect found nothing: it must not claim that the synthesizer is there.
  if (cancelled && !plug->answerReceived) {
    showStatus(kCancelled);
    failed = true;
  }
  if (!failed) showStatus("Plug-in is ready to go!");
  plug->DisplayProcessingIndicator(false);
}

void MIDIMessageSender::sendActiveArrangementRequestSysex(bool toEditor) {
  if (!plug) return;
  MIDIMessageManager* hub = plug->getMidiManager();
  const int t = plug->getTimerValue();
  plug->DisplayProcessingIndicator(true);
  failed = false;
  cancel = false;
  if (toEditor) {
    plug->SetLibrarianRequestActive(false);
    if (hub) hub->refreshPending = true;
    AnswerWait wait;
    wait.pauseMs = t;
    wait.searchAt = 25;
    wait.searchPauseMs = t / 2;
    wait.announceSearch = true;
    WaitEnd end = catchUp(wait);
    if (end == WaitEnd::kAnswered) {
      sendRequest(kProgramRequest);
      end = waitForAnswer(wait);
    }
    if (end == WaitEnd::kShutDown) return;
    if (end != WaitEnd::kAnswered) failed = true;
    plug->DisplayProcessingIndicator(true);
  }
  if (!pause(t)) return;
  if (cancel) {
    showStatus(kCancelled);
    plug->DisplayProcessingIndicator(false);
    return;
  }
  if (failed) {
    plug->DisplayProcessingIndicator(false);
    return;
  }
  AnswerWait globalWait;
  globalWait.pauseMs = t;
  globalWait.pollText = kProcessing;
  globalWait.takes = AnswerOrder::kAnyKind;
  globalWait.owes = 0;
  WaitEnd globalEnd = catchUp(globalWait);
  if (globalEnd == WaitEnd::kShutDown) return;
  plug->answerReceived = false;
  if (hub) hub->replyTaken = false;
  if (globalEnd == WaitEnd::kAnswered) {
    // The SysEx input takes a global dump in only while a connection is pending: ask for it as one.
    plug->connectPending = true;
    sendRequest(kGlobalRequest);
    showStatus("Please wait! 95% received..");
    globalEnd = waitForAnswer(globalWait);
  }
  if (globalEnd == WaitEnd::kShutDown) return;
  if (globalEnd == WaitEnd::kTimedOut || globalEnd == WaitEnd::kPortLost) failed = true;
  if (!pause(t)) return;
  if (cancel) {
    showStatus(kCancelled);
  } else if (!failed) {
    showSuccess(kCompleted);
    if (!toEditor) plug->SetLibrarianStatusUnsaved(true);
  }
  plug->DisplayProcessingIndicator(false);
}

void MIDIMessageSender::sendPartRequestSysex(bool toEditor) {
  if (!plug) return;
  const int t = plug->getTimerValue();
  plug->DisplayProcessingIndicator(true);
  failed = false;
  cancel = false;
  plug->SetLibrarianRequestActive(!toEditor);
  WaitEnd end = catchUp(programWait(t, true));
  if (end == WaitEnd::kAnswered) {
    sendRequest(kProgramRequest);
    if (!pause(t)) return;
    showStatus(kDataProcessing);
    end = waitForAnswer(programWait(t, true));
  }
  if (end == WaitEnd::kShutDown) return;
  if (end != WaitEnd::kAnswered) failed = true;
  if (!(toEditor && !failed) && !pause(t)) return;
  plug->DisplayProcessingIndicator(false);
  if (cancel) {
    showStatus(kCancelled);
  } else if (!failed) {
    showSuccess(kCompleted);
    if (!toEditor) plug->SetLibrarianStatusUnsaved(true);
  }
}

void MIDIMessageSender::sendSinglePatchRequestSysex(bool temporary, int program) {
  if (!plug) return;
  const int t = plug->getTimerValue();
  plug->DisplayProcessingIndicator(true);
  failed = false;
  cancel = false;
  WaitEnd end = WaitEnd::kProgramChanged;
  if (temporary) {
    // Armed only now: an answer to an earlier request that comes during the pauses is not this slot's program.
    plug->SetLibrarianRequestActive(true);
    end = catchUp(programWait(t, true));
    if (end == WaitEnd::kAnswered) {
      sendRequest(kProgramRequest);
      showStatus(kDataProcessing);
      end = waitForAnswer(programWait(t, true));
    }
  }
  for (int ask = 0; !temporary && ask < kProgramAsks && end == WaitEnd::kProgramChanged; ++ask) {
    // The program the slot stands for, and the one the synthesizer plays from now on.
    const uint32_t switchedAt = plug->getMidiManager()->synthProgramChanges;
    plug->sendProgramChange(program);
    if (!pause(t / 2) || !pause(t / 2)) return;
    if (ask == 0) showStatus(kDataProcessing);
    end = requestSwitchedProgram(programWait(t, true), switchedAt);
  }
  if (end == WaitEnd::kShutDown) return;
  if (end != WaitEnd::kAnswered) failed = true;
  if (cancel)
    showStatus(kCancelled);
  else if (end == WaitEnd::kProgramChanged)
    showStatus("Not received: the synth kept changing program");
  else if (!failed)
    showSuccess(kCompleted);
  // A program that came is in its slot, flagged as it came, also where a cancel ended the wait.
  plug->DisplayProcessingIndicator(false);
}

void MIDIMessageSender::sendAllPatchRequestSysex() {
  if (!plug) return;
  PatchLibrarian* lib = plug->getLibrarian();
  const int t = plug->getTimerValue();
  plug->DisplayProcessingIndicator(true);
  failed = false;
  cancel = false;
  plug->SetLibrarianRequestActive(true);
  // Bank select goes through the checked send: without an output port it is not sent at all.
  IMidiMsg bankSelect;
  bankSelect.MakeControlChangeMsg(static_cast<EControlChangeMsg>(32), 0.0, 0);
  plug->sendMidiMsgAndLog(&bankSelect);
  // The open bank is flagged as changed by the first program that changes a slot of it (a fetch cancelled before
  // any program came changed nothing), and stays open until the job ends.
  if (!pause(t)) return;
  showStatus(kDataProcessing);
  // Every program that comes is kept; one that does not leaves its slot as it was, and the next is asked for.
  std::vector<int> missing;
  int unansweredInARow = 0;
  bool cancelled = false;
  bool stoppedEarly = false;
  bool portLost = false;
  MIDIMessageManager* hub = plug->getMidiManager();
  for (int p = 0; p < 128 && !cancelled && !stoppedEarly; ++p) {
    WaitEnd end = WaitEnd::kProgramChanged;
    for (int ask = 0; ask < kProgramAsks && end == WaitEnd::kProgramChanged; ++ask) {
      plug->DisplayProcessingIndicator(true);
      // The last request ends here: a late or repeated answer to it is not program p.
      hub->singleRequest.disarm();
      plug->selectLibrarianSlot(0, p);
      const uint32_t switchedAt = hub->synthProgramChanges;
      plug->sendProgramChange(p);
      if (!pause(t / 2) || !pause(50)) return;
      if (cancel) {
        showStatus(kCancelled);
        plug->DisplayProcessingIndicator(false);
        if (lib) lib->selectSlot(0, 0);
        return;
      }
      // A cancel ends the job between two programs; one during the channel search ends it after this one.
      end = requestSwitchedProgram(programWait(t, false), switchedAt);
    }
    if (end == WaitEnd::kShutDown) return;
    cancelled = end == WaitEnd::kCancelled;
    unansweredInARow = end == WaitEnd::kTimedOut ? unansweredInARow + 1 : 0;
    if (end == WaitEnd::kPortLost) {
      // Nothing more can come: the slots from this one on are kept as they were.
      portLost = failed = stoppedEarly = true;
      for (int q = p; q < 128; ++q) missing.push_back(q);
      plug->DisplayProcessingIndicator(false);
      break;
    }
    // A synthesizer that kept switching program, like one that stayed silent: the slot is kept as it was.
    if (end == WaitEnd::kTimedOut || end == WaitEnd::kProgramChanged) {
      failed = true;
      missing.push_back(p);
      if (unansweredInARow >= kUnansweredProgramsBeforeStopping) {
        stoppedEarly = true;
        for (int q = p + 1; q < 128; ++q) missing.push_back(q);
      }
    }
    plug->DisplayProcessingIndicator(false);
  }
  hub->singleRequest.disarm();
  hub->allRequest.disarm();
  if (portLost) {
    showStatus(kPortLost, notReceivedText(missing, false, plug->statusDisplayChars()));
  } else if (cancelled || cancel) {
    showStatus(kCancelled);
  } else if (!missing.empty()) {
    showStatus(notReceivedText(missing, stoppedEarly, plug->statusDisplayChars()));
  } else {
    showSuccess(kCompleted);
  }
  if (LibrarianEditor* editor = plug->getLibrarianEditor()) editor->openBankChanged();
  plug->DisplayProcessingIndicator(false);
  if (lib) lib->selectSlot(0, 0);
}

bool MIDIMessageManager::sendSinglePatchRequestSysexFromLibrarian(bool temporary, int slot) {
  // The job arms the request as it starts: a request dropped by a busy job thread leaves nothing armed.
  SenderJob job;
  job.job = kJobSinglePatchRequest;
  job.temporary = temporary;
  job.slot = slot;
  return startJob(MidiWorker::kJobThread, job);
}
