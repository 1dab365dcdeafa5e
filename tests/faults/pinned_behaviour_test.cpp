// Small behaviours of the platform model, the text code and the parameters that the rest of the suite relied on
// without ever checking them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "KIT/IEffect/IParam.h"
#include "platform/cocoa/runloop.h"
#include "platform/cocoa/view.h"
#include "platform/graphics/graphics.h"
#include "platform/text/text.h"

using namespace platform;

namespace {

TEST(RunLoopModes, ACommonModesTimerFiresWhileTheLoopRunsForAModalPanel) {
  cocoa::useManualClock();
  cocoa::RunLoop* loop = cocoa::RunLoop::current();
  int common = 0, plain = 0;
  cocoa::Timer* everywhere = new cocoa::Timer(0.1, true, [&](cocoa::Timer*) { ++common; });
  cocoa::Timer* defaultOnly = new cocoa::Timer(0.1, true, [&](cocoa::Timer*) { ++plain; });
  loop->addTimer(everywhere, cocoa::kCommonRunLoopModes);
  loop->addTimer(defaultOnly, cocoa::kDefaultRunLoopMode);
  everywhere->release();
  defaultOnly->release();
  loop->runUntilDate(cocoa::clockNow() + 0.35, cocoa::kModalPanelRunLoopMode);
  EXPECT_EQ(common, 3);
  EXPECT_EQ(plain, 0);
  everywhere->invalidate();
  defaultOnly->invalidate();
  cocoa::useRealClock();
}

// A view at (10,20) of 30x40 inside a window-sized parent (points below are in the parent's coordinates). Left edges
// are inside and right edges outside; in y the edge nearer the parent's origin is inside for a flipped parent (y down)
// and outside for an unflipped one (y up), so the view's first pixel row is hit either way.
TEST(ViewHitTesting, PointsOnTheEdgesFollowTheParentsOrientation) {
  struct Parent : cocoa::View {
    explicit Parent(bool f) : View(cocoa::Rect{0, 0, 100, 100}), flipped(f) {}
    bool isFlipped() const override { return flipped; }
    bool flipped;
  };
  struct Case {
    bool flippedParent;
    cocoa::Point p;
    bool hits;
  } cases[] = {
      {true, {10, 20}, true},   {true, {39.99, 59.99}, true}, {true, {40, 30}, false},  {true, {9.99, 30}, false},
      {true, {25, 60}, false},  {true, {25, 19.99}, false},   {false, {10, 60}, true},  {false, {25, 20.01}, true},
      {false, {25, 20}, false}, {false, {25, 60.01}, false},  {false, {40, 30}, false},
  };
  for (const Case& c : cases) {
    Parent* parent = new Parent(c.flippedParent);
    cocoa::View* child = new cocoa::View(cocoa::Rect{10, 20, 30, 40});
    parent->addSubview(child);
    // The parent stands at the window's origin; the window counts y upwards.
    const cocoa::Point inWindow{c.p.x, c.flippedParent ? 100 - c.p.y : c.p.y};
    EXPECT_EQ(parent->hitTest(inWindow) == child, c.hits)
        << (c.flippedParent ? "flipped" : "unflipped") << " parent, point " << c.p.x << "," << c.p.y;
    child->release();
    parent->release();
  }
}

TEST(Utf8, OverlongAndOutOfRangeLongSequencesAreRefused) {
  struct Case {
    const char* bytes;
    bool valid;
  } cases[] = {
      {"\xE0\x9F\xBF", false},      // U+07FF in three bytes
      {"\xE0\xA0\x80", true},       // U+0800, the first three-byte character
      {"\xF0\x8F\xBF\xBF", false},  // U+FFFF in four bytes
      {"\xF0\x90\x80\x80", true},   // U+10000, the first four-byte character
      {"\xF4\x8F\xBF\xBF", true},   // U+10FFFF, the last character
      {"\xF4\x90\x80\x80", false},  // past U+10FFFF
  };
  for (const Case& c : cases) {
    std::u32string out;
    EXPECT_EQ(text::decodeUtf8(c.bytes, std::char_traits<char>::length(c.bytes), out), c.valid)
        << std::char_traits<char>::length(c.bytes) << "-byte sequence starting " << std::hex
        << (static_cast<unsigned>(c.bytes[1]) & 0xFF);
  }
}

// "L" drawn with one-bit ink: a full-height stem on the left, a full-width foot at the bottom, nothing in the open
// upper right, and close to the anti-aliased glyph's dark pixels.
TEST(MonochromeText, GlyphsKeepTheirShape) {
  const int w = 60, h = 60;
  std::vector<uint8_t> pixels[2];
  for (int aa = 0; aa < 2; ++aa) {
    pixels[aa].assign(static_cast<size_t>(w) * h * 4, 0);
    gfx::Context* ctx = gfx::Context::createOverMemory(pixels[aa].data(), w, h, w * 4);
    ctx->translate(0, h);
    ctx->scale(1, -1);
    ctx->setAntialias(aa == 1);
    text::drawLine(*ctx, text::layoutLine(text::labelFont(48), U"L", 1), 10, 50, gfx::colorFromRGB(0xFFFFFF));
    delete ctx;
  }
  auto ink = [&](int aa, int x, int y) {
    return static_cast<int>(pixels[aa][(static_cast<size_t>(y) * w + x) * 4 + 1]);
  };
  int minX = w, maxX = -1, minY = h, maxY = -1;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      if (ink(0, x, y)) {
        EXPECT_EQ(ink(0, x, y), 255) << "partial ink at " << x << "," << y;
        minX = std::min(minX, x), maxX = std::max(maxX, x), minY = std::min(minY, y), maxY = std::max(maxY, y);
      }
  ASSERT_GT(maxY - minY, 25);
  ASSERT_GT(maxX - minX, 15);
  for (int y = minY; y <= maxY; ++y) EXPECT_TRUE(ink(0, minX + 1, y)) << "stem broken at row " << y;
  for (int x = minX; x <= maxX; ++x) EXPECT_TRUE(ink(0, x, maxY - 1)) << "foot broken at column " << x;
  for (int y = minY; y < minY + (maxY - minY) / 2; ++y)
    for (int x = minX + (maxX - minX) / 2; x <= maxX; ++x) EXPECT_FALSE(ink(0, x, y)) << x << "," << y;
  int differ = 0, total = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const bool dark = ink(1, x, y) >= 128, mono = ink(0, x, y) != 0;
      total += dark || mono;
      differ += dark != mono;
    }
  EXPECT_LE(differ * 10, total) << differ << " of " << total << " pixels differ from the anti-aliased glyph";
}

TEST(ParameterSteps, WholeNumberParametersRoundToTheNearestStep) {
  IParam value;
  value.InitInt("Value", 0, 0, 127);
  struct Case {
    double raw;  // the value the normalized position stands for
    double expected;
  } cases[] = {{0.0, 0}, {0.49, 0}, {0.5, 1}, {63.49, 63}, {63.5, 64}, {63.51, 64}, {126.6, 127}, {127, 127}};
  for (const Case& c : cases) {
    value.SetNormalized(c.raw / 127.0);
    EXPECT_EQ(value.Value(), c.expected) << "raw " << c.raw;
  }
  IParam menu;
  menu.InitEnum("Menu", 0, 5);  // 0..4
  menu.SetNormalized(0.374);    // 1.496
  EXPECT_EQ(menu.Value(), 1);
  menu.SetNormalized(0.376);  // 1.504
  EXPECT_EQ(menu.Value(), 2);
  IParam fine;
  fine.InitDouble("Fine", 0, 0, 10, 0.5);
  fine.SetNormalized(0.33);  // doubles keep their value between steps
  EXPECT_DOUBLE_EQ(fine.Value(), 3.3);
}

}  // namespace
