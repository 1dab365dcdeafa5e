// The external MIDI ports over a real JACK server, with the synthesizer emulator on the other end.
#include <gtest/gtest.h>
#include <jack/jack.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "KIT/IEffect/IControl.h"
#include "KIT/IEffect/IEffectVST.h"
#include "KIT/IEffect/IGraphics.h"
#include "KIT/IEffect/IParam.h"
#include "platform/cocoa/menu.h"
#include "platform/cocoa/object.h"
#include "platform/cocoa/view.h"
#include "src/Vexmir.h"
#include "src/VexmirParams.h"
#include "tests/core/port_plug.h"
#include "tests/support/EmulatorClient.h"
#include "tests/support/JackMidiPair.h"
#include "tests/support/TempRoot.h"

using vexmir::testsupport::Bytes;
using vexmir::testsupport::EmulatorClient;
using vexmir::testsupport::JackMidiPair;

namespace {

// Records what the input callback hands over, from the MIDI library's thread.
class PortPlug : public porttest::PortPlug {
 public:
  ~PortPlug() override { closeExternalMIDIPorts(); }

  struct Received {
    Bytes bytes;
    bool fromDevice;
  };

  void ProcessMidiMsg(IMidiMsg* msg, bool fromDevice) override {
    record({msg->mStatus, msg->mData1, msg->mData2}, fromDevice);
  }
  void ProcessSysEx(ISysEx* msg, bool fromDevice) override {
    record(Bytes(msg->mData, msg->mData + msg->mSize), fromDevice);
  }

  // The first message received for which match holds, waiting up to the time-out.
  template <class Match>
  bool waitFor(Match match, Received* out, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    std::unique_lock<std::mutex> lock(mutex);
    return arrived.wait_for(lock, timeout, [&] {
      for (const Received& r : received)
        if (match(r.bytes)) {
          *out = r;
          return true;
        }
      return false;
    });
  }
  void clear() {
    std::lock_guard<std::mutex> lock(mutex);
    received.clear();
  }
  std::vector<Received> all() {
    std::lock_guard<std::mutex> lock(mutex);
    return received;
  }

 private:
  void record(Bytes bytes, bool fromDevice) {
    std::lock_guard<std::mutex> lock(mutex);
    received.push_back({std::move(bytes), fromDevice});
    arrived.notify_all();
  }
  std::mutex mutex;
  std::condition_variable arrived;
  std::vector<Received> received;
};

int positionOf(const std::vector<std::string>& names, const std::string& name) {
  auto it = std::find(names.begin(), names.end(), name);
  return it == names.end() ? -1 : static_cast<int>(it - names.begin());
}

// Opens both directions on the emulator's ports and waits until a message gets through each way:
// JACK puts a new connection into its graph a little after it was made, and messages sent before
// that are lost.
void connect(PortPlug& plug, EmulatorClient& emu) {
  plug.getExternalMIDIInNames();
  plug.getExternalMIDIOutNames();
  int in = 1, out = 1;
  plug.setExternalMIDIIn(in, EmulatorClient::emulatorOutPort().c_str());
  plug.setExternalMIDIOut(out, EmulatorClient::emulatorInPort().c_str());
  ASSERT_GT(in, 0);
  ASSERT_GT(out, 0);

  bool inLive = false, outLive = false;
  for (int k = 0; k < 40 && !(inLive && outLive); ++k) {
    if (!inLive) {
      emu.check("send cc 15 119 " + std::to_string(k));
      PortPlug::Received r;
      inLive = plug.waitFor([k](const Bytes& b) { return b.size() == 3 && b[0] == 0xBF && b[1] == 119 && b[2] == k; },
                            &r, std::chrono::milliseconds(250));
    }
    if (!outLive) {
      size_t mark = emu.logMark();
      IMidiMsg probe(0, 0xBF, 118, static_cast<uint8_t>(k));
      plug.SendMidiMsg(&probe);
      char text[32];
      std::snprintf(text, sizeof text, "in BF 76 %02X", k);
      outLive = emu.waitForLog(text, mark, std::chrono::milliseconds(250)).has_value();
    }
  }
  ASSERT_TRUE(inLive && outLive);
  plug.clear();
}

}  // namespace

TEST(MidiPorts, ListsStartWithOffAndShowTheEmulator) {
  PortPlug plug;
  std::vector<std::string> ins = plug.getExternalMIDIInNames();
  std::vector<std::string> outs = plug.getExternalMIDIOutNames();
  ASSERT_FALSE(ins.empty());
  ASSERT_FALSE(outs.empty());
  EXPECT_EQ(ins[0], "OFF");
  EXPECT_EQ(outs[0], "OFF");
  EXPECT_GT(positionOf(ins, EmulatorClient::emulatorOutPort()), 0);
  EXPECT_GT(positionOf(outs, EmulatorClient::emulatorInPort()), 0);
  EXPECT_EQ(plug.getExternalMIDIOutNames(), outs);  // kept from the first listing
  EXPECT_EQ(plug.getExternalMIDIOutDevice(EmulatorClient::emulatorInPort().c_str()),
            positionOf(outs, EmulatorClient::emulatorInPort()));
  EXPECT_EQ(plug.GetMIDIOutPortNumber(EmulatorClient::emulatorInPort().c_str()),
            positionOf(outs, EmulatorClient::emulatorInPort()));
  EXPECT_EQ(plug.GetMIDIOutPortNumber("OFF"), 0);
  EXPECT_EQ(plug.GetMIDIOutPortNumber("virtual output"), 1);
  EXPECT_EQ(plug.GetMIDIOutPortNumber("no such port"), -1);
}

TEST(MidiPorts, OpeningByNameAndMissingNames) {
  PortPlug plug;
  std::vector<std::string> outs = plug.getExternalMIDIOutNames();
  std::string emulatorIn = EmulatorClient::emulatorInPort();

  struct Case {
    int index;
    std::string name;
    int expected;
    bool open;
  } cases[] = {
      {1, emulatorIn, positionOf(outs, emulatorIn), true},
      {1, "Nothing:here", 0, false},
      {2, emulatorIn, positionOf(outs, emulatorIn), true},
      {0, "OFF", 0, false},
      {3, emulatorIn.substr(0, emulatorIn.size() - 1), 0, false},  // whole names only
      {1, "OFF", 0, false},
  };
  for (const Case& c : cases) {
    int index = c.index;
    plug.setExternalMIDIOut(index, c.name.c_str());
    EXPECT_EQ(index, c.expected) << c.name;
    EXPECT_EQ(plug.isExternalMIDIOutOpen(), c.open) << c.name;
    EXPECT_EQ(plug.getSelectedMIDIOut(), c.expected) << c.name;
  }
  int in = 1;
  plug.getExternalMIDIInNames();
  plug.setExternalMIDIIn(in, "Nothing:here");
  EXPECT_EQ(in, 0);
  EXPECT_FALSE(plug.isExternalMIDIInOpen());
  // Sending with the port closed is refused quietly.
  unsigned char mode[] = {0x42, 0x30, 0x58, 0x4E, 0x00, 0x00};
  EXPECT_FALSE(plug.SendMidiSysex(mode, sizeof mode));
}

TEST(MidiPorts, ShortMessagesAndSysExFromTheSynthesizer) {
  EmulatorClient emu;
  emu.reset();
  PortPlug plug;
  connect(plug, emu);

  // Clock and active sensing never reach the plug-in; the control change after them does.
  emu.check("send raw F8");
  emu.check("send raw FE");
  emu.check("send cc 1 7 100");
  PortPlug::Received r;
  ASSERT_TRUE(plug.waitFor([](const Bytes& b) { return !b.empty() && b[0] == 0xB1; }, &r));
  EXPECT_EQ(r.bytes, (Bytes{0xB1, 0x07, 0x64}));
  EXPECT_TRUE(r.fromDevice);

  emu.check("send progchange 5");
  ASSERT_TRUE(plug.waitFor([](const Bytes& b) { return !b.empty() && (b[0] & 0xF0) == 0xC0; }, &r));
  EXPECT_EQ(r.bytes[1], 5);
  EXPECT_EQ(r.bytes[2], 0);  // a program change has no second data byte

  emu.check("send dump program");
  ASSERT_TRUE(plug.waitFor([](const Bytes& b) { return b.size() > 3 && b[0] == 0xF0; }, &r));
  EXPECT_EQ(r.bytes.size(), 297u);
  EXPECT_EQ(r.bytes.back(), 0xF7);
  EXPECT_TRUE(r.fromDevice);

  for (const PortPlug::Received& m : plug.all()) {
    EXPECT_NE(m.bytes[0], 0xF8);
    EXPECT_NE(m.bytes[0], 0xFE);
  }
}

TEST(MidiPorts, SendsReachTheSynthesizerFramed) {
  EmulatorClient emu;
  emu.reset();
  PortPlug plug;
  connect(plug, emu);
  size_t mark = emu.logMark();

  unsigned char mode[] = {0x42, 0x30, 0x58, 0x4E, 0x00, 0x00};
  EXPECT_TRUE(plug.SendMidiSysex(mode, sizeof mode));
  EXPECT_TRUE(emu.waitForLog("in F0 42 30 58 4E 00 00 F7", mark).has_value());

  unsigned char framed[] = {0xF0, 0x42, 0x30, 0x58, 0x4E, 0x01, 0x00, 0xF7};
  EXPECT_TRUE(plug.SendMidiSysex(framed, sizeof framed));
  EXPECT_TRUE(emu.waitForLog("in F0 42 30 58 4E 01 00 F7", mark).has_value());

  // A program change is two bytes, a control change three.
  IMidiMsg pc(0, 0xC0, 9, 0x55);
  EXPECT_TRUE(plug.SendMidiMsg(&pc));
  EXPECT_TRUE(emu.waitForLog("in C0 09", mark).has_value());
  IMidiMsg cc(0, 0xB0, 74, 0x21);
  EXPECT_TRUE(plug.SendMidiMsg(&cc));
  EXPECT_TRUE(emu.waitForLog("in B0 4A 21", mark).has_value());
  // Real-time messages are one byte long: a clock tick must not drag two data bytes along.
  // (Stray data bytes would be read as a control change under the running status B0.)
  IMidiMsg clock(0, 0xF8, 0x11, 0x22);
  EXPECT_TRUE(plug.SendMidiMsg(&clock));
  IMidiMsg after(0, 0xB0, 75, 0x01);
  EXPECT_TRUE(plug.SendMidiMsg(&after));
  EXPECT_TRUE(emu.waitForLog("in B0 4B 01", mark).has_value());
  for (const std::string& line : emu.log(mark)) {
    EXPECT_EQ(line.find("in C0 09 55"), std::string::npos) << line;
    EXPECT_EQ(line.find("11 22"), std::string::npos) << line;
  }
}

// The editor sends its first request as soon as a port has been chosen, and the answer comes straight back:
// neither may be lost while JACK is still putting the new connections into the graph it runs. No probing here.
TEST(MidiPorts, FirstMessagesOverNewlyChosenPortsArrive) {
  EmulatorClient emu;
  emu.reset();
  PortPlug plug;
  plug.getExternalMIDIInNames();
  plug.getExternalMIDIOutNames();
  for (int round = 0; round < 5; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    int off = 0;
    plug.setExternalMIDIIn(off, "OFF");
    plug.setExternalMIDIOut(off, "OFF");
    int in = 1, out = 1;
    plug.setExternalMIDIIn(in, EmulatorClient::emulatorOutPort().c_str());
    plug.setExternalMIDIOut(out, EmulatorClient::emulatorInPort().c_str());
    ASSERT_GT(in, 0);
    ASSERT_GT(out, 0);
    plug.clear();
    size_t mark = emu.logMark();
    unsigned char request[] = {0x42, 0x30, 0x58, 0x10};  // current program dump request, channel 1
    ASSERT_TRUE(plug.SendMidiSysex(request, sizeof request));
    EXPECT_TRUE(emu.waitForLog("in F0 42 30 58 10 F7", mark).has_value());
    PortPlug::Received r;
    EXPECT_TRUE(plug.waitFor([](const Bytes& b) { return b.size() == 297 && b[4] == 0x40; }, &r));
  }
}

// The audio callback's send never waits for a port operation: while the output port is being reopened it hears that
// the port is taken, never that the send failed, so that its note waits in the queue and goes out after. The other
// sends hand their messages over meanwhile: they are held and go out when the reopening ends.
TEST(MidiPorts, ANoteTriedWhileThePortIsReopenedIsHeldAndGoesOutAfter) {
  EmulatorClient emu;
  emu.reset();
  PortPlug plug;
  connect(plug, emu);
  const size_t start = emu.logMark();
  IMidiMsg note, noteOff(0, 0x8E, 61, 0);
  unsigned char request[] = {0x42, 0x30, 0x58, 0x10}, global[] = {0xF0, 0x42, 0x30, 0x58, 0x0E, 0xF7};
  IEffectBase::ESendResult tried = IEffectBase::kSendDone;
  for (int round = 0, k = 0; round < 20 && tried == IEffectBase::kSendDone; ++round) {
    std::atomic<bool> reopened{false};
    std::thread reopen([&] {
      int out = 1;
      plug.setExternalMIDIOut(out, EmulatorClient::emulatorInPort().c_str());
      reopened = true;
    });
    // A block's send every millisecond until one meets the reopening.
    while (!reopened && tried == IEffectBase::kSendDone) {
      note = IMidiMsg(0, 0x9F, 60, static_cast<uint8_t>(1 + k++ % 127));
      tried = plug.TrySendMidiMsgNow(&note);
      if (tried == IEffectBase::kSendBusy) {
        EXPECT_TRUE(plug.SendMidiMsg(&noteOff) && plug.SendMidiSysex(request, 4) && plug.SendPatchSysex(global, 6));
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    reopen.join();
  }
  ASSERT_EQ(tried, IEffectBase::kSendBusy) << "no send met the reopening, or one failed (its note lost)";
  for (const char* text : {"in 8E 3D 00", "in F0 42 30 58 10 F7", "in F0 42 30 58 0E F7"})
    EXPECT_TRUE(emu.waitForLog(text, start).has_value()) << text;
  const size_t mark = emu.logMark();
  ASSERT_EQ(plug.TrySendMidiMsgNow(&note), IEffectBase::kSendDone);
  char text[32];
  std::snprintf(text, sizeof text, "in 9F 3C %02X", note.mData2);
  EXPECT_TRUE(emu.waitForLog(text, mark).has_value()) << text;
}

// While the output port is reopened, sends are held (the audio callback's send hears that the port is busy) and go
// out when the reopening ends, which must wait until the server runs the new connection: what goes out before is lost.
// A client late in every cycle, as on a loaded machine, makes the server (which waits for it) run long cycles, so a
// connection made during one goes live only at the start of the next.
TEST(MidiPorts, AReopenedPortTakesSendsAgainOnlyOnceItsConnectionIsLive) {
  EmulatorClient emu;
  emu.reset();
  PortPlug plug;
  connect(plug, emu);
  jack_client_t* late = jack_client_open("vexmir-test-late", JackNoStartServer, nullptr);
  ASSERT_NE(late, nullptr);
  jack_set_process_callback(late, [](jack_nframes_t, void*) { return usleep(20000) * 0; }, nullptr);
  ASSERT_EQ(jack_activate(late), 0);
  jack_port_t* synthIn = jack_port_by_name(late, EmulatorClient::emulatorInPort().c_str());
  for (int round = 0; round < 5; ++round) {
    std::thread reopen([&] {
      int out = 1;
      plug.setExternalMIDIOut(out, EmulatorClient::emulatorInPort().c_str());
    });
    IMidiMsg note(0, 0x9F, 60, static_cast<uint8_t>(1 + round));
    bool held = false, takenAgain = false;
    for (int k = 0; k < 200000 && !takenAgain; ++k, std::this_thread::sleep_for(std::chrono::microseconds(20))) {
      const IEffectBase::ESendResult tried = plug.TrySendMidiMsgNow(&note);
      held = held || tried == IEffectBase::kSendBusy;
      takenAgain = held && tried == IEffectBase::kSendDone;
    }
    // The connection lists a client reads are those of the graph the server runs.
    const char** live = jack_port_get_all_connections(late, synthIn);
    EXPECT_TRUE(takenAgain && live) << round;
    jack_free(live);
    reopen.join();
  }
  jack_client_close(late);
}

TEST(MidiPorts, SendsFromSeveralThreadsStayWhole) {
  EmulatorClient emu;
  emu.reset();
  PortPlug plug;
  connect(plug, emu);
  size_t mark = emu.logMark();
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&plug, t] {
      for (int k = 0; k < 25; ++k) {
        unsigned char msg[] = {
            0xF0, 0x42, 0x30, 0x58, 0x41, static_cast<unsigned char>(t), 0x00, static_cast<unsigned char>(k),
            0x00, 0xF7};
        plug.SendPatchSysex(msg, sizeof msg);
      }
    });
  }
  for (std::thread& th : threads) th.join();
  // The last message of every thread arrives, and every logged message is whole.
  for (int t = 0; t < 4; ++t) {
    char text[64];
    std::snprintf(text, sizeof text, "in F0 42 30 58 41 %02X 00 18 00 F7", t);
    EXPECT_TRUE(emu.waitForLog(text, mark).has_value()) << text;
  }
  int count = 0;
  for (const std::string& line : emu.log(mark))
    if (line.find("in F0 42 30 58 41") != std::string::npos) {
      ++count;
      EXPECT_NE(line.find(" 00 F7"), std::string::npos) << line;
    }
  EXPECT_EQ(count, 100);
}

TEST(MidiPorts, APortThatVanishedAfterListingIsNotConfusedWithItsNeighbour) {
  EmulatorClient emu;
  emu.reset();
  auto first = std::make_unique<JackMidiPair>("vexmir-core-first", EmulatorClient::emulatorOutPort(), "");
  JackMidiPair second("vexmir-core-second", EmulatorClient::emulatorOutPort(), "");

  PortPlug plug;
  std::vector<std::string> outs = plug.getExternalMIDIOutNames();
  // The test's clients may carry a suffix of their own; their input ports end in " in:in".
  auto named = [&outs](const std::string& prefix) {
    for (const std::string& n : outs)
      if (n.compare(0, prefix.size(), prefix) == 0 && n.size() > 6 && n.compare(n.size() - 6, 6, " in:in") == 0)
        return n;
    return std::string();
  };
  const std::string firstName = named("vexmir-core-first"), secondName = named("vexmir-core-second");
  std::string listed;
  for (const std::string& n : outs) listed += " [" + n + "]";
  ASSERT_FALSE(firstName.empty()) << listed;
  ASSERT_FALSE(secondName.empty()) << listed;
  int secondPos = positionOf(outs, secondName);

  first.reset();  // its port goes; the list still shows it
  int index = 1;
  plug.setExternalMIDIOut(index, firstName.c_str());
  EXPECT_EQ(index, 0);
  EXPECT_FALSE(plug.isExternalMIDIOutOpen());

  index = 1;
  plug.setExternalMIDIOut(index, secondName.c_str());
  EXPECT_EQ(index, secondPos);
  ASSERT_TRUE(plug.isExternalMIDIOutOpen());
  // Sent again until the new connection is live; the bytes must arrive at the second client.
  second.clear();
  std::optional<Bytes> got;
  for (int k = 0; k < 40 && !got; ++k) {
    IMidiMsg cc(0, 0xB5, 0x10, static_cast<uint8_t>(k));
    EXPECT_TRUE(plug.SendMidiMsg(&cc));
    got = second.receiveMatching([](const Bytes& b) { return !b.empty() && b[0] == 0xB5; },
                                 std::chrono::milliseconds(250));
  }
  ASSERT_TRUE(got.has_value());
  EXPECT_EQ(got->size(), 3u);
  EXPECT_EQ((*got)[1], 0x10);
}

namespace {
// The musician opens the port menu of `paramIdx` on the editor and picks the item that `pick` names (-1 dismisses
// it); the items offered, after the choice has been carried out.
std::vector<std::string> openPortMenu(Vexmir& plug, int paramIdx,
                                      const std::function<int(const std::vector<std::string>&)>& pick) {
  std::vector<std::string> offered;
  cocoa::menus::setChooser([&](const cocoa::ShownMenu& menu) {
    for (const cocoa::ShownMenuItem& item : menu.items) offered.push_back(item.title);
    const int k = pick(offered);
    return k < 0 ? cocoa::menus::Choice{} : cocoa::menus::Choice{k};
  });
  IGraphics* g = plug.GetGUI();
  IMouseMod left(true);
  for (int i = 0; i < g->NControls(); ++i)
    if (g->GetControl(i)->ParamIdx() == paramIdx) g->GetControl(i)->OnMouseDown(0, 0, &left);
  cocoa::menus::setChooser(nullptr);
  while (!plug.GetHostCallRelay().idle()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  return offered;
}

// The RtMidi ports connected to the ones of `ports` whose names begin with `prefix`, as the JACK server names them.
std::set<std::string> rtMidiPortsConnectedTo(const std::vector<std::string>& ports, const std::string& prefix) {
  std::set<std::string> found;
  jack_client_t* client = jack_client_open("vexmir-core-peek", JackNoStartServer, nullptr);
  if (!client) return found;
  for (const std::string& name : ports)
    if (name.compare(0, prefix.size(), prefix) == 0)
      if (jack_port_t* port = jack_port_by_name(client, name.c_str()))
        if (const char** names = jack_port_get_all_connections(client, port)) {
          for (const char** n = names; *n; ++n)
            if (std::string(*n).find(":RtMidi ") != std::string::npos) found.insert(*n);
          jack_free(names);
        }
  jack_client_close(client);
  return found;
}

// The one port in `after` that is not in `before` ("" unless exactly one).
std::string newPort(const std::set<std::string>& before, const std::set<std::string>& after) {
  std::vector<std::string> added;
  for (const std::string& p : after)
    if (!before.count(p)) added.push_back(p);
  return added.size() == 1 ? added[0] : std::string();
}

int startingWith(const std::vector<std::string>& items, const std::string& prefix) {
  for (size_t i = 0; i < items.size(); ++i)
    if (items[i].compare(0, prefix.size(), prefix) == 0) return static_cast<int>(i);
  return -1;
}

// Sends until the port's connection is live: the bytes must arrive at `pair`.
bool reaches(Vexmir& plug, JackMidiPair& pair) {
  pair.clear();
  for (int k = 0; k < 40; ++k) {
    IMidiMsg cc(0, 0xB5, 0x11, static_cast<uint8_t>(k));
    plug.SendMidiMsg(&cc);
    if (pair.receiveMatching([](const Bytes& b) { return b.size() == 3 && b[0] == 0xB5; },
                             std::chrono::milliseconds(250)))
      return true;
  }
  return false;
}
}  // namespace

// Ports come and go while the editor is open: its menus offer the ports there are when they are opened, the chosen
// port stays chosen and connected when others go, and a project keeps a long port name whole.
TEST(MidiPorts, TheEditorsMenusOfferThePortsThereAreWhenOpened) {
  vexmir::testsupport::TempRoot root("ports");
  auto early = std::make_unique<JackMidiPair>("vexmir-core-early", EmulatorClient::emulatorOutPort(), "");
  Vexmir plug(IEffectInstanceInfo{porttest::quietHost});
  plug.StartRelay();  // as the plug-in's entry does once it is made
  cocoa::AutoreleasePool pool;
  IGraphics* g = plug.GetGUI();
  cocoa::Window* window = new cocoa::Window(cocoa::Rect{0, 0, double(g->Width()), double(g->Height())});
  g->OpenWindow(window->contentView());
  // Its port's name is longer than a menu item shows.
  auto late = std::make_unique<JackMidiPair>("vexmir-core-late-arriving-synthesizer-usb-interface",
                                             EmulatorClient::emulatorOutPort(), "");

  std::vector<std::string> offered = openPortMenu(plug, kDeviceOutSelection, [&](const auto& items) {
    return startingWith(items, "vexmir-core-late");
  });
  const int chosen = startingWith(offered, "vexmir-core-late");
  ASSERT_GT(chosen, 0) << "the port that came after the editor is not offered: " << ::testing::PrintToString(offered);
  EXPECT_EQ(offered[static_cast<size_t>(chosen)].substr(offered[static_cast<size_t>(chosen)].size() - 6), " in:in");
  ASSERT_TRUE(plug.isExternalMIDIOutOpen());
  ASSERT_TRUE(reaches(plug, *late));

  // Neither menu offers this editor's own port of the other direction: chosen, it would feed the editor its own
  // messages. The server tells which port is ours: the one newly connected to the port chosen at the other end.
  const std::string ownOut = newPort({}, rtMidiPortsConnectedTo(JackMidiPair::inputPorts(), "vexmir-core-late"));
  ASSERT_NE(ownOut.find(":RtMidi Output"), std::string::npos) << ownOut;
  const auto emulatorsListeners = rtMidiPortsConnectedTo(JackMidiPair::outputPorts(), "Vexmir Synth Emulator");
  offered = openPortMenu(plug, kDeviceInSelection,
                         [](const auto& items) { return startingWith(items, "Vexmir Synth Emulator"); });
  EXPECT_EQ(std::count(offered.begin(), offered.end(), ownOut), 0) << ::testing::PrintToString(offered);
  ASSERT_TRUE(plug.isExternalMIDIInOpen()) << ::testing::PrintToString(offered);
  const std::string ownIn =
      newPort(emulatorsListeners, rtMidiPortsConnectedTo(JackMidiPair::outputPorts(), "Vexmir Synth Emulator"));
  ASSERT_NE(ownIn.find(":RtMidi Input"), std::string::npos) << ownIn;
  offered = openPortMenu(plug, kDeviceOutSelection, [](const auto&) { return -1; });
  EXPECT_EQ(std::count(offered.begin(), offered.end(), ownIn), 0) << ::testing::PrintToString(offered);
  openPortMenu(plug, kDeviceInSelection, [](const auto&) { return 0; });

  early.reset();  // a port listed before the chosen one goes: the choice moves up a place and stays connected
  offered = openPortMenu(plug, kDeviceOutSelection, [](const auto&) { return -1; });
  EXPECT_EQ(startingWith(offered, "vexmir-core-early"), -1);
  const int moved = startingWith(offered, "vexmir-core-late");
  EXPECT_EQ(moved, chosen - 1);
  EXPECT_EQ(plug.paramValue(kDeviceOutSelection), moved);
  EXPECT_TRUE(reaches(plug, *late));

  // A project recalled by another instance finds the port by its whole name.
  ByteChunk chunk;
  ASSERT_TRUE(plug.SerializeState(&chunk));
  {
    Vexmir recalled(IEffectInstanceInfo{porttest::quietHost});
    EXPECT_GT(recalled.UnserializeState(&chunk, 0), 0);
    EXPECT_TRUE(recalled.isExternalMIDIOutOpen());
    EXPECT_EQ(recalled.getSelectedMIDIOut(), moved);
  }

  late.reset();  // the chosen port goes: gone from the menu, the output closed and OFF
  offered = openPortMenu(plug, kDeviceOutSelection, [](const auto&) { return -1; });
  EXPECT_EQ(startingWith(offered, "vexmir-core-late"), -1);
  EXPECT_EQ(plug.paramValue(kDeviceOutSelection), 0);
  EXPECT_FALSE(plug.isExternalMIDIOutOpen());
  EXPECT_EQ(plug.getDisplayLine(Vexmir::kLineName).find("Port gone: MIDI OUT vexmir-core-late"), 0u)
      << plug.getDisplayLine(Vexmir::kLineName);
  g->CloseWindow();
  window->release();
}
