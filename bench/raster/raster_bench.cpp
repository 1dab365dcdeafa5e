// The raster library's fill, copy, alpha and bilinear paths against pixman's equivalent operations and against
// memcpy/memset, on an editor-sized frame (1500x667) and a knob frame (64x64).
//
//   cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DVEXMIR_BENCH=ON -DVEXMIR_TESTS=OFF
//   cmake --build build/bench --target raster_bench && build/bench/bench/raster/raster_bench
#include <benchmark/benchmark.h>
#include <pixman.h>

#include <cstring>
#include <initializer_list>
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

// A pixel of the destination and the word it holds after one pass of the operation.
struct Want {
  int x, y;
  unsigned int word;
};

// Runs op once per iteration over the destination and reports its bytes. Afterwards, untimed, the destination is
// set back to its starting colour and op runs once more, so that a blend is looked at after exactly one pass: the
// wanted pixels must hold their words.
template <class Op>
void measure(benchmark::State& state, PIX_IBitmap* dest, unsigned int start, Op op, std::initializer_list<Want> want) {
  for (auto _ : state) {
    op();
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed((int64_t)state.iterations() * dest->getWidth() * dest->getHeight() * 4);
  PIX_Clear(dest, start);
  op();
  for (const Want& p : want)
    if (PIX_GetPixel(dest, p.x, p.y) != p.word) return state.SkipWithError("the destination holds a wrong pixel");
}

// The frame of a benchmark: the picture as source (sw x sh) and a destination of the frame's size, optionally
// cleared to mid grey so that blending has something to mix with.
struct Frame {
  Frame(int sw, int sh, int w, int h, bool grey) : src(sw, sh, 4), dest(w, h, 4), start(grey ? 0xFF808080 : 0) {
    drawPicture(&src);
    if (grey) PIX_Clear(&dest, start);
  }
  // The source pixel itself, at the same place or (for the scaled blit) at another.
  Want copied(int x, int y) { return copied(x, y, x, y); }
  Want copied(int x, int y, int sx, int sy) { return {x, y, PIX_GetPixel(&src, sx, sy)}; }
  // The starting colour, untouched.
  Want kept(int x, int y) { return {x, y, start}; }
  // The source pixel put over the starting colour at that alpha in copy mode, one pixel on its own.
  Want mixed(int x, int y, float alpha) {
    PIX_MemBitmap one(1, 1, 4);
    PIX_Clear(&one, start);
    PIX_PutPixel(&one, 0, 0, PIX_GetPixel(&src, x, y), alpha, 0);
    return {x, y, PIX_GetPixel(&one, 0, 0)};
  }
  // pixman's OVER where the source's top byte, which pixman takes for alpha, is 0 (the picture's diagonal): each
  // byte of the source, scaled by the mask's m / 255 and rounded, adds to the starting colour's, saturating.
  Want overClear(int x, int y, unsigned int m) {
    const unsigned int s = PIX_GetPixel(&src, x, y);
    unsigned int word = 0;
    for (int k = 0; k < 32; k += 8) {
      const unsigned int c = (((s >> k) & 255) * m + 127) / 255 + ((start >> k) & 255);
      word |= (c > 255 ? 255 : c) << k;
    }
    return {x, y, word};
  }
  PIX_MemBitmap src, dest;
  unsigned int start;
};

// pixman images over a frame's pixels, released with it.
struct Wrapped {
  explicit Wrapped(Frame& f) : s(wrap(&f.src)), d(wrap(&f.dest)) {}
  ~Wrapped() {
    pixman_image_unref(s);
    pixman_image_unref(d);
  }
  pixman_image_t *s, *d;
};

#define SIZES ->Args({1500, 667})->Args({64, 64})

// ---- Fill ----

void BM_Fill_Ours(benchmark::State& state) {
  const int w = state.range(0), h = state.range(1);
  PIX_MemBitmap dest(w, h, 4);
  measure(state, &dest, 0, [&] { PIX_FillRect(&dest, 0, 0, w, h, 0x80402010, 1.0f, 0); },
          {{0, 0, 0x80402010}, {w - 1, h - 1, 0x80402010}});
}
BENCHMARK(BM_Fill_Ours) SIZES;

void BM_Fill_Pixman(benchmark::State& state) {
  const int w = state.range(0), h = state.range(1);
  PIX_MemBitmap dest(w, h, 4);
  measure(state, &dest, 0,
          [&] { pixman_fill((uint32_t*)dest.getBits(), dest.getRowSpan(), 32, 0, 0, w, h, 0x80402010); },
          {{0, 0, 0x80402010}, {w - 1, h - 1, 0x80402010}});
}
BENCHMARK(BM_Fill_Pixman) SIZES;

void BM_Fill_Memset(benchmark::State& state) {
  const int w = state.range(0), h = state.range(1);
  PIX_MemBitmap dest(w, h, 4);
  measure(state, &dest, 0, [&] { memset(dest.getBits(), 0x40, (size_t)dest.getRowSpan() * h * 4); },
          {{w - 1, h - 1, 0x40404040}});
}
BENCHMARK(BM_Fill_Memset) SIZES;

// ---- Copy blit ----

void BM_Copy_Ours(benchmark::State& state) {
  const int w = state.range(0), h = state.range(1);
  Frame f(w, h, w, h, false);
  measure(state, &f.dest, f.start, [&] { PIX_Blit(&f.dest, &f.src, 0, 0, nullptr, 1.0f, 0); },
          {f.copied(w / 2, h / 2), f.copied(w - 1, h - 1)});
}
BENCHMARK(BM_Copy_Ours) SIZES;

void BM_Copy_Pixman(benchmark::State& state) {
  const int w = state.range(0), h = state.range(1);
  Frame f(w, h, w, h, false);
  Wrapped p(f);
  measure(state, &f.dest, f.start,
          [&] { pixman_image_composite32(PIXMAN_OP_SRC, p.s, nullptr, p.d, 0, 0, 0, 0, 0, 0, w, h); },
          {f.copied(w / 2, h / 2), f.copied(w - 1, h - 1)});
}
BENCHMARK(BM_Copy_Pixman) SIZES;

void BM_Copy_Memcpy(benchmark::State& state) {
  const int w = state.range(0), h = state.range(1);
  Frame f(w, h, w, h, false);
  measure(state, &f.dest, f.start,
          [&] { memcpy(f.dest.getBits(), f.src.getBits(), (size_t)f.src.getRowSpan() * h * 4); },
          {f.copied(w / 2, h / 2), f.copied(w - 1, h - 1)});
}
BENCHMARK(BM_Copy_Memcpy) SIZES;

// ---- Alpha blit: each source pixel weighted by its own alpha ----

void BM_Alpha_Ours(benchmark::State& state) {
  const int w = state.range(0), h = state.range(1);
  Frame f(w, h, w, h, true);
  measure(state, &f.dest, f.start, [&] { PIX_Blit(&f.dest, &f.src, 0, 0, nullptr, 1.0f, 0x10000); },
          {f.kept(0, 0), f.copied(w / 2, h / 2)});
}
BENCHMARK(BM_Alpha_Ours) SIZES;

void BM_Alpha_Pixman(benchmark::State& state) {
  const int w = state.range(0), h = state.range(1);
  Frame f(w, h, w, h, true);
  // pixman's OVER wants premultiplied colour; the cost does not depend on it, the result would.
  Wrapped p(f);
  measure(state, &f.dest, f.start,
          [&] { pixman_image_composite32(PIXMAN_OP_OVER, p.s, nullptr, p.d, 0, 0, 0, 0, 0, 0, w, h); },
          {f.overClear(0, 0, 255), f.overClear(h / 2, h / 2, 255)});
}
BENCHMARK(BM_Alpha_Pixman) SIZES;

// A constant alpha of 0.6 over the whole picture.
void BM_ConstAlpha_Ours(benchmark::State& state) {
  const int w = state.range(0), h = state.range(1);
  Frame f(w, h, w, h, true);
  measure(state, &f.dest, f.start, [&] { PIX_Blit(&f.dest, &f.src, 0, 0, nullptr, 0.6f, 0); },
          {f.mixed(0, 0, 0.6f), f.mixed(w / 2, h / 2, 0.6f)});
}
BENCHMARK(BM_ConstAlpha_Ours) SIZES;

void BM_ConstAlpha_Pixman(benchmark::State& state) {
  const int w = state.range(0), h = state.range(1);
  Frame f(w, h, w, h, true);
  Wrapped p(f);
  pixman_color_t c = {0, 0, 0, 0x9999};
  pixman_image_t* mask = pixman_image_create_solid_fill(&c);
  measure(state, &f.dest, f.start,
          [&] { pixman_image_composite32(PIXMAN_OP_OVER, p.s, mask, p.d, 0, 0, 0, 0, 0, 0, w, h); },
          {f.overClear(0, 0, 0x99), f.overClear(h / 2, h / 2, 0x99)});
  pixman_image_unref(mask);
}
BENCHMARK(BM_ConstAlpha_Pixman) SIZES;

// ---- Bilinear scaled blit: a source of two thirds the size enlarged to the frame ----

void BM_Bilinear_Ours(benchmark::State& state) {
  const int w = state.range(0), h = state.range(1);
  Frame f(w * 2 / 3, h * 2 / 3, w, h, false);
  measure(state, &f.dest, f.start,
          [&] {
            PIX_ScaledBlit(&f.dest, &f.src, 0, 0, w, h, 0, 0, (float)f.src.getWidth(), (float)f.src.getHeight(), 1.0f,
                           0x100);
          },
          {f.copied(w - 1, 0, f.src.getWidth() - 1, 0), f.copied(0, h - 1, 0, f.src.getHeight() - 1)});
}
BENCHMARK(BM_Bilinear_Ours) SIZES;

void BM_Bilinear_Pixman(benchmark::State& state) {
  const int w = state.range(0), h = state.range(1);
  Frame f(w * 2 / 3, h * 2 / 3, w, h, false);
  Wrapped p(f);
  pixman_transform_t t;
  pixman_transform_init_scale(&t, pixman_double_to_fixed((double)f.src.getWidth() / w),
                              pixman_double_to_fixed((double)f.src.getHeight() / h));
  pixman_image_set_transform(p.s, &t);
  pixman_image_set_filter(p.s, PIXMAN_FILTER_BILINEAR, nullptr, 0);
  pixman_image_set_repeat(p.s, PIXMAN_REPEAT_PAD);
  measure(state, &f.dest, f.start,
          [&] { pixman_image_composite32(PIXMAN_OP_SRC, p.s, nullptr, p.d, 0, 0, 0, 0, 0, 0, w, h); },
          {f.copied(w - 1, 0, f.src.getWidth() - 1, 0), f.copied(0, h - 1, 0, f.src.getHeight() - 1)});
}
BENCHMARK(BM_Bilinear_Pixman) SIZES;

}  // namespace
