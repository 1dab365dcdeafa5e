// The editor's redraw cycle at full size: a 1500 x 667 surface with 400 film-strip knobs (128 frames of 40 x 40)
// and 60 text displays, half of them in a layer as the editor's pages are. Measured: a full redraw (every control
// dirty, the whole surface repainted), an idle timer tick (nothing dirty), and the tick after one knob changed.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <vector>

#include "KIT/IEffect/ControlLayer.h"
#include "KIT/IEffect/IControls.h"
#include "KIT/IEffect/IEffectVST.h"
#include "KIT/IEffect/IGraphics.h"
#include "KIT/pix/pix.h"
#include "bench/gui/bench_plug.h"

namespace {

using guibench::BenchPlug;

// The screen copy is the platform's; the benchmark measures the surface's own work.
class BenchGraphics : public IGraphics {
 public:
  using IGraphics::IGraphics;
  bool DrawScreen(IRECT*) override { return true; }
  void ForceEndUserEdit() override {}
  int ShowMessageBox(const char*, const char*, int) override { return 0; }
  IPopupMenu* CreateIPopupMenu(IPopupMenu*, IRECT*) override { return nullptr; }
  void CreateTextEntry(IControl*, IText*, IRECT*, const char*, IParam*) override {}
  void HostPath(KIT_String*) override {}
  void PluginPath(KIT_String*) override {}
  void DesktopPath(KIT_String*) override {}
  void PromptForFile(KIT_String*, EFileAction, KIT_String*, char*) override {}
  bool PromptForColor(IColor*, char*) override { return false; }
  bool OpenURL(const char*, const char*, const char*, const char*) override { return false; }
  void* OpenWindow(void*) override { return nullptr; }
  void CloseWindow() override {}
  void* GetWindow() override { return nullptr; }
  char* OSLoadFile(int, const char*) override { return nullptr; }
  PIX_IBitmap* OSLoadBitmap(int id, const char*) override {
    if (id == 1) {
      auto* bg = new PIX_MemBitmap(1500, 667);
      PIX_GradRect(bg, 0, 0, 1500, 667, 0.1f, 0.12f, 0.15f, 1.0f, 0.0002f, 0.0001f, 0.0001f, 0.0f, 0.0f, 0.0004f,
                   0.0005f, 0.0f, 0);
      return bg;
    }
    auto* strip = new PIX_MemBitmap(40, 40 * 128);
    PIX_FillRect(strip, 0, 0, 40, 40 * 128, 0, 1.0f, 0);
    for (int k = 0; k < 128; ++k) {
      PIX_FillRect(strip, 3, k * 40 + 3, 34, 34, PIX_RGBA(30, 30, 36, 230), 1.0f, 0);
      PIX_FillRect(strip, 5, k * 40 + 30, 30 * k / 127, 4, PIX_RGBA(250, 170, 40, 255), 1.0f, 0);
    }
    return strip;
  }
};

struct Editor {
  BenchPlug plug{400};
  BenchGraphics& g = *new BenchGraphics{&plug, 1500, 667};  // owned by the plug-in once attached
  std::vector<IKnobMultiControl*> knobs;
  std::vector<ITextControl*> texts;

  Editor() {
    plug.AttachGraphics(&g);
    IBitmap strip = g.LoadIBitmap(2, "knob.png", 1.0, 128);
    auto* page = new ControlLayer(1, "page");
    // 25 columns by 16 rows of knobs, 60 pixels apart; the lower half of the rows in the page layer.
    for (int i = 0; i < 400; ++i) {
      const int col = i % 25, row = i / 25;
      auto* knob = new IKnobMultiControl(&plug, 10 + col * 60, 8 + row * 40, i, &strip);
      knobs.push_back(knob);
      if (row < 8)
        g.AttachControl(knob);
      else
        page->controls.Add(knob);
    }
    IText style(11, &COLOR_WHITE, "DejaVu Sans Mono");
    for (int i = 0; i < 60; ++i) {
      const int col = i % 12, row = i / 12;
      char label[32];
      std::snprintf(label, sizeof(label), "Param %03d", i);
      auto* text = new ITextControl(&plug, IRECT(10 + col * 124, 648 - row * 4 - 12, 130 + col * 124, 660 - row * 4),
                                    &style, label);
      texts.push_back(text);
      if (i < 30)
        g.AttachControl(text);
      else
        page->controls.Add(text);
    }
    g.AttachLayer(page);
    g.AttachBackground(1, "bg.png");
    page->Hide(false);
    for (int i = 0; i < 400; ++i) knobs[i]->SetValueFromPlug((i % 128) / 127.0);
    redrawAll();
    redrawAll();
  }
  // Guards the figures: a redraw that silently drew nothing would be fast for the wrong reason.
  bool looksDrawn() {
    PIX_IBitmap* bm = g.GetDrawBitmap();
    const PIX_pixel knobFace = PIX_GetPixel(bm, 10 + 10, 8 + 10);
    if (PIX_GETR(knobFace) < 20 || PIX_GETR(knobFace) > 45) return false;
    const IRECT* r = texts[0]->GetRECT();
    int lit = 0;
    for (int y = r->T; y < r->B; ++y)
      for (int x = r->L; x < r->R; ++x) lit += PIX_GETR(PIX_GetPixel(bm, x, y)) > 160;
    return lit > 20;
  }
  void redrawAll() {
    IRECT all(0, 0, 1500, 667);
    g.Draw(&all);
  }
  // Whether the tick drew.
  bool tick() {
    IRECT r;
    if (!g.IsDirty(&r)) return false;
    g.Draw(&r);
    return true;
  }
};

void BM_FullRedraw(benchmark::State& state) {
  Editor e;
  for (auto _ : state) {
    e.g.SetAllControlsDirty();
    e.g.GetLayer(0)->setControlsDirty();
    IRECT r;
    e.g.IsDirty(&r);
    IRECT all(0, 0, 1500, 667);
    e.g.Draw(&all);
  }
  if (!e.looksDrawn()) state.SkipWithError("the redraw left the knobs or texts unpainted");
}
BENCHMARK(BM_FullRedraw)->Unit(benchmark::kMillisecond);

void BM_IdleTick(benchmark::State& state) {
  Editor e;
  for (auto _ : state) {
    if (e.tick()) state.SkipWithError("an idle tick drew");
  }
}
BENCHMARK(BM_IdleTick)->Unit(benchmark::kMicrosecond);

void BM_OneKnobRedraw(benchmark::State& state) {
  Editor e;
  int step = 0;
  // Each knob's frame; a knob moves 1 to 126 frames on, never back to the frame it shows (which would draw nothing).
  std::vector<int> frames(400);
  for (int i = 0; i < 400; ++i) frames[i] = i % 128;
  for (auto _ : state) {
    const int k = (step * 37) % 400;
    frames[k] = (frames[k] + 1 + step % 126) % 128;
    e.knobs[k]->SetValueFromPlug(frames[k] / 127.0);
    e.knobs[k]->SetRedraw(false);  // one frame, as a drag gives
    ++step;
    if (!e.tick()) state.SkipWithError("a changed knob was not drawn");
  }
}
BENCHMARK(BM_OneKnobRedraw)->Unit(benchmark::kMicrosecond);

}  // namespace
