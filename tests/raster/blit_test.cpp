#include <gtest/gtest.h>

#include <climits>

#include "tests/raster/raster_util.h"

using namespace rastertest;

namespace {

const int kMin = INT_MIN, kMax = INT_MAX;

// Source pixel (x, y): distinct colour bytes, alpha cycling through transparent, opaque and partial.
PIX_pixel sourcePixel(int x, int y) {
  static const int alphas[] = {0, 255, 128, 7};
  return PIX_RGBA(x * 16 + 1, y * 16 + 2, 200 - x - y, alphas[(x + y) & 3]);
}

void fillSource(GuardedBitmap& s) {
  for (int y = 0; y < s.getHeight(); y++)
    for (int x = 0; x < s.getWidth(); x++) s.at(x, y) = sourcePixel(x, y);
}

enum Op { kCopy, kHalf, kBlueIntoRed, kSourceAlphaFull };

PIX_pixel apply(Op op, PIX_pixel d, PIX_pixel s) {
  switch (op) {
    case kCopy:
      return s;
    case kHalf:
      return ((d >> 1) & 0x7F7F7F7F) + ((s >> 1) & 0x7F7F7F7F);
    case kBlueIntoRed:
      return (d & ~0xFF00u) | (PIX_GETB(s) << 8);
    case kSourceAlphaFull: {
      unsigned a = PIX_GETA(s);
      if (a == 0) return d;
      if (a == 255) return s;
      auto ch = [&](unsigned sv, unsigned dv) { return (int)sv + ((int)dv - (int)sv) * (255 - (int)a) / 256; };
      int na = (int)PIX_GETA(d) + (int)a;
      return PIX_RGBA(ch(PIX_GETR(s), PIX_GETR(d)), ch(PIX_GETG(s), PIX_GETG(d)), ch(PIX_GETB(s), PIX_GETB(d)),
                      na > 255 ? 255 : na);
    }
  }
  return d;
}

struct BlitRow {
  const char* what;
  int dstx, dsty;
  bool useRect;
  RECT rect;
  float alpha;
  int mode;
  // Destination pixels [x0, x1] x [y0, y1] (inclusive) take source pixel (x - ox, y - oy) through op.
  int x0, y0, x1, y1, ox, oy;
  Op op;
};

// clang-format off
const BlitRow kBlitRows[] = {
    {"a RECT with left -3 blitted at x 10 lands at x 13", 10, 0, true, {-3, 0, 5, 2}, 1.0f, 0, 13, 0, 17, 1, 13, 0,
     kCopy},
    {"a RECT with top -2 moves the destination down", 0, 1, true, {0, -2, 3, 9}, 1.0f, 0, 0, 3, 2, 7, 0, 3, kCopy},
    {"blitting to x -2 skips two source columns", -2, 0, false, {}, 1.0f, 0, 0, 0, 5, 5, -2, 0, kCopy},
    {"the source rectangle is cut to the source", 1, 1, true, {6, 4, 100, 100}, 1.0f, 0, 1, 1, 2, 2, -5, -3, kCopy},
    {"the area is cut at the destination's edge", 28, 6, false, {}, 1.0f, 0, 28, 6, 29, 7, 28, 6, kCopy},
    {"mode 0x100 at alpha 1 copies (the filter bit is ignored)", 0, 0, false, {}, 1.0f, 0x100, 0, 0, 7, 5, 0, 0, kCopy},
    {"half alpha mixes whole words", 0, 0, false, {}, 0.5f, 0, 0, 0, 7, 5, 0, 0, kHalf},
    {"mode 0xF7 copies blue into red", 0, 0, false, {}, 1.0f, 0xF7, 0, 0, 7, 5, 0, 0, kBlueIntoRed},
    {"channel copy ignores the alpha", 0, 0, false, {}, 0.1f, 0x100F7, 0, 0, 7, 5, 0, 0, kBlueIntoRed},
    {"source alpha at full weight skips 0, stores 255 and blends the rest", 2, 1, false, {}, 1.0f, 0x10000, 2, 1, 9, 6,
     2, 1, kSourceAlphaFull},
    {"mode 6 draws nothing", 0, 0, false, {}, 1.0f, 6, 0, 0, -1, -1, 0, 0, kCopy},
    {"alpha 0 draws nothing", 0, 0, false, {}, 0.0f, 0, 0, 0, -1, -1, 0, 0, kCopy},
    {"a reversed rectangle draws nothing", 0, 0, true, {5, 5, 2, 2}, 1.0f, 0, 0, 0, -1, -1, 0, 0, kCopy},
    {"a destination beyond the int range draws nothing", kMax, kMax, false, {}, 1.0f, 0, 0, 0, -1, -1, 0, 0, kCopy},
    {"an extreme destination and left edge cancel out without wrapping", kMin, kMin, true, {kMin, kMin, kMax, kMax},
     1.0f, 0, 0, 0, 7, 5, 0, 0, kCopy},
    {"an extreme left edge moves the destination out of reach", 0, 0, true, {kMin, 0, kMax, kMax}, 1.0f, 0, 0, 0, -1,
     -1, 0, 0, kCopy},
};
// clang-format on

class BlitTable : public testing::TestWithParam<int> {};

TEST_P(BlitTable, BlitPlacesTheClippedSourceAsTabled) {
  const bool srcFlipped = GetParam() & 1, destFlipped = GetParam() & 2;
  for (const BlitRow& r : kBlitRows) {
    GuardedBitmap src(8, 6, srcFlipped), dest(30, 8, destFlipped);
    fillSource(src);
    fillAll(&dest, 0x55AA55AA);
    RECT rect = r.rect;
    PIX_Blit(&dest, &src, r.dstx, r.dsty, r.useRect ? &rect : nullptr, r.alpha, r.mode);
    for (int y = 0; y < 8; y++)
      for (int x = 0; x < 30; x++) {
        bool in = x >= r.x0 && x <= r.x1 && y >= r.y0 && y <= r.y1;
        PIX_pixel want = in ? apply(r.op, 0x55AA55AA, sourcePixel(x - r.ox, y - r.oy)) : 0x55AA55AA;
        ASSERT_EQ(dest.at(x, y), want) << r.what << " at " << x << "," << y;
      }
  }
}

INSTANTIATE_TEST_SUITE_P(FlippedOrNot, BlitTable, testing::Values(0, 1, 2, 3));

TEST(Blit, IntFormTakesWidthAndHeight) {
  GuardedBitmap src(8, 6), dest(8, 6);
  fillSource(src);
  fillAll(&dest, 0);
  PIX_Blit(&dest, &src, 0, 0, 2, 1, 3, 2, 1.0f, 0);
  EXPECT_EQ(dest.at(0, 0), sourcePixel(2, 1));
  EXPECT_EQ(dest.at(2, 1), sourcePixel(4, 2));
  EXPECT_EQ(dest.at(3, 1), 0u);
  PIX_Blit(&dest, &src, 0, 0, kMax, kMax, kMax, kMax, 1.0f, 0);
  PIX_Blit(&dest, &src, 0, 0, kMin, kMin, kMax, kMax, 1.0f, 0);
  PIX_Blit(nullptr, &src, 0, 0, 0, 0, 1, 1, 1.0f, 0);
  PIX_Blit(&dest, nullptr, 0, 0, 0, 0, 1, 1, 1.0f, 0);
}

// The memcpy and word-mix paths against the per-pixel combiner loop and a naive model of the clipping rules, over
// many random placements (including flipped bitmaps, empty ones and blits of a bitmap onto itself).
TEST(Blit, FastPathsAgreeWithTheGeneralPathOnRandomCases) {
  for (int n = 0; n < 1500; n++) {
    Rng rng(n);
    GuardedBitmap src(rng.range(0, 12), rng.range(0, 12), rng.next() & 1);
    GuardedBitmap d1(rng.range(0, 14), rng.range(0, 14), rng.next() & 1);
    GuardedBitmap d2(d1.getWidth(), d1.getHeight(), d1.isFlipped());
    GuardedBitmap model(d1.getWidth(), d1.getHeight(), false);
    fillRandom(&src, rng, true);
    fillRandom(&d1, rng);
    copyPixels(&d2, &d1);
    copyPixels(&model, &d1);
    RECT rect = {rng.range(-15, 15), rng.range(-15, 15), rng.range(-15, 20), rng.range(-15, 20)};
    int dx = rng.range(-15, 15), dy = rng.range(-15, 15);
    bool half = rng.next() & 1;
    SCOPED_TRACE(testing::Message() << "case " << n);

    PIX_Blit(&d1, &src, dx, dy, &rect, half ? 0.5f : 1.0f, 0);
    if (!half) PIX_Blit(&d2, &src, dx, dy, &rect, 1.0f, 0x10000);  // opaque source: stores through the loop
    for (int sy = std::max(0, (int)rect.top); sy < std::min(src.getHeight(), (int)rect.bottom); sy++)
      for (int sx = std::max(0, (int)rect.left); sx < std::min(src.getWidth(), (int)rect.right); sx++) {
        int x = dx + sx - rect.left, y = dy + sy - rect.top;
        if (x < 0 || y < 0 || x >= model.getWidth() || y >= model.getHeight()) continue;
        model.at(x, y) = apply(half ? kHalf : kCopy, model.at(x, y), src.at(sx, sy));
      }
    std::string where;
    ASSERT_TRUE(samePixels(&d1, &model, &where)) << where;
    if (!half) {
      ASSERT_TRUE(samePixels(&d2, &model, &where)) << where;
    }
  }
}

TEST(Blit, OntoItselfStaysInside) {
  for (int n = 0; n < 300; n++) {
    Rng rng(n);
    GuardedBitmap bm(rng.range(1, 12), rng.range(1, 12), rng.next() & 1);
    fillRandom(&bm, rng);
    int mode = (int)(rng.next() % 7) | ((rng.next() & 1) ? 0x10000 : 0);
    PIX_Blit(&bm, &bm, rng.range(-10, 10), rng.range(-10, 10), rng.range(-10, 10), rng.range(-10, 10),
             rng.range(-5, 15), rng.range(-5, 15), rng.unit(), mode);
    PIX_Blur(&bm, &bm, rng.range(-10, 10), rng.range(-10, 10), rng.range(-10, 10), rng.range(-10, 10),
             rng.range(-5, 15), rng.range(-5, 15));
  }
}

TEST(Copy, ResizesTheDestinationAndCopiesEveryPixel) {
  GuardedBitmap src(7, 5);
  fillSource(src);
  PIX_MemBitmap dest(2, 2, 4);
  PIX_Copy(&dest, &src);
  ASSERT_EQ(dest.getWidth(), 7);
  ASSERT_EQ(dest.getHeight(), 5);
  EXPECT_EQ(dest.getRowSpan(), 8);
  EXPECT_TRUE(samePixels(&dest, &src));
  PIX_Copy(&dest, nullptr);
  PIX_Copy(nullptr, &src);
}

TEST(Blur, UniformAreasKeepTheirColourUpToTruncation) {
  GuardedBitmap src(6, 5), dest(6, 5);
  fillAll(&src, 0xFFFFFFFF);
  fillAll(&dest, 0);
  PIX_Blur(&dest, &src, 0, 0, 0, 0, 6, 5);
  struct Row {
    int x, y;
    PIX_pixel want;
  } rows[] = {
      {2, 2, 0xFBFBFBFB},  // 127 + 4 x 31
      {0, 2, 0xFCFCFCFC},  // 127 + 63 + 2 x 31: first column
      {2, 0, 0xFCFCFCFC},  // 127 + 2 x 31 + 63: first row
      {0, 0, 0xFDFDFDFD},  // 127 + 63 + 63
      {5, 4, 0xFDFDFDFD},
  };
  for (const Row& r : rows) EXPECT_EQ(dest.at(r.x, r.y), r.want) << r.x << "," << r.y;
}

TEST(Blur, DegenerateAreasDrawNothing) {
  struct Row {
    const char* what;
    int dstx, dsty, srcx, srcy, srcw, srch;
  } rows[] = {
      {"one pixel wide", 0, 0, 0, 0, 1, 5},
      {"one row high", 0, 0, 0, 0, 6, 1},
      {"off the source", 0, 0, 6, 0, 3, 3},
      {"cut to one column by the destination", 5, 0, 0, 0, 6, 5},
      {"extreme", kMax, kMax, kMin, kMin, kMax, kMax},
  };
  for (const auto& r : rows) {
    GuardedBitmap src(6, 5), dest(6, 5);
    fillAll(&src, 0xFFFFFFFF);
    fillAll(&dest, 0);
    PIX_Blur(&dest, &src, r.dstx, r.dsty, r.srcx, r.srcy, r.srcw, r.srch);
    for (int y = 0; y < 5; y++)
      for (int x = 0; x < 6; x++) ASSERT_EQ(dest.at(x, y), 0u) << r.what;
  }
}

TEST(Blur, InPlaceReadsTheSavedRowAboveAndTheBlurredRowBeforeTheLast) {
  // A single bright row 1 in a dark picture: out of place, row 2 sees it as U; in place as well, from the copy.
  for (int w : {5, 1100}) {
    GuardedBitmap a(w, 4), b(w, 4), src(w, 4);
    fillAll(&src, 0);
    for (int x = 0; x < w; x++) src.at(x, 1) = 0x80808080;
    copyPixels(&a, &src);
    PIX_Blur(&b, &src, 0, 0, 0, 0, w, 4);
    PIX_Blur(&a, &a, 0, 0, 0, 0, w, 4);
    for (int y = 0; y < 3; y++)
      for (int x = 0; x < w; x++) ASSERT_EQ(a.at(x, y), b.at(x, y)) << w << " " << x << "," << y;
    // The last row's neighbour is the already blurred row 2 in place: 0x10 / 4 = 4.
    EXPECT_EQ(b.at(2, 3), 0u);
    EXPECT_EQ(a.at(2, 3), 0x01010101u * (0x10 >> 2)) << w;
  }
}

TEST(HalveBlitAA, AveragesTwoByTwoBlocksIntoTheTopLeft) {
  GuardedBitmap src(5, 5), dest(9, 9);
  for (int y = 0; y < 5; y++)
    for (int x = 0; x < 5; x++) src.at(x, y) = ((x + y) & 1) ? 0xFFFFFFFF : 0x04040404;
  fillAll(&dest, 0x12345678);
  PIX_HalveBlitAA(&dest, &src);
  EXPECT_EQ(dest.at(0, 0), 0x80808080u);  // 2 x 63 + 2 x 1
  EXPECT_EQ(dest.at(1, 1), 0x80808080u);
  EXPECT_EQ(dest.at(2, 0), 0x12345678u);
  EXPECT_EQ(dest.at(0, 2), 0x12345678u);
  GuardedBitmap small(1, 3);
  PIX_HalveBlitAA(&small, &src);
  EXPECT_EQ(small.at(0, 1), 0x80808080u);
  PIX_HalveBlitAA(&dest, nullptr);
}

}  // namespace
