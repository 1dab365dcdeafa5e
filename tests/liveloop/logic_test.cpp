// The parameter logic on the editor built from the bundle's resources: the send step's bytes for every kind of
// binding, repeat suppression, the timbre link, the display texts, the received-value path that sends nothing,
// the input value maps and the layer switches.
#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "KIT/IEffect/ControlLayer.h"
#include "KIT/IEffect/IControl.h"
#include "KIT/IEffect/IControls.h"
#include "KIT/IEffect/IGraphics.h"
#include "src/ControlAction.h"
#include "src/UIConfigManager.h"
#include "src/MIDIMessageManager.h"
#include "src/Vexmir.h"
#include "tests/support/Files.h"
#include "tests/support/TempRoot.h"
#include "tests/support/QuietHost.h"

namespace {

using vexmir::testsupport::quietHost;

using Bytes = std::vector<int>;

using Root = vexmir::testsupport::TempRoot;

// The editor object with an "open" output port that records what would leave it.
class LogicPlug : public Vexmir {
 public:
  LogicPlug() : Vexmir(IEffectInstanceInfo{quietHost}) {
    getMidiManager()->getSender()->jobRunner = [](MIDIMessageSender&, const SenderJob&) {};
    midiOutReady = true;
    // A chosen output device (the list holds only "OFF" without a MIDI system).
    GetParam(kDeviceOutSelection)->SetBounds(0, 1);
    storeParamValue(kDeviceOutSelection, 1);
  }
  bool SendMidiMsg(IMidiMsg* m) override {
    sent.push_back({m->mStatus, m->mData1, m->mData2});
    return true;
  }
  bool SendMidiSysex(unsigned char* d, int n) override {
    Bytes b = {0xF0};
    for (int i = 0; i < n; ++i) b.push_back(d[i]);
    b.push_back(0xF7);
    sent.push_back(b);
    return true;
  }
  // An edit in the editor: the parameter's first control moved by the user to a plain value.
  void edit(int idx, double plain) {
    IParam* p = GetParam(idx);
    SetParameterFromGUI(idx, (plain - p->GetMin()) / (p->GetMax() - p->GetMin()));
  }
  std::vector<Bytes> take() {
    std::vector<Bytes> out;
    out.swap(sent);
    return out;
  }
  std::vector<Bytes> sent;
};

}  // namespace

TEST(ParamLogic, EachKindOfBindingSendsItsBytes) {
  Root root;
  LogicPlug plug;
  plug.editModeOn = true;  // the mode change is its own case below
  struct Case {
    int param;
    double value;
    std::vector<Bytes> expected;
  } cases[] = {
      {kFilterCutoff, 100, {{0xB0, 74, 100}}},  // CC knob, timbre 1's channel
      {kFilterCutoffT2, 90, {{0xB1, 74, 90}}},  // timbre 2's channel
      {kOsc1Waveform, 5, {{0xB0, 77, 90}}},     // stepped CC values
      {kOsc2OscMod, 2, {{0xB0, 82, 85}}},
      {kArpType, 3, {{0xB0, 99, 0}, {0xB0, 98, 7}, {0xB0, 6, 77}}},  // NRPN on the global channel
      {kArpType, 5, {{0xB0, 99, 0}, {0xB0, 98, 7}, {0xB0, 6, 127}}},  // the last type is the top value
      {kArpType, 0, {{0xB0, 99, 0}, {0xB0, 98, 7}, {0xB0, 6, 0}}},
      {kModFxSpeed, 33, {{0xB0, 12, 33}}},                           // effect CCs: global channel
  };
  for (const Case& c : cases) {
    plug.edit(c.param, c.value);
    EXPECT_EQ(plug.take(), c.expected) << c.param;
    // The same value again sends nothing.
    plug.edit(c.param, c.value);
    EXPECT_TRUE(plug.take().empty()) << c.param;
  }
  EXPECT_EQ(plug.getDisplayLine(Vexmir::kLineCC), "CC|12");
}

TEST(ParamLogic, DisplayShowsNameValueAndTimbre) {
  Root root;
  LogicPlug plug;
  // The plug-in's name, or, first of all, that no MIDI system answers.
  const char* problem = plug.midiSystemProblem();
  EXPECT_EQ(plug.getDisplayLine(Vexmir::kLineName), problem ? problem : "Korg Vexmir Plug-in");
  plug.edit(kFilterCutoffT2, 64);
  EXPECT_EQ(plug.getDisplayLine(Vexmir::kLineName), plug.GetParam(kFilterCutoffT2)->GetNameForHost());
  EXPECT_EQ(plug.getDisplayLine(Vexmir::kLineValue), "64");
  EXPECT_EQ(plug.getDisplayLine(Vexmir::kLineTimbre), "[TIMBRE 2]");
  EXPECT_EQ(plug.getDisplayLine(Vexmir::kLineCC), "CC|74");
  // A control that sends nothing does not keep the last control's message name.
  plug.edit(kLayerLinker, 1);
  EXPECT_EQ(plug.getDisplayLine(Vexmir::kLineCC), "---");
}

// A drag leaves a knob anywhere between two whole values, up and down in steps finer than one: after every motion
// the display's value is the one the synthesizer last got.
TEST(ParamLogic, ADraggedKnobShowsTheValueLastSent) {
  Root root;
  LogicPlug plug;
  IParam* p = plug.GetParam(kFilterResonance);
  int lastSent = -1;
  for (int i = 0; i <= 1400; ++i) {
    const double position = (i <= 700 ? i : 1400 - i) / 700.0;
    plug.SetParameterFromGUI(kFilterResonance, position);
    for (const Bytes& m : plug.take())
      if (m.size() == 3 && m[0] == 0xB0 && m[1] == 71) lastSent = m[2];
    ASSERT_EQ(plug.getDisplayLine(Vexmir::kLineValue), std::to_string(lastSent))
        << "knob at " << p->Value() << " (motion " << i << ")";
  }
}

TEST(ParamLogic, ALockFlagStaysOnWhileAnyLockOfItsGroupIsOn) {
  Root root;
  LogicPlug plug;
  plug.edit(kSectionLockFXChorus, 1);
  plug.edit(kSectionLockArp, 1);
  plug.edit(kSectionLockArp, 0);
  EXPECT_TRUE(plug.commonLockActive);
  plug.edit(kSectionLockOsc1, 1);
  plug.edit(kSectionLockOsc1 + 2, 1);
  plug.edit(kSectionLockOsc1, 0);
  EXPECT_TRUE(plug.timbre1LockActive);
  EXPECT_FALSE(plug.timbre2LockActive);
  plug.edit(kSectionLockOsc1 + 2, 0);
  plug.edit(kSectionLockFXChorus, 0);
  EXPECT_FALSE(plug.timbre1LockActive || plug.commonLockActive);
}

TEST(ParamLogic, SysExEditsPutTheSynthesizerInEditModeFirst) {
  Root root;
  LogicPlug plug;
  ASSERT_FALSE(plug.editModeOn);
  plug.storeParamValue(kGlobalMidiChannel, 2);
  plug.OnParamChange(kGlobalMidiChannel);
  plug.edit(kAmpGateSw, 1);
  EXPECT_EQ(plug.take(), (std::vector<Bytes>{{0xF0, 0x42, 0x32, 0x58, 0x4E, 0x01, 0x00, 0xF7},
                                             {0xF0, 0x42, 0x32, 0x58, 0x41, 0x5B, 0x00, 0x01, 0x00, 0xF7}}));
  // A step knob: a signed value split into two 7-bit bytes; edit mode is on already.
  plug.edit(kSeq1Step1, 10);
  EXPECT_EQ(plug.take(), (std::vector<Bytes>{{0xF0, 0x42, 0x32, 0x58, 0x41, 0x08, 0x01, 0x4A, 0x7F, 0xF7}}));
  EXPECT_EQ(plug.getDisplayLine(Vexmir::kLineCC), "SysEx");
  // Without an output port nothing leaves, the name line says why, and the value is sent once a port is open.
  plug.midiOutReady = false;
  plug.edit(kSeq1Step1, 20);
  EXPECT_TRUE(plug.take().empty());
  EXPECT_EQ(plug.getDisplayLine(Vexmir::kLineName), "Set MIDI I/O First!");
  plug.midiOutReady = true;
  plug.edit(kSeq1Step1, 21);
  EXPECT_EQ(plug.take().size(), 1u);
}

TEST(ParamLogic, LinkedTimbresSendTheTwinFirstAndReceivedValuesNothing) {
  Root root;
  LogicPlug plug;
  plug.storeParamValue(kLayerLinker, 1.0);
  plug.edit(kFilterCutoff, 70);
  EXPECT_EQ(plug.take(), (std::vector<Bytes>{{0xB1, 74, 70}, {0xB0, 74, 70}}));
  EXPECT_EQ(plug.paramValue(kFilterCutoffT2), 70);
  EXPECT_EQ(plug.firstControl(kFilterCutoffT2)->GetValue(), plug.GetParam(kFilterCutoffT2)->GetNormalized());

  // A knob turned on the synthesizer: both timbres follow in the editor, nothing goes back.
  IMidiMsg fromSynth(0, 0xB0, 74, 33);
  plug.ProcessMidiMsg(&fromSynth, true);
  EXPECT_EQ(plug.paramValue(kFilterCutoff), 33);
  EXPECT_EQ(plug.paramValue(kFilterCutoffT2), 33);
  EXPECT_TRUE(plug.take().empty());
  EXPECT_EQ(plug.getDisplayLine(Vexmir::kLineValue), "33");
  EXPECT_FALSE(plug.changeFromHardware);

  // Not linked (any value but exactly 1): only the edited timbre.
  plug.storeParamValue(kLayerLinker, 0.0);
  plug.edit(kFilterCutoff, 80);
  EXPECT_EQ(plug.take(), (std::vector<Bytes>{{0xB0, 74, 80}}));
  EXPECT_EQ(plug.paramValue(kFilterCutoffT2), 33);
}

TEST(ParamLogic, TimbreSelectOutAndIn) {
  Root root;
  LogicPlug plug;
  plug.storeParamValue(kGlobalMidiChannel, 15);
  plug.edit(kQuickTab, 1);
  EXPECT_EQ(plug.take(), (std::vector<Bytes>{{0xBF, 95, 127}}));
  EXPECT_EQ(plug.displayedTimbre, 1);
  plug.edit(kQuickTab, 0);
  EXPECT_EQ(plug.take(), (std::vector<Bytes>{{0xBF, 95, 0}}));

  // From the synthesizer (two timbres): 0 and 1 (both) show timbre 1, 2 and above timbre 2; nothing is echoed.
  plug.storeParamValue(kCommonMode, 1);
  plug.localControlFlag = false;
  struct Case {
    int value, timbre;
  } cases[] = {{127, 1}, {0, 0}, {2, 1}, {1, 0}, {100, 1}};
  for (const Case& c : cases) {
    IMidiMsg m(0, 0xBF, 95, static_cast<uint8_t>(c.value));
    plug.ProcessMidiMsg(&m, true);
    EXPECT_EQ(plug.displayedTimbre, c.timbre) << c.value;
    EXPECT_EQ(plug.paramValue(kQuickTab), c.timbre) << c.value;
  }
  EXPECT_TRUE(plug.take().empty());
}

TEST(ParamLogic, SteppedValuesFromControllersMapByRange) {
  Root root;
  LogicPlug plug;
  struct Case {
    std::vector<Bytes> messages;  // from the synthesizer
    int param;
    double expected;
  } cases[] = {
      {{{0xB0, 77, 90}}, kOsc1Waveform, 5},  // the synthesizer's exact value
      {{{0xB0, 77, 30}}, kOsc1Waveform, 2},  // between steps: the nearest
      {{{0xB0, 77, 127}}, kOsc1Waveform, 7},
      {{{0xB0, 82, 43}}, kOsc2OscMod, 1},
      {{{0xB0, 82, 100}}, kOsc2OscMod, 2},
      {{{0xB0, 99, 0}, {0xB0, 98, 7}, {0xB0, 6, 30}}, kArpType, 1},   // 22..42: Down
      {{{0xB0, 99, 0}, {0xB0, 98, 7}, {0xB0, 6, 127}}, kArpType, 5},  // 107..127: Trigger
      {{{0xB0, 99, 0}, {0xB0, 98, 2}, {0xB0, 6, 64}}, kArpOnOff, 1},  // 64 and above: on
      {{{0xB0, 99, 0}, {0xB0, 98, 2}, {0xB0, 6, 63}}, kArpOnOff, 0},
  };
  for (const Case& c : cases) {
    for (const Bytes& b : c.messages) {
      IMidiMsg m(0, static_cast<uint8_t>(b[0]), static_cast<uint8_t>(b[1]), static_cast<uint8_t>(b[2]));
      plug.ProcessMidiMsg(&m, true);
    }
    EXPECT_EQ(plug.paramValue(c.param), c.expected) << c.param << " " << c.messages.back()[2];
  }
  // The arpeggiator switch sends what the synthesizer reads as on and off.
  plug.editModeOn = true;
  plug.take();
  plug.edit(kArpOnOff, 1);
  plug.edit(kArpOnOff, 0);
  EXPECT_EQ(
      plug.take(),
      (std::vector<Bytes>{{0xB0, 99, 0}, {0xB0, 98, 2}, {0xB0, 6, 127}, {0xB0, 99, 0}, {0xB0, 98, 2}, {0xB0, 6, 0}}));
}

TEST(ParamLogic, SysExParameterChangeMovesTheControlAndAdoptsTheChannel) {
  Root root;
  LogicPlug plug;
  // Distortion of timbre 1 on, from a synthesizer on channel 5.
  std::vector<uint8_t> change = {0xF0, 0x42, 0x35, 0x58, 0x41, 0x5C, 0x00, 0x01, 0x00, 0xF7};
  ISysEx s(0, change.data(), static_cast<int>(change.size()));
  plug.ProcessSysEx(&s, true);
  EXPECT_EQ(plug.paramValue(kAmpDistSw), 1);
  EXPECT_EQ(plug.deviceId, 0x35);
  EXPECT_EQ(plug.paramValue(kGlobalMidiChannel), 5);
  EXPECT_TRUE(plug.take().empty());
  // A mode change with value 1: edit mode, and the next program dump goes to the editor.
  std::vector<uint8_t> mode = {0xF0, 0x42, 0x35, 0x58, 0x4E, 0x01, 0x00, 0xF7};
  ISysEx m(0, mode.data(), static_cast<int>(mode.size()));
  plug.ProcessSysEx(&m, true);
  EXPECT_TRUE(plug.editModeOn);
  EXPECT_TRUE(plug.getMidiManager()->dumpPending);
  // Six-byte messages and messages of other makers are never read.
  std::vector<uint8_t> request = {0xF0, 0x42, 0x36, 0x58, 0x10, 0xF7},
                       other = {0xF0, 0x43, 0x36, 0x58, 0x4E, 0x00, 0x00, 0xF7};
  for (auto* bytes : {&request, &other}) {
    ISysEx x(0, bytes->data(), static_cast<int>(bytes->size()));
    plug.ProcessSysEx(&x, true);
  }
  EXPECT_EQ(plug.deviceId, 0x35);
  EXPECT_TRUE(plug.editModeOn);
}

TEST(ParamLogic, NotesFromTheSynthesizerEchoOnlyWithLocalControlOff) {
  Root root;
  LogicPlug plug;
  IMidiMsg note(0, 0x90, 60, 100);
  plug.localControlFlag = true;
  plug.ProcessMidiMsg(&note, true);
  EXPECT_TRUE(plug.take().empty());
  plug.localControlFlag = false;
  plug.ProcessMidiMsg(&note, true);
  EXPECT_EQ(plug.take(), (std::vector<Bytes>{{0x90, 60, 100}}));
  // From the host a note always passes on; a host CC moves the control and passes on too.
  plug.localControlFlag = true;
  plug.ProcessMidiMsg(&note, false);
  IMidiMsg cc(0, 0xB0, 74, 55);
  plug.ProcessMidiMsg(&cc, false);
  EXPECT_EQ(plug.take(), (std::vector<Bytes>{{0x90, 60, 100}, {0xB0, 74, 55}}));
  EXPECT_EQ(plug.paramValue(kFilterCutoff), 55);
}

TEST(ParamLogic, NonFiniteAndHugeValuesAreClamped) {
  Root root;
  LogicPlug plug;
  plug.editModeOn = true;
  ControlAction* a = plug.GetParam(kFilterCutoff)->GetControlAction();
  ASSERT_NE(a, nullptr);
  for (double v : {std::nan(""), 1e300, -1e300, 500.0, -3.0}) {
    plug.processControlAction(a, kFilterCutoff, v);
    for (const Bytes& b : plug.take())
      for (int x : std::vector<int>(b.begin() + 1, b.end())) EXPECT_LE(x, 127) << v;
  }
  EXPECT_EQ(Vexmir::toInt(std::nan("")), 0);
  EXPECT_EQ(Vexmir::toInt(1e300), INT_MAX);
  EXPECT_EQ(Vexmir::toInt(-2.7), -2);
}

TEST(Layers, ShowMultiLayersSwitchesOneBandOfTen) {
  ControlLayer parent(0, "p");
  const int ids[] = {5, 10, 11, 20, 21, 80, 205, 301};
  for (int id : ids) {
    auto* child = new ControlLayer(id, "c" + std::to_string(id));
    child->Hide(false);
    parent.childLayers.Add(child);
  }
  auto shown = [&] {
    std::string s;
    for (int i = 0; i < parent.childLayers.GetSize(); ++i)
      if (parent.childLayers.Get(i)->isVisible()) s += std::to_string(parent.childLayers.Get(i)->getId()) + " ";
    return s;
  };
  struct Case {
    int selected;
    const char* visible;
  } cases[] = {
      {11, "11 20 21 301 "},      // band 10: ids below 20 and 70..299 are touched
      {21, "11 21 301 "},         // band 20 leaves band 10 alone
      {250, "5 11 21 205 301 "},  // 200..298: ids below 10 and 200..299 shown
      {109, "5 11 21 205 301 "},  // no band: only the zone changes
      {301, "11 21 205 301 "},    // 300 and above: ids below 10 and from 300
  };
  for (const Case& c : cases) {
    parent.showMultiLayers(c.selected);
    EXPECT_EQ(shown(), c.visible) << c.selected;
    EXPECT_EQ(parent.getSelectedZone(), c.selected);
  }
}

TEST(StartUp, UISettingsShowInTheirMenusAndTheFirstRunNoticeGoesWhenDismissed) {
  Root root;
  const std::string file = Vexmir::getDataFolder() + "Vexmir Editor UI.txt";
  std::filesystem::create_directories(Vexmir::getDataFolder());
  std::ofstream(file) << "black\nsmall\nno\n";
  auto notice = [](Vexmir& v) { return v.getUIConfig()->getLayer("firstRunNotification"); };
  {
    Vexmir v(IEffectInstanceInfo{quietHost});
    EXPECT_EQ(v.paramValue(kUserInterfaceSkin), 1);
    EXPECT_EQ(v.paramValue(kUserInterfaceSize), 0);
    ASSERT_NE(notice(v), nullptr);
    EXPECT_TRUE(notice(v)->isVisible());
    // The notice's OK button: gone at once, and not shown at the next start.
    v.storeParamValue(kFirstRunExit, 1);
    v.OnParamChange(kFirstRunExit);
    EXPECT_FALSE(notice(v)->isVisible());
  }
  EXPECT_EQ(vexmir::testsupport::readText(file), "black\nsmall\nyes\n\n");
  Vexmir again(IEffectInstanceInfo{quietHost});
  EXPECT_FALSE(notice(again)->isVisible());
}

TEST(LookUps, AddressesTextsAndTheProgramValueTable) {
  Root root;
  Vexmir v(IEffectInstanceInfo{quietHost});
  // The amp EG gate switch of timbre 1 is registered under 58 41 5B 00 and key 0 only.
  EXPECT_NE(v.getSysexControl(0x58, 0x41, 0x5B, 0, 0), nullptr);
  EXPECT_EQ(v.getSysexControl(0x58, 0x41, 0x5B, 0, 1), nullptr);
  EXPECT_NE(v.getCCControls(1, 74, 0), nullptr);
  EXPECT_EQ(v.getCCControls(1, 74, 1), nullptr);
  const char* first = v.getPanelString(1, "Filter");
  EXPECT_STREQ(first, "Timbre 2 Filter");
  EXPECT_STREQ(v.getPanelString(0, "Osc"), "Timbre 1 Osc");
  EXPECT_EQ(Vexmir::getValueString(127.4), "127");
  EXPECT_EQ(Vexmir::getValueString(-0.4), "-0");
  EXPECT_EQ(v.getProgramValueByParts(1, 2, 3), 0);
  v.setProgramValueByParts(1, 2, 3, 42);
  v.setProgramValueByParts(1, 2, 3, 43);
  EXPECT_EQ(v.getProgramValueByParts(1, 2, 3), 43);
  EXPECT_EQ(v.getProgramValueByParts(1, 2, 4), 0);
  std::vector<std::string> steps(16);
  for (int k = 0; k < 16; ++k) steps[static_cast<size_t>(k)] = std::to_string(k - 8);
  v.displaySequence3Values(steps);
  auto* step16 = dynamic_cast<ITextControl*>(v.firstControl(kModSeq3Value16));
  ASSERT_NE(step16, nullptr);
  EXPECT_EQ(step16->GetTextForPlug(), std::string("7"));
}
