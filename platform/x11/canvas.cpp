#include "platform/x11/canvas.h"

#include <algorithm>

namespace x11 {

namespace gfx = platform::gfx;
namespace text = platform::text;

std::u32string textOf(const std::string& utf8) {
  std::u32string out;
  if (text::decodeUtf8(utf8.data(), utf8.size(), out)) return out;
  out.clear();
  for (unsigned char ch : utf8) out += static_cast<char32_t>(ch);
  return out;
}

float textWidth(const text::FontRef& font, const std::u32string& s) {
  return font ? text::layoutLine(font, s.data(), s.size()).width : 0;
}

float textWidth(const text::FontRef& font, const std::string& s) {
  return textWidth(font, textOf(s));
}

float baselineIn(const text::FontRef& font, float top, float height) {
  const float ascent = font ? font->metrics().ascent : 10, descent = font ? font->metrics().descent : 3;
  return top + (height + ascent - descent) / 2;
}

bool Canvas::begin(int w, int h, int rgb) {
  w_ = std::max(1, w);
  h_ = std::max(1, h);
  pixels_.assign(static_cast<size_t>(w_) * h_ * 4, 0xFF);
  ctx_.reset(gfx::Context::createOverMemory(pixels_.data(), w_, h_, w_ * 4));
  if (!ctx_) return false;
  ctx_->translate(0, static_cast<float>(h_));
  ctx_->scale(1, -1);
  fill(0, 0, static_cast<float>(w_), static_cast<float>(h_), rgb);
  return true;
}

void Canvas::fill(float x, float y, float w, float h, int rgb) {
  ctx_->setFillColor(gfx::colorFromRGB(rgb));
  ctx_->fillRect({x, y, w, h});
}

void Canvas::frame(float x, float y, float w, float h, int rgb) {
  ctx_->setStrokeColor(gfx::colorFromRGB(rgb));
  ctx_->strokeRect({x + 0.5f, y + 0.5f, w - 1, h - 1}, 1);
}

float Canvas::text(const text::FontRef& font, const std::string& s, float x, float y, int rgb, float maxWidth,
                   bool keepEnd) {
  return text(font, textOf(s), x, y, rgb, maxWidth, keepEnd);
}

float Canvas::text(const text::FontRef& font, std::u32string t, float x, float y, int rgb, float maxWidth,
                   bool keepEnd) {
  if (!font) return 0;
  if (maxWidth > 0 && textWidth(font, t) > maxWidth) {
    // Halving the cut keeps a name of thousands of characters cheap to fit.
    size_t lo = 0, hi = t.size();
    auto cut = [&](size_t keep) {
      return keepEnd ? U"\u2026" + t.substr(t.size() - keep) : t.substr(0, keep) + U"\u2026";
    };
    while (lo < hi) {
      const size_t mid = (lo + hi + 1) / 2;
      if (textWidth(font, cut(mid)) <= maxWidth)
        lo = mid;
      else
        hi = mid - 1;
    }
    t = cut(lo);
  }
  const text::LineLayout line = text::layoutLine(font, t.data(), t.size());
  text::drawLine(*ctx_, line, x, y, gfx::colorFromRGB(rgb));
  return line.width;
}

void Canvas::button(const text::FontRef& font, const std::string& title, float x, float y, float w, float h,
                    bool isDefault, bool enabled) {
  fill(x, y, w, h, isDefault && enabled ? 0x3D6FC8 : 0xFFFFFF);
  frame(x, y, w, h, isDefault && enabled ? 0x2B55A3 : 0x9A9A9A);
  const int rgb = !enabled ? 0xA0A0A0 : isDefault ? 0xFFFFFF : 0x1E1E1E;
  const float tw = std::min(textWidth(font, title), w - 8);
  text(font, title, x + (w - tw) / 2, baselineIn(font, y, h), rgb, w - 8);
}

std::vector<std::u32string> wrapText(const text::FontRef& font, const std::string& s, float width) {
  std::vector<std::u32string> lines;
  const std::u32string all = textOf(s);
  if (all.empty()) return lines;
  size_t start = 0;
  while (start <= all.size()) {
    const size_t newline = std::min(all.find(U'\n', start), all.size());
    std::u32string rest = all.substr(start, newline - start);
    do {
      // The longest head that fits, ended at its last blank when it has one.
      size_t fit = rest.size();
      if (textWidth(font, rest) > width) {
        size_t lo = 1, hi = rest.size();
        while (lo < hi) {
          const size_t mid = (lo + hi + 1) / 2;
          if (textWidth(font, rest.substr(0, mid)) <= width)
            lo = mid;
          else
            hi = mid - 1;
        }
        fit = lo;
        const size_t blank = rest.rfind(U' ', fit);
        if (blank != std::u32string::npos && blank > 0) fit = blank;
      }
      std::u32string head = rest.substr(0, fit);
      rest.erase(0, fit);
      while (!rest.empty() && rest[0] == U' ') rest.erase(0, 1);
      lines.push_back(std::move(head));
    } while (!rest.empty());
    start = newline + 1;
  }
  return lines;
}

}  // namespace x11
