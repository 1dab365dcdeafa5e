// The editor surface driven by arbitrary input: events at any point, values from the plug-in, layers shown and
// hidden, redraws of any rectangle, and the drawing operations with any rectangle (up to the ends of the int
// range), frame, radius and cell size.
// Nothing may crash or touch memory outside the bitmaps.
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <tuple>
#include <utility>

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

// Reads the input front to back. The order in which a call's arguments, or the operands of one expression, are
// evaluated is unspecified (GCC reads them in another order than Clang), so every value is read in a statement of
// its own: the corpus then means the same to the replay of any compiler as to the fuzzer that made it.
struct Reader {
  const uint8_t* p;
  size_t n;
  uint8_t byte() { return n ? (--n, *p++) : 0; }
  bool bit() { return byte() & 1; }
  int small() { return static_cast<int8_t>(byte()); }
  // The two ends of the 16-bit range stand for the ends of the int range.
  int coord() {
    const int low = byte();
    const int v = static_cast<int16_t>(low | byte() << 8);
    return v == INT16_MAX ? INT_MAX : v == INT16_MIN ? INT_MIN : v % 400;
  }
  // Two coordinates, x first.
  std::pair<int, int> point() {
    const int x = coord();
    return {x, coord()};
  }
  // Left, top, right, bottom.
  IRECT rect() {
    const auto [l, t] = point();
    const auto [r, b] = point();
    return IRECT(l, t, r, b);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Reader in{data, size};
  Plug plug;
  Surface& g = *new Surface(&plug, 120, 90);  // owned by the plug-in once attached
  plug.AttachGraphics(&g);
  const double stripScale = 0.5 + in.byte() / 64.0;
  const int stripStates = 1 + in.byte() % 8;
  IBitmap strip = g.LoadIBitmap(3, "strip.png", stripScale, stripStates, in.bit());
  IBitmap missing = g.LoadIBitmap(9, "missing.png", 1.0, 4);
  IBitmap handle = g.LoadIBitmap(1, "handle.png", 1.0, 1);
  IText style;
  style.mAlign = in.byte() % 3;

  auto* layer = new ControlLayer(1, "page");
  auto [kx, ky] = in.point();
  layer->controls.Add(new IKnobMultiControl(&plug, kx, ky, 0, &strip));
  const auto [fx, fy] = in.point();
  const int fLen = in.small();
  const EDirection fDirection = in.bit() ? kHorizontal : kVertical;
  layer->controls.Add(new IFaderControl(&plug, fx, fy, fLen, 2, &handle, fDirection, in.bit()));
  const IRECT radios = in.rect();
  const int nRadios = in.small();
  const EDirection rDirection = in.bit() ? kHorizontal : kVertical;
  layer->controls.Add(new IRadioButtonsControl(&plug, radios, 1, nRadios, &strip, rDirection, in.bit()));
  auto* caption = new ICaptionControl(&plug, in.rect(), 1, &style);
  caption->DisablePrompt(false);
  layer->controls.Add(caption);
  g.AttachLayer(layer);
  std::tie(kx, ky) = in.point();
  g.AttachControl(new ISwitchControl(&plug, kx, ky, 1, &strip));
  std::tie(kx, ky) = in.point();
  g.AttachControl(new IKnobMultiControl(&plug, kx, ky, 0, &missing));
  const IRECT textRect = in.rect();
  const int textA = in.small();
  g.AttachControl(new IBitmapTextControl(&plug, textRect, &strip, "AB~", &style, textA, in.small()));
  g.AttachControl(new ITextControl(&plug, in.rect(), &style, "t"));
  auto* display = new ICaptionControl(&plug, IRECT(0, 0, 10, 10), 3, &style);
  display->DisablePrompt(false);
  g.AttachControl(display);
  g.AttachBackground(2, "bg.png", 1.0 + in.byte() / 32.0);

  while (in.n) {
    const bool l = in.bit(), r = in.bit(), s = in.bit();
    IMouseMod mod(l, r, s, in.bit());
    const auto [x, y] = in.point();
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
      case 6: {
        const int idx = in.byte() % 5 - 1;
        const int value = in.small();
        g.SetParameterFromPlug(idx, value, in.bit());
        break;
      }
      case 7:
        layer->Hide(in.bit());
        break;
      case 8: {
        IRECT dirty;
        if (g.IsDirty(&dirty)) g.Draw(&dirty);
        break;
      }
      case 9: {
        const auto [right, bottom] = in.point();
        IRECT box(x, y, right, bottom);
        g.Draw(&box);
        const int frame = in.small(), a = in.small();
        g.DrawBitmap(&strip, &box, frame, a, in.small(), nullptr);
        break;
      }
      case 10: {
        const auto [right, bottom] = in.point();
        IRECT box(x, y, right, bottom);
        int radius = in.small();
        g.FillRoundRect(&COLOR_RED, &box, nullptr, radius, in.bit());
        radius = in.small();
        g.RoundRect(&COLOR_RED, &box, nullptr, radius, in.bit());
        g.DrawRect(&COLOR_BLUE, &box);
        g.DrawVerticalLine(&COLOR_BLUE, &box, in.small() / 50.0f);
        break;
      }
      case 11: {
        const auto [right, bottom] = in.point();
        IRECT box(x, y, right, bottom);
        const bool vCentre = in.bit(), multiline = in.bit();
        const int charWidth = in.small();
        DrawBitmapedText(&g, &strip, &box, &style, nullptr, "Hello, fuzz", vCentre, multiline, charWidth, in.small());
        g.MeasureIText(&style, "Wm", &box);
        break;
      }
      case 12:
        g.DrawRotatedMask(&strip, &handle, &strip, x, y, in.small() * 7.0);
        break;
      case 13: {
        g.menuChoice = in.small() % 4;
        g.ForcePixel(&COLOR_GREEN, x, y);
        g.GetPoint(x, y);
        const double angle = in.small() / 10.0;
        g.DrawRotatedBitmap(&strip, x, y, angle, in.small());
        break;
      }
    }
  }
  return 0;
}
