// Controls: the three roads of a value, dirtiness and clamping, the wheel and the prompt, the standard controls'
// mouse handling and layout, the popup menu model and bitmap text.
#include <gtest/gtest.h>

#include "KIT/IEffect/IBitmapMonoText.h"
#include "gui_support.h"

using namespace guitest;

namespace {

class Plain : public IControl {
 public:
  Plain(IEffectBase* plug, IRECT r, int paramIdx = -1) : IControl(plug, r, paramIdx) {}
  bool Draw(IGraphics*) override { return true; }
};

class Knob : public IKnobControl {
 public:
  using IKnobControl::IKnobControl;
  bool Draw(IGraphics*) override { return true; }
};

struct Fixture {
  TestPlug plug;
  TestGraphics& g = *new TestGraphics{&plug, 300, 200};  // owned by the plug-in once attached
  Fixture() { plug.AttachGraphics(&g); }
  template <class C>
  C* attach(C* c) {
    g.AttachControl(c);
    return c;
  }
};

IBitmap bitmapOf(PIX_IBitmap* bm, int n, bool horizontal = false) {
  return IBitmap(bm, bm->getWidth(), bm->getHeight(), n, horizontal);
}

}  // namespace

// ---- IControl ----

TEST(Control, FirstValueFromPlugBecomesTheDefaultWithoutDirtying) {
  Fixture f;
  auto* c = f.attach(new Plain(&f.plug, IRECT(0, 0, 10, 10), kLevel));
  c->SetClean();
  c->SetValueFromPlug(0.7);
  EXPECT_DOUBLE_EQ(c->GetValue(), 0.7);
  EXPECT_DOUBLE_EQ(c->GetDefaultValue(), 0.7);
  EXPECT_FALSE(c->IsDirty());
  EXPECT_TRUE(f.plug.guiCalls.empty());

  c->SetValueFromUserInput(0.2);
  f.plug.guiCalls.clear();
  c->OnMouseDblClick(0, 0, nullptr);
  EXPECT_DOUBLE_EQ(c->GetValue(), 0.7);
  EXPECT_EQ(f.plug.guiCalls, std::vector<std::string>{"gui 3 0.7000"});
}

TEST(Control, NewValueFromPlugStaysDirtyOneMoreFrame) {
  Fixture f;
  auto* c = f.attach(new Plain(&f.plug, IRECT(0, 0, 10, 10), kLevel));
  c->SetValueFromPlug(0.1);
  c->SetClean();
  c->SetValueFromPlug(0.1);
  EXPECT_FALSE(c->IsDirty());
  c->SetValueFromPlug(0.4);
  EXPECT_TRUE(c->IsDirty());
  c->SetClean();
  EXPECT_TRUE(c->IsDirty());
  c->SetClean();
  EXPECT_FALSE(c->IsDirty());
  EXPECT_TRUE(f.plug.guiCalls.empty());
}

TEST(Control, ValueFromHardwareUpdatesThePluginWithoutMidiBack) {
  Fixture f;
  auto* c = f.attach(new Plain(&f.plug, IRECT(0, 0, 10, 10), kCutoff));
  auto* display = f.attach(new ITextControl(&f.plug, IRECT(0, 20, 40, 30), nullptr));
  auto* name = f.attach(new ITextControl(&f.plug, IRECT(0, 40, 40, 50), nullptr));
  c->SetValDisplayControl(display);
  c->SetNameDisplayControl(name);
  c->SetValueFromHardware(0.0);  // only the default
  EXPECT_TRUE(f.plug.guiCalls.empty());
  c->SetValueFromHardware(1.0);
  EXPECT_EQ(f.plug.guiCalls, std::vector<std::string>{"gui2 0 1.0000"});
  EXPECT_EQ(f.plug.paramChanges2, std::vector<int>{kCutoff});
  EXPECT_TRUE(f.plug.paramChanges.empty());
  EXPECT_EQ(display->GetTextForPlug(), "127");
  EXPECT_EQ(name->GetTextForPlug(), "Cutoff");
  // Displays drawn from a bitmap font follow the same way.
  IBitmap font;
  auto* shown = f.attach(new IBitmapTextControl(&f.plug, IRECT(0, 60, 40, 70), &font));
  auto* named = f.attach(new IBitmapTextControl(&f.plug, IRECT(0, 80, 40, 90), &font));
  c->SetValDisplayControl(shown);
  c->SetNameDisplayControl(named);
  c->SetValueFromHardware(0.5);
  EXPECT_EQ(shown->GetTextForPlug(), "64");
  EXPECT_EQ(named->GetTextForPlug(), "Cutoff");
}

TEST(Control, SetDirtyClampsBeforeHandingOver) {
  struct Row {
    double lo, hi, value, expect;
  };
  const Row rows[] = {
      {0.0, 1.0, 1.3, 1.0}, {0.0, 1.0, -0.2, 0.0}, {0.2, 0.8, 0.1, 0.2}, {0.2, 0.8, 0.9, 0.8}, {0.2, 0.8, 0.5, 0.5}};
  for (const Row& row : rows) {
    Fixture f;
    auto* c = f.attach(new Plain(&f.plug, IRECT(0, 0, 10, 10), kLevel));
    c->Clamp(row.lo, row.hi);
    c->SetValue(row.value);
    c->SetDirty(true);
    EXPECT_DOUBLE_EQ(c->GetValue(), row.expect);
    ASSERT_EQ(f.plug.guiCalls.size(), 1u);
    EXPECT_DOUBLE_EQ(f.plug.GetParam(kLevel)->Value(), row.expect);
  }
}

TEST(Control, WheelStepsAreClampedAndEachHandedOver) {
  Fixture f;
  auto* c = f.attach(new Plain(&f.plug, IRECT(0, 0, 10, 10), kLevel));
  IMouseMod none, shift(true, false, true), ctrl(true, false, false, true);
  c->OnMouseWheel(0, 0, &none, 1);
  EXPECT_NEAR(c->GetValue(), 0.01, 1e-12);
  c->OnMouseWheel(0, 0, &shift, 1);
  EXPECT_NEAR(c->GetValue(), 0.011, 1e-12);
  c->OnMouseWheel(0, 0, &ctrl, -1);
  EXPECT_NEAR(c->GetValue(), 0.01, 1e-12);
  f.plug.guiCalls.clear();
  for (int i = 0; i < 3; ++i) c->OnMouseWheel(0, 0, &none, -1);
  EXPECT_DOUBLE_EQ(c->GetValue(), 0.0);
  EXPECT_EQ(f.plug.guiCalls.size(), 3u);
  EXPECT_EQ(f.plug.guiCalls.back(), "gui 3 0.0000");
  // Greying does not stop the wheel.
  c->GrayOut(true);
  c->OnMouseWheel(0, 0, &none, 5);
  EXPECT_NEAR(c->GetValue(), 0.05, 1e-12);
}

TEST(Control, RightClickPromptDependsOnTextsGreyAndTheDisabledFlag) {
  Fixture f;
  IMouseMod right(false, true);
  auto* numeric = f.attach(new Plain(&f.plug, IRECT(10, 20, 51, 41), kCutoff));
  numeric->OnMouseDown(0, 0, &right);
  EXPECT_TRUE(f.g.textEntries.empty());  // prompts are off by default
  numeric->DisablePrompt(false);
  numeric->OnMouseDown(0, 0, &right);
  ASSERT_EQ(f.g.textEntries.size(), 1u);
  EXPECT_EQ(f.g.textEntries[0].rect, IRECT(15, 22, 45, 38));  // 30 x 16 around (30, 30)

  auto* listed = f.attach(new Plain(&f.plug, IRECT(100, 100, 140, 114), kMode));
  listed->DisablePrompt(false);
  listed->OnMouseDown(0, 0, &right);
  ASSERT_EQ(f.g.menuRects.size(), 1u);
  EXPECT_EQ(f.g.menuRects[0], IRECT(100, 100, 140, 114));

  listed->GrayOut(true);
  listed->OnMouseDown(0, 0, &right);
  auto* unbound = f.attach(new Plain(&f.plug, IRECT(0, 0, 5, 5)));
  unbound->DisablePrompt(false);
  unbound->OnMouseDown(0, 0, &right);
  EXPECT_EQ(f.g.menuRects.size(), 1u);
  EXPECT_EQ(f.g.textEntries.size(), 1u);
}

TEST(Control, GreyingTwiceLeavesFullWeightAndDirty) {
  Fixture f;
  auto* c = f.attach(new Plain(&f.plug, IRECT(0, 0, 10, 10)));
  c->SetClean();
  c->GrayOut(true);
  EXPECT_FLOAT_EQ(c->GetBlend()->mWeight, 0.5f);
  c->SetClean();
  c->GrayOut(false);
  EXPECT_FLOAT_EQ(c->GetBlend()->mWeight, 1.0f);
  EXPECT_TRUE(c->IsDirty());
}

TEST(Control, HitTestIsHalfOpen) {
  TestPlug plug;
  Plain c(&plug, IRECT(10, 10, 20, 20));
  const struct {
    int x, y;
    bool hit;
  } rows[] = {{10, 10, true}, {19, 19, true}, {20, 15, false}, {15, 20, false}, {9, 15, false}};
  for (const auto& row : rows) EXPECT_EQ(c.IsHit(row.x, row.y), row.hit) << row.x << "," << row.y;
  Plain empty(&plug, IRECT());
  EXPECT_FALSE(empty.IsHit(0, 0));
}

TEST(Control, AuxiliaryParametersFollowThePlugin) {
  Fixture f;
  auto* c = f.attach(new Plain(&f.plug, IRECT(0, 0, 10, 10), kLevel));
  EXPECT_EQ(c->AuxParamIdx(kCutoff), -1);
  c->AddAuxParam(kCutoff);
  c->AddAuxParam(kDepth);
  EXPECT_EQ(c->AuxParamIdx(kDepth), 1);
  c->SetClean();
  c->SetAuxParamValueFromPlug(1, 0.25);
  EXPECT_TRUE(c->IsDirty());
  c->SetAllAuxParamsFromGUI();
  EXPECT_EQ(f.plug.guiCalls, (std::vector<std::string>{"gui 0 0.0000", "gui 5 0.2500"}));
}

// ---- Standard controls ----

TEST(Controls, FrameChosenFromTheValue) {
  EXPECT_EQ(FrameFromValue(128, 0.0), 1);
  EXPECT_EQ(FrameFromValue(128, 1.0), 128);
  EXPECT_EQ(FrameFromValue(128, 0.5), 65);
  EXPECT_EQ(FrameFromValue(128, 2.0), 128);
  EXPECT_EQ(FrameFromValue(128, -1.0), 1);
  EXPECT_EQ(FrameFromValue(1, 0.7), 1);
}

TEST(Controls, SwitchesStepThroughTheirFrames) {
  Fixture f;
  IBitmap two = bitmapOf(frames(10, 10, 2), 2), five = bitmapOf(frames(10, 10, 5), 5);
  auto* toggle = f.attach(new ISwitchControl(&f.plug, 0, 0, kLevel, &two));
  toggle->OnMouseDown(0, 0, nullptr);
  EXPECT_DOUBLE_EQ(toggle->GetValue(), 1.0);
  toggle->OnMouseDblClick(0, 0, nullptr);
  EXPECT_DOUBLE_EQ(toggle->GetValue(), 0.0);

  auto* cycle = f.attach(new ISwitchControl(&f.plug, 20, 0, kMode, &five));
  std::vector<double> seen;
  for (int i = 0; i < 6; ++i) {
    cycle->OnMouseDown(20, 0, nullptr);
    seen.push_back(cycle->GetValue());
  }
  EXPECT_EQ(seen, (std::vector<double>{0.25, 0.5, 0.75, 1.0, 0.0, 0.25}));
  cycle->GrayOut(true);
  cycle->OnMouseDown(20, 0, nullptr);
  EXPECT_DOUBLE_EQ(cycle->GetValue(), 0.25);
  delete two.mData;
  delete five.mData;
}

TEST(Controls, ContactButtonSendsPressAndRelease) {
  Fixture f;
  IBitmap two = bitmapOf(frames(10, 10, 2), 2);
  f.attach(new IContactControl(&f.plug, 0, 0, kLevel, &two));
  IMouseMod left(true);
  f.g.OnMouseDown(5, 5, &left);
  f.g.OnMouseUp(5, 5, &left);
  EXPECT_EQ(f.plug.guiCalls, (std::vector<std::string>{"gui 3 1.0000", "gui 3 0.0000"}));
  // The control's own handling comes before the host's begin notice.
  EXPECT_EQ(hostLog(), (std::vector<std::string>{"automate 3 1.0000", "begin 3", "automate 3 0.0000", "end 3"}));
  delete two.mData;
}

TEST(Controls, FaderSnapsItsHandleCentreToThePointer) {
  Fixture f;
  IBitmap handle = bitmapOf(solid(10, 20, PIX_RGBA(255, 255, 255, 255)), 1);
  auto* fader = f.attach(new IFaderControl(&f.plug, 0, 0, 100, kLevel, &handle));
  EXPECT_EQ(*fader->GetRECT(), IRECT(0, 0, 10, 100));
  IMouseMod left(true);
  const struct {
    int y;
    double value;
  } rows[] = {{10, 1.0}, {90, 0.0}, {50, 0.5}, {-30, 1.0}, {150, 0.0}};
  for (const auto& row : rows) {
    fader->OnMouseDown(5, row.y, &left);
    EXPECT_DOUBLE_EQ(fader->GetValue(), row.value) << row.y;
  }
  fader->SetValue(0.5);
  EXPECT_EQ(fader->GetHandleRECT(), IRECT(0, 40, 10, 60));
  EXPECT_EQ(fader->GetHandleRECT(1.0), IRECT(0, 0, 10, 20));
  fader->OnMouseDrag(5, 90, 0, 40, &left);
  EXPECT_DOUBLE_EQ(fader->GetValue(), 0.0);

  IBitmap wide = bitmapOf(solid(20, 10, PIX_RGBA(255, 255, 255, 255)), 1);
  auto* horizontal = f.attach(new IFaderControl(&f.plug, 100, 100, 120, kLevel, &wide, kHorizontal, true));
  horizontal->OnMouseDown(160, 105, &left);
  EXPECT_DOUBLE_EQ(horizontal->GetValue(), 0.5);
  EXPECT_TRUE(horizontal->IsHit(155, 105));   // on the handle
  EXPECT_FALSE(horizontal->IsHit(105, 105));  // on the track only
  delete handle.mData;
  delete wide.mData;
}

TEST(Controls, FaderAsLongAsItsHandleDoesNotMove) {
  Fixture f;
  IBitmap handle = bitmapOf(solid(10, 20, PIX_RGBA(255, 255, 255, 255)), 1);
  auto* fader = f.attach(new IFaderControl(&f.plug, 0, 0, 20, kLevel, &handle));
  fader->SetValue(0.3);
  IMouseMod left(true);
  fader->OnMouseDown(5, 5, &left);
  fader->OnMouseDrag(5, 15, 0, 10, &left);
  EXPECT_DOUBLE_EQ(fader->GetValue(), 0.3);
  EXPECT_EQ(fader->GetHandleRECT(), IRECT(0, 0, 10, 20));
  delete handle.mData;
}

TEST(Controls, KnobDragFollowsGearingAndFineModifiers) {
  Fixture f;
  IBitmap strip = bitmapOf(knobStrip(50, 50, 128), 128);
  auto* knob = f.attach(new IKnobMultiControl(&f.plug, 0, 0, kCutoff, &strip));
  EXPECT_EQ(*knob->GetRECT(), IRECT(0, 0, 50, 50));
  IMouseMod left(true), shift(true, false, true);
  knob->OnMouseDrag(0, 0, 0, -25, &left);
  EXPECT_NEAR(knob->GetValue(), 0.125, 1e-12);
  knob->OnMouseDrag(0, 0, 0, -25, &shift);
  EXPECT_NEAR(knob->GetValue(), 0.1375, 1e-12);
  knob->OnMouseDrag(0, 0, 0, 1000, &left);
  EXPECT_DOUBLE_EQ(knob->GetValue(), 0.0);

  Knob flat(&f.plug, IRECT(0, 10, 50, 10), kCutoff);
  flat.OnMouseDrag(0, 0, 0, -5, &left);  // no height: no movement, no division
  EXPECT_DOUBLE_EQ(flat.GetValue(), 0.0);
  Knob sideways(&f.plug, IRECT(0, 0, 100, 10), kCutoff, kHorizontal, 1.0);
  sideways.OnMouseDrag(0, 0, 50, 0, &left);
  EXPECT_DOUBLE_EQ(sideways.GetValue(), 0.5);
  delete strip.mData;
}

TEST(Controls, RadioButtonsSpreadEvenly) {
  Fixture f;
  IBitmap two = bitmapOf(frames(20, 10, 2), 2);
  auto* radio = f.attach(new IRadioButtonsControl(&f.plug, IRECT(5, 50, 115, 60), kWave, 4, &two, kHorizontal));
  const std::vector<IRECT> expect = {IRECT(5, 50, 25, 60), IRECT(35, 50, 55, 60), IRECT(65, 50, 85, 60),
                                     IRECT(95, 50, 115, 60)};
  EXPECT_EQ(radio->GetButtonRECTs(), expect);
  IMouseMod left(true);
  radio->OnMouseDown(70, 55, &left);
  EXPECT_DOUBLE_EQ(radio->GetValue(), 2.0 / 3.0);
  radio->OnMouseDown(30, 55, &left);  // in a gap: no change, still handed over
  EXPECT_DOUBLE_EQ(radio->GetValue(), 2.0 / 3.0);
  EXPECT_EQ(f.plug.guiCalls.size(), 2u);

  IRadioButtonsControl reversed(&f.plug, IRECT(0, 0, 10, 100), kWave, 3, &two, kVertical, true);
  // Gap trunc((100 - 30) / 2) = 35; reversed layout starts one gap above the bottom edge.
  EXPECT_EQ(reversed.GetButtonRECTs(),
            (std::vector<IRECT>{IRECT(0, 55, 20, 65), IRECT(0, 10, 20, 20), IRECT(0, -35, 20, -25)}));
  IRadioButtonsControl single(&f.plug, IRECT(0, 0, 10, 10), kWave, 1, &two);
  single.OnMouseDown(5, 5, &left);
  EXPECT_DOUBLE_EQ(single.GetValue(), 0.0);
  delete two.mData;
}

TEST(Controls, OverlayIsHitInItsTargetAreaWhileOff) {
  Fixture f;
  IBitmap two = bitmapOf(frames(40, 40, 2), 2);
  auto* overlay = f.attach(new IBitmapOverlayControl(&f.plug, 10, 10, kLevel, &two, IRECT(10, 10, 20, 20)));
  overlay->Draw(&f.g);
  EXPECT_TRUE(overlay->IsHit(15, 15));
  EXPECT_FALSE(overlay->IsHit(40, 20));
  overlay->SetValue(1.0);
  overlay->Draw(&f.g);
  EXPECT_TRUE(overlay->IsHit(40, 20));
  delete two.mData;
}

TEST(Controls, TextFromPlugDirtiesOnlyWhenItChanges) {
  Fixture f;
  IText style;
  auto* text = f.attach(new ITextControl(&f.plug, IRECT(0, 0, 50, 12), &style, "Init"));
  text->SetClean();
  text->SetTextFromPlug("Init");
  EXPECT_FALSE(text->IsDirty());
  text->SetTextFromPlug("Lead");
  EXPECT_TRUE(text->IsDirty());
  EXPECT_EQ(text->GetTextForPlug(), "Lead");
}

TEST(Controls, CaptionShowsTheParametersDisplayTextAndPromptsOnPress) {
  Fixture f;
  IText style;
  auto* caption = f.attach(new ICaptionControl(&f.plug, IRECT(0, 0, 80, 14), kLevel, &style, true));
  f.plug.GetParam(kLevel)->Set(0.25);
  caption->Draw(&f.g);
  EXPECT_EQ(caption->GetTextForPlug(), "0.250 dB");
  IMouseMod left(true);
  caption->OnMouseDown(0, 0, &left);
  EXPECT_TRUE(f.g.textEntries.empty());  // prompt disabled until its creator allows it
  caption->DisablePrompt(false);
  caption->OnMouseDown(0, 0, &left);
  caption->OnMouseDblClick(0, 0, &left);
  EXPECT_EQ(f.g.textEntries.size(), 2u);
}

TEST(Controls, URLControlFallsBackToItsBackup) {
  Fixture f;
  auto* url = f.attach(new IURLControl(&f.plug, IRECT(0, 0, 10, 10), "http://a.example", "http://b.example", "Oops"));
  url->OnMouseDown(0, 0, nullptr);
  EXPECT_EQ(f.g.calls, std::vector<std::string>{"OpenURL http://a.example"});
  f.g.urlOpens = false;
  url->OnMouseDown(0, 0, nullptr);
  EXPECT_EQ(f.g.calls.back(), "OpenURL http://b.example");
  EXPECT_EQ(f.g.calls.size(), 3u);
}

TEST(Controls, FileSelectorRunsThePromptAndIsDirtyOnceMore) {
  Fixture f;
  auto* fs =
      f.attach(new IFileSelectorControl(&f.plug, IRECT(0, 0, 10, 10), -1, nullptr, kFileSave, "/tmp", "syx mid"));
  f.g.fileAnswer = "/tmp/bank.syx";
  fs->OnMouseDown(0, 0, nullptr);
  EXPECT_EQ(f.g.calls, std::vector<std::string>{"PromptForFile 1|/tmp|syx mid"});
  KIT_String chosen;
  fs->GetLastSelectedFileForPlug(&chosen);
  EXPECT_STREQ(chosen.Get(), "/tmp/bank.syx");
  EXPECT_EQ(fs->GetState(), IFileSelectorControl::kFSDone);
  EXPECT_DOUBLE_EQ(fs->GetValue(), 1.0);
  fs->SetClean();
  EXPECT_TRUE(fs->IsDirty());
  EXPECT_FALSE(fs->IsDirty());
  EXPECT_EQ(fs->GetState(), IFileSelectorControl::kFSNone);
}

TEST(Controls, InvisibleSwitchToggles) {
  Fixture f;
  auto* sw = f.attach(new IInvisibleSwitchControl(&f.plug, IRECT(0, 0, 10, 10), kLevel));
  EXPECT_EQ(sw->GetBlend()->mMethod, IChannelBlend::kBlendClobber);
  sw->OnMouseDown(0, 0, nullptr);
  EXPECT_DOUBLE_EQ(sw->GetValue(), 1.0);
  sw->OnMouseDown(0, 0, nullptr);
  EXPECT_DOUBLE_EQ(sw->GetValue(), 0.0);
}

// ---- Popup menu ----

TEST(PopupMenu, ItemsInsertAtClampedPlaces) {
  IPopupMenu menu;
  EXPECT_EQ(menu.GetChosenItemIdx(), -1);
  menu.AddItem("a");
  menu.AddItem("b");
  menu.AddItem("c");
  menu.AddItem("x", 10, 0);
  menu.AddItem("y", -5, 0);
  menu.AddSeparator(2);
  std::vector<std::string> texts;
  for (int i = 0; i < menu.GetNItems(); ++i) texts.push_back(menu.GetItemText(i));
  EXPECT_EQ(texts, (std::vector<std::string>{"y", "a", "", "b", "c", "x"}));
  EXPECT_TRUE(menu.GetItem(2)->GetIsSeparator());
  EXPECT_EQ(menu.GetItem(6), nullptr);
  EXPECT_STREQ(menu.GetItemText(99), "");
}

TEST(PopupMenu, PrefixAndChecks) {
  IPopupMenu menu;
  for (const char* t : {"one", "two", "three"}) menu.AddItem(t);
  menu.SetPrefix(2);
  menu.SetPrefix(4);
  EXPECT_EQ(menu.GetPrefix(), 2);
  EXPECT_FALSE(menu.CheckItem(7, true));
  EXPECT_TRUE(menu.CheckItem(0, true));
  menu.CheckItemAlone(2);
  EXPECT_FALSE(menu.IsItemChecked(0));
  EXPECT_TRUE(menu.IsItemChecked(2));
  menu.CheckItemAlone(-1);
  EXPECT_FALSE(menu.IsItemChecked(2));
  EXPECT_FALSE(menu.IsItemChecked(9));
}

TEST(PopupMenu, DeletingAMenuLeavesItsSubmenus) {
  auto* sub = new IPopupMenu;
  sub->AddItem("deep");
  {
    IPopupMenu menu;
    menu.AddItem("more", sub);
    EXPECT_EQ(menu.GetItem(0)->GetSubmenu(), sub);
  }
  EXPECT_STREQ(sub->GetItemText(0), "deep");  // still alive: ASan would object otherwise
  delete sub;
}

// ---- Bitmap text ----

namespace {

// 95 cells of 10 x 16, stacked; frame k (from 1) is filled with red = k, so a cell's pixel names its frame.
IBitmap monoFont() {
  auto* bm = new PIX_MemBitmap(10, 16 * 95);
  for (int k = 1; k <= 95; ++k) PIX_FillRect(bm, 0, (k - 1) * 16, 10, 16, PIX_RGBA(k, 0, 0, 255), 1.0f, 0);
  return IBitmap(bm, 10, 16 * 95, 95);
}

struct MonoFixture : Fixture {
  IBitmap font = monoFont();
  MonoFixture() {
    g.AttachPanelBackground(&COLOR_BLACK);
    IRECT all(0, 0, 300, 200);
    g.Draw(&all);  // sets the draw rectangle to the whole surface
    PIX_Clear(g.GetDrawBitmap(), 0);
  }
  ~MonoFixture() { delete font.mData; }
  int frameAt(int x, int y) { return (int)PIX_GETR(PIX_GetPixel(g.GetDrawBitmap(), x, y)); }
  void draw(IRECT r, const char* s, bool centred, bool multiline, bool vCenter = true) {
    IText style;
    style.mAlign = centred ? IText::kAlignCenter : IText::kAlignNear;
    DrawBitmapedText(&g, &font, &r, &style, nullptr, s, vCenter, multiline, 10, 16);
  }
};

}  // namespace

TEST(BitmapText, CellsStartOneCellInOrCentred) {
  {
    MonoFixture f;
    f.draw(IRECT(0, 0, 100, 20), "AB", false, false);
    EXPECT_EQ(f.frameAt(10, 2), 34);
    EXPECT_EQ(f.frameAt(20, 2), 35);
    EXPECT_EQ(f.frameAt(9, 2), 0);
    EXPECT_EQ(f.frameAt(10, 1), 0);
  }
  {
    MonoFixture f;
    f.draw(IRECT(0, 0, 100, 20), "AB", true, false);
    EXPECT_EQ(f.frameAt(40, 2), 34);
    EXPECT_EQ(f.frameAt(50, 2), 35);
  }
}

TEST(BitmapText, LongTextWrapsOneRowFurther) {
  {
    MonoFixture f;
    f.draw(IRECT(0, 0, 100, 16), "ABCDEFGHIJKL", false, false, false);
    EXPECT_EQ(f.frameAt(80, 0), 34 + 7);  // H, the eighth and last of the first row
    EXPECT_EQ(f.frameAt(90, 0), 0);
    EXPECT_EQ(f.frameAt(10, 16), 34 + 8);  // I starts the second row
    EXPECT_EQ(f.frameAt(40, 16), 34 + 11);
    EXPECT_EQ(f.frameAt(50, 16), 0);
  }
  {
    MonoFixture f;
    f.draw(IRECT(0, 0, 100, 16), "ABCDEFGHIJKLMNOPQRST", false, true, false);
    EXPECT_EQ(f.frameAt(10, 32), 34 + 16);  // third row: Q R S T
    EXPECT_EQ(f.frameAt(40, 32), 34 + 19);
    EXPECT_EQ(f.frameAt(50, 32), 0);
  }
}

TEST(BitmapText, NoRoomDrawsNothing) {
  MonoFixture f;
  f.draw(IRECT(0, 0, 20, 16), "A", false, false, false);
  f.draw(IRECT(0, 0, 20, 16), "ABC", false, true, false);
  f.draw(IRECT(0, 0, 15, 16), "ABC", true, true, false);
  IRECT r(0, 0, 100, 16);
  DrawBitmapedText(&f.g, &f.font, &r, nullptr, nullptr, "A", false, false, 0, 0);
  for (int x = 0; x < 30; ++x) EXPECT_EQ(f.frameAt(x, 0), 0);
}

TEST(BitmapText, ControlDrawsItsTextAndDirtiesOnChange) {
  MonoFixture f;
  auto* c = f.attach(new IBitmapTextControl(&f.plug, IRECT(0, 100, 100, 116), &f.font, "Z", nullptr, 10, 16));
  c->Draw(&f.g);
  EXPECT_EQ(f.frameAt(45, 100), 'Z' - 31);  // the default style centres: (100 - 10) / 2
  c->SetClean();
  c->SetTextFromPlug("Z");
  EXPECT_FALSE(c->IsDirty());
  c->SetTextFromPlug("Y");
  EXPECT_TRUE(c->IsDirty());
}
