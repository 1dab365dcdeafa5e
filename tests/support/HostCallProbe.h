// Watches the host's calls into a plug-in loaded in this process for waits: the test program defines the
// waiting entry points (mutexes, conditions, sleeps, semaphores, thread joins and the JACK client calls that talk
// to the server) itself, so the plug-in's calls reach them first, and each hands on to the real function.
//
// A host call (the process call, effProcessEvents, effGetParameter, effSetParameter, effEditIdle and the editor's
// events) is marked with a HostCall scope on its thread. The probe then finds two kinds of fault:
//   - a host call that sleeps, waits on a condition or a semaphore, joins a thread or calls the JACK server;
//   - a lock that a host call takes (even at a moment nobody held it) and that some thread, at any moment of the
//     run, held across one of those waits. Such a lock stalls the host call whenever the two meet, so the check
//     does not depend on the two threads meeting during the test.
// The executable must export the entry points (HOST_CALL_PROBE_LINK_OPTIONS in tests/support/CMakeLists.txt).
// Under ThreadSanitizer, whose own definitions of those entry points must stay in force, the probe is off.
#pragma once

#include <string>
#include <vector>

namespace vexmir::testsupport::probe {

// True when the entry points are this program's own (not under ThreadSanitizer).
bool active();

// Marks the calling thread as inside a host call for the scope's life.
class HostCall {
 public:
  explicit HostCall(const char* name);
  ~HostCall();
  HostCall(const HostCall&) = delete;
  HostCall& operator=(const HostCall&) = delete;

 private:
  const char* previous_;
};

// Makes every client open, client close and graph read of the process that much slower (a loaded machine).
void slowJack(int openMillis, int closeMillis, int graphMillis);

// Forgets everything recorded so far.
void reset();
// The faults found since the last reset, each as one readable line with the call sites; empty when none.
std::vector<std::string> faults();
// How many locks host calls took, and how many locks were held across a wait (for the test's own report).
int hostLockCount();
int heldAcrossWaitCount();

}  // namespace vexmir::testsupport::probe
