// Lines, outlines, polygon fills, circles, arcs, glyph masks and curves.
//
// Only the low byte of the mode word counts here (0 copy .. 5 HSV adjust, above 5 draws nothing); the
// source-alpha and filter bits have no effect. Coordinates may be anything, including values far outside the
// bitmap; float coordinates that are not finite draw nothing.
#pragma once

#include "KIT/pix/pix-bitmap.h"

// ---- Integer lines and rectangle outlines ----

// Both end points included. The anti-aliased form spreads each step over the two pixels nearest the exact line.
void PIX_Line(PIX_IBitmap* dest, int x1, int y1, int x2, int y2, unsigned int color, float alpha, int mode, bool aa);
// Outline through (x, y) and (x + w, y + h), both included; each corner pixel is combined twice.
void PIX_DrawRect(PIX_IBitmap* dest, int x, int y, int w, int h, unsigned int color, float alpha, int mode);
// The inside filled with bgcolor, the outline drawn with fgcolor.
void PIX_BorderedRect(PIX_IBitmap* dest, int x, int y, int w, int h, unsigned int bgcolor, unsigned int fgcolor,
                      float alpha, int mode);
// Clips the segment in place to xLo <= x < xHi, yLo <= y < yHi; true when something is left. The coordinates are
// written back in every case (after a rejection they hold the partly moved points).
bool PIX_ClipLine(int* pX1, int* pY1, int* pX2, int* pY2, int xLo, int yLo, int xHi, int yHi);

// ---- Float and dashed lines ----

// Without aa: the integer line through the truncated end points. With aa: every whole major coordinate between
// the ends is drawn as a pair of pixels weighted by the exact minor position.
void PIX_FLine(PIX_IBitmap* dest, float x1, float y1, float x2, float y2, unsigned int color, float alpha, int mode,
               bool aa);
// Clips to xLo <= x < xHi - 1, yLo <= y < yHi - 1 (so that the second pixel of an anti-aliased pair stays inside).
bool PIX_ClipFLine(float* pX1, float* pY1, float* pX2, float* pY2, float xLo, float yLo, float xHi, float yHi);
// A horizontal or vertical line of pxon pixels on, pxoff off, starting with a dash at the smaller end; the larger
// end is never drawn. Slanted lines and patterns that do not advance (pxon + pxoff <= 0) draw nothing. Works on
// memory rows (ignores a flipped report). aa is accepted and ignored.
void PIX_DashedLine(PIX_IBitmap* dest, int x1, int y1, int x2, int y2, int pxon, int pxoff, unsigned int color,
                    float alpha, int mode, bool aa);

// ---- Polygon fills (not anti-aliased) ----

// Rows y1 to y2 (either order) between the edges that join the spans x1a..x1b and x2a..x2b, ends included.
// Works on memory rows (ignores a flipped report).
void PIX_FillTrapezoid(PIX_IBitmap* dest, int x1a, int x1b, int y1, int x2a, int x2b, int y2, unsigned int color,
                       float alpha, int mode);
// The convex polygon of the points, given in any order; every pixel is combined once.
void PIX_FillConvexPolygon(PIX_IBitmap* dest, const int* x, const int* y, int npoints, unsigned int color, float alpha,
                           int mode);
void PIX_FillTriangle(PIX_IBitmap* dest, int x1, int y1, int x2, int y2, int x3, int y3, unsigned int color,
                      float alpha, int mode);

// ---- Circles, arcs, rounded rectangles ----

// Radii 1.5, 2, 2.5, 3, 3.5 and 4 are drawn from fixed masks; others by the midpoint or anti-aliased drawer.
// Radii above 16777216 (beyond float precision) draw nothing.
void PIX_Circle(PIX_IBitmap* dest, float cx, float cy, float r, unsigned int color, float alpha, int mode, bool aa);
void PIX_FillCircle(PIX_IBitmap* dest, float cx, float cy, float r, unsigned int color, float alpha, int mode, bool aa);
// Angles in radians, 0 pointing up and growing clockwise; their order does not matter.
void PIX_Arc(PIX_IBitmap* dest, float cx, float cy, float r, float minAngle, float maxAngle, unsigned int color,
             float alpha, int mode, bool aa);
void PIX_RoundRect(PIX_IBitmap* dest, float x, float y, float w, float h, int cornerradius, unsigned int color,
                   float alpha, int mode, bool aa);

// ---- Glyph masks ----

// One coverage byte per pixel (0 untouched, 255 full), the mask's top-left byte on (x, y).
void PIX_DrawGlyph(PIX_IBitmap* dest, int x, int y, unsigned int color, const unsigned char* alphas, int glyph_w,
                   int glyph_h, float alpha, int mode);
// As PIX_DrawGlyph with mask rows glyph_span bytes apart.
void PIX_DrawGlyphEx(PIX_IBitmap* dest, int x, int y, unsigned int color, const unsigned char* alphas, int glyph_w,
                     int glyph_span, int glyph_h, float alpha, int mode);

// ---- Bezier curves ----

// Quadratic curve from (xstart, ystart) through control (xctl, yctl) to (xend, yend), as a chain of float lines
// of about tol pixels each.
void PIX_DrawQBezier(PIX_IBitmap* dest, float xstart, float ystart, float xctl, float yctl, float xend, float yend,
                     unsigned int color, float alpha, int mode, bool aa, float tol);
void PIX_DrawCBezier(PIX_IBitmap* dest, float xstart, float ystart, float xctl1, float yctl1, float xctl2, float yctl2,
                     float xend, float yend, unsigned int color, float alpha, int mode, bool aa, float tol);
// Fills between the cubic curve and the horizontal line y = yfill, column slice by column slice.
void PIX_FillCBezier(PIX_IBitmap* dest, float xstart, float ystart, float xctl1, float yctl1, float xctl2, float yctl2,
                     float xend, float yend, int yfill, unsigned int color, float alpha, int mode, float tol);
// Fills between the cubic curve and the vertical line x = xfill, row slice by row slice.
void PIX_FillCBezierX(PIX_IBitmap* dest, float xstart, float ystart, float xctl1, float yctl1, float xctl2, float yctl2,
                      float xend, float yend, int xfill, unsigned int color, float alpha, int mode, float tol);

// y of the quadratic curve (x0, y0), (x1, y1), (x2, y2) at x, for x increasing from x0 to x2; *t gets the
// parameter.
template <class T>
T PIX_Bezier_GetY(T x0, T x1, T x2, T y0, T y1, T y2, T x, double* t = nullptr);
// y of the cubic curve at x, for x increasing from x0 to x3, found by bisection and interpolation within the
// final bracket: *nextX gets the bracket's upper x, *dYdX the slope there, *ptLo and *ptHi the bracket's t.
template <class T>
T PIX_CBezier_GetY(T x0, T x1, T x2, T x3, T y0, T y1, T y2, T y3, T x, T* nextX = nullptr, T* dYdX = nullptr,
                   double* ptLo = nullptr, double* ptHi = nullptr);
