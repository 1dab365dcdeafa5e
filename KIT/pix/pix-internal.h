// Helpers shared by the raster library's own units; not part of its interface.
#pragma once

#include <atomic>
#include <cmath>
#include <cstdint>

#include "KIT/pix/pix-combine.h"
#include "platform/graphics/coords.h"

namespace pix_detail {

// When set, operations skip the loops that exist only for speed (whole-block copies, word fills, vector and table
// driven loops) and run the plain per-pixel loops of their combiner. The results must be the same; tests compare
// both ways. Set it only while no drawing runs.
extern std::atomic<bool> useReferencePaths;

// Truncates toward zero like a C cast, but saturates instead of invoking undefined behaviour for values beyond
// the int range; NaN gives 0. Callers pass sizes, coordinates and weights straight from their callers.
inline int truncSat(double v) {
  return platform::intCoord(v);
}

inline int64_t truncSat64(double v) {
  if (!(v == v)) return 0;
  if (v >= 9.2e18) return INT64_C(9200000000000000000);
  if (v <= -9.2e18) return -INT64_C(9200000000000000000);
  return (int64_t)v;
}

inline int clampInt(int64_t v) {
  if (v > 2147483647) return 2147483647;
  if (v < -2147483647 - 1) return -2147483647 - 1;
  return (int)v;
}

// Weights beyond 4 times full strength (alphas far outside 0..1) are limited there: with such a weight as the
// source value (solid fills merge the alpha byte toward the weight) the combiners' products would overflow an int.
// Every weight an alpha of -4..4 gives is unchanged.
const int kMaxWeight = 1024;
inline int clampWeight(int w) {
  return w > kMaxWeight ? kMaxWeight : (w < -kMaxWeight ? -kMaxWeight : w);
}
inline int weightOf(double alpha) {
  return clampWeight(truncSat(alpha * 256.0));
}

// A negative destination size mirrors the picture: the destination starts at its other edge and the source
// rectangle is walked from its far side.
inline void mirrorNegativeSpan(int64_t& pos, int64_t& size, float& srcPos, float& srcSize) {
  if (size >= 0) return;
  pos += size;
  size = -size;
  srcPos += srcSize;
  srcSize = -srcSize;
}

template <class C>
struct CombinerTag {
  typedef C type;
};

// Calls f(CombinerTag<C>) with the combiner of the mixing modes 1..5 (add, dodge, multiply, overlay, HSV), which
// blits and shapes share; false for any other mode.
template <class F>
bool dispatchMixCombiner(int mode, F&& f) {
  switch (mode) {
    case 1:
      f(CombinerTag<_PIX_CombinePixelsAdd>());
      return true;
    case 2:
      f(CombinerTag<_PIX_CombinePixelsColorDodge>());
      return true;
    case 3:
      f(CombinerTag<_PIX_CombinePixelsMulNoClamp>());
      return true;
    case 4:
      f(CombinerTag<_PIX_CombinePixelsOverlay>());
      return true;
    case 5:
      f(CombinerTag<_PIX_CombinePixelsHSVAdjust>());
      return true;
    default:
      return false;
  }
}

// Calls f(CombinerTag<C>) with the combiner that a blit of mode word m (mode AND 0x100FF) at the given weight
// uses; returns false, calling nothing, when the combination draws nothing. Copy at full weight stores.
template <class F>
bool dispatchBlitCombiner(int m, int weight, F&& f) {
  if (weight == 0) return false;
  switch (m) {
    case 0:
      if (weight < 1) return false;
      if (weight == 256)
        f(CombinerTag<_PIX_CombinePixelsClobberNoClamp>());
      else
        f(CombinerTag<_PIX_CombinePixelsCopyNoClamp>());
      return true;
    case 0x10000:
      if (weight == 256)
        f(CombinerTag<_PIX_CombinePixelsCopySourceAlphaIgnoreAlphaParmNoClamp>());
      else
        f(CombinerTag<_PIX_CombinePixelsCopySourceAlphaNoClamp>());
      return true;
    case 0x10001:
      f(CombinerTag<_PIX_CombinePixelsAddSourceAlpha>());
      return true;
    case 0x10002:
      f(CombinerTag<_PIX_CombinePixelsColorDodgeSourceAlpha>());
      return true;
    case 0x10003:
      f(CombinerTag<_PIX_CombinePixelsMulSourceAlphaNoClamp>());
      return true;
    case 0x10004:
      f(CombinerTag<_PIX_CombinePixelsOverlaySourceAlpha>());
      return true;
    case 0x10005:
      f(CombinerTag<_PIX_CombinePixelsHSVAdjustSourceAlpha>());
      return true;
    default:
      return dispatchMixCombiner(m, f);
  }
}

// First pixel and signed row step in bytes of picture row y, honouring the flipped report.
inline unsigned char* rowStart(PIX_pixel* bits, int span, int height, bool flipped, int y, int x, int* rowBytes) {
  int row = flipped ? height - 1 - y : y;
  *rowBytes = flipped ? -span * 4 : span * 4;
  return (unsigned char*)(bits + (intptr_t)row * span + x);
}

}  // namespace pix_detail

// Row loops over one combiner each; spans are signed row steps in bytes. Members are defined in the unit of the
// operation that runs them.
template <class C>
class _PIX_Template_Blit2 {
 public:
  static void blit(unsigned char* dest, unsigned char* src, int w, int h, int srcSpan, int destSpan, int alpha);
  static void scaleBlit(unsigned char* dest, unsigned char* src, int w, int h, int startX, int startY, int stepX,
                        int stepY, int clipRight, int clipBottom, int srcSpan, int destSpan, int alpha, int filterMode);
  static void scaleBlitFilterDown(unsigned char* dest, unsigned char* src, int w, int h, int startX, int startY,
                                  int stepX, int stepY, int clipRight, int clipBottom, int srcSpan, int destSpan,
                                  int alpha, int* filter, int filterStart, int filterSize);
};
