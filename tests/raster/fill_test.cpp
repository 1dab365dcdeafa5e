#include <gtest/gtest.h>

#include <climits>
#include <cmath>

#include "tests/raster/raster_util.h"

using namespace rastertest;

namespace {

const int kMin = INT_MIN, kMax = INT_MAX;

struct FillRow {
  const char* what;
  int x, y, w, h;
  PIX_pixel color;
  float alpha;
  int mode;
  PIX_pixel before;
  int x0, y0, x1, y1;  // covered pixels, inclusive; x1 < x0 when none
  PIX_pixel after;
};

const FillRow kFillRows[] = {
    {"a fill at (-5,-5,10,10) covers (0,0)-(4,4)", -5, -5, 10, 10, 0xFFFFFFFF, 1.0f, 0, 0, 0, 0, 4, 4, 0xFFFFFFFF},
    {"a fill reaching past the corner stops at the edge", 19, 19, 100, 100, 0x12345678, 1.0f, 0, 0, 19, 19, 19, 19,
     0x12345678},
    {"a fill of the whole int range covers the bitmap", 0, 0, kMax, kMax, 0x12345678, 1.0f, 0, 0, 0, 0, 19, 19,
     0x12345678},
    {"extreme negative corner and size cover nothing", kMin, kMin, kMax, kMax, 0x12345678, 1.0f, 0, 0, 0, 0, -1, -1, 0},
    {"a negative width covers nothing", 10, 10, -5, 5, 0x12345678, 1.0f, 0, 0, 0, 0, -1, -1, 0},
    {"a rectangle beyond the right edge covers nothing", 20, 0, 5, 5, 0x12345678, 1.0f, 0, 0, 0, 0, -1, -1, 0},
    {"a rectangle far beyond the bottom covers nothing", 0, kMax, kMax, kMax, 0x12345678, 1.0f, 0, 0, 0, 0, -1, -1, 0},
    {"alpha 0 draws nothing", 0, 0, 5, 5, 0xFFFFFFFF, 0.0f, 0, 0, 0, 0, -1, -1, 0},
    {"a weight below 1 draws nothing", 0, 0, 5, 5, 0xFFFFFFFF, 0.003f, 0, 0, 0, 0, -1, -1, 0},
    {"a negative alpha draws nothing", 0, 0, 5, 5, 0xFFFFFFFF, -0.5f, 0, 0, 0, 0, -1, -1, 0},
    {"mode 6 draws nothing", 0, 0, 5, 5, 0xFFFFFFFF, 1.0f, 6, 0, 0, 0, -1, -1, 0},
    {"the colour's alpha byte scales the alpha with 0x10000", 0, 0, 2, 2, PIX_RGBA(200, 100, 50, 0x80), 1.0f, 0x10000,
     0, 0, 0, 1, 1, PIX_RGBA(100, 50, 25, 0x40)},
    {"copy at 0.6 moves the alpha byte toward the weight", 0, 0, 2, 2, PIX_RGBA(255, 255, 255, 0), 0.6f, 0,
     PIX_RGBA(0, 0, 0, 255), 0, 0, 1, 1, PIX_RGBA(153, 153, 153, 194)},
    {"copy at a quarter", 0, 0, 2, 2, 0, 0.25f, 0, 0xFFFFFFFF, 0, 0, 1, 1, 0xBEBEBEBE},
    {"copy at a half", 0, 0, 2, 2, 0, 0.5f, 0, 0xFFFFFFFF, 0, 0, 1, 1, 0x7F7F7F7F},
    {"copy at three quarters", 0, 0, 2, 2, 0xFFFFFFFF, 0.75f, 0, 0, 0, 0, 1, 1, 0xBEBEBEBE},
    {"add uses the weight as the alpha source", 0, 0, 2, 2, PIX_RGBA(200, 200, 200, 0), 1.0f, 1,
     PIX_RGBA(100, 100, 100, 100), 0, 0, 1, 1, 0xFFFFFFFF},
    {"multiply by black keeps the alpha byte", 0, 0, 2, 2, PIX_RGBA(0, 0, 0, 0), 1.0f, 3, 0xFFFFFFFF, 0, 0, 1, 1,
     PIX_RGBA(0, 0, 0, 255)},
};

class FillTable : public testing::TestWithParam<bool> {};

TEST_P(FillTable, FillRectCoversExactlyTheClippedArea) {
  const bool flipped = GetParam();
  for (const FillRow& r : kFillRows) {
    GuardedBitmap bm(20, 20, flipped);
    fillAll(&bm, r.before);
    PIX_FillRect(&bm, r.x, r.y, r.w, r.h, r.color, r.alpha, r.mode);
    for (int y = 0; y < 20; y++)
      for (int x = 0; x < 20; x++) {
        bool in = x >= r.x0 && x <= r.x1 && y >= r.y0 && y <= r.y1;
        ASSERT_EQ(bm.at(x, y), in ? r.after : r.before) << r.what << " at " << x << "," << y;
      }
  }
}

INSTANTIATE_TEST_SUITE_P(PlainAndFlipped, FillTable, testing::Values(false, true));

TEST(FillRect, NullAndEmptyBitmapsAreIgnored) {
  PIX_FillRect(nullptr, 0, 0, 5, 5, 0, 1.0f, 0);
  PIX_MemBitmap empty;
  PIX_FillRect(&empty, 0, 0, 5, 5, 0, 1.0f, 0);
  GuardedBitmap zero(0, 0);
  PIX_FillRect(&zero, 0, 0, 5, 5, 0, 1.0f, 0);
  PIX_Clear(&zero, 0);
  PIX_GradRect(&zero, 0, 0, 5, 5, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0);
}

TEST(PixelAccess, GetAndPutStayInsideTheBitmap) {
  GuardedBitmap bm(4, 3, true);
  fillAll(&bm, 0x01020304);
  struct Row {
    int x, y;
    bool inside;
  } rows[] = {{0, 0, true},   {3, 2, true},   {4, 0, false},       {0, 3, false},
              {-1, 0, false}, {0, -1, false}, {kMin, kMin, false}, {kMax, kMax, false}};
  for (const Row& r : rows) {
    PIX_PutPixel(&bm, r.x, r.y, 0xAABBCCDD, 1.0f, 0);
    EXPECT_EQ(PIX_GetPixel(&bm, r.x, r.y), r.inside ? 0xAABBCCDDu : 0u) << r.x << "," << r.y;
  }
  // Picture row 0 of a flipped bitmap is the last memory row.
  EXPECT_EQ(bm.getBits()[2 * 4], 0xAABBCCDDu);
  EXPECT_EQ(PIX_GetPixel(nullptr, 0, 0), 0u);
}

TEST(PixelAccess, PutPixelPicksWordMixesAtFixedWeights) {
  struct Row {
    const char* what;
    PIX_pixel before, color;
    float alpha;
    int mode;
    PIX_pixel after;
  } rows[] = {
      {"half alpha stores the word-wise half mix", 0xFFFFFFFF, 0, 0.5f, 0, 0x7F7F7F7F},
      {"alpha 0.3 runs the copy formula with the colour's alpha", PIX_RGBA(0, 0, 0, 0), PIX_RGBA(255, 0, 0, 200), 0.3f,
       0, PIX_RGBA(76, 0, 0, 60)},
      {"the source-alpha flag is ignored", 0, 0x11223344, 1.0f, 0x10000, 0x11223344},
      {"add merges the colour's alpha byte", PIX_RGBA(1, 1, 1, 1), PIX_RGBA(1, 1, 1, 1), 1.0f, 1, PIX_RGBA(2, 2, 2, 2)},
      {"mode 6 draws nothing", 5, 0xFFFFFFFF, 1.0f, 6, 5},
      {"alpha 0 draws nothing", 5, 0xFFFFFFFF, 0.0f, 0, 5},
  };
  for (const auto& r : rows) {
    GuardedBitmap bm(1, 1);
    bm.at(0, 0) = r.before;
    PIX_PutPixel(&bm, 0, 0, r.color, r.alpha, r.mode);
    EXPECT_EQ(bm.at(0, 0), r.after) << r.what;
  }
}

TEST(GradRect, InterpolatesAndClipsTheStartValues) {
  GuardedBitmap bm(8, 4);
  fillAll(&bm, 0);
  // Red rises by 1/255 per pixel from 10/255; alpha is the weight (256 = 1.0).
  PIX_GradRect(&bm, -2, 0, 10, 2, 10 / 255.0f, 0, 0, 1.0f, 1 / 255.0f, 0, 0, 0, 0, 0, 0, 0, 0);
  for (int x = 0; x < 8; x++) {
    EXPECT_EQ(PIX_GETR(bm.at(x, 0)), (unsigned)(12 + x)) << x;
    EXPECT_EQ(PIX_GETA(bm.at(x, 0)), 255u) << x;  // alpha 256 clamps in the copy form
    EXPECT_EQ(bm.at(x, 2), 0u);
  }
  // Components far outside 0..1 neither overflow nor write outside.
  PIX_GradRect(&bm, -1000000, -1000000, 2000000, 2000000, 1e30f, -1e30f, 1e9f, 1e9f, 1e9f, 1e9f, 1e9f, 1e9f, 1e9f,
               -1e9f, 1e9f, 1e9f, 3);
  PIX_GradRect(&bm, 0, 0, 8, 4, NAN, NAN, NAN, NAN, NAN, NAN, NAN, NAN, NAN, NAN, NAN, NAN, 4);
  for (int mode = 0; mode < 7; mode++)
    PIX_GradRect(&bm, 1, 1, 3, 3, 2.0f, -1.0f, 0.5f, 4.0f, 0.7f, -0.3f, 0.2f, 0.1f, 0.1f, 0.1f, 0.1f, -0.9f, mode);
}

TEST(ClearAndMask, RewriteWholeWords) {
  GuardedBitmap bm(4, 4);
  PIX_Clear(&bm, 0xFFFFFF00);
  bm.at(1, 1) = 0x12345678;
  PIX_SetAlphaFromColorMask(&bm, 0xFFFFFF00);
  EXPECT_EQ(bm.at(0, 0), 0xFFFFFF00u);
  EXPECT_EQ(bm.at(1, 1), 0x123456FFu);
  PIX_SetAlphaFromColorMask(&bm, 0xFFFFFF01);  // a non-zero alpha byte matches nothing
  EXPECT_EQ(bm.at(0, 0), 0xFFFFFFFFu);
  PIX_ClearRect(&bm, -1, -1, 3, 3, 0xFF, 0x00AA0000);
  EXPECT_EQ(bm.at(0, 0), 0x00AA00FFu);
  EXPECT_EQ(bm.at(1, 1), 0x00AA00FFu);
  EXPECT_EQ(bm.at(2, 2), 0xFFFFFFFFu);
}

TEST(MultiplyAdd, ScalesAndOffsetsEachChannel) {
  struct Row {
    const char* what;
    float sc, add;
    PIX_pixel before, after;
  } rows[] = {
      {"scale 1 add 0 keeps the pixel", 1.0f, 0.0f, 0x11223344, 0x11223344},
      {"scale 2 saturates 200", 2.0f, 0.0f, PIX_RGBA(200, 100, 0, 1), PIX_RGBA(255, 200, 0, 2)},
      {"negative results floor at 0", 1.0f, -50.0f, PIX_RGBA(200, 10, 0, 60), PIX_RGBA(150, 0, 0, 10)},
      {"huge factors saturate", 1e20f, 0.0f, PIX_RGBA(200, 10, 0, 1), PIX_RGBA(255, 255, 0, 255)},
  };
  for (const auto& r : rows) {
    GuardedBitmap bm(2, 2);
    fillAll(&bm, r.before);
    PIX_MultiplyAddRect(&bm, 0, 0, 9, 9, r.sc, r.sc, r.sc, r.sc, r.add, r.add, r.add, r.add);
    EXPECT_EQ(bm.at(1, 1), r.after) << r.what;
  }
}

TEST(ProcessRect, VisitsTheClippedPixelsInMemoryOrder) {
  GuardedBitmap bm(5, 5);
  fillAll(&bm, 0);
  int count = 0;
  PIX_ProcessRect(
      &bm, -2, 3, 4, 9, [](unsigned int* p, void* c) { *p = (unsigned)++*(int*)c; }, &count);
  EXPECT_EQ(count, 4);
  EXPECT_EQ(bm.at(0, 3), 1u);
  EXPECT_EQ(bm.at(1, 3), 2u);
  EXPECT_EQ(bm.at(0, 4), 3u);
  PIX_ProcessRect(&bm, 0, 0, 5, 5, nullptr, nullptr);
}

TEST(SimpleFill, SpreadsOnlyThroughRowsMatchingInTheStartColumn) {
  // Column 2 is the anchor: row 1 blocks the way up and row 4 the way down, although both match elsewhere.
  const char* picture[] = {".....", "..#..", ".....", ".....", "..#.."};
  const char* expect[] = {".....", "..#..", "ooooo", "ooooo", "..#.."};
  GuardedBitmap bm(5, 5);
  for (int y = 0; y < 5; y++)
    for (int x = 0; x < 5; x++) bm.at(x, y) = picture[y][x] == '#' ? 0xFF : 0;
  PIX_SimpleFill(&bm, 2, 2, 0x10000000, 0xFFFFFFFF, 0x00FFFFFF);
  for (int y = 0; y < 5; y++)
    for (int x = 0; x < 5; x++) {
      PIX_pixel want = expect[y][x] == 'o' ? 0x10000000u : (expect[y][x] == '#' ? 0xFFu : 0u);
      EXPECT_EQ(bm.at(x, y), want) << x << "," << y;
    }
  PIX_SimpleFill(&bm, 5, 0, 1, 1, 1);
  PIX_SimpleFill(&bm, -1, 0, 1, 1, 1);
}

TEST(BitmapCmp, ReportsOrderAndTheDifferingBox) {
  GuardedBitmap a(4, 4), b(4, 4), c(5, 4), d(4, 6);
  fillAll(&a, 0);
  fillAll(&b, 0);
  int rect[4] = {9, 9, 9, 9};
  EXPECT_EQ(PIX_BitmapCmp(&a, &b, rect), 0);
  EXPECT_EQ(rect[0] | rect[1] | rect[2] | rect[3], 0);
  b.at(1, 2) = 1;
  b.at(3, 0) = 1;
  EXPECT_EQ(PIX_BitmapCmp(&a, &b, rect), 1);
  EXPECT_EQ(rect[0], 1);
  EXPECT_EQ(rect[1], 0);
  EXPECT_EQ(rect[2], 3);
  EXPECT_EQ(rect[3], 3);
  EXPECT_LT(PIX_BitmapCmp(&a, &b, nullptr), 0);
  EXPECT_EQ(PIX_BitmapCmp(&a, &c, nullptr), 1);
  EXPECT_EQ(PIX_BitmapCmp(&a, &d, nullptr), 2);
  EXPECT_EQ(PIX_BitmapCmp(nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(PIX_BitmapCmp(nullptr, &a, nullptr), -1);
  EXPECT_EQ(PIX_BitmapCmp(&a, nullptr, nullptr), 1);
}

}  // namespace

namespace {

// Alphas and components far outside their ranges reach the combiners' integer formulas; under the sanitizers any
// overflow there fails the test.
TEST(ExtremeValues, AlphasAndComponentsFarOutsideTheirRangesStayDefined) {
  const float alphas[] = {1e30f, -1e30f, 5.0f, -5.0f, 4.0f, 65536.0f, NAN, INFINITY};
  const int modes[] = {0, 1, 2, 3, 4, 5, 0x10000, 0x10001, 0x10002, 0x10003, 0x10004, 0x10005, 0x100, 0x10100};
  GuardedBitmap src(4, 4), dest(6, 6);
  rastertest::Rng rng(7);
  fillRandom(&src, rng);
  for (float alpha : alphas)
    for (int mode : modes) {
      fillRandom(&dest, rng);
      PIX_FillRect(&dest, 0, 0, 6, 6, 0xFFFFFFFF, alpha, mode);
      PIX_FillRect(&dest, 0, 0, 6, 6, 0x00000000, alpha, mode);
      PIX_PutPixel(&dest, 1, 1, 0xFFFFFFFF, alpha, mode);
      PIX_Blit(&dest, &src, 1, 1, nullptr, alpha, mode);
      PIX_ScaledBlit(&dest, &src, 0, 0, 6, 6, 0, 0, 4, 4, alpha, mode);
      PIX_RotatedBlit(&dest, &src, 0, 0, 6, 6, 0, 0, 4, 4, 0.5f, false, alpha, mode, 0, 0);
      PIX_GradRect(&dest, 0, 0, 6, 6, alpha, -alpha, alpha, alpha, alpha, alpha, -alpha, alpha, -alpha, alpha, alpha,
                   -alpha, mode);
      unsigned int px = 0x80808080;
      PIX_CombinePixels2(&px, 1 << 30, -(1 << 30), 255, 1 << 30, 1 << 30, mode);
      PIX_CombinePixels2Clamp(&px, 1 << 30, -(1 << 30), 255, 1 << 30, -(1 << 30), mode);
      PIX_CombinePixels(px, 0xFFFFFFFF, alpha, mode);
    }
}

}  // namespace
