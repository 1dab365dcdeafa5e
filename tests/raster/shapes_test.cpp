// Lines, outlines, polygon fills, circles, arcs, glyph masks and curves: the exact pixels of their rules.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <set>
#include <utility>
#include <vector>

#include "tests/raster/raster_util.h"

using namespace rastertest;

namespace {

typedef std::pair<int, int> P;
typedef std::set<P> PixelSet;

const PIX_pixel kWhite = 0xFFFFFFFF;

// The pixels that differ from the background colour.
PixelSet changed(PIX_IBitmap* bm, PIX_pixel bg = 0) {
  PixelSet s;
  for (int y = 0; y < bm->getHeight(); y++)
    for (int x = 0; x < bm->getWidth(); x++)
      if (PIX_GetPixel(bm, x, y) != bg) s.insert({x, y});
  return s;
}

PixelSet drawn(int w, int h, const std::function<void(PIX_IBitmap*)>& draw, PIX_pixel bg = 0) {
  GuardedBitmap bm(w, h);
  fillAll(&bm, bg);
  draw(&bm);
  return changed(&bm, bg);
}

// The pixel a weighted copy of c over d gives.
PIX_pixel copyAt(PIX_pixel d, PIX_pixel c, int w) {
  _PIX_CombinePixelsCopyNoClamp::doPix((unsigned char*)&d, PIX_GETR(c), PIX_GETG(c), PIX_GETB(c), PIX_GETA(c), w);
  return d;
}

std::string show(const PixelSet& s) {
  std::string out;
  for (auto& p : s) out += "(" + std::to_string(p.first) + "," + std::to_string(p.second) + ")";
  return out;
}

// ---- Integer lines ----

TEST(Line, PlainPixelsAreTheSameFromEitherEnd) {
  struct Case {
    int x1, y1, x2, y2;
    PixelSet want;
  } cases[] = {
      {0, 0, 3, 1, {{0, 0}, {1, 0}, {2, 1}, {3, 1}}},
      {0, 0, 4, 1, {{0, 0}, {1, 0}, {2, 1}, {3, 1}, {4, 1}}},
      {10, 2, 3, 2, {{3, 2}, {4, 2}, {5, 2}, {6, 2}, {7, 2}, {8, 2}, {9, 2}, {10, 2}}},
      {1, 1, 1, 4, {{1, 1}, {1, 2}, {1, 3}, {1, 4}}},
      {2, 2, 2, 2, {{2, 2}}},
      {0, 0, 3, 3, {{0, 0}, {1, 1}, {2, 2}, {3, 3}}},
      {0, 3, 3, 0, {{0, 3}, {1, 2}, {2, 1}, {3, 0}}},
      {0, 0, 1, 4, {{0, 0}, {0, 1}, {1, 2}, {1, 3}, {1, 4}}},
      {-10, 5, 10, 5, {{0, 5}, {1, 5}, {2, 5}, {3, 5}, {4, 5}, {5, 5}, {6, 5}, {7, 5}, {8, 5}, {9, 5}, {10, 5}}},
      {-10,
       5,
       30,
       5,
       {{0, 5}, {1, 5}, {2, 5}, {3, 5}, {4, 5}, {5, 5}, {6, 5}, {7, 5}, {8, 5}, {9, 5}, {10, 5}, {11, 5}}},
      {2, -5, 2, -1, {}},
  };
  for (const Case& c : cases)
    for (int rev = 0; rev < 2; rev++)
      for (float alpha : {1.0f, 0.7f}) {
        PixelSet got = drawn(12, 8, [&](PIX_IBitmap* bm) {
          if (rev)
            PIX_Line(bm, c.x2, c.y2, c.x1, c.y1, kWhite, alpha, 0, false);
          else
            PIX_Line(bm, c.x1, c.y1, c.x2, c.y2, kWhite, alpha, 0, false);
        });
        EXPECT_EQ(got, c.want) << c.x1 << "," << c.y1 << " - " << c.x2 << "," << c.y2 << " rev " << rev << ": "
                               << show(got);
      }
}

TEST(Line, AntiAliasedWeights) {
  // (0, 0)-(4, 1) at alpha 1 in copy mode, drawn from either end.
  const std::map<P, int> want = {{{0, 0}, 256}, {{4, 1}, 256}, {{1, 0}, 191}, {{3, 1}, 191},
                                 {{1, 1}, 64},  {{3, 0}, 64},  {{2, 0}, 127}, {{2, 1}, 128}};
  for (int rev = 0; rev < 2; rev++) {
    GuardedBitmap bm(6, 3);
    fillAll(&bm, 0);
    if (rev)
      PIX_Line(&bm, 4, 1, 0, 0, kWhite, 1.0f, 0, true);
    else
      PIX_Line(&bm, 0, 0, 4, 1, kWhite, 1.0f, 0, true);
    for (int y = 0; y < 3; y++)
      for (int x = 0; x < 6; x++) {
        auto it = want.find({x, y});
        EXPECT_EQ(bm.at(x, y), it == want.end() ? 0u : copyAt(0, kWhite, it->second)) << x << "," << y;
      }
  }
}

TEST(Line, DiagonalAntiAliasedUsesWordMixes) {
  GuardedBitmap bm(5, 5);
  fillAll(&bm, 0);
  PIX_Line(&bm, 0, 0, 3, 3, kWhite, 1.0f, 0, true);
  for (int i = 0; i <= 3; i++) EXPECT_EQ(bm.at(i, i), 0xBEBEBEBEu) << i;
  for (int i = 0; i < 3; i++) {
    EXPECT_EQ(bm.at(i + 1, i), 0x3F3F3F3Fu) << i;
    EXPECT_EQ(bm.at(i, i + 1), 0x3F3F3F3Fu) << i;
  }
  EXPECT_EQ(changed(&bm).size(), 10u);
  // At other weights: (3w)/4 on the line, w/4 beside it.
  fillAll(&bm, 0);
  PIX_Line(&bm, 3, 0, 0, 3, kWhite, 0.5f, 1, true);
  EXPECT_EQ(bm.at(3, 0), 0x5F5F5F5Fu);  // 255 * 96 / 256
  EXPECT_EQ(bm.at(2, 0), 0x1F1F1F1Fu);  // 255 * 32 / 256
}

TEST(Line, CopyWeightsAndModes) {
  struct Case {
    float alpha;
    int mode;
    PIX_pixel dest, color, want;
  } cases[] = {
      {0.5f, 0, 0x01010101, 0x01010101, 0x00000000},     // word-wise half mix halves first
      {0.5001f, 0, 0x01010101, 0x01010101, 0x01010101},  // the HalfMix combiner adds first
      {1.0f, 0x10000, 0x00000000, 0x12345678, 0x12345678}, {1.0f, 6, 0x00000000, 0xFFFFFFFF, 0x00000000},
      {0.003f, 0, 0x00000000, 0xFFFFFFFF, 0x00000000},     {-0.5f, 0, 0x10101010, 0xFFFFFFFF, 0x10101010},
      {0.25f, 0, 0x00000000, 0xFFFFFFFF, 0x3F3F3F3F},      {0.75f, 0, 0x00000000, 0xFFFFFFFF, 0xBEBEBEBE},
      {1.0f, 1, 0x10203040, 0x10101010, 0x20304050},       {1.0f, 3, 0xFFFFFFFF, 0xFFFFFFFF, 0xFEFEFEFE},
  };
  for (const Case& c : cases)
    for (int path = 0; path < 4; path++) {
      GuardedBitmap bm(8, 8);
      fillAll(&bm, c.dest);
      if (path == 0) PIX_Line(&bm, 1, 1, 5, 1, c.color, c.alpha, c.mode, false);
      if (path == 1) PIX_Line(&bm, 1, 1, 1, 5, c.color, c.alpha, c.mode, false);
      if (path == 2) PIX_Line(&bm, 1, 1, 5, 5, c.color, c.alpha, c.mode, false);
      if (path == 3) PIX_Line(&bm, 1, 1, 5, 3, c.color, c.alpha, c.mode, false);
      // The general path has no exact-alpha word mixes: 0.5 goes through the HalfMix combiner there.
      PIX_pixel want = c.want;
      if (path >= 2 && c.alpha == 0.5f) want = 0x01010101;
      if (path >= 2 && (c.alpha == 0.25f || c.alpha == 0.75f)) want = copyAt(c.dest, c.color, (int)(c.alpha * 256));
      EXPECT_EQ(bm.at(1, 1), want) << "alpha " << c.alpha << " mode " << c.mode << " path " << path;
    }
}

TEST(Line, FlippedBitmapCountsRowsFromTheBottom) {
  GuardedBitmap bm(4, 4, true);
  fillAll(&bm, 0);
  PIX_Line(&bm, 0, 0, 3, 0, kWhite, 1.0f, 0, false);
  EXPECT_EQ(bm.getBits()[3 * 4], kWhite);  // last memory row
  EXPECT_EQ(bm.at(3, 0), kWhite);
}

TEST(Line, DrawRectCombinesCornersTwice) {
  GuardedBitmap bm(8, 8);
  fillAll(&bm, 0);
  PIX_DrawRect(&bm, 3, 3, 0, 0, 0x01010101, 1.0f, 1);
  EXPECT_EQ(bm.at(3, 3), 0x04040404u);
  EXPECT_EQ(changed(&bm).size(), 1u);
  fillAll(&bm, 0);
  PIX_DrawRect(&bm, 1, 2, 4, 3, 0x01010101, 1.0f, 1);
  EXPECT_EQ(bm.at(1, 2), 0x02020202u);
  EXPECT_EQ(bm.at(5, 5), 0x02020202u);
  EXPECT_EQ(bm.at(3, 2), 0x01010101u);
  EXPECT_EQ(changed(&bm).size(), 14u);
  // Bordered: inside filled, outline over it.
  fillAll(&bm, 0);
  PIX_BorderedRect(&bm, 1, 1, 4, 4, 0x11111111, 0x22222222, 1.0f, 0);
  EXPECT_EQ(bm.at(3, 3), 0x11111111u);
  EXPECT_EQ(bm.at(1, 3), 0x22222222u);
  EXPECT_EQ(bm.at(5, 5), 0x22222222u);
}

TEST(Line, ClipLineWritesBackEvenWhenRejecting) {
  int x1 = -5, y1 = 5, x2 = 5, y2 = 20;  // crosses x = 0 below the box
  EXPECT_FALSE(PIX_ClipLine(&x1, &y1, &x2, &y2, 0, 0, 10, 10));
  EXPECT_EQ(x1, 0);
  EXPECT_EQ(y1, 12);
  EXPECT_EQ(x2, 5);
  int a = -10, b = 5, c = 10, d = 5;
  EXPECT_TRUE(PIX_ClipLine(&a, &b, &c, &d, 2, 0, 8, 8));
  EXPECT_EQ(a, 2);
  EXPECT_EQ(c, 7);
  int e = 3, f = 3, g = 4, h = 4;
  EXPECT_TRUE(PIX_ClipLine(&e, &f, &g, &h, 0, 0, 10, 10));
  EXPECT_EQ(std::vector<int>({e, f, g, h}), std::vector<int>({3, 3, 4, 4}));
}

// ---- Float and dashed lines ----

TEST(FLine, PlainTruncatesToTheIntegerLine) {
  EXPECT_EQ(drawn(8, 8, [](PIX_IBitmap* bm) { PIX_FLine(bm, 1.9f, 2.9f, 5.9f, 2.2f, kWhite, 1.0f, 0, false); }),
            drawn(8, 8, [](PIX_IBitmap* bm) { PIX_Line(bm, 1, 2, 5, 2, kWhite, 1.0f, 0, false); }));
}

TEST(FLine, AntiAliasedPairs) {
  PixelSet got = drawn(8, 8, [](PIX_IBitmap* bm) { PIX_FLine(bm, 0.5f, 1.0f, 4.5f, 3.0f, kWhite, 1.0f, 0, true); });
  std::set<int> cols;
  for (auto& p : got) cols.insert(p.first);
  EXPECT_EQ(cols, std::set<int>({1, 2, 3, 4}));
  EXPECT_LE(got.size(), 8u);
  EXPECT_EQ(drawn(8, 8, [](PIX_IBitmap* bm) { PIX_FLine(bm, 2.2f, 3.0f, 2.7f, 3.4f, kWhite, 1.0f, 0, true); }).size(),
            0u);
  // An integer minor position gives 255 x w / 256 to that pixel and nothing to its neighbour, whichever way the
  // minor axis runs.
  for (int down = 0; down < 2; down++) {
    GuardedBitmap bm(8, 8);
    fillAll(&bm, 0);
    if (down)
      PIX_FLine(&bm, 6.0f, 2.0f, 0.0f, 5.0f, 0x80808080, 1.0f, 1, true);
    else
      PIX_FLine(&bm, 0.0f, 2.0f, 6.0f, 5.0f, 0x80808080, 1.0f, 1, true);
    for (int x = 0; x <= 6; x += 2) {
      const int y = down ? 5 - x / 2 : 2 + x / 2;
      EXPECT_EQ(bm.at(x, y), 0x7F7F7F7Fu) << x << " down " << down;
      EXPECT_EQ(bm.at(x, y + 1), 0u) << x << " down " << down;
      EXPECT_EQ(bm.at(x, y - 1), 0u) << x << " down " << down;
    }
  }
}

TEST(FLine, ClipKeepsThePairInside) {
  float x1 = 9, y1 = 0, x2 = 9, y2 = 5;
  EXPECT_FALSE(PIX_ClipFLine(&x1, &y1, &x2, &y2, 0, 0, 10, 10));
  float a = -5, b = 2, c = 20, d = 2;
  EXPECT_TRUE(PIX_ClipFLine(&a, &b, &c, &d, 0, 0, 10, 10));
  EXPECT_EQ(a, 0.0f);
  EXPECT_EQ(c, 8.0f);
  float n = NAN, z = 0;
  EXPECT_FALSE(PIX_ClipFLine(&n, &z, &z, &z, 0, 0, 10, 10));
}

TEST(DashedLine, Patterns) {
  struct Case {
    int x1, y1, x2, y2, on, off;
    float alpha;
    PixelSet want;
  } cases[] = {
      {0, 3, 9, 3, 2, 2, 1.0f, {{0, 3}, {1, 3}, {4, 3}, {5, 3}, {8, 3}}},
      {9, 3, 0, 3, 2, 2, 0.6f, {{0, 3}, {1, 3}, {4, 3}, {5, 3}, {8, 3}}},
      {2, 0, 2, 5, 1, 1, 1.0f, {{2, 0}, {2, 2}, {2, 4}}},
      {2, 5, 2, 0, 1, 1, 0.6f, {{2, 0}, {2, 2}, {2, 4}}},
      {2, 2, 2, 2, 1, 1, 1.0f, {}},
      {0, 0, 5, 5, 1, 1, 1.0f, {}},
      {0, 1, 9, 1, 3, 0, 1.0f, {{0, 1}, {1, 1}, {2, 1}, {3, 1}, {4, 1}, {5, 1}, {6, 1}, {7, 1}, {8, 1}}},
      {0, 1, 9, 1, 0, 0, 1.0f, {}},  // no advance: nothing, and no endless loop
      {0, 1, 9, 1, 2, -2, 1.0f, {}},
      {0, 1, 9, 1, 5, -7, 1.0f, {}},
      {0, 1, 9, 1, -1, 3, 1.0f, {}},
      {-20, 1, 30, 1, 2, 8, 1.0f, {{0, 1}, {1, 1}}},  // the pattern starts at the clipped end
  };
  for (const Case& c : cases) {
    PixelSet got = drawn(10, 8, [&](PIX_IBitmap* bm) {
      PIX_DashedLine(bm, c.x1, c.y1, c.x2, c.y2, c.on, c.off, kWhite, c.alpha, 0, false);
    });
    EXPECT_EQ(got, c.want) << c.x1 << "," << c.y1 << " - " << c.x2 << "," << c.y2 << " " << c.on << "/" << c.off << ": "
                           << show(got);
  }
}

// ---- Polygon fills ----

PixelSet rect(int x0, int y0, int x1, int y1) {
  PixelSet s;
  for (int y = y0; y <= y1; y++)
    for (int x = x0; x <= x1; x++) s.insert({x, y});
  return s;
}

TEST(Trapezoid, SpansRowsAndEdges) {
  EXPECT_EQ(drawn(8, 8, [](PIX_IBitmap* bm) { PIX_FillTrapezoid(bm, 2, 5, 3, 2, 5, 3, kWhite, 1.0f, 0); }),
            rect(2, 3, 5, 3));
  EXPECT_EQ(drawn(8, 8, [](PIX_IBitmap* bm) { PIX_FillTrapezoid(bm, 5, 2, 3, 0, 7, 3, kWhite, 1.0f, 0); }),
            rect(2, 3, 5, 3));
  // A left edge from x 0 on row 0 to x 3 on row 10 moves by the truncated per-row step and reaches x 2.
  GuardedBitmap bm(12, 12);
  fillAll(&bm, 0);
  PIX_FillTrapezoid(&bm, 0, 11, 0, 3, 11, 10, kWhite, 1.0f, 0);
  for (int y = 0; y <= 10; y++) {
    int first = 0;
    while (bm.at(first, y) == 0) first++;
    EXPECT_EQ(first, (int)((int64_t)y * (3 * 65536 / 10) >> 16)) << y;
  }
  EXPECT_EQ(bm.at(0, 11), 0u);
}

TEST(Trapezoid, TopClipEqualsTheUnclippedRows) {
  // Rows -5..5 on a bitmap of height 4 against rows 0..10 of a taller one.
  GuardedBitmap small(20, 4), tall(20, 11);
  fillAll(&small, 0), fillAll(&tall, 0);
  PIX_FillTrapezoid(&small, 3, 6, -5, 14, 16, 5, kWhite, 1.0f, 0);
  PIX_FillTrapezoid(&tall, 3, 6, 0, 14, 16, 10, kWhite, 1.0f, 0);
  for (int y = 0; y < 4; y++)
    for (int x = 0; x < 20; x++) EXPECT_EQ(small.at(x, y), tall.at(x, y + 5)) << x << "," << y;
}

TEST(Trapezoid, FarTopClipAdvancesInSixtyFourBits) {
  // About one pixel per row over 70010 rows: the advance over the 70000 rows above the bitmap is near
  // 65536 x 70000, beyond 32 bits.
  GuardedBitmap bm(40, 11);
  fillAll(&bm, 0);
  PIX_FillTrapezoid(&bm, -70000, -69990, -70000, 10, 20, 10, kWhite, 1.0f, 0);
  const int64_t step = (int64_t)(70010.0 * (65536.0 / 70010.0));
  for (int y = 0; y <= 10; y++) {
    const int64_t adv = (step * (70000 + y)) >> 16;
    const int64_t l = std::max<int64_t>(-70000 + adv, 0), r = -69990 + adv;
    ASSERT_GE(r, l) << y;
    for (int x = 0; x < 40; x++) EXPECT_EQ(bm.at(x, y), x >= l && x <= r ? kWhite : 0u) << x << "," << y;
  }
}

TEST(Trapezoid, SteepEdgesMoveAtMost8192PixelsARow) {
  GuardedBitmap bm(16, 4);
  fillAll(&bm, 0);
  // The right edge from 8200 on row 0 to -1000000 on row 3 would leave the bitmap after row 0; limited to 8192
  // pixels a row it reaches x 8 on row 1.
  PIX_FillTrapezoid(&bm, 0, 8200, 0, -1000000, -1000000, 3, kWhite, 1.0f, 0);
  PixelSet want = rect(0, 0, 15, 0), row1 = rect(0, 1, 8, 1);
  want.insert(row1.begin(), row1.end());
  EXPECT_EQ(changed(&bm), want);
}

TEST(Polygon, SquareInAnyOrderFills11By11) {
  std::vector<P> pts = {{0, 0}, {10, 0}, {10, 10}, {0, 10}};
  std::sort(pts.begin(), pts.end());
  int orders = 0;
  do {
    int xs[4], ys[4];
    for (int i = 0; i < 4; i++) xs[i] = pts[i].first, ys[i] = pts[i].second;
    EXPECT_EQ(drawn(14, 14, [&](PIX_IBitmap* bm) { PIX_FillConvexPolygon(bm, xs, ys, 4, kWhite, 1.0f, 0); }),
              rect(0, 0, 10, 10));
    orders++;
  } while (std::next_permutation(pts.begin(), pts.end()));
  EXPECT_EQ(orders, 24);
}

TEST(Polygon, TriangleAndDegenerateRows) {
  GuardedBitmap bm(12, 12);
  fillAll(&bm, 0);
  PIX_FillTriangle(&bm, 0, 0, 10, 0, 5, 10, kWhite, 1.0f, 0);
  EXPECT_EQ(bm.at(0, 0), kWhite);
  EXPECT_EQ(bm.at(10, 0), kWhite);
  EXPECT_EQ(bm.at(5, 10), kWhite);
  EXPECT_EQ(bm.at(4, 10), 0u);
  EXPECT_EQ(bm.at(6, 10), 0u);
  EXPECT_EQ(bm.at(5, 11), 0u);
  const int rx[3] = {7, 2, 4}, ry[3] = {3, 3, 3};
  EXPECT_EQ(drawn(10, 10, [&](PIX_IBitmap* b) { PIX_FillConvexPolygon(b, rx, ry, 3, kWhite, 1.0f, 0); }),
            rect(2, 3, 7, 3));
  const int cx[3] = {4, 4, 4}, cy[3] = {6, 1, 3};
  EXPECT_EQ(drawn(10, 10, [&](PIX_IBitmap* b) { PIX_FillConvexPolygon(b, cx, cy, 3, kWhite, 1.0f, 0); }),
            rect(4, 1, 4, 6));
  const int two[2] = {1, 2};
  EXPECT_EQ(drawn(10, 10, [&](PIX_IBitmap* b) { PIX_FillConvexPolygon(b, two, two, 2, kWhite, 1.0f, 0); }).size(), 0u);
}

TEST(Polygon, HalfAlphaMixesEveryPixelOnce) {
  // An octagon and a many-sided polygon: every pixel is either untouched or mixed exactly once.
  std::vector<std::vector<P>> shapes = {
      {{10, 2}, {20, 2}, {28, 10}, {28, 20}, {20, 28}, {10, 28}, {2, 20}, {2, 10}},
      {{15, 1}, {29, 12}, {24, 29}, {3, 26}, {1, 8}},
  };
  std::vector<P> round;
  for (int i = 0; i < 40; i++)
    round.push_back({(int)std::lround(15 + 13 * std::sin(i * 0.157)), (int)std::lround(15 - 13 * std::cos(i * 0.157))});
  shapes.push_back(round);
  for (auto& shape : shapes) {
    std::vector<int> xs, ys;
    for (auto& p : shape) xs.push_back(p.first), ys.push_back(p.second);
    GuardedBitmap half(32, 32), full(32, 32);
    fillAll(&half, 0), fillAll(&full, 0);
    PIX_FillConvexPolygon(&half, xs.data(), ys.data(), (int)xs.size(), 0xFEFEFEFE, 0.5f, 0);
    PIX_FillConvexPolygon(&full, xs.data(), ys.data(), (int)xs.size(), 0xFEFEFEFE, 1.0f, 0);
    for (int y = 0; y < 32; y++)
      for (int x = 0; x < 32; x++) {
        const PIX_pixel h = half.at(x, y);
        EXPECT_TRUE(h == 0 || h == 0x7F7F7F7F) << x << "," << y << ": " << std::hex << h;
        EXPECT_EQ(h != 0, full.at(x, y) != 0) << x << "," << y;
      }
  }
}

TEST(Polygon, SixHundredPointsFillLikeFour) {
  std::vector<int> xs, ys;
  for (int i = 0; i < 150; i++) {
    xs.push_back(2 + i * 20 / 150), ys.push_back(3);
    xs.push_back(22), ys.push_back(3 + i * 15 / 150);
    xs.push_back(22 - i * 20 / 150), ys.push_back(18);
    xs.push_back(2), ys.push_back(18 - i * 15 / 150);
  }
  ASSERT_EQ(xs.size(), 600u);
  EXPECT_EQ(drawn(25, 25, [&](PIX_IBitmap* b) { PIX_FillConvexPolygon(b, xs.data(), ys.data(), 600, kWhite, 1, 0); }),
            rect(2, 3, 22, 18));
}

TEST(Polygon, FlippedBitmapFillsTheMirroredMemoryRows) {
  // On a flipped bitmap y becomes height - 1 - y and the trapezoids fill memory rows: the memory is that of the
  // mirrored polygon on an upright bitmap.
  GuardedBitmap up(10, 10), flipped(10, 10, true);
  fillAll(&up, 0), fillAll(&flipped, 0);
  const int xs[3] = {1, 8, 3}, ys[3] = {1, 2, 8}, mirrored[3] = {8, 7, 1};
  PIX_FillConvexPolygon(&up, xs, mirrored, 3, kWhite, 1.0f, 0);
  PIX_FillConvexPolygon(&flipped, xs, ys, 3, kWhite, 1.0f, 0);
  EXPECT_EQ(memcmp(up.getBits(), flipped.getBits(), 400), 0);
  EXPECT_EQ(flipped.at(1, 1), kWhite);
}

// ---- Circles, arcs, rounded rectangles ----

PixelSet maskPixels(int x0, int y0, const std::vector<const char*>& rows) {
  PixelSet s;
  for (int y = 0; y < (int)rows.size(); y++)
    for (int x = 0; rows[y][x]; x++)
      if (rows[y][x] == '#') s.insert({x0 + x, y0 + y});
  return s;
}

TEST(Circle, SmallRadiiUseMasksOthersTheMidpointDrawer) {
  // Radius 2 at (5.7, 5.2): the diamond mask at the integer parts of (3.7, 3.2).
  EXPECT_EQ(drawn(12, 12, [](PIX_IBitmap* b) { PIX_Circle(b, 5.7f, 5.2f, 2.0f, kWhite, 1.0f, 1, false); }),
            maskPixels(3, 3, {"..#..", ".#.#.", "#...#", ".#.#.", "..#.."}));
  // 2.01 rounds the centre to (6, 5) and the radius to 2 and runs the midpoint steps.
  EXPECT_EQ(drawn(12, 12, [](PIX_IBitmap* b) { PIX_Circle(b, 5.7f, 5.2f, 2.01f, kWhite, 1.0f, 1, false); }),
            maskPixels(4, 3, {".###.", "#...#", "#...#", "#...#", ".###."}));
  // Radius 4 by the midpoint drawer against radius 4.01.
  EXPECT_EQ(drawn(12, 12, [](PIX_IBitmap* b) { PIX_Circle(b, 5, 5, 4.01f, kWhite, 1.0f, 0, false); }),
            maskPixels(1, 1,
                       {"..#####..", ".#.....#.", "#.......#", "#.......#", "#.......#", "#.......#", "#.......#",
                        ".#.....#.", "..#####.."}));
  // The anti-aliased mask of radius 3: its bytes are the weights (add mode onto 0 gives byte x 255 / 256).
  GuardedBitmap bm(9, 9);
  fillAll(&bm, 0);
  PIX_Circle(&bm, 4.0f, 4.0f, 3.0f, kWhite, 1.0f, 1, true);
  EXPECT_EQ(bm.at(3, 1), 0xFEFEFEFEu);  // mask 0xFF at weight 255
  EXPECT_EQ(bm.at(2, 1), 0x8E8E8E8Eu);  // mask 0x8F
  EXPECT_EQ(bm.at(1, 1), 0u);           // mask 0
}

TEST(Circle, FilledDiscCombinesEveryPixelOnce) {
  for (bool aa : {false, true})
    for (float r : {2.2f, 5.0f, 7.6f}) {
      GuardedBitmap bm(20, 20);
      fillAll(&bm, 0);
      PIX_FillCircle(&bm, 9.3f, 9.6f, r, 0x01010101, 1.0f, 1, aa);
      for (int y = 0; y < 20; y++)
        for (int x = 0; x < 20; x++) EXPECT_LE(bm.at(x, y) & 0xFF, 1u) << x << "," << y << " r " << r << " aa " << aa;
      // Centre row and column are inside.
      EXPECT_EQ(bm.at(9, 10), 0x01010101u);
      EXPECT_EQ(bm.at(9, 10 - (int)r + 1), 0x01010101u);
    }
}

TEST(Circle, ClippingChangesNoPixelOfTheVisiblePart) {
  // The same circle near the edge of a small bitmap and well inside a large one, compared over the small area.
  for (bool aa : {false, true})
    for (bool filled : {false, true}) {
      GuardedBitmap small(10, 10), large(40, 40);
      fillAll(&small, 0), fillAll(&large, 0);
      auto draw = [&](PIX_IBitmap* b, float cx, float cy) {
        if (filled)
          PIX_FillCircle(b, cx, cy, 7.3f, 0x20202020, 0.8f, 1, aa);
        else
          PIX_Circle(b, cx, cy, 7.3f, 0x20202020, 0.8f, 1, aa);
      };
      draw(&small, 2.4f, 8.6f);
      draw(&large, 22.4f, 28.6f);
      for (int y = 0; y < 10; y++)
        for (int x = 0; x < 10; x++) EXPECT_EQ(small.at(x, y), large.at(x + 20, y + 20)) << x << "," << y;
    }
}

TEST(Circle, OutlineStoresOrAverages) {
  GuardedBitmap bm(20, 20);
  fillAll(&bm, 0x10203040);
  PIX_Circle(&bm, 10, 10, 6, 0x12345678, 1.0f, 0, false);
  EXPECT_EQ(bm.at(10, 4), 0x12345678u);
  fillAll(&bm, 0x10203040);
  PIX_Circle(&bm, 10, 10, 6, 0x30405060, 0.5f, 0, false);
  EXPECT_EQ(bm.at(10, 4), 0x20304050u);
}

TEST(Arc, AnglesInEitherOrderAndWholeTurns) {
  auto arc = [](float a, float b) {
    return drawn(30, 30, [&](PIX_IBitmap* bm) { PIX_Arc(bm, 15, 15, 10, a, b, kWhite, 1.0f, 0, false); });
  };
  const PixelSet quarter = arc(0, 1.5707964f);
  EXPECT_FALSE(quarter.empty());
  EXPECT_EQ(arc(1.5707964f, 0), quarter);
  for (auto& p : quarter) {
    EXPECT_GE(p.first, 15);
    EXPECT_LE(p.second, 15);
  }
  EXPECT_TRUE(quarter.count({15, 5}));
  EXPECT_EQ(arc(0, 7), drawn(30, 30, [](PIX_IBitmap* bm) { PIX_Circle(bm, 15, 15, 10, kWhite, 1.0f, 0, false); }));
  const float twoPi = 6.2831855f;
  EXPECT_EQ(arc(7, 8), arc(7 - twoPi, 8 - twoPi));
  for (bool aa : {false, true})
    EXPECT_EQ(drawn(30, 30, [&](PIX_IBitmap* bm) { PIX_Arc(bm, 15, 15, 10, 0, 1, kWhite, 0.003f, 0, aa); }).size(), 0u);
}

TEST(RoundRect, SmallRadiusIsARectangleLargeRadiusIsLimited) {
  EXPECT_EQ(drawn(30, 30, [](PIX_IBitmap* b) { PIX_RoundRect(b, 2.5f, 3.9f, 20, 10, 1, kWhite, 1.0f, 0, false); }),
            drawn(30, 30, [](PIX_IBitmap* b) { PIX_DrawRect(b, 2, 3, 20, 10, kWhite, 1.0f, 0); }));
  EXPECT_EQ(drawn(30, 30, [](PIX_IBitmap* b) { PIX_RoundRect(b, 2, 3, 20, 10, 50, kWhite, 1.0f, 0, false); }),
            drawn(30, 30, [](PIX_IBitmap* b) { PIX_RoundRect(b, 2, 3, 20, 10, 5, kWhite, 1.0f, 0, false); }));
  PixelSet r = drawn(30, 30, [](PIX_IBitmap* b) { PIX_RoundRect(b, 2, 3, 20, 10, 4, kWhite, 1.0f, 0, false); });
  EXPECT_FALSE(r.count({2, 3}));  // the corner is cut
  EXPECT_TRUE(r.count({12, 3}));
  EXPECT_TRUE(r.count({12, 13}));
  EXPECT_TRUE(r.count({2, 8}));
  EXPECT_TRUE(r.count({22, 8}));
}

TEST(Shapes, WeightZeroDrawsNothingAnywhere) {
  const int xs[3] = {1, 9, 4}, ys[3] = {1, 2, 9};
  const unsigned char mask[4] = {255, 255, 255, 255};
  std::vector<std::function<void(PIX_IBitmap*, float, int)>> ops = {
      [](PIX_IBitmap* b, float a, int m) { PIX_Line(b, 0, 0, 9, 4, kWhite, a, m, false); },
      [](PIX_IBitmap* b, float a, int m) { PIX_Line(b, 0, 0, 9, 4, kWhite, a, m, true); },
      [](PIX_IBitmap* b, float a, int m) { PIX_FLine(b, 0.5f, 0, 9, 4.5f, kWhite, a, m, true); },
      [](PIX_IBitmap* b, float a, int m) { PIX_DashedLine(b, 0, 2, 9, 2, 2, 1, kWhite, a, m, false); },
      [&](PIX_IBitmap* b, float a, int m) { PIX_FillConvexPolygon(b, xs, ys, 3, kWhite, a, m); },
      [](PIX_IBitmap* b, float a, int m) { PIX_Circle(b, 5, 5, 3.3f, kWhite, a, m, true); },
      [](PIX_IBitmap* b, float a, int m) { PIX_Circle(b, 5, 5, 2, kWhite, a, m, true); },
      [](PIX_IBitmap* b, float a, int m) { PIX_FillCircle(b, 5, 5, 3.3f, kWhite, a, m, false); },
      [](PIX_IBitmap* b, float a, int m) { PIX_RoundRect(b, 1, 1, 8, 8, 3, kWhite, a, m, true); },
      [&](PIX_IBitmap* b, float a, int m) { PIX_DrawGlyph(b, 2, 2, kWhite, mask, 2, 2, a, m); },
      [](PIX_IBitmap* b, float a, int m) { PIX_DrawCBezier(b, 0, 0, 3, 9, 6, 0, 9, 9, kWhite, a, m, true, 1); },
      [](PIX_IBitmap* b, float a, int m) { PIX_FillCBezier(b, 0, 0, 3, 9, 6, 0, 9, 9, 5, kWhite, a, m, 1); },
  };
  for (size_t i = 0; i < ops.size(); i++)
    for (int mode = 0; mode < 8; mode++) {
      const float alpha = mode < 6 ? 0.003f : 1.0f;  // weight 0, or a mode beyond 5 at full weight
      EXPECT_EQ(drawn(
                    10, 10, [&](PIX_IBitmap* b) { ops[i](b, alpha, mode); }, 0x80808080)
                    .size(),
                0u)
          << i << " mode " << mode;
      EXPECT_GT(drawn(
                    10, 10, [&](PIX_IBitmap* b) { ops[i](b, 1.0f, mode == 7 ? 0x10000 : mode % 6); }, 0x80808080)
                    .size(),
                0u)
          << i << " mode " << mode;
    }
}

// ---- Glyphs ----

TEST(Glyph, ClipsAndWeights) {
  const unsigned char mask[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
  GuardedBitmap bm(4, 4);
  fillAll(&bm, 0);
  PIX_DrawGlyph(&bm, -1, -1, kWhite, mask, 3, 3, 1.0f, 1);
  EXPECT_EQ(changed(&bm), rect(0, 0, 1, 1));
  EXPECT_EQ(bm.at(0, 0), 0x04040404u);  // mask byte 5: weight 5, adding 255 x 5 / 256
  // Right and bottom edges cut the mask; a mask wholly outside draws nothing.
  fillAll(&bm, 0);
  PIX_DrawGlyph(&bm, 2, 3, kWhite, mask, 3, 3, 1.0f, 0);
  EXPECT_EQ(changed(&bm), rect(2, 3, 3, 3));
  fillAll(&bm, 0);
  PIX_DrawGlyph(&bm, 4, 0, kWhite, mask, 3, 3, 1.0f, 0);
  PIX_DrawGlyph(&bm, -3, 0, kWhite, mask, 3, 3, 1.0f, 0);
  PIX_DrawGlyph(&bm, 0, -3, kWhite, mask, 3, 3, 1.0f, 0);
  EXPECT_EQ(changed(&bm).size(), 0u);
  // Full coverage at alpha 1 is weight 255: add of 255 onto 0 gives 254.
  const unsigned char full = 255;
  PIX_DrawGlyph(&bm, 1, 1, kWhite, &full, 1, 1, 1.0f, 1);
  EXPECT_EQ(bm.at(1, 1), 0xFEFEFEFEu);
  // Row step of the Ex form.
  fillAll(&bm, 0);
  const unsigned char wide[8] = {255, 0, 9, 9, 0, 255, 9, 9};
  PIX_DrawGlyphEx(&bm, 0, 0, kWhite, wide, 2, 4, 2, 1.0f, 0);
  EXPECT_EQ(changed(&bm), PixelSet({{0, 0}, {1, 1}}));
}

TEST(Glyph, ZeroBytesLeaveEveryModeUntouchedAndFlippedIsUpright) {
  const unsigned char mask[4] = {0, 200, 0, 0};
  for (int mode = 0; mode < 6; mode++) {
    GuardedBitmap bm(3, 3);
    Rng rng(mode);
    fillRandom(&bm, rng);
    GuardedBitmap before(3, 3);
    copyPixels(&before, &bm);
    PIX_DrawGlyph(&bm, 0, 0, 0x80C04020, mask, 2, 2, 1.0f, mode);
    for (int y = 0; y < 3; y++)
      for (int x = 0; x < 3; x++)
        if (!(x == 1 && y == 0)) {
          EXPECT_EQ(bm.at(x, y), before.at(x, y)) << mode;
        }
  }
  GuardedBitmap up(3, 3), flipped(3, 3, true);
  fillAll(&up, 0), fillAll(&flipped, 0);
  const unsigned char tri[4] = {255, 0, 128, 64};
  PIX_DrawGlyph(&up, 1, 0, kWhite, tri, 2, 2, 1.0f, 0);
  PIX_DrawGlyph(&flipped, 1, 0, kWhite, tri, 2, 2, 1.0f, 0);
  EXPECT_TRUE(samePixels(&up, &flipped));
}

// ---- Curves ----

TEST(Bezier, StraightCurvesAndClipping) {
  // A control point on the straight line between the ends draws that line.
  EXPECT_EQ(drawn(30, 10, [](PIX_IBitmap* b) { PIX_DrawQBezier(b, 2, 5, 10, 5, 20, 5, kWhite, 1, 0, false, 1); }),
            rect(2, 5, 20, 5));
  // Wholly left of the bitmap: nothing; crossing the left edge: starts at x = 0.
  EXPECT_EQ(
      drawn(30, 10, [](PIX_IBitmap* b) { PIX_DrawQBezier(b, -20, 5, -10, 9, -2, 5, kWhite, 1, 0, false, 1); }).size(),
      0u);
  PixelSet cross =
      drawn(30, 10, [](PIX_IBitmap* b) { PIX_DrawCBezier(b, -10, 2, -3, 2, 3, 2, 10, 2, kWhite, 1, 0, false, 1); });
  EXPECT_EQ(cross, rect(0, 2, 10, 2));
  // A tolerance of 0 behaves as 1.
  for (bool aa : {false, true}) {
    EXPECT_EQ(
        drawn(30, 30, [&](PIX_IBitmap* b) { PIX_DrawCBezier(b, 1, 1, 25, 3, 2, 20, 28, 27, kWhite, 1, 0, aa, 0); }),
        drawn(30, 30, [&](PIX_IBitmap* b) { PIX_DrawCBezier(b, 1, 1, 25, 3, 2, 20, 28, 27, kWhite, 1, 0, aa, 1); }));
    EXPECT_EQ(drawn(30, 30, [&](PIX_IBitmap* b) { PIX_DrawQBezier(b, 1, 1, 25, 3, 28, 27, kWhite, 1, 0, aa, -3); }),
              drawn(30, 30, [&](PIX_IBitmap* b) { PIX_DrawQBezier(b, 1, 1, 25, 3, 28, 27, kWhite, 1, 0, aa, 1); }));
  }
}

TEST(Bezier, GetY) {
  double t = -1;
  EXPECT_FLOAT_EQ(PIX_Bezier_GetY<float>(0, 5, 10, 0, 5, 10, 4, &t), 4.0f);
  EXPECT_NEAR(t, 0.4, 1e-6);
  EXPECT_FLOAT_EQ(PIX_Bezier_GetY<float>(0, 2, 10, 0, 8, 0, -1, &t), 0.0f);
  EXPECT_EQ(t, 0.0);
  EXPECT_FLOAT_EQ(PIX_Bezier_GetY<float>(0, 2, 10, 0, 8, 3, 11, &t), 3.0f);
  EXPECT_EQ(t, 1.0);
  // A curved x: t from the quadratic's root; y at that t.
  const float y = PIX_Bezier_GetY<float>(0, 8, 10, 0, 10, 0, 5, &t);
  const double x = 2 * (1 - t) * t * 8 + t * t * 10;
  EXPECT_NEAR(x, 5.0, 1e-4);
  EXPECT_NEAR(y, 2 * (1 - t) * t * 10, 1e-4);
  float nextX = 0, slope = 0;
  double lo = 0, hi = 0;
  const float cy = PIX_CBezier_GetY<float>(0, 10, 20, 30, 0, 10, 20, 30, 12, &nextX, &slope, &lo, &hi);
  EXPECT_NEAR(cy, 12.0f, 1e-3);
  EXPECT_NEAR(slope, 1.0f, 1e-4);
  EXPECT_LT(lo, hi);
  EXPECT_LE(hi - lo, 1.0 / 256 + 1e-12);
  EXPECT_EQ(PIX_CBezier_GetY<float>(0, 10, 20, 30, 5, 10, 20, 7, -1, &nextX, &slope), 5.0f);
  EXPECT_EQ(nextX, 0.0f);
  EXPECT_EQ(slope, 0.0f);
}

TEST(Bezier, FillIsGaplessAndMixesOnce) {
  for (int vertical = 0; vertical < 2; vertical++) {
    GuardedBitmap bm(40, 40);
    fillAll(&bm, 0);
    if (vertical)
      PIX_FillCBezierX(&bm, 10, 2, 30, 12, 20, 25, 15, 38, 2, 0xFEFEFEFE, 0.5f, 0, 1);
    else
      PIX_FillCBezier(&bm, 2, 10, 12, 30, 25, 20, 38, 15, 2, 0xFEFEFEFE, 0.5f, 0, 1);
    int filled = 0;
    for (int i = 0; i < 40; i++) {
      // Along each slice from the fill line: one unbroken run of once-mixed pixels.
      int run = 0, runs = 0;
      bool in = false;
      for (int j = 0; j < 40; j++) {
        const PIX_pixel p = vertical ? bm.at(j, i) : bm.at(i, j);
        EXPECT_TRUE(p == 0 || p == 0x7F7F7F7F) << vertical << ": " << i << "," << j;
        if (p && !in) runs++;
        in = p != 0;
        run += in;
      }
      EXPECT_LE(runs, 1) << vertical << " slice " << i;
      if (i >= 3 && i <= 36) {
        EXPECT_EQ(runs, 1) << vertical << " slice " << i;
        const PIX_pixel line = vertical ? bm.at(2, i) : bm.at(i, 2);
        EXPECT_EQ(line, 0x7F7F7F7Fu) << vertical << " slice " << i;
      }
      filled += run;
    }
    EXPECT_GT(filled, 300) << vertical;
  }
}

}  // namespace

namespace {

// On a flipped bitmap an operation that honours the report turns every y into height - 1 - y (and, for arcs, an
// angle a into pi - a) and then works on memory rows: its memory equals that of the mirrored shape drawn upright.
TEST(Shapes, FlippedBitmapsDrawTheMirroredShape) {
  const int W = 24, H = 20;
  const float M = H - 1;
  struct Case {
    const char* name;
    std::function<void(PIX_IBitmap*, bool mirrored)> draw;
  } cases[] = {
      {"Line",
       [&](PIX_IBitmap* b, bool m) { PIX_Line(b, 2, m ? M - 3 : 3, 20, m ? M - 11 : 11, kWhite, 0.7f, 1, true); }},
      {"FLine",
       [&](PIX_IBitmap* b, bool m) {
         PIX_FLine(b, 2.5f, m ? M - 3.2f : 3.2f, 20.1f, m ? M - 11.7f : 11.7f, kWhite, 0.7f, 1, true);
       }},
      {"Circle",
       [&](PIX_IBitmap* b, bool m) { PIX_Circle(b, 11.2f, m ? M - 8.7f : 8.7f, 6.3f, kWhite, 0.7f, 1, true); }},
      {"FillCircle",
       [&](PIX_IBitmap* b, bool m) { PIX_FillCircle(b, 11.2f, m ? M - 8.7f : 8.7f, 6.3f, kWhite, 0.7f, 1, false); }},
      {"Arc",
       [&](PIX_IBitmap* b, bool m) {
         const float pi = 3.1415927f;
         PIX_Arc(b, 11, m ? M - 9 : 9, 7, m ? pi - 0.4f : 0.4f, m ? pi - 2.9f : 2.9f, kWhite, 0.7f, 1, false);
       }},
      {"Polygon",
       [&](PIX_IBitmap* b, bool m) {
         const int xs[4] = {3, 19, 15, 2}, ys[4] = {2, 4, 17, 12};
         int my[4];
         for (int i = 0; i < 4; i++) my[i] = m ? H - 1 - ys[i] : ys[i];
         PIX_FillConvexPolygon(b, xs, my, 4, kWhite, 0.7f, 1);
       }},
  };
  for (const Case& c : cases) {
    GuardedBitmap flipped(W, H, true), upright(W, H);
    fillAll(&flipped, 0), fillAll(&upright, 0);
    c.draw(&flipped, false);
    c.draw(&upright, true);
    EXPECT_EQ(memcmp(flipped.getBits(), upright.getBits(), W * H * 4), 0) << c.name;
    EXPECT_GT(changed(&upright).size(), 0u) << c.name;
  }
  // Masks are drawn upright in the picture.
  GuardedBitmap flipped(W, H, true), upright(W, H);
  fillAll(&flipped, 0), fillAll(&upright, 0);
  PIX_Circle(&flipped, 6, 7, 3.5f, kWhite, 1.0f, 0, true);
  PIX_Circle(&upright, 6, 7, 3.5f, kWhite, 1.0f, 0, true);
  EXPECT_TRUE(samePixels(&flipped, &upright));
}

}  // namespace

namespace {

TEST(Shapes, CoordinatesThatAreNotFiniteDrawNothing) {
  const float bad[] = {NAN, INFINITY, -INFINITY};
  for (float v : bad)
    for (int at = 0; at < 4; at++) {
      float c[4] = {1, 2, 7, 6};
      c[at] = v;
      std::vector<std::function<void(PIX_IBitmap*)>> ops = {
          [&](PIX_IBitmap* b) { PIX_FLine(b, c[0], c[1], c[2], c[3], kWhite, 1, 0, false); },
          [&](PIX_IBitmap* b) { PIX_FLine(b, c[0], c[1], c[2], c[3], kWhite, 1, 0, true); },
          [&](PIX_IBitmap* b) { PIX_Circle(b, c[0], c[1], at < 2 ? 2 : c[at], kWhite, 1, 0, false); },
          [&](PIX_IBitmap* b) { PIX_Circle(b, c[0], c[1], at < 2 ? 5 : c[at], kWhite, 1, 0, true); },
          [&](PIX_IBitmap* b) { PIX_FillCircle(b, c[0], c[1], at < 2 ? 5 : c[at], kWhite, 1, 0, true); },
          [&](PIX_IBitmap* b) { PIX_Arc(b, 4, 4, 3, c[at], 1, kWhite, 1, 0, false); },
          [&](PIX_IBitmap* b) { PIX_RoundRect(b, c[0], c[1], c[2], c[3], 2, kWhite, 1, 0, false); },
          [&](PIX_IBitmap* b) { PIX_DrawQBezier(b, c[0], c[1], 4, 4, c[2], c[3], kWhite, 1, 0, false, 1); },
          [&](PIX_IBitmap* b) { PIX_DrawCBezier(b, c[0], c[1], 4, 4, 5, 5, c[2], c[3], kWhite, 1, 0, true, 1); },
          [&](PIX_IBitmap* b) { PIX_FillCBezier(b, c[0], c[1], 4, 4, 5, 5, c[2], c[3], 0, kWhite, 1, 0, 1); },
      };
      for (size_t i = 0; i < ops.size(); i++)
        EXPECT_EQ(drawn(10, 10, ops[i]).size(), 0u) << i << " at " << at << " " << v;
    }
}

}  // namespace
