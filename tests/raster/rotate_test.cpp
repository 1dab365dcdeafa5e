#include <gtest/gtest.h>

#include <climits>
#include <cmath>

#include "tests/raster/raster_util.h"

using namespace rastertest;

namespace {

const float kPi = 3.14159265358979f;

PIX_pixel sourcePixel(int x, int y) {
  return PIX_RGBA(x * 20 + 3, y * 20 + 5, x * y, 255);
}

void fillSource(GuardedBitmap& s) {
  for (int y = 0; y < s.getHeight(); y++)
    for (int x = 0; x < s.getWidth(); x++) s.at(x, y) = sourcePixel(x, y);
}

struct RotateRow {
  const char* what;
  float angle;
  int mode;
  // Where destination (x, y) samples from, for a 7x7 source drawn at (0, 0) size 7x7.
  int (*sx)(int x, int y);
  int (*sy)(int x, int y);
};

const RotateRow kRotateRows[] = {
    {"angle 0 copies exactly", 0.0f, 0, [](int x, int) { return x; }, [](int, int y) { return y; }},
    {"angle 0 with the filter copies exactly", 0.0f, 0x100, [](int x, int) { return x; }, [](int, int y) { return y; }},
    {"a half turn flips both ways", kPi, 0, [](int x, int) { return 6 - x; }, [](int, int y) { return 6 - y; }},
    {"a half turn with the filter flips exactly", kPi, 0x100, [](int x, int) { return 6 - x; },
     [](int, int y) { return 6 - y; }},
    {"a quarter turn is clockwise", kPi / 2, 0, [](int, int y) { return y; }, [](int x, int) { return 6 - x; }},
    {"three quarters turn the other way", -kPi / 2, 0, [](int, int y) { return 6 - y; }, [](int x, int) { return x; }},
};

class RotateTable : public testing::TestWithParam<int> {};

TEST_P(RotateTable, RotatedBlitSamplesAsTabled) {
  const bool srcFlipped = GetParam() & 1, destFlipped = GetParam() & 2;
  for (const RotateRow& r : kRotateRows) {
    GuardedBitmap src(7, 7, srcFlipped), dest(7, 7, destFlipped);
    fillSource(src);
    fillAll(&dest, 0);
    PIX_RotatedBlit(&dest, &src, 0, 0, 7, 7, 0, 0, 7, 7, r.angle, false, 1.0f, r.mode, 0, 0);
    for (int y = 0; y < 7; y++)
      for (int x = 0; x < 7; x++)
        ASSERT_EQ(dest.at(x, y), sourcePixel(r.sx(x, y), r.sy(x, y))) << r.what << " at " << x << "," << y;
  }
}

INSTANTIATE_TEST_SUITE_P(FlippedOrNot, RotateTable, testing::Values(0, 1, 2, 3));

TEST(RotatedBlit, ClipFlagKeepsTheWalkInsideTheSourceRectangle) {
  GuardedBitmap src(8, 8), clipped(8, 8), open(8, 8);
  fillSource(src);
  fillAll(&clipped, 0);
  fillAll(&open, 0);
  // The 4x4 rectangle at (2, 2) drawn twice its size at a quarter turn: its centre stays, corners leave it.
  PIX_RotatedBlit(&clipped, &src, 0, 0, 8, 8, 2, 2, 4, 4, 0.3f, true, 1.0f, 0, 0, 0);
  PIX_RotatedBlit(&open, &src, 0, 0, 8, 8, 2, 2, 4, 4, 0.3f, false, 1.0f, 0, 0, 0);
  int untouched = 0, differ = 0;
  for (int y = 0; y < 8; y++)
    for (int x = 0; x < 8; x++) {
      PIX_pixel p = clipped.at(x, y);
      if (p == 0) {
        untouched++;
        continue;
      }
      // Every pixel drawn with the clip comes from the rectangle.
      bool fromRect = false;
      for (int sy = 2; sy < 6; sy++)
        for (int sx = 2; sx < 6; sx++) fromRect |= sourcePixel(sx, sy) == p;
      EXPECT_TRUE(fromRect) << x << "," << y;
      differ += open.at(x, y) != p;
    }
  EXPECT_GT(untouched, 0);
  EXPECT_EQ(differ, 0);
  EXPECT_EQ(open.at(0, 0) != 0, true);
}

TEST(RotatedBlit, ClippingAtTheLeftAndTopKeepsPixelsInPlace) {
  for (int mode : {0, 0x100}) {
    for (float angle : {0.0f, 0.4f, 2.0f, -1.1f}) {
      GuardedBitmap src(9, 9), small(20, 20), large(30, 30);
      fillSource(src);
      fillAll(&small, 0);
      fillAll(&large, 0);
      PIX_RotatedBlit(&small, &src, -3, -5, 13, 11, 0, 0, 9, 9, angle, false, 1.0f, mode, 0.5f, -1.0f);
      PIX_RotatedBlit(&large, &src, 7, 5, 13, 11, 0, 0, 9, 9, angle, false, 1.0f, mode, 0.5f, -1.0f);
      for (int y = 0; y < 20; y++)
        for (int x = 0; x < 20; x++)
          ASSERT_EQ(small.at(x, y), large.at(x + 10, y + 10)) << angle << " mode " << mode << " at " << x << "," << y;
    }
  }
}

TEST(RotatedBlit, SourceAlphaBlendsAndStoreIsExact) {
  GuardedBitmap src(2, 1), dest(2, 1);
  src.at(0, 0) = PIX_RGBA(200, 200, 200, 0);
  src.at(1, 0) = PIX_RGBA(200, 200, 200, 128);
  fillAll(&dest, PIX_RGBA(0, 0, 0, 0));
  PIX_RotatedBlit(&dest, &src, 0, 0, 2, 1, 0, 0, 2, 1, 0, false, 1.0f, 0x10000, 0, 0);
  EXPECT_EQ(dest.at(0, 0), PIX_RGBA(0, 0, 0, 0));
  EXPECT_EQ(dest.at(1, 0), PIX_RGBA(101, 101, 101, 128));
  PIX_RotatedBlit(&dest, &src, 0, 0, 2, 1, 0, 0, 2, 1, 0, false, 1.0f, 0, 0, 0);
  EXPECT_EQ(dest.at(0, 0), src.at(0, 0));
  EXPECT_EQ(dest.at(1, 0), src.at(1, 0));
}

TEST(RotatedBlit, AnyAngleScaleOrPlacementStaysInsideBothBitmaps) {
  const float odd[] = {NAN, INFINITY, -INFINITY, 1e30f, -1e30f, 0.0f, 1e-20f};
  for (int n = 0; n < 3000; n++) {
    Rng rng(n);
    GuardedBitmap src(rng.range(0, 9), rng.range(0, 9), rng.next() & 1);
    GuardedBitmap dest(rng.range(0, 12), rng.range(0, 12), rng.next() & 1);
    fillRandom(&src, rng);
    auto f = [&](int lo, int hi) { return (rng.next() % 8 == 0) ? odd[rng.next() % 7] : rng.range(lo, hi) * 0.37f; };
    auto i = [&](int lo, int hi) {
      return (rng.next() % 10 == 0) ? ((rng.next() & 1) ? INT_MIN : INT_MAX) : rng.range(lo, hi);
    };
    const int modes[] = {0, 0x100, 0x10000, 0x10100, 3, 0x104};
    PIX_RotatedBlit(&dest, &src, i(-15, 15), i(-15, 15), i(-20, 20), i(-20, 20), f(-20, 30), f(-20, 30), f(-40, 40),
                    f(-40, 40), f(-20, 20), rng.next() & 1, (rng.next() & 1) ? 1.0f : rng.unit(), modes[rng.next() % 6],
                    f(-10, 10), f(-10, 10));
    PIX_DeltaBlit(&dest, &src, i(-15, 15), i(-15, 15), i(-20, 20), i(-20, 20), f(-20, 30), f(-20, 30), f(-40, 40),
                  f(-40, 40), f(-10, 10), f(-10, 10), f(-10, 10), f(-10, 10), f(-3, 3), f(-3, 3), rng.next() & 1, 1.0f,
                  modes[rng.next() % 6]);
    float grid[3 * 3 * 2];
    for (float& g : grid) g = f(-5, 25);
    PIX_TransformBlit(&dest, &src, i(-15, 15), i(-15, 15), i(-20, 20), i(-20, 20), grid, 3, 3, 1.0f,
                      modes[rng.next() % 6]);
  }
}

TEST(TransformBlit, ATwoByTwoGridOfCornersIsAScaledCopy) {
  for (int mode : {0, 0x100}) {
    for (int size : {8, 32}) {
      GuardedBitmap src(16, 16), viaGrid(size, size), viaScale(size, size);
      fillSource(src);
      fillAll(&viaGrid, 0);
      fillAll(&viaScale, 0);
      float grid[] = {0, 0, 16, 0, 0, 16, 16, 16};
      PIX_TransformBlit(&viaGrid, &src, 0, 0, size, size, grid, 2, 2, 1.0f, mode);
      // The scaled blit's box filter is for reductions only; compare the bilinear enlargement and nearest both ways.
      if (mode && size < 16) continue;
      PIX_ScaledBlit(&viaScale, &src, 0, 0, size, size, 0, 0, 16, 16, 1.0f, mode);
      std::string where;
      EXPECT_TRUE(samePixels(&viaGrid, &viaScale, &where)) << "size " << size << " mode " << mode << ": " << where;
    }
  }
}

TEST(TransformBlit, DegenerateGridsDrawNothing) {
  GuardedBitmap src(4, 4), dest(4, 4);
  fillSource(src);
  fillAll(&dest, 0);
  float grid[] = {0, 0, 4, 0, 0, 4, 4, 4};
  double grid2[] = {0, 0, 4, 0, 0, 4, 4, 4};
  PIX_TransformBlit(&dest, &src, 0, 0, 4, 4, grid, 1, 4, 1.0f, 0);
  PIX_TransformBlit(&dest, &src, 0, 0, 4, 4, grid, 4, 1, 1.0f, 0);
  PIX_TransformBlit(&dest, &src, 0, 0, 0, 4, grid, 2, 2, 1.0f, 0);
  PIX_TransformBlit(&dest, &src, 0, 0, 4, 4, nullptr, 2, 2, 1.0f, 0);
  for (int y = 0; y < 4; y++)
    for (int x = 0; x < 4; x++) ASSERT_EQ(dest.at(x, y), 0u);
  PIX_TransformBlit2(&dest, &src, 0, 0, 4, 4, grid2, 2, 2, 1.0f, 0);
  EXPECT_EQ(dest.at(3, 3), sourcePixel(3, 3));
}

TEST(DeltaBlit, SecondOrderStepsShearEachRow) {
  GuardedBitmap src(8, 8), dest(4, 4);
  fillSource(src);
  fillAll(&dest, 0);
  // Row y walks columns with a step of 1 + y.
  PIX_DeltaBlit(&dest, &src, 0, 0, 4, 4, 0, 0, 8, 8, 1.0, 0.0, 0.0, 1.0, 1.0, 0.0, false, 1.0f, 0);
  for (int y = 0; y < 4; y++)
    for (int x = 0; x < 4; x++) {
      int sx = x * (1 + y);
      EXPECT_EQ(dest.at(x, y), sx < 8 ? sourcePixel(sx, y) : 0u) << x << "," << y;
    }
}

}  // namespace
