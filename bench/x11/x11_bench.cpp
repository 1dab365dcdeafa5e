// The editor on X11 at full editor size (1500 x 667), in an Xvfb server of the benchmark's own: one knob turned and
// its pixels on the server (the host's idle runs the redraw timer, the draw and the copy, then one round trip makes
// sure the server has the pixels), the whole editor shown, and the host's idle with nothing to draw, with and
// without the redraw timer due. Arguments: 1 with MIT-SHM, 0 with plain image requests.
#include <benchmark/benchmark.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "KIT/IEffect/IControls.h"
#include "KIT/IEffect/IGraphicsMac.h"
#include "bench/gui/bench_plug.h"
#include "platform/cocoa/runloop.h"
#include "platform/cocoa/view.h"
#include "platform/vst2/vst2.h"
#include "platform/x11/presenter.h"
#include "tests/x11/xvfb.h"

namespace {

using guibench::BenchPlug;

x11test::Xvfb* server() {
  static x11test::Xvfb* s = [] {
    auto* x = new x11test::Xvfb;
    setenv("DISPLAY", x->display().c_str(), 1);
    return x;
  }();
  return s;
}

// A host's top-level window and the editor of a one-knob plug-in shown in it.
struct X11Editor {
  BenchPlug plug{1};
  IGraphicsMac* g = nullptr;
  IKnobLineControl* knob = nullptr;
  xcb_connection_t* host = nullptr;
  uint32_t hostWindow = 0;
  x11::Presenter* presenter = nullptr;

  explicit X11Editor(bool shm) {
    if (shm) {
      unsetenv("VEXMIR_X11_NO_SHM");
    } else {
      setenv("VEXMIR_X11_NO_SHM", "1", 1);
    }
    cocoa::useManualClock();
    g = new IGraphicsMac(&plug, 1500, 667, 0);
    plug.AttachGraphics(g);
    g->AttachPanelBackground(&COLOR_GRAY);
    knob = new IKnobLineControl(&plug, IRECT(700, 300, 760, 360), 0, &COLOR_WHITE);
    g->AttachControl(knob);
    host = xcb_connect(nullptr, nullptr);
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(host)).data;
    hostWindow = xcb_generate_id(host);
    xcb_create_window(host, XCB_COPY_FROM_PARENT, hostWindow, screen->root, 0, 0, 1500, 667, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
    xcb_map_window(host, hostWindow);
    std::free(xcb_get_input_focus_reply(host, xcb_get_input_focus(host), nullptr));
    dispatch(effEditOpen, reinterpret_cast<void*>(static_cast<uintptr_t>(hostWindow)));
    presenter = x11::Presenter::all().back();
    idle();
    presenter->sync();
  }
  ~X11Editor() {
    dispatch(effEditClose, nullptr);
    xcb_disconnect(host);
  }
  intptr_t dispatch(int32_t op, void* ptr) {
    AEffect* e = plug.GetAEffect();
    return e->dispatcher(e, op, 0, 0, ptr, 0.0f);
  }
  void idle() { dispatch(effEditIdle, nullptr); }
};

void BM_X11KnobTurnToPixels(benchmark::State& state) {
  if (server()->display().empty()) return state.SkipWithError("Xvfb did not start");
  X11Editor ed(state.range(0) != 0);
  double v = 0;
  for (auto _ : state) {
    v = v > 0.5 ? 0.1 : 0.9;
    ed.g->SetParameterFromPlug(0, v, true);
    cocoa::advanceClock(0.04);  // the redraw timer is due
    ed.idle();
    ed.presenter->sync();  // the server has copied the pixels
  }
  state.counters["shm"] = ed.presenter->usesSharedMemory();
}
BENCHMARK(BM_X11KnobTurnToPixels)->Arg(1)->Arg(0)->Unit(benchmark::kMicrosecond);

void BM_X11WholeEditorShown(benchmark::State& state) {
  if (server()->display().empty()) return state.SkipWithError("Xvfb did not start");
  X11Editor ed(state.range(0) != 0);
  auto* view = ed.presenter->modelWindow()->contentView()->subviews().front();
  for (auto _ : state) {
    view->setNeedsDisplay(true);
    ed.idle();
    ed.presenter->sync();
  }
}
BENCHMARK(BM_X11WholeEditorShown)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

void BM_X11IdleNothingToDraw(benchmark::State& state) {
  if (server()->display().empty()) return state.SkipWithError("Xvfb did not start");
  X11Editor ed(true);
  const bool timerDue = state.range(0) != 0;
  for (auto _ : state) {
    if (timerDue) cocoa::advanceClock(0.04);
    ed.idle();
  }
}
// 0: between redraw timer ticks (most idle calls of a 60 Hz host); 1: the timer fires and finds nothing dirty.
BENCHMARK(BM_X11IdleNothingToDraw)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace
