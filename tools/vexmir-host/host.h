// The test host: loads one VST 2 plug-in, answers its requests, and writes everything that happens to a transcript.
#pragma once

#include <pthread.h>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <thread>

#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "platform/vst2/vst2.h"

namespace vexhost {

// The transcript: one line per event on stdout. Identical request lines in a row are folded into one with a count,
// so that a request made on every block does not drown the rest. Any thread may write.
class Transcript {
 public:
  explicit Transcript(FILE* out) : out_(out) {}
  void line(const std::string& text);
  // A request line: may be folded with the previous identical one.
  void request(const std::string& text);
  void flush();

 private:
  void emitPendingLocked();
  std::mutex mutex_;
  FILE* out_;
  std::string pending_;
  int pendingCount_ = 0;
};

// What the host says about itself, settable by the script before or after loading.
struct HostIdentity {
  std::string product = "vexmir-host";
  std::string vendor = "Vexmir";
  intptr_t vendorVersion = 10000;  // 1.0.0 in the decimal form hosts use
  intptr_t vstVersion = kVstVersion;
};

// The scripted transport, copied into the time record the plug-in reads with audioMasterGetTime.
struct Transport {
  bool playing = false;
  bool recording = false;
  bool cycle = false;
  double tempo = 120.0;
  double ppq = 0.0;
  double samplePos = 0.0;
  double barStart = 0.0;
  double cycleStart = 0.0;
  double cycleEnd = 0.0;
  int sigNumerator = 4;
  int sigDenominator = 4;
  bool changed = false;  // reported once, in the next time record
};

// One host event queued for the plug-in's next effProcessEvents.
struct HostEvent {
  bool sysex = false;
  int32_t delta = 0;
  std::vector<uint8_t> bytes;
};

// A thread of the host (its audio thread, or a thread that runs script steps as a host's editor thread does): it runs
// one job at a time for the script's thread, which waits. The destructor ends the thread and waits for it, so its
// thread-local objects are gone when it returns.
class JobThread {
 public:
  explicit JobThread(bool audio) : audio_(audio) {}
  ~JobThread();
  JobThread(const JobThread&) = delete;
  JobThread& operator=(const JobThread&) = delete;
  void run(const std::function<void()>& job);
  // True on the audio thread.
  static bool isAudio();

 private:
  void loop();
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable cv_;
  const std::function<void()>* job_ = nullptr;
  bool done_ = false;
  bool quit_ = false;
  const bool audio_;
};

class Host {
 public:
  explicit Host(Transcript* transcript);
  ~Host();
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;

  // Loads the library and calls its entry. On failure returns false with a message for the user in *error.
  bool load(const std::string& path, std::string* error);
  // Lets go of the library with dlclose, as a host does when the plug-in is removed or the session closes (the effect
  // must have been closed); then a plug-in may be loaded again. Answers whether the module has left the process.
  bool unload();
  bool loaded() const { return effect_ != nullptr; }
  AEffect* effect() const { return effect_; }
  const std::string& path() const { return path_; }

  // Calls the dispatcher with the host lock that marks the main thread's calls.
  intptr_t dispatch(int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt);

  // Sends the queued events (if any) with effProcessEvents, then one block of the given precision:
  // "float" (processReplacing), "double" (processDoubleReplacing) or "accumulate" (process).
  // Returns false with *error when the plug-in offers no such call.
  // With onAudioThread the call runs on the host's audio thread (as in a real host), else on the caller's.
  bool processBlock(const std::string& precision, int frames, const std::string& input, bool onAudioThread,
                    std::string* error);
  // Sends the queued events now; returns the dispatcher result, or 0 when the queue was empty.
  intptr_t flushEvents();

  HostIdentity identity;
  // Read by plug-in threads through audioMasterGetTime: change it only while holding transportMutex().
  Transport transport;
  std::mutex& transportMutex() { return timeMutex_; }
  double sampleRate = 44100.0;  // both under transportMutex() once a plug-in runs
  int blockSize = 512;
  std::vector<HostEvent> events;
  bool fullSysex = false;  // print SysEx events in full rather than head and tail
  std::string sysexText(const uint8_t* bytes, size_t n) const;
  Transcript& out() { return *transcript_; }

  // processDoubleReplacing, or null. Plug-ins built against shorter copies of the record end it after processReplacing,
  // so the field is read only when the flags promise double precision.
  AEffectProcessDoubleProc doubleProc() const;

  // The single host of this process, for the C callback.
  static Host* current();

 private:
  static intptr_t callback(AEffect* effect, int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt);
  intptr_t answer(AEffect* effect, int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt,
                  std::string* detail);
  // Fills the calling thread's own time record, so that two threads asking at once never share one.
  VstTimeInfo* fillTimeInfo(intptr_t filter);
  void advanceTransport(int frames);

  Transcript* transcript_;
  void* library_ = nullptr;
  AEffect* effect_ = nullptr;
  std::string path_;
  std::mutex timeMutex_;
  JobThread audio_{true};
  pthread_t mainThread_;
};

// "0.5" style text for a float, stable across runs.
std::string formatFloat(double v, int digits = 6);
// "90 3c 64" for bytes.
std::string hexBytes(const uint8_t* bytes, size_t n);
// The text in buf up to its terminator or size, with quotes and control characters escaped, in quotes.
std::string quoted(const char* buf, size_t size);

}  // namespace vexhost
