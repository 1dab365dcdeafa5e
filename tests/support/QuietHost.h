// The host callback of an editor object that a test makes without a host: it answers every request with 0, but the
// time with the tempo a test sets.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <thread>
#include <utility>

#include "platform/vst2/vst2.h"

namespace vexmir::testsupport {

inline std::atomic<double> hostTempo{0.0};  // none while 0
inline std::mutex toldLock;
inline std::map<const AEffect*, int> toldTo;  // the tells of each plug-in not looked at yet, under toldLock

inline intptr_t quietHost(AEffect* e, int32_t opcode, int32_t, intptr_t, void*, float) {
  thread_local VstTimeInfo time{};
  if (opcode == audioMasterUpdateDisplay) {
    std::lock_guard<std::mutex> lock(toldLock);
    ++toldTo[e];
  }
  if (opcode != audioMasterGetTime || hostTempo <= 0.0) return 0;
  time.tempo = hostTempo, time.flags = kVstTempoValid;
  return reinterpret_cast<intptr_t>(&time);
}

// The times the host was told that e's project changed since the last look, on any thread.
inline int toldSoFar(const AEffect* e) {
  std::lock_guard<std::mutex> lock(toldLock);
  return std::exchange(toldTo[e], 0);
}

// The same, the host's next idle included.
inline int toldOnIdle(AEffect* e) {
  e->dispatcher(e, effIdle, 0, 0, nullptr, 0.0f);
  return toldSoFar(e);
}

// The same where the host never idles the plug-in: waits for a tell, for ten seconds at most.
inline int toldUnidled(AEffect* e) {
  int n = 0;
  for (int i = 0; i < 500 && n == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20)), n = toldSoFar(e);
  return n;
}

}  // namespace vexmir::testsupport
