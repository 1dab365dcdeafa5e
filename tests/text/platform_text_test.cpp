// The drawing and text stand-ins on their own: pixels written by fills, strokes, clips and images,
// and fonts resolved, measured and drawn.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "platform/graphics/graphics.h"
#include "platform/text/text.h"

using namespace platform;

namespace {

// A flipped memory canvas as the window layer makes them: y grows downwards from the top row.
struct Canvas {
  Canvas(int w, int h) : w(w), h(h), pixels(static_cast<size_t>(w) * h * 4, 0) {
    ctx = gfx::Context::createOverMemory(pixels.data(), w, h, w * 4);
    ctx->translate(0, static_cast<float>(h));
    ctx->scale(1, -1);
  }
  ~Canvas() { delete ctx; }
  const uint8_t* at(int x, int y) const { return &pixels[(static_cast<size_t>(y) * w + x) * 4]; }
  int red(int x, int y) const { return at(x, y)[1]; }
  int w, h;
  std::vector<uint8_t> pixels;
  gfx::Context* ctx;
};

TEST(GraphicsContext, RefusesBuffersThatCannotHoldTheRows) {
  uint8_t buf[64];
  EXPECT_EQ(gfx::Context::createOverMemory(nullptr, 2, 2, 8), nullptr);
  EXPECT_EQ(gfx::Context::createOverMemory(buf, 0, 2, 8), nullptr);
  EXPECT_EQ(gfx::Context::createOverMemory(buf, 4, 2, 8), nullptr);
}

TEST(GraphicsContext, WholePixelRectangleFillsExactlyItsPixelsAndKeepsTheLeadingByte) {
  Canvas c(8, 6);
  for (size_t i = 0; i < c.pixels.size(); i += 4) c.pixels[i] = 0x5A;
  c.ctx->setFillColor(gfx::colorFromRGB(0x102030));
  c.ctx->fillRect({2, 1, 3, 2});
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 8; ++x) {
      const bool inside = x >= 2 && x < 5 && y >= 1 && y < 3;
      const uint8_t* p = c.at(x, y);
      EXPECT_EQ(p[0], 0x5A);
      EXPECT_EQ(p[1], inside ? 0x10 : 0) << x << "," << y;
      EXPECT_EQ(p[2], inside ? 0x20 : 0);
      EXPECT_EQ(p[3], inside ? 0x30 : 0);
    }
}

TEST(GraphicsContext, HalfCoveredPixelsBlendAndAlphaBlends) {
  Canvas c(4, 1);
  c.ctx->setFillColor(gfx::colorFromRGB(0xFFFFFF));
  c.ctx->fillRect({0.5f, 0, 1, 1});
  EXPECT_NEAR(c.red(0, 0), 128, 1);
  EXPECT_NEAR(c.red(1, 0), 128, 1);
  c.ctx->setFillColor(gfx::colorFromRGB(0xFF0000, 0.25f));
  c.ctx->fillRect({3, 0, 1, 1});
  EXPECT_NEAR(c.red(3, 0), 64, 1);
  c.ctx->setAntialias(false);
  c.ctx->setFillColor(gfx::colorFromRGB(0xFFFFFF));
  c.ctx->fillRect({2.6f, 0, 0.3f, 1});  // misses the pixel centre
  EXPECT_EQ(c.red(2, 0), 0);
}

TEST(GraphicsContext, ClipStackLimitsDrawingUntilRestored) {
  Canvas c(10, 10);
  c.ctx->save();
  c.ctx->clipToRect({2, 2, 3, 3});
  c.ctx->clipToRect({3, 0, 10, 10});
  c.ctx->setFillColor(gfx::colorFromRGB(0xFF0000));
  c.ctx->fillRect({0, 0, 10, 10});
  int inked = 0;
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 10; ++x)
      if (c.red(x, y)) {
        ++inked;
        EXPECT_TRUE(x >= 3 && x < 5 && y >= 2 && y < 5) << x << "," << y;
      }
  EXPECT_EQ(inked, 6);
  c.ctx->restore();
  c.ctx->restore();  // unmatched: harmless
  c.ctx->setFillColor(gfx::colorFromRGB(0xFF0000));
  c.ctx->fillRect({9, 9, 1, 1});
  EXPECT_EQ(c.red(9, 9), 255);
}

TEST(GraphicsContext, OneUnitLineThroughPixelCentresCoversOneRow) {
  Canvas c(12, 3);
  c.ctx->setStrokeColor(gfx::colorFromRGB(0xFF0000));
  c.ctx->setLineWidth(1);
  c.ctx->beginPath();
  c.ctx->moveTo(0.5f, 1.5f);
  c.ctx->lineTo(10.5f, 1.5f);
  c.ctx->strokePath();
  for (int x = 0; x < 12; ++x) {
    EXPECT_EQ(c.red(x, 0), 0);
    EXPECT_EQ(c.red(x, 2), 0);
    // Butt caps: the ends cover half of the end pixels.
    const int expected = x == 0 || x == 10 ? 128 : x < 10 ? 255 : 0;
    EXPECT_NEAR(c.red(x, 1), expected, 1) << x;
  }
}

TEST(GraphicsContext, ClosedStrokeOverlapsAddUpInsteadOfCancelling) {
  Canvas c(20, 20);
  c.ctx->setStrokeColor(gfx::colorFromRGB(0xFFFFFF));
  c.ctx->strokeRect({4, 4, 10, 10}, 2);
  // Corners are covered in full by the mitred joins.
  EXPECT_EQ(c.red(3, 3), 255);
  EXPECT_EQ(c.red(14, 14), 255);
  EXPECT_EQ(c.red(8, 8), 0);
  EXPECT_EQ(c.red(8, 4), 255);
}

TEST(GraphicsContext, FilledEllipseHasTheAreaOfAnEllipse) {
  Canvas c(60, 40);
  c.ctx->setFillColor(gfx::colorFromRGB(0xFFFFFF));
  c.ctx->fillEllipse({5, 5, 50, 30});
  double area = 0;
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 60; ++x) area += c.red(x, y) / 255.0;
  EXPECT_NEAR(area, 3.14159265 * 25 * 15, 6);
  EXPECT_EQ(c.red(30, 20), 255);
  EXPECT_EQ(c.red(6, 6), 0);
}

TEST(GraphicsContext, CubicCurveFillsTheHullSide) {
  Canvas c(40, 40);
  c.ctx->setFillColor(gfx::colorFromRGB(0xFFFFFF));
  c.ctx->beginPath();
  c.ctx->moveTo(0, 0);
  c.ctx->curveTo(40, 0, 40, 0, 40, 40);
  c.ctx->lineTo(0, 40);
  c.ctx->closePath();
  c.ctx->fillPath();
  EXPECT_EQ(c.red(5, 35), 255);
  EXPECT_EQ(c.red(38, 1), 0);
}

TEST(GraphicsContext, ImagesLandUprightWhenTheFlipIsUndone) {
  // 2 x 2 image: top row red, bottom row blue; drawn as the window layer does (flip back).
  const uint8_t img[16] = {0, 255, 0, 0, 0, 255, 0, 0, 0, 0, 0, 255, 0, 0, 0, 255};
  Canvas c(4, 4);
  c.ctx->save();
  c.ctx->scale(1, -1);
  c.ctx->drawImage({img, 2, 2, 8, false}, {1, -(1 + 2.0f), 2, 2});
  c.ctx->restore();
  EXPECT_EQ(c.red(1, 1), 255);
  EXPECT_EQ(c.at(2, 2)[3], 255);
  EXPECT_EQ(c.red(0, 0), 0);
  // Straight alpha in the leading byte blends.
  const uint8_t half[4] = {128, 255, 255, 255};
  Canvas d(1, 1);
  d.ctx->scale(1, -1);
  d.ctx->drawImage({half, 1, 1, 4, true}, {0, -1, 1, 1});
  EXPECT_NEAR(d.red(0, 0), 128, 1);
}

TEST(GraphicsContext, CoverageMasksStayInsideTheClip) {
  Canvas c(10, 10);
  std::vector<uint8_t> mask(36, 255);
  c.ctx->clipToRect({2, 2, 4, 4});
  c.ctx->drawCoverage(-1, 4, mask.data(), 6, 6, 6, gfx::colorFromRGB(0xFFFFFF));
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 10; ++x) EXPECT_EQ(c.red(x, y) != 0, x >= 2 && x < 5 && y >= 4 && y < 6) << x << "," << y;
}

struct NameCase {
  const char* face;
  const char* file;
};

TEST(TextFonts, FixedMapAndFallbackPickTheSameFilesEverywhere) {
  const NameCase cases[] = {
      {"NK57 Monospace", "DejaVuSansMono.ttf"},
      {"Consolas", "DejaVuSansMono.ttf"},
      {"Monaco Bold", "DejaVuSansMono-Bold.ttf"},
      {"NK57 Monospace Bold Italic", "DejaVuSansMono-BoldOblique.ttf"},
      {"", "DejaVuSans.ttf"},
      {"No Such Face 4711", "DejaVuSans.ttf"},
      {"No Such Face 4711 Italic", "DejaVuSans-Oblique.ttf"},
      {"DejaVu Serif", "DejaVuSerif.ttf"},
  };
  for (const NameCase& c : cases) {
    const std::string name = text::platformNameFor(c.face);
    EXPECT_NE(name.find(std::string("/") + c.file + "#0"), std::string::npos) << c.face << " -> " << name;
  }
}

TEST(TextFonts, MetricsComeFromDesignUnitsScaledBySize) {
  // DejaVu Sans: 2048 units per em, ascender 1901, descender -483, line gap 0.
  text::FontRef f = text::labelFont(10);
  ASSERT_TRUE(f);
  EXPECT_NEAR(f->metrics().ascent, 1901 * 10 / 2048.0, 1e-3);
  EXPECT_NEAR(f->metrics().descent, 483 * 10 / 2048.0, 1e-3);
  EXPECT_EQ(f->metrics().leading, 0);
  EXPECT_EQ(f->postScriptName(), "DejaVuSans");
  text::FontRef big = text::createFont(text::platformNameFor(""), 40);
  EXPECT_NEAR(big->metrics().ascent, 4 * f->metrics().ascent, 1e-3);
}

float widthOf(const text::FontRef& f, const char32_t* s) {
  return text::layoutLine(f, s, std::char_traits<char32_t>::length(s)).width;
}

TEST(TextFonts, MonospaceAdvancesAreEqualAndKerningTightensPairs) {
  text::FontRef mono = text::createFont("NK57 Monospace", 12);
  ASSERT_TRUE(mono);
  EXPECT_NEAR(widthOf(mono, U"iiii"), widthOf(mono, U"MMMM"), 1e-3);
  EXPECT_NEAR(widthOf(mono, U"M"), 1233 * 12 / 2048.0, 1e-3);
  text::FontRef sans = text::labelFont(20);
  EXPECT_LT(widthOf(sans, U"AV"), widthOf(sans, U"A") + widthOf(sans, U"V"));
}

TEST(TextFonts, StrictUtf8Decoding) {
  std::u32string out;
  EXPECT_TRUE(text::decodeUtf8("a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x8E\xB9", 10, out));
  EXPECT_EQ(out, U"a\u00E9\u20AC\U0001F3B9");
  EXPECT_FALSE(text::decodeUtf8("\xE2\x82", 2, out));      // cut sequence
  EXPECT_FALSE(text::decodeUtf8("\xC0\x80", 2, out));      // overlong
  EXPECT_FALSE(text::decodeUtf8("\xED\xA0\x80", 3, out));  // surrogate
  EXPECT_FALSE(text::decodeUtf8("\xE9", 1, out));          // Latin-1
}

TEST(TextDrawing, AntialiasedAndMonochromeInkStaysInTheClip) {
  for (bool aa : {true, false}) {
    Canvas c(80, 30);
    c.ctx->setAntialias(aa);
    c.ctx->clipToRect({10, 5, 30, 20});
    text::LineLayout line = text::layoutLine(text::labelFont(16), U"Wagon", 5);
    text::drawLine(*c.ctx, line, 8, 20, gfx::colorFromRGB(0xFFFFFF));
    int inked = 0, partial = 0;
    for (int y = 0; y < 30; ++y)
      for (int x = 0; x < 80; ++x) {
        const int v = c.red(x, y);
        if (!v) continue;
        ++inked;
        partial += v != 255;
        EXPECT_TRUE(x >= 10 && x < 40 && y >= 5 && y < 25) << x << "," << y;
      }
    EXPECT_GT(inked, 40);
    if (aa)
      EXPECT_GT(partial, 10);
    else
      EXPECT_EQ(partial, 0);
  }
}

TEST(TextDrawing, GlyphsSitOnTheBaselineAtTheOrigin) {
  Canvas c(60, 40);
  text::FontRef f = text::labelFont(20);
  text::drawLine(*c.ctx, text::layoutLine(f, U"H", 1), 10, 30, gfx::colorFromRGB(0xFFFFFF));
  int minX = 99, maxX = -1, minY = 99, maxY = -1;
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 60; ++x)
      if (c.red(x, y) > 128)
        minX = std::min(minX, x), maxX = std::max(maxX, x), minY = std::min(minY, y), maxY = std::max(maxY, y);
  EXPECT_EQ(maxY, 29);                              // sits on the baseline
  EXPECT_NEAR(30 - minY, 20 * 1493 / 2048.0, 1.5);  // cap height of DejaVu Sans
  EXPECT_NEAR(minX, 10 + 20 * 201 / 2048.0, 1.5);   // left side bearing of "H"
}

}  // namespace
