#include "src/MIDIMessageManager.h"

#include <pthread.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <exception>

#include "KIT/IEffect/IControl.h"
#include "KIT/IEffect/IParam.h"
#include "src/ProgramDump.h"
#include "src/Vexmir.h"

void MIDIMessageManager::moveControl(IControl* control, int value, bool fromMinimum) {
  IParam* p = control ? control->GetParam() : nullptr;
  if (!p) return;
  const double range = p->GetMax() - p->GetMin();
  if (!(range > 0.0)) return;
  const double v = fromMinimum ? value - p->GetMin() : value;
  control->SetValueFromHardware(std::clamp(v / range, 0.0, 1.0));
}

void LibraryPatchRequest::arm() {
  std::lock_guard<std::mutex> guard(lock);
  patch.messages.clear();
  patch.name.clear();
  active = true;
}

bool LibraryPatchRequest::addMessageData(const uint8_t* bytes, int length, LibrarianPatch* done) {
  if (!bytes || length <= 0) return false;
  std::lock_guard<std::mutex> guard(lock);
  if (!active) return false;
  patch.messages.emplace_back().data.assign(bytes, static_cast<size_t>(length));
  if (length != kProgramDumpSize) return false;
  // The name is that of the program dump itself (not of a stray shorter message before it): bytes 6 to 18
  // without the zero bytes (byte 13 is a top-bit byte).
  patch.name.clear();
  for (int i = 6; i <= 18; ++i)
    if (bytes[i] != 0) patch.name.push_back(static_cast<char>(bytes[i]));
  active = false;
  if (done) *done = patch;
  return true;
}

LibrarianPatch LibraryPatchRequest::program() const {
  std::lock_guard<std::mutex> guard(lock);
  return patch;
}

thread_local bool MIDIMessageManager::feedingOwnDump = false;

MIDIMessageManager::MIDIMessageManager(Vexmir* plug, PatchManager* patchManager, PatchLibrarian* librarian,
                                       IGraphics* graphics)
    : plug(plug),
      patchManager(patchManager),
      graphics(graphics),
      librarian(librarian),
      sender(new MIDIMessageSender(plug, patchManager)),
      programRandomizer(new ProgramRandomizer(static_cast<uint32_t>(std::time(nullptr)) ^
                                              static_cast<uint32_t>(reinterpret_cast<uintptr_t>(this)))) {
  static const char* const names[] = {"vexmir-jobs", "vexmir-clockctl", "vexmir-clock"};
  for (int i = 0; i < 3; ++i) {
    workers[i].sender = sender.get();
    workers[i].hub = this;
    workers[i].name = names[i];
  }
}

MIDIMessageManager::~MIDIMessageManager() {
  shutDown();
}

void MIDIMessageManager::Worker::run() {
  pthread_setname_np(pthread_self(), name);
  std::unique_lock<std::mutex> lock(hub->startLock);
  for (;;) {
    wake.wait(lock, [this] { return hasJob || hub->shutDownDone; });
    if (!hasJob) return;
    SenderJob mine = std::move(job);
    job = SenderJob();
    hasJob = false;
    lock.unlock();
    // Nothing may leave a thread entry: a failing job ends, the worker becomes free again.
    try {
      sender->run(mine);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "Vexmir: transfer job %d failed: %s\n", mine.job, e.what());
    } catch (...) {
      std::fprintf(stderr, "Vexmir: transfer job %d failed\n", mine.job);
    }
    try {
      hub->endJob(mine);
    } catch (...) {
    }
    busy = false;
    // What waited for a free worker (a recalled program's send) is started from the relay's thread.
    if (hub->plug) hub->plug->GetHostCallRelay().requestDeferredWork();
    lock.lock();
  }
}

bool MIDIMessageManager::startJob(MidiWorker which, const SenderJob& job) {
  Worker& w = workers[static_cast<int>(which)];
  std::lock_guard<std::mutex> lock(startLock);
  if (shutDownDone || w.busy) return false;
  try {
    if (!w.thread.joinable()) w.thread = std::thread([&w] { w.run(); });
    w.job = job;
    w.busy = true;
    beginJob(w.job);
    w.hasJob = true;
    w.wake.notify_one();
    return true;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "Vexmir: transfer job %d not started: %s\n", job.job, e.what());
  } catch (...) {
    std::fprintf(stderr, "Vexmir: transfer job %d not started\n", job.job);
  }
  w.hasJob = false;
  endJob(job);
  w.busy = false;
  return false;
}

bool MIDIMessageManager::isWorkerBusy(MidiWorker which) const {
  return workers[static_cast<int>(which)].busy;
}

bool MIDIMessageManager::ignoredDuringJob(const std::string& what) {
  if (!isWorkerBusy(MidiWorker::kJobThread)) return false;
  sender->showStatus(ignoredText(what));
  return true;
}

void MIDIMessageManager::shutDown() {
  {
    std::lock_guard<std::mutex> lock(startLock);
    if (shutDownDone) return;
    shutDownDone = true;
  }
  // From here on no start succeeds, so the workers are joined without the start lock: a job that tries to
  // start another one while it ends must not wait for us.
  sender->requestStop();
  sender->resetContinuousClock(true);
  for (Worker& w : workers) {
    {
      std::lock_guard<std::mutex> lock(startLock);
      w.wake.notify_all();
    }
    if (!w.thread.joinable()) continue;
    try {
      w.thread.join();
    } catch (...) {
    }
  }
}
