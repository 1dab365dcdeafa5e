#include "KIT/pix/pix-font.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>

#include "KIT/pix/pix-combine.h"
#include "KIT/pix/pix-sysbitmap.h"
#include "KIT/pix/pix.h"
#include "KIT/shim/shim-gdi.h"

namespace {

// Shared by every font; made on first use, deleted with the last font. Main thread only (the count is atomic so
// that fonts may at least be created and destroyed elsewhere).
PIX_SysBitmap* s_tempbitmap = nullptr;
PIX_SysBitmap* s_nativerender_tempbitmap = nullptr;
std::atomic<int> s_tempbitmap_refcnt{0};

constexpr int kTextDT = 0xC0;  // single line, keep "&"

inline int rgbOf(unsigned int c) {
  return static_cast<int>((PIX_GETR(c) << 16) | (PIX_GETG(c) << 8) | PIX_GETB(c));
}

// Makes the scratch bitmap at least `size` square and ready to render white on black.
void ensureScratch(int size) {
  if (!s_tempbitmap) s_tempbitmap = new PIX_SysBitmap(0, 0);
  if (s_tempbitmap->getWidth() < size || s_tempbitmap->getHeight() < size) {
    s_tempbitmap->resize(size, size);
    HDC dc = s_tempbitmap->getDC();
    SetTextColor(dc, 0xFFFFFF);
    SetBkMode(dc, 1);
    SetBkColor(dc, 0);
  }
}

// Row access honouring a flipped bitmap.
inline PIX_pixel* rowOf(PIX_IBitmap* bm, int y, int& step) {
  const int span = bm->getRowSpan();
  if (bm->isFlipped()) {
    step = -span;
    return bm->getBits() + static_cast<ptrdiff_t>(bm->getHeight() - 1 - y) * span;
  }
  step = span;
  return bm->getBits() + static_cast<ptrdiff_t>(y) * span;
}

template <class Comb>
struct GlyphRenderer {
  static void Mono(const unsigned char* m, PIX_pixel* d, int maskStep, int destStep, int w, int h, int r, int g, int b,
                   int weight) {
    for (; h > 0; --h, m += maskStep, d += destStep)
      for (int i = 0; i < w; ++i)
        if (m[i]) Comb::doPix(reinterpret_cast<unsigned char*>(d + i), r, g, b, 255, weight);
  }
  static void Effect(const unsigned char* m, PIX_pixel* d, int maskStep, int destStep, int w, int h, int r, int g,
                     int b, int weight, int er, int eg, int eb) {
    for (; h > 0; --h, m += maskStep, d += destStep)
      for (int i = 0; i < w; ++i) {
        const int v = m[i];
        if (!v) continue;
        if (v == 255)
          Comb::doPix(reinterpret_cast<unsigned char*>(d + i), r, g, b, 255, weight);
        else
          Comb::doPix(reinterpret_cast<unsigned char*>(d + i), er, eg, eb, 255, weight);
      }
  }
  static void Normal(const unsigned char* m, PIX_pixel* d, int maskStep, int destStep, int w, int h, int r, int g,
                     int b, int weight) {
    for (; h > 0; --h, m += maskStep, d += destStep)
      for (int i = 0; i < w; ++i) {
        const int v = m[i];
        if (!v) continue;
        // At full weight a byte of 255 replaces the pixel entirely.
        const int a = weight == 256 ? v + 1 : std::min(v * weight / 256, 256);
        Comb::doPix(reinterpret_cast<unsigned char*>(d + i), r, g, b, 255, a);
      }
  }
};

// Calls f(GlyphRenderer<C>) for the combiner of the mode's low byte; false for modes that draw nothing.
template <class F>
bool withRenderer(int mode, F&& f) {
  switch (mode & 0xFF) {
    case 0:
      f(GlyphRenderer<_PIX_CombinePixelsCopyNoClamp>());
      return true;
    case 1:
      f(GlyphRenderer<_PIX_CombinePixelsAdd>());
      return true;
    case 2:
      f(GlyphRenderer<_PIX_CombinePixelsColorDodge>());
      return true;
    case 3:
      f(GlyphRenderer<_PIX_CombinePixelsMulNoClamp>());
      return true;
    case 4:
      f(GlyphRenderer<_PIX_CombinePixelsOverlay>());
      return true;
    case 5:
      f(GlyphRenderer<_PIX_CombinePixelsHSVAdjust>());
      return true;
    default:
      return false;
  }
}

inline int truncWeight(float alpha) {
  const float v = alpha * 256.0f;
  if (!(v == v)) return 0;
  if (v > 1e9f) return 1000000000;
  if (v < -1e9f) return -1000000000;
  return static_cast<int>(v);
}

}  // namespace

PIX_CachedFont::PIX_CachedFont() {
  std::memset(m_lowchars, 0, sizeof(m_lowchars));
  s_tempbitmap_refcnt++;
}

PIX_CachedFont::~PIX_CachedFont() {
  if ((m_flags & PIX_FONT_FLAG_OWNS_HFONT) && m_font) DeleteObject(m_font);
  if (--s_tempbitmap_refcnt == 0) {
    delete s_tempbitmap;
    s_tempbitmap = nullptr;
    delete s_nativerender_tempbitmap;
    s_nativerender_tempbitmap = nullptr;
  }
}

PIX_SysBitmap* PIX_CachedFont::GetScratchBitmap() {
  return s_tempbitmap;
}
PIX_SysBitmap* PIX_CachedFont::GetNativeScratchBitmap() {
  return s_nativerender_tempbitmap;
}

void PIX_CachedFont::SetFromHFont(HFONT font, int flags) {
  if ((m_flags & PIX_FONT_FLAG_OWNS_HFONT) && m_font && m_font != font) DeleteObject(m_font);
  m_flags = flags;
  m_font = font;
  if (font) {
    ensureScratch(256);
    HDC dc = s_tempbitmap->getDC();
    HGDIOBJ old = SelectObject(dc, font);
    TEXTMETRIC tm;
    GetTextMetrics(dc, &tm);
    m_line_height = tm.tmHeight;
    if (old) SelectObject(dc, old);
  }
  std::memset(m_lowchars, 0, sizeof(m_lowchars));
  m_extracharlist.Resize(0, false);
  m_cachestore.Resize(0, true);
  if (m_flags & PIX_FONT_FLAG_PRECALCALL)
    for (int c = 0; c < 128; ++c) RenderGlyph(static_cast<unsigned short>(c));
}

unsigned int PIX_CachedFont::SetTextColor(unsigned int color) {
  const unsigned int old = m_fg;
  m_fg = color;
  return old;
}

unsigned int PIX_CachedFont::SetBkColor(unsigned int color) {
  const unsigned int old = m_bg;
  m_bg = color;
  return old;
}

unsigned int PIX_CachedFont::SetEffectColor(unsigned int color) {
  const unsigned int old = m_effectcol;
  m_effectcol = color;
  return old;
}

int PIX_CachedFont::SetBkMode(int mode) {
  const int old = m_bgmode;
  m_bgmode = mode;
  return old;
}

void PIX_CachedFont::SetCombineMode(int mode, float alpha) {
  m_comb = mode;
  m_alpha = alpha;
}

int PIX_CachedFont::_charSortFunc(const void* a, const void* b) {
  return static_cast<const charEnt*>(a)->charid - static_cast<const charEnt*>(b)->charid;
}

PIX_CachedFont::charEnt* PIX_CachedFont::findChar(unsigned short c) {
  if (c < 128) return &m_lowchars[c];
  const int n = m_extracharlist.GetSize();
  if (!n) return nullptr;
  charEnt key{};
  key.charid = c;
  return static_cast<charEnt*>(
      bsearch(&key, m_extracharlist.Get(), static_cast<size_t>(n), sizeof(charEnt), _charSortFunc));
}

bool PIX_CachedFont::RenderGlyph(unsigned short c) {
  if (m_line_height > 1023) return false;
  // The record is addressed by index: appending may move the list.
  int extraIndex = -1;
  bool appended = false;
  if (c >= 128) {
    charEnt* e = findChar(c);
    if (!e) {
      if (m_flags & PIX_FONT_FLAG_PRECALCALL) return false;
      charEnt fresh{};
      fresh.charid = c;
      if (!m_extracharlist.Add(fresh)) return false;
      appended = true;
      extraIndex = m_extracharlist.GetSize() - 1;
    } else {
      extraIndex = static_cast<int>(e - m_extracharlist.Get());
    }
  }
  auto record = [&]() -> charEnt& { return extraIndex < 0 ? m_lowchars[c] : m_extracharlist.Get()[extraIndex]; };

  const int S = std::max(m_line_height, 1) * 2 + 8;
  ensureScratch(S);
  HDC dc = s_tempbitmap->getDC();
  HGDIOBJ old = m_font ? SelectObject(dc, m_font) : nullptr;

  char text[4];
  if (c < 0x80) {
    text[0] = static_cast<char>(c), text[1] = 0;
  } else if (c < 0x800) {
    text[0] = static_cast<char>(0xC0 | (c >> 6)), text[1] = static_cast<char>(0x80 | (c & 0x3F)), text[2] = 0;
  } else {
    text[0] = static_cast<char>(0xE0 | (c >> 12)), text[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    text[2] = static_cast<char>(0x80 | (c & 0x3F)), text[3] = 0;
  }

  RECT r{0, 0, 0, 0};
  SHIM_DrawText(dc, text, -1, &r, kTextDT | DT_CALCRECT);
  int advance = r.right;
  r.right += m_line_height < 16 ? 2 : m_line_height / 16 + 2;
  PIX_FillRect(s_tempbitmap, 0, 0, r.right, r.bottom, 0, 1.0f, 0);
  SHIM_DrawText(dc, text, -1, &r, kTextDT);
  const int scratchW = s_tempbitmap->getWidth(), scratchH = s_tempbitmap->getHeight();
  advance = std::min(advance, scratchW);
  const int right = std::min(static_cast<int>(r.right), scratchW);
  const int bottom = std::min(static_cast<int>(r.bottom), scratchH);
  if (old) SelectObject(dc, old);

  int width = 0, height = 0;
  auto fail = [&]() {
    charEnt& e = record();
    e.base_offset = -1;
    e.advance = 0;
    width = height = 0;
  };
  if (advance < 1 || bottom < 1 || right < 1) {
    fail();
  } else {
    record().advance = advance;
    if (m_flags & PIX_FONT_FLAG_FXBLUR) PIX_Blur(s_tempbitmap, s_tempbitmap, 0, 0, 0, 0, right, bottom);
    const int start = m_cachestore.GetSize();
    m_cachestore.Resize(start + right * bottom, false);
    if (m_cachestore.GetSize() != start + right * bottom) {
      fail();
    } else {
      record().base_offset = start + 1;
      unsigned char* mask = static_cast<unsigned char*>(m_cachestore.Get()) + start;
      const bool invert = (m_flags & PIX_FONT_FLAG_FXINVERT) != 0;
      int W = advance;
      for (int y = 0; y < bottom; ++y) {
        int step;
        const unsigned char* src = reinterpret_cast<const unsigned char*>(rowOf(s_tempbitmap, y, step));
        unsigned char* dst = mask + y * right;
        for (int x = 0; x < right; ++x) {
          const unsigned char red = src[x * 4 + PIX_BYTE_R];
          if (red && x + 1 > W) W = x + 1;
          dst[x] = invert ? static_cast<unsigned char>(255 - red) : red;
        }
      }
      int H = bottom;
      if (W < right) {
        for (int y = 1; y < H; ++y) std::memmove(mask + y * W, mask + y * right, static_cast<size_t>(W));
        m_cachestore.Resize(start + W * H, false);
        mask = static_cast<unsigned char*>(m_cachestore.Get()) + start;
      }
      if (m_flags & PIX_FONT_FLAG_VERTICAL) {
        // A quarter turn through the scratch pixels, which hold at least S x S x 4 bytes.
        unsigned char* tmp = reinterpret_cast<unsigned char*>(s_tempbitmap->getBits());
        std::memcpy(tmp, mask, static_cast<size_t>(W) * H);
        const bool bottomUp = (m_flags & PIX_FONT_FLAG_VERTICAL_BOTTOMUP) != 0;
        for (int row = 0; row < W; ++row)
          for (int k = 0; k < H; ++k)
            mask[row * H + k] = bottomUp ? tmp[k * W + (W - 1 - row)] : tmp[(H - 1 - k) * W + row];
        std::swap(W, H);
      }
      const int n = W * H;
      if (m_flags & (PIX_FONT_FLAG_FXMONO | PIX_FONT_FLAG_FXSHADOW | PIX_FONT_FLAG_FXOUTLINE))
        for (int i = 0; i < n; ++i) mask[i] = mask[i] < 131 ? 0 : 255;
      if (m_flags & (PIX_FONT_FLAG_FXSHADOW | PIX_FONT_FLAG_FXOUTLINE)) {
        const bool shadow = (m_flags & PIX_FONT_FLAG_FXSHADOW) != 0;
        for (int y = 0; y < H; ++y)
          for (int x = 0; x < W; ++x) {
            unsigned char& v = mask[y * W + x];
            if (v) continue;
            auto ink = [&](int xx, int yy) {
              return xx >= 0 && yy >= 0 && xx < W && yy < H && mask[yy * W + xx] == 255;
            };
            const bool near = shadow ? (ink(x - 1, y) || ink(x - 1, y - 1) || ink(x, y - 1))
                                     : (ink(x, y - 1) || ink(x, y + 1) || ink(x - 1, y) || ink(x + 1, y));
            if (near) v = 128;
          }
      }
      width = W;
      height = H;
    }
  }
  charEnt& e = record();
  e.width = width;
  e.height = height;
  if (appended && m_extracharlist.GetSize() >= 2)
    qsort(m_extracharlist.Get(), static_cast<size_t>(m_extracharlist.GetSize()), sizeof(charEnt), _charSortFunc);
  return true;
}

bool PIX_CachedFont::DrawGlyph(PIX_IBitmap* bm, unsigned short c, int xpos, int ypos, const RECT* clip) {
  const charEnt* e = findChar(c);
  if (!e || e->base_offset < 1) return false;
  if (xpos + e->width <= clip->left || xpos >= clip->right || ypos + e->height <= clip->top || ypos >= clip->bottom)
    return false;
  const int x0 = std::max(xpos, static_cast<int>(clip->left)),
            x1 = std::min(xpos + e->width, static_cast<int>(clip->right));
  const int y0 = std::max(ypos, static_cast<int>(clip->top)),
            y1 = std::min(ypos + e->height, static_cast<int>(clip->bottom));
  const int w = x1 - x0, h = y1 - y0;
  const unsigned char* mask = static_cast<const unsigned char*>(m_cachestore.Get()) + (e->base_offset - 1) +
                              (y0 - ypos) * e->width + (x0 - xpos);
  int destStep;
  PIX_pixel* dest = rowOf(bm, y0, destStep) + x0;

  if (m_bgmode == 1) PIX_FillRect(bm, x0, y0, w, h, m_bg, m_alpha, m_comb & ~0x10000);

  const int r = static_cast<int>(PIX_GETR(m_fg)), g = static_cast<int>(PIX_GETG(m_fg)),
            b = static_cast<int>(PIX_GETB(m_fg));
  const bool copyMode = (m_comb & 0xFF) == 0;
  const int rawWeight = truncWeight(m_alpha);
  const bool drawsNothing = rawWeight == 0 || (m_comb & 0xFF) > 5 || (copyMode && rawWeight < 1);

  if (m_flags & PIX_FONT_FLAG_FXMONO) {
    if (m_alpha == 1.0f && copyMode) {
      for (int y = 0; y < h; ++y, mask += e->width, dest += destStep)
        for (int x = 0; x < w; ++x)
          if (mask[x]) dest[x] = m_fg;
    } else if (!drawsNothing) {
      const int weight = std::min(rawWeight, 256);
      withRenderer(m_comb, [&](auto rend) { rend.Mono(mask, dest, e->width, destStep, w, h, r, g, b, weight); });
    }
  } else if (m_flags & (PIX_FONT_FLAG_FXSHADOW | PIX_FONT_FLAG_FXOUTLINE)) {
    if (m_alpha == 1.0f && copyMode) {
      for (int y = 0; y < h; ++y, mask += e->width, dest += destStep)
        for (int x = 0; x < w; ++x)
          if (mask[x]) dest[x] = mask[x] == 255 ? m_fg : m_effectcol;
    } else if (!drawsNothing) {
      const int weight = std::min(rawWeight, 256);
      const int er = static_cast<int>(PIX_GETR(m_effectcol)), eg = static_cast<int>(PIX_GETG(m_effectcol)),
                eb = static_cast<int>(PIX_GETB(m_effectcol));
      withRenderer(m_comb,
                   [&](auto rend) { rend.Effect(mask, dest, e->width, destStep, w, h, r, g, b, weight, er, eg, eb); });
    }
  } else if (!drawsNothing) {
    withRenderer(m_comb, [&](auto rend) { rend.Normal(mask, dest, e->width, destStep, w, h, r, g, b, rawWeight); });
  }
  return true;
}

int PIX_CachedFont::utf8charLimited(const char* s, int avail, unsigned short* out) {
  const auto* p = reinterpret_cast<const unsigned char*>(s);
  const unsigned c = p[0];
  auto cont = [&](int i) { return i < avail && p[i] >= 0x80 && p[i] <= 0xBF; };
  int len = 1;
  unsigned cp = c;
  if (c >= 0xC2 && c <= 0xDF && cont(1)) {
    len = 2, cp = ((c & 0x1F) << 6) | (p[1] & 0x3F);
  } else if (c >= 0xE0 && c <= 0xEF && cont(1) && cont(2)) {
    len = 3, cp = ((c << 12) | ((p[1] & 0x3F) << 6) | (p[2] & 0x3F)) & 0xFFFF;
  } else if (c >= 0xF0 && c <= 0xF4 && cont(1) && cont(2) && cont(3)) {
    len = 4, cp = ' ';
  }
  if (out) *out = static_cast<unsigned short>(cp);
  return len;
}

int PIX_CachedFont::utf8char(const char* s, unsigned short* out) {
  // A zero terminator is no continuation byte, so the look-ahead stops there.
  return utf8charLimited(s, 4, out);
}

// Walks the characters of the text, calling onItem(nullptr, 0) for a line break and onItem(record, c) for each
// character that has a rendered glyph.
template <class F>
void PIX_CachedFont::WalkText(const char* str, int strcnt, unsigned int dtFlags, F&& onItem) {
  if (!str) return;
  while (strcnt != 0 && *str) {
    unsigned short c;
    const int avail = strcnt > 0 ? std::min(strcnt, 4) : 4;
    const int len = utf8charLimited(str, avail, &c);
    str += len;
    if (strcnt > 0) strcnt = std::max(strcnt - len, 0);
    if (c == 13) continue;
    if (c == 10) {
      if (!(dtFlags & DT_SINGLELINE)) {
        onItem(static_cast<const charEnt*>(nullptr), c);
        continue;
      }
      c = ' ';
    }
    charEnt* e = findChar(c);
    if (!e || e->base_offset == 0) {
      RenderGlyph(c);
      e = findChar(c);  // the list may have grown and moved
    }
    if (!e || e->base_offset <= 0) continue;
    onItem(static_cast<const charEnt*>(e), c);
  }
}

int PIX_CachedFont::MeasureGlyphs(const char* str, int strcnt, RECT* rect, unsigned int dtFlags) {
  const bool vertical = (m_flags & PIX_FONT_FLAG_VERTICAL) != 0;
  int x = 0, y = 0, maxW = 0, maxH = 0;
  WalkText(str, strcnt, dtFlags, [&](const charEnt* e, unsigned short) {
    if (!e) {
      if (vertical)
        x += m_line_height, y = 0;
      else
        y += m_line_height, x = 0;
      return;
    }
    if (vertical) {
      maxH = std::max({maxH, y + e->height, y + e->advance});
      maxW = std::max(maxW, x + e->width);
      y += e->advance;
    } else {
      maxW = std::max({maxW, x + e->width, x + e->advance});
      maxH = std::max(maxH, y + e->height);
      x += e->advance;
    }
  });
  if (rect) {
    rect->right = rect->left + maxW;
    rect->bottom = rect->top + maxH;
  }
  return vertical ? maxW : maxH;
}

int PIX_CachedFont::DrawGlyphs(PIX_IBitmap* bm, const char* str, int strcnt, RECT* rect, unsigned int dtFlags) {
  if (!bm || !bm->getBits() || bm->getWidth() < 1 || bm->getHeight() < 1) return 0;
  const bool vertical = (m_flags & PIX_FONT_FLAG_VERTICAL) != 0;
  const bool bottomUp = (m_flags & (PIX_FONT_FLAG_VERTICAL | PIX_FONT_FLAG_VERTICAL_BOTTOMUP)) ==
                        (PIX_FONT_FLAG_VERTICAL | PIX_FONT_FLAG_VERTICAL_BOTTOMUP);
  RECT whole{0, 0, bm->getWidth(), bm->getHeight()};
  if (!rect) rect = &whole;
  int x, y;
  const unsigned int measureFlags = (dtFlags & (PIX_DT_FORCECACHED | DT_SINGLELINE)) | DT_CALCRECT;
  if (!(dtFlags & (DT_VCENTER | DT_CENTER | DT_BOTTOM | DT_RIGHT))) {
    x = rect->left;
    y = rect->top;
    if (bottomUp) {
      RECT m{0, 0, 0, 0};
      MeasureGlyphs(str, strcnt, &m, measureFlags);
      y += m.bottom;
    }
  } else {
    RECT m{0, 0, 0, 0};
    MeasureGlyphs(str, strcnt, &m, measureFlags);
    const int w = m.right, h = m.bottom;
    x = (dtFlags & DT_CENTER)  ? rect->left + (rect->right - rect->left - w) / 2
        : (dtFlags & DT_RIGHT) ? rect->right - w
                               : rect->left;
    y = (dtFlags & DT_VCENTER)  ? rect->top + (rect->bottom - rect->top - h) / 2
        : (dtFlags & DT_BOTTOM) ? rect->bottom - h
                                : rect->top;
    if (bottomUp) y += h;
  }
  RECT clip;
  if (dtFlags & DT_NOCLIP) {
    clip = whole;
  } else {
    clip.left = std::max(static_cast<int>(rect->left), 0);
    clip.top = std::max(static_cast<int>(rect->top), 0);
    clip.right = std::min(static_cast<int>(rect->right), bm->getWidth());
    clip.bottom = std::min(static_cast<int>(rect->bottom), bm->getHeight());
    if (clip.right <= clip.left || clip.bottom <= clip.top) return 0;
  }
  const int startX = x, startY = y;
  int extentX = startX, extentY = startY;
  WalkText(str, strcnt, dtFlags, [&](const charEnt* e, unsigned short c) {
    if (!e) {
      if (vertical)
        x += m_line_height, y = startY;
      else
        y += m_line_height, x = startX;
      return;
    }
    // Only masks that lie wholly in the store are drawn.
    if (static_cast<long long>(e->base_offset) - 1 + static_cast<long long>(e->width) * e->height >
        m_cachestore.GetSize())
      return;
    if (bottomUp) y -= e->height;
    const int height = e->height, width = e->width, advance = e->advance;
    const bool drawn = DrawGlyph(bm, c, x, y, &clip);
    if (vertical) {
      y += bottomUp ? height - advance : advance;
      if (drawn) extentX = std::max(extentX, x + width);
    } else {
      x += advance;
      if (drawn) extentY = std::max(extentY, y + height);
    }
  });
  return vertical ? extentX - startX : extentY - startY;
}

int PIX_CachedFont::DrawTextNative(PIX_IBitmap* bm, const char* str, int strcnt, RECT* rect, unsigned int dtFlags) {
  RECT zero{0, 0, 0, 0};
  if (!rect) rect = &zero;
  HDC dc = bm ? bm->getDC() : nullptr;
  RECT drawRect;
  unsigned int useFlags;
  HGDIOBJ oldFont = nullptr;
  int boxX = 0, boxY = 0, boxW = 0, boxH = 0;
  const bool ownContext = dc != nullptr;
  if (ownContext) {
    oldFont = SelectObject(dc, m_font);
    drawRect = *rect;
    useFlags = dtFlags & ~PIX_DT_FORCECACHED;
  } else {
    if (!s_nativerender_tempbitmap) s_nativerender_tempbitmap = new PIX_SysBitmap(0, 0);
    if (s_nativerender_tempbitmap->getWidth() < 4 || s_nativerender_tempbitmap->getHeight() < 4)
      s_nativerender_tempbitmap->resize(std::max(s_nativerender_tempbitmap->getWidth(), 4),
                                        std::max(s_nativerender_tempbitmap->getHeight(), 4));
    dc = s_nativerender_tempbitmap->getDC();
    if (!dc) return 0;
    oldFont = SelectObject(dc, m_font);
    RECT m{0, 0, 0, 0};
    const int ret =
        SHIM_DrawText(dc, str, strcnt, &m, static_cast<int>((dtFlags & 0x7FFFFF48u) | DT_CALCRECT | DT_NOPREFIX));
    auto done = [&](int result) {
      if (oldFont) SelectObject(dc, oldFont);
      return result;
    };
    if (dtFlags & DT_CALCRECT) {
      rect->right = rect->left + m.right;
      rect->bottom = rect->top + m.bottom;
      return done(ret);
    }
    if (!bm) return done(ret);
    const int w = m.right, h = m.bottom;
    int x = (dtFlags & DT_RIGHT)    ? rect->right - w
            : (dtFlags & DT_CENTER) ? (rect->left + rect->right - w) / 2
                                    : rect->left;
    int y = (dtFlags & DT_BOTTOM)    ? rect->bottom - h
            : (dtFlags & DT_VCENTER) ? (rect->top + rect->bottom - h) / 2
                                     : rect->top;
    int x1 = std::min(x + w, bm->getWidth()), y1 = std::min(y + h, bm->getHeight());
    int limitX = 0, limitY = 0;
    if (!(dtFlags & DT_NOCLIP)) {
      x1 = std::min(x1, static_cast<int>(rect->right));
      y1 = std::min(y1, static_cast<int>(rect->bottom));
      limitX = std::max(static_cast<int>(rect->left), 0);
      limitY = std::max(static_cast<int>(rect->top), 0);
    }
    int shiftX = 0, shiftY = 0;
    if (x < limitX) shiftX = limitX - x, x = limitX;
    if (y < limitY) shiftY = limitY - y, y = limitY;
    if (x1 <= x || y1 <= y) return done(ret);
    boxX = x, boxY = y, boxW = x1 - x, boxH = y1 - y;
    if (s_nativerender_tempbitmap->getWidth() < boxW || s_nativerender_tempbitmap->getHeight() < boxH) {
      SelectObject(dc, oldFont ? oldFont : reinterpret_cast<HGDIOBJ>(3));
      s_nativerender_tempbitmap->resize(std::max(s_nativerender_tempbitmap->getWidth(), boxW),
                                        std::max(s_nativerender_tempbitmap->getHeight(), boxH));
      dc = s_nativerender_tempbitmap->getDC();
      if (!dc) return 0;
      oldFont = SelectObject(dc, m_font);
    }
    // Lay the text over the real background.
    PIX_Blit(s_nativerender_tempbitmap, bm, 0, 0, boxX, boxY, boxW, boxH, 1.0f, 0);
    drawRect = RECT{-shiftX, -shiftY, -shiftX + w, -shiftY + h};
    useFlags = dtFlags & 0x7FFFFEC9u;
  }
  ::SetTextColor(dc, rgbOf(m_fg));
  ::SetBkMode(dc, m_bgmode);
  if (m_bgmode == 1) ::SetBkColor(dc, rgbOf(m_bg));
  const int ret = SHIM_DrawText(dc, str, strcnt, &drawRect, static_cast<int>(useFlags | DT_NOPREFIX));
  if (ownContext) {
    if (dtFlags & DT_CALCRECT) *rect = drawRect;
  } else {
    PIX_Blit(bm, s_nativerender_tempbitmap, boxX, boxY, 0, 0, boxW, boxH, m_alpha, 0);
  }
  if (oldFont) SelectObject(dc, oldFont);
  return ret;
}

int PIX_CachedFont::DrawTextImpl(PIX_IBitmap* bm, const char* str, int strcnt, RECT* rect, unsigned int dtFlags) {
  if (!(dtFlags & DT_CALCRECT) && !bm) return 0;
  const bool native =
      ((m_flags & PIX_FONT_FLAG_NATIVE) && !(m_flags & 0x1F7) && dtFlags < PIX_DT_USEFGALPHA && m_font) ||
      m_line_height > 255;
  if (native) return DrawTextNative(bm, str, strcnt, rect, dtFlags);
  if (dtFlags & DT_CALCRECT) return MeasureGlyphs(str, strcnt, rect, dtFlags);
  const float savedAlpha = m_alpha;
  if (dtFlags & PIX_DT_USEFGALPHA) m_alpha *= static_cast<float>(m_fg & 0xFF) / 255.0f;
  int ret = 0;
  if (m_alpha != 0.0f) ret = DrawGlyphs(bm, str, strcnt, rect, dtFlags);
  m_alpha = savedAlpha;
  return ret;
}

int PIX_CachedFont::DrawText(PIX_IBitmap* bm, const char* str, int strcnt, RECT* rect, unsigned int dtFlags) {
  return DrawTextImpl(bm, str, strcnt, rect, dtFlags);
}
