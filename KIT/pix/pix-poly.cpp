// Solid fills with straight edges: trapezoids with horizontal top and bottom, convex polygons cut into
// trapezoids, triangles.
#include <algorithm>
#include <cstdlib>

#include "KIT/pix/pix-shapes-internal.h"
#include "KIT/pix/pix.h"

using namespace pix_detail;

namespace {

// One slanted edge: x, a 16.16 error fraction, the absolute step per row and the direction of the step. x runs in
// 64 bits: clipping at the top may advance it by up to 2^31 rows of 8192 pixels each.
struct Edge {
  int64_t x;
  unsigned int err, step;
  int dir;
  void advance() {
    err += step;
    if (err >= 65536) {
      x += dir * (int64_t)(err >> 16);
      err &= 0xFFFF;
    }
  }
};

// Pixels [max(l.x, 0), min(r.x + 1, w)) of one row.
inline bool rowRange(const Edge& l, const Edge& r, int w, int* from, int* to) {
  const int64_t a = l.x < 0 ? 0 : l.x, b = r.x + 1 > w ? w : r.x + 1;
  if (a >= b) return false;
  *from = (int)a, *to = (int)b;
  return true;
}

}  // namespace

template <class C>
class _PIX_Fill {
 public:
  static void FillClippedTrapezoid(int w, int span, unsigned int* px, int nrows, Edge l, Edge r, int cr, int cg, int cb,
                                   int ca, int alpha) {
    for (int row = 0; row < nrows; row++, px += span) {
      int from, to;
      if (rowRange(l, r, w, &from, &to))
        for (int x = from; x < to; x++) C::doPix((unsigned char*)(px + x), cr, cg, cb, ca, alpha);
      l.advance();
      r.advance();
    }
  }
};

template <class M>
class _PIX_FillFast {
 public:
  // color is the colour's share of the mix, already shifted (M::prepare).
  static void FillClippedTrapezoidFAST(int w, int span, unsigned int* px, int nrows, Edge l, Edge r,
                                       unsigned int color) {
    for (int row = 0; row < nrows; row++, px += span) {
      int from, to;
      if (rowRange(l, r, w, &from, &to))
        for (int x = from; x < to; x++) M::doPix(px + x, color);
      l.advance();
      r.advance();
    }
  }
};

namespace {

struct StoreFast {
  static PIX_pixel prepare(PIX_pixel c) { return c; }
  static void doPix(PIX_pixel* d, PIX_pixel k) { *d = k; }
};

// The per-row step of an edge moving `diff` pixels over `rows` rows, in 16.16, limited to 8192 pixels a row.
int rowStep(int64_t diff, int64_t rows) {
  if (rows == 0) return 0;
  double v = (double)diff * (65536.0 / (double)rows);
  if (v > 536870912.0) v = 536870912.0;
  if (v < -536870912.0) v = -536870912.0;
  return (int)v;
}

Edge makeEdge(int64_t x, int step) {
  Edge e;
  e.x = x;
  e.err = 0;
  e.step = (unsigned int)std::abs(step);
  e.dir = step >= 0 ? 1 : -1;
  return e;
}

// Advances an edge over `rows` rows at once. The advance is a 64-bit product: rows can be up to 2^31 and the step
// up to 2^29.
void skipRows(Edge* e, int64_t rows) {
  const uint64_t v = (uint64_t)e->step * (uint64_t)rows;
  e->x += e->dir * (int64_t)(v >> 16);
  e->err = (unsigned int)(v & 0xFFFF);
}

}  // namespace

void PIX_FillTrapezoid(PIX_IBitmap* dest, int x1a, int x1b, int y1, int x2a, int x2b, int y2, unsigned int color,
                       float alpha, int mode) {
  Surface s;
  if (!surfaceOf(dest, &s)) return;
  int64_t topy = y1, boty = y2;
  int64_t tl = std::min(x1a, x1b), tr = std::max(x1a, x1b), bl = std::min(x2a, x2b), br = std::max(x2a, x2b);
  if (y2 < y1) {
    std::swap(topy, boty);
    std::swap(tl, bl);
    std::swap(tr, br);
  }
  const int w = s.w, h = s.h;
  if ((tr < 0 && br < 0) || (tl >= w && bl >= w) || boty < 0 || topy >= h) return;

  const int weight = shapeWeight(alpha);
  const int low = mode & 0xFF;
  if (weight == 0 || low > 5 || (low == 0 && weight < 0)) return;

  const int64_t rows = boty - topy;
  Edge l = (tl <= 0 && bl <= 0) ? makeEdge(0, 0) : makeEdge(tl, rowStep(bl - tl, rows));
  Edge r = (tr >= w - 1 && br >= w - 1) ? makeEdge(w - 1, 0) : makeEdge(tr, rowStep(br - tr, rows));
  if (topy < 0) {
    skipRows(&l, -topy);
    skipRows(&r, -topy);
    topy = 0;
  }
  const int64_t last = std::min<int64_t>(boty, h - 1);
  const int nrows = (int)(last - topy + 1);
  PIX_pixel* px = s.bits + (intptr_t)topy * s.span;

  if (low == 0) {
    switch (weight) {
      case 256:
        _PIX_FillFast<StoreFast>::FillClippedTrapezoidFAST(w, s.span, px, nrows, l, r, color);
        return;
      case 128:
        _PIX_FillFast<_PIX_CombinePixelsHalfMix2FAST>::FillClippedTrapezoidFAST(
            w, s.span, px, nrows, l, r, _PIX_CombinePixelsHalfMix2FAST::prepare(color));
        return;
      case 64:
        _PIX_FillFast<_PIX_CombinePixelsQuarterMix2FAST>::FillClippedTrapezoidFAST(
            w, s.span, px, nrows, l, r, _PIX_CombinePixelsQuarterMix2FAST::prepare(color));
        return;
      case 192:
        _PIX_FillFast<_PIX_CombinePixelsThreeQuarterMix2FAST>::FillClippedTrapezoidFAST(
            w, s.span, px, nrows, l, r, _PIX_CombinePixelsThreeQuarterMix2FAST::prepare(color));
        return;
      default:
        break;
    }
  }
  const Rgba c(color);
  // The weighted copy here is the plain one: 256 and 128 went to the word-wise fills above.
  dispatchShape(low, weight, true, [&](auto tag) {
    typedef typename decltype(tag)::type C;
    _PIX_Fill<C>::FillClippedTrapezoid(w, s.span, px, nrows, l, r, c.r, c.g, c.b, c.a, weight);
  });
}

namespace {

struct Pt {
  int x, y;
};

bool _ysort(const Pt& a, const Pt& b) {
  return a.y < b.y || (a.y == b.y && a.x < b.x);
}

// The next vertex of the left (dir < 0) or right (dir > 0) boundary after vertex i of the y-sorted points: the
// lower point whose direction from i leans furthest out; among points on one line through i the later one, so
// collinear vertices are passed over.
int FindNextEdgeVertex(const Pt* p, int i, int n, int dir) {
  if (i + 1 >= n) return i;
  int best = i;
  float bestSlope = 0;
  bool first = true;
  for (int j = i + 1; j < n; j++) {
    if (p[j].y == p[i].y) continue;
    const float slope = (float)((int64_t)p[j].x - p[i].x) / (float)((int64_t)p[j].y - p[i].y);
    if (first || slope == bestSlope || (dir < 0 && slope < bestSlope) || (dir > 0 && slope > bestSlope)) {
      best = j;
      bestSlope = slope;
      first = false;
    }
  }
  return best;
}

// x of the chain from vertex `up` to vertex `low` at row y.
int chainX(const Pt& up, const Pt& low, int64_t y) {
  if (y <= up.y) return up.x;
  if (y >= low.y) return low.x;
  const float k = (float)((int64_t)low.x - up.x) / (float)((int64_t)low.y - up.y);
  return truncSat((double)(up.x + k * (float)(y - up.y)));
}

}  // namespace

void PIX_FillConvexPolygon(PIX_IBitmap* dest, const int* x, const int* y, int npoints, unsigned int color, float alpha,
                           int mode) {
  if (!dest || npoints < 3 || !x || !y) return;
  Surface s;
  if (!surfaceOf(dest, &s)) return;
  Pt fixed[512];
  Pt* pts = fixed;
  if (npoints > 512) {
    pts = (Pt*)malloc(sizeof(Pt) * (size_t)npoints);
    if (!pts) return;  // nothing is drawn when the points cannot be held
  }
  int minx = x[0], maxx = x[0];
  for (int i = 0; i < npoints; i++) {
    pts[i].x = x[i];
    pts[i].y = s.flipped ? clampInt((int64_t)s.h - 1 - y[i]) : y[i];
    minx = std::min(minx, x[i]);
    maxx = std::max(maxx, x[i]);
  }
  std::sort(pts, pts + npoints, _ysort);

  if (pts[0].y == pts[npoints - 1].y) {
    if (pts[0].y >= 0 && pts[0].y < s.h && minx <= maxx)
      PIX_FillTrapezoid(dest, minx, maxx, pts[0].y, minx, maxx, pts[0].y, color, alpha, mode);
  } else {
    int leftStart = 0, rightStart = 0;
    for (int i = 0; i < npoints && pts[i].y == pts[0].y; i++) {
      if (pts[i].x == pts[0].x) leftStart = i;
      rightStart = i;
    }
    int a1 = FindNextEdgeVertex(pts, leftStart, npoints, -1);
    int b1 = FindNextEdgeVertex(pts, rightStart, npoints, 1);
    // Each round moves at least one chain on through the sorted points, so the loop ends after at most 2n rounds.
    int64_t row = pts[0].y;
    while (leftStart != a1 || rightStart != b1) {
      const int64_t yend = std::min(pts[a1].y, pts[b1].y);
      if (yend >= row && row < s.h && yend >= 0)
        PIX_FillTrapezoid(dest, chainX(pts[leftStart], pts[a1], row), chainX(pts[rightStart], pts[b1], row), (int)row,
                          chainX(pts[leftStart], pts[a1], yend), chainX(pts[rightStart], pts[b1], yend), (int)yend,
                          color, alpha, mode);
      const bool moveLeft = pts[a1].y == yend, moveRight = pts[b1].y == yend;
      if (moveLeft) {
        leftStart = a1;
        a1 = FindNextEdgeVertex(pts, a1, npoints, -1);
      }
      if (moveRight) {
        rightStart = b1;
        b1 = FindNextEdgeVertex(pts, b1, npoints, 1);
      }
      if (!moveLeft && !moveRight) break;
      row = yend + 1;
    }
  }
  if (pts != fixed) free(pts);
}

void PIX_FillTriangle(PIX_IBitmap* dest, int x1, int y1, int x2, int y2, int x3, int y3, unsigned int color,
                      float alpha, int mode) {
  const int xs[3] = {x1, x2, x3}, ys[3] = {y1, y2, y3};
  PIX_FillConvexPolygon(dest, xs, ys, 3, color, alpha, mode);
}
