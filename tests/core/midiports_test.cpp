// The external MIDI ports when no MIDI system answers: the lists hold only "OFF", nothing opens,
// nothing is sent and nothing throws.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "KIT/IEffect/IEffectVST.h"
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
