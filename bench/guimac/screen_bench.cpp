// The platform half of the redraw at full editor size (1500 x 667): the Cocoa view's timer tick and the window's
// display, which copies the surface's bitmap to the window through DrawScreen. Measured: the whole view displayed,
// one 40 x 40 control repainted and shown, and an idle tick with nothing to show; the same on a composited Carbon
// window.
#include <benchmark/benchmark.h>

#include "KIT/IEffect/IControls.h"
#include "KIT/IEffect/IEffectVST.h"
#include "KIT/IEffect/IGraphicsCarbon.h"
#include "KIT/IEffect/IGraphicsCocoa.h"
#include "KIT/IEffect/IGraphicsMac.h"
#include "bench/gui/bench_plug.h"
#include "platform/cocoa/carbon.h"
#include "platform/graphics/graphics.h"

namespace {

using guibench::BenchPlug;

// The centre of the control.
const int kKnobX = 720, kKnobY = 320;

struct Editor {
  BenchPlug plug{1};
  IGraphicsMac* g;
  IPanelControl* knob;
  Editor() {
    g = new IGraphicsMac(&plug, 1500, 667, 0);
    plug.AttachGraphics(g);
    knob = new IPanelControl(&plug, IRECT(kKnobX - 20, kKnobY - 20, kKnobX + 20, kKnobY + 20), &COLOR_RED);
    g->AttachControl(knob);
    g->AttachPanelBackground(&COLOR_GRAY);
  }
  // The plug-in deletes its surface.
};

// The backing store's pixels as 0xRRGGBB.
uint32_t rgb(const IColor& c) {
  return static_cast<uint32_t>(c.R << 16 | c.G << 8 | c.B);
}
const uint32_t kMark = 0x0000FF;

// Paints the pixel at the control's centre blue in the window's backing store, behind the editor's back, so that a
// later look tells whether a display drew over it.
void mark(cocoa::Window* w) {
  platform::gfx::Context* b = w->backing();
  uint8_t* p = b->pixels() + kKnobY * b->rowBytes() + kKnobX * 4;
  p[1] = p[2] = 0;
  p[3] = 0xFF;
}

// After the loop: the control's centre must show `control` (red once it was drawn again, the mark when nothing
// was to be shown) and the panel beside it grey.
void expect(benchmark::State& state, cocoa::Window* w, uint32_t control) {
  if (w->pixelAt(kKnobX, kKnobY) != control || w->pixelAt(100, 100) != rgb(COLOR_GRAY))
    state.SkipWithError("the window does not show the editor");
}

void BM_CocoaWholeViewDisplay(benchmark::State& state) {
  Editor ed;
  auto* w = new cocoa::Window(cocoa::Rect{0, 0, 1500, 667});
  auto* view = static_cast<IGraphicsCocoa_vVexmir_vst*>(ed.g->OpenWindow(w->contentView()));
  for (auto _ : state) {
    view->setNeedsDisplay(true);
    w->displayIfNeeded();
  }
  expect(state, w, rgb(COLOR_RED));
  ed.g->CloseWindow();
  w->release();
}
BENCHMARK(BM_CocoaWholeViewDisplay)->Unit(benchmark::kMillisecond);

void BM_CocoaOneControlTick(benchmark::State& state) {
  Editor ed;
  auto* w = new cocoa::Window(cocoa::Rect{0, 0, 1500, 667});
  auto* view = static_cast<IGraphicsCocoa_vVexmir_vst*>(ed.g->OpenWindow(w->contentView()));
  w->displayIfNeeded();
  mark(w);
  for (auto _ : state) {
    ed.knob->SetDirty(false);
    view->onTimer(view->timer());
    w->displayIfNeeded();
  }
  expect(state, w, rgb(COLOR_RED));
  ed.g->CloseWindow();
  w->release();
}
BENCHMARK(BM_CocoaOneControlTick)->Unit(benchmark::kMicrosecond);

void BM_CocoaIdleTick(benchmark::State& state) {
  Editor ed;
  auto* w = new cocoa::Window(cocoa::Rect{0, 0, 1500, 667});
  auto* view = static_cast<IGraphicsCocoa_vVexmir_vst*>(ed.g->OpenWindow(w->contentView()));
  w->displayIfNeeded();
  mark(w);
  for (auto _ : state) {
    view->onTimer(view->timer());
    w->displayIfNeeded();
  }
  expect(state, w, kMark);
  ed.g->CloseWindow();
  w->release();
}
BENCHMARK(BM_CocoaIdleTick)->Unit(benchmark::kMicrosecond);

void BM_CarbonOneControlTick(benchmark::State& state) {
  Editor ed;
  carbon::Rect b{0, 0, 667, 1500};
  carbon::WindowRef w = nullptr;
  carbon::CreateNewWindow(carbon::kDocumentWindowClass, carbon::kWindowCompositingAttribute, &b, &w);
  ed.g->OpenWindow(w, nullptr, 0, 0);
  w->displayIfNeeded();
  mark(w);
  for (auto _ : state) {
    ed.knob->SetDirty(false);
    IRECT r;
    if (ed.g->IsDirty(&r)) {
      const carbon::HIRect hr{{static_cast<double>(r.L), static_cast<double>(r.T)},
                              {static_cast<double>(r.W()), static_cast<double>(r.H())}};
      carbon::HIViewSetNeedsDisplayInRect(ed.g->GetCarbonView()->GetView(), &hr, true);
    }
    w->displayIfNeeded();
  }
  expect(state, w, rgb(COLOR_RED));
  ed.g->CloseWindow();
  carbon::DisposeWindow(w);
}
BENCHMARK(BM_CarbonOneControlTick)->Unit(benchmark::kMicrosecond);

}  // namespace
