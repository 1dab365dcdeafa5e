#include <gtest/gtest.h>

#include "KIT/pix/pix.h"

namespace {

typedef void (*DoPix)(unsigned char*, int, int, int, int, int);

struct CombineRow {
  const char* what;
  DoPix doPix;
  PIX_pixel dest;
  int r, g, b, a, w;
  PIX_pixel expected;
};

#define C(cls) cls::doPix

const CombineRow kCombineRows[] = {
    {"copy at weight 0 leaves the pixel", C(_PIX_CombinePixelsCopyNoClamp), 0x11223344, 255, 255, 255, 255, 0,
     0x11223344},
    {"copy 255 at weight 128 over 0 gives 128", C(_PIX_CombinePixelsCopyNoClamp), 0, 255, 255, 255, 255, 128,
     0x80808080},
    {"copy at weight 256 gives the source", C(_PIX_CombinePixelsCopyNoClamp), 0x11223344, 1, 2, 3, 4, 256,
     PIX_RGBA(1, 2, 3, 4)},
    {"copy keeps the low 8 bits of out-of-range sources", C(_PIX_CombinePixelsCopyNoClamp), 0, 300, -1, 0, 0, 256,
     PIX_RGBA(300 & 255, 255, 0, 0)},
    {"clamped copy limits out-of-range sources", C(_PIX_CombinePixelsCopyClamp), 0, 300, -1, 0, 0, 256,
     PIX_RGBA(255, 0, 0, 0)},
    {"clobber stores whatever the weight", C(_PIX_CombinePixelsClobberNoClamp), 0xFFFFFFFF, 1, 2, 3, 4, 7,
     PIX_RGBA(1, 2, 3, 4)},
    {"half mix averages with truncation", C(_PIX_CombinePixelsHalfMixNoClamp), PIX_RGBA(1, 100, 255, 0), 2, 51, 0, 255,
     99, PIX_RGBA(1, 75, 127, 127)},
    {"add 200 onto 100 saturates at 255", C(_PIX_CombinePixelsAdd), PIX_RGBA(100, 100, 100, 100), 200, 200, 200, 200,
     256, 0xFFFFFFFF},
    {"add at half weight", C(_PIX_CombinePixelsAdd), PIX_RGBA(100, 100, 100, 100), 50, 51, 200, 0, 128,
     PIX_RGBA(125, 125, 200, 100)},
    {"add of a negative component floors at 0", C(_PIX_CombinePixelsAdd), PIX_RGBA(100, 100, 100, 100), -300, 50, 0, 0,
     256, PIX_RGBA(0, 150, 100, 100)},
    {"dodge with 255 at full weight saturates all but 0", C(_PIX_CombinePixelsColorDodge), PIX_RGBA(1, 128, 0, 255),
     255, 255, 255, 255, 256, PIX_RGBA(255, 255, 0, 255)},
    {"dodge with 128 doubles", C(_PIX_CombinePixelsColorDodge), PIX_RGBA(100, 200, 0, 1), 128, 128, 128, 128, 256,
     PIX_RGBA(200, 255, 0, 2)},
    {"multiply by 255 turns 255 into 254", C(_PIX_CombinePixelsMulNoClamp), PIX_RGBA(255, 100, 0, 255), 255, 255, 255,
     255, 256, PIX_RGBA(254, 99, 0, 254)},
    {"multiply at weight 0 leaves the pixel", C(_PIX_CombinePixelsMulNoClamp), PIX_RGBA(255, 100, 7, 255), 0, 0, 0, 0,
     0, PIX_RGBA(255, 100, 7, 255)},
    {"multiply by 0 at half weight halves", C(_PIX_CombinePixelsMulNoClamp), PIX_RGBA(255, 100, 7, 255), 0, 0, 0, 0,
     128, PIX_RGBA(127, 50, 3, 127)},
    {"clamped multiply limits a large component", C(_PIX_CombinePixelsMulClamp), PIX_RGBA(255, 100, 0, 0), 1000, 0, 0,
     0, 256, PIX_RGBA(255, 0, 0, 0)},
    {"overlay with black squares the destination", C(_PIX_CombinePixelsOverlay), PIX_RGBA(255, 128, 0, 16), 0, 0, 0, 0,
     256, PIX_RGBA(254, 64, 0, 1)},
    {"overlay with white", C(_PIX_CombinePixelsOverlay), PIX_RGBA(128, 0, 255, 255), 255, 255, 255, 255, 256,
     PIX_RGBA(191, 0, 255, 255)},
    {"HSV of grey shifts the value only", C(_PIX_CombinePixelsHSVAdjust), PIX_RGBA(100, 100, 100, 9), 128, 128, 160, 77,
     256, PIX_RGBA(164, 164, 164, 77)},
    {"HSV of pure red with no adjustment keeps it", C(_PIX_CombinePixelsHSVAdjust), PIX_RGBA(255, 0, 0, 0), 128, 128,
     128, 255, 256, PIX_RGBA(255, 0, 0, 255)},
    {"HSV of a grey with full desaturation stays grey", C(_PIX_CombinePixelsHSVAdjust), PIX_RGBA(50, 50, 50, 0), 200, 0,
     128, 1, 256, PIX_RGBA(50, 50, 50, 1)},
    {"source-alpha copy skips alpha 0", C(_PIX_CombinePixelsCopySourceAlphaNoClamp), 0x11223344, 255, 255, 255, 0, 256,
     0x11223344},
    {"source-alpha copy at weight 128 of an opaque source", C(_PIX_CombinePixelsCopySourceAlphaNoClamp),
     PIX_RGBA(0, 0, 0, 0), 200, 200, 200, 255, 128, PIX_RGBA(100, 100, 100, 128)},
    {"full source-alpha copy skips alpha 0", C(_PIX_CombinePixelsCopySourceAlphaIgnoreAlphaParmNoClamp), 0x11223344,
     255, 255, 255, 0, 256, 0x11223344},
    {"full source-alpha copy stores an opaque source", C(_PIX_CombinePixelsCopySourceAlphaIgnoreAlphaParmNoClamp),
     0x11223344, 1, 2, 3, 255, 256, PIX_RGBA(1, 2, 3, 255)},
    {"full source-alpha copy of a half-transparent source", C(_PIX_CombinePixelsCopySourceAlphaIgnoreAlphaParmNoClamp),
     PIX_RGBA(0, 0, 0, 200), 200, 200, 200, 128, 256, PIX_RGBA(101, 101, 101, 255)},
    {"source-alpha add skips alpha 0", C(_PIX_CombinePixelsAddSourceAlpha), 0x11223344, 255, 255, 255, 0, 256,
     0x11223344},
    {"source-alpha add at half source alpha", C(_PIX_CombinePixelsAddSourceAlpha), PIX_RGBA(100, 100, 100, 0), 100, 100,
     100, 127, 256, PIX_RGBA(150, 150, 150, 63)},
    {"source-alpha multiply skips alpha 0", C(_PIX_CombinePixelsMulSourceAlphaNoClamp), 0x11223344, 0, 0, 0, 0, 256,
     0x11223344},
    {"source-alpha dodge applies weight 1 at alpha 0", C(_PIX_CombinePixelsColorDodgeSourceAlpha),
     PIX_RGBA(100, 0, 0, 0), 255, 255, 255, 0, 256, PIX_RGBA(100, 0, 0, 0)},
    {"source-alpha overlay at alpha 0 turns 255 into 254", C(_PIX_CombinePixelsOverlaySourceAlpha),
     PIX_RGBA(255, 255, 255, 255), 0, 0, 0, 0, 256, PIX_RGBA(254, 254, 254, 254)},
    {"source-alpha HSV keeps the source alpha byte", C(_PIX_CombinePixelsHSVAdjustSourceAlpha), PIX_RGBA(255, 0, 0, 0),
     128, 128, 128, 255, 256, PIX_RGBA(255, 0, 0, 255)},
};

TEST(Combiners, MergeOneChannelSetAsTabled) {
  for (const CombineRow& row : kCombineRows) {
    PIX_pixel px = row.dest;
    row.doPix((unsigned char*)&px, row.r, row.g, row.b, row.a, row.w);
    EXPECT_EQ(px, row.expected) << row.what << std::hex << ": got 0x" << px << " want 0x" << row.expected;
  }
}

TEST(Combiners, WordWiseMixesTruncateEachByte) {
  struct Row {
    const char* what;
    PIX_pixel dest, src, expected;
    int kind;  // 0 half, 1 half prepared, 2 quarter, 3 three quarters, 4 clobber
  } rows[] = {
      {"half mix of white and black", 0xFFFFFFFF, 0x00000000, 0x7F7F7F7F, 0},
      {"half mix of black and white", 0x00000000, 0xFFFFFFFF, 0x7F7F7F7F, 0},
      {"prepared half mix", 0xFFFFFFFF, 0x00000000, 0x7F7F7F7F, 1},
      {"quarter colour over white", 0xFFFFFFFF, 0x00000000, 0xBEBEBEBE, 2},
      {"quarter white over black", 0x00000000, 0xFFFFFFFF, 0x3F3F3F3F, 2},
      {"three quarters black over white", 0xFFFFFFFF, 0x00000000, 0x3F3F3F3F, 3},
      {"three quarters white over black", 0x00000000, 0xFFFFFFFF, 0xBEBEBEBE, 3},
      {"clobber", 0x12345678, 0x9ABCDEF0, 0x9ABCDEF0, 4},
  };
  for (const Row& r : rows) {
    PIX_pixel d = r.dest;
    switch (r.kind) {
      case 0:
        _PIX_CombinePixelsHalfMixFAST::doPix(&d, r.src);
        break;
      case 1:
        _PIX_CombinePixelsHalfMix2FAST::doPix(&d, _PIX_CombinePixelsHalfMix2FAST::prepare(r.src));
        break;
      case 2:
        _PIX_CombinePixelsQuarterMix2FAST::doPix(&d, _PIX_CombinePixelsQuarterMix2FAST::prepare(r.src));
        break;
      case 3:
        _PIX_CombinePixelsThreeQuarterMix2FAST::doPix(&d, _PIX_CombinePixelsThreeQuarterMix2FAST::prepare(r.src));
        break;
      default:
        _PIX_CombinePixelsClobberFAST::doPix(&d, r.src);
        break;
    }
    EXPECT_EQ(d, r.expected) << r.what;
  }
}

TEST(Combiners, InverseTableHoldsReciprocals) {
  EXPECT_EQ(_PIX_RGB2HSV_invtab[0], 0);
  EXPECT_EQ(_PIX_RGB2HSV_invtab[1], 65535);
  EXPECT_EQ(_PIX_RGB2HSV_invtab[3], 21844);
  EXPECT_EQ(_PIX_RGB2HSV_invtab[255], 256);
}

// The HSV round trip must stay on the colour circle for every destination, whatever the adjustment.
TEST(Combiners, HsvAdjustNeverLeavesTheByteRange) {
  for (int d = 0; d < (1 << 15); d += 7) {
    int R = (d * 37) & 255, G = (d * 101) & 255, B = (d * 211) & 255;
    for (int adj : {0, 64, 128, 200, 255}) {
      PIX_pixel px = PIX_RGBA(R, G, B, 1);
      _PIX_CombinePixelsHSVAdjust::doPix((unsigned char*)&px, adj, adj, 255 - adj, 3, 256);
      EXPECT_EQ(PIX_GETA(px), 3u);
    }
  }
  // Weights beyond full strength (alpha above 1) and components beyond a byte must not step off the table.
  PIX_pixel px = PIX_RGBA(10, 200, 30, 0);
  _PIX_CombinePixelsHSVAdjust::doPix((unsigned char*)&px, 100000, 128, 128, 0, 4096);
  px = PIX_RGBA(10, 200, 30, 0);
  _PIX_CombinePixelsHSVAdjust::doPix((unsigned char*)&px, -100000, 128, 128, 0, 4096);
}

TEST(CombinePixels, SelectTheCombinerFromModeAndWeight) {
  struct Row {
    const char* what;
    PIX_pixel dest, src;
    float alpha;
    int mode;
    PIX_pixel expected;
  } rows[] = {
      {"copy at weight 0", 0x11223344, 0xFFFFFFFF, 0.0f, 0, 0x11223344},
      {"copy at weight below 1", 0x11223344, 0xFFFFFFFF, 0.003f, 0, 0x11223344},
      {"copy at half weight runs the copy formula", 0, 0xFFFFFFFF, 0.5f, 0, 0x80808080},
      {"copy at full weight stores", 0x11223344, 0x55667788, 1.0f, 0, 0x55667788},
      {"filter bits are ignored", 0x11223344, 0x55667788, 1.0f, 0x100, 0x55667788},
      {"add", PIX_RGBA(100, 100, 100, 100), PIX_RGBA(200, 200, 200, 200), 1.0f, 1, 0xFFFFFFFF},
      {"multiply", PIX_RGBA(255, 255, 255, 255), 0xFFFFFFFF, 1.0f, 3, PIX_RGBA(254, 254, 254, 254)},
      {"mode 6 draws nothing", 0x11223344, 0xFFFFFFFF, 1.0f, 6, 0x11223344},
      {"source alpha 0 at full weight", 0x11223344, PIX_RGBA(9, 9, 9, 0), 1.0f, 0x10000, 0x11223344},
      {"source alpha 255 at full weight", 0x11223344, PIX_RGBA(9, 8, 7, 255), 1.0f, 0x10000, PIX_RGBA(9, 8, 7, 255)},
      {"source-alpha mode 6 draws nothing", 0x11223344, 0xFFFFFFFF, 1.0f, 0x10006, 0x11223344},
      {"NaN alpha draws nothing", 0x11223344, 0xFFFFFFFF, std::numeric_limits<float>::quiet_NaN(), 0, 0x11223344},
  };
  for (const auto& r : rows) EXPECT_EQ(PIX_CombinePixels(r.dest, r.src, r.alpha, r.mode), r.expected) << r.what;
}

TEST(CombinePixels, ComponentFormsClampOnlyWhenAsked) {
  unsigned int px = 0;
  PIX_CombinePixels2(&px, 300, -5, 10, 20, 256, 0);
  EXPECT_EQ(px, PIX_RGBA(300 & 255, -5 & 255, 10, 20));
  px = 0;
  PIX_CombinePixels2Clamp(&px, 300, -5, 10, 20, 256, 0);
  EXPECT_EQ(px, PIX_RGBA(255, 0, 10, 20));
  px = 0x11223344;
  PIX_CombinePixels2(&px, 300, -5, 10, 20, 0, 0);
  EXPECT_EQ(px, 0x11223344u);
  px = PIX_RGBA(255, 0, 0, 0);
  PIX_CombinePixels2Clamp(&px, 1000, 0, 0, 0, 256, 3);
  EXPECT_EQ(px, PIX_RGBA(255, 0, 0, 0));
  PIX_CombinePixels2(nullptr, 1, 2, 3, 4, 256, 0);
}

}  // namespace
