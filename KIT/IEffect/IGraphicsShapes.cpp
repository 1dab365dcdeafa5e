// The line and shape drawing operations and the line knob, over the raster library's shape drawers.
#include <cmath>

#include "KIT/IEffect/IControls.h"
#include "KIT/IEffect/IGraphics.h"
#include "KIT/pix/pix-shapes.h"
#include "KIT/pix/pix.h"

bool IGraphics::DrawLine(const IColor* color, float x1, float y1, float x2, float y2, const IChannelBlend* blend,
                         bool aa) {
  if (!color) return true;
  PIX_Line(mDrawBitmap, platform::intCoord(x1), platform::intCoord(y1), platform::intCoord(x2), platform::intCoord(y2),
           color->Word(), BlendAlpha(blend), BlendMode(blend), aa);
  return true;
}

bool IGraphics::DrawRadialLine(const IColor* color, float cx, float cy, float angle, float rMin, float rMax,
                               const IChannelBlend* blend, bool aa) {
  const float s = std::sin(angle), c = std::cos(angle);
  return DrawLine(color, cx + s * rMin, cy - c * rMin, cx + s * rMax, cy - c * rMax, blend, aa);
}

bool IGraphics::DrawArc(const IColor* color, float cx, float cy, float r, float minAngle, float maxAngle,
                        const IChannelBlend* blend, bool aa) {
  if (!color) return true;
  PIX_Arc(mDrawBitmap, cx, cy, r, minAngle, maxAngle, color->Word(), BlendAlpha(blend), BlendMode(blend), aa);
  return true;
}

bool IGraphics::DrawCircle(const IColor* color, float cx, float cy, float r, const IChannelBlend* blend, bool aa) {
  if (!color) return true;
  PIX_Circle(mDrawBitmap, cx, cy, r, color->Word(), BlendAlpha(blend), BlendMode(blend), aa);
  return true;
}

bool IGraphics::FillCircle(const IColor* color, int cx, int cy, float r, const IChannelBlend* blend, bool aa) {
  if (!color) return true;
  PIX_FillCircle(mDrawBitmap, static_cast<float>(cx), static_cast<float>(cy), r, color->Word(), BlendAlpha(blend),
                 BlendMode(blend), aa);
  return true;
}

bool IGraphics::RoundRect(const IColor* color, IRECT* r, const IChannelBlend* blend, int cornerRadius, bool aa) {
  if (!color || !r) return true;
  PIX_RoundRect(mDrawBitmap, static_cast<float>(r->L), static_cast<float>(r->T), static_cast<float>(r->W()),
                static_cast<float>(r->H()), cornerRadius, color->Word(), BlendAlpha(blend), BlendMode(blend), aa);
  return true;
}

bool IGraphics::FillRoundRect(const IColor* color, IRECT* r, const IChannelBlend* blend, int cr, bool aa) {
  if (!color || !r) return true;
  // Edges and sizes in 64 bits, saturated: the rectangle may lie at or span the ends of the int range.
  const long long L = r->L, T = r->T, R = r->R, w = r->W(), h = r->H(), c = cr;
  auto at = [](long long v) { return platform::satInt(v); };
  auto centre = [](long long v) { return static_cast<float>(v); };
  const unsigned int word = color->Word();
  const float alpha = BlendAlpha(blend);
  const int mode = BlendMode(blend);
  PIX_FillRect(mDrawBitmap, at(L + c), r->T, at(w - 2 * c), r->H(), word, alpha, mode);
  PIX_FillRect(mDrawBitmap, r->L, at(T + c), cr, at(h - 2 * c), word, alpha, mode);
  PIX_FillRect(mDrawBitmap, at(R - c), at(T + c), cr, at(h - 2 * c), word, alpha, mode);
  const float radius = static_cast<float>(cr);
  PIX_FillCircle(mDrawBitmap, centre(L + c), centre(T + c), radius, word, alpha, mode, aa);
  PIX_FillCircle(mDrawBitmap, centre(L + w - c - 1), centre(T + h - c - 1), radius, word, alpha, mode, aa);
  PIX_FillCircle(mDrawBitmap, centre(L + w - c - 1), centre(T + c), radius, word, alpha, mode, aa);
  PIX_FillCircle(mDrawBitmap, centre(L + c), centre(T + h - c - 1), radius, word, alpha, mode, aa);
  return true;
}

bool IGraphics::FillTriangle(const IColor* color, int x1, int y1, int x2, int y2, int x3, int y3,
                             const IChannelBlend* blend) {
  if (!color) return true;
  PIX_FillTriangle(mDrawBitmap, x1, y1, x2, y2, x3, y3, color->Word(), BlendAlpha(blend), BlendMode(blend));
  return true;
}

bool IGraphics::FillIConvexPolygon(const IColor* color, int* x, int* y, int npoints, const IChannelBlend* blend) {
  if (!color || !x || !y) return true;
  PIX_FillConvexPolygon(mDrawBitmap, x, y, npoints, color->Word(), BlendAlpha(blend), BlendMode(blend));
  return true;
}

bool IGraphics::DrawRect(const IColor* color, IRECT* r) {
  if (!color || !r) return true;
  const unsigned int word = color->Word();
  PIX_Line(mDrawBitmap, r->L, r->T, r->R, r->T, word, 1.0f, 0, false);
  PIX_Line(mDrawBitmap, r->L, r->B, r->R, r->B, word, 1.0f, 0, false);
  PIX_Line(mDrawBitmap, r->L, r->T, r->L, r->B, word, 1.0f, 0, false);
  PIX_Line(mDrawBitmap, r->R, r->T, r->R, r->B, word, 1.0f, 0, false);
  return true;
}

bool IGraphics::DrawVerticalLine(const IColor* color, int xi, int yLo, int yHi) {
  if (!color) return true;
  PIX_Line(mDrawBitmap, xi, yLo, xi, yHi, color->Word(), 1.0f, 0, false);
  return true;
}

bool IGraphics::DrawHorizontalLine(const IColor* color, int yi, int xLo, int xHi) {
  if (!color) return true;
  PIX_Line(mDrawBitmap, xLo, yi, xHi, yi, color->Word(), 1.0f, 0, false);
  return true;
}

bool IGraphics::DrawVerticalLine(const IColor* color, IRECT* r, float x) {
  if (!r) return true;
  x = std::max(0.0f, std::min(1.0f, x));
  return DrawVerticalLine(color, platform::intCoord(r->L + std::trunc(r->W() * x)), r->T, r->B);
}

bool IGraphics::DrawHorizontalLine(const IColor* color, IRECT* r, float y) {
  if (!r) return true;
  y = std::max(0.0f, std::min(1.0f, y));
  return DrawHorizontalLine(color, platform::intCoord(r->B - std::trunc(r->H() * y)), r->L, r->R);
}

IKnobLineControl::IKnobLineControl(IEffectBase* plug, IRECT rect, int paramIdx, const IColor* color, double innerRadius,
                                   double outerRadius, double minAngle, double maxAngle, EDirection direction,
                                   double gearing)
    : IKnobControl(plug, rect, paramIdx, direction, gearing),
      mColor(color ? *color : COLOR_BLACK),
      mMinAngle(static_cast<float>(minAngle)),
      mMaxAngle(static_cast<float>(maxAngle)),
      mInnerRadius(static_cast<float>(innerRadius)),
      mOuterRadius(static_cast<float>(outerRadius)) {
  mBlend = IChannelBlend(IChannelBlend::kBlendClobber);
  if (mOuterRadius == 0.0f) mOuterRadius = 0.5f * static_cast<float>(rect.W());
}

bool IKnobLineControl::Draw(IGraphics* graphics) {
  const float a = mMinAngle + static_cast<float>(mValue) * (mMaxAngle - mMinAngle);
  const float cx = (static_cast<float>(mRECT.L) + static_cast<float>(mRECT.R)) * 0.5f;
  const float cy = (static_cast<float>(mRECT.T) + static_cast<float>(mRECT.B)) * 0.5f;
  return graphics->DrawRadialLine(&mColor, cx, cy, a, mInnerRadius, mOuterRadius, &mBlend, true);
}
