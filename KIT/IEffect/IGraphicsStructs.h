// The plain records that the editor surface, its controls, its drawing operations and its caches hand to each
// other: rectangles, colours, blends, text styles, bitmap handles, mouse modifiers and directions. They are copied
// by value and own nothing.
#pragma once

#include <algorithm>

#include "platform/graphics/coords.h"

class PIX_IBitmap;
class PIX_IFont;

enum EDirection { kVertical = 0, kHorizontal = 1 };
enum EFileAction { kFileOpen = 0, kFileSave = 1 };

// Right and bottom are exclusive; all four 0 is the empty rectangle.
struct IRECT {
  int L = 0, T = 0, R = 0, B = 0;

  IRECT() = default;
  IRECT(int l, int t, int r, int b) : L(l), T(t), R(r), B(b) {}

  bool Empty() const { return L == 0 && T == 0 && R == 0 && B == 0; }
  // Saturated: a rectangle spanning the int range is INT_MAX wide, not a wrapped negative width.
  int W() const { return platform::satInt(static_cast<long long>(R) - L); }
  int H() const { return platform::satInt(static_cast<long long>(B) - T); }
  bool operator==(const IRECT& o) const { return L == o.L && T == o.T && R == o.R && B == o.B; }
  bool operator!=(const IRECT& o) const { return !(*this == o); }

  // Half-open containment, as a click is tested.
  bool Contains(int x, int y) const { return x >= L && x < R && y >= T && y < B; }

  // The repaint rule: a rectangle that only touches this one's right or bottom edge still counts as meeting it,
  // so that controls drawn one pixel beyond their nominal edge are repainted too.
  bool Meets(const IRECT& other) const {
    return !Empty() && !other.Empty() && L < other.R && R >= other.L && T < other.B && B >= other.T;
  }

  IRECT Union(const IRECT& other) const {
    if (Empty()) return other;
    if (other.Empty()) return *this;
    return IRECT(std::min(L, other.L), std::min(T, other.T), std::max(R, other.R), std::max(B, other.B));
  }

  // Empty when the two do not meet.
  IRECT Intersect(const IRECT& other) const {
    if (!Meets(other)) return IRECT();
    return IRECT(std::max(L, other.L), std::max(T, other.T), std::min(R, other.R), std::min(B, other.B));
  }
};

struct IColor {
  int A = 255, R = 0, G = 0, B = 0;

  IColor() = default;
  IColor(int a, int r, int g, int b) : A(a), R(r), G(g), B(b) {}
  bool operator==(const IColor& o) const { return A == o.A && R == o.R && G == o.G && B == o.B; }
  bool operator!=(const IColor& o) const { return !(*this == o); }

  // The raster colour word: alpha in the low byte, as a pixel's bytes lie in memory.
  unsigned int Word() const {
    return (unsigned int)(A & 0xFF) | ((unsigned int)(R & 0xFF) << 8) | ((unsigned int)(G & 0xFF) << 16) |
           ((unsigned int)(B & 0xFF) << 24);
  }
  static IColor FromWord(unsigned int w) {
    return IColor((int)(w & 0xFF), (int)((w >> 8) & 0xFF), (int)((w >> 16) & 0xFF), (int)((w >> 24) & 0xFF));
  }
};

extern const IColor COLOR_TRANSPARENT;
extern const IColor COLOR_BLACK;
extern const IColor COLOR_GRAY;
extern const IColor COLOR_WHITE;
extern const IColor COLOR_RED;
extern const IColor COLOR_GREEN;
extern const IColor COLOR_BLUE;
extern const IColor COLOR_YELLOW;
extern const IColor COLOR_ORANGE;
extern const IColor DEFAULT_TEXT_COLOR;
extern const IColor DEFAULT_TEXT_ENTRY_BGCOLOR;
extern const IColor DEFAULT_TEXT_ENTRY_FGCOLOR;

struct IChannelBlend {
  enum EBlendMethod { kBlendNone = 0, kBlendClobber = 1, kBlendAdd = 2, kBlendColorDodge = 3 };

  int mMethod = kBlendNone;
  float mWeight = 1.0f;

  IChannelBlend() = default;
  explicit IChannelBlend(int method, float weight = 1.0f) : mMethod(method), mWeight(weight) {}
};

// The raster alpha and mode word of a blend; no blend at all copies weighted by the source alpha.
float BlendAlpha(const IChannelBlend* blend);
// GrayOut sets a control's weight from any thread (the transfer jobs, the MIDI input) while the main thread draws
// with it: relaxed atomic accesses to the plain float, so that the struct stays copyable.
inline float BlendWeight(const IChannelBlend* blend) {
  float weight;
  __atomic_load(&blend->mWeight, &weight, __ATOMIC_RELAXED);
  return weight;
}
inline void SetBlendWeight(IChannelBlend* blend, float weight) {
  __atomic_store(&blend->mWeight, &weight, __ATOMIC_RELAXED);
}
int BlendMode(const IChannelBlend* blend);

struct IText {
  enum EStyle { kStyleNormal = 0, kStyleBold = 1, kStyleItalic = 2 };
  enum EAlign { kAlignNear = 0, kAlignCenter = 1, kAlignFar = 2 };
  enum EVAlign { kVAlignTop = 0, kVAlignBottom = 1, kVAlignMiddle = 2 };
  enum EQuality { kQualityDefault = 0, kQualityNoAntiAliasing = 1, kQualityAntiAliasing = 2, kQualityClearType = 3 };
  static constexpr int kFaceLen = 32;

  char mFont[kFaceLen];
  int mSize = 12;
  IColor mColor;
  IColor mTextEntryBGColor;
  IColor mTextEntryFGColor;
  int mStyle = kStyleNormal;
  int mAlign = kAlignCenter;
  int mVAlign = kVAlignMiddle;
  int mOrientation = 0;  // degrees, counter-clockwise
  int mQuality = kQualityClearType;
  PIX_IFont* mCached = nullptr;  // owned by the font cache

  IText();
  // A null face keeps the default face; longer faces are cut to 31 characters.
  IText(int size, const IColor* color = nullptr, const char* font = nullptr, int style = kStyleNormal,
        int align = kAlignCenter, int orientation = 0, int quality = kQualityClearType);
  void SetFont(const char* font);
};

// A handle on a cached bitmap: W and H cover every frame; N frames side by side or stacked.
struct IBitmap {
  PIX_IBitmap* mData = nullptr;  // owned by the bitmap cache
  int W = 0, H = 0, N = 1;
  bool mFramesAreHorizontal = false;

  IBitmap() = default;
  IBitmap(PIX_IBitmap* data, int w, int h, int n = 1, bool framesAreHorizontal = false)
      : mData(data), W(w), H(h), N(n), mFramesAreHorizontal(framesAreHorizontal) {}
  // Size of one frame.
  int FrameWidth() const { return mFramesAreHorizontal && N > 1 ? W / N : W; }
  int FrameHeight() const { return !mFramesAreHorizontal && N > 1 ? H / N : H; }
};

struct IMouseMod {
  bool L = false, R = false, S = false, C = false, A = false;

  IMouseMod() = default;
  IMouseMod(bool l, bool r = false, bool s = false, bool c = false, bool a = false) : L(l), R(r), S(s), C(c), A(a) {}
};
