// Sheets of blend modes and scalings compared pixel by pixel with pictures kept under tests/golden/raster/. A
// failing comparison writes <name>.actual.png and <name>.diff.png in the working folder. With
// VEXMIR_UPDATE_GOLDEN=1 the sheets are written as the new golden pictures instead.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <memory>

#include "tests/raster/png_util.h"
#include "tests/raster/raster_util.h"
#include "tests/support/Pixels.h"

using namespace rastertest;

namespace {

// A source picture with colour ramps, a pattern and a soft round alpha edge, all in integer arithmetic.
void drawSource(PIX_IBitmap* bm) {
  const int w = bm->getWidth(), h = bm->getHeight();
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++) {
      const int dx = 2 * x - w + 1, dy = 2 * y - h + 1, r2 = w * w;
      const int d2 = dx * dx + dy * dy;
      int a = d2 >= r2 ? 0 : 255 - 255 * d2 / r2;
      if (a > 200) a = 255;
      const int r = x * 255 / (w - 1), g = y * 255 / (h - 1), b = ((x / 4 + y / 4) & 1) ? 230 : 40;
      PIX_PutPixel(bm, x, y, PIX_RGBA(r, g, b, a), 1.0f, 0);
    }
}

// A background of grey steps under a diagonal colour wash.
void drawBackground(PIX_IBitmap* bm, int x0, int y0, int w, int h) {
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++) {
      const int step = ((x * 4 / w) * 70 + 20) & 255;
      const int wash = (x + y) * 255 / (w + h);
      PIX_PutPixel(bm, x0 + x, y0 + y, PIX_RGBA((step + wash) / 2, step, (step + 255 - wash) / 2, 255), 1.0f, 0);
    }
}

TEST(Golden, BlendModeSheet) {
  // Rows: modes 0 to 5, plain then source alpha; columns: weights. Each cell blits the source over the background,
  // then fills a band below it with the source's centre colour in the same mode.
  const int cell = 40, cols = 5, rows = 12;
  const float weights[cols] = {0.25f, 0.5f, 0.6f, 0.75f, 1.0f};
  PIX_MemBitmap sheet(cols * cell, rows * cell, 4);
  PIX_MemBitmap src(cell, cell - 8, 4);
  drawSource(&src);
  const PIX_pixel band = PIX_GetPixel(&src, cell / 3, cell / 3);
  for (int row = 0; row < rows; row++)
    for (int col = 0; col < cols; col++) {
      const int mode = (row % 6) | (row >= 6 ? 0x10000 : 0);
      const int x = col * cell, y = row * cell;
      drawBackground(&sheet, x, y, cell, cell);
      PIX_Blit(&sheet, &src, x, y, nullptr, weights[col], mode);
      PIX_FillRect(&sheet, x + 4, y + cell - 8, cell - 8, 6, band, weights[col], mode);
    }
  pixels::expectMatchesGolden(&sheet, "raster", "blend-modes");
}

TEST(Golden, ScalingSheet) {
  PIX_MemBitmap src(24, 18, 4);
  drawSource(&src);
  for (int y = 0; y < 18; y++) PIX_PutPixel(&src, y + 3, y, 0xFFFFFFFF, 1.0f, 0);  // a one-pixel diagonal
  PIX_MemBitmap sheet(360, 240, 4);
  drawBackground(&sheet, 0, 0, 360, 240);
  struct Cell {
    int x, y, w, h;
    float sx, sy, sw, sh;
    int mode;
  } cells[] = {
      {4, 4, 60, 45, 0, 0, 24, 18, 0},                 // nearest, 2.5 times
      {68, 4, 60, 45, 0, 0, 24, 18, 0x100},            // bilinear, 2.5 times
      {132, 4, 60, 45, 0, 0, 24, 18, 0x10100},         // bilinear with source alpha
      {256, 4, -60, 45, 0, 0, 24, 18, 0x100},          // mirrored across (x is the right edge)
      {264, 49, 60, -45, 0, 0, 24, 18, 0},             // mirrored down (y is the bottom edge)
      {4, 60, 16, 12, 0, 0, 24, 18, 0x100},            // 1.5 down: bilinear
      {24, 60, 8, 6, 0, 0, 24, 18, 0x100},             // 3 down: 3x3 box
      {36, 60, 5, 4, 0, 0, 24, 18, 0x100},             // beyond 3 down: 5x5 box
      {46, 60, 12, 12, 0, 0, 24, 18, 0},               // nearest 2 across, 1.5 down
      {64, 60, 40, 30, 6.5f, 4.25f, 10, 7.5f, 0x100},  // part of the source, fractional start
      {110, 60, 48, 36, -3, -3, 30, 24, 0x100},        // reaching beyond the source
      {164, 60, 60, 45, 0, 0, 24, 18, 0x103},          // bilinear multiply
      {228, 60, 60, 45, 0, 0, 24, 18, 0x10001},        // nearest add with source alpha
      {292, 60, 60, 45, 0, 0, 24, 18, 0x100},          // alpha 0.5 below
  };
  for (const Cell& c : cells)
    PIX_ScaledBlit(&sheet, &src, c.x, c.y, c.w, c.h, c.sx, c.sy, c.sw, c.sh,
                   c.mode == 0x100 && c.x == 292 ? 0.5f : 1.0f, c.mode);
  // Rotations about the centre, nearest and bilinear, at eighth turns.
  for (int i = 0; i < 8; i++) {
    const float angle = (float)i * 3.14159265f / 4.0f;
    PIX_RotatedBlit(&sheet, &src, 4 + i * 44, 116, 40, 40, 0, 0, 24, 18, angle, false, 1.0f, 0x10000, 0, 0);
    PIX_RotatedBlit(&sheet, &src, 4 + i * 44, 164, 40, 40, 0, 0, 24, 18, angle, true, 1.0f, 0x10100, 0, 0);
  }
  // A warped grid: a trapezoid pulled from the source.
  float grid[] = {0, 0, 24, 0, 6, 18, 18, 18};
  PIX_TransformBlit(&sheet, &src, 4, 208, 120, 30, grid, 2, 2, 1.0f, 0x10000);
  // The source copied, then blurred in place twice.
  PIX_Blit(&sheet, &src, 140, 210, nullptr, 1.0f, 0x10000);
  PIX_Blit(&sheet, &src, 170, 210, nullptr, 1.0f, 0x10000);
  PIX_Blur(&sheet, &sheet, 170, 210, 170, 210, 24, 18);
  PIX_Blur(&sheet, &sheet, 170, 210, 170, 210, 24, 18);
  pixels::expectMatchesGolden(&sheet, "raster", "scaling");
}

}  // namespace
