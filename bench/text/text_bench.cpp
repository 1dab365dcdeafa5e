// Drawing a 16-character label: from the cached font's glyph cache, through the window layer's text drawing (the
// native path, FreeType glyph bitmaps cached by the platform), and with nothing cached (every glyph rasterised).
#include <benchmark/benchmark.h>

#include "KIT/pix/pix.h"
#include "KIT/shim/shim.h"
#include "platform/text/text.h"

namespace {

const char kLabel[] = "Filter Cutoff 64";  // 16 characters
static_assert(sizeof(kLabel) == 17, "a 16-character label");

void drawLabels(benchmark::State& state, int fontFlags, bool coldPlatformCache) {
  PIX_SysBitmap bm(256, 64);
  PIX_CachedFont font;
  font.SetFromHFont(CreateFont(14, 0, 0, 0, 400, 0, 0, 0, 0, 0, 0, 4, 0, "NK57 Monospace"),
                    fontFlags | PIX_FONT_FLAG_OWNS_HFONT);
  font.SetTextColor(PIX_RGBA(255, 255, 255, 255));
  RECT r{4, 4, 250, 60};
  font.DrawText(&bm, kLabel, -1, &r, DT_CENTER | DT_VCENTER);  // warm the caches
  for (auto _ : state) {
    if (coldPlatformCache) platform::text::clearGlyphCache();
    RECT rr = r;
    if (font.DrawText(&bm, kLabel, -1, &rr, DT_CENTER | DT_VCENTER) <= 0) state.SkipWithError("nothing was drawn");
  }
  state.counters["labels/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_LabelGlyphCache(benchmark::State& state) {
  drawLabels(state, 0, false);
}
void BM_LabelNativeWarm(benchmark::State& state) {
  drawLabels(state, PIX_FONT_FLAG_NATIVE, false);
}
void BM_LabelUncached(benchmark::State& state) {
  drawLabels(state, PIX_FONT_FLAG_NATIVE, true);
}

BENCHMARK(BM_LabelGlyphCache);
BENCHMARK(BM_LabelNativeWarm);
BENCHMARK(BM_LabelUncached);

}  // namespace
