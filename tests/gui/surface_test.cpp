// The editor surface: attaching, dirty joining, the redraw, values from the plug-in, the value prompt, layers and
// input dispatch with its host notices.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "gui_support.h"

using namespace guitest;

namespace {

// A plain control that counts its draws.
class Probe : public IControl {
 public:
  Probe(IEffectBase* plug, IRECT r, int paramIdx = -1) : IControl(plug, r, paramIdx) {}
  bool Draw(IGraphics*) override {
    ++draws;
    return true;
  }
  bool DrawsClipped() const override { return true; }  // it paints nothing at all
  void OnMouseDown(int x, int y, IMouseMod* mod) override {
    events.push_back("down " + std::to_string(x) + "," + std::to_string(y));
    IControl::OnMouseDown(x, y, mod);
  }
  void OnMouseUp(int x, int y, IMouseMod*) override {
    events.push_back("up " + std::to_string(x) + "," + std::to_string(y));
  }
  void OnMouseDrag(int x, int y, int dx, int dy, IMouseMod*) override {
    events.push_back("drag " + std::to_string(x) + "," + std::to_string(y) + " " + std::to_string(dx) + "," +
                     std::to_string(dy));
  }
  void OnMouseDblClick(int, int, IMouseMod*) override { events.push_back("dbl"); }
  void OnMouseWheel(int, int, IMouseMod*, int d) override { events.push_back("wheel " + std::to_string(d)); }
  bool OnKeyDown(int, int, int key) override {
    events.push_back("key " + std::to_string(key));
    return true;
  }
  void OnMouseOver(int, int, IMouseMod*) override { events.push_back("over"); }
  int draws = 0;
  std::vector<std::string> events;
};

struct Fixture {
  TestPlug plug;
  TestGraphics& g = *new TestGraphics{&plug, 400, 300};  // owned by the plug-in once attached
  Fixture() {
    g.images["bg.png"] = [] { return solid(400, 300, PIX_RGBA(10, 20, 30, 255)); };
    plug.AttachGraphics(&g);
  }
  Probe* add(IRECT r, int paramIdx = -1) {
    auto* p = new Probe(&plug, r, paramIdx);
    g.AttachControl(p);
    return p;
  }
  void cleanAll() {
    IRECT all(0, 0, 400, 300);
    g.Draw(&all);
    g.Draw(&all);
  }
};

}  // namespace

TEST(Surface, FrameRateFallsBackTo25) {
  TestPlug plug;
  EXPECT_EQ(TestGraphics(&plug, 10, 10, 0).FPS(), 25);
  EXPECT_EQ(TestGraphics(&plug, 10, 10, -3).FPS(), 25);
  EXPECT_EQ(TestGraphics(&plug, 10, 10, 60).FPS(), 60);
}

TEST(Surface, AttachingTheSurfaceBuildsTheDrawBitmap) {
  Fixture f;
  ASSERT_NE(f.g.GetDrawBitmap(), nullptr);
  EXPECT_EQ(f.g.GetDrawBitmap()->getWidth(), 400);
  EXPECT_EQ(f.g.GetDrawBitmap()->getHeight(), 300);
  EXPECT_NE(f.g.GetBits(), nullptr);
  EXPECT_EQ(f.plug.GetGUI(), &f.g);
}

TEST(Surface, BackgroundAttachedAfterTenControlsSitsAtZero) {
  Fixture f;
  std::vector<Probe*> probes;
  for (int i = 0; i < 10; ++i) {
    probes.push_back(f.add(IRECT(i * 10, 0, i * 10 + 10, 10)));
    EXPECT_EQ(f.g.NControls() - 1, i);
  }
  f.g.AttachBackground(1, "bg.png");
  ASSERT_EQ(f.g.NControls(), 11);
  EXPECT_NE(dynamic_cast<IBitmapControl*>(f.g.GetControl(0)), nullptr);
  EXPECT_EQ(*f.g.GetControl(0)->GetRECT(), IRECT(0, 0, 400, 300));
  for (int i = 0; i < 10; ++i) EXPECT_EQ(f.g.GetControl(i + 1), probes[i]);
  EXPECT_EQ(f.g.AttachControl(new Probe(&f.plug, IRECT(1, 1, 2, 2))), 11);
}

TEST(Surface, OnlyTheBackgroundIsNeverDirty) {
  Fixture f;
  f.g.AttachBackground(2, "bg.png");
  IRECT r;
  EXPECT_TRUE(f.g.GetControl(0)->IsDirty());
  EXPECT_FALSE(f.g.IsDirty(&r));
  EXPECT_TRUE(r.Empty());
}

TEST(Surface, DirtyRectanglesAreJoined) {
  Fixture f;
  f.g.AttachBackground(3, "bg.png");
  Probe* a = f.add(IRECT(10, 10, 20, 20));
  Probe* b = f.add(IRECT(100, 50, 120, 60));
  f.add(IRECT(300, 200, 310, 210));
  f.cleanAll();
  IRECT r;
  EXPECT_FALSE(f.g.IsDirty(&r));
  a->SetDirty(false);
  b->SetDirty(false);
  EXPECT_TRUE(f.g.IsDirty(&r));
  EXPECT_EQ(r, IRECT(10, 10, 120, 60));
}

TEST(Surface, HiddenControlWithIgnoreHiddenIsDirtyButNotDrawn) {
  Fixture f;
  f.g.AttachBackground(4, "bg.png");
  Probe* p = f.add(IRECT(10, 10, 50, 50));
  Probe* plain = f.add(IRECT(60, 10, 70, 20));
  f.cleanAll();
  p->draws = 0;
  p->SetIgnoreHidden(true);
  p->Hide(true);
  plain->Hide(true);
  IRECT r;
  EXPECT_TRUE(f.g.IsDirty(&r));
  EXPECT_EQ(r, IRECT(10, 10, 70, 50));  // the plain hidden control only leaves its area to be painted
  f.g.Draw(&r);
  EXPECT_EQ(p->draws, 0);
  // Hide asked for one more frame; after it the control is clean.
  IRECT again;
  f.g.Draw(&again);
  EXPECT_FALSE(p->IsDirty());
}

TEST(Surface, ControlTouchingTheRightEdgeIsDrawn) {
  Fixture f;
  f.g.AttachBackground(5, "bg.png");
  Probe* touching = f.add(IRECT(50, 10, 60, 20));
  Probe* beyond = f.add(IRECT(51, 10, 60, 20));
  Probe* below = f.add(IRECT(10, 30, 20, 40));
  IRECT r(10, 10, 50, 30);
  f.g.Draw(&r);
  EXPECT_EQ(touching->draws, 1);
  EXPECT_EQ(beyond->draws, 0);
  EXPECT_EQ(below->draws, 1);
}

TEST(Surface, DrawWithAnEmptyRectanglePaintsTheBackgroundOnlyAndLeavesTheControlsDirty) {
  Fixture f;
  f.g.AttachBackground(6, "bg.png");
  Probe* p = f.add(IRECT(10, 10, 50, 50));
  IRECT empty;
  f.g.Draw(&empty);
  EXPECT_EQ(p->draws, 0);
  EXPECT_TRUE(p->IsDirty());  // not painted: the next redraw paints it
  ASSERT_EQ(f.g.screenRects.size(), 1u);
  EXPECT_TRUE(f.g.screenRects[0].Empty());
}

TEST(Surface, DrawWithNothingAttachedDrawsNothing) {
  Fixture f;
  IRECT r(0, 0, 400, 300);
  EXPECT_TRUE(f.g.Draw(&r));
  EXPECT_TRUE(f.g.screenRects.empty());
  // Layers without any top-level control: no background to paint, the layers still draw.
  auto* layer = new ControlLayer(1, "page");
  auto* p = new Probe(&f.plug, IRECT(0, 0, 10, 10));
  layer->controls.Add(p);
  layer->Hide(false);
  f.g.AttachLayer(layer);
  EXPECT_TRUE(f.g.Draw(&r));
  EXPECT_EQ(p->draws, 1);
  EXPECT_EQ(f.g.screenRects.size(), 1u);
}

TEST(Surface, ParameterFromPlugMovesControlsWithoutTellingThePlugin) {
  Fixture f;
  f.g.AttachBackground(7, "bg.png");
  Probe* top = f.add(IRECT(0, 0, 10, 10), kCutoff);
  auto* layer = new ControlLayer(1, "hidden page");
  auto* inLayer = new Probe(&f.plug, IRECT(0, 0, 10, 10), kCutoff);
  layer->controls.Add(inLayer);
  f.g.AttachLayer(layer);
  Probe* aux = f.add(IRECT(20, 0, 30, 10), kLevel);
  aux->AddAuxParam(kCutoff);
  for (IControl* c : {(IControl*)top, (IControl*)inLayer}) c->SetValueFromPlug(0.0);

  f.g.SetParameterFromPlug(kCutoff, 64, false);
  EXPECT_DOUBLE_EQ(f.plug.GetParam(kCutoff)->Value(), 64.0);
  const double n = 64.0 / 127.0;
  EXPECT_DOUBLE_EQ(top->GetValue(), n);
  EXPECT_DOUBLE_EQ(inLayer->GetValue(), n);  // hidden pages follow too
  EXPECT_DOUBLE_EQ(aux->GetAuxParam(0)->mValue, n);
  EXPECT_TRUE(f.plug.paramChanges.empty());
  EXPECT_TRUE(f.plug.guiCalls.empty());
  EXPECT_TRUE(hostLog().empty());

  // Already normalized: the parameter itself is left alone.
  f.g.SetParameterFromPlug(kCutoff, 0.25, true);
  EXPECT_DOUBLE_EQ(top->GetValue(), 0.25);
  EXPECT_DOUBLE_EQ(f.plug.GetParam(kCutoff)->Value(), 64.0);
  // An index without a parameter moves nothing.
  f.g.SetParameterFromPlug(99, 3.0, false);
}

TEST(Surface, PerParameterOperationsReachTopLevelControlsOnly) {
  Fixture f;
  f.g.AttachBackground(8, "bg.png");
  Probe* top = f.add(IRECT(0, 0, 10, 10), kCutoff);
  Probe* other = f.add(IRECT(0, 0, 10, 10), kLevel);
  auto* layer = new ControlLayer(1, "page");
  auto* inLayer = new Probe(&f.plug, IRECT(0, 0, 10, 10), kCutoff);
  layer->controls.Add(inLayer);
  f.g.AttachLayer(layer);

  f.g.HideControl(kCutoff, true);
  f.g.GrayOutControl(kCutoff, true);
  EXPECT_TRUE(top->IsHidden());
  EXPECT_TRUE(top->IsGrayed());
  EXPECT_FALSE(other->IsHidden());
  EXPECT_FALSE(inLayer->IsHidden());

  f.g.ClampControl(kCutoff, 32, 96, false);
  EXPECT_DOUBLE_EQ(top->GetClampLo(), 32.0 / 127.0);
  EXPECT_DOUBLE_EQ(top->GetClampHi(), 96.0 / 127.0);
  f.g.ClampControl(kLevel, 0.2, 0.8, true);
  EXPECT_DOUBLE_EQ(other->GetClampLo(), 0.2);

  f.g.SetParameterFromGUI(kLevel, 0.5);
  EXPECT_DOUBLE_EQ(other->GetValue(), 0.5);
  ASSERT_EQ(f.plug.guiCalls.size(), 1u);
  EXPECT_EQ(f.plug.guiCalls[0], "gui 3 0.5000");

  f.g.SetControlFromPlug(2, 0.7);
  f.g.SetControlFromPlug(99, 0.7);
  EXPECT_DOUBLE_EQ(other->GetDefaultValue(), 0.7);
}

TEST(Surface, EnumPromptOpensAMenuWithTheCurrentItemChecked) {
  Fixture f;
  auto* caption = new ICaptionControl(&f.plug, IRECT(10, 10, 60, 24), kMode, nullptr);
  f.g.AttachControl(caption);
  f.plug.GetParam(kMode)->Set(2);
  f.g.menuChoice = 4;
  IRECT r = *caption->GetRECT();
  f.g.PromptUserInput(caption, f.plug.GetParam(kMode), &r);
  ASSERT_EQ(f.g.menus.size(), 1u);
  EXPECT_EQ(f.g.menus[0], "Off,Low,*Mid,High,Max");
  EXPECT_EQ(f.g.menuRects[0], r);
  EXPECT_DOUBLE_EQ(caption->GetValue(), 1.0);
  EXPECT_DOUBLE_EQ(f.plug.GetParam(kMode)->Value(), 4.0);

  // Dismissed: nothing changes.
  f.g.menuChoice = -1;
  f.plug.guiCalls.clear();
  f.g.PromptUserInput(caption, f.plug.GetParam(kMode), &r);
  EXPECT_TRUE(f.plug.guiCalls.empty());
  // Null arguments open nothing.
  f.g.PromptUserInput(nullptr, f.plug.GetParam(kMode), &r);
  f.g.PromptUserInput(caption, nullptr, &r);
  EXPECT_EQ(f.g.menus.size(), 2u);
}

TEST(Surface, NumericPromptOpensATextEntryWithTheValue) {
  Fixture f;
  auto* p = new Probe(&f.plug, IRECT(0, 0, 10, 10), kCutoff);
  f.g.AttachControl(p);
  f.plug.GetParam(kCutoff)->Set(42);
  IRECT r(1, 2, 3, 4);
  f.g.PromptUserInput(p, f.plug.GetParam(kCutoff), &r);
  ASSERT_EQ(f.g.textEntries.size(), 1u);
  EXPECT_EQ(f.g.textEntries[0].text, "42");
  EXPECT_EQ(f.g.textEntries[0].rect, r);
  EXPECT_EQ(f.g.textEntries[0].param, f.plug.GetParam(kCutoff));
  EXPECT_TRUE(f.g.menus.empty());
}

TEST(Surface, TypedTextBecomesTheParameterValue) {
  struct Row {
    int param;
    const char* text;
    bool negate;
    double expectValue;
  };
  const Row rows[] = {
      {kMode, "High", false, 3.0}, {kMode, "nonsense", false, 0.0}, {kCutoff, "64", false, 64.0},
      {kDepth, "12", true, -12.0}, {kLevel, "0.25", false, 0.25},   {kCutoff, "500", false, 127.0},
  };
  for (const Row& row : rows) {
    Fixture f;
    auto* p = new Probe(&f.plug, IRECT(0, 0, 10, 10), row.param);
    f.g.AttachControl(p);
    f.plug.GetParam(row.param)->SetDisplayNegated(row.negate);
    p->SetValue(0.5);  // so that every typed value is a change
    f.g.SetFromStringAfterPrompt(p, f.plug.GetParam(row.param), row.text);
    EXPECT_DOUBLE_EQ(f.plug.GetParam(row.param)->Value(), row.expectValue) << row.text;
  }
}

TEST(Surface, TypedNameBecomesTheTextParametersDisplayText) {
  Fixture f;
  auto* p = new Probe(&f.plug, IRECT(0, 0, 10, 10), kName);
  f.g.AttachControl(p);
  f.g.SetFromStringAfterPrompt(p, f.plug.GetParam(kName), "Lead 7");
  EXPECT_STREQ(f.plug.GetParam(kName)->GetDisplayTextAtIdx(0), "Lead 7");
  // The plug-in heard of it even though the name is not a number.
  EXPECT_FALSE(f.plug.paramChanges.empty());
  f.g.SetFromStringAfterPrompt(p, nullptr, "x");
}

TEST(Surface, ResizeRebuildsTheBitmapsAndTellsThePlugin) {
  Fixture f;
  f.g.OnMouseDown(0, 0, nullptr);
  f.g.Resize(200, 100);
  EXPECT_EQ(f.g.Width(), 200);
  EXPECT_EQ(f.g.GetDrawBitmap()->getWidth(), 200);
  EXPECT_EQ(f.g.GetDrawBitmap()->getHeight(), 100);
  ASSERT_EQ(f.plug.resized.size(), 1u);
  EXPECT_EQ(f.plug.resized[0], std::make_pair(200, 100));
  EXPECT_EQ(f.g.GetCapturedControl(), nullptr);
}

TEST(Surface, StrictDrawingOffRepaintsEachDirtyControlWithItsNeighbours) {
  Fixture f;
  f.g.AttachBackground(9, "bg.png");
  Probe* a = f.add(IRECT(10, 10, 30, 30));
  Probe* over = f.add(IRECT(20, 20, 40, 40));
  Probe* far = f.add(IRECT(200, 200, 220, 220));
  f.g.SetStrictDrawing(false);
  f.cleanAll();
  a->draws = over->draws = far->draws = 0;
  a->SetDirty(false);
  IRECT r;
  ASSERT_TRUE(f.g.IsDirty(&r));
  f.g.Draw(&r);
  EXPECT_EQ(a->draws, 1);
  EXPECT_EQ(over->draws, 1);
  EXPECT_EQ(far->draws, 0);
  EXPECT_EQ(f.g.screenRects.back(), IRECT(10, 10, 30, 30));
}

// ---- Layers ----

TEST(Layer, NewLayerIsInvisibleUntilShown) {
  Fixture f;
  f.g.AttachBackground(10, "bg.png");
  auto* layer = new ControlLayer(3, "page");
  auto* p = new Probe(&f.plug, IRECT(10, 10, 20, 20), kCutoff);
  layer->controls.Add(p);
  f.g.AttachLayer(layer);
  IRECT r;
  EXPECT_FALSE(f.g.IsDirty(&r));
  IRECT all(0, 0, 400, 300);
  f.g.Draw(&all);
  EXPECT_EQ(p->draws, 0);
  EXPECT_EQ(f.g.GetMouseControlIdx(15, 15), f.g.GetControl(0));
  EXPECT_EQ(layer->getControlFromParam(kCutoff), nullptr);
  layer->Hide(false);
  EXPECT_TRUE(f.g.IsDirty(&r));
  f.g.Draw(&all);
  EXPECT_EQ(p->draws, 1);
  EXPECT_EQ(f.g.GetMouseControlIdx(15, 15), p);
  EXPECT_EQ(layer->getControlFromParam(kCutoff), p);
}

TEST(Layer, ShowingBringsBackTheSelectedChildOnly) {
  ControlLayer parent(0, "parent");
  TestPlug plug;
  for (int id = 1; id <= 3; ++id) {
    auto* child = new ControlLayer(id, "child");
    child->controls.Add(new Probe(&plug, IRECT(0, 0, 1, 1)));
    parent.childLayers.Add(child);
  }
  parent.setSelectedZone(2);
  parent.Hide(false);
  EXPECT_FALSE(parent.childLayers.Get(0)->isVisible());
  EXPECT_TRUE(parent.childLayers.Get(1)->isVisible());
  EXPECT_FALSE(parent.childLayers.Get(2)->isVisible());

  parent.Hide(true);
  for (int i = 0; i < 3; ++i) {
    EXPECT_FALSE(parent.childLayers.Get(i)->isVisible());
    EXPECT_TRUE(parent.childLayers.Get(i)->controls.Get(0)->IsHidden());
    EXPECT_TRUE(parent.childLayers.Get(i)->controls.Get(0)->IsDirty());
  }
  parent.setSelectedZone(0);
  parent.Hide(false);
  for (int i = 0; i < 3; ++i) EXPECT_FALSE(parent.childLayers.Get(i)->isVisible());
}

TEST(Layer, CustomZonesGreyOnlyChildrenInRange) {
  TestPlug plug;
  ControlLayer parent(0, "parent");
  for (int id : {5, 12, 201, 230}) {
    auto* child = new ControlLayer(id, "child");
    child->controls.Add(new Probe(&plug, IRECT(0, 0, 1, 1)));
    parent.childLayers.Add(child);
  }
  auto grayed = [&](int i) { return parent.childLayers.Get(i)->controls.Get(0)->IsGrayed(); };
  parent.GrayOutCustomZone(true, 5);
  EXPECT_EQ(parent.getSelectedZone(), 5);
  EXPECT_FALSE(grayed(0));
  parent.GrayOutCustomZone(true, 12);
  EXPECT_TRUE(grayed(1));
  EXPECT_FALSE(grayed(2));
  parent.GrayOutUserArp(false, 210, 205);
  EXPECT_EQ(parent.getSelectedZone(), 210);
  EXPECT_FALSE(grayed(0));
  EXPECT_FALSE(grayed(1));
  EXPECT_FALSE(grayed(2));
  EXPECT_TRUE(grayed(3));
  // Un-greying the parent brings back only the selected zone's child.
  parent.GrayOut(true);
  parent.setSelectedZone(201);
  parent.GrayOut(false);
  EXPECT_TRUE(grayed(3));
  EXPECT_FALSE(grayed(2));
}

TEST(Layer, HiddenLayerWithIgnoreHiddenReportsButDoesNotDraw) {
  Fixture f;
  f.g.AttachBackground(11, "bg.png");
  auto* layer = new ControlLayer(1, "progress");
  auto* first = new Probe(&f.plug, IRECT(10, 10, 20, 20));
  auto* second = new Probe(&f.plug, IRECT(30, 30, 40, 40));
  layer->controls.Add(first);
  layer->controls.Add(second);
  f.g.AttachLayer(layer);
  layer->Hide(true);
  layer->setIgnoreHiddenWhenUpdatingScreen(true);
  EXPECT_TRUE(first->GetIgnoreHidden());
  EXPECT_FALSE(second->GetIgnoreHidden());
  IRECT r;
  EXPECT_TRUE(f.g.IsDirty(&r));
  EXPECT_EQ(r, IRECT(10, 10, 20, 20));  // the second control is hidden without its own flag
  f.g.Draw(&r);
  EXPECT_EQ(first->draws, 0);
}

// ---- Input dispatch ----

TEST(Input, ClickOnTheBackgroundCapturesItWithoutHostNotice) {
  Fixture f;
  f.g.AttachBackground(12, "bg.png");
  IMouseMod mod(true);
  f.g.OnMouseDown(5, 5, &mod);
  EXPECT_EQ(f.g.GetCapturedControl(), f.g.GetControl(0));
  f.g.OnMouseUp(5, 5, &mod);
  EXPECT_TRUE(hostLog().empty());
}

TEST(Input, LaterControlWinsAndALayerBeatsTopLevel) {
  Fixture f;
  f.g.AttachBackground(13, "bg.png");
  Probe* early = f.add(IRECT(10, 10, 50, 50));
  Probe* late = f.add(IRECT(30, 30, 70, 70));
  EXPECT_EQ(f.g.GetMouseControlIdx(40, 40), late);
  EXPECT_EQ(f.g.GetMouseControlIdx(20, 20), early);
  late->GrayOut(true);
  EXPECT_EQ(f.g.GetMouseControlIdx(40, 40), early);  // a greyed top-level control is skipped
  late->GrayOut(false);

  auto* layer = new ControlLayer(1, "page");
  auto* inLayer = new Probe(&f.plug, IRECT(0, 0, 45, 45));
  layer->controls.Add(inLayer);
  f.g.AttachLayer(layer);
  EXPECT_EQ(f.g.GetMouseControlIdx(40, 40), late);  // hidden layer: never hit
  layer->Hide(false);
  EXPECT_EQ(f.g.GetMouseControlIdx(40, 40), inLayer);
  inLayer->GrayOut(true);
  EXPECT_EQ(f.g.GetMouseControlIdx(40, 40), inLayer);  // greyed inside a layer is still hit
}

TEST(Input, PressDragReleaseFollowTheCapturedControl) {
  Fixture f;
  f.g.AttachBackground(14, "bg.png");
  Probe* p = f.add(IRECT(10, 10, 50, 50), kCutoff);
  IMouseMod mod(true);
  f.g.OnMouseDown(20, 20, &mod);
  f.g.OnMouseDrag(20, 20, &mod);  // no movement: nothing
  f.g.OnMouseDrag(25, 17, &mod);
  f.g.OnMouseDrag(200, 200, &mod);  // far outside, still the captured control
  f.g.OnMouseUp(200, 200, &mod);
  EXPECT_EQ(p->events,
            (std::vector<std::string>{"down 20,20", "drag 25,17 5,-3", "drag 200,200 175,183", "up 200,200"}));
  EXPECT_EQ(hostLog(), (std::vector<std::string>{"begin 0", "end 0"}));
  EXPECT_EQ(f.g.GetCapturedControl(), nullptr);
  // Drags without a capture go nowhere; a release over nothing does nothing.
  f.g.OnMouseDrag(30, 30, &mod);
  EXPECT_EQ(p->events.size(), 4u);
}

TEST(Input, ReleaseWithoutCaptureOverNothingDoesNothing) {
  Fixture f;
  Probe* p = f.add(IRECT(10, 10, 50, 50), kCutoff);
  f.g.OnMouseUp(100, 100, nullptr);
  EXPECT_TRUE(p->events.empty());
  EXPECT_TRUE(hostLog().empty());
  // Without a capture the release goes to the control under the pointer.
  f.g.OnMouseUp(20, 20, nullptr);
  EXPECT_EQ(p->events.size(), 1u);
  EXPECT_EQ(hostLog(), std::vector<std::string>{"end 0"});
}

TEST(Input, DoubleClickIsAPressOnlyWhenTheControlAsksForIt) {
  Fixture f;
  Probe* p = f.add(IRECT(10, 10, 50, 50), kCutoff);
  EXPECT_FALSE(f.g.OnMouseDblClick(20, 20, nullptr));
  EXPECT_EQ(f.g.GetCapturedControl(), nullptr);
  p->SetDblAsSingleClick(true);
  EXPECT_TRUE(f.g.OnMouseDblClick(20, 20, nullptr));
  EXPECT_EQ(f.g.GetCapturedControl(), p);
  EXPECT_EQ(p->events, (std::vector<std::string>{"dbl", "down 20,20"}));
  EXPECT_TRUE(hostLog().empty());  // no begin notice on this path
  EXPECT_FALSE(f.g.OnMouseDblClick(300, 300, nullptr));
}

TEST(Input, WheelAndKeysFindTheirTarget) {
  Fixture f;
  Probe* p = f.add(IRECT(10, 10, 50, 50));
  f.g.OnMouseWheel(20, 20, nullptr, -2);
  f.g.OnMouseWheel(300, 300, nullptr, 1);
  EXPECT_EQ(p->events, std::vector<std::string>{"wheel -2"});
  EXPECT_TRUE(f.g.OnKeyDown(20, 20, 7));
  EXPECT_FALSE(f.g.OnKeyDown(300, 300, 7));  // nothing there and no key catcher
  auto* catcher = new Probe(&f.plug, IRECT());
  f.g.AttachKeyCatcher(catcher);
  EXPECT_TRUE(f.g.OnKeyDown(300, 300, 15));
  EXPECT_EQ(catcher->events, std::vector<std::string>{"key 15"});
}

TEST(Input, MovingTheMouseReachesNoControl) {
  Fixture f;
  Probe* p = f.add(IRECT(10, 10, 50, 50));
  EXPECT_FALSE(f.g.OnMouseOver(20, 20, nullptr));
  EXPECT_TRUE(p->events.empty());
  f.g.HandleMouseOver(true);
  EXPECT_TRUE(f.g.OnMouseOver(20, 20, nullptr));
  EXPECT_EQ(f.g.GetMouseOverControl(), p);
  f.g.OnMouseOut();
  EXPECT_EQ(f.g.GetMouseOverControl(), nullptr);
}

TEST(Input, LastClickedParameterIsReadOnce) {
  Fixture f;
  f.add(IRECT(10, 10, 50, 50), kLevel);
  EXPECT_EQ(f.g.GetParamIdxForPTAutomation(20, 20), kLevel);
  EXPECT_EQ(f.g.GetLastClickedParamForPTAutomation(), kLevel);
  EXPECT_EQ(f.g.GetLastClickedParamForPTAutomation(), -1);
  EXPECT_EQ(f.g.GetParamIdxForPTAutomation(300, 300), -1);
}

TEST(Surface, ValuesFromAnotherThreadAreDrawnByLaterTicks) {
  // The MIDI input thread moves controls while the main thread's timer ticks; only values and flags cross.
  Fixture f;
  f.g.AttachBackground(15, "bg.png");
  auto* layer = new ControlLayer(1, "page");
  std::vector<ITextControl*> texts;
  IText style;
  for (int i = 0; i < 4; ++i) {
    auto* t = new ITextControl(&f.plug, IRECT(10, 10 + i * 20, 200, 28 + i * 20), &style, "");
    texts.push_back(t);
    layer->controls.Add(t);
  }
  auto* knob = new Probe(&f.plug, IRECT(250, 10, 290, 50), kCutoff);
  layer->controls.Add(knob);
  f.g.AttachLayer(layer);
  layer->Hide(false);
  std::atomic<bool> done{false};
  std::thread midi([&] {
    for (int i = 0; i <= 2000; ++i) {
      f.g.SetParameterFromPlug(kCutoff, i % 128, false);
      char name[16];
      snprintf(name, sizeof(name), "Prog %d", i);
      texts[i % 4]->SetTextFromPlug(name);
    }
    done = true;
  });
  int ticks = 0;
  do {  // at least one tick even when the thread is done before this loop gets the processor
    f.g.Tick();
    ++ticks;
  } while (!done);
  midi.join();
  f.g.Tick();
  f.g.Tick();
  EXPECT_DOUBLE_EQ(knob->GetValue(), (2000 % 128) / 127.0);
  EXPECT_EQ(texts[0]->GetTextForPlug(), "Prog 2000");
  IRECT r;
  EXPECT_FALSE(f.g.IsDirty(&r));
  EXPECT_GT(ticks, 0);
}
