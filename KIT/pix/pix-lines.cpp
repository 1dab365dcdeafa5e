// One-pixel lines: integer lines (plain and anti-aliased), rectangle outlines, float lines and dashed lines, with
// their clippers.
#include <cmath>
#include <cstdlib>

#include "KIT/pix/pix-shapes-internal.h"
#include "KIT/pix/pix.h"

using namespace pix_detail;

namespace {

// ---- Integer clipper (Cohen-Sutherland) ----

// Coordinates run in 64 bits so that differences of any two ints, and a flipped y, cannot overflow.
int outcode(int64_t x, int64_t y, int64_t w, int64_t h) {
  int c = x < 0 ? 1 : (x >= w ? 2 : 0);
  return c | (y < 0 ? 4 : (y >= h ? 8 : 0));
}

bool clipLine64(int64_t* x1, int64_t* y1, int64_t* x2, int64_t* y2, int64_t w, int64_t h) {
  if (w < 1 || h < 1) return false;
  int c1 = outcode(*x1, *y1, w, h), c2 = outcode(*x2, *y2, w, h);
  // Each move puts one coordinate of one point inside and keeps the other between the two points, so a few rounds
  // settle every segment; the bound only guards the loop.
  for (int round = 0; round < 16; round++) {
    if (!(c1 | c2)) return true;
    if (c1 & c2) return false;
    const int c = c1 ? c1 : c2;
    const double dx = (double)(*x2 - *x1), dy = (double)(*y2 - *y1);
    int64_t x, y;
    if (c & 8) {
      x = *x1 + truncSat64((double)(h - *y1) * dx / dy);
      y = h - 1;
    } else if (c & 4) {
      x = *x1 + truncSat64((double)(0 - *y1) * dx / dy);
      y = 0;
    } else if (c & 2) {
      y = *y1 + truncSat64(dy * (double)(w - *x1) / dx);
      x = w - 1;
    } else {
      y = *y1 + truncSat64(dy * (double)(0 - *x1) / dx);
      x = 0;
    }
    if (c1) {
      *x1 = x, *y1 = y;
      c1 = outcode(x, y, w, h);
    } else {
      *x2 = x, *y2 = y;
      c2 = outcode(x, y, w, h);
    }
  }
  return false;
}

// Clips against 0 <= x < w, 0 <= y < h; the coordinates are written back in every case.
bool ClipLine(int* x1, int* y1, int* x2, int* y2, int w, int h) {
  int64_t X1 = *x1, Y1 = *y1, X2 = *x2, Y2 = *y2;
  bool ok = clipLine64(&X1, &Y1, &X2, &Y2, w, h);
  *x1 = clampInt(X1), *y1 = clampInt(Y1), *x2 = clampInt(X2), *y2 = clampInt(Y2);
  return ok;
}

// ---- Word-wise spans for copies at alpha 1, 0.5, 0.25 and 0.75 ----

struct StoreWord {
  static PIX_pixel prepare(PIX_pixel c) { return c; }
  static void doPix(PIX_pixel* d, PIX_pixel k) { *d = k; }
};

template <class M>
void wordSpan(PIX_pixel* p, intptr_t step, int n, PIX_pixel color) {
  const PIX_pixel k = M::prepare(color);
  for (int i = 0; i < n; i++, p += step) M::doPix(p, k);
}

// Runs the word-wise span for an exact copy alpha; false when the alpha has none.
bool fastCopySpan(PIX_pixel* p, intptr_t step, int n, PIX_pixel color, float alpha) {
  if (alpha == 1.0f)
    wordSpan<StoreWord>(p, step, n, color);
  else if (alpha == 0.5f)
    wordSpan<_PIX_CombinePixelsHalfMix2FAST>(p, step, n, color);
  else if (alpha == 0.25f)
    wordSpan<_PIX_CombinePixelsQuarterMix2FAST>(p, step, n, color);
  else if (alpha == 0.75f)
    wordSpan<_PIX_CombinePixelsThreeQuarterMix2FAST>(p, step, n, color);
  else
    return false;
  return true;
}

}  // namespace

// ---- Span writers, one instantiation per combiner ----

template <class C>
class __PIX_LineClassSimple {
 public:
  static void PIX_HorizLine(unsigned int* px, int n, unsigned int color, int alpha) {
    const Rgba c(color);
    for (int i = 0; i < n; i++) combine<C>(px + i, c, alpha);
  }
  static void PIX_VertLine(unsigned int* px, int span, int n, int color, int alpha) {
    const Rgba c((PIX_pixel)color);
    for (int i = 0; i < n; i++, px += span) combine<C>(px, c, alpha);
  }
  static void PIX_DiagLine(unsigned int* px, int span, int n, int xstep, int ystep, unsigned int color, int alpha) {
    (void)span;
    const Rgba c(color);
    for (int i = 0; i <= n; i++, px += xstep + ystep) combine<C>(px, c, alpha);
  }
  static void PIX_DiagLineAA(unsigned int* px, int span, int n, int xstep, int ystep, unsigned int color, int alpha) {
    (void)span;
    if (n < 0) return;
    const Rgba c(color);
    const int main = (3 * alpha) / 4, side = alpha / 4;
    combine<C>(px, c, main);
    for (int i = 0; i < n; i++) {
      combine<C>(px + xstep, c, side);
      combine<C>(px + ystep, c, side);
      px += xstep + ystep;
      combine<C>(px, c, main);
    }
  }
};

template <class C>
class __PIX_LineClass {
 public:
  // Draws from both ends towards the middle; the two halves mirror each other.
  static void PIX_LineImpl(unsigned int* px, unsigned int* px2, int slope, int majorstep, int n, int minorstep,
                           unsigned int color, int alpha, bool aa) {
    const Rgba c(color);
    const int k = (n + 1) / 2;
    if (!aa) {
      int e = 0;
      for (int i = 0; i < k; i++) {
        combine<C>(px, c, alpha);
        combine<C>(px2, c, alpha);
        e += slope;
        if (e >= 32768) {
          px += minorstep;
          px2 -= minorstep;
          e -= 65536;
        }
        px += majorstep;
        px2 -= majorstep;
      }
      if (!(n & 1)) combine<C>(px, c, alpha);
      return;
    }
    combine<C>(px, c, alpha);
    combine<C>(px2, c, alpha);
    px += majorstep;
    px2 -= majorstep;
    int e = slope;
    for (int i = 1; i < k; i++) {
      const int f = e >> 8;
      const int wa = ((255 - f) * alpha) / 256, wb = (f * alpha) / 256;
      combine<C>(px, c, wa);
      combine<C>(px + minorstep, c, wb);
      combine<C>(px2, c, wa);
      combine<C>(px2 - minorstep, c, wb);
      e += slope;
      if (e >= 65536) {
        px += minorstep;
        px2 -= minorstep;
        e -= 65536;
      }
      px += majorstep;
      px2 -= majorstep;
    }
    if (!(n & 1)) {
      const int f = e >> 8;
      combine<C>(px, c, ((255 - f) * alpha) / 256);
      combine<C>(px + minorstep, c, (f * alpha) / 256);
    }
  }

  // n + 1 steps from px, each a pair of pixels weighted by the 16.16 error. minor and minorLimit give the minor
  // index of px and the number of valid minor indices: float rounding at the clipped ends can put a pair one
  // pixel beyond the exact line, and such a pixel is skipped rather than written outside the bitmap.
  static void PIX_FLineImpl(unsigned int* px, int n, int err, int derr, int majorstep, int minorstep,
                            unsigned int color, int alpha, int minor, int minorDir, int minorLimit) {
    const Rgba c(color);
    for (int i = 0; i <= n; i++) {
      const int f = err >> 8;
      if (minor >= 0 && minor < minorLimit) combine<C>(px, c, ((255 - f) * alpha) / 256);
      const int other = minor + minorDir;
      if (other >= 0 && other < minorLimit) combine<C>(px + minorstep, c, (f * alpha) / 256);
      err += derr;
      if (err >= 65536) {
        err -= 65536;
        px += minorstep;
        minor += minorDir;
      }
      px += majorstep;
    }
  }

  // Dashes along a clipped, ordered horizontal or vertical line of memory rows.
  static void DashedLine(PIX_IBitmap* dest, int x1, int y1, int x2, int y2, int pxon, int pxoff, unsigned int color,
                         int alpha) {
    Surface s;
    if (!surfaceOf(dest, &s)) return;
    if ((x1 != x2 && y1 != y2) || (int64_t)pxon + pxoff <= 0) return;
    const Rgba c(color);
    const bool horiz = y1 == y2;
    const intptr_t step = horiz ? 1 : s.span;
    const int64_t from = horiz ? x1 : y1, to = horiz ? x2 : y2;
    PIX_pixel* origin = pixelAt(s, x1, y1);
    auto dash = [&](int64_t at, int64_t count) {
      PIX_pixel* p = origin + (intptr_t)(at - from) * step;
      for (int64_t i = 0; i < count; i++, p += step) combine<C>(p, c, alpha);
    };
    int64_t pos = from;
    while (pos < to - pxon) {
      if (pxon > 0) dash(pos, pxon);
      pos += (int64_t)pxon + pxoff;
    }
    const int64_t last = to - pos < pxon ? to - pos : pxon;
    if (last >= 1) dash(pos, last);
  }
};

namespace {

template <template <class> class Op, class F>
bool withCombiner(int lowByte, int w, bool aa, F&& f) {
  return dispatchShape(lowByte, w, aa, [&](auto tag) {
    typedef typename decltype(tag)::type C;
    f(Op<C>());
  });
}

}  // namespace

void PIX_Line(PIX_IBitmap* dest, int x1, int y1, int x2, int y2, unsigned int color, float alpha, int mode, bool aa) {
  Surface s;
  if (!surfaceOf(dest, &s)) return;
  int64_t X1 = x1, Y1 = y1, X2 = x2, Y2 = y2;
  if (s.flipped) Y1 = s.h - 1 - Y1, Y2 = s.h - 1 - Y2;
  if (!clipLine64(&X1, &Y1, &X2, &Y2, s.w, s.h)) return;
  x1 = (int)X1, y1 = (int)Y1, x2 = (int)X2, y2 = (int)Y2;
  const int low = mode & 0xFF;

  if (y1 == y2 || x1 == x2) {
    const bool horiz = y1 == y2;
    PIX_pixel* p;
    int n;
    if (horiz) {
      if (x1 > x2) std::swap(x1, x2);
      p = pixelAt(s, x1, y1);
      n = x2 - x1 + 1;
    } else {
      if (y1 > y2) std::swap(y1, y2);
      p = pixelAt(s, x1, y1);
      n = y2 - y1 + 1;
    }
    if (low == 0 && fastCopySpan(p, horiz ? 1 : s.span, n, color, alpha)) return;
    const int w = shapeWeight(alpha);
    withCombiner<__PIX_LineClassSimple>(low, w, false, [&](auto op) {
      if (horiz)
        op.PIX_HorizLine(p, n, color, w);
      else
        op.PIX_VertLine(p, s.span, n, (int)color, w);
    });
    return;
  }

  const int dx = x2 - x1, dy = y2 - y1;
  if (std::abs(dx) == std::abs(dy)) {
    const int n = std::abs(dx);
    const int xstep = dx > 0 ? 1 : -1, ystep = dy > 0 ? s.span : -s.span;
    PIX_pixel* p = pixelAt(s, x1, y1);
    if (low == 0 && alpha == 1.0f) {
      if (!aa) {
        wordSpan<StoreWord>(p, xstep + ystep, n + 1, color);
        return;
      }
      typedef _PIX_CombinePixelsQuarterMix2FAST Q;
      typedef _PIX_CombinePixelsThreeQuarterMix2FAST T;
      const PIX_pixel q = Q::prepare(color), t = T::prepare(color);
      T::doPix(p, t);
      for (int i = 0; i < n; i++) {
        Q::doPix(p + xstep, q);
        Q::doPix(p + ystep, q);
        p += xstep + ystep;
        T::doPix(p, t);
      }
      return;
    }
    const int w = shapeWeight(alpha);
    withCombiner<__PIX_LineClassSimple>(low, w, aa, [&](auto op) {
      if (aa)
        op.PIX_DiagLineAA(p, s.span, n, xstep, ystep, color, w);
      else
        op.PIX_DiagLine(p, s.span, n, xstep, ystep, color, w);
    });
    return;
  }

  const bool xmajor = std::abs(dx) > std::abs(dy);
  int majorDelta = xmajor ? dx : dy, minorDelta = xmajor ? dy : dx;
  int sx = x1, sy = y1, ex = x2, ey = y2;
  if (majorDelta < 0) {
    std::swap(sx, ex), std::swap(sy, ey);
    majorDelta = -majorDelta, minorDelta = -minorDelta;
  }
  const int majorstep = xmajor ? 1 : s.span;
  const int minorstep = (xmajor ? s.span : 1) * (minorDelta < 0 ? -1 : 1);
  const int n = majorDelta;
  const int slope = (int)((double)std::abs(minorDelta) / n * 65536.0);
  const int w = shapeWeight(alpha);
  withCombiner<__PIX_LineClass>(low, w, aa, [&](auto op) {
    op.PIX_LineImpl(pixelAt(s, sx, sy), pixelAt(s, ex, ey), slope, majorstep, n, minorstep, color, w, aa);
  });
}

void PIX_DrawRect(PIX_IBitmap* dest, int x, int y, int w, int h, unsigned int color, float alpha, int mode) {
  const int r = clampInt((int64_t)x + w), b = clampInt((int64_t)y + h);
  PIX_Line(dest, x, y, r, y, color, alpha, mode, false);
  PIX_Line(dest, r, y, r, b, color, alpha, mode, false);
  PIX_Line(dest, r, b, x, b, color, alpha, mode, false);
  PIX_Line(dest, x, b, x, y, color, alpha, mode, false);
}

void PIX_BorderedRect(PIX_IBitmap* dest, int x, int y, int w, int h, unsigned int bgcolor, unsigned int fgcolor,
                      float alpha, int mode) {
  PIX_FillRect(dest, clampInt((int64_t)x + 1), clampInt((int64_t)y + 1), clampInt((int64_t)w - 1),
               clampInt((int64_t)h - 1), bgcolor, alpha, mode);
  PIX_DrawRect(dest, x, y, w, h, fgcolor, alpha, mode);
}

bool PIX_ClipLine(int* pX1, int* pY1, int* pX2, int* pY2, int xLo, int yLo, int xHi, int yHi) {
  int64_t X1 = (int64_t)*pX1 - xLo, Y1 = (int64_t)*pY1 - yLo, X2 = (int64_t)*pX2 - xLo, Y2 = (int64_t)*pY2 - yLo;
  const bool ok = clipLine64(&X1, &Y1, &X2, &Y2, (int64_t)xHi - xLo, (int64_t)yHi - yLo);
  *pX1 = clampInt(X1 + xLo), *pY1 = clampInt(Y1 + yLo), *pX2 = clampInt(X2 + xLo), *pY2 = clampInt(Y2 + yLo);
  return ok;
}

// ---- Float lines ----

namespace {

int foutcode(float x, float y, float xmax, float ymax) {
  int c = x < 0 ? 1 : (x >= xmax ? 2 : 0);
  return c | (y < 0 ? 4 : (y >= ymax ? 8 : 0));
}

// Clips against 0 <= x < w - 1, 0 <= y < h - 1 in single precision. Points or results that are not finite are
// rejected: an outcode of NaN would read as inside.
bool ClipFLine(float* x1, float* y1, float* x2, float* y2, int w, int h) {
  if (w < 2 || h < 2) return false;
  if (!finite(*x1) || !finite(*y1) || !finite(*x2) || !finite(*y2)) return false;
  const float xmax = (float)(w - 1), ymax = (float)(h - 1);
  int c1 = foutcode(*x1, *y1, xmax, ymax), c2 = foutcode(*x2, *y2, xmax, ymax);
  for (int round = 0; round < 16; round++) {
    if (!(c1 | c2)) return true;
    if (c1 & c2) return false;
    const int c = c1 ? c1 : c2;
    float x, y;
    if (c & 8) {
      x = *x1 + (ymax - *y1) * (*x2 - *x1) / (*y2 - *y1);
      y = ymax - 1;
    } else if (c & 4) {
      x = *x1 + (*x2 - *x1) * *y1 / (*y1 - *y2);
      y = 0;
    } else if (c & 2) {
      y = *y1 + (*y2 - *y1) * (xmax - *x1) / (*x2 - *x1);
      x = xmax - 1;
    } else {
      y = *y1 + (*y2 - *y1) * *x1 / (*x1 - *x2);
      x = 0;
    }
    if (!finite(x) || !finite(y)) return false;
    if (c1) {
      *x1 = x, *y1 = y;
      c1 = foutcode(x, y, xmax, ymax);
    } else {
      *x2 = x, *y2 = y;
      c2 = foutcode(x, y, xmax, ymax);
    }
  }
  return false;
}

}  // namespace

bool PIX_ClipFLine(float* pX1, float* pY1, float* pX2, float* pY2, float xLo, float yLo, float xHi, float yHi) {
  float x1 = *pX1 - xLo, y1 = *pY1 - yLo, x2 = *pX2 - xLo, y2 = *pY2 - yLo;
  const bool ok = ClipFLine(&x1, &y1, &x2, &y2, truncSat((double)(xHi - xLo)), truncSat((double)(yHi - yLo)));
  *pX1 = x1 + xLo, *pY1 = y1 + yLo, *pX2 = x2 + xLo, *pY2 = y2 + yLo;
  return ok;
}

void PIX_FLine(PIX_IBitmap* dest, float x1, float y1, float x2, float y2, unsigned int color, float alpha, int mode,
               bool aa) {
  // A truncated NaN would read as 0 and an infinity as the int limit; neither is a place on the bitmap.
  if (!dest || !finite(x1) || !finite(y1) || !finite(x2) || !finite(y2)) return;
  if (!aa) {
    PIX_Line(dest, truncSat(x1), truncSat(y1), truncSat(x2), truncSat(y2), color, alpha, mode, false);
    return;
  }
  Surface s;
  if (!surfaceOf(dest, &s)) return;
  if (s.flipped) y1 = (float)(s.h - 1) - y1, y2 = (float)(s.h - 1) - y2;
  if (!ClipFLine(&x1, &y1, &x2, &y2, s.w, s.h)) return;
  if (x1 == x2 && y1 == y2) return;

  const bool xmajor = std::fabs(x2 - x1) > std::fabs(y2 - y1);
  float a = xmajor ? x1 : y1, b = xmajor ? x2 : y2;
  float ma = xmajor ? y1 : x1, mb = xmajor ? y2 : x2;
  if (b - a < 0) std::swap(a, b), std::swap(ma, mb);
  const float slope = (mb - ma) / (b - a);
  const int minorDir = slope < 0 ? -1 : 1;
  const int majorstep = xmajor ? 1 : s.span;
  const int minorstep = (xmajor ? s.span : 1) * minorDir;

  const double ca = std::ceil((double)a);
  const int n = (int)(std::floor((double)b) - ca);
  const float m = ma + (float)(ca - a) * slope;
  int err = (int)((m - std::floor(m)) * 65536.0f);
  if (err > 65535) err = 65535;
  const int major = (int)ca;
  int minor = (int)m;
  if (minorDir < 0) {
    minor += 1;
    err = 65535 - err;
  }
  const int derr = (int)(std::fabs((double)slope) * 65536.0);

  const int w = shapeWeight(alpha);
  const int px = xmajor ? major : minor, py = xmajor ? minor : major;
  const int minorLimit = xmajor ? s.h : s.w;
  // The major coordinates ceil(a)..floor(b) lie inside the clipped segment; only the minor index needs watching.
  PIX_pixel* start = s.bits + (intptr_t)py * s.span + px;
  withCombiner<__PIX_LineClass>(mode & 0xFF, w, true, [&](auto op) {
    op.PIX_FLineImpl(start, n, err, derr, majorstep, minorstep, color, w, minor, minorDir, minorLimit);
  });
}

// ---- Dashed lines ----

void PIX_DashedLine(PIX_IBitmap* dest, int x1, int y1, int x2, int y2, int pxon, int pxoff, unsigned int color,
                    float alpha, int mode, bool aa) {
  (void)aa;
  Surface s;
  if (!surfaceOf(dest, &s)) return;
  if (!ClipLine(&x1, &y1, &x2, &y2, s.w, s.h)) return;
  if (y1 > y2) std::swap(y1, y2);
  const int low = mode & 0xFF;
  if (pxon == 1 && pxoff == 1 && x1 == x2 && alpha == 1.0f && low == 0) {
    const int len = y2 - y1 + 1;
    if (len < 2) return;
    wordSpan<StoreWord>(pixelAt(s, x1, y1), 2 * (intptr_t)s.span, len / 2, color);
    return;
  }
  if (x1 > x2) std::swap(x1, x2);
  const int w = shapeWeight(alpha);
  withCombiner<__PIX_LineClass>(low, w, false,
                                [&](auto op) { op.DashedLine(dest, x1, y1, x2, y2, pxon, pxoff, color, w); });
}
