// What the presenter's own windows (menus, file panels, alerts) draw with: a pixel buffer of the window's size in
// the drawing contexts' layout, with y down from the top left, and the label font's text in it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/graphics/graphics.h"
#include "platform/text/text.h"

namespace x11 {

// UTF-8 as characters; text that is not UTF-8 (a file name in another encoding) is taken byte by byte.
std::u32string textOf(const std::string& utf8);

class Canvas {
 public:
  // A buffer of w x h pixels filled with the colour (0xRRGGBB); false when no context could be made.
  bool begin(int w, int h, int rgb);
  int width() const { return w_; }
  int height() const { return h_; }
  const uint8_t* pixels() const { return pixels_.data(); }

  void fill(float x, float y, float w, float h, int rgb);
  void frame(float x, float y, float w, float h, int rgb);
  // The text with its baseline at y; returns its width. Text wider than maxWidth (when > 0) is cut at its end with
  // an ellipsis, or at its start when `keepEnd` (a path whose last folders matter most).
  float text(const platform::text::FontRef& font, const std::string& s, float x, float y, int rgb, float maxWidth = 0,
             bool keepEnd = false);
  float text(const platform::text::FontRef& font, std::u32string t, float x, float y, int rgb, float maxWidth = 0,
             bool keepEnd = false);
  // A push button: its title centred, the default button filled.
  void button(const platform::text::FontRef& font, const std::string& title, float x, float y, float w, float h,
              bool isDefault, bool enabled = true);

 private:
  int w_ = 0, h_ = 0;
  std::vector<uint8_t> pixels_;
  std::unique_ptr<platform::gfx::Context> ctx_;
};

float textWidth(const platform::text::FontRef& font, const std::u32string& s);
float textWidth(const platform::text::FontRef& font, const std::string& s);
// The text's baseline for a row of the given top and height.
float baselineIn(const platform::text::FontRef& font, float top, float height);
// The text broken into lines no wider than `width`, at blanks where it can and inside words that are too long.
std::vector<std::u32string> wrapText(const platform::text::FontRef& font, const std::string& s, float width);

}  // namespace x11
