// Writes a sheet of text samples (every alignment, several sizes, both rendering paths, the editor's monospace
// face and the default label face) to <build>/out/text/text-sheet.png for people to look at, and checks the
// properties that hold on every machine while doing so.
#include <gtest/gtest.h>
#include <png.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "KIT/pix/pix.h"
#include "KIT/shim/shim.h"
#include "tests/support/Pixels.h"

namespace {

const unsigned kPaper = PIX_RGBA(236, 236, 228, 255);
const unsigned kInk = PIX_RGBA(20, 24, 40, 255);
const unsigned kBox = PIX_RGBA(180, 60, 60, 255);

void outline(PIX_IBitmap& bm, const RECT& r, unsigned c) {
  PIX_FillRect(&bm, r.left - 1, r.top - 1, r.right - r.left + 2, 1, c, 1.0f, 0);
  PIX_FillRect(&bm, r.left - 1, r.bottom, r.right - r.left + 2, 1, c, 1.0f, 0);
  PIX_FillRect(&bm, r.left - 1, r.top, 1, r.bottom - r.top, c, 1.0f, 0);
  PIX_FillRect(&bm, r.right, r.top, 1, r.bottom - r.top, c, 1.0f, 0);
}

// True when every pixel that differs from the paper lies inside the rectangle.
bool inkInside(PIX_IBitmap& bm, const RECT& area, const RECT& r) {
  for (int y = area.top; y < area.bottom; ++y)
    for (int x = area.left; x < area.right; ++x)
      if (PIX_GetPixel(&bm, x, y) != kPaper && (x < r.left || x >= r.right || y < r.top || y >= r.bottom)) return false;
  return true;
}

std::string outDir() {
  const char* build = getenv("VEXMIR_BUILD_DIR");
  std::string dir = std::string(build ? build : ".") + "/out";
  mkdir(dir.c_str(), 0755);
  dir += "/text";
  mkdir(dir.c_str(), 0755);
  return dir;
}

TEST(TextSheet, EveryAlignmentSizePathAndFaceIsDrawnInsideItsBox) {
  PIX_SysBitmap sheet(1000, 760);
  PIX_FillRect(&sheet, 0, 0, 1000, 760, kPaper, 1.0f, 0);

  struct Style {
    const char* face;
    int flags;
    const char* label;
  };
  const Style styles[] = {{"NK57 Monospace", 0, "mono glyph"},
                          {"NK57 Monospace", PIX_FONT_FLAG_NATIVE, "mono native"},
                          {"", 0, "label glyph"},
                          {"", PIX_FONT_FLAG_NATIVE, "label native"}};
  const unsigned aligns[9] = {0,
                              DT_CENTER,
                              DT_RIGHT,
                              DT_VCENTER,
                              DT_VCENTER | DT_CENTER,
                              DT_VCENTER | DT_RIGHT,
                              DT_BOTTOM,
                              DT_BOTTOM | DT_CENTER,
                              DT_BOTTOM | DT_RIGHT};
  // Caption font.
  PIX_CachedFont caption;
  caption.SetFromHFont(CreateFont(12, 0, 0, 0, 700, 0, 0, 0, 0, 0, 0, 4, 0, ""), PIX_FONT_FLAG_OWNS_HFONT);
  caption.SetTextColor(kInk);

  // Left half: the nine alignments in 3 x 3 boxes for each style, at 14 pixels.
  int y0 = 10;
  for (const Style& st : styles) {
    PIX_CachedFont f;
    f.SetFromHFont(CreateFont(14, 0, 0, 0, 400, 0, 0, 0, 0, 0, 0, 4, 0, st.face), st.flags | PIX_FONT_FLAG_OWNS_HFONT);
    f.SetTextColor(kInk);
    RECT cap{10, y0, 480, y0 + 16};
    caption.DrawText(&sheet, st.label, -1, &cap, 0);
    for (int i = 0; i < 9; ++i) {
      RECT box{10 + (i % 3) * 156, y0 + 18 + (i / 3) * 52, 10 + (i % 3) * 156 + 148, y0 + 18 + (i / 3) * 52 + 46};
      RECT area{box.left - 1, box.top - 1, box.right + 1, box.bottom + 1};
      RECT r = box;
      f.DrawText(&sheet, "Cutoff &Res 64", -1, &r, aligns[i]);
      EXPECT_TRUE(inkInside(sheet, area, box)) << st.label << " " << aligns[i];
      outline(sheet, box, kBox);
    }
    y0 += 18 + 3 * 52 + 12;
  }

  // Right half: sizes 9 to 40 on both paths and faces, with a multi-line sample and effects.
  int y = 10;
  const int sizes[] = {9, 11, 14, 18, 24, 32, 40};
  for (int size : sizes) {
    int x = 500;
    for (const Style& st : styles) {
      if (x > 500 + 3 * 120) break;
      PIX_CachedFont f;
      f.SetFromHFont(CreateFont(size, 0, 0, 0, 400, 0, 0, 0, 0, 0, 0, 4, 0, st.face),
                     st.flags | PIX_FONT_FLAG_OWNS_HFONT);
      f.SetTextColor(kInk);
      RECT r{x, y, x + 118, y + size + 12};
      f.DrawText(&sheet, size < 20 ? "Arp Gate" : "Arp", -1, &r, 0);
      x += 120;
    }
    y += size + 14;
  }
  {
    PIX_CachedFont f;
    f.SetFromHFont(CreateFont(16, 0, 0, 0, 700, 1, 0, 0, 0, 0, 0, 4, 0, "NK57 Monospace"), PIX_FONT_FLAG_OWNS_HFONT);
    f.SetTextColor(kInk);
    RECT r{500, y, 990, y + 60};
    f.DrawText(&sheet, "Bold italic mono\nsecond line: \xC3\xA9\xE2\x82\xAC\xC2\xB0 \xF0\x9F\x8E\xB9 (4-byte = space)",
               -1, &r, 0);
    y += 60;
  }
  const int effects[] = {PIX_FONT_FLAG_FXMONO, PIX_FONT_FLAG_FXSHADOW, PIX_FONT_FLAG_FXOUTLINE, PIX_FONT_FLAG_FXBLUR};
  const char* effectNames[] = {"mono", "shadow", "outline", "blur"};
  for (int i = 0; i < 4; ++i) {
    PIX_CachedFont f;
    f.SetFromHFont(CreateFont(22, 0, 0, 0, 700, 0, 0, 0, 0, 0, 0, 4, 0, ""), effects[i] | PIX_FONT_FLAG_OWNS_HFONT);
    f.SetTextColor(kInk);
    f.SetEffectColor(PIX_RGBA(120, 160, 255, 255));
    RECT r{500 + (i % 2) * 245, y + (i / 2) * 34, 740 + (i % 2) * 245, y + (i / 2) * 34 + 32};
    f.DrawText(&sheet, effectNames[i], -1, &r, 0);
  }
  y += 72;
  {
    PIX_CachedFont v;
    v.SetFromHFont(CreateFont(16, 0, 0, 0, 400, 0, 0, 0, 0, 0, 0, 4, 0, "NK57 Monospace"),
                   PIX_FONT_FLAG_VERTICAL | PIX_FONT_FLAG_OWNS_HFONT);
    v.SetTextColor(kInk);
    RECT r{500, y, 530, 750};
    v.DrawText(&sheet, "VERTICAL", -1, &r, 0);
    // White on a dark bar through the window layer itself, opaque background.
    HDC dc = sheet.getDC();
    HFONT font = CreateFont(18, 0, 0, 0, 400, 0, 0, 0, 0, 0, 0, 4, 0, "NK57 Monospace");
    HGDIOBJ old = SelectObject(dc, font);
    SetTextColor(dc, 0xFFFFFF);
    SetBkMode(dc, OPAQUE);
    SetBkColor(dc, 0x203040);
    RECT t{560, y, 990, y + 40};
    SHIM_DrawText(dc, "SHIM_DrawText opaque, centred", -1, &t, DT_CENTER | DT_VCENTER);
    SelectObject(dc, old);
    DeleteObject(font);
  }

  const std::string path = outDir() + "/text-sheet.png";
  ASSERT_TRUE(rastertest::writeFile(path, rastertest::encodeBitmap(pixels::opaque(&sheet).get()))) << path;
  printf("text sheet: %s\n", path.c_str());
}

}  // namespace
