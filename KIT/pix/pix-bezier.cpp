// Quadratic and cubic Bezier curves drawn as chains of float lines, and the area between a cubic curve and a
// horizontal or vertical line filled slice by slice with convex polygons.
#include <algorithm>
#include <cmath>

#include "KIT/pix/pix-shapes-internal.h"
#include "KIT/pix/pix.h"

using namespace pix_detail;

namespace {

// A curve spanning far more than the bitmap, or a tolerance near zero, would otherwise ask for billions of
// segments; past this many the segments are longer than asked, which only coarsens far-off parts of the curve.
const int kMaxSegments = 16384;

int segmentCount(double t0, double t1, double length, float tol) {
  const double tl = tol > 0 ? (double)tol : 1.0;
  const double n = (t1 - t0) * length / tl;
  if (!(n >= 1)) return 1;
  return n > kMaxSegments ? kMaxSegments : (int)n;
}

double legs(const float* x, const float* y, int npts) {
  double len = 0;
  for (int i = 1; i < npts; i++) len += std::hypot((double)x[i] - x[i - 1], (double)y[i] - y[i - 1]);
  return len;
}

bool allFinite(const float* v, int n) {
  for (int i = 0; i < n; i++)
    if (!finite(v[i])) return false;
  return true;
}

struct Cubic {
  double a, b, c, d;
  Cubic(double p0, double p1, double p2, double p3) {
    c = 3 * (p1 - p0);
    b = 3 * (p2 - p1) - c;
    a = p3 - p0 - c - b;
    d = p0;
  }
  double at(double t) const { return ((a * t + b) * t + c) * t + d; }
};

}  // namespace

template <class T>
T PIX_Bezier_GetY(T x0, T x1, T x2, T y0, T y1, T y2, T x, double* t) {
  double tt;
  T y;
  if (x <= x0) {
    tt = 0, y = y0;
  } else if (x >= x2) {
    tt = 1, y = y2;
  } else {
    const double a = (double)x2 - 2.0 * x1 + x0;
    if (a == 0) {
      if (x0 == x2) {
        tt = 0, y = y0;
      } else {
        tt = ((double)x - x0) / ((double)x2 - x0);
        y = (T)(y0 + (y2 - y0) * tt);
      }
    } else {
      const double b = 2.0 * ((double)x1 - x0);
      tt = (std::sqrt(b * b - 4 * a * ((double)x0 - x)) - b) / (2 * a);
      y = (T)(y0 * (1 - tt) * (1 - tt) + 2 * y1 * tt * (1 - tt) + y2 * tt * tt);
    }
  }
  if (t) *t = tt;
  return y;
}

template <class T>
T PIX_CBezier_GetY(T x0, T x1, T x2, T x3, T y0, T y1, T y2, T y3, T x, T* nextX, T* dYdX, double* ptLo, double* ptHi) {
  if (x0 > x || x >= x3) {
    const bool start = x0 > x;
    if (nextX) *nextX = start ? x0 : x3;
    if (dYdX) *dYdX = 0;
    if (ptLo) *ptLo = start ? 0 : 1;
    if (ptHi) *ptHi = start ? 0 : 1;
    return start ? y0 : y3;
  }
  const Cubic cx(x0, x1, x2, x3), cy(y0, y1, y2, y3);
  double lo = 0, hi = 1;
  for (int i = 0; i < 8; i++) {
    const double t = (lo + hi) / 2, xt = cx.at(t);
    if (xt < x) {
      lo = t;
    } else if (xt > x) {
      hi = t;
    } else {
      lo = t;
      hi = std::min(t + 1.0 / 256.0, 1.0);
      break;
    }
  }
  auto xAt = [&](double t) { return t == 0 ? (double)x0 : (t == 1 ? (double)x3 : cx.at(t)); };
  const double xlo = xAt(lo), xhi = xAt(hi), ylo = cy.at(lo), yhi = cy.at(hi);
  const double slope = xhi == xlo ? 0 : (yhi - ylo) / (xhi - xlo);
  if (nextX) *nextX = (T)xhi;
  if (dYdX) *dYdX = (T)slope;
  if (ptLo) *ptLo = lo;
  if (ptHi) *ptHi = hi;
  return (T)(ylo + ((double)x - xlo) * slope);
}

template float PIX_Bezier_GetY<float>(float, float, float, float, float, float, float, double*);
template double PIX_Bezier_GetY<double>(double, double, double, double, double, double, double, double*);
template float PIX_CBezier_GetY<float>(float, float, float, float, float, float, float, float, float, float*, float*,
                                       double*, double*);
template double PIX_CBezier_GetY<double>(double, double, double, double, double, double, double, double, double,
                                         double*, double*, double*, double*);

void PIX_DrawQBezier(PIX_IBitmap* dest, float xstart, float ystart, float xctl, float yctl, float xend, float yend,
                     unsigned int color, float alpha, int mode, bool aa, float tol) {
  if (!dest) return;
  float x[3] = {xstart, xctl, xend}, y[3] = {ystart, yctl, yend};
  if (!allFinite(x, 3) || !allFinite(y, 3)) return;
  if (x[0] > x[2]) std::swap(x[0], x[2]), std::swap(y[0], y[2]);
  double t0 = 0, t1 = 1;
  float sx = x[0], sy = y[0], ex = x[2], ey = y[2];
  if (sx < 0) {
    sy = PIX_Bezier_GetY(x[0], x[1], x[2], y[0], y[1], y[2], 0.0f, &t0);
    sx = 0;
  }
  const float right = (float)(dest->getWidth() - 1);
  if (ex >= (float)dest->getWidth()) {
    ey = PIX_Bezier_GetY(x[0], x[1], x[2], y[0], y[1], y[2], right, &t1);
    ex = right;
  }
  if (sx > ex || !finite(sy) || !finite(ey) || !std::isfinite(t0) || !std::isfinite(t1)) return;
  const int n = segmentCount(t0, t1, legs(x, y, 3), tol);
  float px = sx, py = sy;
  for (int k = 1; k < n; k++) {
    const double t = t0 + k * (t1 - t0) / n, u = 1 - t;
    const float qx = (float)(u * u * x[0] + 2 * u * t * x[1] + t * t * x[2]);
    const float qy = (float)(u * u * y[0] + 2 * u * t * y[1] + t * t * y[2]);
    PIX_FLine(dest, px, py, qx, qy, color, alpha, mode, aa);
    px = qx, py = qy;
  }
  PIX_FLine(dest, px, py, ex, ey, color, alpha, mode, aa);
}

namespace {

// A cubic curve made ready for walking in its driving coordinate u (x, or y for the fills toward a vertical line)
// with v the other one: ordered toward larger u and cut to 0 <= u <= bound.
struct CBez {
  float u[4], v[4];
  double t0, t1;
  float su, sv, eu, ev;  // clipped start and end
  int n;
  Cubic U() const { return Cubic(u[0], u[1], u[2], u[3]); }
  Cubic V() const { return Cubic(v[0], v[1], v[2], v[3]); }
};

int CBezPrep(CBez* b, int bound, float tol) {
  if (!allFinite(b->u, 4) || !allFinite(b->v, 4)) return 0;
  if (b->u[0] > b->u[3]) {
    std::reverse(b->u, b->u + 4);
    std::reverse(b->v, b->v + 4);
  }
  b->t0 = 0, b->t1 = 1;
  b->su = b->u[0], b->sv = b->v[0], b->eu = b->u[3], b->ev = b->v[3];
  const float* u = b->u;
  const float* v = b->v;
  if (b->su < 0) {
    double lo, hi;
    b->sv = PIX_CBezier_GetY(u[0], u[1], u[2], u[3], v[0], v[1], v[2], v[3], 0.0f, (float*)nullptr, (float*)nullptr,
                             &lo, &hi);
    b->su = 0;
    b->t0 = hi;
  }
  if (b->eu > (float)bound) {
    double lo, hi;
    b->ev = PIX_CBezier_GetY(u[0], u[1], u[2], u[3], v[0], v[1], v[2], v[3], (float)bound, (float*)nullptr,
                             (float*)nullptr, &lo, &hi);
    b->eu = (float)bound;
    b->t1 = lo;
  }
  if (b->su > b->eu || !finite(b->sv) || !finite(b->ev)) return 0;
  return b->n = segmentCount(b->t0, b->t1, legs(b->u, b->v, 4), tol);
}

// Fills one slice between the curve step (u1, v1)..(u2, v2) and the line v = vfill. swap maps (u, v) to (y, x).
void DoBezierFillSegment(PIX_IBitmap* dest, int64_t u1, int64_t v1, int64_t u2, int64_t v2, int64_t vfill, bool swap,
                         unsigned int color, float alpha, int mode) {
  if (u2 < u1) return;
  auto poly = [&](std::initializer_list<int64_t> uv) {
    int xs[4], ys[4], n = 0;
    for (auto it = uv.begin(); it != uv.end(); it += 2, n++) {
      const int pu = clampInt(it[0]), pv = clampInt(it[1]);
      xs[n] = swap ? pv : pu;
      ys[n] = swap ? pu : pv;
    }
    PIX_FillConvexPolygon(dest, xs, ys, n, color, alpha, mode);
  };
  if (u2 == u1) {
    const int64_t from = std::min(v1, vfill);
    int64_t to = std::max(v2, vfill);
    if (to == v2 && v2 != vfill) to--;
    const int pu = clampInt(u2), a = clampInt(from), b = clampInt(to);
    if (swap)
      PIX_Line(dest, a, pu, b, pu, color, alpha, mode, false);
    else
      PIX_Line(dest, pu, a, pu, b, color, alpha, mode, false);
    return;
  }
  const int64_t vf = vfill > v1 ? vfill + 1 : vfill;
  if ((v2 < vfill) == (vfill > v1)) {
    poly({u1, v1, u1, vf, u2, v2, u2, vf});
    return;
  }
  const int64_t uc = u1 + truncSat64((double)(u2 - u1) * (double)(vfill - v1) / (double)(v2 - v1));
  poly({u1, v1, u1, vf, uc, vf});
  const int64_t vp = v2 < vfill ? vfill + 1 : vfill;
  poly({uc, vp, u2, vp, u2, v2});
}

void fillCBezier(PIX_IBitmap* dest, CBez& b, int bound, int vfill, bool swap, unsigned int color, float alpha, int mode,
                 float tol) {
  if (!dest || !CBezPrep(&b, bound, tol)) return;
  const Cubic U = b.U(), V = b.V();
  int64_t u1 = truncSat(b.su), v1 = truncSat((double)b.sv + 0.5);
  for (int k = 1; k <= b.n - 2; k++) {
    const double t = b.t0 + k * (b.t1 - b.t0) / b.n;
    const int64_t u = truncSat(U.at(t));
    if (u >= u1) {
      const int64_t v = truncSat(V.at(t) + 0.5);
      DoBezierFillSegment(dest, u1, v1, u, v, vfill, swap, color, alpha, mode);
      v1 = v;
      u1 = u + 1;
    }
  }
  const int64_t u = truncSat((double)b.eu - 1);
  if (u >= u1) DoBezierFillSegment(dest, u1, v1, u, truncSat((double)b.ev + 0.5), vfill, swap, color, alpha, mode);
}

}  // namespace

void PIX_DrawCBezier(PIX_IBitmap* dest, float xstart, float ystart, float xctl1, float yctl1, float xctl2, float yctl2,
                     float xend, float yend, unsigned int color, float alpha, int mode, bool aa, float tol) {
  if (!dest) return;
  CBez b{{xstart, xctl1, xctl2, xend}, {ystart, yctl1, yctl2, yend}, 0, 1, 0, 0, 0, 0, 0};
  if (!CBezPrep(&b, dest->getWidth(), tol)) return;
  const Cubic U = b.U(), V = b.V();
  float px = b.su, py = b.sv;
  for (int k = 1; k <= b.n - 2; k++) {
    const double t = b.t0 + k * (b.t1 - b.t0) / b.n;
    const float qx = (float)U.at(t), qy = (float)V.at(t);
    PIX_FLine(dest, px, py, qx, qy, color, alpha, mode, aa);
    px = qx, py = qy;
  }
  PIX_FLine(dest, px, py, b.eu, b.ev, color, alpha, mode, aa);
}

void PIX_FillCBezier(PIX_IBitmap* dest, float xstart, float ystart, float xctl1, float yctl1, float xctl2, float yctl2,
                     float xend, float yend, int yfill, unsigned int color, float alpha, int mode, float tol) {
  if (!dest) return;
  CBez b{{xstart, xctl1, xctl2, xend}, {ystart, yctl1, yctl2, yend}, 0, 1, 0, 0, 0, 0, 0};
  fillCBezier(dest, b, dest->getWidth(), yfill, false, color, alpha, mode, tol);
}

void PIX_FillCBezierX(PIX_IBitmap* dest, float xstart, float ystart, float xctl1, float yctl1, float xctl2, float yctl2,
                      float xend, float yend, int xfill, unsigned int color, float alpha, int mode, float tol) {
  if (!dest) return;
  // Walked in y and cut to the bitmap's height, the driving coordinate's own bound.
  CBez b{{ystart, yctl1, yctl2, yend}, {xstart, xctl1, xctl2, xend}, 0, 1, 0, 0, 0, 0, 0};
  fillCBezier(dest, b, dest->getHeight(), xfill, true, color, alpha, mode, tol);
}
