// The editor built from the bundle's resources. Start-up runs through the bundle's exported entry as a host runs
// it (VSTPluginMain, then effEditOpen with a view); the first run decodes the images, later ones find them in the
// process-wide cache, so both are reported. The redraws run on an in-process plug-in built from the same bundle.
#include <benchmark/benchmark.h>
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "KIT/IEffect/ControlLayer.h"
#include "KIT/IEffect/IControls.h"
#include "KIT/IEffect/IGraphics.h"
#include "KIT/IEffect/IParam.h"
#include "platform/cocoa/cfbundle.h"
#include "platform/cocoa/view.h"
#include "platform/vst2/vst2.h"
#include "src/UIConfigManager.h"
#include "src/Vexmir.h"

namespace {

intptr_t hostCallback(AEffect*, int32_t opcode, int32_t, intptr_t, void*, float) {
  return opcode == audioMasterVersion ? 2400 : 0;
}

void useTempRoot() {
  static std::string root = std::filesystem::temp_directory_path().string() + "/vexmir-uiconfig-bench";
  std::filesystem::create_directories(root);
  setenv("VEXMIR_ROOT", root.c_str(), 1);
}

VstPluginMainProc entry() {
  static VstPluginMainProc proc = [] {
    useTempRoot();
    void* lib = dlopen(VEXMIR_BUNDLE_DIR "/Contents/Linux/Vexmir Editor.so", RTLD_NOW | RTLD_LOCAL);
    return lib ? reinterpret_cast<VstPluginMainProc>(dlsym(lib, "VSTPluginMain")) : nullptr;
  }();
  return proc;
}

long residentKiB() {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.compare(0, 6, "VmRSS:") == 0) return std::atol(line.c_str() + 6);
  return 0;
}

// VSTPluginMain to an editor open in a window of the platform model, then closed.
void startOnce(benchmark::State& state) {
  AEffect* e = entry()(hostCallback);
  ERect* rect = nullptr;
  e->dispatcher(e, effEditGetRect, 0, 0, &rect, 0.0f);
  const int w = rect ? rect->right - rect->left : 1500, h = rect ? rect->bottom - rect->top : 667;
  auto* window = new cocoa::Window(cocoa::Rect{0, 0, double(w), double(h)});
  char question[] = "hasHostViewAsConfig";
  e->dispatcher(e, effCanDo, 0, 0, question, 0.0f);
  if (e->dispatcher(e, effEditOpen, 0, 0, window->contentView(), 0.0f) != 1) state.SkipWithError("no editor");
  state.PauseTiming();
  e->dispatcher(e, effEditClose, 0, 0, nullptr, 0.0f);
  e->dispatcher(e, effClose, 0, 0, nullptr, 0.0f);
  window->release();
  state.ResumeTiming();
}

void BM_StartupToOpenEditorFirst(benchmark::State& state) {
  if (!entry()) {
    state.SkipWithError("bundle not loaded");
    return;
  }
  const long before = residentKiB();
  for (auto _ : state) startOnce(state);
  state.counters["rss_added_KiB"] = static_cast<double>(residentKiB() - before);
}
BENCHMARK(BM_StartupToOpenEditorFirst)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_StartupToOpenEditor(benchmark::State& state) {
  if (!entry()) {
    state.SkipWithError("bundle not loaded");
    return;
  }
  for (auto _ : state) startOnce(state);
}
BENCHMARK(BM_StartupToOpenEditor)->Unit(benchmark::kMillisecond);

// The editor of an in-process plug-in built from the bundle.
struct Editor {
  Editor() {
    useTempRoot();
    cocoa::Bundle::registerIdentifier("com.Pellacor.vst.Vexmir Editor", VEXMIR_BUNDLE_DIR);
    plug = new Vexmir(IEffectInstanceInfo{hostCallback});
    g = plug->GetGUI();
    showEditTab();
  }
  // The edit tab of timbre 1 with the first set of every band shown, as the editor shows it after start-up.
  void showEditTab() {
    UIConfigManager* ui = plug->getUIConfig();
    ControlLayer* root = ui->getLayer("root");
    ControlLayer* edit = ui->getLayer("mainOscLayer");
    if (!root || !edit) return;
    root->setSelectedZone(2);
    edit->setSelectedZone(0);
    root->Hide(false);
    if (ControlLayer* copy = edit->childLayers.Get(0))
      for (int i = 0; i < copy->childLayers.GetSize(); ++i)
        if (copy->childLayers.Get(i)->getId() % 10 == 0) copy->childLayers.Get(i)->Hide(false);
    IRECT r;
    g->IsDirty(&r);
  }
  ~Editor() { delete plug; }
  IKnobMultiControl* anyShownKnob() {
    for (int i = 0; i < kNumParams; ++i) {
      const ControlAction* a = plug->GetParam(i)->GetControlAction();
      if (!a) continue;
      for (IControl* c : a->controls)
        if (auto* k = dynamic_cast<IKnobMultiControl*>(c))
          if (!k->IsHidden() && !k->IsGrayed() && k->GetRECT()->W() > 0 && isDrawn(k)) return k;
    }
    return nullptr;
  }
  // A control is drawn when every layer above it is shown.
  bool isDrawn(IControl* c) {
    for (int i = 0; i < g->NLayers(); ++i)
      if (inShownLayer(g->GetLayer(i), c)) return true;
    return false;
  }
  static bool inShownLayer(const ControlLayer* l, IControl* c) {
    if (!l->isVisible()) return false;
    for (int i = 0; i < l->controls.GetSize(); ++i)
      if (l->controls.Get(i) == c) return true;
    for (int i = 0; i < l->childLayers.GetSize(); ++i)
      if (inShownLayer(l->childLayers.Get(i), c)) return true;
    return false;
  }
  void tick() {
    IRECT r;
    if (g->IsDirty(&r)) g->Draw(&r);
  }
  Vexmir* plug;
  IGraphics* g;
};

void BM_FullRedraw(benchmark::State& state) {
  Editor e;
  IRECT all(0, 0, e.g->Width(), e.g->Height());
  for (auto _ : state) {
    e.g->SetAllControlsDirty();
    e.g->Draw(&all);
  }
}
BENCHMARK(BM_FullRedraw)->Unit(benchmark::kMillisecond);

void BM_OneKnobTurned(benchmark::State& state) {
  Editor e;
  IKnobMultiControl* knob = e.anyShownKnob();
  if (!knob) {
    state.SkipWithError("no knob shown");
    return;
  }
  e.tick();
  int step = 0;
  state.counters["knob_param"] = knob->ParamIdx();
  for (auto _ : state) {
    // One drag step: the value goes to the plug-in (which sends it on) and the knob is repainted.
    knob->SetValueFromUserInput(((step * 13) % 128) / 127.0);
    ++step;
    e.tick();
  }
}
BENCHMARK(BM_OneKnobTurned)->Unit(benchmark::kMicrosecond);

}  // namespace
