// Thousands of random shapes with random and extreme coordinates (huge, NaN, infinite), radii, alphas and modes,
// drawn into a small window of a larger block: every pixel outside the window must stay as it was, and under the
// sanitizers no access may leave the block and no arithmetic may overflow.
#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstring>
#include <functional>
#include <vector>

#include "tests/raster/raster_util.h"

using namespace rastertest;

namespace {

// A w x h view at (margin, margin) of a block with `margin` spare pixels on every side; rows are the block's
// rows, so a write past a row's end lands in the margin where the check finds it.
class WindowBitmap : public PIX_IBitmap {
 public:
  WindowBitmap(int w, int h, int margin, bool flipped)
      : w_(w), h_(h), m_(margin), flipped_(flipped), block_((w + 2 * margin), (h + 2 * margin)) {}
  PIX_pixel* getBits() override { return block_.getBits() + m_ * block_.getRowSpan() + m_; }
  int getWidth() override { return w_; }
  int getHeight() override { return h_; }
  int getRowSpan() override { return block_.getRowSpan(); }
  bool isFlipped() override { return flipped_; }
  bool resize(int, int) override { return false; }
  GuardedBitmap& block() { return block_; }
  bool inside(int bx, int by) const { return bx >= m_ && bx < m_ + w_ && by >= m_ && by < m_ + h_; }

 private:
  int w_, h_, m_;
  bool flipped_;
  GuardedBitmap block_;
};

struct Gen {
  Rng rng;
  explicit Gen(uint64_t seed) : rng(seed) {}
  int pick(int n) { return (int)(rng.next() % (uint32_t)n); }
  int coord(int size) {
    switch (pick(16)) {
      case 0: {
        static const int extremes[] = {INT_MIN,    INT_MAX, INT_MIN + 1, INT_MAX - 1, -1000000000,
                                       1000000000, -65536,  65536,       -8193,       8193};
        return extremes[pick(10)];
      }
      case 1:
        return (int)rng.next() ^ (int)(rng.next() << 16);
      case 2:
        return rng.range(-100000, 100000);
      default:
        return rng.range(-size, 2 * size);
    }
  }
  float fcoord(int size) {
    switch (pick(24)) {
      case 0:
        return NAN;
      case 1:
        return pick(2) ? INFINITY : -INFINITY;
      case 2:
        return pick(2) ? FLT_MAX : -FLT_MAX;
      case 3:
        return (pick(2) ? 1 : -1) * std::pow(10.0f, (float)rng.range(5, 37));
      case 4:
        return (float)coord(size);
      default:
        return (float)rng.range(-size * 100, size * 300) / 100.0f;
    }
  }
  float radius() {
    switch (pick(12)) {
      case 0:
        return NAN;
      case 1:
        return -(float)rng.range(1, 100);
      case 2:
        return INFINITY;
      case 3:
        return (float)rng.range(1000, 100000);
      case 4: {
        static const float masks[] = {1.5f, 2, 2.5f, 3, 3.5f, 4};
        return masks[pick(6)];
      }
      case 5:
        return 2e7f;
      default:
        return (float)rng.range(0, 3000) / 100.0f;
    }
  }
  float alpha() {
    static const float fixed[] = {1.0f, 0.5f, 0.25f, 0.75f, 0.5001f, 0.003f, -0.5f, 1e10f, -1e10f, NAN, 2.0f};
    return pick(5) ? (float)rng.range(0, 256) / 256.0f : fixed[pick(11)];
  }
  int mode() {
    static const int extra[] = {6, 7, 0xFF, 0x10000, 0x10005, 0x100, 0xF0, -1};
    return pick(8) ? pick(6) : extra[pick(8)];
  }
  PIX_pixel color() { return rng.next() ^ (rng.next() << 16); }
};

typedef std::function<void(PIX_IBitmap*, Gen&, int, int)> Op;

std::vector<std::pair<const char*, Op>> operations() {
  std::vector<std::pair<const char*, Op>> ops;
  ops.push_back({"Line", [](PIX_IBitmap* b, Gen& g, int w, int h) {
                   PIX_Line(b, g.coord(w), g.coord(h), g.coord(w), g.coord(h), g.color(), g.alpha(), g.mode(),
                            g.pick(2));
                 }});
  ops.push_back({"DrawRect", [](PIX_IBitmap* b, Gen& g, int w, int h) {
                   PIX_DrawRect(b, g.coord(w), g.coord(h), g.coord(w), g.coord(h), g.color(), g.alpha(), g.mode());
                 }});
  ops.push_back({"BorderedRect", [](PIX_IBitmap* b, Gen& g, int w, int h) {
                   PIX_BorderedRect(b, g.coord(w), g.coord(h), g.coord(w), g.coord(h), g.color(), g.color(),
                                    g.pick(2) ? 1.0f : (float)g.rng.range(0, 256) / 256.0f, g.pick(6));
                 }});
  ops.push_back({"FLine", [](PIX_IBitmap* b, Gen& g, int w, int h) {
                   PIX_FLine(b, g.fcoord(w), g.fcoord(h), g.fcoord(w), g.fcoord(h), g.color(), g.alpha(), g.mode(),
                             g.pick(4) != 0);
                 }});
  ops.push_back({"DashedLine", [](PIX_IBitmap* b, Gen& g, int w, int h) {
                   const int x = g.coord(w), y = g.coord(h);
                   const int on = g.pick(3) ? g.rng.range(-3, 6) : g.coord(5),
                             off = g.pick(3) ? g.rng.range(-3, 6) : g.coord(5);
                   if (g.pick(2))
                     PIX_DashedLine(b, x, y, g.coord(w), y, on, off, g.color(), g.alpha(), g.mode(), false);
                   else
                     PIX_DashedLine(b, x, y, x, g.coord(h), on, off, g.color(), g.alpha(), g.mode(), false);
                 }});
  ops.push_back({"Trapezoid", [](PIX_IBitmap* b, Gen& g, int w, int h) {
                   PIX_FillTrapezoid(b, g.coord(w), g.coord(w), g.coord(h), g.coord(w), g.coord(w), g.coord(h),
                                     g.color(), g.alpha(), g.mode());
                 }});
  ops.push_back({"Polygon", [](PIX_IBitmap* b, Gen& g, int w, int h) {
                   const int n = g.pick(8) ? g.rng.range(0, 12) : g.rng.range(500, 700);
                   std::vector<int> xs(n), ys(n);
                   const bool wild = g.pick(3) == 0;
                   for (int i = 0; i < n; i++) {
                     if (wild) {
                       xs[i] = g.coord(w), ys[i] = g.coord(h);
                     } else {  // a convex shape: points on an ellipse
                       const double a = g.rng.range(0, 6283) / 1000.0;
                       xs[i] = (int)(w / 2 + std::sin(a) * w), ys[i] = (int)(h / 2 - std::cos(a) * h * 0.7);
                     }
                   }
                   PIX_FillConvexPolygon(b, xs.data(), ys.data(), n, g.color(), g.alpha(), g.mode());
                 }});
  ops.push_back({"Triangle", [](PIX_IBitmap* b, Gen& g, int w, int h) {
                   PIX_FillTriangle(b, g.coord(w), g.coord(h), g.coord(w), g.coord(h), g.coord(w), g.coord(h),
                                    g.color(), g.alpha(), g.mode());
                 }});
  ops.push_back({"Circle", [](PIX_IBitmap* b, Gen& g, int w, int h) {
                   PIX_Circle(b, g.fcoord(w), g.fcoord(h), g.radius(), g.color(), g.alpha(), g.mode(), g.pick(2));
                 }});
  ops.push_back({"FillCircle", [](PIX_IBitmap* b, Gen& g, int w, int h) {
                   PIX_FillCircle(b, g.fcoord(w), g.fcoord(h), g.radius(), g.color(), g.alpha(), g.mode(), g.pick(2));
                 }});
  ops.push_back({"Arc", [](PIX_IBitmap* b, Gen& g, int w, int h) {
                   const float a = g.pick(5) ? (float)g.rng.range(-20000, 20000) / 1000.0f : g.fcoord(10);
                   const float e = g.pick(5) ? (float)g.rng.range(-20000, 20000) / 1000.0f : g.fcoord(10);
                   PIX_Arc(b, g.fcoord(w), g.fcoord(h), g.radius(), a, e, g.color(), g.alpha(), g.mode(), g.pick(2));
                 }});
  ops.push_back({"RoundRect", [](PIX_IBitmap* b, Gen& g, int w, int h) {
                   PIX_RoundRect(b, g.fcoord(w), g.fcoord(h), g.fcoord(w), g.fcoord(h), g.coord(8), g.color(),
                                 g.alpha(), g.mode(), g.pick(2));
                 }});
  ops.push_back({"Glyph", [](PIX_IBitmap* b, Gen& g, int w, int h) {
                   unsigned char mask[7 * 9];
                   for (auto& v : mask) v = (unsigned char)(g.pick(3) ? g.rng.next() : 0);
                   const int gw = g.rng.range(0, 7), gh = g.rng.range(0, 7);
                   PIX_DrawGlyphEx(b, g.coord(w), g.coord(h), g.color(), mask, gw, 9, gh, g.alpha(), g.mode());
                 }});
  ops.push_back({"QBezier", [](PIX_IBitmap* b, Gen& g, int w, int h) {
                   PIX_DrawQBezier(b, g.fcoord(w), g.fcoord(h), g.fcoord(w), g.fcoord(h), g.fcoord(w), g.fcoord(h),
                                   g.color(), g.alpha(), g.mode(), g.pick(2), g.pick(4) ? 1.0f : g.fcoord(2));
                 }});
  ops.push_back({"CBezier", [](PIX_IBitmap* b, Gen& g, int w, int h) {
                   PIX_DrawCBezier(b, g.fcoord(w), g.fcoord(h), g.fcoord(w), g.fcoord(h), g.fcoord(w), g.fcoord(h),
                                   g.fcoord(w), g.fcoord(h), g.color(), g.alpha(), g.mode(), g.pick(2),
                                   g.pick(4) ? 1.0f : g.fcoord(2));
                 }});
  ops.push_back({"FillCBezier", [](PIX_IBitmap* b, Gen& g, int w, int h) {
                   const bool vertical = g.pick(2);
                   const float p[8] = {g.fcoord(w), g.fcoord(h), g.fcoord(w), g.fcoord(h),
                                       g.fcoord(w), g.fcoord(h), g.fcoord(w), g.fcoord(h)};
                   const float tol = g.pick(4) ? 1.0f : g.fcoord(2);
                   if (vertical)
                     PIX_FillCBezierX(b, p[0], p[1], p[2], p[3], p[4], p[5], p[6], p[7], g.coord(w), g.color(),
                                      g.alpha(), g.mode(), tol);
                   else
                     PIX_FillCBezier(b, p[0], p[1], p[2], p[3], p[4], p[5], p[6], p[7], g.coord(h), g.color(),
                                     g.alpha(), g.mode(), tol);
                 }});
  return ops;
}

TEST(ShapesRandom, NothingOutsideTheBitmapIsTouched) {
  const auto ops = operations();
  const int kRounds = 1000;
  for (size_t op = 0; op < ops.size(); op++) {
    int drewInside = 0;
    for (int round = 0; round < kRounds; round++) {
      const uint64_t seed = op * 100000 + round;
      Gen g(seed);
      const int w = g.rng.range(1, 24), h = g.rng.range(1, 24);
      WindowBitmap bm(w, h, 3, g.pick(4) == 0);
      GuardedBitmap& block = bm.block();
      fillRandom(&block, g.rng);
      std::vector<PIX_pixel> before(block.getBits(), block.getBits() + block.getWidth() * block.getHeight());
      ops[op].second(&bm, g, w, h);
      int outside = 0, inside = 0;
      for (int y = 0; y < block.getHeight(); y++)
        for (int x = 0; x < block.getWidth(); x++)
          if (block.at(x, y) != before[(size_t)y * block.getWidth() + x]) (bm.inside(x, y) ? inside : outside)++;
      ASSERT_EQ(outside, 0) << ops[op].first << " seed " << seed << " (" << w << "x" << h << ")";
      drewInside += inside > 0;
    }
    // The shapes must reach the bitmap often enough for the check to mean something.
    EXPECT_GT(drewInside, kRounds / 20) << ops[op].first;
  }
}

TEST(ShapesRandom, ExactSizeBitmapsAndEmptyOnes) {
  // Pixels in a block of exactly the bitmap's size: the sanitizer reports any access beyond it. Empty and null
  // bitmaps draw nothing.
  const auto ops = operations();
  for (size_t op = 0; op < ops.size(); op++)
    for (int round = 0; round < 60; round++) {
      Gen g(op * 7919 + round + 1);
      const int w = g.rng.range(1, 6), h = g.rng.range(1, 6);
      GuardedBitmap bm(w, h, g.pick(2));
      fillRandom(&bm, g.rng);
      ops[op].second(&bm, g, w, h);
      GuardedBitmap empty(0, 0);
      ops[op].second(&empty, g, w, h);
      ops[op].second(nullptr, g, w, h);
    }
}

TEST(ShapesRandom, ClippersKeepAcceptedSegmentsInside) {
  Gen g(42);
  for (int i = 0; i < 20000; i++) {
    const int lo = g.coord(10), hi = g.coord(10), top = g.coord(10), bottom = g.coord(10);
    int x1 = g.coord(20), y1 = g.coord(20), x2 = g.coord(20), y2 = g.coord(20);
    if (PIX_ClipLine(&x1, &y1, &x2, &y2, lo, top, hi, bottom)) {
      for (int x : {x1, x2}) ASSERT_TRUE(x >= lo && x < hi) << i;
      for (int y : {y1, y2}) ASSERT_TRUE(y >= top && y < bottom) << i;
    }
    float a = g.fcoord(20), b = g.fcoord(20), c = g.fcoord(20), d = g.fcoord(20);
    const float flo = (float)g.rng.range(-10, 10), fhi = flo + (float)g.rng.range(-2, 30);
    if (PIX_ClipFLine(&a, &b, &c, &d, flo, flo, fhi, fhi)) {
      for (float v : {a, b, c, d}) ASSERT_TRUE(v >= flo && v < fhi - 1) << i << ": " << v;
    }
  }
}

}  // namespace
