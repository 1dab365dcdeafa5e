// The window layer's drawing contexts, objects, fonts and text, checked through memory contexts' pixels.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "KIT/shim/shim-gdi-internal.h"
#include "KIT/shim/shim.h"

namespace {

HGDIOBJ token(uintptr_t v) {
  return reinterpret_cast<HGDIOBJ>(v);
}

// A memory context with helpers to read its pixels (byte 0 unused, then red, green, blue).
struct MemCtx {
  MemCtx(int w, int h) : w(w), h(h), dc(SHIM_CreateMemContext(nullptr, w, h)) {}
  ~MemCtx() {
    if (font) {
      SelectObject(dc, token(3));
      DeleteObject(font);
    }
    SHIM_DeleteGfxContext(dc);
  }
  // A font of the given size made and selected; it is deselected and deleted with the context.
  HFONT useFont(int size, const char* face = "NK57 Monospace", int quality = 0) {
    font = CreateFont(size, 0, 0, 0, 400, 0, 0, 0, 0, 0, 0, static_cast<char>(quality), 0, face);
    SelectObject(dc, font);
    return font;
  }
  const uint8_t* px(int x, int y) const {
    return static_cast<const uint8_t*>(SHIM_GetCtxFrameBuffer(dc)) + (static_cast<size_t>(y) * w + x) * 4;
  }
  int red(int x, int y) const { return px(x, y)[1]; }
  // Bounds of pixels whose red byte is non-zero; false when there are none.
  bool inkBounds(int& x0, int& y0, int& x1, int& y1) const {
    x0 = y0 = 1 << 30, x1 = y1 = -1;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        if (red(x, y)) x0 = std::min(x0, x), y0 = std::min(y0, y), x1 = std::max(x1, x + 1), y1 = std::max(y1, y + 1);
    return x1 >= 0;
  }
  int w, h;
  HDC dc;
  HFONT font = nullptr;
};

float fontSize(HFONT f) {
  return f->font->size();
}

TEST(MemoryContext, ThreeByTwoHasTwelveByteRowsOnA64ByteBoundaryWithRowZeroFirst) {
  MemCtx m(3, 2);
  ASSERT_TRUE(m.dc);
  auto* fb = static_cast<uint8_t*>(SHIM_GetCtxFrameBuffer(m.dc));
  ASSERT_TRUE(fb);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(fb) % 64, 0u);
  for (int i = 0; i < 24; ++i) EXPECT_EQ(fb[i], 0);
  EXPECT_EQ(SHIM_GetCtxGC(m.dc)->rowBytes(), 12);
  HBRUSH b = CreateSolidBrush(0x123456);
  RECT r{0, 0, 1, 1};
  SHIM_FillRect(m.dc, &r, b);
  EXPECT_EQ(fb[1], 0x12);
  EXPECT_EQ(fb[2], 0x34);
  EXPECT_EQ(fb[3], 0x56);
  for (int i = 4; i < 24; ++i) EXPECT_EQ(fb[i], 0) << i;
  DeleteObject(b);
}

TEST(MemoryContext, RefusesEmptyAndHugeSizesAndIgnoresBadHandles) {
  EXPECT_EQ(SHIM_CreateMemContext(nullptr, 0, 5), nullptr);
  EXPECT_EQ(SHIM_CreateMemContext(nullptr, 5, -1), nullptr);
  EXPECT_EQ(SHIM_CreateMemContext(nullptr, 100000, 100000), nullptr);
  EXPECT_EQ(SHIM_GetCtxFrameBuffer(nullptr), nullptr);
  EXPECT_EQ(GetTextColor(nullptr), -1);
  SHIM_DeleteGfxContext(nullptr);
  HDC dc = SHIM_CreateMemContext(nullptr, 2, 2);
  SHIM_DeleteGfxContext(dc);
  // A released record is in the pool: everything treats it as invalid.
  if (dc->_infreelist) {
    EXPECT_EQ(SHIM_GetCtxFrameBuffer(dc), nullptr);
    EXPECT_EQ(GetTextColor(dc), -1);
    EXPECT_EQ(SelectObject(dc, token(3)), nullptr);
    RECT r{0, 0, 10, 10};
    EXPECT_EQ(SHIM_DrawText(dc, "x", -1, &r, 0), 0);
    SHIM_DeleteGfxContext(dc);  // twice: ignored
  }
}

TEST(MemoryContext, PoolKeepsAtMostOneHundredRecords) {
  std::vector<HDC> dcs;
  for (int i = 0; i < 130; ++i) dcs.push_back(SHIM_CreateMemContext(nullptr, 1, 1));
  for (HDC dc : dcs) SHIM_DeleteGfxContext(dc);
  EXPECT_EQ(SHIM_GDP_CtxPoolSize(), 100);
  // Records come back cleared.
  HDC again = SHIM_CreateMemContext(nullptr, 1, 1);
  EXPECT_EQ(SHIM_GDP_CtxPoolSize(), 99);
  EXPECT_EQ(again->curfont, nullptr);
  EXPECT_EQ(again->curbkmode, 0);
  SHIM_DeleteGfxContext(again);
}

TEST(ContextState, ColoursAndModesAreStored) {
  MemCtx m(1, 1);
  EXPECT_EQ(GetTextColor(m.dc), 0);
  SetTextColor(m.dc, 0xABCDEF);
  EXPECT_EQ(GetTextColor(m.dc), 0xABCDEF);
  SetBkColor(m.dc, 0x010203);
  SetBkMode(m.dc, OPAQUE);
  EXPECT_EQ(m.dc->curbkcol, 0x010203);
  EXPECT_EQ(m.dc->curbkmode, 1);
}

TEST(Objects, SelectObjectHandsOutTokensAndPreviousObjects) {
  MemCtx m(1, 1);
  HFONT a = CreateFont(12, 0, 0, 0, FW_NORMAL, 0, 0, 0, 0, 0, 0, 0, 0, "DejaVu Sans");
  HFONT b = CreateFont(14, 0, 0, 0, FW_NORMAL, 0, 0, 0, 0, 0, 0, 0, 0, "DejaVu Sans");
  EXPECT_EQ(SelectObject(m.dc, token(3)), token(3));
  EXPECT_EQ(SelectObject(m.dc, a), token(3));
  EXPECT_EQ(SelectObject(m.dc, b), a);
  EXPECT_EQ(SelectObject(m.dc, a), b);
  EXPECT_EQ(SelectObject(m.dc, a), a);
  EXPECT_EQ(SelectObject(m.dc, token(3)), a);
  EXPECT_EQ(m.dc->curfont, nullptr);
  // Slots are separate per kind; bitmaps, null and 4 are not selectable.
  HPEN pen = CreatePen(PS_SOLID, 1, 0);
  EXPECT_EQ(SelectObject(m.dc, pen), token(1));
  EXPECT_EQ(SelectObject(m.dc, a), token(3));
  EXPECT_EQ(SelectObject(m.dc, token(1)), pen);
  uint32_t px = 0;
  HBITMAP bm = CreateBitmap(1, 1, 1, 32, &px);
  EXPECT_EQ(SelectObject(m.dc, bm), nullptr);
  EXPECT_EQ(SelectObject(m.dc, nullptr), nullptr);
  EXPECT_EQ(SelectObject(m.dc, token(4)), nullptr);
  SelectObject(m.dc, token(3));
  for (HGDIOBJ o : {a, b, pen, bm}) DeleteObject(o);
  EXPECT_EQ(SelectObject(m.dc, a), nullptr);  // pooled now
}

TEST(Objects, ReferencesAreCountedAndStockObjectsNeverFreed) {
  HBRUSH b = CreateSolidBrush(0xFF);
  EXPECT_EQ(SHIM_CloneGDIObject(b), b);
  EXPECT_EQ(SHIM_CloneGDIObject(b), b);
  DeleteObject(b);
  DeleteObject(b);
  EXPECT_FALSE(b->_infreelist);
  DeleteObject(b);
  EXPECT_TRUE(b->_infreelist || SHIM_GDP_ObjPoolSize() >= 200);
  EXPECT_EQ(SHIM_CloneGDIObject(token(2)), nullptr);
  HGDIOBJ pen = GetStockObject(NULL_PEN), brush = GetStockObject(NULL_BRUSH);
  ASSERT_TRUE(pen && brush);
  EXPECT_EQ(pen->type, 1);
  EXPECT_EQ(brush->type, 2);
  EXPECT_EQ(pen->wid, -1);
  DeleteObject(pen);
  DeleteObject(token(2));
  EXPECT_FALSE(pen->_infreelist);
  EXPECT_EQ(GetStockObject(3), nullptr);
}

struct SizeCase {
  int height, width;
  float size;
};

TEST(Fonts, SizeRules) {
  const SizeCase cases[] = {{0, 0, 10}, {9000, 0, 10},   {-12, 0, 12}, {0, 14, 14},
                            {1, 0, 10}, {8192, 0, 8192}, {2, 0, 2}};
  for (const SizeCase& c : cases) {
    HFONT f = CreateFont(c.height, c.width, 0, 0, FW_NORMAL, 0, 0, 0, 0, 0, 0, 0, 0, "NK57 Monospace");
    ASSERT_TRUE(f);
    EXPECT_EQ(fontSize(f), c.size) << c.height << "/" << c.width;
    DeleteObject(f);
  }
}

TEST(Fonts, StyleSuffixesFormTheCacheKeyAndPickTheFace) {
  HFONT f = CreateFont(12, 0, 0, 900, 700, 1, 0, 0, 0, 0, 0, 0, 0, "Consolas");
  EXPECT_TRUE(SHIM_GDP_FontNameCached("Consolas Bold Italic"));
  EXPECT_EQ(f->font->postScriptName(), "DejaVuSansMono-BoldOblique");
  EXPECT_FLOAT_EQ(f->font_rotation, 90.0f);
  HFONT g = CreateFont(12, 0, 0, 0, 699, 0, 0, 0, 0, 0, 0, 0, 0, "Monaco");
  EXPECT_TRUE(SHIM_GDP_FontNameCached("Monaco"));
  EXPECT_FALSE(SHIM_GDP_FontNameCached("Monaco Bold"));
  EXPECT_EQ(g->font->postScriptName(), "DejaVuSansMono");
  HFONT h = CreateFont(12, 0, 0, 0, 400, 0, 0, 0, 0, 0, 0, 0, 0, "");
  EXPECT_EQ(h->font->postScriptName(), "DejaVuSans");
  // A very long face name is cut, not overrun.
  std::string longName(5000, 'Q');
  HFONT l = CreateFont(12, 0, 0, 0, 400, 0, 0, 0, 0, 0, 0, 0, 0, longName.c_str());
  EXPECT_TRUE(SHIM_GDP_FontNameCached(std::string(899, 'Q').c_str()));
  EXPECT_EQ(l->font->postScriptName(), "DejaVuSans");
  LOGFONT lf{};
  lf.lfHeight = -20;
  lf.lfWeight = 700;
  std::memset(lf.lfFaceName, 'Z', sizeof(lf.lfFaceName));  // no terminator
  HFONT i = CreateFontIndirect(&lf);
  EXPECT_EQ(fontSize(i), 20);
  for (HFONT o : {f, g, h, l, i}) DeleteObject(o);
}

TEST(Fonts, QualityTable) {
  const int in[] = {0, 1, 2, 3, 4, 5, 200};
  const int out[] = {0, 0, 0, 3, 4, 0, 0};
  for (int i = 0; i < 7; ++i) {
    HFONT f = CreateFont(12, 0, 0, 0, 400, 0, 0, 0, 0, 0, 0, static_cast<char>(in[i]), 0, "NK57 Monospace");
    EXPECT_EQ(f->font_quality, out[i]) << in[i];
    DeleteObject(f);
  }
}

TEST(TextMetrics, PresetsWithoutAContextAndTruncatedMetricsWithOne) {
  TEXTMETRIC tm;
  EXPECT_FALSE(GetTextMetrics(nullptr, &tm));
  EXPECT_EQ(tm.tmHeight, 16);
  EXPECT_EQ(tm.tmAscent, 12);
  EXPECT_EQ(tm.tmDescent, 4);
  EXPECT_EQ(tm.tmInternalLeading, 3);
  EXPECT_EQ(tm.tmAveCharWidth, 10);
  MemCtx m(1, 1);
  EXPECT_FALSE(GetTextMetrics(m.dc, nullptr));
  // The default label font, DejaVu Sans at 10: ascent 9.28, descent 2.36, no leading.
  ASSERT_TRUE(GetTextMetrics(m.dc, &tm));
  EXPECT_EQ(tm.tmAscent, 9);
  EXPECT_EQ(tm.tmDescent, 2);
  EXPECT_EQ(tm.tmInternalLeading, 0);
  EXPECT_EQ(tm.tmAveCharWidth, 7);
  EXPECT_EQ(tm.tmHeight, 12);
  // 24 pixels: ascent 22.28, descent 5.66 -> 22 + 5 + 0 = 27, average 18, height 28.
  HFONT f = CreateFont(24, 0, 0, 0, 400, 0, 0, 0, 0, 0, 0, 0, 0, "NK57 Monospace");
  HGDIOBJ old = SelectObject(m.dc, f);
  ASSERT_TRUE(GetTextMetrics(m.dc, &tm));
  EXPECT_EQ(tm.tmAscent, 22);
  EXPECT_EQ(tm.tmDescent, 5);
  EXPECT_EQ(tm.tmAveCharWidth, 18);
  EXPECT_EQ(tm.tmHeight, 28);
  SelectObject(m.dc, old);
  DeleteObject(f);
}

// Measures with DT_CALCRECT from (0, 0): {width, block height, return value}.
struct Measured {
  int w, h, ret;
};
Measured measure(HDC dc, const char* s, int flags, int len = -1) {
  RECT r{0, 0, 0, 0};
  const int ret = SHIM_DrawText(dc, s, len, &r, flags | DT_CALCRECT);
  return {r.right, r.bottom, ret};
}

TEST(DrawText, PrefixCarriageReturnAndLineFeedRules) {
  MemCtx m(1, 1);
  m.useFont(16);
  const Measured one = measure(m.dc, "a", 0);
  const int adv = one.w;  // a monospace cell, rounded
  EXPECT_GT(adv, 5);
  EXPECT_EQ(measure(m.dc, "a&&b", 0).w, measure(m.dc, "a&b", DT_NOPREFIX).w);
  EXPECT_EQ(measure(m.dc, "a&&b", DT_NOPREFIX).w, measure(m.dc, "a&&b", DT_NOPREFIX).w);
  EXPECT_GT(measure(m.dc, "a&&b", DT_NOPREFIX).w, measure(m.dc, "a&&b", 0).w);
  EXPECT_EQ(measure(m.dc, "&x", 0).w, one.w);
  EXPECT_EQ(measure(m.dc, "ab&", 0).w, measure(m.dc, "ab", 0).w);  // a trailing ampersand ends the text
  EXPECT_EQ(measure(m.dc, "a\rb", 0).w, measure(m.dc, "ab", 0).w);
  // Two lines: heights add up; one more pixel for the block.
  const Measured two = measure(m.dc, "x\r\ny", 0);
  EXPECT_EQ(two.h, 2 * (one.h - 1) + 1);
  EXPECT_EQ(two.ret, two.h);
  EXPECT_EQ(two.w, one.w);
  const Measured single = measure(m.dc, "x\r\ny", DT_SINGLELINE);
  EXPECT_EQ(single.h, one.h);
  EXPECT_EQ(single.w, measure(m.dc, "x y", 0).w);
  // Length limits the source bytes; a zero byte ends the text earlier.
  EXPECT_EQ(measure(m.dc, "abcdef", 0, 2).w, measure(m.dc, "ab", 0).w);
  EXPECT_EQ(measure(m.dc, "ab\0cd", 0, 5).w, measure(m.dc, "ab", 0).w);
}

TEST(DrawText, MeasuredSizesFollowTheMetrics) {
  MemCtx m(1, 1);
  HFONT f = m.useFont(20);
  const platform::text::FontMetrics& fm = f->font->metrics();
  const int lineH = static_cast<int>(fm.ascent + fm.descent + fm.leading + 1.5f);
  // DejaVu Sans Mono: every advance is 1233 units of 2048.
  const Measured ten = measure(m.dc, "0123456789", 0);
  EXPECT_EQ(ten.w, static_cast<int>(10 * 1233 * 20 / 2048.0 + 0.5));
  EXPECT_EQ(ten.h, lineH + 1);
  EXPECT_EQ(measure(m.dc, "a\n\nbb", 0).h, 3 * lineH + 1);
  EXPECT_EQ(measure(m.dc, "a\n", 0).h, lineH + 1);  // a trailing line feed opens no line
}

TEST(DrawText, EmptyLongAndCutTextStayInBounds) {
  MemCtx m(1, 1);
  RECT r{5, 6, 7, 8};
  EXPECT_EQ(SHIM_DrawText(m.dc, "", -1, &r, DT_CALCRECT), 0);
  EXPECT_EQ(r.right, 7);
  EXPECT_EQ(r.bottom, 8);
  EXPECT_EQ(SHIM_DrawText(m.dc, "&", -1, &r, DT_CALCRECT), 0);
  EXPECT_EQ(SHIM_DrawText(m.dc, "\r\r", -1, &r, DT_CALCRECT), 0);
  EXPECT_EQ(SHIM_DrawText(m.dc, "abc", 0, &r, DT_CALCRECT), 0);
  EXPECT_EQ(SHIM_DrawText(m.dc, nullptr, -1, &r, DT_CALCRECT), 0);
  m.useFont(10);
  // 5000 bytes are cut to their first 4095.
  const std::string longText(5000, 'i');
  EXPECT_EQ(measure(m.dc, longText.c_str(), 0).w, measure(m.dc, longText.c_str(), 0, 4095).w);
  EXPECT_GT(measure(m.dc, longText.c_str(), 0).w, measure(m.dc, longText.c_str(), 0, 4094).w);
  // A two-byte character cut by the limit is dropped, the rest still measured.
  std::string cut(4094, 'i');
  cut += "\xC3\xA9";
  EXPECT_EQ(measure(m.dc, cut.c_str(), 0).w, measure(m.dc, cut.c_str(), 0, 4094).w);
  // So is one cut by the caller's length; a lone invalid byte fails the whole text.
  EXPECT_EQ(measure(m.dc, "ab\xE2\x82\xAC", 0, 4).w, measure(m.dc, "ab", 0).w);
  EXPECT_EQ(measure(m.dc, "ab\xFF", 0).ret, 0);
}

TEST(DrawText, WhiteOnBlackGivesGreyCoverageInTheBox) {
  // The glyph cache of the raster library renders this way and reads the red byte as coverage.
  MemCtx m(40, 40);
  m.useFont(24, "NK57 Monospace", 4);
  // Pre-fill grey so that the opaque box is visible.
  HBRUSH grey = CreateSolidBrush(0x808080);
  RECT all{0, 0, 40, 40};
  SHIM_FillRect(m.dc, &all, grey);
  SetTextColor(m.dc, 0xFFFFFF);
  SetBkMode(m.dc, OPAQUE);
  SetBkColor(m.dc, 0);
  RECT r{0, 0, 0, 0};
  SHIM_DrawText(m.dc, "A", -1, &r, 0xC1);
  const int w = r.right, h = r.bottom;
  const int ret = SHIM_DrawText(m.dc, "A", -1, &r, 0xC0);
  EXPECT_EQ(ret, h);
  int full = 0, partial = 0;
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 40; ++x) {
      const uint8_t* p = m.px(x, y);
      EXPECT_TRUE(p[1] == p[2] && p[2] == p[3]) << x << "," << y;
      if (x < w && y < h) {
        full += p[1] == 255;
        partial += p[1] > 0 && p[1] < 255;
      } else {
        EXPECT_EQ(p[1], 0x80) << x << "," << y;  // outside the box: untouched
      }
    }
  EXPECT_GT(full, 10);
  EXPECT_GT(partial, 5);
  DeleteObject(grey);
}

struct AlignCase {
  int flags;
  const char* name;
};

TEST(DrawText, OpaqueBoxIsTheMeasuredBlockAtTheAlignedPosition) {
  const AlignCase cases[] = {{0, "left top"},
                             {DT_CENTER, "centre"},
                             {DT_RIGHT, "right"},
                             {DT_VCENTER, "vcentre"},
                             {DT_BOTTOM, "bottom"},
                             {DT_CENTER | DT_VCENTER, "middle"},
                             {DT_RIGHT | DT_BOTTOM, "bottom right"},
                             {DT_RIGHT | DT_CENTER | DT_BOTTOM | DT_VCENTER, "right and bottom win"}};
  const RECT box{7, 5, 113, 61};
  for (const AlignCase& c : cases) {
    MemCtx m(120, 70);
    SetBkMode(m.dc, OPAQUE);
    SetBkColor(m.dc, 0xFF0000);
    SetTextColor(m.dc, 0xFF0000);
    RECT r = box;
    const Measured size = measure(m.dc, "Level 7", 0);
    SHIM_DrawText(m.dc, "Level 7", -1, &r, c.flags);
    int x0, y0, x1, y1;
    ASSERT_TRUE(m.inkBounds(x0, y0, x1, y1)) << c.name;
    EXPECT_EQ(x1 - x0, size.w) << c.name;
    EXPECT_EQ(y1 - y0, size.h) << c.name;
    const int ex = (c.flags & DT_RIGHT)    ? box.right - size.w
                   : (c.flags & DT_CENTER) ? box.left + (box.right - box.left) / 2 - size.w / 2
                                           : box.left;
    const int ey = (c.flags & DT_BOTTOM)    ? box.bottom - size.h
                   : (c.flags & DT_VCENTER) ? box.top + (box.bottom - box.top) / 2 - size.h / 2
                                            : box.top;
    EXPECT_EQ(x0, ex) << c.name;
    EXPECT_EQ(y0, ey) << c.name;
  }
}

TEST(DrawText, InkStaysInsideTheRectangleUnlessNoClip) {
  for (int flags : {0, DT_CENTER | DT_VCENTER, DT_RIGHT | DT_BOTTOM, DT_NOCLIP}) {
    MemCtx m(200, 60);
    SetTextColor(m.dc, 0xFFFFFF);
    m.useFont(30, "");
    RECT r{40, 20, 90, 35};
    SHIM_DrawText(m.dc, "Wide text here", -1, &r, flags);
    int x0, y0, x1, y1;
    ASSERT_TRUE(m.inkBounds(x0, y0, x1, y1));
    const bool inside = x0 >= 40 && x1 <= 90 && y0 >= 20 && y1 <= 35;
    EXPECT_EQ(inside, !(flags & DT_NOCLIP)) << flags;
  }
}

TEST(DrawText, HugeFontsDrawTheVisiblePartOnly) {
  MemCtx m(50, 50);
  SetTextColor(m.dc, 0xFFFFFF);
  m.useFont(4000);
  // The stem of a 4000-pixel "I" starts about 1250 pixels right of its origin: shift it into view.
  RECT r{-1300, -1000, 50, 50};
  SHIM_DrawText(m.dc, "II", -1, &r, DT_NOCLIP);
  int x0, y0, x1, y1;
  EXPECT_TRUE(m.inkBounds(x0, y0, x1, y1));
  RECT measured{0, 0, 0, 0};
  EXPECT_GT(SHIM_DrawText(m.dc, "II", -1, &measured, DT_CALCRECT), 4000);
  EXPECT_EQ(measured.right, static_cast<int>(2 * 1233 * 4000 / 2048.0 + 0.5));
}

TEST(DrawText, QualityChoosesAntialiasedOrOneBitInk) {
  for (int quality : {NONANTIALIASED_QUALITY, ANTIALIASED_QUALITY}) {
    MemCtx m(100, 40);
    SetTextColor(m.dc, 0xFFFFFF);
    m.useFont(20, "", quality);
    RECT r{0, 0, 100, 40};
    SHIM_DrawText(m.dc, "Sawtooth", -1, &r, 0);
    int partial = 0;
    for (int y = 0; y < 40; ++y)
      for (int x = 0; x < 100; ++x) partial += m.red(x, y) > 0 && m.red(x, y) < 255;
    EXPECT_EQ(partial > 0, quality == ANTIALIASED_QUALITY);
  }
}

TEST(DrawText, LinesOfAMultiLineTextStepByTheRoundedLineHeight) {
  MemCtx m(60, 80);
  SetTextColor(m.dc, 0xFFFFFF);
  HFONT f = m.useFont(16);
  const platform::text::FontMetrics& fm = f->font->metrics();
  const int pitch = static_cast<int>(fm.ascent + fm.descent + fm.leading + 0.5f);
  RECT r{0, 0, 60, 80};
  SHIM_DrawText(m.dc, "-\n-\n-", -1, &r, 0);
  std::vector<int> rows;
  for (int y = 0; y < 80; ++y)
    if (m.red(3, y) > 128 && (rows.empty() || rows.back() != y - 1 || true)) rows.push_back(y);
  ASSERT_GE(rows.size(), 3u);
  // The first row of each dash.
  std::vector<int> starts{rows[0]};
  for (size_t i = 1; i < rows.size(); ++i)
    if (rows[i] != rows[i - 1] + 1) starts.push_back(rows[i]);
  ASSERT_EQ(starts.size(), 3u);
  EXPECT_EQ(starts[1] - starts[0], pitch);
  EXPECT_EQ(starts[2] - starts[1], pitch);
}

TEST(Shapes, PensBrushesAndPolygons) {
  MemCtx m(40, 40);
  HPEN pen = CreatePen(PS_SOLID, -3, 0xFF0000);
  EXPECT_EQ(pen->wid, 0);
  SelectObject(m.dc, pen);
  MoveToEx(m.dc, 0, 0, nullptr);
  SHIM_LineTo(m.dc, 10, 0);
  // Exactly one row; the butt ends at x = 0.5 and 10.5 half cover the end pixels.
  for (int x = 0; x < 12; ++x) {
    EXPECT_NEAR(m.red(x, 0), x == 0 || x == 10 ? 128 : x < 10 ? 255 : 0, 1) << x;
    EXPECT_EQ(m.px(x, 0)[2], 0);
    EXPECT_EQ(m.red(x, 1), 0);
  }
  POINT old;
  MoveToEx(m.dc, 3, 4, &old);
  EXPECT_EQ(old.x, 10);
  EXPECT_EQ(old.y, 0);

  // Empty stock pen with a brush: fills only; a pen with the empty brush: strokes only.
  MemCtx fillOnly(20, 20), strokeOnly(20, 20), nothing(20, 20);
  HBRUSH brush = CreateSolidBrush(0x00FF00);
  const POINT square[4] = {{2, 2}, {12, 2}, {12, 12}, {2, 12}};
  SelectObject(fillOnly.dc, GetStockObject(NULL_PEN));
  SelectObject(fillOnly.dc, brush);
  SHIM_Polygon(fillOnly.dc, square, 4);
  EXPECT_EQ(fillOnly.px(7, 7)[2], 255);
  EXPECT_EQ(fillOnly.red(2, 7), 0);
  SelectObject(strokeOnly.dc, pen);
  SelectObject(strokeOnly.dc, GetStockObject(NULL_BRUSH));
  SHIM_Polygon(strokeOnly.dc, square, 4);
  EXPECT_EQ(strokeOnly.px(7, 7)[2], 0);
  EXPECT_GT(strokeOnly.red(7, 2), 0);
  SelectObject(nothing.dc, GetStockObject(NULL_PEN));
  SelectObject(nothing.dc, GetStockObject(NULL_BRUSH));
  SHIM_Polygon(nothing.dc, square, 4);
  int x0, y0, x1, y1;
  EXPECT_FALSE(nothing.inkBounds(x0, y0, x1, y1));

  // RoundRect cuts each corner by a third of the corner size.
  MemCtx rr(40, 40);
  HBRUSH white = CreateSolidBrush(0xFFFFFF);
  SelectObject(rr.dc, white);
  RoundRect(rr.dc, 0, 0, 30, 30, 9, 9);
  EXPECT_EQ(rr.red(0, 0), 0);
  EXPECT_EQ(rr.red(15, 0), 255);
  EXPECT_EQ(rr.red(0, 15), 255);
  EXPECT_GT(rr.red(3, 1), 0);

  // Rectangle fills then strokes; Ellipse fills inside its box.
  MemCtx rc(30, 30);
  SelectObject(rc.dc, white);
  Rectangle(rc.dc, 5, 5, 15, 15);
  EXPECT_EQ(rc.red(10, 10), 255);
  EXPECT_EQ(rc.red(4, 10), 0);
  Ellipse(rc.dc, 16, 16, 28, 28);
  EXPECT_EQ(rc.red(22, 22), 255);
  EXPECT_EQ(rc.red(16, 16), 0);
  SHIM_SetPixel(rc.dc, 1, 2, 0x0000FF);
  EXPECT_EQ(rc.px(1, 2)[3], 255);
  EXPECT_EQ(rc.px(0, 2)[3], 0);
  EXPECT_EQ(rc.px(1, 1)[3], 0);
  for (HGDIOBJ o : {pen, brush, white}) DeleteObject(o);
}

TEST(Shapes, ClipRegionsNestAndUnwind) {
  MemCtx m(20, 20);
  HBRUSH white = CreateSolidBrush(0xFFFFFF);
  RECT clip{5, 5, 10, 10}, all{0, 0, 20, 20};
  SHIM_PushClipRegion(m.dc);
  SHIM_SetClipRegion(m.dc, &clip);
  SHIM_FillRect(m.dc, &all, white);
  SHIM_PopClipRegion(m.dc);
  int x0, y0, x1, y1;
  ASSERT_TRUE(m.inkBounds(x0, y0, x1, y1));
  EXPECT_EQ(x0, 5);
  EXPECT_EQ(y1, 10);
  SHIM_FillRect(m.dc, &all, white);
  EXPECT_EQ(m.red(0, 0), 255);
  DeleteObject(white);
}

TEST(Bitmaps, StretchBltClipsTheSourceAndScales) {
  MemCtx src(20, 4), dst(60, 4);
  // Source column c has red = c * 10 + 5.
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 20; ++x) {
      HBRUSH b = CreateSolidBrush((x * 10 + 5) << 16);
      RECT r{x, y, x + 1, y + 1};
      SHIM_FillRect(src.dc, &r, b);
      DeleteObject(b);
    }
  // xin = -10, win = 20, w = 40: x moves right by 20, the first 10 columns fill 20 pixels.
  StretchBlt(dst.dc, 0, 0, 40, 4, src.dc, -10, 0, 20, 4, 0);
  for (int x = 0; x < 60; ++x) {
    const int expected = x >= 20 && x < 40 ? ((x - 20) / 2) * 10 + 5 : 0;
    EXPECT_EQ(dst.red(x, 1), expected) << x;
  }
  // A one-to-one copy whose source runs past the edge is cut, not stretched.
  MemCtx d2(60, 4);
  BitBlt(d2.dc, 0, 0, 30, 4, src.dc, 10, 0, 0);
  for (int x = 0; x < 30; ++x) EXPECT_EQ(d2.red(x, 0), x < 10 ? (x + 10) * 10 + 5 : 0) << x;
}

TEST(Bitmaps, StretchBltAlphaModeBlendsAndOtherModesCopyOpaque) {
  MemCtx src(1, 1), a(1, 1), b(1, 1);
  auto* fb = static_cast<uint8_t*>(SHIM_GetCtxFrameBuffer(src.dc));
  fb[0] = 128, fb[1] = 255;
  BitBlt(a.dc, 0, 0, 1, 1, src.dc, 0, 0, SRCCOPY_USEALPHA);
  BitBlt(b.dc, 0, 0, 1, 1, src.dc, 0, 0, SRCCOPY);
  EXPECT_NEAR(a.red(0, 0), 128, 1);
  EXPECT_EQ(b.red(0, 0), 255);
}

TEST(Bitmaps, ObjectsImagesAndSystemColours) {
  const uint8_t pixels[8] = {255, 10, 20, 30, 255, 40, 50, 60};
  HBITMAP bm = CreateBitmap(2, 1, 1, 32, pixels);
  ASSERT_TRUE(bm);
  EXPECT_EQ(CreateBitmap(2, 1, 1, 24, pixels), nullptr);
  BITMAP info{7, 7};
  EXPECT_EQ(GetObject(bm, sizeof(info), &info), 1);
  EXPECT_EQ(info.bmWidth, 2);
  EXPECT_EQ(info.bmHeight, 1);
  char bytes[12];
  std::memset(bytes, 0x55, sizeof(bytes));
  EXPECT_EQ(GetObject(bm, 12, bytes), 0);
  for (char c : bytes) EXPECT_EQ(c, 0);
  ICONINFO ii{1, 0, 0, nullptr, bm};
  HGDIOBJ icon = CreateIconIndirect(&ii);
  ASSERT_TRUE(icon);
  DeleteObject(bm);  // the icon keeps its own reference to the image
  MemCtx m(4, 4);
  RECT r{0, 0, 4, 2};
  DrawImageInRect(m.dc, icon, &r);
  EXPECT_EQ(m.red(0, 0), 10);
  EXPECT_EQ(m.red(3, 1), 40);
  EXPECT_EQ(m.red(0, 2), 0);
  ii.fIcon = 0;
  EXPECT_EQ(CreateIconIndirect(&ii), nullptr);
  DeleteObject(icon);
  EXPECT_EQ(GetSysColor(8), 0xFFF0C8);
  EXPECT_EQ(GetSysColor(10), 0);
  EXPECT_EQ(GetSysColor(-1), 0);
}

}  // namespace
