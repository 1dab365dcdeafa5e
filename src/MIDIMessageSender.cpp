#include "src/MIDIMessageSender.h"

#include <algorithm>
#include <chrono>

#include "src/MIDIMessageManager.h"
#include "src/Vexmir.h"

MIDIMessageSender::MIDIMessageSender(Vexmir* plug, PatchManager* patchManager)
    : plug(plug), patchManager(patchManager) {}

void MIDIMessageSender::run(const SenderJob& j) {
  if (stopping()) return;
  if (jobRunner) {
    jobRunner(*this, j);
    return;
  }
  // Ports a JACK server's end closed are opened again on the server that runs now before the job uses them. A job
  // that works without them (a program stored into a slot, the initial program into the editor) goes on all the same.
  const bool clock = j.job == kJobStartClock || j.job == kJobContinuousClock || j.job == kJobStopClock;
  const bool needsPorts = !(j.job == kJobSendArrangement && j.arrangementFlag) && j.job != kJobInitClassicPatch;
  // A JACK server that runs no cycles (stopped) answers nothing: its ports close as at its end and the job says so
  // rather than waiting for a synthesizer that cannot hear it.
  if (plug && !clock && plug->midiServerStopped()) plug->closePortsOfEndedServer(true);
  if (plug && !clock && !plug->reopenAwaitedPorts() && needsPorts) return;
  if (j.leadPauseMs > 0 && !pause(j.leadPauseMs)) return;
  if (j.programChange >= 0 && plug) {
    plug->sendProgramChange(j.programChange);
    if (!pause(j.pauseAfterProgramChangeMs)) return;
  }
  // A bank store always ends edit mode; one program only when it is stored.
  if (j.editModeOffFirst && plug && plug->editModeOn && (plug->singleProgramFlag || j.job == kJobStoreAllPatches))
    plug->SendPatchEditOffCommand();
  if (j.afterRecalls && !settleAfterRecalls()) return;
  switch (j.job) {
    case kJobSendArrangement:
      sendArrangementToDevice(j.arrangementFlag);
      break;
    case kJobSendGlobal:
      sendGlobalToDevice();
      break;
    case kJobSendLibrarianPatch:
      sendPatchToDeviceFromLibrarian(j.patch, 0, j.slot);
      break;
    case kJobStoreAllPatches:
      storeAllPatchesToDeviceFromLibrarian(j.side, j.bank);
      break;
    case kJobActiveArrangementRequest:
      sendActiveArrangementRequestSysex(j.toEditor);
      break;
    case kJobPartRequest:
      sendPartRequestSysex(j.toEditor);
      break;
    case kJobSinglePatchRequest:
      sendSinglePatchRequestSysex(j.temporary, j.slot);
      break;
    case kJobAllPatchRequest:
      sendAllPatchRequestSysex();
      break;
    case kJobInitClassicPatch:
      initClassicPatch(j.classicFlag);
      break;
    case kJobDeviceIdEnquiry:
      sendDeviceIdEnquiry();
      break;
    case kJobStartClock:
      startMIDIClockOutput();
      break;
    case kJobContinuousClock:
      sendContinuousMIDIClock(j.tempo);
      break;
    case kJobStopClock:
      stopMIDIClockOutput();
      break;
    default:
      break;
  }
}

bool MIDIMessageSender::pause(int ms) {
  if (clock != &JobClock::system()) {
    clock->sleepMilliseconds(ms);
    return !stopRequested.load();
  }
  std::unique_lock<std::mutex> lock(pauseLock);
  if (ms < 0) ms = 0;
  return !pauseWake.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopRequested.load(); });
}

void MIDIMessageSender::requestStop() {
  {
    std::lock_guard<std::mutex> lock(pauseLock);
    stopRequested = true;
    cancel = true;
  }
  pauseWake.notify_all();
}

bool MIDIMessageSender::settleAfterRecalls() {
  const int64_t quiet = static_cast<int64_t>(kRecallQuietMs) * 1'000'000;
  for (;;) {
    const int64_t since = clock->nowNanoseconds() - plug->lastRecallNanoseconds.load();
    if (since >= quiet) break;
    if (!pause(static_cast<int>((quiet - since + 999'999) / 1'000'000))) return false;
  }
  // A recall from here on comes after this send's state was taken: it waits for the next send.
  if (!plug->recallSendPending.exchange(false)) return false;
  plug->beginRecalledSend();
  return true;
}

std::string MIDIMessageSender::programListText(const std::string& head, const std::vector<int>& programs,
                                               size_t displayChars) {
  std::vector<std::string> ranges;
  for (size_t i = 0; i < programs.size(); ++i) {
    size_t last = i;
    while (last + 1 < programs.size() && programs[last + 1] == programs[last] + 1) ++last;
    ranges.push_back(std::to_string(programs[i] + 1));
    if (last > i) ranges.back() += "-" + std::to_string(programs[last] + 1);
    i = last;
  }
  auto text = [&](size_t shown) {
    std::string t = head;
    for (size_t r = 0; r < shown; ++r) t += (r ? ", " : "") + ranges[r];
    return shown < ranges.size() ? t + " and more" : t;
  };
  size_t shown = std::min<size_t>(ranges.size(), 4);
  while (shown > 1 && displayChars > 0 && text(shown).size() > displayChars) --shown;
  return text(shown);
}
