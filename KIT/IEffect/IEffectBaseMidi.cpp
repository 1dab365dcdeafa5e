// The external MIDI input and output ports. Every call that talks to the MIDI system runs on its owner (JackOwner):
// a server that does not answer holds no caller here for long.
#include <rtmidi/RtMidi.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "KIT/IEffect/HostCallRelay.h"
#include "KIT/IEffect/IEffectBase.h"
#include "KIT/IEffect/JackOwner.h"
#include "KIT/IEffect/MidiInputDelivery.h"

using jackowner::kNoJackServer;
using jackowner::Reply;
using jackowner::serverGone;

namespace {

const char* const kInPortName = "RtMidi Input";
const char* const kOutPortName = "RtMidi Output";
constexpr unsigned int kInQueueLimit = 100;

int findName(const std::vector<std::string>& names, const char* name) {
  if (!name) return -1;
  for (size_t i = 0; i < names.size(); ++i)
    if (names[i] == name) return static_cast<int>(i);
  return -1;
}

// The position in `fresh` of the port that `selected` names in `kept`: 0 when none was chosen or it is gone.
int selectionIn(const std::vector<std::string>& kept, int selected, const std::vector<std::string>& fresh) {
  if (selected <= 0 || static_cast<size_t>(selected) >= kept.size()) return 0;
  return std::max(findName(fresh, kept[static_cast<size_t>(selected)].c_str()), 0);
}

}  // namespace

void IEffectBase::hostAudioRuns() {
  jackowner::hostAudioRuns();
}

void IEffectBase::midiSilent() {
  mMidiSystemProblem = jackowner::kSilentServerText;
  if (!mMidiSilent.exchange(true)) mRelay->requestDeferredWork();
}

// Nothing is taken for an answer: the operation stops where it is, and the instance takes its work up again on the
// relay once the owner has finished what was handed over (the relays are woken then), or once the caller has set the
// instance to wait for it.
void IEffectBase::midiLate() {
  mMidiLate = true;
}

bool IEffectBase::unanswered(Reply r) {
  if (r == Reply::kSilent) midiSilent();
  if (r == Reply::kLate) midiLate();
  return r == Reply::kSilent || r == Reply::kLate;
}

bool IEffectBase::takeMidiLate() {
  return mMidiLate.exchange(false);
}

bool IEffectBase::midiServerStopped() {
  if (mMidiSilent) return true;
  if (mOutServer == kNoJackServer && mInServer == kNoJackServer) return false;
  const jackowner::GiveUpWhen closing(mMidiClosing);  // a closing instance does not wait to know
  if (!jackowner::serverStopped()) return false;
  midiSilent();
  return true;
}

// One operation on the output port for the object's life: sends are held back meanwhile and go out at its end.
class IEffectBase::OutPortOperation {
 public:
  explicit OutPortOperation(IEffectBase* plug) : plug_(plug), operation_(plug->mMidiOutOpLock) {
    std::lock_guard<std::mutex> lock(plug_->mMidiOutLock);
    plug_->mMidiOutOpInProgress = true;
  }
  // What was held goes out in order. An operation that waited for a connection may have held many messages, and the
  // library's send waits for room in its buffer: they go out without the send lock, while what is sent meanwhile is
  // still held and follows them (this operation alone sends until it ends).
  ~OutPortOperation() {
    for (;;) {
      std::vector<std::vector<unsigned char>> held;
      {
        std::lock_guard<std::mutex> lock(plug_->mMidiOutLock);
        if (plug_->mMidiOutHeld.empty()) {
          plug_->mMidiOutOpInProgress = false;
          plug_->mMidiOutOpen = plug_->mMidiOut && !plug_->mMidiSilent && plug_->mMidiOut->isPortOpen() &&
                                !serverGone(plug_->mOutServer);
          return;
        }
        held.swap(plug_->mMidiOutHeld);
      }
      for (const std::vector<unsigned char>& m : held) plug_->sendNowLocked(m.data(), m.size());
    }
  }
  OutPortOperation(const OutPortOperation&) = delete;
  OutPortOperation& operator=(const OutPortOperation&) = delete;
  // Sets the port object and its names as senders see them (the operation may read them without the lock).
  void publish(RtMidiOut* port, std::vector<std::string>* names) {
    std::lock_guard<std::mutex> lock(plug_->mMidiOutLock);
    plug_->mMidiOut = port;
    if (!names) return;
    plug_->mMidiOutNames = std::move(*names);
    plug_->publishListed(1, plug_->mMidiOutNames);
  }

 private:
  IEffectBase* plug_;
  std::lock_guard<std::mutex> operation_;
};

// A list read while no MIDI system answered holds "OFF" alone and is read again on the next request.
std::vector<std::string> IEffectBase::getExternalMIDIOutNames() {
  {
    std::lock_guard<std::mutex> lock(mMidiOutLock);
    if (!mMidiOutNames.empty() && mMidiOut) return mMidiOutNames;
  }
  OutPortOperation op(this);
  mSelectedMIDIOut = 0;
  RtMidiOut* port = mMidiOut;
  if (port) {
    outServerRuns();
  } else {
    jackowner::MadePort made = jackowner::makeOutPort(mMidiInstance);
    port = static_cast<RtMidiOut*>(made.port);
    mOutServer = made.server;
    if (port) setOwnPortName(1, made.own);
    if (!port) mOutHelper.reset();
    if (made.late) midiLate();
    if (!made.late) mMidiSystemProblem = made.problem;
  }
  std::vector<std::string> names;
  if (!mMidiSilent && !mMidiLate) unanswered(jackowner::listPorts(port, mOutServer, &names, ownPortName(0)));
  if (names.empty()) names.assign(1, "OFF");
  std::vector<std::string> copy = names;
  // A list not read in time is not published: what the menus and the project name stays as it was.
  if (mMidiLate) names.clear();
  op.publish(port, mMidiLate ? nullptr : &names);
  return copy;
}

std::vector<std::string> IEffectBase::getExternalMIDIInNames() {
  std::lock_guard<std::mutex> lock(mMidiInLock);
  if (!mMidiInNames.empty() && mMidiIn) return mMidiInNames;
  mSelectedMIDIIn = 0;
  mMidiInNames.clear();
  if (mMidiIn) {
    inServerRuns();
  } else {
    if (!mMidiInDelivery) mMidiInDelivery = new MidiInputDelivery(this);
    jackowner::MadePort made = jackowner::makeInPort(mMidiInstance, kInQueueLimit, mMidiInDelivery);
    mMidiIn = static_cast<RtMidiIn*>(made.port);
    mInServer = made.server;
    if (made.late) midiLate();
    if (!made.late) mMidiSystemProblem = made.problem;
    if (mMidiIn) {
      setOwnPortName(0, made.own);
    } else {
      // An object made after its caller stopped waiting still points at the delivery: it goes after that object.
      mMidiInDelivery->stop();
      jackowner::endInPort(nullptr, kNoJackServer, mMidiInDelivery);
      mMidiInDelivery = nullptr;
      mInHelper.reset();
    }
  }
  if (!mMidiSilent && !mMidiLate) unanswered(jackowner::listPorts(mMidiIn, mInServer, &mMidiInNames, ownPortName(1)));
  if (mMidiInNames.empty()) mMidiInNames.assign(1, "OFF");
  if (mMidiLate) {
    // Not published, and read again at the next request.
    std::vector<std::string> unread;
    unread.swap(mMidiInNames);
    return unread;
  }
  publishListed(0, mMidiInNames);
  return mMidiInNames;
}

// The port stays open under its new position; when its port is gone, it is closed (it could carry nothing more).
// Nothing of a server that went away is touched: both ports go and the list is read from whatever server answers.
std::vector<std::string> IEffectBase::rereadExternalMIDIOutNames() {
  forgetGoneMIDIServer();
  {
    OutPortOperation op(this);
    if (mMidiOut && !mMidiOutNames.empty()) {
      std::vector<std::string> names;
      outServerRuns();
      if (mMidiSilent || mMidiLate || unanswered(jackowner::listPorts(mMidiOut, mOutServer, &names, ownPortName(0)))) {
        if (!mMidiLate) midiSilent();
        return mMidiOutNames;
      }
      const int selected = selectionIn(mMidiOutNames, mSelectedMIDIOut, names);
      if (selected == 0 && mSelectedMIDIOut > 0) closeOutputPort();
      mSelectedMIDIOut = selected;
      std::vector<std::string> copy = names;
      op.publish(mMidiOut, &names);
      return copy;
    }
  }
  return getExternalMIDIOutNames();
}

std::vector<std::string> IEffectBase::rereadExternalMIDIInNames() {
  forgetGoneMIDIServer();
  {
    std::lock_guard<std::mutex> lock(mMidiInLock);
    if (mMidiIn && !mMidiInNames.empty()) {
      std::vector<std::string> names;
      inServerRuns();
      if (mMidiSilent || mMidiLate || unanswered(jackowner::listPorts(mMidiIn, mInServer, &names, ownPortName(1)))) {
        if (!mMidiLate) midiSilent();
        return mMidiInNames;
      }
      const int selected = selectionIn(mMidiInNames, mSelectedMIDIIn, names);
      if (selected == 0 && mSelectedMIDIIn > 0) {
        mMidiInShut.store(true, std::memory_order_release);
        closeInputPort();
      }
      mSelectedMIDIIn = selected;
      mMidiInNames = names;
      publishListed(0, names);
      return names;
    }
  }
  return getExternalMIDIInNames();
}

bool IEffectBase::forgetGoneMIDIServer() {
  if (!midiServerGone()) return false;
  dropExternalMIDIPorts();
  return true;
}

bool IEffectBase::midiServerEnded() const {
  return mMidiSilent || serverGone(mOutServer) || serverGone(mInServer);
}

bool IEffectBase::midiServerGone() {
  {
    std::lock_guard<std::mutex> operation(mMidiOutOpLock);
    if (!outServerRuns()) return true;
  }
  std::lock_guard<std::mutex> lock(mMidiInLock);
  return !inServerRuns();
}

// Each holds its direction's lock.
bool IEffectBase::outServerRuns() {
  return portServerRuns(mMidiOut != nullptr, &mOutServer, &mOutHelper, 1);
}

bool IEffectBase::inServerRuns() {
  return portServerRuns(mMidiIn != nullptr, &mInServer, &mInHelper, 0);
}

bool IEffectBase::portServerRuns(bool made, std::atomic<long>* server,
                                 std::shared_ptr<jackowner::HelperClient>* helper, int out) {
  if (mMidiSilent) return false;
  if (!made) return true;
  const Reply r = jackowner::serverRuns(server, helper, ownPortName(out),
                                        jackowner::helperName(out ? "out" : "in", mMidiInstance));
  unanswered(r);
  return r == Reply::kYes;
}

// Called during an output port operation; the wait for the connection to go live is left to the caller.
bool IEffectBase::openOutputPort(unsigned int portNumber, const std::string& name,
                                 std::unique_ptr<JackConnectionWatch>* watch) {
  const Reply r = jackowner::openPort(mMidiOut, mOutServer, portNumber, kOutPortName, nullptr);
  unanswered(r);
  if (r != Reply::kYes) return false;
  if (mOutHelper) *watch = std::make_unique<JackConnectionWatch>(mOutHelper, mOutServer, name, ownPortName(1));
  return true;
}

// Called with mMidiInLock held; like the output's, the wait for the connection is left to the caller.
bool IEffectBase::openInputPort(unsigned int portNumber, const std::string& name,
                                std::unique_ptr<JackConnectionWatch>* watch) {
  // The delivery's thread, which reaches the plug-in, starts with the first port opened (the plug-in is whole then).
  if (mMidiInDelivery) mMidiInDelivery->start();
  const Reply r = jackowner::openPort(mMidiIn, mInServer, portNumber, kInPortName, mMidiInDelivery);
  unanswered(r);
  if (r != Reply::kYes) return false;
  mMidiInShut.store(false, std::memory_order_release);
  if (mInHelper) *watch = std::make_unique<JackConnectionWatch>(mInHelper, mInServer, name, ownPortName(0));
  return true;
}

// Nothing of a server that went away, or that does not answer, is touched.
void IEffectBase::closeOutputPort() {
  if (!mMidiSilent) unanswered(jackowner::closePort(mMidiOut, mOutServer));
}

// What the closed port's source sent and the editor has not taken yet is not handed to it after a port reopened:
// a program dump from the old source would be taken for the answer to a request made afterwards.
void IEffectBase::closeInputPort() {
  if (!mMidiSilent) unanswered(jackowner::closePort(mMidiIn, mInServer));
  if (mMidiInDelivery) mMidiInDelivery->discardPosted();
}

void IEffectBase::setExternalMIDIOut(int& index, const char* name) {
  std::unique_ptr<JackConnectionWatch> watch;
  OutPortOperation op(this);
  // A server that has not answered in time leaves the port as it is: the caller takes nothing for an answer.
  outServerRuns();
  if (!mMidiLate) closeOutputPort();
  if (mMidiLate) {
    index = mSelectedMIDIOut;
    return;
  }
  mSelectedMIDIOut = 0;
  if (index == 0 || mMidiOutNames.empty() || mMidiSilent) {
    index = 0;
    return;
  }
  const int p = findName(mMidiOutNames, name);
  const std::string chosen = p > 0 ? mMidiOutNames[static_cast<size_t>(p)] : std::string();
  const int port = p > 0 ? jackowner::currentPortNumber(mMidiOut, mOutServer, chosen) : -1;
  if (port == jackowner::kSilentNumber) midiSilent();
  if (port == jackowner::kLateNumber) midiLate();
  if (port < 0 || !openOutputPort(static_cast<unsigned int>(port), chosen, &watch)) {
    index = 0;
    return;
  }
  index = p;
  mSelectedMIDIOut = p;
  // The port is open; until its connection is live in the server's graph, messages sent to it are lost. So the
  // operation lasts until then: what any thread sends meanwhile is held and goes out once the connection carries
  // it (no sender waits for it), and the caller gets control back only then.
  if (watch && !watch->waitUntilLive())
    std::fprintf(stderr, "MIDI: the JACK connection of the output port is not live yet\n");
}

void IEffectBase::setExternalMIDIIn(int& index, const char* name) {
  std::unique_ptr<JackConnectionWatch> watch;
  {
    std::lock_guard<std::mutex> lock(mMidiInLock);
    inServerRuns();
    if (mMidiLate) {
      index = mSelectedMIDIIn;
      return;
    }
    mMidiInShut.store(true, std::memory_order_release);
    closeInputPort();
    mSelectedMIDIIn = 0;
    if (index == 0 || mMidiInNames.empty() || mMidiSilent || mMidiLate) {
      index = 0;
      return;
    }
    const int p = findName(mMidiInNames, name);
    const std::string chosen = p > 0 ? mMidiInNames[static_cast<size_t>(p)] : std::string();
    const int port = p > 0 ? jackowner::currentPortNumber(mMidiIn, mInServer, chosen) : -1;
    if (port == jackowner::kSilentNumber) midiSilent();
    if (port == jackowner::kLateNumber) midiLate();
    if (port < 0 || !openInputPort(static_cast<unsigned int>(port), chosen, &watch)) {
      index = 0;
      return;
    }
    index = p;
    mSelectedMIDIIn = p;
  }
  if (watch && !watch->waitUntilLive())
    std::fprintf(stderr, "MIDI: the JACK connection of the input port is not live yet\n");
}

namespace {

// The list position of `name` when it is a direction's open port (at position `p`) and our port itself (`ours`) is
// connected to it in the graph the server runs, else 0; -1 when the server runs no cycles, -2 when the owner did not
// answer in time. Nothing is asked of the server: the port's state is the library's, the graph is read where libjack
// keeps it.
int connectedPosition(const char* name, const RtMidi* port, int p, const std::vector<std::string>& names,
                      const jackowner::Helper& helper, long server, const std::string& ours) {
  if (!name || !helper || !port || !port->isPortOpen() || p <= 0 || static_cast<size_t>(p) >= names.size() ||
      names[static_cast<size_t>(p)] != name)
    return 0;
  switch (jackowner::connected(helper, server, name, ours)) {
    case Reply::kYes:
      return p;
    case Reply::kSilent:
      return -1;
    case Reply::kLate:
      return -2;
    case Reply::kNo:
      break;
  }
  return 0;
}

}  // namespace

int IEffectBase::connectedExternalMIDIOut(const char* name) {
  std::lock_guard<std::mutex> operation(mMidiOutOpLock);
  if (mMidiSilent) return -1;
  const int p = connectedPosition(name, mMidiOut, mSelectedMIDIOut, mMidiOutNames, mOutHelper, mOutServer,
                                  ownPortName(1));
  unanswered(p == -1 ? Reply::kSilent : p == -2 ? Reply::kLate : Reply::kYes);
  return p < 0 ? -1 : p;
}

int IEffectBase::connectedExternalMIDIIn(const char* name) {
  std::lock_guard<std::mutex> lock(mMidiInLock);
  if (mMidiSilent) return -1;
  const int p =
      connectedPosition(name, mMidiIn, mSelectedMIDIIn, mMidiInNames, mInHelper, mInServer, ownPortName(0));
  unanswered(p == -1 ? Reply::kSilent : p == -2 ? Reply::kLate : Reply::kYes);
  return p < 0 ? -1 : p;
}

std::string IEffectBase::ownPortName(int direction) {
  std::lock_guard<std::mutex> lock(mOwnPortLock);
  return mOwnPortNames[direction];
}

void IEffectBase::setOwnPortName(int direction, const std::string& name) {
  std::lock_guard<std::mutex> lock(mOwnPortLock);
  mOwnPortNames[direction] = name;
}

std::vector<std::string> IEffectBase::listedExternalMIDIInNames() {
  std::lock_guard<std::mutex> lock(mListedLock);
  return mListedNames[0];
}

std::vector<std::string> IEffectBase::listedExternalMIDIOutNames() {
  std::lock_guard<std::mutex> lock(mListedLock);
  return mListedNames[1];
}

void IEffectBase::publishListed(int out, const std::vector<std::string>& names) {
  std::lock_guard<std::mutex> lock(mListedLock);
  mListedNames[out != 0] = names;
}

int IEffectBase::getExternalMIDIInDevice(const char* name) {
  std::lock_guard<std::mutex> lock(mMidiInLock);
  return findName(mMidiInNames, name);
}

int IEffectBase::getExternalMIDIOutDevice(const char* name) {
  std::lock_guard<std::mutex> lock(mMidiOutLock);
  return findName(mMidiOutNames, name);
}

int IEffectBase::GetMIDIInPortNumber(const char* name) {
  if (!name) return -1;
  if (std::strcmp(name, "OFF") == 0) return 0;
  if (std::strcmp(name, "virtual input") == 0) return 1;
  std::lock_guard<std::mutex> lock(mMidiInLock);
  if (!inServerRuns()) return -1;
  const int port = jackowner::currentPortNumber(mMidiIn, mInServer, name);
  if (port == jackowner::kSilentNumber) midiSilent();
  if (port == jackowner::kLateNumber) midiLate();
  return port < 0 ? -1 : port + 1;
}

int IEffectBase::GetMIDIOutPortNumber(const char* name) {
  if (!name) return -1;
  if (std::strcmp(name, "OFF") == 0) return 0;
  if (std::strcmp(name, "virtual output") == 0) return 1;
  OutPortOperation op(this);
  if (!outServerRuns()) return -1;
  const int port = jackowner::currentPortNumber(mMidiOut, mOutServer, name);
  if (port == jackowner::kSilentNumber) midiSilent();
  if (port == jackowner::kLateNumber) midiLate();
  return port < 0 ? -1 : port + 1;
}

void IEffectBase::initializeVirtualOutput(std::string name) {
  jackowner::Helper helper;  // released last, outside the operation
  OutPortOperation op(this);
  RtMidiOut* old = mMidiOut;
  op.publish(nullptr, nullptr);
  jackowner::endOutPort(old, mOutServer);
  mOutServer = kNoJackServer;
  helper.swap(mOutHelper);
  jackowner::MadePort made = jackowner::makeOutPort(mMidiInstance);
  mOutServer = made.server;
  if (made.late) midiLate();
  if (made.port) unanswered(jackowner::openVirtualPort(made.port, made.server, "From " + name));
  op.publish(static_cast<RtMidiOut*>(made.port), nullptr);
}

// As the last port operation left it: no lock, no wait for the MIDI server.
bool IEffectBase::isExternalMIDIOutOpen() {
  return mMidiOutOpen.load();
}

bool IEffectBase::externalMIDIOutLost() {
  OutPortOperation op(this);
  if (!mMidiOut || mMidiSilent || !mMidiOut->isPortOpen()) return false;
  if (!outServerRuns() || serverGone(mInServer)) return true;
  if (mSelectedMIDIOut <= 0 || static_cast<size_t>(mSelectedMIDIOut) >= mMidiOutNames.size()) return false;
  const int port =
      jackowner::currentPortNumber(mMidiOut, mOutServer, mMidiOutNames[static_cast<size_t>(mSelectedMIDIOut)]);
  if (port == jackowner::kSilentNumber) {
    midiSilent();
    return true;
  }
  // Not answered in time: nothing is known of the port, which stays as it is.
  if (port == jackowner::kLateNumber) midiLate();
  return port == -1;
}

void IEffectBase::dropExternalMIDIPorts() {
  closeExternalMIDIPorts();
  {
    std::lock_guard<std::mutex> operation(mMidiOutOpLock);
    std::lock_guard<std::mutex> lock(mMidiOutLock);
    mMidiOutNames.clear();
    publishListed(1, mMidiOutNames);
    mSelectedMIDIOut = 0;
  }
  std::lock_guard<std::mutex> lock(mMidiInLock);
  mMidiInNames.clear();
  publishListed(0, mMidiInNames);
  mSelectedMIDIIn = 0;
}

bool IEffectBase::isExternalMIDIInOpen() {
  std::lock_guard<std::mutex> lock(mMidiInLock);
  return mMidiIn && !mMidiSilent && mMidiIn->isPortOpen();
}

void IEffectBase::closeExternalMIDIPorts() {
  const jackowner::AnswerWithin call;
  {
    OutPortOperation op(this);
    closeOutputPort();
  }
  // Messages still arriving go on to the delivery thread until the library's client has ended.
  {
    std::lock_guard<std::mutex> lock(mMidiInLock);
    mMidiInShut.store(true, std::memory_order_release);
    closeInputPort();
  }
  // A message already being handed over may still be inside the editor; only ending the port's delivery thread
  // waits for it, so the port objects go too.
  setMIDIPortsStopped();
}

// The port objects go to the MIDI system's owner, which ends each after whatever it was asked of it before (a close
// the server has yet to answer) and then the delivery the input's callback feeds: nothing libjack's threads reach is
// freed before the port that reaches it is closed. The helpers are released last, outside the locks.
void IEffectBase::setMIDIPortsStopped() {
  jackowner::Helper helpers[2];
  {
    OutPortOperation op(this);
    outServerRuns();  // a port object not used since its list learns here whether its client may be closed
    RtMidiOut* out = mMidiOut;
    op.publish(nullptr, nullptr);
    jackowner::endOutPort(out, mOutServer);
    mOutServer = kNoJackServer;
    helpers[0].swap(mOutHelper);
  }
  // The input's objects are taken out under their lock; its delivery thread ends outside it: that waits for the
  // message being handed to the editor, which may wait for a lock held by a thread that waits for mMidiInLock.
  RtMidiIn* in = nullptr;
  MidiInputDelivery* delivery = nullptr;
  long server = kNoJackServer;
  {
    std::lock_guard<std::mutex> lock(mMidiInLock);
    mMidiInShut.store(true, std::memory_order_release);
    inServerRuns();
    in = mMidiIn;
    mMidiIn = nullptr;
    delivery = mMidiInDelivery;
    mMidiInDelivery = nullptr;
    helpers[1].swap(mInHelper);
    server = mInServer.exchange(kNoJackServer);
  }
  // A caller holding the plug-in mutex (a preset recalled) does not wait for the message being handed over, which
  // waits for that mutex: the plug-in outlives the call, and the message ends once the mutex is free.
  if (delivery && mMutex.IsHeldByCaller())
    delivery->abandon();
  else if (delivery)
    delivery->stop();
  jackowner::endInPort(in, server, delivery);
  mMidiSilent = false;
}

bool IEffectBase::sendToExternalMIDIOut(const unsigned char* bytes, size_t length) {
  if (!bytes || length == 0) return false;
  std::lock_guard<std::mutex> lock(mMidiOutLock);
  if (mMidiOutOpInProgress) {
    // Goes out when the operation ends; a bound keeps a stuck server from growing the list for ever.
    if (mMidiOutHeld.size() >= 4096) return false;
    mMidiOutHeld.emplace_back(bytes, bytes + length);
    return true;
  }
  return sendNowLocked(bytes, length);
}

bool IEffectBase::sendNowLocked(const unsigned char* bytes, size_t length) {
  if (!mMidiOut || mMidiSilent || !mMidiOut->isPortOpen() || serverGone(mOutServer)) return false;
  try {
    mMidiOut->sendMessage(bytes, length);
    return true;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "MIDI: %s\n", e.what());
    return false;
  }
}

IEffectBase::ESendResult IEffectBase::trySendToExternalMIDIOut(const unsigned char* bytes, size_t length) {
  if (!bytes || length == 0) return kSendFailed;
  std::unique_lock<std::mutex> lock(mMidiOutLock, std::try_to_lock);
  if (!lock.owns_lock() || mMidiOutOpInProgress) return kSendBusy;
  return sendNowLocked(bytes, length) ? kSendDone : kSendFailed;
}

void IEffectBase::MIDICallback(double timestamp, std::vector<unsigned char>* message, void* userData) {
  processMIDIInput(timestamp, message, userData);
}

void IEffectBase::processMIDIInput(double, std::vector<unsigned char>* message, void* userData) {
  IEffectBase* plug = static_cast<IEffectBase*>(userData);
  if (!plug || !message || message->empty()) return;
  // Nothing reaches the editor while its input port is being closed, and everything the editor set up before it
  // hooked the port up is visible here.
  if (plug->mMidiInShut.load(std::memory_order_acquire)) return;
  // The library's thread must never see an exception from the editor.
  try {
    size_t n = message->size();
    if (n <= 3) {
      IMidiMsg msg(0, (*message)[0], n > 1 ? (*message)[1] : 0, n > 2 ? (*message)[2] : 0);
      plug->ProcessMidiMsg(&msg, true);
    } else {
      std::vector<unsigned char> copy(*message);
      ISysEx sysex(0, copy.data(), static_cast<int>(copy.size()));
      plug->ProcessSysEx(&sysex, true);
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "MIDI input: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "MIDI input: unknown error\n");
  }
}
