// Every call of ours that talks to a JACK server, and everything libjack's threads can reach of ours.
//
// One thread of the process (the owner) makes every such call, ours and the MIDI library's on our behalf: clients
// opened and closed, ports registered, connected and removed, the graph read. A caller hands it a piece of work and
// waits for it: a host's call for about a second from its arrival, another thread longer. A server that does not
// answer holds the owner, never the caller. Whether it is silent is a fact about the server, never about how long our
// work takes: it has ended (libjack tells), or it runs no cycles (our helpers' process callbacks stop). A caller that
// stops waiting on a server that runs (a busy machine) takes nothing for an answer: the owner finishes the work and
// the instance takes its result up afterwards. Work runs in the order it was handed over, so that work handed over
// after a wait in vain (an object's close and deletion) runs after it: what the work touches is owned by it until it
// has run. The module stays loaded from the first client of ours on, as the owner and libjack's callbacks into it
// may run at any time until the process ends.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

class HostCallRelay;
class MidiInputDelivery;
class RtMidi;
class RtMidiIn;
class RtMidiOut;

namespace jackowner {

// The server of a direction without a JACK port object (none made, or made on ALSA): it cannot go away.
constexpr long kNoJackServer = -1;
// The server of a port object whose client the server running now does not know: it went away.
constexpr long kServerLost = -2;

// Whether the server a port object was made on has ended, as far as this process heard. No call to the server.
bool serverGone(long server);

// Whether a JACK server's end was counted since `heard` (which it updates). The relays to wake when one is (each with
// its `heard`, which its tick also looks at); the host's audio blocks (real-time safe: atomics only).
bool newServerEnd(std::atomic<long>* heard);
void hearServerEnds(HostCallRelay* relay, std::atomic<long>* heard, bool on);
void hostAudioRuns();
// The helpers' shutdown callback (libjack's thread, as it hears of the end: the first of the server's clients to hear
// counts it), given the count of ends its helper was made under. Atomics and one write only.
void serverEndHeard(void* server);
// Makes libjack's report functions of the process ours, which pass the reports on to the host's from a thread of
// ours (see JackOwner.cpp). Before a client of ours opens, and again after the host set a function of its own.
void routeReports();

// What a caller learns of work handed to the owner: kSilent when the server runs no cycles (stopped, hung) or has
// ended; kLate when the caller stopped waiting while the server ran (its work is finished by the owner, and the
// instances are woken to take what it left).
enum class Reply { kYes, kNo, kSilent, kLate };

// Whether the server of our clients has stopped running its cycles and does not answer. Where no cycle comes for a
// moment while the owner is not stuck in the server, a call that waits for the server's answer is handed over and
// waited for (as long as a stopped server takes to be read as one, a few seconds).
bool serverStopped();

// For the life of the object, the MIDI system's work asked for on this thread answers within about a second of its
// construction (a host's call); nested ones keep the first deadline.
class AnswerWithin {
 public:
  AnswerWithin();
  ~AnswerWithin();
  AnswerWithin(const AnswerWithin&) = delete;
  AnswerWithin& operator=(const AnswerWithin&) = delete;

 private:
  bool outer_;
};

// For the life of the object, a wait on this thread for the MIDI system ends (kLate) as soon as `flag` is set.
class GiveUpWhen {
 public:
  explicit GiveUpWhen(const std::atomic<bool>& flag);
  ~GiveUpWhen();
  GiveUpWhen(const GiveUpWhen&) = delete;
  GiveUpWhen& operator=(const GiveUpWhen&) = delete;

 private:
  const std::atomic<bool>* before_;
};

// A helper client of a direction's own beside the library's (see JackOwner.cpp); released through the owner.
class HelperClient;
using Helper = std::shared_ptr<HelperClient>;

// A direction's port object. `problem` gets what the musician reads when none could be made: no MIDI system, a server
// that does not answer, or a host whose audio has not reconnected to the server since it ended.
struct MadePort {
  RtMidi* port = nullptr;
  long server = kNoJackServer;
  std::string own;  // the full name its port will have on JACK, "" elsewhere
  const char* problem = nullptr;
  bool late = false;  // the caller stopped waiting (problem says so): nothing was made for it
};
MadePort makeOutPort(int instance);
// The input's messages go to `delivery`, which must outlive the object: both are ended by endInPort, the delivery
// alone when no object came (it may still come unasked, and is ended before it).
MadePort makeInPort(int instance, unsigned int queueLimit, MidiInputDelivery* delivery);

// Ends the object (and then the delivery its callback feeds) on the owner, after any work handed over before; one of
// a server that went away is set aside instead. The caller gives them up: nothing of them is used again.
void endOutPort(RtMidi* port, long server);
void endInPort(RtMidi* port, long server, MidiInputDelivery* delivery);

// Whether a port object may still be used: its server runs (see serverRuns in JackOwner.cpp). Makes the direction's
// helper at the first use. kSilent or kLate as the wait for the owner ended (see Reply).
Reply serverRuns(std::atomic<long>* server, Helper* helper, const std::string& ownPort, const std::string& helperName);

// The object's port list, without `own` (names holds "OFF" alone unless kYes).
Reply listPorts(RtMidi* port, long server, std::vector<std::string>* names, const std::string& own);
// The library's current number of the port named, -1 when there is none, kSilentNumber or kLateNumber as the wait
// for the owner ended.
constexpr int kSilentNumber = -2;
constexpr int kLateNumber = -3;
int currentPortNumber(RtMidi* port, long server, const std::string& name);
// Opens the object's port to the library's port `number` (an input's callback feeds `delivery`).
Reply openPort(RtMidi* port, long server, unsigned int number, const char* portName, MidiInputDelivery* delivery);
Reply openVirtualPort(RtMidi* port, long server, const std::string& name);
Reply closePort(RtMidi* port, long server);
// Whether the graph the server runs connects the port named `otherEnd` to ours (its full name).
Reply connected(const Helper& helper, long server, const std::string& otherEnd, const std::string& ours);

// The name of a direction's helper client ("out" or "in").
std::string helperName(const char* direction, int instance);

// What the musician reads when the server runs no cycles, and while a call's work is still to be answered.
extern const char* const kSilentServerText;
extern const char* const kWaitingText;

}  // namespace jackowner

// A JACK connection carries data only once the server runs it in its process graph; a watch waits for that.
class JackConnectionWatch {
 public:
  JackConnectionWatch(jackowner::Helper helper, long server, std::string otherEnd, std::string ours);
  // False when the connection did not become live in time, its server went away or did not answer.
  bool waitUntilLive();

 private:
  jackowner::Helper helper_;  // kept open by the watch should the ports close meanwhile
  long server_;
  std::string otherEnd_;
  std::string ours_;
};
