// Contexts, fonts and text used from two threads at once, each with its own context: the pools, the font-name
// cache and the glyph cache are shared. Built once more with ThreadSanitizer by hand (-DVEXMIR_TSAN=ON).
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "KIT/shim/shim-gdi-internal.h"
#include "KIT/shim/shim.h"

namespace {

// Draws a fixed set of texts into a fresh context and returns its pixels.
std::vector<uint8_t> drawSample(int round) {
  const int w = 160, h = 48;
  HDC dc = SHIM_CreateMemContext(nullptr, w, h);
  std::vector<uint8_t> out;
  if (!dc) return out;
  const char* faces[] = {"NK57 Monospace", "", "Consolas", "Monaco"};
  HFONT font = CreateFont(12 + round % 4, 0, 0, 0, round % 2 ? 700 : 400, 0, 0, 0, 0, 0, 0, round % 3 ? 4 : 3, 0,
                          faces[round % 4]);
  HGDIOBJ old = SelectObject(dc, font);
  // Stock objects are shared by every thread.
  HGDIOBJ oldPen = SelectObject(dc, GetStockObject(NULL_PEN));
  HGDIOBJ oldBrush = SelectObject(dc, GetStockObject(NULL_BRUSH));
  const POINT tri[3] = {{0, 0}, {10, 0}, {0, 10}};
  SHIM_Polygon(dc, tri, 3);
  SHIM_CloneGDIObject(GetStockObject(NULL_PEN));
  SetTextColor(dc, 0xFFFFFF);
  SetBkMode(dc, round % 2);
  SetBkColor(dc, 0x102030);
  RECT r{2, 2, w - 2, h - 2};
  SHIM_DrawText(dc, "Osc 1 Wave\nFilter Cutoff", -1, &r, DT_CENTER);
  TEXTMETRIC tm;
  GetTextMetrics(dc, &tm);
  const auto* fb = static_cast<const uint8_t*>(SHIM_GetCtxFrameBuffer(dc));
  out.assign(fb, fb + static_cast<size_t>(w) * h * 4);
  SelectObject(dc, old);
  SelectObject(dc, oldPen);
  SelectObject(dc, oldBrush);
  DeleteObject(font);
  SHIM_DeleteGfxContext(dc);
  return out;
}

TEST(TextThreads, TwoThreadsDrawingIntoTheirOwnContextsGetTheSamePixelsAsOne) {
  const int rounds = 40;
  std::vector<std::vector<uint8_t>> expected;
  for (int i = 0; i < 8; ++i) expected.push_back(drawSample(i));
  std::vector<int> mismatches(2, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < 2; ++t)
    threads.emplace_back([t, &expected, &mismatches] {
      for (int i = 0; i < rounds; ++i) {
        const int round = (i + t * 3) % 8;
        if (drawSample(round) != expected[round]) ++mismatches[t];
      }
    });
  for (std::thread& th : threads) th.join();
  EXPECT_EQ(mismatches[0], 0);
  EXPECT_EQ(mismatches[1], 0);
}

TEST(TextThreads, NewFaceNamesResolvedFromTwoThreadsAtOnce) {
  // Both threads convert the same fresh names: the later insertion replaces the earlier cached value while the
  // other thread may be using it.
  std::vector<std::thread> threads;
  std::vector<std::string> names[2];
  for (int t = 0; t < 2; ++t)
    threads.emplace_back([t, &names] {
      for (int i = 0; i < 30; ++i) {
        const std::string face = "Thread Race Face " + std::to_string(i);
        HFONT f = CreateFont(10, 0, 0, 0, 400, 0, 0, 0, 0, 0, 0, 0, 0, face.c_str());
        names[t].push_back(f->font->postScriptName());
        DeleteObject(f);
      }
    });
  for (std::thread& th : threads) th.join();
  EXPECT_EQ(names[0], names[1]);
  EXPECT_EQ(names[0][0], "DejaVuSans");
}

}  // namespace
