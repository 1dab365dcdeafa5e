// The reader and its factories, on a real editor object and surface, from descriptions given as text.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>

#include "KIT/IEffect/ControlLayer.h"
#include "KIT/IEffect/IControls.h"
#include "KIT/IEffect/IGraphicsMac.h"
#include "KIT/IEffect/IParam.h"
#include "platform/vst2/vst2.h"
#include "src/ICustomRadioButtonsControl.h"
#include "src/UIConfigManager.h"
#include "src/Vexmir.h"
#include "tests/core/bundle_host.h"

namespace {

intptr_t quietHost(AEffect*, int32_t, int32_t, intptr_t, void*, float) {
  return 0;
}

const char* const kSysEx = R"(<sysex>
  <entry name="cutoff"><line>42 30 58 41 54 00 00 00</line></entry>
  <entry name="short"><line>42 30 58</line></entry>
  <entry name="tempo"><line>42 30 58 41 1F 00 00 00</line></entry>
  <entry name="dist"><line>42 30 58 41 5B 00 00 00</line></entry>
</sysex>)";

// A plug-in and a surface of its own for each description; the plug-in's own build finds no bundle here.
class Reader : public ::testing::Test {
 protected:
  void build(const std::string& body, double scale = 1.0) {
    fresh();
    surface.reset(new IGraphicsMac(plug.get(), 1500, 667, 0));
    ui->setContext(surface.get(), plug.get(), 0, scale);
    ui->readSysexText(kSysEx);
    ui->readUIConfigText("<uiconfig>" + body + "</uiconfig>");
  }
  // The plug-in's own editor may have been built from the bundle: these descriptions start from unbound
  // parameters.
  void fresh() {
    for (int i = 0; i < kNumParams; ++i) {
      plug->GetParam(i)->SetControlAction(nullptr);
      plug->GetParam(i)->ResetDisplayTexts();
    }
    ui = std::make_unique<UIConfigManager>();
  }
  void TearDown() override {
    ui.reset();
    surface.reset();
  }
  ControlAction* action(int idx) { return plug->GetParam(idx)->GetControlAction(); }
  bool logged(const std::string& part) const {
    const auto& m = ui->getMessages();
    return std::any_of(m.begin(), m.end(), [&](const std::string& s) { return s.find(part) != std::string::npos; });
  }

  coretest::TempRoot root;
  std::unique_ptr<Vexmir> plug{new Vexmir(IEffectInstanceInfo{quietHost})};
  std::unique_ptr<IGraphicsMac> surface;
  std::unique_ptr<UIConfigManager> ui;
};

const char* const kKnobs = R"(
  <layer name="miniMixer" id="5">
    <knobcontrol type="ccKnob" name="Level" paramId="kOsc1Level" position="10,10" ccNumber="23" channel="3"
                 valueBounds="0,0,127,1"/>
  </layer>
  <multilayer name="mainOscLayer" id="2">
    <layer name="filter" id="30">
      <knobcontrol type="ccKnob" name="Cutoff" paramId="kFilterCutoff" position="100,200" ccNumber="74"
                   valueBounds="64,0,127,2" paramGroup="Filter" biDirectLink="kFilterCutoff+1,kFilterCutoff"/>
      <knobcontrol type="ccKnob" name="Wave" paramId="kOsc1DWGSWave" position="200,200" ccNumber="9"
                   valueBounds="0,0,63,1"/>
      <knobcontrol type="seKnob" name="Cut2" paramId="kFilterResonance" position="300,200" valueBounds="0,0,127,1"
                   sysexIndex="0" changingByte="7"/>
    </layer>
    <shared><knobcontrol type="seKnob2" name="Tempo" paramId="kArpTempo" position="400,300"
                         valueBounds="100,0,280,1" sysexIndex="2" changingByte="7"/></shared>
  </multilayer>)";

}  // namespace

TEST_F(Reader, LayersCopiesAndSharedControls) {
  build(kKnobs);
  ControlLayer* main = ui->getLayer("mainOscLayer");
  ASSERT_NE(main, nullptr);
  ASSERT_EQ(main->childLayers.GetSize(), 2);
  EXPECT_EQ(main->childLayers.Get(0)->getId(), 0);
  EXPECT_EQ(main->childLayers.Get(1)->getName(), "mainOscLayerTimbre2");
  EXPECT_NE(ui->getLayer("filterT2"), nullptr);
  EXPECT_EQ(ui->getLayer("filterT2")->getId(), 30);
  EXPECT_EQ(main->controls.GetSize(), 1);  // the shared tempo knob, once
  EXPECT_STREQ(plug->GetParam(kFilterCutoffT2)->GetNameForHost(), "[2] Cutoff");
  EXPECT_STREQ(plug->GetParam(kFilterCutoffT2)->GetParamGroupForHost(), "Timbre 2:Filter");
  EXPECT_STREQ(plug->GetParam(kArpTempo)->GetNameForHost(), "Tempo");
  EXPECT_EQ(plug->GetParam(kFilterCutoff)->GetStep(), 2.0);  // the CC knob keeps its step
}

TEST_F(Reader, RoutingKeysFollowLayerAndTimbre) {
  build(kKnobs);
  struct Case {
    int channel, cc, subKey, param;
  } cases[] = {
      {3, 23, 1, kOsc1Level},       // a mixer layer keeps the element's channel
      {1, 74, 0, kFilterCutoff},    // timbre 1 copy
      {2, 74, 0, kFilterCutoffT2},  // timbre 2 copy
      {2, 9, 1, kOsc1DWGSWaveT2},   // the DWGS wave has sub-key 1
  };
  for (const Case& c : cases) {
    IControl* control = ui->getCCControl(c.channel, c.cc, c.subKey);
    ASSERT_NE(control, nullptr) << c.param;
    EXPECT_EQ(control->ParamIdx(), c.param);
  }
  EXPECT_EQ(ui->getCCControl(1, 74, 1), nullptr);
  // SysEx: timbre 2 addresses parameter number + 144.
  IControl* res = ui->getSysExControl(0x58, 0x41, 0x54, 0x00, 0);
  IControl* res2 = ui->getSysExControl(0x58, 0x41, 0x64, 0x01, 0);
  ASSERT_NE(res, nullptr);
  ASSERT_NE(res2, nullptr);
  EXPECT_EQ(res2->ParamIdx(), kFilterResonanceT2);
  EXPECT_EQ(action(kFilterResonanceT2)->type, ControlAction::kSysExMessages);
  EXPECT_EQ(action(kFilterResonanceT2)->timbre, 1);
  // The tempo knob uses the tempo table: value 280 is tempo 300.
  ASSERT_EQ(action(kArpTempo)->sysex.messages.size(), 281u);
  EXPECT_EQ(action(kArpTempo)->sysex.messages[280][6], 44);
  EXPECT_EQ(action(kArpTempo)->sysex.messages[280][7], 2);
}

TEST_F(Reader, LinksRunBothWaysFromTheTimbre1Copy) {
  build(kKnobs);
  EXPECT_EQ(action(kFilterCutoff)->linkInfo, (LinkInfo{kFilterCutoffT2, kFilterCutoff, -1}));
  // The timbre-2 copy of the element keeps the link back and makes none of its own (its shifted ends would tie
  // the timbre-1 resonance to the timbre-2 cutoff).
  EXPECT_EQ(action(kFilterCutoffT2)->linkInfo, (LinkInfo{kFilterCutoff, kFilterCutoff, -1}));
  EXPECT_EQ(action(kFilterResonance)->linkInfo, LinkInfo{});
}

TEST_F(Reader, BadElementsAreLoggedAndSkipped) {
  build(R"(
    <knobcontrol type="ccKnob" name="Nope" paramId="kNoSuchThing" position="1,1" ccNumber="1"/>
    <knobcontrol type="ccKnob" name="Far" paramId="kTimbreLED+5" position="1,1" ccNumber="1"/>
    <radio name="None" paramId="kMainTab" position="0,0" imageId="TAB_MAIN_ID" buttons="0"/>
    <knobcontrol type="seKnob" name="Short" paramId="kEG1Attack" position="1,1" valueBounds="0,0,127,1"
                 sysexIndex="1" changingByte="7"/>
    <knobcontrol type="seKnob" name="NoEntry" paramId="kEG1Decay" position="1,1" valueBounds="0,0,127,1"
                 sysexIndex="40" changingByte="7"/>
    <knobcontrol type="seKnob" name="Empty" paramId="kEG1Sustain" position="1,1" valueBounds="0,5,2,1"
                 sysexIndex="0" changingByte="7"/>
    <knobcontrol type="ccKnob" name="Pic" paramId="kEG1Release" position="1,1" imageId="NO_SUCH_ID" ccNumber="3"/>
    <frobnicate/>
    <knobcontrol type="wobble" paramId="kEG2Attack"/>)");
  EXPECT_TRUE(logged("\"kNoSuchThing\""));
  EXPECT_TRUE(logged("\"kTimbreLED+5\""));
  EXPECT_TRUE(logged("radio group None"));
  EXPECT_EQ(action(kMainTab), nullptr);
  for (int idx : {kEG1Attack, kEG1Decay, kEG1Sustain}) {
    ASSERT_NE(action(idx), nullptr);
    EXPECT_EQ(action(idx)->type, ControlAction::kUnbound) << idx;  // shown, left unbound
    EXPECT_EQ(action(idx)->controls.size(), 1u);
  }
  EXPECT_TRUE(logged("Image NO_SUCH_ID MISSING!"));
  EXPECT_NE(ui->getCCControl(0, 3, 0), nullptr);  // still made and bound
  EXPECT_TRUE(logged("unknown element frobnicate"));
  EXPECT_TRUE(logged("unknown type \"wobble\""));
}

TEST_F(Reader, DamagedXmlBuildsWhatWasRead) {
  fresh();
  surface.reset(new IGraphicsMac(plug.get(), 1500, 667, 0));
  ui->setContext(surface.get(), plug.get(), 0, 1.0);
  ui->readUIConfigText(
      "<uiconfig>\n<layer name=\"a\" id=\"1\">\n"
      "<knobcontrol type=\"ccKnob\" name=\"A\" paramId=\"kEG1Attack\" position=\"1,1\" ccNumber=\"5\"/>\n"
      "<knobcontrol type=\"ccKnob\" name=\"B\" paramId=\"kEG1Decay\" position=\"1,1\" ccNumber=\"6\"\n"
      "<<<broken\n");
  EXPECT_TRUE(logged("not well-formed XML at line"));
  EXPECT_NE(ui->getLayer("a"), nullptr);
  EXPECT_NE(ui->getCCControl(0, 5, 0), nullptr);
}

TEST_F(Reader, MenusSwitchesAndDisplays) {
  build(R"(
    <valueList name="types"><item>24LPF</item><item>12LPF</item><item>12BPF</item><item>12HPF</item></valueList>
    <layer name="x" id="1">
      <menucontrol type="ccMenu" name="Ch" paramId="kMultiPartMIDICh" position="10,10,40" valueBounds="0,0,16"
                   valueDisplay="1:16" ccNumber="20"/>
      <menucontrol type="ccMenu" name="Bad" paramId="kFilterType" position="10,30,40" valueBounds="0,0,4"
                   valueList="types3" ccNumber="21"/>
      <menucontrol type="seMenu" name="Type" paramId="kFilterTypeT2" position="10,50,40" valueBounds="0,0,4"
                   valueList="types" sysexIndex="0" changingByte="7"/>
      <buttoncontrol type="ccButton" name="Sw" paramId="kAmpDistSw" position="10,70" ccNumber="22"
                     valueBounds="0,0.9,127.6"/>
      <dropMenu type="nameSelection" name="Name" paramId="kPatchName" bounds="10,90,100,20" nameLen="12"/>
      <dropMenu type="textSelection" name="T" paramId="kDataType" bounds="10,110,100,20"/>
      <display paramId="kModSeq2Value05" bounds="10,130,40,16" displaySize="2"/>
    </layer>)");
  IParam* ch = plug->GetParam(kMultiPartMIDICh);
  EXPECT_EQ(ch->GetNDisplayTexts(), 16);
  EXPECT_STREQ(ch->GetDisplayText(15), "16");
  EXPECT_EQ(action(kFilterType), nullptr);  // 0 texts for 4 values and no number range: no control
  EXPECT_TRUE(logged("value list types3"));
  EXPECT_EQ(action(kFilterTypeT2)->sysex.messages.size(), 5u);
  EXPECT_EQ(action(kAmpDistSw)->offValue, 0);
  EXPECT_EQ(action(kAmpDistSw)->onValue, 127);
  EXPECT_EQ(action(kAmpDistSw)->channel, 0);  // outside timbre copies, outside the mixer layers
  EXPECT_STREQ(plug->GetParam(kPatchName)->GetDisplayText(0), "-- INIT --");
  EXPECT_EQ(plug->GetParam(kPatchName)->Type(), IParam::kTypeText);
  EXPECT_EQ(action(kPatchName)->controls.front()->GetTextEntryLength(), 12);
  EXPECT_TRUE(action(kDataType)->controls.front()->GetPromptDisabled());
  EXPECT_EQ(action(kModSeq2Value05)->controls.front()->ParamIdx(), -1);
}

TEST_F(Reader, RadioGroupsChooseByCellAndIgnoreGreyedClicks) {
  plug.reset(new Vexmir(IEffectInstanceInfo{quietHost}));
  // No image: a group drawn from an empty bitmap still has its buttons, all empty, so nothing is chosen.
  build(R"(<layer name="r" id="1"><radio name="One" paramId="kQuickTab" position="0,0" buttons="1"/></layer>)");
  ASSERT_NE(action(kQuickTab), nullptr);
  auto* radio = static_cast<ICustomRadioButtonsControl*>(action(kQuickTab)->controls.front());
  IMouseMod left(true);
  radio->OnMouseDown(0, 0, &left);
  EXPECT_EQ(radio->GetValue(), 0.0);

  // Four cells of 50 x 20 from a strip 200 x 40 of two stacked frames.
  IBitmap strip(nullptr, 200, 40, 2, false);
  ICustomRadioButtonsControl group(plug.get(), IRECT(10, 10, 210, 30), kMainTab, 4, &strip, kHorizontal);
  const auto& cells = group.GetButtonRECTs();
  ASSERT_EQ(cells.size(), 4u);
  EXPECT_EQ(cells[2].L, 110);
  EXPECT_EQ(cells[2].R, 160);
  EXPECT_EQ(cells[2].B, 30);
  group.OnMouseDownCustom(120, 15, &left);
  EXPECT_DOUBLE_EQ(group.GetValue(), 2.0 / 3.0);
  group.GrayOut(true);
  group.OnMouseDown(15, 15, &left);
  EXPECT_DOUBLE_EQ(group.GetValue(), 2.0 / 3.0);
  IMouseMod right(false, true);
  group.GrayOut(false);
  group.OnMouseDown(15, 15, &right);
  EXPECT_DOUBLE_EQ(group.GetValue(), 2.0 / 3.0);
}
