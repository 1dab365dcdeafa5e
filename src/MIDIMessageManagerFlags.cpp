// The protocol's flags in one place: what each job sets when it starts, what it leaves behind when it ends
// (nothing), and the rules that tie every flag to the job that owns it.
#include <string>
#include <vector>

#include "src/MIDIMessageManager.h"
#include "src/PatchLibrarian.h"
#include "src/Vexmir.h"

namespace {

bool onJobThread(int job) {
  return job >= kJobSendArrangement && job <= kJobDeviceIdEnquiry;
}

}  // namespace

void MIDIMessageManager::setWaiting(bool on) {
  if (on && plug) waitingSince = plug->ticks();
  dumpPending = on;
}

bool MIDIMessageManager::isWaiting() {
  if (!dumpPending) return false;
  if ((jobFetchesIntoEditor && isWorkerBusy(MidiWorker::kJobThread)) || !plug) return true;
  // Unsigned arithmetic, so the wrap of the tick counter is harmless.
  if (static_cast<uint32_t>(plug->ticks() - waitingSince) <= kUnansweredWaitMs) return true;
  dumpPending = false;
  return false;
}

void MIDIMessageManager::beginJob(const SenderJob& job) {
  if (!plug) return;
  if (onJobThread(job.job)) {
    const bool request = job.job == kJobActiveArrangementRequest || job.job == kJobPartRequest;
    jobFetchesIntoEditor = (request && job.toEditor) || job.job == kJobSendLibrarianPatch;
    jobWritesIntoLibrarian = (request && !job.toEditor) || (job.job == kJobSendArrangement && job.arrangementFlag) ||
                             job.job == kJobSinglePatchRequest || job.job == kJobAllPatchRequest ||
                             job.job == kJobInitClassicPatch;
    jobSendsLibrarian = job.job == kJobSendLibrarianPatch || job.job == kJobStoreAllPatches;
  }
  switch (job.job) {
    case kJobSendArrangement:
      if (job.recalledSend) plug->beginRecalledSend();
      arrangementBusy = true;
      break;
    case kJobSendGlobal:
    case kJobSendLibrarianPatch:
    case kJobStoreAllPatches:
      arrangementBusy = true;
      break;
    case kJobActiveArrangementRequest:
    case kJobPartRequest:
      replyTaken = false;
      if (job.toEditor) setWaiting(true);
      break;
    case kJobSinglePatchRequest:
      // The job arms the request itself, once its program change has gone out.
      allRequest.disarm();
      singleRequest.disarm();
      replyTaken = false;
      break;
    case kJobAllPatchRequest:
      singleRequest.disarm();
      allRequest.arm();
      replyTaken = false;
      break;
    case kJobDeviceIdEnquiry:
      replyTaken = false;
      plug->answerReceived = false;
      plug->connectPending = true;
      break;
    default:
      break;
  }
}

void MIDIMessageManager::endJob(const SenderJob& job) {
  if (!plug || !onJobThread(job.job)) return;
  jobWritesIntoLibrarian = false;
  jobSendsLibrarian = false;
  dumpPending = false;
  plug->connectPending = false;
  singleRequest.disarm();
  allRequest.disarm();
  channelSearchActive = false;
  switchedProgramAwaited = false;
  readingStoreResults = false;
  arrangementBusy = false;
  plug->deviceBusy = false;
  plug->dumpSendRunning = false;
  plug->bankReceiveActive = false;
  if (librarian) librarian->bankDumpFromHardware = false;
  // A job that returned early at shut-down leaves the surface alone: it is being taken down.
  if (plug->isProcessingIndicatorShown() && !sender->stopping()) plug->DisplayProcessingIndicator(false);
}

std::vector<std::string> MIDIMessageManager::protocolViolations() const {
  std::vector<std::string> broken;
  if (!plug || workers[static_cast<int>(MidiWorker::kJobThread)].busy) return broken;
  auto rule = [&](bool set, const char* text) {
    if (set) broken.emplace_back(text);
  };
  const bool unansweredTooLong = static_cast<uint32_t>(plug->ticks() - waitingSince) > kUnansweredWaitMs;
  rule(dumpPending && unansweredTooLong, "the editor waits for a dump that no request asked for");
  rule(plug->connectPending, "connect pending without a connection job");
  rule(singleRequest.active, "the single-program request is armed without its job");
  rule(allRequest.active, "the all-programs request is armed without its job");
  rule(arrangementBusy, "a program send is marked busy without its job");
  rule(jobWritesIntoLibrarian, "the open bank is held for a transfer that does not run");
  rule(channelSearchActive, "a channel search is marked running without its job");
  rule(readingStoreResults, "a store's results are read without its job");
  rule(plug->deviceBusy || plug->dumpSendRunning, "input is blocked for a program send that does not run");
  rule(plug->bankReceiveActive, "a bank receive is marked running without its job");
  rule(plug->isProcessingIndicatorShown(), "the processing indicator shows without a job");
  return broken;
}
