// One text-drawing case built from arbitrary bytes: shared by the seeded random test and the libFuzzer target.
// Draws and measures the bytes as text through the window layer and through the cached font (both paths, random
// font flags) and reports whether any pixel changed outside the rectangle when clipping was asked for.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "KIT/pix/pix.h"
#include "KIT/shim/shim.h"

namespace textfuzz {

struct Reader {
  const uint8_t* p;
  size_t n;
  uint8_t byte() {
    if (!n) return 0;
    --n;
    return *p++;
  }
  int word() { return byte() | (byte() << 8); }
};

// Changed pixels (any byte but the first) outside r, within a w x h buffer of `span` pixels per row.
inline int strayPixels(const uint8_t* px, int w, int h, int span, const RECT& r) {
  int stray = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const uint8_t* p = px + (static_cast<size_t>(y) * span + x) * 4;
      if ((p[1] | p[2] | p[3]) && (x < r.left || x >= r.right || y < r.top || y >= r.bottom)) ++stray;
    }
  return stray;
}

// Returns the number of stray pixels found (0 when all is well).
inline int runCase(const uint8_t* data, size_t size) {
  Reader in{data, size};
  const int dtFlags = in.word() & 0x1FF;
  const int fontFlags = in.word() & 0x7FF;
  const unsigned pixFlags = (in.byte() & 3u) << 30;
  // Up to 48 pixels either way, which already overflows the 64 x 48 block: every font set up renders all its
  // glyphs, and larger sizes only cost time.
  const int fontSize = static_cast<int8_t>(in.byte()) % 49;
  const int quality = in.byte() % 6;
  const int bkMode = in.byte() & 1;
  RECT rect{static_cast<int8_t>(in.byte()), static_cast<int8_t>(in.byte()), static_cast<int8_t>(in.byte()),
            static_cast<int8_t>(in.byte())};
  const uint8_t lengthMode = in.byte();
  // The text sits in a block of exactly its own size: no terminator unless the length says "to the zero".
  std::vector<char> body(in.p, in.p + in.n);
  const bool toZero = lengthMode & 1;
  if (toZero) body.push_back(0);
  std::unique_ptr<char[]> text(new char[body.size() ? body.size() : 1]);
  if (!body.empty()) std::memcpy(text.get(), body.data(), body.size());
  const int length = toZero ? -1 : static_cast<int>(in.n);

  int stray = 0;
  const int W = 64, H = 48;
  // A rectangle given right to left or bottom to top clips like its normalised form (the platform's clipping
  // standardises rectangles); the raster library's own clip finds it empty, which lies inside that.
  const RECT clip{std::max(0, static_cast<int>(std::min(rect.left, rect.right))),
                  std::max(0, static_cast<int>(std::min(rect.top, rect.bottom))),
                  std::min(W, static_cast<int>(std::max(rect.left, rect.right))),
                  std::min(H, static_cast<int>(std::max(rect.top, rect.bottom)))};
  const char* faces[] = {"NK57 Monospace", ""};
  HFONT font = CreateFont(fontSize, 0, 0, 0, (lengthMode & 2) ? 700 : 400, lengthMode & 4, 0, 0, 0, 0, 0,
                          static_cast<char>(quality), 0, faces[(lengthMode >> 3) & 1]);

  // Window layer.
  HDC dc = SHIM_CreateMemContext(nullptr, W, H);
  if (dc) {
    HGDIOBJ old = SelectObject(dc, font);
    SetTextColor(dc, 0xFFFFFF);
    SetBkMode(dc, bkMode);
    SetBkColor(dc, 0xFFFFFF);
    RECT m = rect;
    SHIM_DrawText(dc, text.get(), length, &m, dtFlags | DT_CALCRECT);
    RECT r = rect;
    SHIM_DrawText(dc, text.get(), length, &r, dtFlags & ~DT_CALCRECT);
    if (!(dtFlags & DT_NOCLIP))
      stray += strayPixels(static_cast<const uint8_t*>(SHIM_GetCtxFrameBuffer(dc)), W, H, W, clip);
    SelectObject(dc, old);
    SHIM_DeleteGfxContext(dc);
  }

  // Cached font, into a heap bitmap and into a system bitmap.
  PIX_CachedFont f;
  f.SetFromHFont(font, fontFlags | PIX_FONT_FLAG_OWNS_HFONT);
  f.SetTextColor(0xFFFFFFFF);
  f.SetBkColor(0xFFFFFFFF);
  f.SetEffectColor(0xFFFFFFFF);
  f.SetBkMode(bkMode);
  PIX_MemBitmap mem(W, H);
  PIX_SysBitmap sys(W, H);
  for (PIX_IBitmap* bm : {static_cast<PIX_IBitmap*>(&mem), static_cast<PIX_IBitmap*>(&sys)}) {
    if (!bm->getBits()) continue;
    PIX_FillRect(bm, 0, 0, W, H, 0, 1.0f, 0);
    RECT m = rect;
    f.DrawText(nullptr, text.get(), length, &m, static_cast<unsigned>(dtFlags | DT_CALCRECT) | pixFlags);
    RECT r = rect;
    f.DrawText(bm, text.get(), length, &r, static_cast<unsigned>(dtFlags & ~DT_CALCRECT) | pixFlags);
    if (!(dtFlags & DT_NOCLIP))
      stray += strayPixels(reinterpret_cast<const uint8_t*>(bm->getBits()), W, H, bm->getRowSpan(), clip);
  }
  return stray;
}

}  // namespace textfuzz
