// The shapes sheet: every line, outline, fill, circle, arc, glyph and curve operation in every blend mode, compared
// pixel by pixel with tests/golden/raster/shapes.png (VEXMIR_UPDATE_GOLDEN=1 rewrites it).
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "tests/raster/raster_util.h"
#include "tests/support/Pixels.h"

using namespace rastertest;

namespace {

const int kCell = 48;
const float kAlphas[] = {1.0f, 0.5f, 0.25f, 0.75f, 0.6f};

// Grey steps across, a colour ramp down, so that every mode has something to work on.
void background(PIX_IBitmap* bm, int x0, int y0) {
  for (int y = 0; y < kCell; y++)
    for (int x = 0; x < kCell; x++) {
      const int step = 30 + (x / 12) * 60, ramp = y * 255 / (kCell - 1);
      PIX_PutPixel(bm, x0 + x, y0 + y, PIX_RGBA((step + ramp) / 2, step, 255 - ramp, 255), 1.0f, 0);
    }
}

typedef void (*Cell)(PIX_IBitmap*, int x, int y, unsigned int color, int mode);

void linesPlain(PIX_IBitmap* b, int x, int y, unsigned int c, int m) {
  const int cx = x + 24, cy = y + 24;
  const int ends[][2] = {{22, 0}, {22, 22}, {0, 22}, {22, 7}, {7, 22}, {-22, 9}, {-9, -22}, {-22, -22}, {15, -22}};
  for (int i = 0; i < 9; i++) PIX_Line(b, cx, cy, cx + ends[i][0], cy + ends[i][1], c, kAlphas[i % 5], m, false);
  PIX_Line(b, x - 30, y + 46, x + 100, y + 40, c, 1.0f, m, false);  // clipped by the sheet at the left
}

void linesAA(PIX_IBitmap* b, int x, int y, unsigned int c, int m) {
  const int cx = x + 24, cy = y + 24;
  const int ends[][2] = {{22, 0}, {22, 22}, {0, 22}, {22, 7}, {7, 22}, {-22, 9}, {-9, -22}, {-22, -22}, {15, -22}};
  for (int i = 0; i < 9; i++) PIX_Line(b, cx + ends[i][0], cy + ends[i][1], cx, cy, c, kAlphas[i % 5], m, true);
}

void rects(PIX_IBitmap* b, int x, int y, unsigned int c, int m) {
  PIX_DrawRect(b, x + 2, y + 2, 20, 12, c, 1.0f, m);
  PIX_DrawRect(b, x + 26, y + 2, 18, 12, c, 0.5f, m);
  PIX_BorderedRect(b, x + 2, y + 18, 40, 12, 0x80808080 ^ c, c, 0.75f, m);
  PIX_DrawRect(b, x + 4, y + 34, 0, 0, c, 1.0f, m);
  PIX_DrawRect(b, x + 8, y + 34, 30, 10, c, 0.3f, m);
}

void flines(PIX_IBitmap* b, int x, int y, unsigned int c, int m) {
  for (int i = 0; i < 8; i++) {
    const float a = 0.3f + i * 0.75f;
    const float x1 = x + 24.3f, y1 = y + 24.6f, x2 = x1 + 21.7f * std::sin(a), y2 = y1 - 21.2f * std::cos(a);
    PIX_FLine(b, x1, y1, x2, y2, c, kAlphas[i % 5], m, i % 4 != 3);
  }
}

void dashes(PIX_IBitmap* b, int x, int y, unsigned int c, int m) {
  PIX_DashedLine(b, x + 2, y + 3, x + 45, y + 3, 2, 2, c, 1.0f, m, false);
  PIX_DashedLine(b, x + 45, y + 7, x + 2, y + 7, 5, 3, c, 0.5f, m, false);
  PIX_DashedLine(b, x + 2, y + 11, x + 45, y + 11, 1, 4, c, 0.7f, m, false);
  PIX_DashedLine(b, x + 4, y + 14, x + 4, y + 46, 1, 1, c, 1.0f, m, false);
  PIX_DashedLine(b, x + 9, y + 46, x + 9, y + 14, 3, 2, c, 0.25f, m, false);
  PIX_DashedLine(b, x + 14, y + 14, x + 14, y + 46, 4, 1, c, 0.6f, m, false);
}

void trapezoids(PIX_IBitmap* b, int x, int y, unsigned int c, int m) {
  PIX_FillTrapezoid(b, x + 4, x + 20, y + 2, x + 1, x + 30, y + 14, c, 1.0f, m);
  PIX_FillTrapezoid(b, x + 44, x + 30, y + 18, x + 24, x + 46, y + 4, c, 0.5f, m);
  PIX_FillTriangle(b, x + 2, y + 46, x + 22, y + 20, x + 30, y + 44, c, 0.75f, m);
  PIX_FillTriangle(b, x + 46, y + 24, x + 28, y + 30, x + 40, y + 46, c, 0.6f, m);
}

void polygons(PIX_IBitmap* b, int x, int y, unsigned int c, int m) {
  const int ox[8] = {8, 16, 22, 22, 16, 8, 2, 2}, oy[8] = {2, 2, 8, 16, 22, 22, 16, 8};
  int xs[8], ys[8];
  for (int i = 0; i < 8; i++) xs[i] = x + ox[(i * 3) % 8], ys[i] = y + oy[(i * 3) % 8];
  PIX_FillConvexPolygon(b, xs, ys, 8, c, 1.0f, m);
  // 600 points on an ellipse (beyond the fixed point buffer), at half alpha.
  std::vector<int> ex, ey;
  for (int i = 0; i < 600; i++) {
    const double a = i * 2 * M_PI / 600;
    ex.push_back(x + 30 + (int)std::lround(15 * std::sin(a)));
    ey.push_back(y + 30 - (int)std::lround(16 * std::cos(a)));
  }
  PIX_FillConvexPolygon(b, ex.data(), ey.data(), 600, c, 0.5f, m);
  for (int i = 0; i < 8; i++) xs[i] = x + ox[i] / 2 + 26, ys[i] = y + oy[i] / 2 + 2;
  PIX_FillConvexPolygon(b, xs, ys, 8, c, 0.3f, m);
}

void smallCircles(PIX_IBitmap* b, int x, int y, unsigned int c, int m) {
  const float radii[6] = {1.5f, 2, 2.5f, 3, 3.5f, 4};
  for (int i = 0; i < 6; i++) {
    PIX_Circle(b, x + 6 + i * 7.3f, y + 8.4f, radii[i], c, 1.0f, m, false);
    PIX_Circle(b, x + 6 + i * 7.3f, y + 20.4f, radii[i], c, 1.0f, m, true);
    PIX_Circle(b, x + 6 + i * 7.3f, y + 32.4f, radii[i], c, 0.5f, m, i % 2);
  }
  PIX_Circle(b, x + 44, y + 44, 2.01f, c, 1.0f, m, false);
  PIX_Circle(b, x + 4, y + 44, 4, c, 1.0f, m, true);
}

void circles(PIX_IBitmap* b, int x, int y, unsigned int c, int m) {
  PIX_Circle(b, x + 14.2f, y + 14.7f, 11.3f, c, 1.0f, m, false);
  PIX_Circle(b, x + 14.2f, y + 14.7f, 6.6f, c, 0.5f, m, false);
  PIX_FillCircle(b, x + 34, y + 34, 12.4f, c, 0.6f, m, false);
  PIX_FillCircle(b, x + 36, y + 10, 7, c, 1.0f, m, false);
  PIX_Circle(b, x + 2, y + 46, 9.5f, c, 0.75f, m, false);  // clipped at the cell's corner, not the sheet
}

void circlesAA(PIX_IBitmap* b, int x, int y, unsigned int c, int m) {
  PIX_Circle(b, x + 14.2f, y + 14.7f, 11.3f, c, 1.0f, m, true);
  PIX_Circle(b, x + 14.2f, y + 14.7f, 6.6f, c, 0.5f, m, true);
  PIX_FillCircle(b, x + 34, y + 34, 12.4f, c, 0.6f, m, true);
  PIX_FillCircle(b, x + 36, y + 10, 7.5f, c, 1.0f, m, true);
  PIX_FillCircle(b, x - 3, y + 49, 9.5f, c, 1.0f, m, true);  // clipped by the sheet's left edge
}

void arcs(PIX_IBitmap* b, int x, int y, unsigned int c, int m) {
  PIX_Arc(b, x + 14, y + 14, 11, 0, 1.5707964f, c, 1.0f, m, false);
  PIX_Arc(b, x + 14, y + 14, 8, 2.0f, 5.5f, c, 1.0f, m, true);
  PIX_Arc(b, x + 14, y + 14, 5.4f, -1.0f, 8.0f, c, 0.5f, m, false);
  PIX_RoundRect(b, x + 26, y + 3, 19, 20, 6, c, 1.0f, m, false);
  PIX_RoundRect(b, x + 3, y + 28, 40, 16, 5, c, 0.75f, m, true);
  PIX_RoundRect(b, x + 8, y + 32, 10, 8, 1, c, 1.0f, m, false);
}

void glyphs(PIX_IBitmap* b, int x, int y, unsigned int c, int m) {
  unsigned char mask[20 * 20];
  for (int j = 0; j < 20; j++)
    for (int i = 0; i < 20; i++) {
      const int d2 = (i - 10) * (i - 10) + (j - 10) * (j - 10);
      mask[j * 20 + i] = (unsigned char)(d2 > 90 ? 0 : (90 - d2) * 255 / 90);
    }
  PIX_DrawGlyph(b, x + 2, y + 2, c, mask, 20, 20, 1.0f, m);
  PIX_DrawGlyph(b, x + 24, y + 2, c, mask, 20, 20, 0.5f, m);
  PIX_DrawGlyphEx(b, x + 8, y + 26, c, mask + 5 * 20, 20, 40, 8, 1.0f, m);  // every other row, 8 rows
  PIX_DrawGlyph(b, x + 36, y + 36, c, mask, 20, 20, 0.8f, m);               // cut by the next cell
}

void curves(PIX_IBitmap* b, int x, int y, unsigned int c, int m) {
  PIX_DrawQBezier(b, x + 2, y + 4, x + 40, y + 2, x + 44, y + 22, c, 1.0f, m, false, 1);
  PIX_DrawQBezier(b, x + 2, y + 10, x + 30, y + 30, x + 44, y + 8, c, 0.75f, m, true, 2);
  PIX_DrawCBezier(b, x + 2, y + 44, x + 10, y + 10, x + 30, y + 60, x + 46, y + 24, c, 1.0f, m, true, 1);
  PIX_DrawCBezier(b, x + 46, y + 46, x + 30, y + 20, x + 10, y + 50, x + 2, y + 30, c, 0.5f, m, false, 3);
}

void curveFills(PIX_IBitmap* b, int x, int y, unsigned int c, int m) {
  PIX_FillCBezier(b, x + 2, y + 12, x + 12, y + 2, x + 22, y + 24, x + 46, y + 8, y + 20, c, 0.75f, m, 1);
  PIX_FillCBezierX(b, x + 10, y + 26, x + 30, y + 30, x + 0, y + 40, x + 20, y + 47, x + 44, c, 0.5f, m, 1);
}

TEST(Golden, ShapesSheet) {
  const Cell cells[] = {linesPlain,   linesAA, rects,     flines, dashes, trapezoids, polygons,
                        smallCircles, circles, circlesAA, arcs,   glyphs, curves,     curveFills};
  const int cols = sizeof cells / sizeof cells[0], rows = 6;
  const unsigned int colors[rows] = {PIX_RGBA(250, 240, 40, 255), PIX_RGBA(120, 60, 200, 255),
                                     PIX_RGBA(90, 200, 240, 180), PIX_RGBA(60, 230, 120, 255),
                                     PIX_RGBA(230, 40, 120, 255), PIX_RGBA(200, 100, 170, 255)};
  PIX_MemBitmap sheet(cols * kCell, rows * kCell, 4);
  for (int row = 0; row < rows; row++)
    for (int col = 0; col < cols; col++) background(&sheet, col * kCell, row * kCell);
  for (int row = 0; row < rows; row++)
    for (int col = 0; col < cols; col++) cells[col](&sheet, col * kCell, row * kCell, colors[row], row);
  pixels::expectMatchesGolden(&sheet, "raster", "shapes");
}

}  // namespace
