// Golden-picture comparison of the librarian tests.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

#include "KIT/pix/pix.h"
#include "tests/libui/libui_support.h"
#include "tests/raster/png_util.h"

namespace libui {

static std::string goldenPath(const std::string& name) {
  const char* root = std::getenv("VEXMIR_SOURCE_DIR");
  return std::string(root ? root : ".") + "/tests/golden/libui/" + name + ".png";
}

void expectPictureMatches(PIX_IBitmap* drawn, const std::string& name) {
  PIX_MemBitmap frame(drawn->getWidth(), drawn->getHeight());
  PIX_Blit(&frame, drawn, 0, 0, 0, 0, drawn->getWidth(), drawn->getHeight(), 1.0f, PIX_BLIT_MODE_COPY);
  PIX_ClearRect(&frame, 0, 0, frame.getWidth(), frame.getHeight(), 0xFFFFFF00u, 0xFFu);
  const std::string path = goldenPath(name);
  const char* update = std::getenv("VEXMIR_UPDATE_GOLDEN");
  if (update && *update == '1') {
    ASSERT_TRUE(rastertest::writeFile(path, rastertest::encodeBitmap(&frame))) << path;
    return;
  }
  std::unique_ptr<PIX_IBitmap> golden(PIX_LoadPNG(path.c_str()));
  ASSERT_NE(golden, nullptr) << "missing golden picture " << path;
  ASSERT_EQ(golden->getWidth(), frame.getWidth());
  ASSERT_EQ(golden->getHeight(), frame.getHeight());
  int differing = 0;
  for (int y = 0; y < frame.getHeight(); ++y)
    for (int x = 0; x < frame.getWidth(); ++x)
      differing += PIX_GetPixel(&frame, x, y) != PIX_GetPixel(golden.get(), x, y);
  if (differing) rastertest::writeFile(name + ".actual.png", rastertest::encodeBitmap(&frame));
  EXPECT_EQ(differing, 0) << name << ": " << differing << " pixels differ";
}

}  // namespace libui
