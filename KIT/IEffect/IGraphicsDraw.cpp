// The drawing operations that controls call: bitmaps clipped to the area being repainted, rotated bitmaps,
// points, rectangles and text with cached fonts.
#include <cmath>

#include "KIT/IEffect/IGraphics.h"
#include "KIT/pix/pix.h"

namespace {

// Frame offsets count from frame 1; a one-frame bitmap or frame 1 (or below) keeps the given offsets.
void frameOffset(const IBitmap* bitmap, int frame, int* srcX, int* srcY) {
  if (frame < 2 || bitmap->N < 2) return;
  if (bitmap->mFramesAreHorizontal)
    *srcX = static_cast<int>(static_cast<double>(frame - 1) * bitmap->W / bitmap->N + 0.5);
  else
    *srcY = static_cast<int>(static_cast<double>(frame - 1) * bitmap->H / bitmap->N + 0.5);
}

}  // namespace

bool IGraphics::DrawBitmap(IBitmap* bitmap, IRECT* dest, int srcX, int srcY, const IChannelBlend* blend) {
  if (!bitmap || !bitmap->mData || !dest || !mDrawBitmap) return true;
  const IRECT r = dest->Intersect(mDrawRECT);
  if (r.W() <= 0 || r.H() <= 0) return true;
  // The source offset in 64 bits: a destination may start far beyond the drawing, at an end of the int range.
  const int fromX = platform::satInt(static_cast<long long>(srcX) + r.L - dest->L);
  const int fromY = platform::satInt(static_cast<long long>(srcY) + r.T - dest->T);
  PIX_Blit(mDrawBitmap, bitmap->mData, r.L, r.T, fromX, fromY, r.W(), r.H(), BlendAlpha(blend), BlendMode(blend));
  return true;
}

bool IGraphics::DrawBitmap(IBitmap* bitmap, IRECT* dest, int frame, int srcX, int srcY, const IChannelBlend* blend) {
  if (!bitmap) return true;
  frameOffset(bitmap, frame, &srcX, &srcY);
  return DrawBitmap(bitmap, dest, srcX, srcY, blend);
}

bool IGraphics::DrawBitmap(IBitmap* bitmap, IRECT* dest, int frame, const IChannelBlend* blend) {
  return DrawBitmap(bitmap, dest, frame, 0, 0, blend);
}

bool IGraphics::DrawRotatedBitmap(IBitmap* bitmap, int destCtrX, int destCtrY, double angle, int yOffsetZeroDeg,
                                  const IChannelBlend* blend) {
  if (!bitmap || !bitmap->mData || !mDrawBitmap) return true;
  const int W = bitmap->W, H = bitmap->H;
  const int mode = (blend ? BlendMode(blend) : PIX_BLIT_USE_SOURCE_ALPHA) | PIX_BLIT_FILTER_BILINEAR;
  PIX_RotatedBlit(mDrawBitmap, bitmap->mData, platform::intCoord(static_cast<double>(destCtrX) - W / 2),
                  platform::intCoord(static_cast<double>(destCtrY) - H / 2), W, H, 0.0f, 0.0f, static_cast<float>(W),
                  static_cast<float>(H), static_cast<float>(angle), false, BlendAlpha(blend), mode, 0.0f,
                  static_cast<float>(yOffsetZeroDeg));
  return true;
}

bool IGraphics::DrawRotatedMask(IBitmap* base, IBitmap* mask, IBitmap* top, int x, int y, double angle,
                                const IChannelBlend* blend) {
  if (!base || !base->mData || !mDrawBitmap) return true;
  if (!mTmpBitmap) mTmpBitmap = new PIX_MemBitmap(0, 0, 4);
  const int W = base->W, H = base->H;
  PIX_Copy(mTmpBitmap, base->mData);
  PIX_ClearRect(mTmpBitmap, 0, 0, W, H, 0xFFFFFF00u, 0);
  const float a = static_cast<float>(angle * M_PI / 180.0);
  const float xOffset = (W & 1) ? -0.5f : 0.0f;
  if (mask && mask->mData)
    PIX_RotatedBlit(mTmpBitmap, mask->mData, 0, 0, W, H, 0.0f, 0.0f, static_cast<float>(W), static_cast<float>(H), a,
                    true, 1.0f, PIX_BLIT_USE_SOURCE_ALPHA | PIX_BLIT_FILTER_BILINEAR | PIX_BLIT_MODE_ADD, xOffset,
                    0.0f);
  if (top && top->mData)
    PIX_RotatedBlit(mTmpBitmap, top->mData, 0, 0, W, H, 0.0f, 0.0f, static_cast<float>(W), static_cast<float>(H), a,
                    true, 1.0f, PIX_BLIT_USE_SOURCE_ALPHA | PIX_BLIT_FILTER_BILINEAR, xOffset, 0.0f);
  IBitmap scratch(mTmpBitmap, W, H);
  IRECT dest(x, y, platform::satAdd(x, W), platform::satAdd(y, H));
  return DrawBitmap(&scratch, &dest, 0, 0, blend);
}

bool IGraphics::DrawPoint(const IColor* color, float x, float y, const IChannelBlend* blend, bool) {
  if (!color) return true;
  PIX_PutPixel(mDrawBitmap, platform::intCoord(x + 0.5f), platform::intCoord(y + 0.5f), color->Word(),
               BlendAlpha(blend), BlendMode(blend));
  return true;
}

bool IGraphics::ForcePixel(const IColor* color, int x, int y) {
  if (!color || !mDrawBitmap) return true;
  PIX_pixel* bits = mDrawBitmap->getBits();
  if (!bits || x < 0 || y < 0 || x >= mDrawBitmap->getWidth() || y >= mDrawBitmap->getHeight()) return true;
  bits[static_cast<long>(y) * mDrawBitmap->getRowSpan() + x] = color->Word();
  return true;
}

IColor IGraphics::GetPoint(int x, int y) {
  return IColor::FromWord(PIX_GetPixel(mDrawBitmap, x, y));
}

bool IGraphics::FillIRect(const IColor* color, IRECT* r, const IChannelBlend* blend) {
  if (!color || !r) return true;
  PIX_FillRect(mDrawBitmap, r->L, r->T, r->W(), r->H(), color->Word(), BlendAlpha(blend), BlendMode(blend));
  return true;
}

bool IGraphics::DrawIText(IText* text, const char* str, IRECT* r, bool measure, bool clip) {
  if (!str || !*str || !text || !r) return true;
  PIX_IFont* font = text->mCached ? text->mCached : CacheFont(text);
  if (!font) return false;
  font->SetTextColor(text->mColor.Word());

  unsigned int flags = clip ? 0 : 0x100;  // 0x100: no clipping to the rectangle
  if (text->mColor.A < 255) flags |= PIX_DT_USEFGALPHA;
  if (text->mAlign == IText::kAlignCenter)
    flags |= 0x4;
  else if (text->mAlign == IText::kAlignFar)
    flags |= 0x20;
  if (text->mVAlign == IText::kVAlignBottom)
    flags |= 0x10;
  else if (text->mVAlign != IText::kVAlignTop)
    flags |= 0x2;

  if (!measure) {
    RECT rect = {r->L, r->T, r->R, r->B};
    font->DrawText(mDrawBitmap, str, -1, &rect, flags);
    return true;
  }
  RECT rect = {0, 0, 0, 0};
  font->DrawText(mDrawBitmap, str, -1, &rect, flags | 0x1);
  const int w = rect.right, h = rect.bottom;
  if (text->mAlign == IText::kAlignNear) {
    // The measured width itself, which is L + w for the rectangles at 0 that callers measure into.
    r->R = r->L == 0 ? w : platform::satAdd(r->L, w);
  } else if (text->mAlign == IText::kAlignCenter) {
    r->L = platform::intCoord(std::trunc((static_cast<double>(r->L) + r->R) * 0.5) - w / 2);
    r->R = platform::intCoord(static_cast<double>(r->L) + w);
  } else if (text->mAlign == IText::kAlignFar) {
    r->L = platform::satAdd(r->R, -w);
  }
  r->B = platform::satAdd(r->T, h);
  return true;
}
