// Bitmap objects from PNG files and image lists.
#include <gtest/gtest.h>
#include <png.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "KIT/shim/shim-gdi-internal.h"
#include "KIT/shim/shim.h"
#include "tests/raster/png_util.h"

namespace {

// Writes a 2 x 2 picture (red, magenta / green, translucent blue) in the given colour type.
std::string writeSample(int colorType, const char* name) {
  const std::string path = std::string(testing::TempDir()) + "/" + name + "-" + std::to_string(getpid()) + ".png";
  rastertest::PngImage image;
  image.width = 2, image.height = 2, image.colorType = colorType;
  if (colorType == PNG_COLOR_TYPE_PALETTE) image.palette = {{255, 0, 0}, {255, 0, 255}, {0, 255, 0}, {0, 0, 255}};
  const uint8_t rgba[2][8] = {{255, 0, 0, 255, 255, 0, 255, 255}, {0, 255, 0, 255, 0, 0, 255, 128}};
  for (int y = 0; y < 2; ++y) {
    std::vector<uint8_t> row;
    for (int x = 0; x < 2; ++x) {
      const uint8_t* p = &rgba[y][x * 4];
      if (colorType == PNG_COLOR_TYPE_RGBA) row.insert(row.end(), p, p + 4);
      if (colorType == PNG_COLOR_TYPE_RGB) row.insert(row.end(), p, p + 3);
      if (colorType == PNG_COLOR_TYPE_PALETTE) row.push_back(static_cast<uint8_t>(y * 2 + x));
    }
    image.rows.push_back(row);
  }
  return rastertest::writePngFile(path, image) ? path : "";
}

const uint8_t* pixelOf(HGDIOBJ bm, int x, int y) {
  return &bm->image->pixels[(y * bm->image->width + x) * 4];
}

TEST(NamedImages, PngFilesOfEveryColourTypeLoadAsAlphaRedGreenBlue) {
  for (int type : {PNG_COLOR_TYPE_RGBA, PNG_COLOR_TYPE_RGB, PNG_COLOR_TYPE_PALETTE}) {
    const std::string path = writeSample(type, "sample");
    HBITMAP bm = LoadNamedImage(path.c_str(), false);
    ASSERT_TRUE(bm) << type;
    BITMAP info;
    ASSERT_EQ(GetObject(bm, sizeof(info), &info), 1);
    EXPECT_EQ(info.bmWidth, 2);
    EXPECT_EQ(info.bmHeight, 2);
    const uint8_t* red = pixelOf(bm, 0, 0);
    EXPECT_EQ(red[0], 255);
    EXPECT_EQ(red[1], 255);
    EXPECT_EQ(red[2], 0);
    const uint8_t* blue = pixelOf(bm, 1, 1);
    EXPECT_EQ(blue[3], 255);
    EXPECT_EQ(blue[0], type == PNG_COLOR_TYPE_RGBA ? 128 : 255);
    DeleteObject(bm);
    unlink(path.c_str());
  }
}

TEST(NamedImages, MagentaBecomesTransparentOnRequestAndDrawsNothing) {
  const std::string path = writeSample(PNG_COLOR_TYPE_RGB, "magenta");
  HBITMAP keep = LoadNamedImage(path.c_str(), false);
  HBITMAP clear = LoadNamedImage(path.c_str(), true);
  ASSERT_TRUE(keep && clear);
  EXPECT_EQ(pixelOf(keep, 1, 0)[0], 255);
  EXPECT_EQ(pixelOf(clear, 1, 0)[0], 0);
  EXPECT_EQ(pixelOf(clear, 0, 0)[0], 255);
  HDC dc = SHIM_CreateMemContext(nullptr, 2, 2);
  RECT r{0, 0, 2, 2};
  DrawImageInRect(dc, clear, &r);
  const auto* fb = static_cast<const uint8_t*>(SHIM_GetCtxFrameBuffer(dc));
  EXPECT_EQ(fb[1], 255);      // red, top left, upright
  EXPECT_EQ(fb[4 + 1], 0);    // magenta cleared: nothing drawn
  EXPECT_EQ(fb[8 + 2], 255);  // green, bottom left
  SHIM_DeleteGfxContext(dc);
  DeleteObject(keep);
  DeleteObject(clear);
  unlink(path.c_str());
}

TEST(NamedImages, MissingMalformedAndBareNamesGiveNull) {
  EXPECT_EQ(LoadNamedImage(nullptr, false), nullptr);
  EXPECT_EQ(LoadNamedImage("knob", false), nullptr);
  EXPECT_EQ(LoadNamedImage("/no/such/file.png", false), nullptr);
  const std::string path = std::string(testing::TempDir()) + "/broken-" + std::to_string(getpid()) + ".png";
  FILE* f = fopen(path.c_str(), "wb");
  const unsigned char head[] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 13, 'I', 'H', 'D', 'R', 0, 0};
  fwrite(head, 1, sizeof(head), f);
  fclose(f);
  EXPECT_EQ(LoadNamedImage(path.c_str(), false), nullptr);
  unlink(path.c_str());
}

TEST(ImageLists, RemovingLeavesAHoleAndReplacingOutsideAppends) {
  uint32_t px = 0xFF0000FF;
  HBITMAP icon = CreateBitmap(1, 1, 1, 32, &px);
  HIMAGELIST list = ImageList_CreateEx();
  EXPECT_EQ(ImageList_ReplaceIcon(list, -1, icon), 0);
  EXPECT_EQ(ImageList_ReplaceIcon(list, 7, icon), 1);
  EXPECT_EQ(ImageList_ReplaceIcon(list, -1, icon), 2);
  EXPECT_EQ(ImageList_ReplaceIcon(nullptr, 0, icon), -1);
  EXPECT_EQ(ImageList_ReplaceIcon(list, 0, reinterpret_cast<HGDIOBJ>(2)), -1);
  EXPECT_EQ(ImageList_ReplaceIcon(list, 0, icon), 0);  // replaces, deleting the old entry
  EXPECT_EQ(ImageList_GetImageCount(list), 3);
  EXPECT_TRUE(ImageList_Remove(list, 1));
  EXPECT_EQ(ImageList_GetImageCount(list), 3);
  EXPECT_EQ(ImageList_GetImage(list, 1), nullptr);
  EXPECT_EQ(ImageList_ReplaceIcon(list, -1, icon), 3);
  EXPECT_FALSE(ImageList_Remove(list, 4));
  EXPECT_FALSE(ImageList_Remove(nullptr, 0));
  DeleteObject(icon);  // the list's entries keep the image alive
  EXPECT_EQ(ImageList_GetImage(list, 3)->image->pixels[0], 0xFF);
  EXPECT_TRUE(ImageList_Remove(list, -1));
  EXPECT_EQ(ImageList_GetImageCount(list), 0);
  ImageList_Destroy(list);
  ImageList_Destroy(nullptr);
}

}  // namespace
