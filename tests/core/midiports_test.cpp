// The external MIDI ports when no MIDI system answers: the lists hold only "OFF", nothing opens,
// nothing is sent and nothing throws.
#include <gtest/gtest.h>

#include <jack/jack.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "KIT/IEffect/IEffectVST.h"
#include "KIT/IEffect/JackOwner.h"
#include "KIT/IEffect/MidiInputDelivery.h"
#include "src/PortMenu.h"
#include "tests/core/port_plug.h"

using porttest::PortPlug;

TEST(MidiPortsWithoutServer, OffOnlyListsAndClosedPorts) {
  // A JACK server that does not exist, and no starting of one; and ALSA when the machine has no
  // sequencer device.
  std::vector<const char*> apis = {"jack"};
  if (access("/dev/snd/seq", F_OK) != 0) apis.push_back("alsa");
  for (const char* api : apis) {
    SCOPED_TRACE(api);
    setenv("VEXMIR_MIDI_API", api, 1);
    setenv("JACK_DEFAULT_SERVER", "vexmir-no-such-server", 1);
    setenv("JACK_NO_START_SERVER", "1", 1);

    PortPlug plug;
    EXPECT_EQ(plug.getExternalMIDIInNames(), std::vector<std::string>{"OFF"});
    EXPECT_EQ(plug.getExternalMIDIOutNames(), std::vector<std::string>{"OFF"});

    struct Case {
      int index;
      const char* name;
    } cases[] = {{1, "Some Synth:MIDI In"}, {1, "OFF"}, {0, "OFF"}, {3, ""}};
    for (const Case& c : cases) {
      int out = c.index, in = c.index;
      plug.setExternalMIDIOut(out, c.name);
      plug.setExternalMIDIIn(in, c.name);
      EXPECT_EQ(out, 0) << c.name;
      EXPECT_EQ(in, 0) << c.name;
      EXPECT_FALSE(plug.isExternalMIDIOutOpen());
      EXPECT_FALSE(plug.isExternalMIDIInOpen());
    }
    unsigned char mode[] = {0x42, 0x30, 0x58, 0x4E, 0x00, 0x00};
    EXPECT_FALSE(plug.SendMidiSysex(mode, sizeof mode));
    IMidiMsg cc(0, 0xB0, 7, 100);
    EXPECT_FALSE(plug.SendMidiMsg(&cc));
    EXPECT_FALSE(plug.SendMidiSysex2({}));
    EXPECT_EQ(plug.GetMIDIInPortNumber("Some Synth:MIDI Out"), -1);
  }
}

TEST(MidiPortsWithoutServer, InputCallbackSplitsShortAndLongMessages) {
  struct Recorder : PortPlug {
    void ProcessMidiMsg(IMidiMsg* m, bool fromDevice) override {
      shorts.push_back({m->mStatus, m->mData1, m->mData2, static_cast<unsigned char>(fromDevice)});
    }
    void ProcessSysEx(ISysEx* s, bool fromDevice) override {
      longs.push_back(std::vector<unsigned char>(s->mData, s->mData + s->mSize));
      longs.back().push_back(static_cast<unsigned char>(fromDevice));
    }
    std::vector<std::vector<unsigned char>> shorts, longs;
  } plug;
  std::vector<std::vector<unsigned char>> messages = {
      {0xB1, 0x07, 0x64}, {0xC0, 0x05}, {0xFA}, {}, {0xF0, 0x42, 0x30, 0xF7}};
  for (auto& m : messages) IEffectBase::MIDICallback(0.0, &m, &plug);
  IEffectBase::MIDICallback(0.0, &messages[0], nullptr);  // no plug-in: nothing happens
  IEffectBase::MIDICallback(0.0, nullptr, &plug);
  ASSERT_EQ(plug.shorts.size(), 3u);
  EXPECT_EQ(plug.shorts[0], (std::vector<unsigned char>{0xB1, 0x07, 0x64, 1}));
  EXPECT_EQ(plug.shorts[1], (std::vector<unsigned char>{0xC0, 0x05, 0x00, 1}));
  EXPECT_EQ(plug.shorts[2], (std::vector<unsigned char>{0xFA, 0x00, 0x00, 1}));
  ASSERT_EQ(plug.longs.size(), 1u);
  EXPECT_EQ(plug.longs[0], (std::vector<unsigned char>{0xF0, 0x42, 0x30, 0xF7, 1}));

  // What a port posted before it closed and the editor had not taken goes nowhere; what comes after goes on.
  struct Order : PortPlug {
    void ProcessMidiMsg(IMidiMsg* m, bool) override { statuses = statuses * 256 + m->mStatus; }
    std::atomic<long> statuses{0};
  } order;
  MidiInputDelivery delivery(&order);
  std::vector<unsigned char> before = {0xB2, 1, 1}, after = {0xB3, 2, 2};
  MidiInputDelivery::post(0, &before, &delivery);
  delivery.discardPosted();
  MidiInputDelivery::post(0, &after, &delivery);
  delivery.start();
  while (order.statuses == 0) std::this_thread::yield();
  delivery.stop();
  EXPECT_EQ(order.statuses, 0xB3);
}

// Menu items for long port names: two names alike in their first 55 bytes stay apart, each item fits a display text,
// and none ends inside a character.
TEST(MidiPortsWithoutServer, LongPortNamesStayApartAndWholeInTheMenu) {
  const std::string stem = "a2j:Synthesizer Interface \u00dcber [24] (capture): Synthesizer Interface MIDI ";
  const std::vector<std::string> names = {"OFF", stem + "1", stem + "2", std::string(54, 'x') + "\u00fcz", "short:in"};
  const std::vector<std::string> texts = portMenuTexts(names);
  ASSERT_EQ(texts.size(), names.size());
  EXPECT_EQ(std::set<std::string>(texts.begin(), texts.end()).size(), names.size());
  EXPECT_EQ(texts.front(), "OFF");
  EXPECT_EQ(texts.back(), "short:in");
  EXPECT_EQ(texts[1].substr(texts[1].size() - 6), "MIDI 1");
  for (const std::string& t : texts) {
    EXPECT_LE(t.size(), 55u) << t;
    for (size_t i = 0; i < t.size(); ++i) {  // a lead byte is followed by all its continuation bytes
      const unsigned char c = static_cast<unsigned char>(t[i]);
      const size_t more = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
      for (size_t k = 1; k <= more; ++k)
        EXPECT_TRUE(i + k < t.size() && (static_cast<unsigned char>(t[i + k]) & 0xC0) == 0x80) << t;
      EXPECT_NE(c & 0xC0, 0x80u) << t;  // nor does an item start or go on with a stray one
      i += more;
    }
  }
}

// What libjack's threads enter takes no lock and allocates nothing: the test is linked to see both (--wrap).
thread_local bool onLibjacksThread = false;
std::atomic<int> lockedOrAllocated{0};
extern "C" int __real_pthread_mutex_lock(pthread_mutex_t* m);
extern "C" int __wrap_pthread_mutex_lock(pthread_mutex_t* m) {
  lockedOrAllocated += onLibjacksThread;
  return __real_pthread_mutex_lock(m);
}
extern "C" void* __real_malloc(size_t n);
extern "C" void* __wrap_malloc(size_t n) {
  lockedOrAllocated += onLibjacksThread;
  return __real_malloc(n);
}
extern "C" void* __real__Znwm(size_t n);
extern "C" void* __wrap__Znwm(size_t n) {
  lockedOrAllocated += onLibjacksThread;
  return __real__Znwm(n);
}

// libjack runs its client threads with asynchronous cancellation and cancels them anywhere (as a client deactivates,
// and as the process opens a client after a server's end); this system's C library may act on a cancellation sent
// just before the thread disabled it. Threads entering the input's delivery, libjack's report functions of the
// process and the shutdown callback, each cancelled at a random moment: the process goes on, the host's report
// function is never entered twice at once, and a bank dump and the last message and report still come through.
TEST(MidiPortsWithoutServer, LibjackThreadsCancelledAnywhereInWhatTheyEnterLeaveTheProcessRunning) {
  static std::atomic<int> inHost{0};
  static std::atomic<bool> twoAtOnce{false}, lastReport{false};
  auto host = [](const char* text) {
    twoAtOnce = twoAtOnce || inHost.fetch_add(1) != 0;
    lastReport = lastReport || std::strcmp(text, "last") == 0;
    inHost.fetch_sub(1);
  };
  jack_set_error_function(host);
  jack_set_info_function(host);
  jackowner::routeReports();
  ASSERT_TRUE(jack_error_callback != host && jack_info_callback != host);
  struct Counter : PortPlug {
    void ProcessMidiMsg(IMidiMsg* m, bool) override { last = last || m->mStatus == 0xB5; }
    void ProcessSysEx(ISysEx* s, bool) override { dumps += s->mSize == 37392; }
    std::atomic<bool> last{false};
    std::atomic<int> dumps{0};
  } plug;
  static std::vector<unsigned char> knob = {0xB0, 74, 5}, dump(37392, 0x10);
  static std::atomic<long> calls{0};
  using Entry = std::pair<void (*)(void*), void*>;
  std::vector<Entry> entries = {
      {[](void*) { jack_error_callback("an error"); }, nullptr},
      {[](void*) { jack_info_callback("some info"); }, nullptr},
      {[](void*) { jackowner::serverEndHeard(reinterpret_cast<void*>(calls.load())); }, nullptr},
  };
  std::vector<std::unique_ptr<MidiInputDelivery>> deliveries;  // one thread posts into each, as one client's does
  for (int k = 0; k < 4; ++k) {
    deliveries.push_back(std::make_unique<MidiInputDelivery>(&plug));
    deliveries.back()->start();
    entries.push_back({[](void* d) { MidiInputDelivery::post(0, calls % 64 ? &knob : &dump, d); }, deliveries[k].get()});
  }
  std::mt19937 random(std::random_device{}());
  for (int round = 0; round < 300; ++round) {
    std::vector<pthread_t> threads;
    calls = 0;
    for (const auto& entry : entries) {
      threads.emplace_back();
      ASSERT_EQ(pthread_create(&threads.back(), nullptr,
                               [](void* e) -> void* {
                                 pthread_setcanceltype(PTHREAD_CANCEL_ASYNCHRONOUS, nullptr);
                                 auto* entry = static_cast<const Entry*>(e);
                                 for (;; ++calls) onLibjacksThread = true, entry->first(entry->second), onLibjacksThread = false;
                               },
                               const_cast<Entry*>(&entry)),
                0);
    }
    while (calls < 30) std::this_thread::yield();
    const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(random() % 300);
    while (std::chrono::steady_clock::now() < until) {
    }
    for (pthread_t t : threads) pthread_cancel(t);
    for (pthread_t t : threads) pthread_join(t, nullptr);
  }
  // A transport may drop a message when the editor falls behind: the last ones are sent until they come through.
  std::vector<unsigned char> last = {0xB5, 1, 2};
  for (int i = 0; i < 100000 && !(plug.last && lastReport); ++i) {
    MidiInputDelivery::post(0, &last, deliveries[0].get());
    jack_error_callback("last");
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_TRUE(plug.last && lastReport);
  EXPECT_GT(plug.dumps, 0);
  EXPECT_FALSE(twoAtOnce);
  EXPECT_EQ(lockedOrAllocated, 0);
}
