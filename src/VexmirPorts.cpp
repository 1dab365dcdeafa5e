// The ports the project names, and what a JACK server's end does to them: the ports of an ended server close at
// once and say so, the project keeps naming them, and the next action that needs them opens them again by their
// names on the server that runs then.
#include <string>
#include <tuple>
#include <vector>

#include "KIT/IEffect/IGraphics.h"
#include "KIT/IEffect/JackOwner.h"
#include "KIT/IEffect/IParam.h"
#include "src/LibrarianEditor.h"
#include "src/MIDIMessageManager.h"
#include "src/PortMenu.h"
#include "src/StateChunk.h"
#include "src/Vexmir.h"

// The name of the port a menu has chosen: the port list's whole entry (a long name's display text is shortened, and
// a recall finds a port by its whole name), else the display text. The list is the one last read: nothing is asked
// of the MIDI system.
std::string Vexmir::chosenPortName(int out) {
  IParam* p = GetParam(out ? kDeviceOutSelection : kDeviceInSelection);
  const int index = p ? p->Int() : 0;
  const std::vector<std::string> ports = out ? listedExternalMIDIOutNames() : listedExternalMIDIInNames();
  if (index == 0) return "OFF";
  std::string name;
  if (index > 0 && static_cast<size_t>(index) < ports.size()) name = ports[static_cast<size_t>(index)];
  const char* text = p ? p->GetDisplayText(index) : nullptr;
  if (name.empty() && text) name = text;
  return name.empty() ? std::string("Set Name") : name;
}

void Vexmir::projectPortNames(std::string* in, std::string* out) {
  {
    std::lock_guard<std::mutex> lock(keptPortLock);
    if (awaitingServer) {
      if (in) *in = keptPortNames[0];
      if (out) *out = keptPortNames[1];
      return;
    }
  }
  if (in) *in = chosenPortName(0);
  if (out) *out = chosenPortName(1);
}

double Vexmir::projectPortNormalized(int out) {
  {
    std::lock_guard<std::mutex> lock(keptPortLock);
    if (awaitingServer) return keptPortNormalized[out != 0];
  }
  IParam* p = GetParam(out ? kDeviceOutSelection : kDeviceInSelection);
  return p ? p->GetNormalized() : 0.0;
}

void Vexmir::awaitServerFor(const std::string& in, const std::string& out, double inNormalized,
                            double outNormalized) {
  std::lock_guard<std::mutex> lock(keptPortLock);
  keptPortNames[0] = in;
  keptPortNames[1] = out;
  keptPortNormalized[0] = inNormalized;
  keptPortNormalized[1] = outNormalized;
  awaitingServer = namesPort(in) || namesPort(out);
  awaitingAnswerOnly = false;
}

void Vexmir::stopAwaitingServer() {
  std::lock_guard<std::mutex> lock(keptPortLock);
  awaitingServer = false;
}

bool Vexmir::awaitsPort(int out) {
  std::lock_guard<std::mutex> lock(keptPortLock);
  return awaitingServer && namesPort(keptPortNames[out != 0]);
}

bool Vexmir::outputUsable() {
  return midiOutReady || awaitsPort(1);
}

bool Vexmir::inputUsable() {
  return midiInReady || awaitsPort(0);
}

bool Vexmir::midiPortsLost() const {
  return awaitingServer || midiServerEnded();
}

Vexmir::PortReopen Vexmir::reopenPortsByName(const std::string& inName, const std::string& outName, bool logged) {
  // The lists are read anew when a lost MIDI system dropped them, or when the JACK server of the port objects went
  // away (none of its clients can be used again): from the server that runs now, if any. A port named here that is
  // open and connected already stays as it is: reopening it would end its connection and make it again, all in the
  // host's JACK server, for nothing. One that is not listed may have come since the list was read.
  // A step the MIDI system did not answer in time (its server busy) ends the reopening where it is: the ports stay as
  // they are, and the relay carries the reopening out once the owner has answered (r.late).
  PortReopen r;
  if (logged) log("PROJECT RECALL: MIDI In device stored " + inName);
  takeMidiLate();
  auto late = [&] { return (r.late = r.late || midiAnswerLate()); };
  forgetGoneMIDIServer();
  getExternalMIDIInNames();
  getExternalMIDIOutNames();
  if (!late() && (r.in = connectedExternalMIDIIn(inName.c_str())) == 0) {
    if (namesPort(inName) && getExternalMIDIInDevice(inName.c_str()) < 0) rereadExternalMIDIInNames();
    r.in = 1;
    if (!late()) setExternalMIDIIn(r.in, inName.c_str());
  }
  if (logged) log("PROJECT RECALL: MIDI Out device stored " + outName);
  if (!late() && (r.out = connectedExternalMIDIOut(outName.c_str())) == 0) {
    if (namesPort(outName) && getExternalMIDIOutDevice(outName.c_str()) < 0) rereadExternalMIDIOutNames();
    r.out = 1;
    if (!late()) setExternalMIDIOut(r.out, outName.c_str());
  }
  if (late()) return r;
  // A server that did not answer in time (or ended meanwhile) keeps nothing of ours: the ports wait for a server by
  // their names, as after a server's end, and the lists say why.
  if (midiServerEnded()) {
    dropExternalMIDIPorts();
    r.in = r.out = 0;
  }
  r.inNames = getExternalMIDIInNames();
  r.outNames = getExternalMIDIOutNames();
  return r;
}

std::string Vexmir::takeReopenedPorts(const PortReopen& r, const std::string& inName, const std::string& outName,
                                      bool awaited) {
  const double normalizedIn = projectPortNormalized(0), normalizedOut = projectPortNormalized(1);
  IGraphics* g = GetGUI();
  // The port menus show the lists the ports were opened from, which may have been read anew.
  setPortMenuTexts(GetParam(kDeviceInSelection), r.inNames);
  setPortMenuTexts(GetParam(kDeviceOutSelection), r.outNames);
  storeParamValue(kDeviceInSelection, r.in);
  if (g) g->SetParameterFromPlug(kDeviceInSelection, r.in, false);
  storeParamValue(kDeviceOutSelection, r.out);
  if (g) g->SetParameterFromPlug(kDeviceOutSelection, r.out, false);
  std::string missing;
  for (const auto& [name, index] : {std::pair<std::string, int>{inName, r.in}, {outName, r.out}})
    if (index == 0 && namesPort(name) && missing.find(name) == std::string::npos)
      missing += (missing.empty() ? "" : ", ") + name;
  // Where no MIDI system answers, the project keeps naming its ports: the next action that needs them opens them
  // where the server runs again. A port that a running system does not list is OFF; one the project kept for a
  // server's return stays named until the musician chooses another: a list read right after a restart may not show
  // it yet, and the project loses nothing by it.
  if ((midiSystemProblem() || awaited) && !missing.empty())
    awaitServerFor(inName, outName, normalizedIn, normalizedOut);
  else
    stopAwaitingServer();
  midiOutReady = r.out > 0 && isExternalMIDIOutOpen();
  midiInReady = r.in > 0 && isExternalMIDIInOpen();
  if (missing.empty()) return std::string();
  const char* problem = midiSystemProblem();
  return (problem ? std::string(problem) + ", set to OFF: " : "MIDI port not found, set to OFF: ") + missing;
}

void Vexmir::awaitAnswerFor(const std::string& in, const std::string& out, double inNormalized,
                            double outNormalized) {
  const bool kept = awaitingServer && !awaitingAnswerOnly;
  awaitServerFor(in, out, inNormalized, outNormalized);
  awaitingAnswerOnly = !kept;
  displayStatus(jackowner::kWaitingText);
  GetHostCallRelay().requestDeferredWork();
}

std::string Vexmir::noOutputText() {
  if (!awaitingServer) return "Set MIDI I/O First!";
  std::string in, out;
  projectPortNames(&in, &out);
  std::string named;
  for (const auto& [head, name] : {std::pair<const char*, std::string>{"MIDI IN ", in}, {"MIDI OUT ", out}})
    if (namesPort(name)) named += std::string(named.empty() ? "" : ", ") + head + name;
  return "MIDI ports kept, the next action opens them: " + named;
}

void Vexmir::tellPortNote(const std::string& text) {
  if (midiManager)
    midiManager->getSender()->showStatus(text);
  else
    displayStatus(text.c_str());
  // Whole on the librarian's line, where the names it asks for are read.
  if (librarianEditor) librarianEditor->note(text);
}

void Vexmir::closePortsOfEndedServer(bool wait) {
  if (!wait && !midiServerEnded()) return;
  // A recall or a port choice under way finds the server's end itself; a job waits (also for the relay's closing
  // under way), so that what it says of the lost port comes after this.
  std::unique_lock<std::mutex> ports(portChangeLock, std::defer_lock);
  if (wait)
    ports.lock();
  else if (!ports.try_lock())
    return;
  if (!midiServerEnded()) return;
  const bool wasOpen[2] = {midiInReady || getSelectedMIDIIn() > 0, midiOutReady || getSelectedMIDIOut() > 0};
  std::string kept[2];
  if (wasOpen[0] || wasOpen[1]) {
    // What the project names stays as it was: the menus' choices go to OFF below.
    KIT_MutexLock lock(mMutex);
    projectPortNames(&kept[0], &kept[1]);
    awaitServerFor(kept[0], kept[1], projectPortNormalized(0), projectPortNormalized(1));
  }
  // Nothing of the ended server is touched: its port objects are set aside.
  dropExternalMIDIPorts();
  KIT_MutexLock lock(mMutex);
  midiOutReady = false;
  midiInReady = false;
  continuousClockStarted = false;
  if (midiManager) midiManager->getSender()->resetContinuousClock(true);
  IGraphics* g = GetGUI();
  std::string closed;
  for (int out = 0; out < 2; ++out) {
    const int idx = out ? kDeviceOutSelection : kDeviceInSelection;
    setPortMenuTexts(GetParam(idx), {"OFF"});
    storeParamValue(idx, 0.0);
    if (g) g->SetParameterFromPlug(idx, 0.0, false);
    if (wasOpen[out] && namesPort(kept[out]))
      closed += std::string(closed.empty() ? "" : ", ") + (out ? "MIDI OUT " : "MIDI IN ") + kept[out];
  }
  if (!closed.empty()) tellPortNote("JACK server stopped, MIDI ports closed: " + closed);
}

bool Vexmir::reopenAwaitedPorts() {
  if (!awaitingServer) return true;
  std::string in, out;
  projectPortNames(&in, &out);
  // A port chosen again meanwhile stays as chosen.
  if (midiInReady) in = chosenPortName(0);
  if (midiOutReady) out = chosenPortName(1);
  PortReopen r;
  {
    std::lock_guard<std::mutex> ports(portChangeLock);
    r = reopenPortsByName(in, out, false);
  }
  KIT_MutexLock lock(mMutex);
  if (r.late) {
    awaitAnswerFor(in, out, projectPortNormalized(0), projectPortNormalized(1));
    return false;
  }
  const std::string note = takeReopenedPorts(r, in, out, !awaitingAnswerOnly);
  if (note.empty()) {
    std::string opened;
    for (const auto& [head, name, index] : {std::tuple<const char*, std::string, int>{"MIDI IN ", in, r.in},
                                            {"MIDI OUT ", out, r.out}})
      if (index > 0) opened += std::string(opened.empty() ? "" : ", ") + head + name;
    if (librarianEditor && !opened.empty()) librarianEditor->note("MIDI ports opened again: " + opened);
    return true;
  }
  tellPortNote(note);
  return false;
}
