// Circle outlines and discs (fixed masks for the smallest radii, a midpoint drawer and an anti-aliased drawer for
// the rest), arcs cut from the outline by clip boxes, and rectangles with rounded corners.
#include <cmath>
#include <type_traits>

#include "KIT/pix/pix-shapes-internal.h"
#include "KIT/pix/pix.h"

using namespace pix_detail;

namespace {

struct Mask {
  float radius;
  int side;
  unsigned char plain[81], aa[81];
};

const Mask kMasks[] = {
    {1.5f,
     4,
     {0x00, 0xFF, 0xFF, 0x00, 0xFF, 0x00, 0x00, 0xFF, 0xFF, 0x00, 0x00, 0xFF, 0x00, 0xFF, 0xFF, 0x00},
     {0x4F, 0xFF, 0xFF, 0x4F, 0xFF, 0x0F, 0x0F, 0xFF, 0xFF, 0x0F, 0x0F, 0xFF, 0x4F, 0xFF, 0xFF, 0x4F}},
    {2.0f,
     5,
     {0x00, 0x00, 0xFF, 0x00, 0x00, 0x00, 0xFF, 0x00, 0xFF, 0x00, 0xFF, 0x00, 0x00,
      0x00, 0xFF, 0x00, 0xFF, 0x00, 0xFF, 0x00, 0x00, 0x00, 0xFF, 0x00, 0x00},
     {0x0F, 0xBF, 0xFF, 0xBF, 0x0F, 0xBF, 0xD1, 0x4F, 0xD1, 0xBF, 0xFF, 0x4F, 0x00,
      0x4F, 0xFF, 0xBF, 0xD1, 0x4F, 0xD1, 0xBF, 0x0F, 0xBF, 0xFF, 0xBF, 0x0F}},
    {2.5f,
     6,
     {0x00, 0x00, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0xFF, 0x00, 0x00, 0xFF, 0x00, 0xFF, 0x00, 0x00, 0x00, 0x00, 0xFF,
      0xFF, 0x00, 0x00, 0x00, 0x00, 0xFF, 0x00, 0xFF, 0x00, 0x00, 0xFF, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0x00, 0x00},
     {0x0F, 0xBF, 0xFF, 0xFF, 0xBF, 0x0F, 0xBF, 0xD1, 0x4F, 0x4F, 0xD1, 0xBF, 0xFF, 0x4F, 0x00, 0x00, 0x4F, 0xFF,
      0xFF, 0x4F, 0x00, 0x00, 0x4F, 0xFF, 0xBF, 0xD1, 0x4F, 0x4F, 0xD1, 0xBF, 0x0F, 0xBF, 0xFF, 0xFF, 0xBF, 0x0F}},
    {3.0f,
     7,
     {0x00, 0x00, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0xFF, 0x00, 0x00, 0x00, 0xFF, 0x00, 0xFF, 0x00, 0x00,
      0x00, 0x00, 0x00, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x00,
      0xFF, 0x00, 0xFF, 0x00, 0x00, 0x00, 0xFF, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0x00, 0x00},
     {0x00, 0x8F, 0xFF, 0xFF, 0xFF, 0x8F, 0x00, 0x8F, 0xFF, 0x61, 0x40, 0x61, 0xFF, 0x8F, 0xFF, 0x70, 0x00,
      0x00, 0x00, 0x70, 0xFF, 0xFF, 0x30, 0x00, 0x00, 0x00, 0x30, 0xFF, 0xFF, 0x70, 0x00, 0x00, 0x00, 0x70,
      0xFF, 0x8F, 0xFF, 0x61, 0x40, 0x61, 0xFF, 0x8F, 0x00, 0x8F, 0xFF, 0xFF, 0xFF, 0x8F, 0x00}},
    {3.5f,
     8,
     {0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0x00, 0x00, 0xFF, 0xFF, 0x00,
      0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xFF,
      0xFF, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF,
      0x00, 0xFF, 0xFF, 0x00, 0x00, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00},
     {0x00, 0x4F, 0xDE, 0xFF, 0xFF, 0xDE, 0x4F, 0x00, 0x4F, 0xFF, 0xB0, 0x40, 0x40, 0xB0, 0xFF, 0x4F,
      0xDE, 0xB0, 0x00, 0x00, 0x00, 0x00, 0xB0, 0xDE, 0xFF, 0x40, 0x00, 0x00, 0x00, 0x00, 0x40, 0xFF,
      0xFF, 0x40, 0x00, 0x00, 0x00, 0x00, 0x40, 0xFF, 0xDE, 0xB0, 0x00, 0x00, 0x00, 0x00, 0xB0, 0xDE,
      0x4F, 0xFF, 0xB0, 0x40, 0x40, 0xB0, 0xFF, 0x4F, 0x00, 0x4F, 0xDE, 0xFF, 0xFF, 0xDE, 0x4F, 0x00}},
    {4.0f,
     9,
     {0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0xFF, 0xFF,
      0x00, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
      0x00, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x00,
      0x00, 0x00, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0x00, 0xFF, 0xFF, 0x00, 0x00,
      0x00, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00},
     {0x00, 0x1F, 0xB0, 0xFF, 0xFF, 0xFF, 0xB0, 0x1F, 0x00, 0x1F, 0xF0, 0xD1, 0x4F, 0x40, 0x4F, 0xD1, 0xF0,
      0x1F, 0xB0, 0xD1, 0x0F, 0x00, 0x00, 0x00, 0x0F, 0xD1, 0xB0, 0xFF, 0x4F, 0x00, 0x00, 0x00, 0x00, 0x00,
      0x4F, 0xFF, 0xFF, 0x30, 0x00, 0x00, 0x00, 0x00, 0x00, 0x30, 0xFF, 0xFF, 0x4F, 0x00, 0x00, 0x00, 0x00,
      0x00, 0x4F, 0xFF, 0xB0, 0xD1, 0x0F, 0x00, 0x00, 0x00, 0x0F, 0xD1, 0xB0, 0x1F, 0xF0, 0xD1, 0x4F, 0x40,
      0x4F, 0xD1, 0xF0, 0x1F, 0x00, 0x1F, 0xB0, 0xFF, 0xFF, 0xFF, 0xB0, 0x1F, 0x00}},
};

// Clip box: left, top, right, bottom, the last two exclusive.
struct Clip {
  int l, t, r, b;
};

const double kMaxRadius = 16777216.0;

}  // namespace

template <class C>
class _PIX_CircleDrawer {
 public:
  struct Ctx {
    const Surface& s;
    Rgba c;
    Clip clip;
    bool clipping;
  };

  static inline void DrawClippedPt(const Ctx& k, int64_t x, int64_t y, int w) {
    if (k.clipping && (x < k.clip.l || x >= k.clip.r || y < k.clip.t || y >= k.clip.b)) return;
    combine<C>(pixelAt(k.s, (int)x, (int)y), k.c, w);
  }
  template <class L = C>
  static inline void DrawClippedVertLine(const Ctx& k, int64_t x, int64_t y1, int64_t y2, int w) {
    if (k.clipping) {
      if (x < k.clip.l || x >= k.clip.r) return;
      if (y1 < k.clip.t) y1 = k.clip.t;
      if (y2 > k.clip.b - 1) y2 = k.clip.b - 1;
    }
    if (y1 > y2) return;
    PIX_pixel* p = pixelAt(k.s, (int)x, (int)y1);
    for (int64_t y = y1; y <= y2; y++, p += k.s.span) combine<L>(p, k.c, w);
  }
  template <class L = C>
  static inline void DrawClippedHorzLine(const Ctx& k, int64_t y, int64_t x1, int64_t x2, int w) {
    if (k.clipping) {
      if (y < k.clip.t || y >= k.clip.b) return;
      if (x1 < k.clip.l) x1 = k.clip.l;
      if (x2 > k.clip.r - 1) x2 = k.clip.r - 1;
    }
    if (x1 > x2) return;
    PIX_pixel* p = pixelAt(k.s, (int)x1, (int)y);
    for (int64_t x = x1; x <= x2; x++, p++) combine<L>(p, k.c, w);
  }

  // Every pixel of the step at distance d from the centre lies in column xc +- d or row yc +- d; past the furthest
  // clip edge in both directions nothing more can be drawn.
  static int64_t reach(const Ctx& k, int64_t xc, int64_t yc) {
    int64_t m = xc - k.clip.l;
    m = std::max(m, (int64_t)k.clip.r - 1 - xc);
    m = std::max(m, yc - k.clip.t);
    return std::max(m, (int64_t)k.clip.b - 1 - yc);
  }

  static void DrawClippedCircle(const Ctx& k, float cx, float cy, float r, bool filled, int w) {
    const int64_t xc = truncSat64((double)cx + 0.5), yc = truncSat64((double)cy + 0.5);
    int64_t R = truncSat64((double)r + 0.5);
    if (filled) {
      DrawClippedVertLine(k, xc, yc - R, yc - 1, w);
      DrawClippedVertLine(k, xc, yc + 1, yc + R, w);
      DrawClippedHorzLine(k, yc, xc - R, xc + R, w);
    } else {
      DrawClippedPt(k, xc, yc - R, w);
      DrawClippedPt(k, xc + R, yc, w);
      DrawClippedPt(k, xc, yc + R, w);
      DrawClippedPt(k, xc - R, yc, w);
    }
    if (R < 2) return;
    const int64_t limit = reach(k, xc, yc);
    int64_t e = -R;
    for (int64_t i = 0;; i++) {
      if (e >= 0) {
        e -= 2 * (R - 1);
        R--;
      }
      const int64_t d = i + 1;
      if (d > limit) break;
      if (filled) {
        DrawClippedVertLine(k, xc - d, yc - R, yc - d - 1, w);
        DrawClippedVertLine(k, xc - d, yc + d + 1, yc + R, w);
        DrawClippedVertLine(k, xc + d, yc - R, yc - d - 1, w);
        DrawClippedVertLine(k, xc + d, yc + d + 1, yc + R, w);
        DrawClippedHorzLine(k, yc - d, xc - R, xc - d, w);
        DrawClippedHorzLine(k, yc - d, xc + d, xc + R, w);
        DrawClippedHorzLine(k, yc + d, xc - R, xc - d, w);
        DrawClippedHorzLine(k, yc + d, xc + d, xc + R, w);
      } else {
        DrawClippedPt(k, xc - d, yc - R, w);
        DrawClippedPt(k, xc - d, yc + R, w);
        DrawClippedPt(k, xc + d, yc - R, w);
        DrawClippedPt(k, xc + d, yc + R, w);
        if (d != R) {
          DrawClippedPt(k, xc - R, yc - d, w);
          DrawClippedPt(k, xc - R, yc + d, w);
          DrawClippedPt(k, xc + R, yc - d, w);
          DrawClippedPt(k, xc + R, yc + d, w);
        }
      }
      e += 2 * i + 3;
      if (!(i + 2 < R)) break;
    }
  }

  // F combines the inside of a disc, all at the full weight W: the caller passes a plain store when that gives the
  // same pixels (a copy at 256), as the inside is most of the work.
  template <class F = C>
  static void DrawClippedCircleAA(const Ctx& k, float cx, float cy, float r, bool filled, int W) {
    const int64_t xc = truncSat64((double)cx + 0.5), yc = truncSat64((double)cy + 0.5);
    const int64_t ri = truncSat64(r);
    const int w0 = (int)((r - std::floor(r)) * W);
    DrawClippedPt(k, xc, yc - ri - 1, w0);
    DrawClippedPt(k, xc, yc + ri + 1, w0);
    DrawClippedPt(k, xc - ri - 1, yc, w0);
    DrawClippedPt(k, xc + ri + 1, yc, w0);
    if (filled) {
      DrawClippedVertLine<F>(k, xc, yc - ri, yc - 1, W);
      DrawClippedVertLine<F>(k, xc, yc + 1, yc + ri, W);
      DrawClippedHorzLine<F>(k, yc, xc - ri, truncSat64((double)cx + (double)ri), W);
    } else {
      DrawClippedPt(k, xc, yc - ri, W - w0);
      DrawClippedPt(k, xc + ri, yc, W - w0);
      DrawClippedPt(k, xc, yc + ri, W - w0);
      DrawClippedPt(k, xc - ri, yc, W - w0);
    }
    const float rr = r * r;
    double s = std::sqrt((double)(rr - 1.0f));
    int64_t n = truncSat64(s + 0.5);
    if (!(n >= 1)) return;
    const int64_t limit = reach(k, xc, yc);
    for (int64_t i = 1; i <= limit; i++) {
      const int64_t xi = truncSat64(s);
      const int wf = (int)((s - std::floor(s)) * W);
      DrawClippedPt(k, xc - i, yc - xi - 1, wf);
      DrawClippedPt(k, xc - i, yc + xi + 1, wf);
      DrawClippedPt(k, xc + i, yc - xi - 1, wf);
      DrawClippedPt(k, xc + i, yc + xi + 1, wf);
      if (i != n) {
        DrawClippedPt(k, xc - xi - 1, yc - i, wf);
        DrawClippedPt(k, xc + xi + 1, yc - i, wf);
        DrawClippedPt(k, xc - xi - 1, yc + i, wf);
        DrawClippedPt(k, xc + xi + 1, yc + i, wf);
      }
      if (filled) {
        DrawClippedVertLine<F>(k, xc - i, yc - xi, yc - i - 1, W);
        DrawClippedVertLine<F>(k, xc - i, yc + i + 1, yc + xi, W);
        DrawClippedVertLine<F>(k, xc + i, yc - xi, yc - i - 1, W);
        DrawClippedVertLine<F>(k, xc + i, yc + i + 1, yc + xi, W);
        DrawClippedHorzLine<F>(k, yc - i, xc - xi, xc - i, W);
        DrawClippedHorzLine<F>(k, yc - i, xc + i, xc + xi, W);
        DrawClippedHorzLine<F>(k, yc + i, xc - xi, xc - i, W);
        DrawClippedHorzLine<F>(k, yc + i, xc + i, xc + xi, W);
      } else {
        DrawClippedPt(k, xc - xi, yc - i, W - wf);
        DrawClippedPt(k, xc + xi, yc - i, W - wf);
        DrawClippedPt(k, xc - i, yc + xi, W - wf);
        DrawClippedPt(k, xc + i, yc + xi, W - wf);
        if (i != n) {
          DrawClippedPt(k, xc - i, yc - xi, W - wf);
          DrawClippedPt(k, xc + i, yc - xi, W - wf);
          DrawClippedPt(k, xc - xi, yc + i, W - wf);
          DrawClippedPt(k, xc + xi, yc + i, W - wf);
        }
      }
      const double i1 = (double)(i + 1);
      s = std::sqrt((double)(rr - (float)(i1 * i1)));
      n = s == s ? truncSat64(s + 0.5) : 0;
      if (!(i < n)) break;
    }
  }
};

namespace {

// The common drawer. The caller has flipped cy already; the clip box must lie within the bitmap.
void __DrawCircleClipped(const Surface& s, float cx, float cy, float r, unsigned int color, int weight, bool aa,
                         bool filled, int mode, const Clip& clip, bool clipping) {
  if (weight == 0 || (mode & 0xFF) > 5) return;
  if (!finite(cx) || !finite(cy) || !(r >= 0) || (double)r > kMaxRadius) return;
  // A circle whose box (one pixel of anti-aliased edge and rounding included) misses the clip draws nothing.
  const double m = (double)r + 2.0;
  if ((double)cx + m < clip.l || (double)cx - m >= clip.r || (double)cy + m < clip.t || (double)cy - m >= clip.b)
    return;
  dispatchShape(mode & 0xFF, weight, aa, [&](auto tag) {
    typedef typename decltype(tag)::type C;
    typename _PIX_CircleDrawer<C>::Ctx k{s, Rgba(color), clip, clipping};
    if (aa && std::is_same<C, _PIX_CombinePixelsCopyNoClamp>::value && weight == 256)
      _PIX_CircleDrawer<C>::template DrawClippedCircleAA<_PIX_CombinePixelsClobberNoClamp>(k, cx, cy, r, filled,
                                                                                           weight);
    else if (aa)
      _PIX_CircleDrawer<C>::DrawClippedCircleAA(k, cx, cy, r, filled, weight);
    else
      _PIX_CircleDrawer<C>::DrawClippedCircle(k, cx, cy, r, filled, weight);
  });
}

void circle(PIX_IBitmap* dest, float cx, float cy, float r, unsigned int color, float alpha, int mode, bool aa,
            bool filled) {
  Surface s;
  if (!surfaceOf(dest, &s)) return;
  if (s.flipped) cy = (float)(s.h - 1) - cy;
  const int weight = shapeWeight(alpha);
  if (weight == 0 || !(r >= 0)) return;
  const Clip whole{0, 0, s.w, s.h};
  const bool inside =
      (double)cx - r - 2 >= 0 && (double)cy - r - 2 >= 0 && (double)cx + r + 2 < s.w && (double)cy + r + 2 < s.h;
  __DrawCircleClipped(s, cx, cy, r, color, weight, aa, filled, mode, whole, !inside);
}

}  // namespace

void PIX_Circle(PIX_IBitmap* dest, float cx, float cy, float r, unsigned int color, float alpha, int mode, bool aa) {
  if (!dest || !finite(cx) || !finite(cy)) return;
  for (const Mask& m : kMasks)
    if (r == m.radius) {
      PIX_DrawGlyph(dest, truncSat((double)(cx - r)), truncSat((double)(cy - r)), color, aa ? m.aa : m.plain, m.side,
                    m.side, alpha, mode);
      return;
    }
  circle(dest, cx, cy, r, color, alpha, mode, aa, false);
}

void PIX_FillCircle(PIX_IBitmap* dest, float cx, float cy, float r, unsigned int color, float alpha, int mode,
                    bool aa) {
  circle(dest, cx, cy, r, color, alpha, mode, aa, true);
}

void PIX_Arc(PIX_IBitmap* dest, float cx, float cy, float r, float minAngle, float maxAngle, unsigned int color,
             float alpha, int mode, bool aa) {
  Surface s;
  if (!surfaceOf(dest, &s)) return;
  if (!finite(minAngle) || !finite(maxAngle) || !finite(cx) || !finite(cy) || !finite(r)) return;
  const float kPi = 3.1415927f, kTurn = 6.2831855f;
  const float callerCy = cy;
  if (s.flipped) {
    cy = (float)(s.h - 1) - cy;
    minAngle = kPi - minAngle;
    maxAngle = kPi - maxAngle;
  }
  float lo = std::min(minAngle, maxAngle), hi = std::max(minAngle, maxAngle);
  if (hi - lo >= kTurn) {
    PIX_Circle(dest, cx, callerCy, r, color, alpha, mode, aa);
    return;
  }
  if (hi >= kTurn) {
    const float nhi = (float)std::fmod((double)hi, (double)kTurn);
    lo -= hi - nhi;
    hi = nhi;
  } else if (lo <= -kTurn) {
    const float nlo = (float)std::fmod((double)lo, (double)kTurn);
    hi += nlo - lo;
    lo = nlo;
  }
  const int weight = shapeWeight(alpha);
  if (weight == 0) return;
  const double twoPi = 2.0 * M_PI, quarter = M_PI / 2.0;
  double a = (double)lo + twoPi;
  const double end = (double)hi + twoPi;
  auto pointAt = [&](double ang, int64_t* x, int64_t* y) {
    *x = truncSat64((double)cx + (double)r * std::sin(ang) + 0.5);
    *y = truncSat64((double)cy - (double)r * std::cos(ang) + 0.5);
  };
  int64_t x0, y0;
  pointAt(a, &x0, &y0);
  // At most five pieces: the span is below a whole turn.
  for (int piece = 0; piece < 6 && end > a; piece++) {
    double next = a - std::fmod(a, quarter) + quarter;
    if (next > end) next = end;
    int64_t x1, y1;
    pointAt(next, &x1, &y1);
    const int64_t maxx = std::max(x0, x1), maxy = std::max(y0, y1);
    // Every side is held within the bitmap before it becomes an int: the points of a huge radius lie far out.
    auto within = [](int64_t v, int hi) { return (int)(v < 0 ? 0 : (v > hi ? hi : v)); };
    Clip clip;
    clip.l = within(std::min(x0, x1), s.w);
    clip.t = within(std::min(y0, y1), s.h);
    clip.r = within((double)maxx == (double)cx ? maxx : maxx + 1, s.w);
    clip.b = within((double)maxy == (double)cy ? maxy : maxy + 1, s.h);
    if (clip.l < clip.r && clip.t < clip.b)
      __DrawCircleClipped(s, cx, cy, r, color, weight, aa, false, mode, clip, true);
    x0 = x1, y0 = y1, a = next;
  }
}

void PIX_RoundRect(PIX_IBitmap* dest, float x, float y, float w, float h, int cornerradius, unsigned int color,
                   float alpha, int mode, bool aa) {
  if (!finite(x) || !finite(y) || !finite(w) || !finite(h)) return;
  const int xi = truncSat((double)x), yi = truncSat((double)y);
  if (cornerradius > 0) {
    float c = (float)cornerradius;
    if (c > w / 2) c = w / 2;
    if (c > h / 2) c = h / 2;
    c = std::floor(c);
    if (c >= 2) {
      auto T = [](float v) { return truncSat((double)v); };
      PIX_Line(dest, T(x + c), yi, T(x + w - c), yi, color, alpha, mode, aa);
      PIX_Line(dest, T(x + c - 1), T(y + h), T(x + w - c), T(y + h), color, alpha, mode, aa);
      PIX_Line(dest, T(x + w), T(y + c), T(x + w), T(y + h - c), color, alpha, mode, aa);
      PIX_Line(dest, xi, T(y + c - 1), xi, T(y + h - c), color, alpha, mode, aa);
      const float kPi = 3.1415927f;
      PIX_Arc(dest, x + c, y + c, c, -kPi / 2, 0, color, alpha, mode, aa);
      PIX_Arc(dest, x + w - c, y + c, c, 0, kPi / 2, color, alpha, mode, aa);
      PIX_Arc(dest, x + w - c, y + h - c, c, kPi / 2, kPi, color, alpha, mode, aa);
      PIX_Arc(dest, x + c, y + h - c, c, kPi, 3 * kPi / 2, color, alpha, mode, aa);
      return;
    }
  }
  PIX_DrawRect(dest, xi, yi, truncSat((double)w), truncSat((double)h), color, alpha, mode);
}
