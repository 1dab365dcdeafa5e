// The raster library's fill, copy, alpha and bilinear paths against pixman's equivalent operations and against
// memcpy/memset, on an editor-sized frame (1500x667) and a knob frame (64x64).
//
//   cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DVEXMIR_BENCH=ON -DVEXMIR_TESTS=OFF
//   cmake --build build/bench --target raster_bench && build/bench/bench/raster/raster_bench
#include <benchmark/benchmark.h>
#include <pixman.h>

#include <cstring>
#include <vector>

#include "KIT/pix/pix.h"

namespace {

// A knob-like picture: colour ramps inside a disc with a soft edge, transparent outside.
void drawPicture(PIX_IBitmap* bm) {
  const int w = bm->getWidth(), h = bm->getHeight();
  const int r2 = (w < h ? w : h) * (w < h ? w : h) / 4;
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++) {
      const int dx = 2 * x - w + 1, dy = 2 * y - h + 1, d2 = (dx * dx + dy * dy) / 4;
      int a = d2 >= r2 ? 0 : (d2 < r2 * 7 / 8 ? 255 : 255 * (r2 - d2) / (r2 / 8 + 1));
      if (a > 255) a = 255;
      PIX_PutPixel(bm, x, y, PIX_RGBA(x * 255 / w, y * 255 / h, (x ^ y) & 255, a), 1.0f, 0);
    }
}

// A pixman image over the same pixels (a8r8g8b8 is one little-endian word, as ours is, channels aside).
pixman_image_t* wrap(PIX_IBitmap* bm) {
  return pixman_image_create_bits(PIXMAN_a8r8g8b8, bm->getWidth(), bm->getHeight(), (uint32_t*)bm->getBits(),
                                  bm->getRowSpan() * 4);
}

void setBytes(benchmark::State& state, int w, int h) {
  state.SetBytesProcessed((int64_t)state.iterations() * w * h * 4);
}

#define SIZES ->Args({1500, 667})->Args({64, 64})

// ---- Fill ----

void BM_Fill_Ours(benchmark::State& state) {
  const int w = state.range(0), h = state.range(1);
  PIX_MemBitmap dest(w, h, 4);
  for (auto _ : state) {
    PIX_FillRect(&dest, 0, 0, w, h, 0x80402010, 1.0f, 0);
    benchmark::ClobberMemory();
  }
  setBytes(state, w, h);
}
BENCHMARK(BM_Fill_Ours) SIZES;

void BM_Fill_Pixman(benchmark::State& state) {
  const int w = state.range(0), h = state.range(1);
  PIX_MemBitmap dest(w, h, 4);
  for (auto _ : state) {
    pixman_fill((uint32_t*)dest.getBits(), dest.getRowSpan(), 32, 0, 0, w, h, 0x80402010);
    benchmark::ClobberMemory();
  }
  setBytes(state, w, h);
}
BENCHMARK(BM_Fill_Pixman) SIZES;

void BM_Fill_Memset(benchmark::State& state) {
  const int w = state.range(0), h = state.range(1);
  PIX_MemBitmap dest(w, h, 4);
  for (auto _ : state) {
    memset(dest.getBits(), 0x40, (size_t)dest.getRowSpan() * h * 4);
    benchmark::ClobberMemory();
  }
  setBytes(state, w, h);
}
BENCHMARK(BM_Fill_Memset) SIZES;

// ---- Copy blit ----

void BM_Copy_Ours(benchmark::State& state) {
  const int w = state.range(0), h = state.range(1);
  PIX_MemBitmap src(w, h, 4), dest(w, h, 4);
  drawPicture(&src);
  for (auto _ : state) {
    PIX_Blit(&dest, &src, 0, 0, nullptr, 1.0f, 0);
    benchmark::ClobberMemory();
  }
  setBytes(state, w, h);
}
BENCHMARK(BM_Copy_Ours) SIZES;

void BM_Copy_Pixman(benchmark::State& state) {
  const int w = state.range(0), h = state.range(1);
  PIX_MemBitmap src(w, h, 4), dest(w, h, 4);
  drawPicture(&src);
  pixman_image_t *s = wrap(&src), *d = wrap(&dest);
  for (auto _ : state) {
    pixman_image_composite32(PIXMAN_OP_SRC, s, nullptr, d, 0, 0, 0, 0, 0, 0, w, h);
    benchmark::ClobberMemory();
  }
  pixman_image_unref(s);
  pixman_image_unref(d);
  setBytes(state, w, h);
}
BENCHMARK(BM_Copy_Pixman) SIZES;

void BM_Copy_Memcpy(benchmark::State& state) {
  const int w = state.range(0), h = state.range(1);
  PIX_MemBitmap src(w, h, 4), dest(w, h, 4);
  drawPicture(&src);
  for (auto _ : state) {
    memcpy(dest.getBits(), src.getBits(), (size_t)src.getRowSpan() * h * 4);
    benchmark::ClobberMemory();
  }
  setBytes(state, w, h);
}
BENCHMARK(BM_Copy_Memcpy) SIZES;

// ---- Alpha blit: each source pixel weighted by its own alpha ----

void BM_Alpha_Ours(benchmark::State& state) {
  const int w = state.range(0), h = state.range(1);
  PIX_MemBitmap src(w, h, 4), dest(w, h, 4);
  drawPicture(&src);
  PIX_Clear(&dest, 0xFF808080);
  for (auto _ : state) {
    PIX_Blit(&dest, &src, 0, 0, nullptr, 1.0f, 0x10000);
    benchmark::ClobberMemory();
  }
  setBytes(state, w, h);
}
BENCHMARK(BM_Alpha_Ours) SIZES;

void BM_Alpha_Pixman(benchmark::State& state) {
  const int w = state.range(0), h = state.range(1);
  PIX_MemBitmap src(w, h, 4), dest(w, h, 4);
  drawPicture(&src);
  PIX_Clear(&dest, 0xFF808080);
  // pixman's OVER wants premultiplied colour; the cost does not depend on it, the result would.
  pixman_image_t *s = wrap(&src), *d = wrap(&dest);
  for (auto _ : state) {
    pixman_image_composite32(PIXMAN_OP_OVER, s, nullptr, d, 0, 0, 0, 0, 0, 0, w, h);
    benchmark::ClobberMemory();
  }
  pixman_image_unref(s);
  pixman_image_unref(d);
  setBytes(state, w, h);
}
BENCHMARK(BM_Alpha_Pixman) SIZES;

// A constant alpha of 0.6 over the whole picture.
void BM_ConstAlpha_Ours(benchmark::State& state) {
  const int w = state.range(0), h = state.range(1);
  PIX_MemBitmap src(w, h, 4), dest(w, h, 4);
  drawPicture(&src);
  PIX_Clear(&dest, 0xFF808080);
  for (auto _ : state) {
    PIX_Blit(&dest, &src, 0, 0, nullptr, 0.6f, 0);
    benchmark::ClobberMemory();
  }
  setBytes(state, w, h);
}
BENCHMARK(BM_ConstAlpha_Ours) SIZES;

void BM_ConstAlpha_Pixman(benchmark::State& state) {
  const int w = state.range(0), h = state.range(1);
  PIX_MemBitmap src(w, h, 4), dest(w, h, 4);
  drawPicture(&src);
  PIX_Clear(&dest, 0xFF808080);
  pixman_image_t *s = wrap(&src), *d = wrap(&dest);
  pixman_color_t c = {0, 0, 0, 0x9999};
  pixman_image_t* mask = pixman_image_create_solid_fill(&c);
  for (auto _ : state) {
    pixman_image_composite32(PIXMAN_OP_OVER, s, mask, d, 0, 0, 0, 0, 0, 0, w, h);
    benchmark::ClobberMemory();
  }
  pixman_image_unref(mask);
  pixman_image_unref(s);
  pixman_image_unref(d);
  setBytes(state, w, h);
}
BENCHMARK(BM_ConstAlpha_Pixman) SIZES;

// ---- Bilinear scaled blit: a source of two thirds the size enlarged to the frame ----

void BM_Bilinear_Ours(benchmark::State& state) {
  const int w = state.range(0), h = state.range(1);
  PIX_MemBitmap src(w * 2 / 3, h * 2 / 3, 4), dest(w, h, 4);
  drawPicture(&src);
  for (auto _ : state) {
    PIX_ScaledBlit(&dest, &src, 0, 0, w, h, 0, 0, (float)src.getWidth(), (float)src.getHeight(), 1.0f, 0x100);
    benchmark::ClobberMemory();
  }
  setBytes(state, w, h);
}
BENCHMARK(BM_Bilinear_Ours) SIZES;

void BM_Bilinear_Pixman(benchmark::State& state) {
  const int w = state.range(0), h = state.range(1);
  PIX_MemBitmap src(w * 2 / 3, h * 2 / 3, 4), dest(w, h, 4);
  drawPicture(&src);
  pixman_image_t *s = wrap(&src), *d = wrap(&dest);
  pixman_transform_t t;
  pixman_transform_init_scale(&t, pixman_double_to_fixed((double)src.getWidth() / w),
                              pixman_double_to_fixed((double)src.getHeight() / h));
  pixman_image_set_transform(s, &t);
  pixman_image_set_filter(s, PIXMAN_FILTER_BILINEAR, nullptr, 0);
  pixman_image_set_repeat(s, PIXMAN_REPEAT_PAD);
  for (auto _ : state) {
    pixman_image_composite32(PIXMAN_OP_SRC, s, nullptr, d, 0, 0, 0, 0, 0, 0, w, h);
    benchmark::ClobberMemory();
  }
  pixman_image_unref(s);
  pixman_image_unref(d);
  setBytes(state, w, h);
}
BENCHMARK(BM_Bilinear_Pixman) SIZES;

}  // namespace
