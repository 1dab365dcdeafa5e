// The editor surface driven by arbitrary input: events at any point, values from the plug-in, layers shown and
// hidden, redraws of any rectangle, and the drawing operations with any rectangle (up to the ends of the int
// range), frame, radius and cell size.
// Nothing may crash or touch memory outside the bitmaps.
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "KIT/IEffect/ControlLayer.h"
#include "KIT/IEffect/IBitmapMonoText.h"
#include "KIT/IEffect/IControls.h"
#include "KIT/IEffect/IEffectVST.h"
#include "KIT/IEffect/IGraphics.h"
#include "KIT/IEffect/IPopupMenu.h"
#include "KIT/pix/pix.h"

namespace {

intptr_t host(AEffect*, int32_t opcode, int32_t, intptr_t, void*, float) {
  return opcode == 1 ? 2400 : 0;
}

class Plug : public IEffectVST {
 public:
  Plug()
      : IEffectVST(IEffectInstanceInfo{host}, 4, "0-2", 1, "Fuzz", "", "Maker", 0x10000, 1, 1, 0, true, true, false,
                   0) {
    initialize(IEffectInstanceInfo{host}, 4, 4, "0-2", 1, "Fuzz", "", "Maker", 0x10000, 1, 1, 0, true, true, false, 0);
    GetParam(0)->InitInt("a", 0, 0, 127);
    GetParam(1)->InitEnum("b", 0, 3);
    GetParam(1)->SetDisplayText(0, "x");
    GetParam(1)->SetDisplayText(1, "y");
    GetParam(1)->SetDisplayText(2, "z");
    GetParam(2)->InitDouble("c", 0.0, -1.0, 1.0, 0.01);
    GetParam(3)->InitText();
  }
};

class Surface : public IGraphics {
 public:
  using IGraphics::IGraphics;
  int menuChoice = 0;
  bool DrawScreen(IRECT*) override { return true; }
  void ForceEndUserEdit() override {}
  int ShowMessageBox(const char*, const char*, int) override { return 1; }
  IPopupMenu* CreateIPopupMenu(IPopupMenu* menu, IRECT*) override {
    if (menuChoice < 0) return nullptr;
    menu->SetChosenItemIdx(menuChoice);
    return menu;
  }
  void CreateTextEntry(IControl* c, IText*, IRECT*, const char*, IParam* p) override {
    SetFromStringAfterPrompt(c, p, "12.5");
  }
  void HostPath(KIT_String*) override {}
  void PluginPath(KIT_String*) override {}
  void DesktopPath(KIT_String*) override {}
  void PromptForFile(KIT_String* f, EFileAction, KIT_String*, char*) override { f->Set("/tmp/x"); }
  bool PromptForColor(IColor*, char*) override { return false; }
  bool OpenURL(const char*, const char*, const char*, const char*) override { return false; }
  void* OpenWindow(void*) override { return nullptr; }
  void CloseWindow() override {}
  void* GetWindow() override { return nullptr; }
  char* OSLoadFile(int, const char*) override { return nullptr; }
  PIX_IBitmap* OSLoadBitmap(int id, const char*) override {
    if (id == 9) return nullptr;  // a missing image
    auto* bm = new PIX_MemBitmap(8 + id, 8 * (id + 1));
    PIX_FillRect(bm, 0, 0, bm->getWidth(), bm->getHeight(), PIX_RGBA(id * 20, 80, 200, 128 + id), 1.0f, 0);
    return bm;
  }
};

struct Reader {
  const uint8_t* p;
  size_t n;
  uint8_t byte() { return n ? (--n, *p++) : 0; }
  int small() { return static_cast<int8_t>(byte()); }
  // The two ends of the 16-bit range stand for the ends of the int range.
  int coord() {
    const int v = static_cast<int16_t>(byte() | byte() << 8);
    return v == INT16_MAX ? INT_MAX : v == INT16_MIN ? INT_MIN : v % 400;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Reader in{data, size};
  Plug plug;
  Surface& g = *new Surface(&plug, 120, 90);  // owned by the plug-in once attached
  plug.AttachGraphics(&g);
  IBitmap strip = g.LoadIBitmap(3, "strip.png", 0.5 + in.byte() / 64.0, 1 + in.byte() % 8, in.byte() & 1);
  IBitmap missing = g.LoadIBitmap(9, "missing.png", 1.0, 4);
  IBitmap handle = g.LoadIBitmap(1, "handle.png", 1.0, 1);
  IText style;
  style.mAlign = in.byte() % 3;

  auto* layer = new ControlLayer(1, "page");
  layer->controls.Add(new IKnobMultiControl(&plug, in.coord(), in.coord(), 0, &strip));
  layer->controls.Add(new IFaderControl(&plug, in.coord(), in.coord(), in.small(), 2, &handle,
                                        (in.byte() & 1) ? kHorizontal : kVertical, in.byte() & 1));
  layer->controls.Add(new IRadioButtonsControl(&plug, IRECT(in.coord(), in.coord(), in.coord(), in.coord()), 1,
                                               in.small(), &strip, (in.byte() & 1) ? kHorizontal : kVertical,
                                               in.byte() & 1));
  auto* caption = new ICaptionControl(&plug, IRECT(in.coord(), in.coord(), in.coord(), in.coord()), 1, &style);
  caption->DisablePrompt(false);
  layer->controls.Add(caption);
  g.AttachLayer(layer);
  g.AttachControl(new ISwitchControl(&plug, in.coord(), in.coord(), 1, &strip));
  g.AttachControl(new IKnobMultiControl(&plug, in.coord(), in.coord(), 0, &missing));
  g.AttachControl(new IBitmapTextControl(&plug, IRECT(in.coord(), in.coord(), in.coord(), in.coord()), &strip, "AB~",
                                         &style, in.small(), in.small()));
  g.AttachControl(new ITextControl(&plug, IRECT(in.coord(), in.coord(), in.coord(), in.coord()), &style, "t"));
  auto* display = new ICaptionControl(&plug, IRECT(0, 0, 10, 10), 3, &style);
  display->DisablePrompt(false);
  g.AttachControl(display);
  g.AttachBackground(2, "bg.png", 1.0 + in.byte() / 32.0);

  while (in.n) {
    IMouseMod mod(in.byte() & 1, in.byte() & 1, in.byte() & 1, in.byte() & 1);
    const int x = in.coord(), y = in.coord();
    switch (in.byte() % 14) {
      case 0:
        g.OnMouseDown(x, y, &mod);
        break;
      case 1:
        g.OnMouseUp(x, y, &mod);
        break;
      case 2:
        g.OnMouseDrag(x, y, &mod);
        break;
      case 3:
        g.OnMouseDblClick(x, y, &mod);
        break;
      case 4:
        g.OnMouseWheel(x, y, &mod, in.small());
        break;
      case 5:
        g.OnKeyDown(x, y, in.byte() % 41);
        break;
      case 6:
        g.SetParameterFromPlug(in.byte() % 5 - 1, in.small(), in.byte() & 1);
        break;
      case 7:
        layer->Hide(in.byte() & 1);
        break;
      case 8: {
        IRECT r;
        if (g.IsDirty(&r)) g.Draw(&r);
        break;
      }
      case 9: {
        IRECT r(x, y, in.coord(), in.coord());
        g.Draw(&r);
        g.DrawBitmap(&strip, &r, in.small(), in.small(), in.small(), nullptr);
        break;
      }
      case 10: {
        IRECT r(x, y, in.coord(), in.coord());
        g.FillRoundRect(&COLOR_RED, &r, nullptr, in.small(), in.byte() & 1);
        g.RoundRect(&COLOR_RED, &r, nullptr, in.small(), in.byte() & 1);
        g.DrawRect(&COLOR_BLUE, &r);
        g.DrawVerticalLine(&COLOR_BLUE, &r, in.small() / 50.0f);
        break;
      }
      case 11: {
        IRECT r(x, y, in.coord(), in.coord());
        DrawBitmapedText(&g, &strip, &r, &style, nullptr, "Hello, fuzz", in.byte() & 1, in.byte() & 1, in.small(),
                         in.small());
        g.MeasureIText(&style, "Wm", &r);
        break;
      }
      case 12:
        g.DrawRotatedMask(&strip, &handle, &strip, x, y, in.small() * 7.0);
        break;
      case 13: {
        g.menuChoice = in.small() % 4;
        g.ForcePixel(&COLOR_GREEN, x, y);
        g.GetPoint(x, y);
        g.DrawRotatedBitmap(&strip, x, y, in.small() / 10.0, in.small());
        break;
      }
    }
  }
  return 0;
}
