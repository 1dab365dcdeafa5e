// The real editor object for the end-to-end job and fault tests: its ports on the emulator (or elsewhere), its
// jobs' pauses on a given clock, and when its clock ticks left it.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "KIT/mutex.h"
#include "src/LibrarianEditor.h"
#include "src/Vexmir.h"
#include "tests/jobs/editor_test_support.h"
#include "tests/support/EmulatorClient.h"

namespace jobtest {

class EmulatorPlug : public TestEditor {
 public:
  explicit EmulatorPlug(JobClock* clock) {
    setJobClock(clock);
    StartRelay();  // as the plug-in's entry does once it is made
  }
  ~EmulatorPlug() override {
    giveUpMidiWaits();  // as the host's close does first
    stopHostCallRelay();  // the relay calls this object's overrides: it ends before they go
    closeExternalMIDIPorts();  // as the host's close does: no message reaches an object being destroyed
    getMidiManager()->shutDown();
  }

  // Opens the output and input ports by name (an empty name leaves that side closed). A librarian program goes
  // out as stored: no tempo or part channel of the editor put in.
  bool connectTo(const std::string& out, const std::string& in) {
    getExternalMIDIOutNames();  // read anew: ports may have come or gone since
    getExternalMIDIInNames();
    {
      KIT_MutexLock lock(mMutex);  // the relay may rewrite the port menus meanwhile
      storeParamValue(kOverrideTempo, 0);
      storeParamValue(kLockPartMIDIch, 0);
      storeParamValue(kLockPartMIDIch + 1, 0);
    }
    int o = 1, i = 1;
    setExternalMIDIOut(o, out.c_str());
    setExternalMIDIIn(i, in.c_str());
    {
      KIT_MutexLock lock(mMutex);
      storeParamValue(kDeviceOutSelection, o);
      storeParamValue(kDeviceInSelection, i);
    }
    midiOutReady = o > 0;
    midiInReady = i > 0;
    return o > 0 && i > 0;
  }
  bool connect() {
    using vexmir::testsupport::EmulatorClient;
    return connectTo(EmulatorClient::emulatorInPort(), EmulatorClient::emulatorOutPort());
  }
  using TestEditor::run;
  // Starts job `code` with its flag argument (toEditor or temporary) on the job thread; run() waits for its end.
  bool start(int code, bool flag = true) {
    return getMidiManager()->startJob(MidiWorker::kJobThread, jobOf(code, flag));
  }
  bool run(int code, bool flag = true) { return run(jobOf(code, flag)); }
  // When each timing clock byte left this instance, on the jobs' own clock: what the clock loop controls,
  // whatever the machine's load does to the way to the synthesizer.
  bool SendMidiSysex(unsigned char* bytes, int length) override {
    if (onSend) onSend();
    // The function byte: after 42 3n 58, framed or not.
    const int at = length > 4 && bytes[0] == 0xF0 ? 4 : 3;
    if (length > at) ++sentFunctions[bytes[at] & 0x7F];
    return TestEditor::SendMidiSysex(bytes, length);
  }
  // Waits until the editor has sent more than `count` messages of `function` (0x10 a program request, 0x40 a program
  // dump); false after two minutes.
  bool waitSent(uint8_t function, int count) {
    for (int i = 0; i < 60000 && sentFunctions[function & 0x7F] <= count; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    return sentFunctions[function & 0x7F] > count;
  }
  int sent(uint8_t function) const { return sentFunctions[function & 0x7F]; }
  // The librarian's line, where news the musician did not ask for is said.
  std::string librarianLine() { return getLibrarianEditor()->lastMessage(); }
  // What the editor showed, for a failure's message: the jobs' texts, the librarian's line and the port menus.
  std::string shown() {
    std::string in, out;
    projectPortNames(&in, &out);
    return ::testing::PrintToString(texts()) + ", librarian \"" + librarianLine() + "\", MIDI IN " + in + " (menu " +
           std::to_string(paramValue(kDeviceInSelection)) + (isExternalMIDIInOpen() ? ", open)" : ", closed)") +
           ", MIDI OUT " + out + " (menu " + std::to_string(paramValue(kDeviceOutSelection)) +
           (isExternalMIDIOutOpen() ? ", open)" : ", closed)");
  }
  bool SendMidiSysex2(std::vector<unsigned char> bytes) override {
    if (bytes.size() == 1 && bytes[0] == 0xF8) {
      std::lock_guard<std::mutex> lock(mutex);
      tickTimes.push_back(JobClock::system().nowNanoseconds());
    }
    return Vexmir::SendMidiSysex2(std::move(bytes));
  }
  // The program name, read as the editor reads it: the MIDI input writes it under the plug-in mutex, and a late
  // answer may still be arriving.
  std::string heldProgramName() {
    KIT_MutexLock lock(GetMutex());
    return programName();
  }
  std::function<void()> onSend;  // on the sending thread as a job's SysEx leaves (set while no job runs)
  std::vector<int64_t> sentTicks() {
    std::lock_guard<std::mutex> lock(mutex);
    return tickTimes;
  }

 private:
  std::mutex mutex;
  std::vector<int64_t> tickTimes;
  std::atomic<int> sentFunctions[128] = {};
};

// A case of the editor object against the fixture's emulator, reset to its power-on state: a data folder with an
// open bank, and the jobs' pauses 40 times shorter than the editor's own in this build (the exchange itself is real).
class EmulatorTest : public ::testing::Test {
 protected:
  void SetUp() override { emulator.reset(); }
  DataRoot root;
  vexmir::testsupport::EmulatorClient emulator;
  ScaledJobClock clock{40};
};

}  // namespace jobtest
