// The raster library's cached font and system bitmap: glyph-path text compared with the window layer's own
// drawing, layout rules for line feeds, carriage returns and UTF-8, and the shared scratch bitmaps.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "KIT/pix/pix.h"
#include "KIT/shim/shim-gdi-internal.h"
#include "KIT/shim/shim.h"
#include "tests/raster/raster_util.h"

namespace {

const unsigned kWhite = PIX_RGBA(255, 255, 255, 255);
const unsigned kBlack = PIX_RGBA(0, 0, 0, 255);

HFONT makeFont(int size, const char* face = "NK57 Monospace", int quality = 4) {
  return CreateFont(size, 0, 0, 0, 400, 0, 0, 0, 0, 0, 0, static_cast<char>(quality), 0, face);
}

// A font bound to its own font object (owned, so deleted with it).
std::unique_ptr<PIX_CachedFont> makeCached(int size, int flags = 0, const char* face = "NK57 Monospace") {
  auto f = std::make_unique<PIX_CachedFont>();
  f->SetFromHFont(makeFont(size, face), flags | PIX_FONT_FLAG_OWNS_HFONT);
  f->SetTextColor(kWhite);
  return f;
}

void clear(PIX_IBitmap& bm, unsigned c = kBlack) {
  PIX_FillRect(&bm, 0, 0, bm.getWidth(), bm.getHeight(), c, 1.0f, 0);
}

int redAt(PIX_IBitmap& bm, int x, int y) {
  return static_cast<int>(PIX_GETR(PIX_GetPixel(&bm, x, y)));
}

struct Bounds {
  int x0 = 1 << 30, y0 = 1 << 30, x1 = -1, y1 = -1;
  bool any() const { return x1 >= 0; }
};
Bounds inkBounds(PIX_IBitmap& bm) {
  Bounds b;
  for (int y = 0; y < bm.getHeight(); ++y)
    for (int x = 0; x < bm.getWidth(); ++x)
      if (redAt(bm, x, y))
        b.x0 = std::min(b.x0, x), b.y0 = std::min(b.y0, y), b.x1 = std::max(b.x1, x + 1), b.y1 = std::max(b.y1, y + 1);
  return b;
}

int draw(PIX_CachedFont& f, PIX_IBitmap& bm, const char* s, int x, int y, unsigned flags = 0, int count = -1) {
  RECT r{x, y, bm.getWidth(), bm.getHeight()};
  return f.DrawText(&bm, s, count, &r, flags);
}

RECT measure(PIX_CachedFont& f, const char* s, unsigned flags = 0, int count = -1) {
  RECT r{3, 4, 3, 4};
  f.DrawText(nullptr, s, count, &r, flags | DT_CALCRECT);
  return r;
}

TEST(SysBitmap, RowsAreTheContextsAndTheContextIsKeptWhenTheSizeFits) {
  PIX_SysBitmap bm(10, 10);
  EXPECT_EQ(bm.getWidth(), 10);
  EXPECT_EQ(bm.getRowSpan(), 12);
  HDC dc = bm.getDC();
  ASSERT_TRUE(dc);
  EXPECT_EQ(static_cast<void*>(bm.getBits()), SHIM_GetCtxFrameBuffer(dc));
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 10; ++x) EXPECT_EQ(PIX_GetPixel(&bm, x, y), 0u);
  PIX_PutPixel(&bm, 1, 1, kWhite, 1.0f, 0);
  EXPECT_FALSE(bm.resize(10, 10));
  EXPECT_TRUE(bm.resize(8, 8));
  EXPECT_EQ(bm.getDC(), dc);
  EXPECT_EQ(bm.getRowSpan(), 12);
  EXPECT_EQ(PIX_GetPixel(&bm, 1, 1), kWhite);
  EXPECT_TRUE(bm.resize(13, 8));
  EXPECT_EQ(bm.getRowSpan(), 16);
  EXPECT_EQ(PIX_GetPixel(&bm, 1, 1), 0u);
  EXPECT_FALSE(bm.resize(0, 8));
  EXPECT_EQ(bm.getDC(), nullptr);
  EXPECT_EQ(bm.getBits(), nullptr);
  PIX_SysBitmap empty;
  EXPECT_EQ(empty.getBits(), nullptr);
  EXPECT_EQ(empty.getDC(), nullptr);
  // The window layer can draw straight into the pixels.
  PIX_SysBitmap text(40, 20);
  SetTextColor(text.getDC(), 0xFFFFFF);
  RECT r{0, 0, 40, 20};
  SHIM_DrawText(text.getDC(), "Hi", -1, &r, 0);
  EXPECT_TRUE(inkBounds(text).any());
}

TEST(CachedFont, LineHeightIsTheMetricHeight) {
  auto f = makeCached(24);
  EXPECT_EQ(f->GetLineHeight(), 28);  // ascent 22 + descent 5 + 1
  PIX_CachedFont unbound;
  EXPECT_EQ(unbound.GetLineHeight(), 0);
  EXPECT_EQ(unbound.GetHFont(), nullptr);
}

TEST(CachedFont, SettersReturnThePreviousValue) {
  PIX_CachedFont f;
  EXPECT_EQ(f.SetTextColor(5), 0u);
  EXPECT_EQ(f.SetTextColor(6), 5u);
  EXPECT_EQ(f.SetBkColor(1), 0xFFFFFFFFu);
  EXPECT_EQ(f.SetEffectColor(2), 0xFFFFFFFFu);
  EXPECT_EQ(f.SetBkMode(1), 0);
  EXPECT_EQ(f.GetTextColor(), 6u);
}

TEST(CachedFont, GlyphsMatchTheWindowLayersWhiteOnBlackCoverage) {
  auto f = makeCached(20);
  PIX_MemBitmap glyphs(60, 30);
  clear(glyphs);
  draw(*f, glyphs, "Rg", 2, 1);
  // The same text drawn by the window layer into a context of its own.
  PIX_SysBitmap ref(60, 30);
  clear(ref);
  HFONT font = f->GetHFont();
  HGDIOBJ old = SelectObject(ref.getDC(), font);
  SetTextColor(ref.getDC(), 0xFFFFFF);
  RECT r{2, 1, 60, 30};
  SHIM_DrawText(ref.getDC(), "R", -1, &r, 0xC0);
  RECT m{0, 0, 0, 0};
  SHIM_DrawText(ref.getDC(), "R", -1, &m, 0xC1);
  r.left += m.right;
  SHIM_DrawText(ref.getDC(), "g", -1, &r, 0xC0);
  SelectObject(ref.getDC(), old);
  int inked = 0;
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 60; ++x) {
      const int a = redAt(glyphs, x, y), b = redAt(ref, x, y);
      EXPECT_NEAR(a, b, 2) << x << "," << y;
      inked += a > 0;
      EXPECT_EQ(PIX_GETR(PIX_GetPixel(&glyphs, x, y)), PIX_GETB(PIX_GetPixel(&glyphs, x, y)));
    }
  EXPECT_GT(inked, 30);
}

TEST(CachedFont, LineFeedsCarriageReturnsAndSingleLine) {
  auto f = makeCached(16);
  const int lh = f->GetLineHeight();
  PIX_MemBitmap a(80, 60), b(80, 60);
  clear(a), clear(b);
  draw(*f, a, "A\nB", 5, 2);
  draw(*f, b, "A", 5, 2);
  draw(*f, b, "B", 5, 2 + lh);
  EXPECT_TRUE(rastertest::samePixels(&a, &b));
  clear(a), clear(b);
  draw(*f, a, "A\nB", 5, 2, DT_SINGLELINE);
  draw(*f, b, "A B", 5, 2);
  EXPECT_TRUE(rastertest::samePixels(&a, &b));
  clear(a), clear(b);
  draw(*f, a, "A\rB\r", 5, 2);
  draw(*f, b, "AB", 5, 2);
  EXPECT_TRUE(rastertest::samePixels(&a, &b));
  EXPECT_EQ(measure(*f, "A\nB").bottom - 4, lh + measure(*f, "B").bottom - 4);
}

TEST(CachedFont, MeasuringSumsAdvancesAndTakesTheTallestGlyph) {
  auto f = makeCached(16);
  RECT e = measure(*f, "");
  EXPECT_EQ(e.right, 3);
  EXPECT_EQ(e.bottom, 4);
  RECT r0{3, 4, 3, 4};
  EXPECT_EQ(f->DrawText(nullptr, "abc", 0, &r0, DT_CALCRECT), 0);
  EXPECT_EQ(r0.right, 3);
  // A monospace advance as the window layer measures one character.
  HDC dc = PIX_CachedFont::GetScratchBitmap()->getDC();
  HGDIOBJ old = SelectObject(dc, f->GetHFont());
  RECT one{0, 0, 0, 0};
  const int cellH = SHIM_DrawText(dc, "a", -1, &one, 0xC1);
  SelectObject(dc, old);
  RECT two = measure(*f, "ab");
  EXPECT_EQ(two.right - two.left, 2 * one.right);
  EXPECT_EQ(two.bottom - two.top, cellH);
  RECT r{3, 4, 3, 4};
  EXPECT_EQ(f->DrawText(nullptr, "ab", -1, &r, DT_CALCRECT), cellH);
  // The count limits the bytes taken.
  EXPECT_EQ(measure(*f, "abcdef", 0, 2).right, two.right);
}

TEST(CachedFont, Utf8Rules) {
  auto f = makeCached(16);
  PIX_MemBitmap a(120, 30), b(120, 30);
  clear(a), clear(b);
  draw(*f, a,
       "a\xF0\x9F\x8E\xB9"
       "b",
       0, 0);
  draw(*f, b, "a b", 0, 0);
  EXPECT_TRUE(rastertest::samePixels(&a, &b));
  clear(a), clear(b);
  draw(*f, a, "x\xE9y", 0, 0);  // a lone Latin-1 byte is its own code point
  draw(*f, b, "x\xC3\xA9y", 0, 0);
  EXPECT_TRUE(rastertest::samePixels(&a, &b));
  unsigned short c = 0;
  EXPECT_EQ(PIX_CachedFont::utf8char("\xE2\x82\xAC", &c), 3);
  EXPECT_EQ(c, 0x20AC);
  EXPECT_EQ(PIX_CachedFont::utf8char("\xC1\x80", &c), 1);
  EXPECT_EQ(c, 0xC1);
  EXPECT_EQ(PIX_CachedFont::utf8char("\xE2\x82", &c), 1);
  EXPECT_EQ(PIX_CachedFont::utf8char("\xF0\x9F\x8E\xB9", &c), 4);
  EXPECT_EQ(c, ' ');
  EXPECT_EQ(PIX_CachedFont::utf8char("\xF5\x80\x80\x80", nullptr), 1);
  // A sequence cut by the count is read no further than the count (the buffer ends there).
  std::unique_ptr<char[]> cut(new char[2]{'a', '\xE2'});
  clear(a);
  draw(*f, a, cut.get(), 0, 0, 0, 2);
  RECT m{0, 0, 0, 0};
  EXPECT_GT(f->DrawText(nullptr, cut.get(), 2, &m, DT_CALCRECT), 0);
}

TEST(CachedFont, PrecalculatedFontSkipsCharactersAbove127) {
  auto f = makeCached(16, PIX_FONT_FLAG_PRECALCALL);
  PIX_MemBitmap a(80, 30), b(80, 30);
  clear(a), clear(b);
  draw(*f, a,
       "a\xC3\xA9\xE2\x82\xAC"
       "b",
       0, 0);
  draw(*f, b, "ab", 0, 0);
  EXPECT_TRUE(rastertest::samePixels(&a, &b));
}

TEST(CachedFont, AlignmentPlacesTheMeasuredBoxWithinOnePixel) {
  auto f = makeCached(18, 0, "");
  const char* s = "Cutoff";
  const RECT size = measure(*f, s);
  const int w = size.right - size.left, h = size.bottom - size.top;
  const RECT box{10, 8, 150, 70};
  struct Case {
    unsigned flags;
    int x, y;
  } cases[] = {
      {0, box.left, box.top},
      {DT_RIGHT, box.right - w, box.top},
      {DT_CENTER, box.left + (box.right - box.left - w) / 2, box.top},
      {DT_BOTTOM, box.left, box.bottom - h},
      {DT_VCENTER, box.left, box.top + (box.bottom - box.top - h) / 2},
      {DT_CENTER | DT_VCENTER, box.left + (box.right - box.left - w) / 2, box.top + (box.bottom - box.top - h) / 2},
  };
  for (const Case& c : cases) {
    PIX_MemBitmap aligned(160, 80), placed(160, 80);
    clear(aligned), clear(placed);
    RECT r = box;
    f->DrawText(&aligned, s, -1, &r, c.flags);
    draw(*f, placed, s, c.x, c.y);
    EXPECT_TRUE(rastertest::samePixels(&aligned, &placed)) << c.flags;
    const Bounds b = inkBounds(aligned);
    ASSERT_TRUE(b.any());
    EXPECT_GE(b.x0, box.left);
    EXPECT_LE(b.x1, box.right);
    if (c.flags & DT_RIGHT) {
      EXPECT_NEAR(b.x1, box.right, 1 + w - (b.x1 - b.x0));
    }
  }
}

TEST(CachedFont, InkStaysInsideTheClipAndTheBitmap) {
  auto f = makeCached(30, 0, "");
  for (unsigned flags : {0u, unsigned(DT_CENTER | DT_VCENTER), unsigned(DT_RIGHT | DT_BOTTOM)}) {
    PIX_MemBitmap bm(100, 50);
    clear(bm);
    RECT r{-20, 10, 60, 30};
    f->DrawText(&bm, "Clipped words", -1, &r, flags);
    const Bounds b = inkBounds(bm);
    ASSERT_TRUE(b.any());
    EXPECT_GE(b.x0, 0);
    EXPECT_LE(b.x1, 60);
    EXPECT_GE(b.y0, 10);
    EXPECT_LE(b.y1, 30);
  }
  PIX_MemBitmap bm(100, 50);
  clear(bm);
  RECT r{-20, 10, 60, 30};
  f->DrawText(&bm, "Clipped words", -1, &r, DT_NOCLIP);
  EXPECT_GT(inkBounds(bm).x1, 60);
  RECT empty{50, 10, 50, 30};
  EXPECT_EQ(f->DrawText(&bm, "x", -1, &empty, 0), 0);
  EXPECT_EQ(f->DrawText(nullptr, "x", -1, &r, 0), 0);
}

TEST(CachedFont, AlphaBlendsAndMonoWritesTheExactColourWord) {
  const unsigned grey = PIX_RGBA(100, 100, 100, 255);
  auto f = makeCached(20);
  PIX_MemBitmap full(40, 30), half(40, 30);
  clear(full, grey), clear(half, grey);
  draw(*f, full, "H", 0, 0);
  f->SetCombineMode(0, 0.5f);
  draw(*f, half, "H", 0, 0);
  int blended = 0;
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x)
      if (redAt(full, x, y) == 255) {
        EXPECT_NEAR(redAt(half, x, y), 100 + 155 / 2, 2);
        ++blended;
      }
  EXPECT_GT(blended, 20);
  f->SetCombineMode(0, 0.0f);
  EXPECT_EQ(draw(*f, half, "H", 0, 0), 0);

  auto mono = makeCached(20, PIX_FONT_FLAG_FXMONO);
  const unsigned word = PIX_RGBA(12, 34, 56, 78);
  mono->SetTextColor(word);
  PIX_MemBitmap m(40, 30);
  clear(m, grey);
  draw(*mono, m, "H", 0, 0);
  int exact = 0;
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x) {
      const unsigned p = PIX_GetPixel(&m, x, y);
      EXPECT_TRUE(p == word || p == grey);
      exact += p == word;
    }
  EXPECT_GT(exact, 20);
}

TEST(CachedFont, ForegroundAlphaFlagScalesTheAlphaForOneCall) {
  auto f = makeCached(20);
  f->SetTextColor(PIX_RGBA(255, 255, 255, 0));
  PIX_MemBitmap bm(40, 30);
  clear(bm);
  RECT r{0, 0, 40, 30};
  EXPECT_EQ(f->DrawText(&bm, "H", -1, &r, PIX_DT_USEFGALPHA), 0);
  EXPECT_FALSE(inkBounds(bm).any());
  f->SetTextColor(kWhite);
  draw(*f, bm, "H", 0, 0);
  EXPECT_TRUE(inkBounds(bm).any());
}

TEST(CachedFont, ShadowAndOutlineAddEffectPixelsBesideTheInk) {
  const unsigned effect = PIX_RGBA(0, 0, 255, 255);
  for (int flag : {PIX_FONT_FLAG_FXSHADOW, PIX_FONT_FLAG_FXOUTLINE}) {
    auto f = makeCached(20, flag);
    f->SetEffectColor(effect);
    PIX_MemBitmap bm(40, 30);
    clear(bm);
    draw(*f, bm, "I", 2, 0);
    int ink = 0, fx = 0, fxBeforeInk = 0, lonely = 0;
    const Bounds inkBox = [&] {
      Bounds k;
      for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x)
          if (PIX_GetPixel(&bm, x, y) == kWhite)
            k.x0 = std::min(k.x0, x), k.y0 = std::min(k.y0, y), k.x1 = std::max(k.x1, x + 1),
            k.y1 = std::max(k.y1, y + 1);
      return k;
    }();
    auto isInk = [&](int x, int y) { return PIX_GetPixel(&bm, x, y) == kWhite; };
    for (int y = 0; y < 30; ++y)
      for (int x = 0; x < 40; ++x) {
        if (isInk(x, y)) ++ink;
        if (PIX_GetPixel(&bm, x, y) != effect) continue;
        ++fx;
        if (x < inkBox.x0 || y < inkBox.y0) ++fxBeforeInk;
        // Shadow pixels touch ink at their left, upper left or top; outline pixels at any side.
        const bool touches = flag == PIX_FONT_FLAG_FXSHADOW
                                 ? isInk(x - 1, y) || isInk(x - 1, y - 1) || isInk(x, y - 1)
                                 : isInk(x - 1, y) || isInk(x + 1, y) || isInk(x, y - 1) || isInk(x, y + 1);
        lonely += !touches;
      }
    EXPECT_GT(ink, 10);
    EXPECT_GT(fx, 5);
    EXPECT_EQ(lonely, 0);
    if (flag == PIX_FONT_FLAG_FXSHADOW) {
      EXPECT_EQ(fxBeforeInk, 0);
    } else {
      EXPECT_GT(fxBeforeInk, 0);
    }
  }
}

TEST(CachedFont, VerticalFontsRunDownwardsAndBottomUpUpwards) {
  auto down = makeCached(16, PIX_FONT_FLAG_VERTICAL);
  PIX_MemBitmap bm(40, 80);
  clear(bm);
  RECT r{0, 0, 40, 80};
  const int w = down->DrawText(&bm, "ILIL", -1, &r, 0);
  const Bounds b = inkBounds(bm);
  ASSERT_TRUE(b.any());
  EXPECT_GT(b.y1 - b.y0, b.x1 - b.x0);  // taller than wide
  EXPECT_GT(w, 0);
  RECT m{0, 0, 0, 0};
  down->DrawText(nullptr, "ILIL", -1, &m, DT_CALCRECT);
  EXPECT_GT(m.bottom, m.right);
  auto up = makeCached(16, PIX_FONT_FLAG_VERTICAL | PIX_FONT_FLAG_VERTICAL_BOTTOMUP);
  PIX_MemBitmap bu(40, 80);
  clear(bu);
  up->DrawText(&bu, "ILIL", -1, &r, 0);
  const Bounds c = inkBounds(bu);
  ASSERT_TRUE(c.any());
  EXPECT_LE(c.y1, m.bottom + 1);
}

TEST(CachedFont, NativePathDrawsLikeTheWindowLayerOnBothKindsOfBitmap) {
  auto native = makeCached(18, PIX_FONT_FLAG_NATIVE, "");
  PIX_SysBitmap own(120, 40);
  PIX_MemBitmap mem(120, 40);
  clear(own), clear(mem);
  RECT r1{5, 5, 110, 35}, r2 = r1;
  native->DrawText(&own, "Native A", -1, &r1, DT_CENTER | DT_VCENTER);
  native->DrawText(&mem, "Native A", -1, &r2, DT_CENTER | DT_VCENTER);
  // The window layer centres by halving the rectangle and the box separately, the scratch path by halving
  // their difference: the two may differ by a pixel.
  const Bounds o = inkBounds(own), s = inkBounds(mem);
  ASSERT_TRUE(o.any());
  EXPECT_NEAR(o.x0, s.x0, 1);
  EXPECT_NEAR(o.y0, s.y0, 1);
  // The scratch path clips to the measured box, so an overhanging edge may lose its last column.
  EXPECT_NEAR(o.x1 - o.x0, s.x1 - s.x0, 1);
  EXPECT_NEAR(o.y1 - o.y0, s.y1 - s.y0, 1);
  // Measuring on the native path reports the window layer's box.
  RECT m{0, 0, 0, 0};
  const int h = native->DrawText(nullptr, "Native A", -1, &m, DT_CALCRECT);
  EXPECT_EQ(h, m.bottom);
  EXPECT_GT(m.right, 40);
  // Forcing the glyph path draws from the cache instead, at the same place.
  PIX_MemBitmap cached(120, 40);
  clear(cached);
  RECT r3{5, 5, 110, 35};
  native->DrawText(&cached, "Native A", -1, &r3, DT_CENTER | DT_VCENTER | PIX_DT_FORCECACHED);
  const Bounds a = inkBounds(mem), b = inkBounds(cached);
  EXPECT_NEAR(a.x0, b.x0, 1);
  EXPECT_NEAR(a.y1, b.y1, 1);
}

TEST(CachedFont, DestroyingTheLastFontFreesTheScratchBitmaps) {
  {
    auto f = makeCached(12, PIX_FONT_FLAG_NATIVE);
    PIX_MemBitmap bm(20, 20);
    draw(*f, bm, "x", 0, 0);
    EXPECT_NE(PIX_CachedFont::GetScratchBitmap(), nullptr);
    EXPECT_NE(PIX_CachedFont::GetNativeScratchBitmap(), nullptr);
  }
  EXPECT_EQ(PIX_CachedFont::GetScratchBitmap(), nullptr);
  EXPECT_EQ(PIX_CachedFont::GetNativeScratchBitmap(), nullptr);
  auto again = makeCached(12);
  EXPECT_NE(PIX_CachedFont::GetScratchBitmap(), nullptr);
}

TEST(CachedFont, RebindingEmptiesTheCacheAndDeletesAnOwnedFont) {
  PIX_CachedFont f;
  HFONT a = makeFont(12), b = makeFont(30);
  f.SetFromHFont(a, PIX_FONT_FLAG_OWNS_HFONT);
  f.SetTextColor(kWhite);
  PIX_MemBitmap bm(60, 40);
  draw(f, bm, "x", 0, 0);
  f.SetFromHFont(b, PIX_FONT_FLAG_OWNS_HFONT);
  EXPECT_TRUE(a->_infreelist || SHIM_GDP_ObjPoolSize() >= 200);
  EXPECT_EQ(f.GetLineHeight(), 35);
  RECT m = measure(f, "x");
  EXPECT_GT(m.bottom - m.top, 25);
}

}  // namespace
