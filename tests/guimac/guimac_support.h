// Helpers shared by the macOS editor tests: PNG images for bundles and key presses on the window model.
#pragma once

#include <gtest/gtest.h>
#include <png.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <cstdlib>
#include <fstream>

#include "platform/cocoa/carbon.h"
#include "tests/host/run_host.h"
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

inline void set(uint8_t* p, int r, int g, int b, int a = 255) {
  p[0] = static_cast<uint8_t>(r);
  p[1] = static_cast<uint8_t>(g);
  p[2] = static_cast<uint8_t>(b);
  p[3] = static_cast<uint8_t>(a);
}

// The bundle of the GUI test plug-in (tests/guimac/editor_test_plugin.cpp) at `library`: the library, its
// identifier and images drawn here.
inline std::string makeGuiTestBundle(const ScratchDir& dir, const std::string& library) {
  const std::string bundle = dir.file("Vexmir GUI Test.vst");
  const std::string img = bundle + "/Contents/Resources/resources/img";
  EXPECT_EQ(std::system(("mkdir -p '" + bundle + "/Contents/Linux' '" + img + "'").c_str()), 0);
  EXPECT_EQ(std::system(("cp '" + library + "' '" + bundle + "/Contents/Linux/Vexmir GUI Test.so'").c_str()), 0);
  std::ofstream(bundle + "/Contents/Info.plist")
      << "<?xml version=\"1.0\"?>\n<plist version=\"1.0\"><dict>\n<key>CFBundleIdentifier</key>"
         "<string>org.vexmir.guitest</string>\n</dict></plist>\n";
  writePng(img + "/bg.png", 400, 300, [](int x, int y, uint8_t* p) {
    const bool border = x < 4 || y < 4 || x >= 396 || y >= 296;
    if (border) return set(p, 200, 190, 170);
    set(p, 30 + y / 4, 40 + y / 5, 60 + x / 8);
  });
  writePng(img + "/knob.png", 48, 48 * 128, [](int x, int y, uint8_t* p) {
    const int k = y / 48, fy = y % 48;
    const int dx = x - 24, dy = fy - 24;
    if (dx * dx + dy * dy > 22 * 22) return set(p, 0, 0, 0, 0);
    set(p, 70, 70, 80);
    if (fy >= 36 && fy < 42 && x >= 6 && x < 6 + 36 * k / 127) set(p, 240, 160, 40);
  });
  writePng(img + "/switch.png", 40, 24 * 5, [](int x, int y, uint8_t* p) {
    static const int colors[5][3] = {{60, 60, 60}, {40, 120, 200}, {40, 200, 120}, {220, 200, 40}, {220, 60, 40}};
    const int k = y / 24, fy = y % 24;
    const bool edge = x == 0 || x == 39 || fy == 0 || fy == 23;
    if (edge) return set(p, 20, 20, 20);
    set(p, colors[k][0], colors[k][1], colors[k][2]);
  });
  writePng(img + "/radio.png", 24, 48, [](int x, int y, uint8_t* p) {
    const bool on = y >= 24;
    const int dx = x - 12, dy = y % 24 - 12;
    if (dx * dx + dy * dy > 10 * 10) return set(p, 0, 0, 0, 0);
    on ? set(p, 60, 230, 90) : set(p, 50, 60, 50);
  });
  writePng(img + "/handle.png", 20, 10, [](int x, int y, uint8_t* p) {
    (y == 4 || y == 5) && x > 1 && x < 18 ? set(p, 20, 20, 20) : set(p, 235, 235, 225);
  });
  return bundle;
}

}  // namespace guimactest
