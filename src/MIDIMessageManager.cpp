#include "src/MIDIMessageManager.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <exception>

#include "KIT/IEffect/IControl.h"
#include "KIT/IEffect/IParam.h"
#include "src/ProgramDump.h"

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
    workers[i].thread.setName(names[i]);
  }
}

MIDIMessageManager::~MIDIMessageManager() {
  shutDown();
}

void MIDIMessageManager::Worker::run() {
  // Nothing may leave a thread entry: a failing job ends, the worker becomes free again.
  try {
    sender->run(job);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "Vexmir: transfer job %d failed: %s\n", job.job, e.what());
  } catch (...) {
    std::fprintf(stderr, "Vexmir: transfer job %d failed\n", job.job);
  }
  try {
    if (hub) hub->endJob(job);
  } catch (...) {
  }
  busy = false;
}

bool MIDIMessageManager::startJob(MidiWorker which, const SenderJob& job) {
  Worker& w = workers[static_cast<int>(which)];
  std::lock_guard<std::mutex> lock(startLock);
  if (shutDownDone || w.busy) return false;
  try {
    // The last job has returned (busy is clear); its thread ends in a moment and is joined before the next
    // start, so that the thread object never starts over a thread still alive.
    if (w.needsJoin) {
      w.thread.join();
      w.needsJoin = false;
    }
    w.job = job;
    w.busy = true;
    beginJob(w.job);
    w.thread.start(w);
    w.needsJoin = true;
    return true;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "Vexmir: transfer job %d not started: %s\n", job.job, e.what());
  } catch (...) {
    std::fprintf(stderr, "Vexmir: transfer job %d not started\n", job.job);
  }
  endJob(job);
  w.busy = false;
  return false;
}

bool MIDIMessageManager::isWorkerBusy(MidiWorker which) const {
  return workers[static_cast<int>(which)].busy;
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
    if (!w.needsJoin) continue;
    try {
      w.thread.join();
    } catch (...) {
    }
    w.needsJoin = false;
  }
}
