// Comparison of drawn sheets with the pictures kept under tests/golden/raster/. A failing comparison writes
// <name>.actual.png and <name>.diff.png beside the golden picture. With VEXMIR_UPDATE_GOLDEN=1 the sheets are
// written as the new golden pictures instead.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "tests/raster/png_util.h"
#include "tests/raster/raster_util.h"

namespace rastertest {

inline std::string goldenPath(const std::string& name) {
  const char* root = getenv("VEXMIR_SOURCE_DIR");
  return std::string(root ? root : ".") + "/tests/golden/raster/" + name;
}

inline void expectMatchesGolden(PIX_IBitmap* sheet, const std::string& name) {
  const std::string path = goldenPath(name + ".png");
  const char* update = getenv("VEXMIR_UPDATE_GOLDEN");
  if (update && *update == '1') {
    ASSERT_TRUE(writeFile(path, encodeBitmap(sheet))) << path;
    return;
  }
  std::unique_ptr<PIX_IBitmap> golden(PIX_LoadPNG(path.c_str()));
  ASSERT_NE(golden, nullptr) << "missing golden picture " << path;
  int differing = 0;
  const int w = sheet->getWidth(), h = sheet->getHeight();
  GuardedBitmap diff(w, h);
  const bool sameSize = golden->getWidth() == w && golden->getHeight() == h;
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++) {
      const PIX_pixel a = PIX_GetPixel(sheet, x, y), b = sameSize ? PIX_GetPixel(golden.get(), x, y) : ~a;
      diff.at(x, y) = a == b ? (0xFF | ((a >> 2) & 0x3F3F3F00)) : PIX_RGBA(255, 0, 255, 255);
      differing += a != b;
    }
  if (differing) {
    writeFile(goldenPath(name + ".actual.png"), encodeBitmap(sheet));
    writeFile(goldenPath(name + ".diff.png"), encodeBitmap(&diff));
  }
  EXPECT_EQ(differing, 0) << name << ": " << differing << " pixels differ" << (sameSize ? "" : " (sizes differ)")
                          << "; see " << goldenPath(name + ".actual.png") << " and .diff.png";
}

}  // namespace rastertest
