#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>

#include "tests/raster/raster_util.h"

using namespace rastertest;

namespace {

PIX_pixel grey(int v) {
  return 0x01010101u * (unsigned)v;
}

TEST(ScaledBlit, EnlargingTwoByTwoBlendsOneWayAtTheLastRowAndColumn) {
  GuardedBitmap src(2, 2), dest(4, 4);
  src.at(0, 0) = grey(0);
  src.at(1, 0) = grey(200);
  src.at(0, 1) = grey(100);
  src.at(1, 1) = grey(50);
  fillAll(&dest, 0x12345678);
  PIX_ScaledBlit(&dest, &src, 0, 0, 4, 4, 0, 0, 2, 2, 1.0f, 0x100);
  const int want[4][4] = {{0, 100, 200, 200}, {50, 87, 125, 125}, {100, 75, 50, 50}, {100, 75, 50, 50}};
  for (int y = 0; y < 4; y++)
    for (int x = 0; x < 4; x++) EXPECT_EQ(dest.at(x, y), grey(want[y][x])) << x << "," << y;
}

struct ScaleRow {
  const char* what;
  int srcW, srcH, dstW, dstH;
  int dstx, dsty, dstw, dsth;
  float srcx, srcy, srcw, srch;
  int mode;
  // Destination (px, py) and the value it must hold; -1 means left unchanged.
  int px, py, want;
};

// Source pixel (x, y) = grey(x + 10 * y) for the tables below (sources are at most 25 pixels wide and high).
int srcValue(int x, int y) {
  return x + 10 * y;
}
int box(int x0, int y0, int n, int w, int h) {
  int sum = 0, count = 0;
  for (int y = y0; y < y0 + n; y++)
    for (int x = x0; x < x0 + n; x++)
      if (x >= 0 && y >= 0 && x < w && y < h) sum += srcValue(x, y), count++;
  return sum / count;
}

const ScaleRow kScaleRows[] = {
    {"a width off by 0.0005 is a plain blit from the rounded corner", 20, 20, 20, 20, 0, 0, 10, 10, 1.6f, 2.4f,
     10.0005f, 10.0f, 0, 0, 0, srcValue(2, 2)},
    {"equal sizes with the filter and x 10.5 sample halfway", 20, 20, 20, 20, 0, 0, 5, 5, 10.5f, 2.0f, 5.0f, 5.0f,
     0x100, 0, 0, (srcValue(10, 2) + srcValue(11, 2)) / 2},
    {"equal sizes with the filter near whole coordinates blit", 20, 20, 20, 20, 0, 0, 5, 5, 3.02f, 2.0f, 5.0f, 5.0f,
     0x100, 1, 1, srcValue(4, 3)},
    {"a mirrored whole-width blit leaves its first column", 8, 8, 8, 8, 8, 0, -4, 8, 0.0f, 0.0f, 8.0f, 8.0f, 0, 4, 0,
     -1},
    {"a mirrored blit's second column samples backwards", 8, 8, 8, 8, 8, 0, -4, 8, 0.0f, 0.0f, 8.0f, 8.0f, 0, 5, 0,
     srcValue(6, 0)},
    {"a mirrored blit's last column samples the first pixels", 8, 8, 8, 8, 8, 0, -4, 8, 0.0f, 0.0f, 8.0f, 8.0f, 0, 7, 3,
     srcValue(2, 3)},
    {"300 to 100 with the filter averages a 3x3 box", 24, 24, 8, 8, 0, 0, 8, 8, 0.0f, 0.0f, 24.0f, 24.0f, 0x100, 2, 3,
     box(5, 8, 3, 24, 24)},
    {"the box is cut at the source's top-left", 24, 24, 8, 8, 0, 0, 8, 8, 0.0f, 0.0f, 24.0f, 24.0f, 0x100, 0, 0,
     box(-1, -1, 3, 24, 24)},
    {"300 to 90 with the filter averages a 5x5 box", 20, 20, 6, 6, 0, 0, 6, 6, 0.0f, 0.0f, 20.0f, 20.0f, 0x100, 2, 1,
     box(4, 1, 5, 20, 20)},
    {"reducing by 1.5 with the filter is bilinear", 24, 24, 16, 16, 0, 0, 16, 16, 0.0f, 0.0f, 24.0f, 24.0f, 0x100, 1, 0,
     (srcValue(1, 0) + srcValue(2, 0)) / 2},
    {"reducing by 2 across and 1.5 down is bilinear", 24, 24, 12, 16, 0, 0, 12, 16, 0.0f, 0.0f, 24.0f, 24.0f, 0x100, 1,
     1, (srcValue(2, 1) + srcValue(2, 2)) / 2},
    {"reducing by 3 without the filter takes the nearest pixel", 24, 24, 8, 8, 0, 0, 8, 8, 0.0f, 0.0f, 24.0f, 24.0f, 0,
     2, 3, srcValue(6, 9)},
    {"a start of -0.5 enlarging twofold drops the first column", 4, 4, 6, 6, 0, 0, 4, 4, -0.5f, 0.0f, 2.0f, 2.0f, 0, 0,
     0, -1},
    {"the next column starts at source position 0", 4, 4, 6, 6, 0, 0, 4, 4, -0.5f, 0.0f, 2.0f, 2.0f, 0, 1, 0,
     srcValue(0, 0)},
    {"and the source bound stops at the rectangle's rounded-up edge", 4, 4, 6, 6, 0, 0, 4, 4, -0.5f, 0.0f, 2.0f, 2.0f,
     0, 3, 1, srcValue(1, 0)},
    {"a destination left of 0 keeps the visible part in place", 10, 10, 10, 10, -4, 0, 8, 5, 0.0f, 0.0f, 4.0f, 5.0f, 0,
     1, 0, srcValue(2, 0)},
    {"columns past the last source pixel stay", 2, 2, 8, 8, 0, 0, 5, 2, 0.0f, 0.0f, 2.5f, 2.0f, 0, 4, 0, -1},
    {"every column that lands on the source is drawn", 2, 2, 8, 8, 0, 0, 5, 2, 0.0f, 0.0f, 2.5f, 2.0f, 0, 3, 0,
     srcValue(1, 0)},
    {"mode 6 draws nothing", 8, 8, 8, 8, 0, 0, 4, 4, 0.0f, 0.0f, 8.0f, 8.0f, 6, 1, 1, -1},
    {"a NaN source position draws nothing", 8, 8, 8, 8, 0, 0, 4, 4, NAN, 0.0f, 8.0f, 8.0f, 0, 1, 1, -1},
    {"an infinite source size draws nothing", 8, 8, 8, 8, 0, 0, 4, 4, 0.0f, 0.0f, INFINITY, 8.0f, 0, 1, 1, -1},
};

TEST(ScaledBlit, SamplesAsTabled) {
  for (const ScaleRow& r : kScaleRows) {
    GuardedBitmap src(r.srcW, r.srcH), dest(r.dstW, r.dstH);
    for (int y = 0; y < r.srcH; y++)
      for (int x = 0; x < r.srcW; x++) src.at(x, y) = grey(srcValue(x, y));
    fillAll(&dest, 0xDEADBEEF);
    PIX_ScaledBlit(&dest, &src, r.dstx, r.dsty, r.dstw, r.dsth, r.srcx, r.srcy, r.srcw, r.srch, 1.0f, r.mode);
    EXPECT_EQ(dest.at(r.px, r.py), r.want < 0 ? 0xDEADBEEFu : grey(r.want)) << r.what;
  }
}

// Full-size reductions: which filter a size pair picks, checked at a few destination pixels of each.
TEST(ScaledBlit, ReductionsPickTheirFilterBySize) {
  struct Row {
    const char* what;
    int srcW, srcH, dstW, dstH;
    int taps;  // 3 or 5 for the box, 0 for bilinear
  } rows[] = {
      {"300 to 100 uses the 3x3 box", 300, 300, 100, 100, 3},
      {"300 to 90 uses the 5x5 box", 300, 300, 90, 90, 5},
      {"300 to 200 (1.5) is bilinear", 300, 300, 200, 200, 0},
      {"300 to 150 across and 200 down is bilinear", 300, 300, 150, 200, 0},
  };
  auto value = [](int x, int y) { return (x * 7 + y * 13) & 255; };
  for (const auto& r : rows) {
    PIX_MemBitmap src(r.srcW, r.srcH, 4), dest(r.dstW, r.dstH, 4);
    for (int y = 0; y < r.srcH; y++)
      for (int x = 0; x < r.srcW; x++) src.getBits()[y * src.getRowSpan() + x] = grey(value(x, y));
    PIX_ScaledBlit(&dest, &src, 0, 0, r.dstW, r.dstH, 0, 0, (float)r.srcW, (float)r.srcH, 1.0f, 0x100);
    const int stepX = (int)((double)((float)r.srcW / (float)r.dstW) * 65536.0);
    const int stepY = (int)((double)((float)r.srcH / (float)r.dstH) * 65536.0);
    for (int dy : {0, 1, 7, r.dstH / 2, r.dstH - 1})
      for (int dx : {0, 3, r.dstW / 3, r.dstW - 1}) {
        const int px = dx * stepX, py = dy * stepY, sx = px >> 16, sy = py >> 16;
        int want;
        if (r.taps) {
          int sum = 0, count = 0;
          for (int y = sy - r.taps / 2; y <= sy + r.taps / 2; y++)
            for (int x = sx - r.taps / 2; x <= sx + r.taps / 2; x++)
              if (x >= 0 && y >= 0 && x < r.srcW && y < r.srcH) sum += value(x, y), count++;
          want = sum / count;
        } else {
          const unsigned xf = px & 0xFFFF, yf = py & 0xFFFF, f11 = (xf * yf) >> 16, f01 = xf - f11,
                         f00 = 65536 - yf - f01, f10 = yf - f11;
          const int x1 = std::min(sx + 1, r.srcW - 1), y1 = std::min(sy + 1, r.srcH - 1);
          want = (int)((value(sx, sy) * f00 + value(x1, sy) * f01 + value(sx, y1) * f10 + value(x1, y1) * f11) >> 16);
        }
        EXPECT_EQ(PIX_GetPixel(&dest, dx, dy), grey(want)) << r.what << " at " << dx << "," << dy;
      }
  }
}

TEST(ScaledBlit, ExtremeArgumentsStayInsideBothBitmaps) {
  const float f[] = {0.0f, -1e9f, 1e9f, 0.5f, -0.5f, 3e38f, -3e38f, 1e-30f, 7.25f, -65536.5f};
  const int n[] = {0, 1, -1, 3, -3, 100, INT_MIN, INT_MAX, 65536, -70000};
  int cases = 0;
  for (int i = 0; i < 4000; i++) {
    Rng rng(i);
    GuardedBitmap src(rng.range(0, 6), rng.range(0, 6), rng.next() & 1), dest(rng.range(0, 6), rng.range(0, 6));
    fillRandom(&src, rng);
    auto pickF = [&] { return (rng.next() & 1) ? f[rng.next() % 10] : (float)rng.range(-8, 8) * 0.75f; };
    auto pickN = [&] { return (rng.next() & 1) ? n[rng.next() % 10] : rng.range(-8, 8); };
    const int modes[] = {0, 0x100, 0x10000, 0x10100, 1, 0x101, 5, 0x10003};
    PIX_ScaledBlit(&dest, &src, pickN(), pickN(), pickN(), pickN(), pickF(), pickF(), pickF(), pickF(),
                   (rng.next() & 1) ? 1.0f : rng.unit(), modes[rng.next() % 8]);
    cases++;
  }
  EXPECT_EQ(cases, 4000);
}

// The word-wise nearest loop and the box and bilinear loops with the store combiner against the same loops with the
// full-weight source-alpha combiner, which stores an opaque source too; and the word-wise half mix against the
// half mix of the full-weight result, over random placements and scales.
TEST(ScaledBlit, FastPathsAgreeWithTheGeneralPathOnRandomCases) {
  for (int n = 0; n < 1500; n++) {
    Rng rng(n);
    GuardedBitmap src(rng.range(1, 24), rng.range(1, 24), rng.next() & 1);
    const int dw = rng.range(1, 30), dh = rng.range(1, 30);
    const bool destFlipped = rng.next() & 1;
    GuardedBitmap fast(dw, dh, destFlipped), general(dw, dh, destFlipped), half(dw, dh, destFlipped);
    fillRandom(&src, rng, true);
    fillRandom(&fast, rng);
    for (int y = 0; y < dh; y++)
      for (int x = 0; x < dw; x++) fast.at(x, y) &= 0xFFFFFF00;  // covered pixels become opaque
    copyPixels(&general, &fast);
    copyPixels(&half, &fast);
    GuardedBitmap orig(dw, dh, destFlipped);
    copyPixels(&orig, &fast);
    const int x = rng.range(-10, 20), y = rng.range(-10, 20);
    const int w = rng.range(-40, 40), h = rng.range(-40, 40);
    const float sx = rng.range(-20, 60) * 0.25f, sy = rng.range(-20, 60) * 0.25f;
    const float sw = rng.range(-100, 100) * 0.25f, sh = rng.range(-100, 100) * 0.25f;
    const int filter = (rng.next() & 1) ? 0x100 : 0;
    SCOPED_TRACE(testing::Message() << "case " << n << ": " << x << "," << y << " " << w << "x" << h << " from " << sx
                                    << "," << sy << " " << sw << "x" << sh << " filter " << filter);
    PIX_ScaledBlit(&fast, &src, x, y, w, h, sx, sy, sw, sh, 1.0f, filter);
    PIX_ScaledBlit(&general, &src, x, y, w, h, sx, sy, sw, sh, 1.0f, filter | 0x10000);
    std::string where;
    ASSERT_TRUE(samePixels(&fast, &general, &where)) << where;
    if (filter) continue;
    PIX_ScaledBlit(&half, &src, x, y, w, h, sx, sy, sw, sh, 0.5f, 0);
    for (int j = 0; j < dh; j++)
      for (int i = 0; i < dw; i++) {
        const PIX_pixel full = fast.at(i, j), before = orig.at(i, j);
        const PIX_pixel want = (full & 0xFF) ? ((before >> 1) & 0x7F7F7F7F) + ((full >> 1) & 0x7F7F7F7F) : before;
        ASSERT_EQ(half.at(i, j), want) << i << "," << j;
      }
  }
}

}  // namespace
