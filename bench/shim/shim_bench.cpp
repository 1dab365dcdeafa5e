// The window layer's hot paths: cached INI reads (one stat and two binary searches each), posting and flushing
// messages, and key translation.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "KIT/shim/shim.h"
#include "platform/cocoa/application.h"
#include "platform/cocoa/view.h"

namespace {

std::string makeIni(int sections, int keys) {
  char tmpl[] = "/tmp/shimbenchXXXXXX";
  std::string path = std::string(mkdtemp(tmpl)) + "/bench.ini";
  FILE* f = fopen(path.c_str(), "w");
  for (int s = 0; s < sections; ++s) {
    fprintf(f, "[section%d]\n", s);
    for (int k = 0; k < keys; ++k) fprintf(f, "key%d=value %d\n", k, k);
  }
  fclose(f);
  return path;
}

void BM_IniCachedRead(benchmark::State& state) {
  const std::string fn = makeIni(static_cast<int>(state.range(0)), static_cast<int>(state.range(0)));
  char buf[64];
  GetPrivateProfileString("section1", "key1", "", buf, sizeof buf, fn.c_str());  // parse once
  int i = 0;
  for (auto _ : state) {
    const std::string key = "key" + std::to_string(i++ % state.range(0));
    if (GetPrivateProfileString("section0", key.c_str(), "", buf, sizeof buf, fn.c_str()) == 0)
      state.SkipWithError("the key was not read");
  }
  unlink(fn.c_str());
}
BENCHMARK(BM_IniCachedRead)->Arg(10)->Arg(100)->Arg(1000);

void BM_IniColdRead(benchmark::State& state) {
  const std::string fn = makeIni(10, static_cast<int>(state.range(0)));
  char buf[64];
  for (auto _ : state) {
    // Touching the file changes its stamp, so that every read parses the whole file again.
    state.PauseTiming();
    FILE* f = fopen(fn.c_str(), "a");
    fputs("\n", f);
    fclose(f);
    state.ResumeTiming();
    if (GetPrivateProfileString("section9", "key0", "", buf, sizeof buf, fn.c_str()) == 0 ||
        std::strcmp(buf, "value 0") != 0)
      state.SkipWithError("the key was not read");
  }
  state.SetBytesProcessed(state.iterations() * 10 * state.range(0) * 16);
  unlink(fn.c_str());
}
BENCHMARK(BM_IniColdRead)->Arg(100)->Arg(1000);

class BenchView : public cocoa::View, public SHIM_MessageReceiver, public SHIM_PostTarget {
 public:
  LRESULT onShimMessage(UINT, WPARAM wp, LPARAM) override { return static_cast<LRESULT>(sum += wp); }
  bool shimCanPostMessage() override { return true; }
  uint64_t sum = 0;
};

class BenchDelegate : public cocoa::Object, public SHIM_PostMessageTickDelegate {
 public:
  void shimPostMessageTick(cocoa::Timer*) override { SHIM_MessageQueue_Flush(); }
};

void BM_PostAndFlush(benchmark::State& state) {
  static BenchDelegate* delegate = [] {
    auto* d = new BenchDelegate;
    cocoa::Application::shared()->setDelegate(d);
    SHIM_Internal_PostMessage_Init();
    return d;
  }();
  (void)delegate;
  BenchView* view = new BenchView;
  for (auto _ : state) {
    for (int i = 0; i < 100; ++i) SHIM_Internal_PostMessage(view, 0x400, i, 0);
    SHIM_MessageQueue_Flush();
  }
  state.SetItemsProcessed(state.iterations() * 100);
  if (view->sum != static_cast<uint64_t>(state.iterations()) * 4950)
    state.SkipWithError("not every message was delivered");
  view->release();
}
BENCHMARK(BM_PostAndFlush);

void BM_KeyTranslation(benchmark::State& state) {
  cocoa::Event* e = cocoa::Event::keyEvent(cocoa::kKeyDown, 0, cocoa::kShiftKeyMask, U"A", U"a");
  int flags;
  for (auto _ : state) {
    if (SHIM_MacKeyToWindowsKeyEx(e, &flags, 0) != 'A') state.SkipWithError("the key was not translated");
  }
  e->release();
}
BENCHMARK(BM_KeyTranslation);

}  // namespace
