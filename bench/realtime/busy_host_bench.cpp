// The busy host of tests/faults/busy_host.h in a release build: 16 instances (VEXMIR_BENCH_INSTANCES), each with
// its own synthesizer emulator, played for 20 s (VEXMIR_BENCH_SECONDS) while recalls, a bank store, editor
// openings, knob drags, host automation and the synthesizers' knobs run. Every call of an instance's host MIDI and
// block is timed on the host's audio thread, which runs at real-time priority (SCHED_FIFO) as a host's does
// (VEXMIR_AUDIO_REALTIME=0 runs it as an ordinary thread); the counters are the longest call and the 99.9th
// percentile in milliseconds. Run as root through
// tests/faults/own-shm.sh, which gives the benchmark's JACK server a /dev/shm of its own:
//   tests/faults/own-shm.sh build/bench/bench/realtime/realtime_bench
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "tests/core/bundle_host.h"
#include "tests/faults/busy_host.h"

namespace {

int envInt(const char* name, int fallback) {
  const char* v = std::getenv(name);
  return v && std::atoi(v) > 0 ? std::atoi(v) : fallback;
}

void BM_BusyHostProcessCalls(benchmark::State& state) {
  using namespace busyhost;
  setenv("VEXMIR_BUILD_DIR", VEXMIR_BENCH_BUILD_DIR, 0);
  setenv("VEXMIR_SOURCE_DIR", VEXMIR_BENCH_SOURCE_DIR, 0);
  setenv("VEXMIR_AUDIO_REALTIME", "1", 0);
  OwnJackServer server;
  DataRoot root;
  if (!server.start()) {
    state.SkipWithError("the JACK server did not start");
    return;
  }
  VstPluginMainProc entry = loadBundleEntry(coretest::BundleHost::bundleLibrary());
  if (!entry) {
    state.SkipWithError("the plug-in bundle did not load");
    return;
  }
  cocoa::useManualClock();
  const int n = envInt("VEXMIR_BENCH_INSTANCES", 16);
  std::vector<std::unique_ptr<Instance>> instances;
  std::vector<std::vector<uint8_t>> projects;
  std::vector<Instance*> all;
  for (int i = 0; i <= n; ++i) {
    std::vector<uint8_t> project;
    instances.push_back(connectedInstance(entry, i, &project));
    if (!instances.back()) {
      state.SkipWithError("an instance did not connect");
      return;
    }
    if (i < n) {
      all.push_back(instances.back().get());
      projects.push_back(project);
    }
  }
  BusyFigures f;
  for (auto _ : state) f = runBusyPhase(all, projects, envInt("VEXMIR_BENCH_SECONDS", 20), instances.back().get());
  printFigures(f, n);
  state.counters["instances"] = n;
  state.counters["calls"] = static_cast<double>(f.calls);
  state.counters["longest_ms"] = f.longestCall;
  state.counters["p99.9_ms"] = f.p999Call;
  state.counters["recalls"] = static_cast<double>(f.recalls);
  state.counters["openings"] = static_cast<double>(f.openings);
  if (!f.bankStoreStarted) state.SkipWithError("the bank store did not start");
  instances.clear();
}

}  // namespace

BENCHMARK(BM_BusyHostProcessCalls)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
