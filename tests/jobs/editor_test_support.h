// What the tests of the real editor object share: the object made without a host, a data folder with an open
// bank, and the slot the librarian's view shows highlighted.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "KIT/IEffect/IGraphics.h"
#include "KIT/pix/pix.h"
#include "src/LibrarianViewControl.h"
#include "src/MIDIMessageManager.h"
#include "src/MIDIMessageSender.h"
#include "src/PatchFile.h"
#include "src/PatchLibrarian.h"
#include "src/ProgramDump.h"
#include "src/Vexmir.h"
#include "tests/support/QuietHost.h"
#include "tests/support/SysexDumps.h"
#include "tests/support/TempRoot.h"

namespace jobtest {

using vexmir::testsupport::framedSysex;
using vexmir::testsupport::quietHost;

// A data folder with one bank of "Init Sound" programs in "Patches", so that the librarian has an open bank.
class DataRoot : public vexmir::testsupport::TempRoot {
 public:
  DataRoot() : TempRoot("jobs") {
    const std::string patches = Vexmir::getPatchesFolderStr();
    std::filesystem::create_directories(patches);
    PatchFile bank;
    bank.patches.resize(128);
    for (LibrarianPatch& p : bank.patches)
      p.messages.emplace_back().data.assign(initialProgramDump(), kProgramDumpSize);
    PatchLibrarian::writeBankFile(bank, patches + "/Init.vmr", false);
  }
};

// The editor object as the tests make it, without a host: the texts its jobs show are recorded (and handed to a
// hook on the job's thread), and a test runs its jobs, presses its controls, plays a host block and reads the
// librarian's open bank. A subclass that records into members of its own shuts the jobs down in its destructor.
class TestEditor : public Vexmir {
 public:
  TestEditor() : Vexmir(IEffectInstanceInfo{quietHost}) {
    getMidiManager()->getSender()->statusObserver = [this](const std::string& text) {
      std::function<void(const std::string&)> hook;
      {
        std::lock_guard<std::mutex> lock(textsMutex);
        statusTexts.push_back(text);
        hook = onStatus;
      }
      if (hook) hook(text);
    };
  }

  // Starts a job on `worker` and waits until it has ended. The bounds only end a hung case: a whole bank at the
  // synthesizer's own pace under ThreadSanitizer on a loaded machine takes minutes.
  bool run(const SenderJob& job, MidiWorker worker = MidiWorker::kJobThread, int timeoutSeconds = 600) {
    return getMidiManager()->startJob(worker, job) && waitIdle(worker, timeoutSeconds);
  }
  // Waits for what the relay's thread was handed (a recall's port reopening, a job the audio block asked for)
  // and then for the worker.
  bool waitIdle(MidiWorker worker = MidiWorker::kJobThread, int timeoutSeconds = 600) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    while (!GetHostCallRelay().idle() || getMidiManager()->isWorkerBusy(worker)) {
      if (std::chrono::steady_clock::now() > end) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
  }
  // A control set to a plain value as the editor's own controls set it.
  void press(int idx, double plain) {
    {
      KIT_MutexLock lock(mMutex);  // as the editor's controls hold it: the relay rewrites port menus meanwhile
      storeParamValue(idx, plain);
    }
    OnParamChange(idx);
  }
  // One host block of 64 frames.
  void audioBlock() {
    double* none[2] = {nullptr, nullptr};
    ProcessDoubleReplacing(none, none, 64);
  }
  std::vector<LibrarianPatch> openBank() {
    PatchLibrarian* lib = getLibrarian();
    std::unique_lock<std::mutex> lock = lib->lockBanks();
    PatchFile* bank = lib->bankAt(lib->upperBankIndex);
    return bank ? bank->patches : std::vector<LibrarianPatch>{};
  }

  void setStatusHook(std::function<void(const std::string&)> hook) {
    std::lock_guard<std::mutex> lock(textsMutex);
    onStatus = std::move(hook);
  }
  std::vector<std::string> texts() {
    std::lock_guard<std::mutex> lock(textsMutex);
    return statusTexts;
  }
  std::string lastText() {
    std::lock_guard<std::mutex> lock(textsMutex);
    return statusTexts.empty() ? std::string() : statusTexts.back();
  }

 private:
  std::mutex textsMutex;
  std::vector<std::string> statusTexts;
  std::function<void(const std::string&)> onStatus;
};

// Job `code`, its flag argument (toEditor and temporary) as given.
inline SenderJob jobOf(int code, bool flag = false) {
  SenderJob job;
  job.job = code;
  job.toEditor = flag;
  job.temporary = flag;
  return job;
}

// The slot of a side that the slot view highlights once drawn, -1 for none: read from the pixels (the light grey
// fill at a slot's right end), as the musician sees it, not from any field.
inline int drawnSlot(IGraphics* g, LibrarianViewControl* view, int side) {
  IRECT area = *view->GetRECT();
  const IColor black(255, 0, 0, 0);
  g->FillIRect(&black, &area);
  view->Draw(g);
  for (int slot = 0; slot < LibrarianViewControl::kSlots; ++slot) {
    const IRECT r = view->slotRect(side, slot);
    if (PIX_GetPixel(g->GetDrawBitmap(), r.R - 2, r.T + 1) >> 8 == 0xE1E1E1u) return slot;
  }
  return -1;
}

}  // namespace jobtest
