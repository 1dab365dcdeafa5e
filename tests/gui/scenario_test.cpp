// A small editor on a test plug-in, driven the way the view's timer and events drive it: a background, a
// 128-frame knob, a five-frame switch and a caption in one layer, a radio group, a fader and a text display in a
// second. Scripted presses, drags, wheel turns, double clicks, keys and a popup choice are checked against the
// plug-in's recorded SetParameterFromGUI calls, the host's begin and end notices, the dirty rectangles of each
// timer tick and the frames drawn, compared pixel by pixel with pictures under tests/golden/gui/.
//
// With VEXMIR_UPDATE_GOLDEN=1 the frames are written as the new golden pictures. A differing frame is written as
// <name>.actual.png in the working folder.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

#include "gui_support.h"
#include "tests/support/Pixels.h"

using namespace guitest;

namespace {

// ---- The editor's pictures, drawn with the raster library ----

PIX_IBitmap* makeBackground() {
  auto* bm = new PIX_MemBitmap(320, 200);
  PIX_GradRect(bm, 0, 0, 320, 200, 0.12f, 0.14f, 0.18f, 1.0f, 0.0004f, 0.0003f, 0.0002f, 0.0f, 0.0f, 0.0006f, 0.0008f,
               0.0f, PIX_BLIT_MODE_COPY);
  PIX_FillRect(bm, 10, 10, 180, 80, PIX_RGBA(60, 64, 72, 255), 1.0f, PIX_BLIT_MODE_COPY);
  PIX_FillRect(bm, 10, 92, 300, 98, PIX_RGBA(52, 56, 60, 255), 1.0f, PIX_BLIT_MODE_COPY);
  return bm;
}

// 128 frames of 40 x 40: a dark disc face with a bar growing along the bottom as the value rises.
PIX_IBitmap* makeKnob() {
  auto* bm = new PIX_MemBitmap(40, 40 * 128);
  PIX_FillRect(bm, 0, 0, 40, 40 * 128, 0, 1.0f, PIX_BLIT_MODE_COPY);
  for (int k = 0; k < 128; ++k) {
    const int y0 = k * 40;
    PIX_FillRect(bm, 4, y0 + 4, 32, 32, PIX_RGBA(30, 30, 36, 255), 1.0f, PIX_BLIT_MODE_COPY);
    PIX_FillRect(bm, 6, y0 + 6, 28, 2, PIX_RGBA(90, 90, 100, 255), 1.0f, PIX_BLIT_MODE_COPY);
    PIX_FillRect(bm, 6, y0 + 30, 28 * k / 127, 4, PIX_RGBA(250, 170, 40, 255), 1.0f, PIX_BLIT_MODE_COPY);
    // Semi-transparent rim so that the source-alpha blend shows against the panel.
    PIX_FillRect(bm, 0, y0, 40, 2, PIX_RGBA(255, 255, 255, 96), 1.0f, PIX_BLIT_MODE_COPY);
  }
  return bm;
}

// Five frames of 30 x 20: a lamp row lit up to the frame's number.
PIX_IBitmap* makeSwitch() {
  auto* bm = new PIX_MemBitmap(30, 100);
  for (int k = 0; k < 5; ++k) {
    PIX_FillRect(bm, 0, k * 20, 30, 20, PIX_RGBA(20, 20, 20, 255), 1.0f, PIX_BLIT_MODE_COPY);
    for (int lamp = 0; lamp < 4; ++lamp)
      PIX_FillRect(bm, 2 + lamp * 7, k * 20 + 7, 5, 6,
                   lamp < k ? PIX_RGBA(80, 230, 90, 255) : PIX_RGBA(40, 60, 40, 255), 1.0f, PIX_BLIT_MODE_COPY);
  }
  return bm;
}

// Two frames of 16 x 16: off (dim ring), on (lit centre).
PIX_IBitmap* makeRadio() {
  auto* bm = new PIX_MemBitmap(16, 32);
  PIX_FillRect(bm, 0, 0, 16, 32, PIX_RGBA(90, 90, 90, 255), 1.0f, PIX_BLIT_MODE_COPY);
  PIX_FillRect(bm, 2, 2, 12, 12, PIX_RGBA(25, 25, 25, 255), 1.0f, PIX_BLIT_MODE_COPY);
  PIX_FillRect(bm, 2, 18, 12, 12, PIX_RGBA(40, 120, 250, 255), 1.0f, PIX_BLIT_MODE_COPY);
  return bm;
}

PIX_IBitmap* makeHandle() {
  auto* bm = new PIX_MemBitmap(20, 10);
  PIX_FillRect(bm, 0, 0, 20, 10, PIX_RGBA(200, 200, 210, 255), 1.0f, PIX_BLIT_MODE_COPY);
  PIX_FillRect(bm, 0, 4, 20, 2, PIX_RGBA(230, 40, 40, 255), 1.0f, PIX_BLIT_MODE_COPY);
  return bm;
}

// Stands for the plug-in's keyboard handling: arrows step the knob by one value of its 128.
class KeyStepper : public IControl {
 public:
  KeyStepper(IEffectBase* plug, IControl* knob) : IControl(plug, IRECT()), mKnob(knob) {}
  bool Draw(IGraphics*) override { return true; }
  bool OnKeyDown(int, int, int key) override {
    if (key != 1 && key != 2) return false;
    const double step = key == 1 ? 1.0 / 127.0 : -1.0 / 127.0;
    mKnob->SetValueFromUserInput(std::max(0.0, std::min(1.0, mKnob->GetValue() + step)));
    return true;
  }

 private:
  IControl* mKnob;
};

struct Editor {
  TestPlug plug;
  TestGraphics& g = *new TestGraphics{&plug, 320, 200};  // owned by the plug-in once attached
  ControlLayer* pageA;
  ControlLayer* pageB;
  ControlLayer* pageC;
  ITextControl* pageCText;
  IKnobMultiControl* knob;
  ISwitchControl* sw;
  ICaptionControl* caption;
  IRadioButtonsControl* radio;
  IFaderControl* fader;
  ITextControl* text;

  Editor() {
    g.images["resources/img/bg.png"] = makeBackground;
    g.images["resources/img/knob.png"] = makeKnob;
    g.images["resources/img/switch.png"] = makeSwitch;
    g.images["resources/img/radio.png"] = makeRadio;
    g.images["resources/img/handle.png"] = makeHandle;
    plug.AttachGraphics(&g);

    // As the builder does: every image preloaded, controls created into their layers, the background last.
    g.LoadIBitmap(201, "resources/img/knob.png", 1.0, 128);
    g.LoadIBitmap(202, "resources/img/switch.png", 1.0, 5);
    g.LoadIBitmap(203, "resources/img/radio.png", 1.0, 2);
    g.LoadIBitmap(204, "resources/img/handle.png", 1.0, 1);
    IBitmap knobBm = g.getImageById(201, 128), switchBm = g.getImageById(202, 5), radioBm = g.getImageById(203, 2),
            handleBm = g.getImageById(204, 1);

    pageA = new ControlLayer(1, "page A");
    knob = new IKnobMultiControl(&plug, 20, 20, kCutoff, &knobBm);
    sw = new ISwitchControl(&plug, 80, 30, kMode, &switchBm);
    IText captionStyle(12, &COLOR_WHITE, "DejaVu Sans Mono");
    caption = new ICaptionControl(&plug, IRECT(80, 60, 180, 76), kMode, &captionStyle, false);
    caption->DisablePrompt(false);
    pageA->controls.Add(knob);
    pageA->controls.Add(sw);
    pageA->controls.Add(caption);

    pageB = new ControlLayer(2, "page B");
    radio = new IRadioButtonsControl(&plug, IRECT(20, 110, 124, 126), kWave, 4, &radioBm, kHorizontal);
    fader = new IFaderControl(&plug, 200, 20, 100, kLevel, &handleBm);
    IText nameStyle(14, &COLOR_YELLOW, "DejaVu Sans", IText::kStyleBold, IText::kAlignNear);
    text = new ITextControl(&plug, IRECT(20, 150, 300, 172), &nameStyle, "Init Sound");
    pageB->controls.Add(radio);
    pageB->controls.Add(fader);
    pageB->controls.Add(text);

    pageC = new ControlLayer(3, "page C");
    IText pageStyle(18, &COLOR_WHITE, "DejaVu Sans", IText::kStyleNormal, IText::kAlignCenter);
    pageCText = new ITextControl(&plug, IRECT(20, 100, 300, 180), &pageStyle, "Page C");
    pageC->controls.Add(pageCText);
    pageC->controls.Add(new IKnobMultiControl(&plug, 190, 20, kDepth, &knobBm));

    g.AttachLayer(pageA);
    g.AttachLayer(pageB);
    g.AttachLayer(pageC);
    g.AttachBackground(200, "resources/img/bg.png");
    g.AttachKeyCatcher(new KeyStepper(&plug, knob));

    // The plug-in shows its first page and hands every control its parameter's value.
    pageA->Hide(false);
    pageB->Hide(false);
    for (int p = 0; p < kNumTestParams; ++p) g.SetParameterFromPlug(p, plug.GetParam(p)->Value(), false);
  }

  // One timer tick: the dirty rectangle repainted (empty when nothing was dirty).
  IRECT tick() {
    const size_t before = g.dirtyRects.size();
    g.Tick();
    return g.dirtyRects.size() > before ? g.dirtyRects.back() : IRECT();
  }
  void clearLogs() {
    plug.guiCalls.clear();
    hostLog().clear();
  }
};

IMouseMod left() {
  return IMouseMod(true);
}

}  // namespace

TEST(Scenario, EditorSessionMatchesItsRecordsAndPictures) {
  Editor e;
  IMouseMod mod = left();

  // The first timer tick finds every control dirty; the join covers them all.
  IRECT dirty;
  ASSERT_TRUE(e.g.IsDirty(&dirty));
  EXPECT_EQ(dirty, IRECT(20, 20, 300, 172));
  // A newly shown view paints itself whole once.
  IRECT all(0, 0, 320, 200);
  e.g.Draw(&all);
  EXPECT_EQ(e.g.screenRects.back(), all);
  EXPECT_EQ(e.caption->GetTextForPlug(), "Off");
  pixels::expectColoursMatchGolden(e.g.GetDrawBitmap(), "gui", "scenario-1-open");
  EXPECT_EQ(e.tick(), IRECT(20, 20, 300, 172));  // showing the pages asked for one more frame
  EXPECT_EQ(e.g.screenRects.back(), IRECT(20, 20, 300, 172));
  EXPECT_TRUE(e.tick().Empty());  // nothing changed
  EXPECT_TRUE(e.plug.guiCalls.empty());

  // Drag the knob up by a quarter of its height twice: 0.0625 per step with gearing 4.
  e.g.OnMouseDown(40, 40, &mod);
  e.g.OnMouseDrag(40, 30, &mod);
  e.g.OnMouseDrag(40, 20, &mod);
  e.g.OnMouseUp(40, 20, &mod);
  EXPECT_EQ(e.plug.guiCalls, (std::vector<std::string>{"gui 0 0.0625", "gui 0 0.1250"}));
  EXPECT_EQ(hostLog(), (std::vector<std::string>{"begin 0", "automate 0 0.0625", "automate 0 0.1250", "end 0"}));
  EXPECT_DOUBLE_EQ(e.plug.GetParam(kCutoff)->Value(), 16.0);
  EXPECT_EQ(e.tick(), IRECT(20, 20, 60, 60));
  EXPECT_TRUE(e.tick().Empty());

  // Fine drag with Shift: a tenth of the step.
  e.clearLogs();
  IMouseMod shift(true, false, true);
  e.g.OnMouseDown(40, 40, &shift);
  e.g.OnMouseDrag(40, 30, &shift);
  e.g.OnMouseUp(40, 30, &shift);
  EXPECT_EQ(e.plug.guiCalls, std::vector<std::string>{"gui 0 0.1313"});

  // Two clicks on the switch: Low, then Mid; the caption follows the parameter.
  e.clearLogs();
  e.g.OnMouseDown(90, 35, &mod);
  e.g.OnMouseUp(90, 35, &mod);
  e.g.OnMouseDown(90, 35, &mod);
  e.g.OnMouseUp(90, 35, &mod);
  EXPECT_EQ(e.plug.guiCalls, (std::vector<std::string>{"gui 1 0.2500", "gui 1 0.5000"}));
  EXPECT_EQ(hostLog(), (std::vector<std::string>{"automate 1 0.2500", "begin 1", "end 1", "automate 1 0.5000",
                                                 "begin 1", "end 1"}));
  EXPECT_EQ(e.tick(), IRECT(20, 20, 110, 60));  // the knob (fine drag) and the switch
  // The plug-in confirms the mode: the caption, which still held its first value, takes it in and is repainted
  // for two frames.
  e.g.SetParameterFromPlug(kMode, 2, false);
  EXPECT_EQ(e.tick(), IRECT(80, 60, 180, 76));
  EXPECT_EQ(e.tick(), IRECT(80, 60, 180, 76));
  EXPECT_EQ(e.caption->GetTextForPlug(), "Mid");
  EXPECT_TRUE(e.plug.guiCalls.size() == 2u);

  // Wheel over the fader: three steps up.
  e.clearLogs();
  for (int i = 0; i < 3; ++i) e.g.OnMouseWheel(210, 60, &mod, 1);
  EXPECT_EQ(e.plug.guiCalls, (std::vector<std::string>{"gui 3 0.0100", "gui 3 0.0200", "gui 3 0.0300"}));
  EXPECT_TRUE(
      std::none_of(hostLog().begin(), hostLog().end(), [](const std::string& s) { return s.rfind("begin", 0) == 0; }));
  EXPECT_EQ(e.tick(), IRECT(200, 20, 220, 120));
  EXPECT_EQ(e.g.screenRects.back(), IRECT(200, 20, 220, 120));
  pixels::expectColoursMatchGolden(e.g.GetDrawBitmap(), "gui", "scenario-2-knob-switch-wheel");

  // Radio: the third button; fader: a press at its middle, then dragged to the top.
  e.clearLogs();
  e.g.OnMouseDown(80, 115, &mod);
  e.g.OnMouseUp(80, 115, &mod);
  e.g.OnMouseDown(210, 70, &mod);
  e.g.OnMouseDrag(210, 5, &mod);
  e.g.OnMouseUp(210, 5, &mod);
  EXPECT_EQ(e.plug.guiCalls, (std::vector<std::string>{"gui 2 0.6667", "gui 3 0.5000", "gui 3 1.0000"}));
  EXPECT_EQ(hostLog(), (std::vector<std::string>{"automate 2 0.6667", "begin 2", "end 2", "automate 3 0.5000",
                                                 "begin 3", "automate 3 1.0000", "end 3"}));
  EXPECT_DOUBLE_EQ(e.plug.GetParam(kWave)->Value(), 2.0);
  EXPECT_EQ(e.tick(), IRECT(20, 20, 220, 126));

  // Double click on the knob returns it to its default (the first value the plug-in gave it).
  e.clearLogs();
  EXPECT_FALSE(e.g.OnMouseDblClick(40, 40, &mod));
  EXPECT_EQ(e.plug.guiCalls, std::vector<std::string>{"gui 0 0.0000"});

  // Keys: the knob under the pointer does not take them, and the background, which covers every point the key
  // catcher could have served, does not either; the view then hands them to the host.
  e.clearLogs();
  EXPECT_FALSE(e.g.OnKeyDown(40, 40, 1));
  EXPECT_FALSE(e.g.OnKeyDown(5, 195, 2));
  EXPECT_FALSE(e.g.OnKeyDown(5, 195, 20));
  EXPECT_TRUE(e.plug.guiCalls.empty());
  // While the knob is captured it receives the keys wherever the pointer is.
  e.g.OnMouseDown(40, 40, &mod);
  EXPECT_FALSE(e.g.OnKeyDown(300, 190, 1));
  e.g.OnMouseUp(40, 40, &mod);

  // Right click on the caption: the menu shows the current item checked; choosing "Max" sets the mode.
  e.clearLogs();
  e.g.menuChoice = 4;
  IMouseMod right(false, true);
  e.g.OnMouseDown(100, 65, &right);
  e.g.OnMouseUp(100, 65, &right);
  ASSERT_EQ(e.g.menus.size(), 1u);
  EXPECT_EQ(e.g.menus[0], "Off,Low,*Mid,High,Max");
  EXPECT_EQ(e.g.menuRects[0], IRECT(80, 60, 180, 76));
  EXPECT_EQ(e.plug.guiCalls, std::vector<std::string>{"gui 1 1.0000"});
  // The menu released the capture, so the release found the caption by hit search: begin and end both follow.
  EXPECT_EQ(hostLog(), (std::vector<std::string>{"automate 1 1.0000", "begin 1", "end 1"}));

  // The plug-in writes a new program name.
  e.text->SetTextFromPlug("Lead 7");
  e.tick();
  EXPECT_EQ(e.caption->GetTextForPlug(), "Max");
  pixels::expectColoursMatchGolden(e.g.GetDrawBitmap(), "gui", "scenario-3-radio-fader-keys-menu");

  e.tick();

  // A tab switch: the second page hides, and the next tick repaints the area its controls leave from the background
  // up. The third page, over the same area, shows; the second page's controls are no longer hit.
  e.pageB->Hide(true);
  EXPECT_EQ(e.tick(), IRECT(20, 20, 300, 172));
  pixels::expectColoursMatchGolden(e.g.GetDrawBitmap(), "gui", "scenario-4-page-hidden");
  e.pageC->Hide(false);
  EXPECT_EQ(e.tick(), IRECT(20, 20, 300, 180));
  pixels::expectColoursMatchGolden(e.g.GetDrawBitmap(), "gui", "scenario-4-page-switched");
  e.clearLogs();
  e.g.OnMouseDown(80, 115, &mod);
  EXPECT_TRUE(e.plug.guiCalls.empty());
  EXPECT_EQ(e.g.GetCapturedControl(), e.pageCText);
  EXPECT_DOUBLE_EQ(e.radio->GetValue(), 2.0 / 3.0);
  e.g.OnMouseUp(80, 115, &mod);
  e.tick();

  // A control hidden alone leaves its area to the background too.
  e.pageCText->Hide(true);
  EXPECT_EQ(e.tick(), IRECT(20, 100, 300, 180));
  std::unique_ptr<PIX_IBitmap> bg(makeBackground());
  auto frame = pixels::opaque(e.g.GetDrawBitmap()), beneath = pixels::opaque(bg.get());
  int differing = 0;
  for (int y = 100; y < 180; ++y)
    for (int x = 20; x < 300; ++x) differing += PIX_GetPixel(frame.get(), x, y) != PIX_GetPixel(beneath.get(), x, y);
  EXPECT_EQ(differing, 0);
}
