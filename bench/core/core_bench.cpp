// Costs of the host boundary, measured on the real bundle: a dispatcher round trip, a process
// call that has no MIDI to handle, and creating a ready plug-in through VSTPluginMain.
#include <benchmark/benchmark.h>
#include <dlfcn.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/vst2/vst2.h"

namespace {

intptr_t hostCallback(AEffect*, int32_t opcode, int32_t, intptr_t, void*, float) {
  return opcode == audioMasterVersion ? 2400 : 0;
}

VstPluginMainProc entry() {
  static VstPluginMainProc proc = [] {
    static std::string root = std::filesystem::temp_directory_path().string() + "/vexmir-core-bench";
    std::filesystem::create_directories(root);
    setenv("VEXMIR_ROOT", root.c_str(), 1);
    void* lib = dlopen(VEXMIR_BUNDLE_LIB, RTLD_NOW | RTLD_LOCAL);
    return lib ? reinterpret_cast<VstPluginMainProc>(dlsym(lib, "VSTPluginMain")) : nullptr;
  }();
  return proc;
}

void BM_DispatcherRoundTrip(benchmark::State& state) {
  AEffect* e = entry() ? entry()(hostCallback) : nullptr;
  if (!e) {
    state.SkipWithError("bundle not loaded");
    return;
  }
  for (auto _ : state) benchmark::DoNotOptimize(e->dispatcher(e, effGetVendorVersion, 0, 0, nullptr, 0.0f));
  e->dispatcher(e, effClose, 0, 0, nullptr, 0.0f);
}
BENCHMARK(BM_DispatcherRoundTrip);

void BM_ProcessDoubleNoMidi(benchmark::State& state) {
  AEffect* e = entry() ? entry()(hostCallback) : nullptr;
  if (!e) {
    state.SkipWithError("bundle not loaded");
    return;
  }
  const int frames = static_cast<int>(state.range(0));
  e->dispatcher(e, effSetBlockSize, 0, frames, nullptr, 0.0f);
  e->dispatcher(e, effMainsChanged, 0, 1, nullptr, 0.0f);
  std::vector<double> l(frames), r(frames), ol(frames), orr(frames);
  double* in[2] = {l.data(), r.data()};
  double* out[2] = {ol.data(), orr.data()};
  for (auto _ : state) {
    e->processDoubleReplacing(e, in, out, frames);
    benchmark::ClobberMemory();
  }
  e->dispatcher(e, effClose, 0, 0, nullptr, 0.0f);
}
BENCHMARK(BM_ProcessDoubleNoMidi)->Arg(64)->Arg(512);

void BM_PluginMainToReady(benchmark::State& state) {
  if (!entry()) {
    state.SkipWithError("bundle not loaded");
    return;
  }
  for (auto _ : state) {
    AEffect* e = entry()(hostCallback);
    e->dispatcher(e, effOpen, 0, 0, nullptr, 0.0f);
    state.PauseTiming();
    e->dispatcher(e, effClose, 0, 0, nullptr, 0.0f);
    state.ResumeTiming();
  }
}
BENCHMARK(BM_PluginMainToReady)->Unit(benchmark::kMicrosecond);

}  // namespace
