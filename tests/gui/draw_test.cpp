// Drawing operations on the surface's bitmap (bitmap clipping and frames, blends, points, text measuring) and the
// process-wide bitmap and font caches.
#include <gtest/gtest.h>

#include <cmath>

#include "gui_support.h"

using namespace guitest;

namespace {

// Sits at index 0 so that Draw sets the draw rectangle without painting anything.
class Nothing : public IControl {
 public:
  explicit Nothing(IEffectBase* plug) : IControl(plug, IRECT()) {}
  bool Draw(IGraphics*) override { return true; }
};

struct Fixture {
  TestPlug plug;
  TestGraphics& g = *new TestGraphics{&plug, 300, 300};  // owned by the plug-in once attached
  Fixture() {
    plug.AttachGraphics(&g);
    g.AttachControl(new Nothing(&plug));
  }
  void setDrawRect(IRECT r) {
    g.Draw(&r);
    PIX_Clear(g.GetDrawBitmap(), 0);
  }
  PIX_pixel at(int x, int y) { return PIX_GetPixel(g.GetDrawBitmap(), x, y); }
};

// Each pixel names its own place: red = x, green = y.
PIX_IBitmap* coordinates(int w, int h) {
  auto* bm = new PIX_MemBitmap(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) PIX_PutPixel(bm, x, y, PIX_RGBA(x, y, 0, 255), 1.0f, 0);
  return bm;
}

}  // namespace

TEST(Drawing, BitmapIsClippedToTheDrawRectangle) {
  Fixture f;
  f.setDrawRect(IRECT(120, 0, 200, 200));
  std::unique_ptr<PIX_IBitmap> src(coordinates(40, 40));
  IBitmap bm(src.get(), 40, 40);
  IRECT dest(100, 100, 140, 140);
  f.g.DrawBitmap(&bm, &dest, 0, 0, nullptr);
  EXPECT_EQ(f.at(119, 100), 0u);
  EXPECT_EQ(f.at(120, 100), PIX_RGBA(20, 0, 0, 255));
  EXPECT_EQ(f.at(139, 139), PIX_RGBA(39, 39, 0, 255));
  EXPECT_EQ(f.at(140, 139), 0u);
  // An empty draw rectangle blits nothing.
  f.setDrawRect(IRECT());
  f.g.DrawBitmap(&bm, &dest, 0, 0, nullptr);
  EXPECT_EQ(f.at(120, 120), 0u);
}

TEST(Drawing, FramesAreTakenFromTheirOffset) {
  Fixture f;
  f.setDrawRect(IRECT(0, 0, 300, 300));
  std::unique_ptr<PIX_IBitmap> src(coordinates(10, 250));
  IBitmap strip(src.get(), 10, 250, 5);
  const struct { int frame, srcY, expectTopRow; } rows[] = {{3, 0, 100}, {5, 0, 200}, {1, 7, 7}, {0, 7, 7}, {2, 7, 50}};
  for (const auto& row : rows) {
    IRECT dest(0, 0, 10, 50);
    f.g.DrawBitmap(&strip, &dest, row.frame, 0, row.srcY, nullptr);
    EXPECT_EQ(PIX_GETG(f.at(0, 0)), (unsigned)row.expectTopRow) << "frame " << row.frame;
  }
  // Side by side frames move along x.
  std::unique_ptr<PIX_IBitmap> wide(coordinates(200, 10));
  IBitmap across(wide.get(), 200, 10, 4, true);
  IRECT dest(0, 0, 50, 10);
  f.g.DrawBitmap(&across, &dest, 3);
  EXPECT_EQ(PIX_GETR(f.at(0, 0)), 100u);
  // A frame past the last reads beyond the strip: nothing outside it is touched.
  IRECT cell(50, 50, 60, 100);
  f.g.DrawBitmap(&strip, &cell, 9);
}

TEST(Drawing, BlendsTranslateToModeWords) {
  const struct {
    int method;
    float weight;
    int mode;
  } rows[] = {{0, 1.0f, 0x10000}, {1, 0.3f, 0}, {2, 0.5f, 0x10001}, {3, 1.0f, 0x10002}, {7, 1.0f, 0x10000}};
  for (const auto& row : rows) {
    IChannelBlend b(row.method, row.weight);
    EXPECT_EQ(BlendMode(&b), row.mode) << row.method;
    EXPECT_FLOAT_EQ(BlendAlpha(&b), row.weight);
  }
  EXPECT_EQ(BlendMode(nullptr), 0x10000);
  EXPECT_FLOAT_EQ(BlendAlpha(nullptr), 1.0f);
}

TEST(Drawing, ColourWordsHoldAlphaInTheLowByte) {
  EXPECT_EQ(COLOR_ORANGE.Word(), PIX_RGBA(255, 127, 0, 255));
  EXPECT_EQ(IColor::FromWord(IColor(12, 34, 56, 78).Word()), IColor(12, 34, 56, 78));
}

TEST(Drawing, ForcePixelStoresUnblendedAndIgnoresOutsidePoints) {
  Fixture f;
  f.setDrawRect(IRECT(0, 0, 300, 300));
  IColor half(128, 10, 20, 30);
  f.g.ForcePixel(&half, 5, 6);
  EXPECT_EQ(f.at(5, 6), half.Word());
  EXPECT_EQ(f.g.GetPoint(5, 6), half);
  for (auto p : {std::make_pair(-1, 0), std::make_pair(0, -1), std::make_pair(300, 0), std::make_pair(0, 300),
                 std::make_pair(100000, 100000)})
    f.g.ForcePixel(&half, p.first, p.second);
  EXPECT_EQ(f.at(0, 0), 0u);
  EXPECT_EQ(f.at(299, 299), 0u);
}

TEST(Drawing, PointsAndRectanglesBlendThroughTheRasterLibrary) {
  Fixture f;
  f.setDrawRect(IRECT(0, 0, 300, 300));
  f.g.DrawPoint(&COLOR_RED, 9.6f, 3.4f);
  EXPECT_EQ(f.at(10, 3), COLOR_RED.Word());
  IRECT r(20, 20, 30, 25);
  IChannelBlend clobber(IChannelBlend::kBlendClobber);
  f.g.FillIRect(&COLOR_BLUE, &r, &clobber);
  EXPECT_EQ(f.at(20, 20), COLOR_BLUE.Word());
  EXPECT_EQ(f.at(29, 24), COLOR_BLUE.Word());
  EXPECT_EQ(f.at(30, 24), 0u);
}

TEST(Drawing, RotatedBitmapsLandAroundTheirCentre) {
  Fixture f;
  f.setDrawRect(IRECT(0, 0, 300, 300));
  std::unique_ptr<PIX_IBitmap> src(solid(20, 20, COLOR_GREEN.Word()));
  IBitmap bm(src.get(), 20, 20);
  f.g.DrawRotatedBitmap(&bm, 100, 100, 0.0);
  EXPECT_EQ(PIX_GETG(f.at(100, 100)), 255u);
  EXPECT_EQ(f.at(120, 100), 0u);

  std::unique_ptr<PIX_IBitmap> base(solid(21, 21, PIX_RGBA(50, 50, 50, 255)));
  std::unique_ptr<PIX_IBitmap> mask(solid(21, 21, PIX_RGBA(100, 0, 0, 255)));
  IBitmap b(base.get(), 21, 21), m(mask.get(), 21, 21);
  f.g.DrawRotatedMask(&b, &m, nullptr, 200, 200, 45.0);
  EXPECT_EQ(PIX_GETR(f.at(210, 210)), 150u);  // the mask added over the base
  EXPECT_EQ(PIX_GETG(f.at(210, 210)), 50u);
  EXPECT_EQ(f.at(199, 210), 0u);
}

TEST(Drawing, EmptyTextDrawsNothingAndMakesNoFont) {
  Fixture f;
  IText style;
  IRECT r(0, 0, 10, 10);
  const int before = s_fontCache.Count();
  EXPECT_TRUE(f.g.DrawIText(&style, "", &r));
  EXPECT_TRUE(f.g.DrawIText(&style, nullptr, &r));
  EXPECT_EQ(s_fontCache.Count(), before);
  EXPECT_EQ(style.mCached, nullptr);
}

TEST(Drawing, MeasuringFitsTheRectangleToTheText) {
  Fixture f;
  IText near(14, &COLOR_BLACK, "DejaVu Sans", IText::kStyleNormal, IText::kAlignNear);
  IRECT m;
  ASSERT_TRUE(f.g.MeasureIText(&near, "Hello", &m));
  const int w = m.R, h = m.B;
  EXPECT_GT(w, 20);
  EXPECT_GT(h, 10);

  IText centred = near;
  centred.mAlign = IText::kAlignCenter;
  IRECT c(10, 0, 110, 20);
  f.g.MeasureIText(&centred, "Hello", &c);
  EXPECT_EQ(c.L, 60 - w / 2);
  EXPECT_EQ(c.R, c.L + w);
  EXPECT_EQ(c.B, h);

  IText far = near;
  far.mAlign = IText::kAlignFar;
  IRECT fr(10, 5, 110, 20);
  f.g.MeasureIText(&far, "Hello", &fr);
  EXPECT_EQ(fr.L, 110 - w);
  EXPECT_EQ(fr.B, 5 + h);
}

TEST(Drawing, TextIsDrawnInItsColourInsideItsRectangle) {
  Fixture f;
  f.setDrawRect(IRECT(0, 0, 300, 300));
  IText style(16, &COLOR_WHITE, "DejaVu Sans", IText::kStyleBold);
  IRECT r(50, 50, 200, 80);
  ASSERT_TRUE(f.g.DrawIText(&style, "Vexmir", &r));
  int lit = 0, outside = 0;
  for (int y = 0; y < 300; ++y)
    for (int x = 0; x < 300; ++x) {
      const bool on = PIX_GETR(f.at(x, y)) > 128;
      if (on && r.Contains(x, y)) ++lit;
      if (on && !r.Contains(x, y)) ++outside;
    }
  EXPECT_GT(lit, 50);
  EXPECT_EQ(outside, 0);
}

TEST(Drawing, ATextControlKeepsATooWideTextInsideItsRectangleReadingFromTheLeft) {
  Fixture f;
  f.setDrawRect(IRECT(0, 0, 300, 300));
  IText style(14, &COLOR_WHITE, "DejaVu Sans Mono");
  IRECT r(100, 50, 160, 70);
  ITextControl text(&f.plug, r, &style, "");
  auto litColumns = [&](int from, int to) {
    int n = 0;
    for (int x = from; x < to; ++x)
      for (int y = 40; y < 80; ++y) n += PIX_GETR(f.at(x, y)) > 128 ? 1 : 0;
    return n;
  };
  // Fits: centred, as ever.
  text.SetTextFromPlug("127");
  text.Draw(&f.g);
  EXPECT_EQ(litColumns(0, 100) + litColumns(160, 300), 0);
  EXPECT_EQ(litColumns(100, 110), 0);
  EXPECT_GT(litColumns(110, 150), 0);
  // Twice as wide as the control: cut at both sides of the control, first letter at its left edge.
  PIX_Clear(f.g.GetDrawBitmap(), 0);
  text.SetTextFromPlug("Data request completed!");
  text.Draw(&f.g);
  EXPECT_EQ(litColumns(0, 100) + litColumns(160, 300), 0);
  EXPECT_GT(litColumns(100, 108), 0);
}

// ---- Caches ----

TEST(Caches, ImageIsScaledOncePerScaleAndShared) {
  Fixture f;
  f.g.images["resources/img/panel.png"] = [] { return solid(200, 100, COLOR_RED.Word()); };
  IBitmap first = f.g.LoadIBitmap(120, "resources/img/panel.png", 0.75, 2);
  EXPECT_EQ(first.W, 150);
  EXPECT_EQ(first.H, 75);
  EXPECT_EQ(first.N, 2);
  IBitmap again = f.g.LoadIBitmap(120, "resources/img/panel.png", 0.75, 3, true);
  EXPECT_EQ(again.mData, first.mData);
  EXPECT_EQ(again.N, 3);
  EXPECT_TRUE(again.mFramesAreHorizontal);
  // An editor of another size in the same process gets the image at its own size, decoded once for it.
  IBitmap large = f.g.LoadIBitmap(120, "resources/img/panel.png", 1.25, 2);
  EXPECT_EQ(large.W, 250);
  EXPECT_EQ(f.g.LoadIBitmap(120, "resources/img/panel.png", 1.25).mData, large.mData);
  EXPECT_EQ(f.g.loads, (std::vector<int>{120, 120}));
  EXPECT_EQ(f.g.getImageById(120, 2, false, 0.75).mData, first.mData);
  EXPECT_EQ(f.g.getImageById(120, 2, false, 1.25).mData, large.mData);
  // Another surface shares the cache.
  TestGraphics other(&f.plug, 10, 10);
  EXPECT_EQ(other.LoadIBitmap(120, "elsewhere.png", 0.75).mData, first.mData);
  EXPECT_TRUE(other.loads.empty());
}

TEST(Caches, ScaledSizesTruncate) {
  Fixture f;
  f.g.images["odd.png"] = [] { return solid(99, 10, COLOR_RED.Word()); };
  IBitmap bm = f.g.LoadIBitmap(121, "odd.png", 1.25);
  EXPECT_EQ(bm.W, 123);
  EXPECT_EQ(bm.H, 12);
  EXPECT_EQ(PIX_GetPixel(bm.mData, 122, 11), COLOR_RED.Word());
}

TEST(Caches, MissingImageGivesAnEmptyBitmap) {
  Fixture f;
  f.setDrawRect(IRECT(0, 0, 300, 300));
  IBitmap missing = f.g.LoadIBitmap(122, "resources/img/none.png", 1.0, 3);
  ASSERT_NE(missing.mData, nullptr);
  EXPECT_EQ(missing.W, 0);
  EXPECT_EQ(missing.H, 0);
  IRECT dest(0, 0, 10, 10);
  f.g.DrawBitmap(&missing, &dest, 2);
  IKnobMultiControl knob(&f.plug, 5, 5, kCutoff, &missing);
  knob.Draw(&f.g);
  EXPECT_EQ(f.at(0, 0), 0u);
  IBitmap never = f.g.getImageById(999);
  EXPECT_EQ(never.mData, nullptr);
  f.g.DrawBitmap(&never, &dest, 1);
}

TEST(Caches, RetainReleaseScaleAndCrop) {
  Fixture f;
  const int before = s_bitmapCache.Count();
  std::unique_ptr<PIX_IBitmap> loose(coordinates(40, 20));
  IBitmap looseBm(loose.get(), 40, 20, 2);
  f.g.ReleaseBitmap(&looseBm);  // not cached: left alone
  EXPECT_EQ(s_bitmapCache.Count(), before);

  IBitmap half = f.g.ScaleBitmap(&looseBm, 20, 10);
  EXPECT_EQ(half.W, 20);
  EXPECT_EQ(half.N, 2);
  IRECT part(10, 5, 30, 15);
  IBitmap crop = f.g.CropBitmap(&looseBm, &part);
  EXPECT_EQ(crop.W, 20);
  EXPECT_EQ(crop.H, 10);
  EXPECT_EQ(PIX_GetPixel(crop.mData, 0, 0), PIX_RGBA(10, 5, 0, 255));
  EXPECT_EQ(s_bitmapCache.Count(), before + 2);
  f.g.ReleaseBitmap(&crop);
  EXPECT_EQ(s_bitmapCache.Count(), before + 1);

  IBitmap kept(new PIX_MemBitmap(3, 3), 3, 3);
  f.g.RetainBitmap(&kept);
  EXPECT_EQ(s_bitmapCache.Count(), before + 2);
  f.g.ReleaseBitmap(&kept);
  f.g.ReleaseBitmap(&half);
  EXPECT_EQ(s_bitmapCache.Count(), before);
}

TEST(Caches, StylesDifferingOnlyInColourShareAFont) {
  Fixture f;
  IText a(13, &COLOR_RED, "DejaVu Sans Mono"), b(13, &COLOR_BLUE, "DejaVu Sans Mono");
  b.mAlign = IText::kAlignFar;
  PIX_IFont* fa = f.g.CacheFont(&a);
  ASSERT_NE(fa, nullptr);
  EXPECT_EQ(f.g.CacheFont(&b), fa);
  EXPECT_EQ(b.mCached, fa);
  IText bold(13, &COLOR_RED, "DejaVu Sans Mono", IText::kStyleBold);
  EXPECT_NE(f.g.CacheFont(&bold), fa);
  IText lower(13, &COLOR_RED, "dejavu sans mono");  // faces compare exactly
  EXPECT_NE(f.g.CacheFont(&lower), fa);
}

TEST(Caches, TinyFontsAreMadeAtLeastTwoPixelsHigh) {
  Fixture f;
  IText tiny(1, &COLOR_BLACK, "DejaVu Sans");
  PIX_IFont* font = f.g.CacheFont(&tiny);
  ASSERT_NE(font, nullptr);
  EXPECT_GE(font->GetLineHeight(), 1);
}

TEST(Caches, FontLineHeightIsRefittedToTheSize) {
  Fixture f;
  for (int size : {10, 12, 16, 24}) {
    IText t(size, &COLOR_BLACK, "DejaVu Sans");
    PIX_IFont* font = f.g.CacheFont(&t);
    ASSERT_NE(font, nullptr);
    EXPECT_NEAR(font->GetLineHeight(), size, 2) << size;
  }
}

// ---- Lines and shapes ----

namespace {

int countLit(Fixture& f, IRECT area) {
  int n = 0;
  for (int y = area.T; y < area.B; ++y)
    for (int x = area.L; x < area.R; ++x) n += f.at(x, y) != 0;
  return n;
}

}  // namespace

TEST(Shapes, RectangleOutlineIncludesItsRightAndBottomEdges) {
  Fixture f;
  f.setDrawRect(IRECT(0, 0, 300, 300));
  IRECT r(10, 10, 20, 15);
  f.g.DrawRect(&COLOR_WHITE, &r);
  EXPECT_EQ(f.at(10, 10), COLOR_WHITE.Word());
  EXPECT_EQ(f.at(20, 15), COLOR_WHITE.Word());
  EXPECT_EQ(f.at(20, 12), COLOR_WHITE.Word());
  EXPECT_EQ(f.at(15, 12), 0u);
  EXPECT_EQ(countLit(f, IRECT(0, 0, 300, 300)), 2 * 11 + 2 * 4);
}

TEST(Shapes, FractionalLinesAreClampedToTheRectangle) {
  const struct {
    bool vertical;
    float at;
    int expect;  // column, or row counted up from the bottom
  } rows[] = {{true, 0.5f, 150}, {true, -1.0f, 100}, {true, 2.0f, 200}, {false, 0.25f, 225}, {false, 1.5f, 150}};
  for (const auto& row : rows) {
    Fixture f;
    f.setDrawRect(IRECT(0, 0, 300, 300));
    IRECT r(100, 150, 200, 250);
    if (row.vertical) {
      f.g.DrawVerticalLine(&COLOR_RED, &r, row.at);
      EXPECT_EQ(f.at(row.expect, 200), COLOR_RED.Word()) << row.at;
    } else {
      f.g.DrawHorizontalLine(&COLOR_RED, &r, row.at);
      EXPECT_EQ(f.at(150, row.expect), COLOR_RED.Word()) << row.at;
    }
  }
}

TEST(Shapes, RadialLinesPointUpAtZeroAndTurnClockwise) {
  Fixture f;
  f.setDrawRect(IRECT(0, 0, 300, 300));
  f.g.DrawRadialLine(&COLOR_GREEN, 100.0f, 100.0f, 0.0f, 10.0f, 30.0f);
  EXPECT_EQ(f.at(100, 70), COLOR_GREEN.Word());
  EXPECT_EQ(f.at(100, 90), COLOR_GREEN.Word());
  EXPECT_EQ(f.at(100, 95), 0u);
  f.g.DrawRadialLine(&COLOR_GREEN, 200.0f, 100.0f, static_cast<float>(M_PI / 2), 0.0f, 20.0f);
  EXPECT_EQ(f.at(220, 100), COLOR_GREEN.Word());
  EXPECT_EQ(f.at(180, 100), 0u);
}

TEST(Shapes, LineKnobDrawsItsIndicatorAtTheValuesAngle) {
  Fixture f;
  f.setDrawRect(IRECT(0, 0, 300, 300));
  IKnobLineControl knob(&f.plug, IRECT(100, 100, 140, 140), kCutoff, &COLOR_WHITE, 5.0, 0.0, -M_PI / 2, M_PI / 2);
  knob.SetValue(0.5);  // straight up
  knob.Draw(&f.g);
  EXPECT_GT(PIX_GETR(f.at(120, 102)), 0u);
  EXPECT_EQ(countLit(f, IRECT(100, 121, 140, 140)), 0);
  EXPECT_EQ(knob.GetBlend()->mMethod, IChannelBlend::kBlendClobber);
}

TEST(Shapes, RoundedFillsCoverTheirRectangleButNotItsCorners) {
  Fixture f;
  f.setDrawRect(IRECT(0, 0, 300, 300));
  IRECT r(50, 50, 90, 80);
  f.g.FillRoundRect(&COLOR_BLUE, &r, nullptr, 6, false);
  EXPECT_EQ(f.at(70, 65), COLOR_BLUE.Word());
  EXPECT_EQ(f.at(50, 65), COLOR_BLUE.Word());
  EXPECT_EQ(f.at(70, 50), COLOR_BLUE.Word());
  EXPECT_EQ(f.at(50, 50), 0u);
  EXPECT_EQ(countLit(f, IRECT(0, 0, 300, 50)), 0);
  EXPECT_EQ(countLit(f, IRECT(91, 0, 300, 300)), 0);
  // Outlines, circles, arcs, triangles and polygons land where asked.
  f.setDrawRect(IRECT(0, 0, 300, 300));
  IRECT rr(10, 10, 50, 40);
  f.g.RoundRect(&COLOR_WHITE, &rr, nullptr, 5, false);
  f.g.DrawCircle(&COLOR_WHITE, 150.0f, 50.0f, 10.0f);
  f.g.FillCircle(&COLOR_WHITE, 150, 150, 10.0f);
  f.g.DrawArc(&COLOR_WHITE, 250.0f, 50.0f, 10.0f, 0.0f, static_cast<float>(M_PI / 2));
  f.g.FillTriangle(&COLOR_WHITE, 10, 200, 50, 200, 30, 240, nullptr);
  int xs[] = {200, 240, 240, 200}, ys[] = {200, 200, 240, 240};
  f.g.FillIConvexPolygon(&COLOR_WHITE, xs, ys, 4);
  f.g.DrawLine(&COLOR_WHITE, 100.9f, 250.9f, 120.9f, 250.9f);
  EXPECT_GT(countLit(f, IRECT(10, 10, 51, 41)), 0);
  EXPECT_EQ(f.at(30, 25), 0u);  // an outline, not a fill
  EXPECT_EQ(f.at(150, 40), COLOR_WHITE.Word());
  EXPECT_EQ(f.at(150, 150), COLOR_WHITE.Word());
  EXPECT_GT(countLit(f, IRECT(250, 38, 262, 52)), 0);  // the quarter from up to right
  EXPECT_EQ(countLit(f, IRECT(238, 52, 250, 62)), 0);
  EXPECT_EQ(f.at(30, 210), COLOR_WHITE.Word());
  EXPECT_EQ(f.at(220, 220), COLOR_WHITE.Word());
  EXPECT_EQ(f.at(100, 250), COLOR_WHITE.Word());  // truncated, not rounded
  EXPECT_EQ(f.at(100, 251), 0u);
}

TEST(Drawing, SurfaceWithoutBitmapsDrawsNothingButStillMeasures) {
  TestPlug plug;
  TestGraphics g(&plug, 100, 100);  // never attached: no draw bitmap
  std::unique_ptr<PIX_IBitmap> src(solid(10, 10, COLOR_RED.Word()));
  IBitmap bm(src.get(), 10, 10);
  IRECT r(0, 0, 10, 10);
  g.AttachPanelBackground(&COLOR_BLUE);
  g.AttachControl(new IBitmapControl(&plug, 0, 0, -1, &bm));
  EXPECT_TRUE(g.Draw(&r));
  IText style(12, &COLOR_BLACK, "DejaVu Sans");
  EXPECT_TRUE(g.DrawIText(&style, "abc", &r));
  IRECT m;
  style.mAlign = IText::kAlignNear;
  EXPECT_TRUE(g.MeasureIText(&style, "abc", &m));
  EXPECT_GT(m.R, 0);
  EXPECT_EQ(g.GetPoint(1, 1), IColor(0, 0, 0, 0));
  g.ForcePixel(&COLOR_RED, 1, 1);
  g.DrawRotatedMask(&bm, &bm, &bm, 0, 0, 10.0);
}
