// Shapes per second on an editor-sized frame (1500x667): anti-aliased and plain lines, circles and discs, convex
// polygon fills. Each iteration draws one shape from a fixed pseudo-random list of positions and sizes.
//
//   cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DVEXMIR_BENCH=ON -DVEXMIR_TESTS=OFF
//   cmake --build build/bench --target raster_shapes_bench && build/bench/bench/raster/raster_shapes_bench
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "KIT/pix/pix.h"

namespace {

const int kW = 1500, kH = 667;

struct Shape {
  float x, y, dx, dy, r;
};

// Positions over the whole frame, lengths and radii from a few pixels to a few hundred, as knobs, meters and
// envelope displays draw them.
std::vector<Shape> shapes() {
  std::vector<Shape> v;
  uint32_t s = 12345;
  auto next = [&]() {
    s = s * 1664525u + 1013904223u;
    return (float)(s >> 8) / 16777216.0f;
  };
  for (int i = 0; i < 1024; i++) {
    const float len = 4 + 300 * next() * next(), a = 6.2831853f * next();
    v.push_back({20 + (kW - 40) * next(), 20 + (kH - 40) * next(), len * std::sin(a), len * std::cos(a),
                 2.2f + 60 * next() * next()});
  }
  return v;
}

const unsigned int kBack = 0xFF202020, kInk = 0xFFC08040;

// Draws one shape per iteration. Afterwards, untimed, the frame is cleared and one shape of known place is drawn:
// a line 100 pixels to the right from (700, 300), or a radius of 40 about that point. The pixel (x, y), which that
// shape covers whole, must hold the ink put over the background at the shape's alpha, and the top-left corner the
// background.
template <class F>
void run(benchmark::State& state, int x, int y, float alpha, F draw) {
  PIX_MemBitmap bm(kW, kH, 4);
  PIX_Clear(&bm, kBack);
  const std::vector<Shape> list = shapes();
  size_t i = 0;
  for (auto _ : state) {
    draw(&bm, list[i++ & 1023]);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
  PIX_Clear(&bm, kBack);
  draw(&bm, Shape{700, 300, 100, 0, 40});
  PIX_MemBitmap one(1, 1, 4);
  PIX_Clear(&one, kBack);
  PIX_PutPixel(&one, 0, 0, kInk, alpha, 0);
  if (PIX_GetPixel(&bm, x, y) != PIX_GetPixel(&one, 0, 0) || PIX_GetPixel(&bm, 0, 0) != kBack)
    state.SkipWithError("the shape is not where it was drawn");
}

void BM_LineAA(benchmark::State& st) {
  run(st, 750, 300, 1.0f, [](PIX_IBitmap* b, const Shape& s) {
    PIX_Line(b, (int)s.x, (int)s.y, (int)(s.x + s.dx), (int)(s.y + s.dy), kInk, 1.0f, 0, true);
  });
}
void BM_LineAAHalf(benchmark::State& st) {
  run(st, 750, 300, 0.6f, [](PIX_IBitmap* b, const Shape& s) {
    PIX_Line(b, (int)s.x, (int)s.y, (int)(s.x + s.dx), (int)(s.y + s.dy), kInk, 0.6f, 0, true);
  });
}
void BM_LinePlain(benchmark::State& st) {
  run(st, 750, 300, 1.0f, [](PIX_IBitmap* b, const Shape& s) {
    PIX_Line(b, (int)s.x, (int)s.y, (int)(s.x + s.dx), (int)(s.y + s.dy), kInk, 1.0f, 0, false);
  });
}
void BM_FLineAA(benchmark::State& st) {
  run(st, 750, 300, 1.0f,
      [](PIX_IBitmap* b, const Shape& s) { PIX_FLine(b, s.x, s.y, s.x + s.dx, s.y + s.dy, kInk, 1.0f, 0, true); });
}
void BM_CircleAA(benchmark::State& st) {
  run(st, 700, 260, 1.0f, [](PIX_IBitmap* b, const Shape& s) { PIX_Circle(b, s.x, s.y, s.r, kInk, 1.0f, 0, true); });
}
void BM_CirclePlain(benchmark::State& st) {
  run(st, 700, 260, 1.0f, [](PIX_IBitmap* b, const Shape& s) { PIX_Circle(b, s.x, s.y, s.r, kInk, 1.0f, 0, false); });
}
void BM_FillCircleAA(benchmark::State& st) {
  run(st, 700, 300, 1.0f,
      [](PIX_IBitmap* b, const Shape& s) { PIX_FillCircle(b, s.x, s.y, s.r, kInk, 1.0f, 0, true); });
}
void BM_ArcAA(benchmark::State& st) {
  run(st, 700, 260, 1.0f, [](PIX_IBitmap* b, const Shape& s) {
    PIX_Arc(b, s.x, s.y, s.r, -2.4f, 2.4f * s.dx / (std::fabs(s.dx) + 1), kInk, 1.0f, 0, true);
  });
}
void polygon(PIX_IBitmap* b, const Shape& s, float alpha) {
  int xs[8], ys[8];
  const float r = 3 * s.r + 4;
  for (int k = 0; k < 8; k++) {
    xs[k] = (int)(s.x + r * std::sin(k * 0.785398f + s.dx));
    ys[k] = (int)(s.y - r * std::cos(k * 0.785398f + s.dx));
  }
  PIX_FillConvexPolygon(b, xs, ys, 8, kInk, alpha, 0);
}
void BM_FillPolygon(benchmark::State& st) {
  run(st, 700, 300, 1.0f, [](PIX_IBitmap* b, const Shape& s) { polygon(b, s, 1.0f); });
}
void BM_FillPolygonAlpha(benchmark::State& st) {
  run(st, 700, 300, 0.6f, [](PIX_IBitmap* b, const Shape& s) { polygon(b, s, 0.6f); });
}
void BM_FillTriangle(benchmark::State& st) {
  run(st, 720, 320, 1.0f, [](PIX_IBitmap* b, const Shape& s) {
    PIX_FillTriangle(b, (int)s.x, (int)s.y, (int)(s.x + s.dx), (int)(s.y + s.dy), (int)(s.x - s.dy), (int)(s.y + s.dx),
                     kInk, 1.0f, 0);
  });
}

BENCHMARK(BM_LineAA);
BENCHMARK(BM_LineAAHalf);
BENCHMARK(BM_LinePlain);
BENCHMARK(BM_FLineAA);
BENCHMARK(BM_CircleAA);
BENCHMARK(BM_CirclePlain);
BENCHMARK(BM_FillCircleAA);
BENCHMARK(BM_ArcAA);
BENCHMARK(BM_FillPolygon);
BENCHMARK(BM_FillPolygonAlpha);
BENCHMARK(BM_FillTriangle);

}  // namespace
