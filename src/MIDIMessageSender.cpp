#include "src/MIDIMessageSender.h"

#include <chrono>

MIDIMessageSender::MIDIMessageSender(Vexmir* plug, PatchManager* patchManager)
    : plug(plug), patchManager(patchManager) {}

void MIDIMessageSender::run(const SenderJob& j) {
  if (stopping()) return;
  if (jobRunner) {
    jobRunner(*this, j);
    return;
  }
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
