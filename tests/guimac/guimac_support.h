// Helpers shared by the macOS editor tests: PNG images for bundles and key presses on the window model.
#pragma once

#include <gtest/gtest.h>
#include <png.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/cocoa/carbon.h"
#include "tests/raster/png_util.h"

namespace guimactest {

using Pixel = std::function<void(int x, int y, uint8_t* rgba)>;

// A w x h RGBA image whose pixels pixel() fills, written to path.
inline void writePng(const std::string& path, int w, int h, const Pixel& pixel) {
  rastertest::PngImage image;
  image.width = w, image.height = h, image.colorType = PNG_COLOR_TYPE_RGBA;
  for (int y = 0; y < h; ++y) {
    std::vector<uint8_t> row(static_cast<size_t>(w) * 4);
    for (int x = 0; x < w; ++x) pixel(x, y, &row[x * 4]);
    image.rows.push_back(row);
  }
  ASSERT_TRUE(rastertest::writePngFile(path, image)) << path;
}

// A raw key-down of character c (and virtual key code) sent to whatever holds the keyboard focus.
inline carbon::OSStatus pressKey(char c, carbon::UInt32 code = 0) {
  carbon::EventRef e;
  carbon::CreateEvent(nullptr, carbon::kEventClassKeyboard, carbon::kEventRawKeyDown, 0, 0, &e);
  carbon::SetEventParameter(e, carbon::kEventParamKeyMacCharCodes, carbon::typeChar, 1, &c);
  carbon::SetEventParameter(e, carbon::kEventParamKeyCode, carbon::typeUInt32, sizeof code, &code);
  const carbon::OSStatus r = carbon::SendEventToEventTarget(e, carbon::GetUserFocusEventTarget());
  carbon::ReleaseEvent(e);
  return r;
}

}  // namespace guimactest
