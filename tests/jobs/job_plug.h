// An editor object for the transfer-job tests: parameters with the codec's ranges (as the user-interface
// description gives them), every message that would leave through the output port recorded instead, a
// manual job clock, and an optional synthesizer model that answers requests on one channel.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "KIT/IEffect/IParam.h"
#include "src/MIDIMessageManager.h"
#include "src/Vexmir.h"
#include "src/VexmirParams.h"
#include "tests/jobs/editor_test_support.h"

namespace jobtest {

using Bytes = std::vector<uint8_t>;

class JobPlug : public TestEditor {
 public:
  JobPlug() {
    for (int i = 0; i < kNumParams; ++i) {
      const ParamInfo& info = paramInfo(i);
      if (i == kPatchName)
        GetParam(i)->InitText();
      else
        GetParam(i)->InitDouble(info.name ? info.name : "", info.defaultValue, info.min, info.max, 1.0);
      GetParam(i)->Set(info.defaultValue);
    }
    GetParam(kMainTab)->InitInt("kMainTab", 2, 0, 4);
    GetParam(kQuickTab)->InitInt("kQuickTab", 0, 0, 1);
    GetParam(kLibSyncTimer)->InitInt("kLibSyncTimer", 4, 0, 4);
    GetParam(kLibSyncTimer)->Set(4);  // pacing of 100 ms
    midiOutReady = true;
    setJobClock(&clock);
    clock.setSleepHook([this](int) { onSleep(); });
    StartRelay();  // as the plug-in's entry does once it is made
  }
  ~JobPlug() override {
    stopHostCallRelay();  // the relay calls this object's overrides: it ends before they go
    if (getMidiManager()) getMidiManager()->shutDown();
    clock.setSleepHook(nullptr);
  }

  bool SendMidiMsg(IMidiMsg* m) override {
    record(Bytes{m->mStatus, m->mData1, m->mData2});
    return true;
  }
  bool SendMidiSysex(unsigned char* b, int n) override {
    record(framedSysex(b, n));
    return true;
  }
  bool SendMidiSysex2(std::vector<unsigned char> v) override {
    record(Bytes(v.begin(), v.end()));
    return true;
  }
  // The SysEx input as the live loop has it, reduced to what the jobs look at: a program dump handed back
  // is taken in (the editor's answer flag).
  void ProcessSysEx(ISysEx*, bool) override { answerReceived = true; }

  std::vector<Bytes> messages() {
    std::lock_guard<std::mutex> lock(mutex);
    return sent;
  }
  void clearMessages() {
    std::lock_guard<std::mutex> lock(mutex);
    sent.clear();
  }

  ManualJobClock clock;
  // The synthesizer model: answers a program or global request sent on its channel (-1: silent).
  std::atomic<int> synthChannel{-1};
  // Runs after every pause of a job, before the synthesizer model.
  std::function<void()> onPause;

 private:
  void record(const Bytes& b) {
    std::lock_guard<std::mutex> lock(mutex);
    sent.push_back(b);
    if (b.size() == 6 && b[0] == 0xF0 && b[1] == 0x42 && (b[4] == 0x10 || b[4] == 0x0E) && synthChannel >= 0 &&
        (b[2] & 0x0F) == synthChannel)
      pendingAnswer = true;
  }
  void onSleep() {
    if (onPause) onPause();
    bool answer = false;
    {
      std::lock_guard<std::mutex> lock(mutex);
      answer = pendingAnswer;
      pendingAnswer = false;
    }
    if (answer) answerReceived = true;
  }

  std::mutex mutex;
  std::vector<Bytes> sent;
  bool pendingAnswer = false;
};

inline bool isRequest(const Bytes& b, uint8_t function) {
  return b.size() == 6 && b[0] == 0xF0 && b[1] == 0x42 && b[3] == 0x58 && b[4] == function && b[5] == 0xF7;
}

}  // namespace jobtest
