#include "platform/graphics/graphics.h"

#include <algorithm>
#include <cmath>

#include "platform/graphics/coords.h"

namespace platform::gfx {

namespace {

constexpr float kPi = 3.14159265358979f;

inline uint8_t toByte(float v) {
  int i = platform::intCoord(v + 0.5f);
  return static_cast<uint8_t>(i < 0 ? 0 : i > 255 ? 255 : i);
}

// The axis-aligned box around rectangle r carried through m.
struct Box {
  float minX, minY, maxX, maxY;
};

Box boundsOf(const Affine& m, const Rect& r) {
  const Point q[4] = {m.apply({r.x, r.y}), m.apply({r.x + r.w, r.y}), m.apply({r.x, r.y + r.h}),
                      m.apply({r.x + r.w, r.y + r.h})};
  Box b{q[0].x, q[0].y, q[0].x, q[0].y};
  for (const Point& p : q) {
    b.minX = std::min(b.minX, p.x), b.maxX = std::max(b.maxX, p.x);
    b.minY = std::min(b.minY, p.y), b.maxY = std::max(b.maxY, p.y);
  }
  return b;
}

float signedArea(const std::vector<Point>& p) {
  double a = 0;
  for (size_t i = 0, n = p.size(); i < n; ++i) {
    const Point& u = p[i];
    const Point& v = p[(i + 1) % n];
    a += static_cast<double>(u.x) * v.y - static_cast<double>(v.x) * u.y;
  }
  return static_cast<float>(a * 0.5);
}

// Stroke pieces must all wind the same way so that overlaps add up instead of cancelling.
void orientPositive(std::vector<Point>& p) {
  if (signedArea(p) < 0) std::reverse(p.begin(), p.end());
}

// Accumulates the signed area that one edge contributes to each cell of a w-wide buffer (stride
// w + 2) whose rows cover [0, h). The edge must already lie within 0 <= x <= w, 0 <= y <= h.
void accumulateEdge(float* acc, int w, int h, Point p0, Point p1) {
  if (p0.y == p1.y) return;
  const int stride = w + 2;
  float dir = 1.0f;
  if (p0.y > p1.y) {
    std::swap(p0, p1);
    dir = -1.0f;
  }
  const float dxdy = (p1.x - p0.x) / (p1.y - p0.y);
  float x = p0.x;
  const int yStart = platform::intCoord(std::floor(p0.y));
  const int yEnd = std::min(h, platform::intCoord(std::ceil(p1.y)));
  for (int y = std::max(0, yStart); y < yEnd; ++y) {
    float* line = acc + static_cast<size_t>(y) * stride;
    const float dy = std::min(static_cast<float>(y + 1), p1.y) - std::max(static_cast<float>(y), p0.y);
    const float xNext = x + dxdy * dy;
    const float d = dy * dir;
    float x0 = x < xNext ? x : xNext;
    float x1 = x < xNext ? xNext : x;
    x0 = std::clamp(x0, 0.0f, static_cast<float>(w));
    x1 = std::clamp(x1, 0.0f, static_cast<float>(w));
    const float x0Floor = std::floor(x0);
    const int x0i = static_cast<int>(x0Floor);
    const float x1Ceil = std::ceil(x1);
    const int x1i = static_cast<int>(x1Ceil);
    if (x1i <= x0i + 1) {
      const float xmf = 0.5f * (x0 + x1) - x0Floor;
      line[x0i] += d - d * xmf;
      line[x0i + 1] += d * xmf;
    } else {
      const float s = 1.0f / (x1 - x0);
      const float x0f = x0 - x0Floor;
      const float a0 = 0.5f * s * (1.0f - x0f) * (1.0f - x0f);
      const float x1f = x1 - x1Ceil + 1.0f;
      const float am = 0.5f * s * x1f * x1f;
      line[x0i] += d * a0;
      if (x1i == x0i + 2) {
        line[x0i + 1] += d * (1.0f - a0 - am);
      } else {
        const float a1 = s * (1.5f - x0f);
        line[x0i + 1] += d * (a1 - a0);
        for (int xi = x0i + 2; xi < x1i - 1; ++xi) line[xi] += d * s;
        const float a2 = a1 + static_cast<float>(x1i - x0i - 3) * s;
        line[x1i - 1] += d * (1.0f - a2 - am);
      }
      line[x1i] += d * am;
    }
    x = xNext;
  }
}

// Cuts an edge at the vertical lines x = 0 and x = w so that each piece can be clamped into the
// buffer without changing where it crosses rows; parts outside count as if they ran along the side.
void addEdgeClipped(float* acc, int w, int h, Point p0, Point p1) {
  // Clip to the row range first: parts above or below add nothing.
  if ((p0.y <= 0 && p1.y <= 0) || (p0.y >= h && p1.y >= h) || p0.y == p1.y) return;
  auto cutY = [](Point a, Point b, float y) {
    float t = (y - a.y) / (b.y - a.y);
    return Point{a.x + (b.x - a.x) * t, y};
  };
  if (p0.y < 0) p0 = cutY(p0, p1, 0);
  if (p1.y < 0) p1 = cutY(p1, p0, 0);
  if (p0.y > h) p0 = cutY(p0, p1, static_cast<float>(h));
  if (p1.y > h) p1 = cutY(p1, p0, static_cast<float>(h));
  Point pts[4] = {p0, {}, {}, p1};
  int n = 1;
  const float bounds[2] = {0.0f, static_cast<float>(w)};
  float ts[2];
  int nt = 0;
  for (float bx : bounds) {
    if ((p0.x - bx) * (p1.x - bx) < 0) ts[nt++] = (bx - p0.x) / (p1.x - p0.x);
  }
  if (nt == 2 && ts[0] > ts[1]) std::swap(ts[0], ts[1]);
  for (int i = 0; i < nt; ++i) pts[n++] = Point{p0.x + (p1.x - p0.x) * ts[i], p0.y + (p1.y - p0.y) * ts[i]};
  pts[n++] = p1;
  for (int i = 0; i + 1 < n; ++i) accumulateEdge(acc, w, h, pts[i], pts[i + 1]);
}

}  // namespace

Color colorFromRGB(int rgb, float alpha) {
  return Color{static_cast<float>((rgb >> 16) & 0xFF) / 255.0f, static_cast<float>((rgb >> 8) & 0xFF) / 255.0f,
               static_cast<float>(rgb & 0xFF) / 255.0f, alpha};
}

Affine Affine::then(const Affine& n) const {
  Affine r;
  r.a = a * n.a + b * n.c;
  r.b = a * n.b + b * n.d;
  r.c = c * n.a + d * n.c;
  r.d = c * n.b + d * n.d;
  r.tx = tx * n.a + ty * n.c + n.tx;
  r.ty = tx * n.b + ty * n.d + n.ty;
  return r;
}

Context* Context::createOverMemory(uint8_t* pixels, int width, int height, int rowBytes) {
  if (!pixels || width < 1 || height < 1 || rowBytes / 4 < width) return nullptr;
  Context* c = new Context();
  c->pixels_ = pixels;
  c->width_ = width;
  c->height_ = height;
  c->rowBytes_ = rowBytes;
  c->resetState();
  return c;
}

void Context::resetState() {
  state_ = State{};
  state_.clipX1 = width_;
  state_.clipY1 = height_;
  // The platform's bitmap contexts count y up from the bottom row of memory.
  state_.ctm = Affine{1, 0, 0, -1, 0, static_cast<float>(height_)};
}

Context::~Context() = default;

void Context::save() {
  stack_.push_back(state_);
}

void Context::restore() {
  if (stack_.empty()) return;
  state_ = stack_.back();
  stack_.pop_back();
}

void Context::concat(const Affine& m) {
  state_.ctm = m.then(state_.ctm);
}

void Context::translate(float dx, float dy) {
  concat(Affine{1, 0, 0, 1, dx, dy});
}

void Context::scale(float sx, float sy) {
  concat(Affine{sx, 0, 0, sy, 0, 0});
}

void Context::clipToRect(const Rect& r) {
  const auto [minX, minY, maxX, maxY] = boundsOf(state_.ctm, r);
  auto clampI = [](float v, int lo, int hi) {
    if (!(v > lo)) return lo;  // also catches NaN
    if (v > hi) return hi;
    return static_cast<int>(std::lround(v));
  };
  const int x0 = clampI(minX, 0, width_), x1 = clampI(maxX, 0, width_);
  const int y0 = clampI(minY, 0, height_), y1 = clampI(maxY, 0, height_);
  state_.clipX0 = std::max(state_.clipX0, x0);
  state_.clipX1 = std::min(state_.clipX1, x1);
  state_.clipY0 = std::max(state_.clipY0, y0);
  state_.clipY1 = std::min(state_.clipY1, y1);
  if (state_.clipX1 < state_.clipX0) state_.clipX1 = state_.clipX0;
  if (state_.clipY1 < state_.clipY0) state_.clipY1 = state_.clipY0;
}

void Context::deviceClip(int& x0, int& y0, int& x1, int& y1) const {
  x0 = state_.clipX0, y0 = state_.clipY0, x1 = state_.clipX1, y1 = state_.clipY1;
}

void Context::blendSpan(uint8_t* row, int x, int n, const float* coverage, const Color& c) {
  const float r = c.r * 255.0f, g = c.g * 255.0f, b = c.b * 255.0f;
  uint8_t* p = row + static_cast<size_t>(x) * 4;
  for (int i = 0; i < n; ++i, p += 4) {
    const float k = coverage[i] * c.a;
    if (k <= 0.0f) continue;
    if (k >= 1.0f) {
      p[1] = toByte(r), p[2] = toByte(g), p[3] = toByte(b);
    } else {
      p[1] = toByte(p[1] + (r - p[1]) * k);
      p[2] = toByte(p[2] + (g - p[2]) * k);
      p[3] = toByte(p[3] + (b - p[3]) * k);
    }
  }
}

void Context::fillPolygons(const std::vector<Polygon>& polys, const Color& color) {
  if (color.a <= 0.0f) return;
  float minX = 1e30f, maxX = -1e30f, minY = 1e30f, maxY = -1e30f;
  bool any = false;
  for (const Polygon& p : polys) {
    if (p.size() < 2) continue;
    for (const Point& q : p) {
      if (!std::isfinite(q.x) || !std::isfinite(q.y)) return;
      minX = std::min(minX, q.x), maxX = std::max(maxX, q.x);
      minY = std::min(minY, q.y), maxY = std::max(maxY, q.y);
      any = true;
    }
  }
  if (!any) return;
  const int bx0 = std::max(state_.clipX0, platform::intCoord(std::floor(std::max(minX, -1.0f))));
  const int by0 = std::max(state_.clipY0, platform::intCoord(std::floor(std::max(minY, -1.0f))));
  const int bx1 = std::min(state_.clipX1, platform::intCoord(std::ceil(std::min(maxX, width_ + 1.0f))));
  const int by1 = std::min(state_.clipY1, platform::intCoord(std::ceil(std::min(maxY, height_ + 1.0f))));
  if (bx1 <= bx0 || by1 <= by0) return;
  const int w = bx1 - bx0, h = by1 - by0, stride = w + 2;
  accum_.assign(static_cast<size_t>(stride) * h, 0.0f);
  for (const Polygon& p : polys) {
    if (p.size() < 2) continue;
    for (size_t i = 0, n = p.size(); i < n; ++i) {
      const Point& a = p[i];
      const Point& b = p[(i + 1) % n];
      addEdgeClipped(accum_.data(), w, h, Point{a.x - bx0, a.y - by0}, Point{b.x - bx0, b.y - by0});
    }
  }
  std::vector<float> cov(static_cast<size_t>(w));
  for (int y = 0; y < h; ++y) {
    const float* line = accum_.data() + static_cast<size_t>(y) * stride;
    float acc = 0;
    bool inked = false;
    for (int x = 0; x < w; ++x) {
      acc += line[x];
      float v = std::fabs(acc);
      v = v > 1.0f ? 1.0f : v;
      if (!state_.antialias) v = v >= 0.5f ? 1.0f : 0.0f;
      cov[x] = v;
      inked |= v > 0.0f;
    }
    if (inked) blendSpan(pixels_ + static_cast<size_t>(by0 + y) * rowBytes_, bx0, w, cov.data(), color);
  }
}

void Context::strokePolygons(const std::vector<Polygon>& lines, const std::vector<bool>& closed, const Color& color,
                             float userWidth) {
  const Affine& m = state_.ctm;
  const float det = std::fabs(m.a * m.d - m.b * m.c);
  const float hw = 0.5f * (userWidth <= 0.0f ? 1.0f : userWidth) * std::sqrt(det);
  if (!(hw > 0.0f)) return;
  std::vector<Polygon> pieces;
  for (size_t li = 0; li < lines.size(); ++li) {
    // Drop repeated points; they have no direction.
    Polygon pts;
    for (const Point& p : lines[li])
      if (pts.empty() || pts.back().x != p.x || pts.back().y != p.y) pts.push_back(p);
    const bool isClosed = li < closed.size() && closed[li] && pts.size() > 2;
    if (isClosed && pts.front().x == pts.back().x && pts.front().y == pts.back().y) pts.pop_back();
    const size_t n = pts.size();
    if (n < 2) continue;
    const size_t segs = isClosed ? n : n - 1;
    auto unitNormal = [&](size_t i, Point& u, Point& nrm) {
      const Point& a = pts[i];
      const Point& b = pts[(i + 1) % n];
      float dx = b.x - a.x, dy = b.y - a.y, len = std::sqrt(dx * dx + dy * dy);
      u = {dx / len, dy / len};
      nrm = {-u.y * hw, u.x * hw};
    };
    for (size_t i = 0; i < segs; ++i) {
      Point u, nr;
      unitNormal(i, u, nr);
      const Point& a = pts[i];
      const Point& b = pts[(i + 1) % n];
      Polygon q{{a.x + nr.x, a.y + nr.y}, {b.x + nr.x, b.y + nr.y}, {b.x - nr.x, b.y - nr.y}, {a.x - nr.x, a.y - nr.y}};
      orientPositive(q);
      pieces.push_back(std::move(q));
    }
    // Mitred joins (limit 10, bevelled beyond), where two segments meet.
    const size_t firstJoin = isClosed ? 0 : 1;
    const size_t lastJoin = isClosed ? n : n - 1;
    for (size_t j = firstJoin; j < lastJoin; ++j) {
      const size_t prev = (j + n - 1) % n;
      Point u1, n1, u2, n2;
      unitNormal(prev, u1, n1);
      unitNormal(j, u2, n2);
      const float cosT = u1.x * u2.x + u1.y * u2.y;
      const float turn = u1.x * u2.y - u1.y * u2.x;
      if (std::fabs(turn) < 1e-6f && cosT > 0) continue;  // straight on
      const float s = (n1.x * u2.x + n1.y * u2.y) > 0 ? -1.0f : 1.0f;
      const Point& v = pts[j];
      Polygon q{v, {v.x + s * n1.x, v.y + s * n1.y}};
      if (1.0f + cosT > 0.02f) {
        const float k = 1.0f / (1.0f + cosT);
        q.push_back({v.x + s * (n1.x + n2.x) * k, v.y + s * (n1.y + n2.y) * k});
      }
      q.push_back({v.x + s * n2.x, v.y + s * n2.y});
      orientPositive(q);
      pieces.push_back(std::move(q));
    }
  }
  fillPolygons(pieces, color);
}

void Context::fillRect(const Rect& r) {
  const Affine& m = state_.ctm;
  if (m.b != 0.0f || m.c != 0.0f) {
    beginPath();
    moveTo(r.x, r.y), lineTo(r.x + r.w, r.y), lineTo(r.x + r.w, r.y + r.h), lineTo(r.x, r.y + r.h);
    closePath();
    fillPath();
    return;
  }
  // Axis-aligned: the coverage of each pixel is the product of its row and column overlaps.
  const Point p0 = m.apply({r.x, r.y}), p1 = m.apply({r.x + r.w, r.y + r.h});
  const float X0 = std::min(p0.x, p1.x), X1 = std::max(p0.x, p1.x);
  const float Y0 = std::min(p0.y, p1.y), Y1 = std::max(p0.y, p1.y);
  if (!(X1 > X0) || !(Y1 > Y0)) return;
  const int ix0 = std::max(state_.clipX0, platform::intCoord(std::floor(std::max(X0, -1.0f))));
  const int ix1 = std::min(state_.clipX1, platform::intCoord(std::ceil(std::min(X1, width_ + 1.0f))));
  const int iy0 = std::max(state_.clipY0, platform::intCoord(std::floor(std::max(Y0, -1.0f))));
  const int iy1 = std::min(state_.clipY1, platform::intCoord(std::ceil(std::min(Y1, height_ + 1.0f))));
  if (ix1 <= ix0 || iy1 <= iy0) return;
  const bool aa = state_.antialias;
  auto overlap = [aa](float lo, float hi, int i) {
    if (!aa) return (i + 0.5f >= lo && i + 0.5f < hi) ? 1.0f : 0.0f;
    float v = std::min(hi, i + 1.0f) - std::max(lo, static_cast<float>(i));
    return v < 0 ? 0.0f : v > 1 ? 1.0f : v;
  };
  std::vector<float> colCov(static_cast<size_t>(ix1 - ix0)), cov(colCov.size());
  for (int x = ix0; x < ix1; ++x) colCov[x - ix0] = overlap(X0, X1, x);
  for (int y = iy0; y < iy1; ++y) {
    const float cy = overlap(Y0, Y1, y);
    if (cy <= 0) continue;
    for (size_t i = 0; i < cov.size(); ++i) cov[i] = colCov[i] * cy;
    blendSpan(pixels_ + static_cast<size_t>(y) * rowBytes_, ix0, ix1 - ix0, cov.data(), state_.fill);
  }
}

void Context::strokeRect(const Rect& r, float width) {
  std::vector<Polygon> lines{{state_.ctm.apply({r.x, r.y}), state_.ctm.apply({r.x + r.w, r.y}),
                              state_.ctm.apply({r.x + r.w, r.y + r.h}), state_.ctm.apply({r.x, r.y + r.h})}};
  strokePolygons(lines, {true}, state_.stroke, width);
}

void Context::clearRect(const Rect& r) {
  const auto [minX, minY, maxX, maxY] = boundsOf(state_.ctm, r);
  const int x0 = std::max(state_.clipX0, platform::intCoord(std::round(std::max(minX, -1.0f))));
  const int x1 = std::min(state_.clipX1, platform::intCoord(std::round(std::min(maxX, width_ + 1.0f))));
  const int y0 = std::max(state_.clipY0, platform::intCoord(std::round(std::max(minY, -1.0f))));
  const int y1 = std::min(state_.clipY1, platform::intCoord(std::round(std::min(maxY, height_ + 1.0f))));
  for (int y = y0; y < y1; ++y)
    if (x1 > x0) std::fill_n(pixels_ + static_cast<size_t>(y) * rowBytes_ + x0 * 4, (x1 - x0) * 4, uint8_t(0));
}

namespace {

std::vector<Point> ellipsePoints(const Rect& r, const Affine& m) {
  const float rx = r.w * 0.5f, ry = r.h * 0.5f, cx = r.x + rx, cy = r.y + ry;
  const float scale = std::sqrt(std::fabs(m.a * m.d - m.b * m.c));
  const float rmax = std::max(std::fabs(rx), std::fabs(ry)) * scale;
  const int n = std::clamp(platform::intCoord(2 * kPi * rmax / 1.5f), 16, 2048);
  std::vector<Point> pts(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) {
    const float t = 2 * kPi * static_cast<float>(i) / static_cast<float>(n);
    pts[i] = m.apply({cx + rx * std::cos(t), cy + ry * std::sin(t)});
  }
  return pts;
}

}  // namespace

void Context::fillEllipse(const Rect& r) {
  if (!(r.w > 0) || !(r.h > 0)) return;
  fillPolygons({ellipsePoints(r, state_.ctm)}, state_.fill);
}

void Context::strokeEllipse(const Rect& r) {
  if (!(r.w > 0) || !(r.h > 0)) return;
  strokePolygons({ellipsePoints(r, state_.ctm)}, {true}, state_.stroke, state_.lineWidth);
}

void Context::beginPath() {
  path_.clear();
  pathClosed_.clear();
  haveCurrent_ = false;
}

void Context::addDevicePoint(Point p) {
  if (path_.empty()) {
    path_.emplace_back();
    pathClosed_.push_back(false);
  }
  path_.back().push_back(p);
}

void Context::moveTo(float x, float y) {
  const Point p = state_.ctm.apply({x, y});
  path_.push_back(Polygon{p});
  pathClosed_.push_back(false);
  haveCurrent_ = true;
  start_ = p;
}

void Context::lineTo(float x, float y) {
  if (!haveCurrent_) return moveTo(x, y);
  addDevicePoint(state_.ctm.apply({x, y}));
}

void Context::curveTo(float c1x, float c1y, float c2x, float c2y, float x, float y) {
  if (!haveCurrent_) moveTo(c1x, c1y);
  const Point p0 = path_.back().back();
  const Point p1 = state_.ctm.apply({c1x, c1y}), p2 = state_.ctm.apply({c2x, c2y}), p3 = state_.ctm.apply({x, y});
  auto dist = [](Point a, Point b) { return std::hypot(b.x - a.x, b.y - a.y); };
  const float len = dist(p0, p1) + dist(p1, p2) + dist(p2, p3);
  const int n = std::clamp(platform::intCoord(len / 2.0f), 2, 256);
  for (int i = 1; i <= n; ++i) {
    const float t = static_cast<float>(i) / static_cast<float>(n), u = 1 - t;
    const float a = u * u * u, b = 3 * u * u * t, c = 3 * u * t * t, d = t * t * t;
    addDevicePoint({a * p0.x + b * p1.x + c * p2.x + d * p3.x, a * p0.y + b * p1.y + c * p2.y + d * p3.y});
  }
}

void Context::closePath() {
  if (!haveCurrent_ || path_.empty()) return;
  pathClosed_.back() = true;
  // A new subpath after a close starts from the start point.
  path_.push_back(Polygon{start_});
  pathClosed_.push_back(false);
}

void Context::fillPath() {
  fillPolygons(path_, state_.fill);
  beginPath();
}

void Context::strokePath() {
  strokePolygons(path_, pathClosed_, state_.stroke, state_.lineWidth);
  beginPath();
}

void Context::drawImage(const ImageView& img, const Rect& r, float alpha) {
  if (!img.pixels || img.width < 1 || img.height < 1 || !(r.w != 0) || !(r.h != 0) || !(alpha > 0)) return;
  const Affine& m = state_.ctm;
  const float det = m.a * m.d - m.b * m.c;
  if (det == 0.0f) return;
  // Inverse transform: device -> user.
  const Affine inv{
      m.d / det, -m.b / det, -m.c / det, m.a / det, (m.c * m.ty - m.d * m.tx) / det, (m.b * m.tx - m.a * m.ty) / det};
  const auto [minX, minY, maxX, maxY] = boundsOf(m, r);
  const int x0 = std::max(state_.clipX0, platform::intCoord(std::floor(std::max(minX, -1.0f))));
  const int x1 = std::min(state_.clipX1, platform::intCoord(std::ceil(std::min(maxX, width_ + 1.0f))));
  const int y0 = std::max(state_.clipY0, platform::intCoord(std::floor(std::max(minY, -1.0f))));
  const int y1 = std::min(state_.clipY1, platform::intCoord(std::ceil(std::min(maxY, height_ + 1.0f))));
  const float a = std::min(alpha, 1.0f);
  for (int y = y0; y < y1; ++y) {
    uint8_t* row = pixels_ + static_cast<size_t>(y) * rowBytes_;
    for (int x = x0; x < x1; ++x) {
      const Point u = inv.apply({x + 0.5f, y + 0.5f});
      const float fu = (u.x - r.x) / r.w * img.width;
      // Row 0 of the image sits at the rectangle's maximum y.
      const float fv = (r.y + r.h - u.y) / r.h * img.height;
      if (!(fu >= 0 && fu < img.width && fv >= 0 && fv < img.height)) continue;
      const int sx = static_cast<int>(fu), sy = static_cast<int>(fv);
      const uint8_t* s = img.pixels + static_cast<size_t>(sy) * img.rowBytes + static_cast<size_t>(sx) * 4;
      const float k = a * (img.leadingAlpha ? s[0] / 255.0f : 1.0f);
      if (k <= 0) continue;
      uint8_t* d = row + static_cast<size_t>(x) * 4;
      for (int ch = 1; ch < 4; ++ch) d[ch] = k >= 1.0f ? s[ch] : toByte(d[ch] + (s[ch] - d[ch]) * k);
    }
  }
}

void Context::drawCoverage(int x, int y, const uint8_t* mask, int w, int h, int maskRowBytes, const Color& color) {
  if (!mask || w < 1 || h < 1) return;
  const int x0 = std::max(x, state_.clipX0), x1 = std::min(x + w, state_.clipX1);
  const int y0 = std::max(y, state_.clipY0), y1 = std::min(y + h, state_.clipY1);
  if (x1 <= x0 || y1 <= y0) return;
  float cov[256];
  for (int yy = y0; yy < y1; ++yy) {
    const uint8_t* m = mask + static_cast<size_t>(yy - y) * maskRowBytes + (x0 - x);
    uint8_t* row = pixels_ + static_cast<size_t>(yy) * rowBytes_;
    for (int xx = x0; xx < x1; xx += 256) {
      const int n = std::min(256, x1 - xx);
      bool any = false;
      for (int i = 0; i < n; ++i) {
        cov[i] = m[xx - x0 + i] * (1.0f / 255.0f);
        any |= m[xx - x0 + i] != 0;
      }
      if (any) blendSpan(row, xx, n, cov, color);
    }
  }
}

}  // namespace platform::gfx
